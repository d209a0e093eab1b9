#include "runtime/VProgressIndicatorInfo.h"

#include <new>

#include "containers/StBagKey.h"
#include "containers/VBagArray.h"
#include "files/VSystem.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VTime.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

const StBagKeyNoDefault<uint32, VLong> sKeyUpdateFlags("fUpdateFlags");
const StBagKeyNoDefault<VString, VString> sKeyMessage("fMessage");
const StBagKeyNoDefault<int64, VLong8> sKeyValue("fValue");
const StBagKeyNoDefault<int64, VLong8> sKeyMax("fMax");
const StBagKeyNoDefault<uint32, VLong8> sKeyStartTime("fStartTime");
const StBagKeyNoDefault<bool, VBoolean> sKeyCanInterrupt("fCanInterrupt");
const StBagKeyNoDefault<int32, VLong> sKeyExtraInfoBagVersion("fExtraInfoBagVersion");
const StPackedDictionaryKey kExtraInfoElement("ExtraInfo");
const StPackedDictionaryKey kOldExtraInfoElement("Extra");

// The wall-clock date of a moment of the monotonic clock, ms milliseconds ago.
void DateOfStart(uint32 ago, VTime& date)
{
	VTime::Now(date);
	date.AddMilliseconds(-int64(ago));
}

}  // namespace

VProgressIndicatorInfo::VProgressIndicatorInfo() : fUUID(true), fStartTime(uint32(VSystem::GetCurrentTime()))
{
	if (VTask* task = VTask::GetCurrent())
		fTaskID = task->GetID();
}

VProgressIndicatorInfo::VProgressIndicatorInfo(const VProgressIndicatorInfo& other) : VObject()
{
	_CopyFrom(other);
}

VProgressIndicatorInfo& VProgressIndicatorInfo::operator=(const VProgressIndicatorInfo& other)
{
	if (this != &other)
		_CopyFrom(other);
	return *this;
}

VProgressIndicatorInfo::~VProgressIndicatorInfo()
{
	if (fExtraInfo != nullptr)
		fExtraInfo->Release();
}

void VProgressIndicatorInfo::_CopyFrom(const VProgressIndicatorInfo& other)
{
	fTaskID = other.fTaskID;
	fUUID = other.fUUID;
	fMessage = other.fMessage;
	fValue = other.fValue;
	fMax = other.fMax;
	fStartTime = other.fStartTime;
	fMetrics = other.fMetrics;
	fInterruptible = other.fInterruptible;
	fRemote = other.fRemote;
	_ReplaceExtraInfo(other.fExtraInfo);
	fExtraInfoVersion = other.fExtraInfoVersion;
	fCollector = other.fCollector;
	fSubOperations = other.fSubOperations;
}

void VProgressIndicatorInfo::_ReplaceExtraInfo(const VValueBag* bag)
{
	// A clone, so that a snapshot never shares a bag the worker goes on changing.
	VValueBag* copy = bag != nullptr ? new (std::nothrow) VValueBag(*bag) : nullptr;
	if (fExtraInfo != nullptr)
		fExtraInfo->Release();
	fExtraInfo = copy;
}

uint32 VProgressIndicatorInfo::GetDuration() const
{
	return uint32(VSystem::GetCurrentTime()) - fStartTime;
}

void VProgressIndicatorInfo::GetMessage(VString& message) const
{
	message = fMessage;
	if (fMessage.IsEmpty())
		return;
	VRefPtr<VValueBag> values(new (std::nothrow) VValueBag, true);
	if (values.Get() == nullptr)
		return;
	values->SetLong8(StPackedDictionaryKey("maxValue"), fMax);
	values->SetLong8(StPackedDictionaryKey("curValue"), fValue);
	int64 rate = fMax > 0 ? int64(double(fValue) / double(fMax) * 100.0) : 0;
	values->SetLong8(StPackedDictionaryKey("rateValue"), rate);
	uint32 duration = GetDuration();
	VTime start;
	DateOfStart(duration, start);
	VString startText;
	start.GetString(startText);
	values->SetString(StPackedDictionaryKey("startTime"), startText);
	values->SetLong8(StPackedDictionaryKey("duration"), int64(duration));
	message.Format(values.Get(), false);
}

void VProgressIndicatorInfo::SetAttribute(const VString& name, const VValueSingle& value)
{
	if (fExtraInfo == nullptr)
	{
		fExtraInfo = new (std::nothrow) VValueBag;
		if (fExtraInfo == nullptr)
			return;
	}
	fExtraInfo->SetAttribute(StPackedDictionaryKey(name), value);
	++fExtraInfoVersion;
}

void VProgressIndicatorInfo::RemoveAttribute(const VString& name)
{
	if (fExtraInfo == nullptr)
		return;
	fExtraInfo->RemoveAttribute(StPackedDictionaryKey(name));
	++fExtraInfoVersion;
}

uint32 VProgressIndicatorInfo::GetChangedParts(const VProgressIndicatorInfo& previous) const
{
	uint32 flags = 0;
	if (!fMessage.EqualToString(previous.fMessage, true))
		flags |= kUpdateMessage;
	if (fValue != previous.fValue)
		flags |= kUpdateValue;
	if (fMax != previous.fMax)
		flags |= kUpdateMax;
	if (fStartTime != previous.fStartTime)
		flags |= kUpdateStartTime;
	if (fInterruptible != previous.fInterruptible)
		flags |= kUpdateCanInterrupt;
	if (fExtraInfoVersion != previous.fExtraInfoVersion)
		flags |= kUpdateExtraInfoVersion | kUpdateExtraInfo;
	return flags;
}

