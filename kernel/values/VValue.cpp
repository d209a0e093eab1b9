// Base of every typed value: flags, hooks and the defaults of the value operations.
#include "kernel/values/VValue.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VValueInfo.h"

namespace velk {

namespace {

// Descriptors by registry kind. Registration happens from static initialisers and exit-time destructors,
// lookups from anywhere: readers share the lock.
class VValueInfoRegistry
{
public:
	void Register(const VValueInfo* info)
	{
		std::unique_lock lock(fMutex);
		fInfos[info->GetRegistryKind()] = info;
	}

	void Unregister(ValueKind registryKind)
	{
		std::unique_lock lock(fMutex);
		fInfos.erase(registryKind);
	}

	const VValueInfo* Find(ValueKind kind) const
	{
		std::shared_lock lock(fMutex);
		const auto found = fInfos.find(kind);
		return found != fInfos.end() ? found->second : nullptr;
	}

private:
	mutable std::shared_mutex fMutex;
	std::map<ValueKind, const VValueInfo*> fInfos;
};

// Never destroyed: static descriptors of other files unregister from their destructors at exit, in an
// order nobody controls, and must still find it.
VValueInfoRegistry& sInfos()
{
	static VValueInfoRegistry* const sRegistry = new VValueInfoRegistry();
	return *sRegistry;
}

}  // namespace

void VValue::RegisterValueInfo(const VValueInfo* info)
{
	if (info != nullptr)
		sInfos().Register(info);
}

void VValue::UnregisterValueInfo(const VValueInfo* info)
{
	if (info != nullptr)
		sInfos().Unregister(info->GetRegistryKind());
}

const VValueInfo* VValue::ValueInfoFromValueKind(ValueKind kind)
{
	return sInfos().Find(kind);
}

VValue* VValue::NewValueFromValueKind(ValueKind kind)
{
	const VValueInfo* info = ValueInfoFromValueKind(kind);
	return info != nullptr ? info->Generate() : nullptr;
}

void VValue::SetNull(bool null)
{
	if (IsNull() == null)
		return;
	fFlags = null ? uint8(fFlags | kFLAG_NULL) : uint8(fFlags & ~kFLAG_NULL);
	DoNullChanged();
	// The hook may have touched the flags: the null state asked for wins.
	fFlags = null ? uint8(fFlags | kFLAG_NULL) : uint8(fFlags & ~kFLAG_NULL);
	if ((fFlags & kFLAG_DIRTY) == 0)
	{
		fFlags |= kFLAG_DIRTY;
		DoDirtyChanged();
	}
}

void VValue::SetDirty(bool dirty)
{
	if (IsDirty() == dirty)
		return;
	fFlags = dirty ? uint8(fFlags | kFLAG_DIRTY) : uint8(fFlags & ~kFLAG_DIRTY);
	DoDirtyChanged();
}

CompareResult VValue::InvertCompResult(CompareResult result)
{
	if (result == CR_SMALLER)
		return CR_BIGGER;
	if (result == CR_BIGGER)
		return CR_SMALLER;
	return result;
}

const VValueInfo* VValue::GetValueInfo() const
{
	static const VValueInfo_default<VEmpty, VK_UNDEFINED> sDefaultInfo;
	return &sDefaultInfo;
}

VError VValue::FromJSONString(const VString&, uint32)
{
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

VError VValue::GetJSONString(VString&, uint32) const
{
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

VError VValue::FromJSONValue(const VJSONValue&)
{
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

VError VValue::GetJSONValue(VJSONValue& json, uint32) const
{
	json.SetUndefined();
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

CompareResult VValue::CompareToSameKindWithOptions(const VValue*, const VCompareOptions&) const
{
	return CR_EQUAL;
}

bool VValue::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
	return CompareToSameKindWithOptions(other, options) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKindPtrWithOptions(const void*, const VCompareOptions&) const
{
	return CR_EQUAL;
}

bool VValue::EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	return CompareToSameKindPtrWithOptions(other, options) == CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	return InvertCompResult(CompareToSameKindPtrWithOptions(other, options));
}

CompareResult VValue::CompareToSameKind(const VValue*, bool) const
{
	return CR_EQUAL;
}

CompareResult VValue::CompareBeginingToSameKind(const VValue* other, bool diacritical) const
{
	return CompareToSameKind(other, diacritical);
}

bool VValue::EqualToSameKind(const VValue* other, bool diacritical) const
{
	return CompareToSameKind(other, diacritical) == CR_EQUAL;
}

bool VValue::FromValueSameKind(const VValue*)
{
	return false;
}

CompareResult VValue::CompareToSameKindPtr(const void*, bool) const
{
	return CR_EQUAL;
}

CompareResult VValue::Swap_CompareToSameKindPtr(const void* other, bool diacritical) const
{
	return InvertCompResult(CompareToSameKindPtr(other, diacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr(const void* other, bool diacritical) const
{
	return CompareToSameKindPtr(other, diacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr(const void* other, bool diacritical) const
{
	return CompareToSameKindPtr(other, diacritical);
}

bool VValue::EqualToSameKindPtr(const void* other, bool diacritical) const
{
	return CompareToSameKindPtr(other, diacritical) == CR_EQUAL;
}

CompareResult VValue::CompareToSameKind_Like(const VValue* other, bool diacritical) const
{
	return CompareToSameKind(other, diacritical);
}

CompareResult VValue::CompareBeginingToSameKind_Like(const VValue* other, bool diacritical) const
{
	return CompareBeginingToSameKind(other, diacritical);
}

bool VValue::EqualToSameKind_Like(const VValue* other, bool diacritical) const
{
	return EqualToSameKind(other, diacritical);
}

CompareResult VValue::CompareToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return CompareToSameKindPtr(other, diacritical);
}

CompareResult VValue::Swap_CompareToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return InvertCompResult(CompareToSameKindPtr(other, diacritical));
}

CompareResult VValue::CompareBeginingToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return CompareBeginingToSameKindPtr(other, diacritical);
}

CompareResult VValue::IsTheBeginingToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return IsTheBeginingToSameKindPtr(other, diacritical);
}

bool VValue::EqualToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return EqualToSameKindPtr(other, diacritical);
}

bool VValue::Swap_EqualToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return EqualToSameKindPtr(other, diacritical);
}

const void* VValue::LoadFromPtr(const void* data, uint8)
{
	return data;
}

const void* VValue::LoadFromPtrBounded(const void* data, uint64, uint8)
{
	return data;
}

void* VValue::WriteToPtr(void* data, uint8, uint64) const
{
	return data;
}

uint64 VValue::GetSpace(uint64&, uint64) const
{
	return 0;
}

uint64 VValue::GetFullSpaceOnDisk(uint64& ioExtra) const
{
	return GetSpace(ioExtra, 0);
}

VError VValue::ReadFromStream(VStream*, int32)
{
	return VE_UNIMPLEMENTED;
}

VError VValue::WriteToStream(VStream*, int32) const
{
	return VE_UNIMPLEMENTED;
}

uint64 VValue::GetStreamSpace() const
{
	uint64 extra = 0;
	return GetSpace(extra, 0);
}

VError VValue::Flush(void*, void*) const
{
	return VE_OK;
}

void VValue::SetReservedBlobNumber(int32) {}

VValue* VValue::FullyClone(bool) const
{
	return Clone();
}

void VValue::RestoreFromPop(void*) {}

void VValue::Detach(uint8) {}

void VValue::SetOutsidePath(const VString&, bool) {}

void VValue::GetOutsidePath(VString&, bool*) {}

void VValue::SetOutsideSuffixe(const VString&) {}

void VValue::SetForcePathIfEmpty(bool) {}

void VValue::SetHintRecNum(int32, int32, int32, bool) {}

void VValue::AssociateRecord(void*, int32) {}

VError VValue::ReadRawFromStream(VStream* stream, int32 param)
{
	return ReadFromStream(stream, param);
}

}  // namespace velk
