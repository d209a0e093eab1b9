// The value bag: attributes over the packed dictionary, element lists, copies.
#include "containers/VValueBag.h"

#include <cstring>
#include <new>
#include <vector>

#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "runtime/VError.h"
#include "runtime/VProcess.h"
#include "runtime/VTaskMgr.h"

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

// Scalars stored flat as their own kind are read and replaced in the store itself, without a value object:
// the bulk of bag traffic is numbers and flags read and set by static keys.
template <class D>
bool ReadStored(const VValueBag::VPackedAttributes& attributes, VValueBag::VPackedAttributes::const_iterator slot, ValueKind kind, D& out)
{
	const void* data = attributes._GetStoredData(slot, kind);
	if (data == nullptr)
		return false;
	std::memcpy(&out, data, sizeof(out));
	return true;
}

}  // namespace

bool VValueBag::_IsStorableKey(const StPackedDictionaryKey& key)
{
	return !key.IsEmpty() && key.GetKeyLength() <= StPackedDictionaryKey::kMAX_KEY_LENGTH;
}

bool VValueBag::_MemoryFull()
{
	return _Failed(VE_MEMORY_FULL);
}

bool VValueBag::_Failed(VError error)
{
	_ThrowError(error);
	return false;
}

bool VValueBag::_IsStackLow()
{
	return VTaskMgr::Get()->GetCurrentFreeStackSize() < kMIN_FREE_STACK;
}

VValueBag::VValueBag() = default;

VValueBag::VValueBag(const VValueBag& other)
	: VValue(other), IRefCountable(), fAttributes(other.fAttributes)
{
	fFlags |= kFLAG_DIRTY;
	if (!fAttributes.IsComplete())
		fCopyError = VE_MEMORY_FULL;
	else if (other.fElements == nullptr)
		return;
	// Each level of the tree copies the next one: the copy ends where the stack would.
	else if (_IsStackLow())
		fCopyError = VE_STACK_OVERFLOW;
	else if ((fElements = new (std::nothrow) VPackedElements(*other.fElements)) == nullptr)
		fCopyError = VE_MEMORY_FULL;
	else
		fCopyError = fElements->GetCopyError();
}

VValueBag::~VValueBag()
{
	_DeleteElements(fElements);
}

void VValueBag::_DeleteElements(VPackedElements* elements)
{
	std::vector<VPackedElements*> pending;
	while (elements != nullptr)
	{
		// A list or a bag counted once is held by the dictionary being deleted alone: it dies with it, and
		// nothing else can reach it meanwhile. Its bags' dictionaries wait in the list, so each bag dies
		// without elements and the loop, not the stack, goes down the tree.
		for (const VPackedValue_VBagArray& slot : *elements)
		{
			const VBagArray* list = slot.fValue;
			if (list == nullptr || list->GetRefCount() != 1)
				continue;
			for (int32 pos = 1; pos <= list->GetCount(); ++pos)
			{
				VValueBag* bag = list->_GetNth(pos);
				if (bag == nullptr || bag->fElements == nullptr || bag->GetRefCount() != 1)
					continue;
				try
				{
					pending.push_back(bag->fElements);
				}
				catch (const std::bad_alloc&)
				{
					// That bag frees its own tree as it dies.
					continue;
				}
				bag->fElements = nullptr;
			}
		}
		delete elements;
		elements = nullptr;
		if (!pending.empty())
		{
			elements = pending.back();
			pending.pop_back();
		}
	}
}

VValue* VValueBag::Clone() const
{
	VError failure = VE_OK;
	VValueBag* copy = _CopyBag(&failure);
	if (copy == nullptr)
		_Failed(failure);
	return copy;
}

VValueBag* VValueBag::_CopyBag(VError* failure) const
{
	VValueBag* copy = new (std::nothrow) VValueBag(*this);
	const VError error = copy != nullptr ? copy->fCopyError : VE_MEMORY_FULL;
	if (error == VE_OK)
		return copy;
	if (copy != nullptr)
		copy->Release();
	if (failure != nullptr)
		*failure = error;
	return nullptr;
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
	if (!_IsStorableKey(key))
		return false;
	// The key was storable and, when found, is still there: a refusal can only come from memory.
	VPackedAttributes::FreeEntry free;
	const auto found = fAttributes._Find(key, &free);
	if (found != fAttributes.end())
		return fAttributes._SetValueAt(found, value) || _MemoryFull();
	// Appending moves the slots: end() is taken after it.
	const auto slot = fAttributes.Append(key, value, free);
	return slot != fAttributes.end() || _MemoryFull();
}

