// The value bag: attributes over the packed dictionary, element lists, copies.
#include "containers/VValueBag.h"

#include <new>

#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "runtime/VError.h"

namespace velk {

const VValueInfo_default<VValueBag, VK_BAG> VValueBag::sInfo;

namespace {

// Attributes the JSON form adds to mark objects and array items.
const StPackedDictionaryKey& ObjectMarkerKey()
{
	static const StPackedDictionaryKey sKey("____objectunic");
	return sKey;
}

const StPackedDictionaryKey& ArrayItemMarkerKey()
{
	static const StPackedDictionaryKey sKey("____property_name_in_jsarray");
	return sKey;
}

bool IsStorableKey(const StPackedDictionaryKey& key)
{
	return !key.IsEmpty() && key.GetKeyLength() <= StPackedDictionaryKey::kMAX_KEY_LENGTH;
}

// Raises velk 100 for a bag call that memory failed; answers the call's false.
bool MemoryFull()
{
	_ThrowError(VE_MEMORY_FULL);
	return false;
}

}  // namespace

VValueBag::VValueBag() = default;

VValueBag::VValueBag(const VValueBag& other)
	: VValue(other), IRefCountable(), fAttributes(other.fAttributes)
{
	fFlags |= kFLAG_DIRTY;
	fComplete = fAttributes.IsComplete();
	if (other.fElements != nullptr)
	{
		fElements = new (std::nothrow) VPackedElements(*other.fElements);
		if (fElements == nullptr || !fElements->IsComplete())
			fComplete = false;
	}
}

VValueBag::~VValueBag()
{
	delete fElements;
}

VValue* VValueBag::Clone() const
{
	VValueBag* copy = _CopyBag();
	if (copy == nullptr)
		MemoryFull();
	return copy;
}

VValueBag* VValueBag::_CopyBag() const
{
	VValueBag* copy = new (std::nothrow) VValueBag(*this);
	if (copy != nullptr && !copy->fComplete)
	{
		copy->Release();
		copy = nullptr;
	}
	return copy;
}

VError VValueBag::FromJSONValue(const VJSONValue&)
{
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

const StPackedDictionaryKey& VValueBag::CDataAttributeName()
{
	static const StPackedDictionaryKey sKey("<>");
	return sKey;
}

bool VValueBag::IsEmpty(bool ignoreJSONMarkers) const
{
	if (fElements != nullptr && !fElements->IsEmpty())
		return false;
	size_t ignored = 0;
	if (ignoreJSONMarkers)
	{
		if (fAttributes._Find(ObjectMarkerKey()) != fAttributes.end())
			++ignored;
		if (fAttributes._Find(ArrayItemMarkerKey()) != fAttributes.end())
			++ignored;
	}
	return fAttributes.GetCount() == ignored;
}

// ---------------------------------------------------------------------------------------------------------
// Attributes

bool VValueBag::_SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value)
{
	if (!IsStorableKey(key))
		return false;
	// The key was storable and, when found, is still there: a refusal can only come from memory.
	VPackedAttributes::FreeEntry free;
	if (fAttributes._Find(key, &free) != fAttributes.end())
		return fAttributes.SetExistingValue(key, value) || MemoryFull();
	// Appending moves the slots: end() is taken after it.
	const auto slot = fAttributes.Append(key, value, free);
	return slot != fAttributes.end() || MemoryFull();
}

bool VValueBag::SetBool(const StPackedDictionaryKey& key, bool value)
{
	return _SetAttribute(key, VBoolean(uint8(value ? 1 : 0)));
}

bool VValueBag::SetLong8(const StPackedDictionaryKey& key, int64 value)
{
	return _SetAttribute(key, VLong8(value));
}

bool VValueBag::SetReal(const StPackedDictionaryKey& key, double value)
{
	return _SetAttribute(key, VReal(value));
}

bool VValueBag::SetString(const StPackedDictionaryKey& key, const VString& value)
{
	return _SetAttribute(key, value);
}

bool VValueBag::SetTime(const StPackedDictionaryKey& key, const VValue& value)
{
	const VValueSingle* single = value.IsVValueSingle();
	return single != nullptr && _SetAttribute(key, *single);
}

const VValueSingle* VValueBag::GetAttribute(const StPackedDictionaryKey& key) const
{
	const auto slot = fAttributes._Find(key);
	return slot != fAttributes.end() ? fAttributes.GetValuePtr(slot) : nullptr;
}

bool VValueBag::GetAttribute(const StPackedDictionaryKey& key, VValueSingle& out) const
{
	return fAttributes.GetValue(key, out);
}

bool VValueBag::GetString(const StPackedDictionaryKey& key, VString& out) const
{
	return fAttributes.GetValue(key, out);
}

bool VValueBag::GetBool(const StPackedDictionaryKey& key, bool& out) const
{
	VBoolean value;
	if (!fAttributes.GetValue(key, value))
		return false;
	out = value.GetBoolean();
	return true;
}

bool VValueBag::GetLong8(const StPackedDictionaryKey& key, int64& out) const
{
	VLong8 value;
	if (!fAttributes.GetValue(key, value))
		return false;
	out = value.GetLong8();
	return true;
}

bool VValueBag::GetReal(const StPackedDictionaryKey& key, double& out) const
{
	VReal value;
	if (!fAttributes.GetValue(key, value))
		return false;
	out = value.GetReal();
	return true;
}

bool VValueBag::GetTime(const StPackedDictionaryKey& key, VTime& out) const
{
	return fAttributes.GetValue(key, out);
}

// ---------------------------------------------------------------------------------------------------------
// Elements

bool VValueBag::AddElement(const StPackedDictionaryKey& key, VValueBag* bag)
{
	if (bag == nullptr || !IsStorableKey(key))
		return false;
	if (fElements == nullptr)
	{
		fElements = new (std::nothrow) VPackedElements();
		if (fElements == nullptr)
			return MemoryFull();
	}
	if (VBagArray* list = fElements->GetValue(key))
		return list->AddTail(bag) || MemoryFull();

	// The list is filled before it is stored so that a failure leaves no empty name behind.
	VBagArray* list = new (std::nothrow) VBagArray();
	const bool added = list != nullptr && list->AddTail(bag) && fElements->SetValue(key, list);
	if (list != nullptr)
		list->Release();
	if (!added && fElements->IsEmpty())
	{
		// Made for this call: the bag goes back to having none.
		delete fElements;
		fElements = nullptr;
	}
	return added || MemoryFull();
}

VBagArray* VValueBag::GetElements(const StPackedDictionaryKey& key) const
{
	return fElements != nullptr ? fElements->GetValue(key) : nullptr;
}

}  // namespace velk
