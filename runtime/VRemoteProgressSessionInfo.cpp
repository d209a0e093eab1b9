#include "runtime/VRemoteProgressSessionInfo.h"

#include <new>

#include "containers/StBagKey.h"
#include "containers/VBagArray.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong.h"

namespace velk {

namespace {

const StBagKeyNoDefault<uint32, VLong> sKeyFlags("fFlags");
const StBagKeyNoDefault<int32, VLong> sKeySessionCount("fSessionCount");
const StBagKeyNoDefault<int32, VLong> sKeyChangesVersion("fChangesVersion");
const StBagKeyNoDefault<int32, VLong> sKeySessionVersion("fSessionVersion");
const StBagKeyNoDefault<int32, VLong> sKeyMasterSessionVersion("fMasterSessionVersion");
const StBagKeyNoDefault<int32, VLong> sKeyUserAbort("fUserAbort");
const StBagKeyNoDefault<bool, VBoolean> sKeyCanInterrupt("fCanInterrupt");
const StBagKeyNoDefault<uint32, VLong> sKeyUpdateFlags("fUpdateFlags");
const StPackedDictionaryKey kCurrentElement("fCurrent");
const StPackedDictionaryKey kSessionStackElement("fSessionStack");

VRefPtr<VValueBag> SessionBag(const VProgressIndicatorInfo& session)
{
	VRefPtr<VValueBag> bag(new (std::nothrow) VValueBag, true);
	if (bag.Get() != nullptr)
	{
		VString kind;
		session.SaveToBag(*bag.Get(), kind);
	}
	return bag;
}

}  // namespace

void VRemoteProgressSessionInfo::SaveToBag(VValueBag& bag, VString& kind) const
{
	kind = VString("DistantSessionInfo");
	uint32 flags = fFlags;
	if (Has(kCurrent))
		flags &= ~kSessionStack;
	sKeyFlags.Set(&bag, flags);
	if (Has(kSessionCount))
		sKeySessionCount.Set(&bag, fSessionCount);
	if (Has(kChangesVersion))
		sKeyChangesVersion.Set(&bag, fChangesVersion);
	if (Has(kSessionVersion))
		sKeySessionVersion.Set(&bag, fSessionVersion);
	if (Has(kMasterSessionVersion))
		sKeyMasterSessionVersion.Set(&bag, fMasterSessionVersion);
	if (Has(kUserAbort))
		sKeyUserAbort.Set(&bag, fUserAbort);
	if (Has(kCanInterrupt))
		sKeyCanInterrupt.Set(&bag, fCanInterrupt);
	if (Has(kCurrent))
	{
		VRefPtr<VValueBag> current = SessionBag(fCurrent);
		if (current.Get() != nullptr)
		{
			// Every part is written; the flags tell the reader which ones to take.
			sKeyUpdateFlags.Set(current.Get(), fCurrentFlags);
			bag.ReplaceElement(kCurrentElement, current.Get());
		}
	}
	else if (Has(kSessionStack))
	{
		for (const VProgressIndicatorInfo& session : fSessionStack)
		{
			VRefPtr<VValueBag> element = SessionBag(session);
			if (element.Get() != nullptr)
				bag.AddElement(kSessionStackElement, element.Get());
		}
	}
}

void VRemoteProgressSessionInfo::LoadFromBag(const VValueBag& bag)
{
	Reset();
	sKeyFlags.Get(&bag, fFlags);
	if (Has(kSessionCount))
		sKeySessionCount.Get(&bag, fSessionCount);
	if (Has(kChangesVersion))
		sKeyChangesVersion.Get(&bag, fChangesVersion);
	if (Has(kSessionVersion))
		sKeySessionVersion.Get(&bag, fSessionVersion);
	if (Has(kMasterSessionVersion))
		sKeyMasterSessionVersion.Get(&bag, fMasterSessionVersion);
	if (Has(kUserAbort))
		sKeyUserAbort.Get(&bag, fUserAbort);
	if (Has(kCanInterrupt))
		sKeyCanInterrupt.Get(&bag, fCanInterrupt);
	if (Has(kCurrent))
	{
		VBagArray* list = bag.GetElements(kCurrentElement);
		if (list != nullptr && list->GetCount() > 0)
		{
			fCurrent.LoadFromBag(*list->_GetNth(1));
			fCurrentFlags = VProgressIndicatorInfo::kUpdateAll;
			sKeyUpdateFlags.Get(list->_GetNth(1), fCurrentFlags);
		}
		else
		{
			fFlags &= ~kCurrent;
		}
	}
	if (Has(kSessionStack))
	{
		VBagArray* list = bag.GetElements(kSessionStackElement);
		for (int32 i = 1; list != nullptr && i <= list->GetCount(); ++i)
		{
			fSessionStack.emplace_back();
			fSessionStack.back().LoadFromBag(*list->_GetNth(i));
		}
	}
}

void VRemoteProgressSessionInfo::Reset()
{
	fFlags = 0;
	fSessionCount = 0;
	fChangesVersion = 0;
	fSessionVersion = 0;
	fMasterSessionVersion = 0;
	fUserAbort = 0;
	fCanInterrupt = false;
	fCurrent = VProgressIndicatorInfo();
	fCurrentFlags = 0;
	fSessionStack.clear();
}

}  // namespace velk