template <class D, class V>
bool VValueBag::_SetScalar(const StPackedDictionaryKey& key, ValueKind kind, D value)
{
	if (!_IsStorableKey(key))
		return false;
	VPackedAttributes::FreeEntry free;
	const auto slot = fAttributes._Find(key, &free);
	if (slot != fAttributes.end())
	{
		if (void* data = fAttributes._GetStoredData(slot, kind))
		{
			std::memcpy(data, &value, sizeof(value));
			return true;
		}
		return fAttributes._SetValueAt(slot, V(value)) || _MemoryFull();
	}
	// Appending moves the slots: end() is taken after it.
	const auto appended = fAttributes._AppendFlat(key, kind, &value, sizeof(value), free);
	return appended != fAttributes.end() || _MemoryFull();
}

bool VValueBag::SetBool(const StPackedDictionaryKey& key, bool value)
{
	return _SetScalar<uint8, VBoolean>(key, VK_BOOLEAN, uint8(value ? 1 : 0));
}

bool VValueBag::SetLong8(const StPackedDictionaryKey& key, int64 value)
{
	return _SetScalar<int64, VLong8>(key, VK_LONG8, value);
}

bool VValueBag::SetReal(const StPackedDictionaryKey& key, double value)
{
	return _SetScalar<double, VReal>(key, VK_REAL, value);
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
	const auto slot = fAttributes._Find(key);
	if (slot == fAttributes.end())
		return false;
	uint8 stored = 0;
	if (ReadStored(fAttributes, slot, VK_BOOLEAN, stored))
	{
		out = stored != 0;
		return true;
	}
	VBoolean value;
	if (!fAttributes.GetValue(key, value))
		return false;
	out = value.GetBoolean();
	return true;
}

bool VValueBag::GetLong8(const StPackedDictionaryKey& key, int64& out) const
{
	const auto slot = fAttributes._Find(key);
	if (slot == fAttributes.end())
		return false;
	if (ReadStored(fAttributes, slot, VK_LONG8, out))
		return true;
	VLong8 value;
	if (!fAttributes.GetValue(key, value))
		return false;
	out = value.GetLong8();
	return true;
}

bool VValueBag::GetReal(const StPackedDictionaryKey& key, double& out) const
{
	const auto slot = fAttributes._Find(key);
	if (slot == fAttributes.end())
		return false;
	if (ReadStored(fAttributes, slot, VK_REAL, out))
		return true;
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

bool VValueBag::SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value)
{
	return _SetAttribute(key, value);
}

bool VValueBag::RemoveAttribute(const StPackedDictionaryKey& key)
{
	return fAttributes.Clear(key);
}

bool VValueBag::AppendToCData(const VString& text)
{
	const StPackedDictionaryKey& key = CDataAttributeName();
	VString cdata;
	// A value of another kind gives its text, which then replaces it as a string.
	if (fAttributes._Find(key) != fAttributes.end() && !fAttributes.GetValue(key, cdata))
		return false;
	const int32 before = cdata.GetLength();
	cdata.AppendUniChars(text.GetCPointer(), text.GetLength());
	// A string that could not grow has raised already.
	if (cdata.GetLength() != before + text.GetLength())
		return false;
	return _SetAttribute(key, cdata);
}

// ---------------------------------------------------------------------------------------------------------
// Whole bag

void VValueBag::Destroy()
{
	fAttributes.Destroy();
	VPackedElements* elements = fElements;
	fElements = nullptr;
	_DeleteElements(elements);
}

bool VValueBag::_EmptyForReuse()
{
	if (fElements != nullptr)
		return false;
	fAttributes._Empty();
	fCopyError = VE_OK;
	fFlags = kFLAG_DIRTY;
	return true;
}

CharSet VValueBag::DebugDump(char* buffer, int& length) const
{
	constexpr CharSet kUTF8 = 7;
	if (VProcess::sInstance == nullptr || buffer == nullptr || length <= 0)
	{
		length = 0;
		return kUTF8;
	}
	// Each child is dumped by its own call.
	if (_IsStackLow())
	{
		_Failed(VE_STACK_OVERFLOW);
		length = 0;
		return kUTF8;
	}
	VString dump;
	VString name;
	for (auto slot = fAttributes.begin(); slot != fAttributes.end(); ++slot)
	{
		size_t bytes = 0;
		const char* key = fAttributes._GetKeyBytes(*slot, bytes);
		name.FromBlock(key, bytes, kUTF8);
		dump.AppendPrintf("%S = %A\n", &name, fAttributes.GetValuePtr(slot));
	}
	for (int32 n = 1; n <= GetElementNamesCount(); ++n)
	{
		const VBagArray* list = GetNthElementName(n, &name);
		const int32 count = list != nullptr ? list->GetCount() : 0;
		dump.AppendPrintf("=======\n%d %S :\n", int(count), &name);
		for (int32 pos = 1; pos <= count; ++pos)
			dump.AppendPrintf("--\n%V", static_cast<const VObject*>(list->_GetNth(pos)));
	}
	length = int(dump.ToBlock(buffer, size_t(length), kUTF8, false, false));
	return kUTF8;
}