void VProgressIndicatorInfo::SaveToBag(VValueBag& bag, VString& kind, const VProgressIndicatorInfo* previous) const
{
	kind = VString("VProgressIndicatorInfo");
	uint32 flags = previous != nullptr ? GetChangedParts(*previous) : kUpdateAll;
	bool all = (flags & kUpdateAll) != 0;
	sKeyUpdateFlags.Set(&bag, flags);
	if (all || (flags & kUpdateMessage) != 0)
		sKeyMessage.Set(&bag, fMessage);
	if (all || (flags & kUpdateValue) != 0)
		sKeyValue.Set(&bag, fValue);
	if (all || (flags & kUpdateMax) != 0)
		sKeyMax.Set(&bag, fMax);
	if (all || (flags & kUpdateStartTime) != 0)
		sKeyStartTime.Set(&bag, fStartTime);
	if (all || (flags & kUpdateCanInterrupt) != 0)
		sKeyCanInterrupt.Set(&bag, fInterruptible);
	if (all || (flags & kUpdateExtraInfoVersion) != 0)
		sKeyExtraInfoBagVersion.Set(&bag, fExtraInfoVersion);
	if ((all || (flags & kUpdateExtraInfo) != 0) && fExtraInfo != nullptr)
	{
		VRefPtr<VValueBag> copy(new (std::nothrow) VValueBag(*fExtraInfo), true);
		if (copy.Get() != nullptr)
			bag.ReplaceElement(kExtraInfoElement, copy.Get());
	}
}

void VProgressIndicatorInfo::LoadFromBag(const VValueBag& bag)
{
	uint32 flags = kUpdateAll;
	sKeyUpdateFlags.Get(&bag, flags);
	bool all = (flags & kUpdateAll) != 0;
	if (all || (flags & kUpdateMessage) != 0)
		sKeyMessage.Get(&bag, fMessage);
	if (all || (flags & kUpdateValue) != 0)
		sKeyValue.Get(&bag, fValue);
	if (all || (flags & kUpdateMax) != 0)
		sKeyMax.Get(&bag, fMax);
	if (all || (flags & kUpdateStartTime) != 0)
		sKeyStartTime.Get(&bag, fStartTime);
	if (all || (flags & kUpdateCanInterrupt) != 0)
		sKeyCanInterrupt.Get(&bag, fInterruptible);
	if (all || (flags & kUpdateExtraInfoVersion) != 0)
		sKeyExtraInfoBagVersion.Get(&bag, fExtraInfoVersion);
	if (all || (flags & kUpdateExtraInfo) != 0)
	{
		// Older writers named the element "Extra"; what SaveToBag writes is "ExtraInfo".
		VBagArray* list = bag.GetElements(kExtraInfoElement);
		if (list == nullptr || list->GetCount() == 0)
			list = bag.GetElements(kOldExtraInfoElement);
		if (list != nullptr && list->GetCount() > 0)
			_ReplaceExtraInfo(list->_GetNth(1));
	}
}

void VProgressIndicatorInfo::UpdateFromRemoteInfo(const VProgressIndicatorInfo& other, uint32 flags)
{
	if ((flags & kUpdateAll) != 0)
	{
		*this = other;
		return;
	}
	if ((flags & kUpdateMessage) != 0)
		fMessage = other.fMessage;
	if ((flags & kUpdateValue) != 0)
		fValue = other.fValue;
	if ((flags & kUpdateMax) != 0)
		fMax = other.fMax;
	if ((flags & kUpdateCanInterrupt) != 0)
		fInterruptible = other.fInterruptible;
	if ((flags & kUpdateExtraInfoVersion) != 0)
		fExtraInfoVersion = other.fExtraInfoVersion;
	if ((flags & kUpdateExtraInfo) != 0)
		_ReplaceExtraInfo(other.fExtraInfo);
}

void VProgressIndicatorInfo::GetJSONObject(VJSONObject& object) const
{
	object.Clear();
	object.SetProperty(VString("message"), VJSONValue(fMessage));
	object.SetProperty(VString("maxValue"), VJSONValue(double(fMax)));
	object.SetProperty(VString("currentValue"), VJSONValue(double(fValue)));
	VJSONValue flag;
	flag.SetBool(fInterruptible);
	object.SetProperty(VString("interruptible"), flag);
	flag.SetBool(fRemote);
	object.SetProperty(VString("remote"), flag);
	VString uuid;
	fUUID.GetString(uuid);
	object.SetProperty(VString("uuid"), VJSONValue(uuid));
	object.SetProperty(VString("taskId"), VJSONValue(double(fTaskID)));
	uint32 duration = GetDuration();
	VTime start;
	DateOfStart(duration, start);
	object.SetProperty(VString("startTime"), VJSONValue(start));
	object.SetProperty(VString("duration"), VJSONValue(double(duration)));
	if (fSubOperations.Get() != nullptr)
	{
		VJSONCloner cloner;
		VJSONValue clone;
		if (cloner.CloneObject(fSubOperations.Get(), clone) == VE_OK && clone.IsObject())
			object.MergeWith(clone.GetObject(), false);
	}
}

}  // namespace velk