// ---------------------------------------------------------------------------------------------------------
// Merging

bool VValueBag::_CopyAttributesFrom(const VValueBag& other)
{
	// Setting a bag's attributes to their own values changes nothing.
	if (&other == this)
		return true;
	for (auto slot = other.fAttributes.begin(); slot != other.fAttributes.end(); ++slot)
	{
		size_t bytes = 0;
		const char* name = other.fAttributes._GetKeyBytes(*slot, bytes);
		const VValueSingle* value = other.fAttributes.GetValuePtr(slot);
		if (value == nullptr)
			return _MemoryFull();
		if (!_SetAttribute(StPackedDictionaryKey::Borrow(name, bytes), *value))
			return false;
	}
	return true;
}

bool VValueBag::_AddElementsFrom(const VValueBag& other, bool merge)
{
	if (other.fElements == nullptr)
		return true;
	// Everything is gathered before this bag changes: other may be this bag.
	struct Pending
	{
		StPackedDictionaryKey fKey;
		VValueBag* fMergeInto = nullptr;
		VValueBag* fMergeFrom = nullptr;
		std::vector<VValueBag*> fCopies;
	};
	std::vector<Pending> pending;
	bool gathered = true;
	VError failure = VE_MEMORY_FULL;
	try
	{
		pending.reserve(other.fElements->GetCount());
		for (const auto& slot : *other.fElements)
		{
			size_t bytes = 0;
			const char* name = other.fElements->_GetKeyBytes(slot, bytes);
			pending.push_back(Pending{StPackedDictionaryKey(name, bytes), nullptr, nullptr, {}});
			Pending& entry = pending.back();
			if (entry.fKey.GetKeyLength() != bytes)
			{
				gathered = false;
				break;
			}
			const VBagArray* theirs = slot.fValue;
			if (theirs == nullptr)
				continue;
			const VBagArray* mine = GetElements(entry.fKey);
			if (merge && theirs->GetCount() == 1 && mine != nullptr && mine->GetCount() == 1 && theirs->_GetNth(1) != nullptr && mine->_GetNth(1) != nullptr)
			{
				entry.fMergeInto = mine->_GetNth(1);
				entry.fMergeFrom = theirs->_GetNth(1);
				entry.fMergeInto->Retain();
				entry.fMergeFrom->Retain();
				continue;
			}
			entry.fCopies.reserve(size_t(theirs->GetCount()));
			for (int32 pos = 1; pos <= theirs->GetCount() && gathered; ++pos)
			{
				const VValueBag* bag = theirs->_GetNth(pos);
				if (bag == nullptr)
					continue;
				VValueBag* copy = bag->_CopyBag(&failure);
				if (copy == nullptr)
					gathered = false;
				else
					entry.fCopies.push_back(copy);
			}
			if (!gathered)
				break;
		}
	}
	catch (const std::bad_alloc&)
	{
		gathered = false;
		failure = VE_MEMORY_FULL;
	}
	if (!gathered)
		_Failed(failure);

	// A failure below has raised already.
	bool ok = gathered;
	for (Pending& entry : pending)
	{
		if (ok && entry.fMergeInto != nullptr)
			ok = entry.fMergeInto->Override(entry.fMergeFrom);
		for (VValueBag* copy : entry.fCopies)
		{
			if (ok)
				ok = AddElement(entry.fKey, copy);
			copy->Release();
		}
		if (entry.fMergeInto != nullptr)
		{
			entry.fMergeInto->Release();
			entry.fMergeFrom->Release();
		}
	}
	return ok;
}

bool VValueBag::UnionClone(const VValueBag* other)
{
	return other != nullptr && _CopyAttributesFrom(*other) && _AddElementsFrom(*other, false);
}

bool VValueBag::Override(const VValueBag* other)
{
	if (other == nullptr)
		return false;
	// Merged pairs are merged by the next level's call.
	if (_IsStackLow())
		return _Failed(VE_STACK_OVERFLOW);
	return _CopyAttributesFrom(*other) && _AddElementsFrom(*other, true);
}

}  // namespace velk
