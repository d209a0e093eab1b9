// The attribute dictionary: values in flat form in a word store, value objects cached on demand.
#include "containers/VPackedDictionary_with_backstore.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <stdexcept>

#include "kernel/strings/VString.h"
#include "kernel/values/VValueInfo.h"

namespace velk {

namespace {

// Values are made with the plain operator new: a failure must not leave the toolbox as an exception.
VValueSingle* CloneSingle(const VValueSingle& value)
{
	VValue* clone = nullptr;
	try
	{
		clone = value.Clone();
	}
	catch (const std::bad_alloc&)
	{
		return nullptr;
	}
	VValueSingle* single = clone != nullptr ? clone->IsVValueSingle() : nullptr;
	if (single == nullptr)
		delete clone;
	return single;
}

VValueSingle* LoadSingle(const VValueInfo& info, const void* data, uint64 available)
{
	VValue* made = nullptr;
	try
	{
		made = info.LoadFromPtrBounded(data, available, false);
	}
	catch (const std::bad_alloc&)
	{
		return nullptr;
	}
	VValueSingle* single = made != nullptr ? made->IsVValueSingle() : nullptr;
	if (single == nullptr)
		delete made;
	return single;
}

}  // namespace

template <class SLOT>
VPackedDictionary_with_backstore<SLOT>::VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& other)
	: Base()
{
	*this = other;
}

template <class SLOT>
VPackedDictionary_with_backstore<SLOT>& VPackedDictionary_with_backstore<SLOT>::operator=(const VPackedDictionary_with_backstore& other)
{
	if (this == &other)
		return *this;

	fComplete = false;
	try
	{
		typename Base::SlotVector slots;
		std::vector<uint8> keys(other.fKeys);
		_VHashKeyMap index(other.fIndex);
		std::vector<uint16> backstore;
		std::vector<size_t> indexes;
		// A dirty source keeps newer values in its cached objects than in its store: they are packed here,
		// into the copy, so that copying stays a read of the source.
		if (other.fDirty)
		{
			if (!other._WritePacked(backstore, indexes))
				return *this;
		}
		else
		{
			backstore = other.fBackstore;
		}

		// Field by field rather than a copy of the vector: a reader of the source may be installing a
		// cached value meanwhile, and the copy takes none of those anyway.
		slots.resize(other.fSlots.size());
		for (size_t i = 0; i < slots.size(); ++i)
		{
			const SLOT& source = other.fSlots[i];
			slots[i].fKeyOffset = source.fKeyOffset;
			slots[i].fBackstoreIndex = other.fDirty ? indexes[i] : source.fBackstoreIndex;
			const VValueSingle* value = _CachedValue(source);
			if (value == nullptr || !_MustStayCached(*value))
				continue;
			slots[i].fValue = CloneSingle(*value);
			if (slots[i].fValue == nullptr)
			{
				for (SLOT& slot : slots)
					delete slot.fValue;
				return *this;
			}
		}

		_DeleteCachedValues();
		this->fKeys.swap(keys);
		this->fSlots.swap(slots);
		fBackstore.swap(backstore);
		this->fIndex = std::move(index);
		fDirty = false;
		fComplete = true;
	}
	catch (const std::bad_alloc&)
	{
		// Thrown before any value was cloned: nothing to free.
	}
	if (fComplete && this->fIndex.IsEmpty())
		this->_UpdateIndexForCount();
	return *this;
}

template <class SLOT>
VPackedDictionary_with_backstore<SLOT>::~VPackedDictionary_with_backstore()
{
	_DeleteCachedValues();
}

template <class SLOT>
VValueSingle* VPackedDictionary_with_backstore<SLOT>::_CachedValue(const SLOT& slot)
{
	static_assert(std::atomic_ref<VValueSingle*>::required_alignment <= alignof(VValueSingle*));
	return std::atomic_ref<VValueSingle*>(const_cast<VValueSingle*&>(slot.fValue)).load(std::memory_order_acquire);
}

template <class SLOT>
VValueSingle* VPackedDictionary_with_backstore<SLOT>::_InstallCachedValue(const SLOT& slot, VValueSingle* value)
{
	std::atomic_ref<VValueSingle*> cached(const_cast<VValueSingle*&>(slot.fValue));
	VValueSingle* installed = nullptr;
	if (cached.compare_exchange_strong(installed, value, std::memory_order_acq_rel, std::memory_order_acquire))
		return value;
	delete value;
	return installed;
}

template <class SLOT>
void VPackedDictionary_with_backstore<SLOT>::_DeleteCachedValues()
{
	for (SLOT& slot : this->fSlots)
	{
		delete slot.fValue;
		slot.fValue = nullptr;
	}
}

template <class SLOT>
void VPackedDictionary_with_backstore<SLOT>::Destroy()
{
	_DeleteCachedValues();
	this->_ClearBase();
	std::vector<uint16>().swap(fBackstore);
	fDirty = false;
}

template <class SLOT>
void VPackedDictionary_with_backstore<SLOT>::_Empty()
{
	_DeleteCachedValues();
	this->fKeys.clear();
	this->fSlots.clear();
	this->fIndex.Clear();
	fBackstore.clear();
	fDirty = false;
	fComplete = true;
}

// ---------------------------------------------------------------------------------------------------------
// Kinds and flat sizes

template <class SLOT>
ValueKind VPackedDictionary_with_backstore<SLOT>::GetKindOf(const VValueSingle& value)
{
	const VValueInfo* info = value.GetValueInfo();
	return info != nullptr ? info->GetKind() : VK_UNDEFINED;
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::CanRebuild(ValueKind kind)
{
	// The descriptor of no kind makes empty values: nothing stored under it could be read back.
	return kind != VK_UNDEFINED && VValue::ValueInfoFromValueKind(kind) != nullptr;
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::CanRebuildValue(const VValueSingle& value)
{
	const VValueInfo* info = value.GetValueInfo();
	if (info == nullptr || info->GetKind() == VK_UNDEFINED)
		return false;
	return info->GetRegistryKind() == info->GetKind() || CanRebuild(info->GetKind());
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::_MustStayCached(const VValueSingle& value)
{
	// The flat form has no null flag: a null read back from it would be a value.
	return value.IsNull() || !CanRebuildValue(value);
}

template <class SLOT>
size_t VPackedDictionary_with_backstore<SLOT>::GetFlatSize(ValueKind kind, const void* data)
{
	switch (kind)
	{
		case VK_BOOLEAN:
		case VK_BYTE:
			return 3;
		case VK_WORD:
			return 4;
		case VK_LONG:
			return 6;
		case VK_LONG8:
		case VK_REAL:
		case VK_DURATION:
			return 10;
		default:
		{
			const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
			return info != nullptr ? size_t(info->GetSizeOfValueDataPtr(data)) + 2 : 2;
		}
	}
}

template <class SLOT>
size_t VPackedDictionary_with_backstore<SLOT>::_WordsFor(const VValueSingle& value)
{
	uint64 extra = 0;
	return size_t((value.GetSpace(extra) + 3) / 2);
}

template <class SLOT>
void VPackedDictionary_with_backstore<SLOT>::_WriteValue(uint16* words, const VValueSingle& value)
{
	const size_t count = _WordsFor(value);
	// The padding byte of an odd flat form stays 0, so equal values give equal stores.
	words[count - 1] = 0;
	words[0] = GetKindOf(value);
	value.WriteToPtr(words + 1);
}

// ---------------------------------------------------------------------------------------------------------
// Entries

template <class SLOT>
ValueKind VPackedDictionary_with_backstore<SLOT>::GetValueKind(const_iterator slot) const
{
	if (const VValueSingle* cached = _CachedValue(*slot))
		return GetKindOf(*cached);
	return fBackstore[slot->fBackstoreIndex];
}

template <class SLOT>
const void* VPackedDictionary_with_backstore<SLOT>::GetDataPtr(const_iterator slot) const
{
	return fBackstore.data() + slot->fBackstoreIndex + 1;
}

template <class SLOT>
uint64 VPackedDictionary_with_backstore<SLOT>::GetDataBytes(const_iterator slot) const
{
	return uint64(fBackstore.size() - slot->fBackstoreIndex - 1) * sizeof(uint16);
}

template <class SLOT>
const VValueSingle* VPackedDictionary_with_backstore<SLOT>::GetValuePtr(const_iterator slot) const
{
	if (VValueSingle* cached = _CachedValue(*slot))
		return cached;
	const ValueKind kind = fBackstore[slot->fBackstoreIndex];
	if (!CanRebuild(kind))
		return nullptr;
	VValueSingle* single = LoadSingle(*VValue::ValueInfoFromValueKind(kind), GetDataPtr(slot), GetDataBytes(slot));
	if (single == nullptr)
		return nullptr;
	// Made from the store itself: the cache agrees with it and the dictionary stays clean.
	return _InstallCachedValue(*slot, single);
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::GetValue(const StPackedDictionaryKey& key, VValueSingle& out) const
{
	const const_iterator slot = this->_Find(key);
	if (slot == this->end())
		return false;
	if (const VValueSingle* cached = _CachedValue(*slot))
	{
		cached->GetValue(out);
		// A null read into another kind is a null of that kind, whatever the conversion gave.
		if (cached->IsNull())
			out.SetNull(true);
		return true;
	}
	const ValueKind kind = fBackstore[slot->fBackstoreIndex];
	if (kind != VK_UNDEFINED && GetKindOf(out) == kind)
	{
		// Reading into a value of the stored kind allocates nothing; a datum that runs past the store reads
		// as absent.
		return out.LoadFromPtrBounded(GetDataPtr(slot), GetDataBytes(slot)) != nullptr;
	}
	if (const VValueSingle* value = GetValuePtr(slot))
		value->GetValue(out);
	return true;
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value)
{
	const iterator slot = this->_Find(key);
	return slot != this->end() && _SetValueAt(slot, value);
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::_SetValueAt(iterator slot, const VValueSingle& value)
{
	if (slot->fValue == nullptr && !_MustStayCached(value))
	{
		uint16* stored = fBackstore.data() + slot->fBackstoreIndex;
		uint64 extra = 0;
		if (value.GetSpace(extra) + 2 == GetFlatSize(stored[0], stored + 1))
		{
			_WriteValue(stored, value);
			return true;
		}
	}

	if (slot->fValue == &value)
	{
		fDirty = true;
		return true;
	}
	// Not every kind takes the null flag along with the value: a null is cached as a copy.
	if (!value.IsNull() && slot->fValue != nullptr && GetKindOf(*slot->fValue) == GetKindOf(value) && slot->fValue->FromValueSameKind(&value))
	{
		fDirty = true;
		return true;
	}
	VValueSingle* single = CloneSingle(value);
	if (single == nullptr)
		return false;
	delete slot->fValue;
	slot->fValue = single;
	fDirty = true;
	return true;
}

template <class SLOT>
typename VPackedDictionary_with_backstore<SLOT>::iterator VPackedDictionary_with_backstore<SLOT>::_AppendRoom(const StPackedDictionaryKey& key, size_t words, typename Base::FreeEntry free)
{
	const size_t index = fBackstore.size();
	try
	{
		// Room for about ten numbers from the start, the size of a log message's bag.
		if (fBackstore.capacity() - index < words)
			fBackstore.reserve(std::max(index + words, std::max<size_t>(64, 2 * fBackstore.capacity())));
		fBackstore.resize(index + words);
	}
	catch (const std::bad_alloc&)
	{
		return this->end();
	}
	catch (const std::length_error&)
	{
		return this->end();
	}

	SLOT fresh;
	fresh.fBackstoreIndex = index;
	const iterator slot = this->_AppendKeyAndSlot(key, fresh, free);
	if (slot == this->end())
		fBackstore.resize(index);
	return slot;
}

template <class SLOT>
typename VPackedDictionary_with_backstore<SLOT>::iterator VPackedDictionary_with_backstore<SLOT>::Append(const StPackedDictionaryKey& key, const VValueSingle& value, typename Base::FreeEntry free)
{
	// Without a descriptor nothing could rebuild the value from its flat form for a reader of another kind,
	// and no flat form tells a null: the slot keeps a copy. Should that fail, readers of a value of the same
	// kind still get the flat form; a null is refused instead, lest it read back as a value.
	VValueSingle* cached = nullptr;
	if (_MustStayCached(value))
	{
		cached = CloneSingle(value);
		if (cached == nullptr && value.IsNull())
			return this->end();
	}
	const iterator slot = _AppendRoom(key, _WordsFor(value), free);
	if (slot == this->end())
	{
		delete cached;
		return slot;
	}
	_WriteValue(fBackstore.data() + slot->fBackstoreIndex, value);
	slot->fValue = cached;
	return slot;
}

template <class SLOT>
typename VPackedDictionary_with_backstore<SLOT>::iterator VPackedDictionary_with_backstore<SLOT>::_AppendFlat(const StPackedDictionaryKey& key, ValueKind kind, const void* data, size_t bytes, typename Base::FreeEntry free)
{
	const size_t words = (bytes + 3) / 2;
	const iterator slot = _AppendRoom(key, words, free);
	if (slot == this->end())
		return slot;
	uint16* stored = fBackstore.data() + slot->fBackstoreIndex;
	stored[words - 1] = 0;
	stored[0] = kind;
	std::memcpy(stored + 1, data, bytes);
	return slot;
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::Clear(const StPackedDictionaryKey& key)
{
	const size_t slotNumber = this->_FindSlotNumber(key, nullptr);
	const size_t count = this->fSlots.size();
	if (slotNumber == count)
		return false;
	SLOT& slot = this->fSlots[slotNumber];
	delete slot.fValue;
	slot.fValue = nullptr;
	// Values lie in the store in slot order: this one runs up to the next slot's.
	const size_t from = slot.fBackstoreIndex;
	const size_t to = slotNumber + 1 < count ? this->fSlots[slotNumber + 1].fBackstoreIndex : fBackstore.size();
	fBackstore.erase(fBackstore.begin() + ptrdiff_t(from), fBackstore.begin() + ptrdiff_t(to));
	for (size_t i = slotNumber + 1; i < count; ++i)
		this->fSlots[i].fBackstoreIndex -= to - from;
	this->_RemoveSlot(slotNumber);
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// Packing

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::_Pack()
{
	bool allInPlace = true;
	for (const SLOT& slot : this->fSlots)
	{
		if (slot.fValue == nullptr)
			continue;
		uint16* stored = fBackstore.data() + slot.fBackstoreIndex;
		uint64 extra = 0;
		if (slot.fValue->GetSpace(extra) + 2 == GetFlatSize(stored[0], stored + 1))
			_WriteValue(stored, *slot.fValue);
		else
			allInPlace = false;
	}
	if (!allInPlace)
	{
		std::vector<uint16> fresh;
		std::vector<size_t> indexes;
		if (!_WritePacked(fresh, indexes))
			return false;
		fBackstore.swap(fresh);
		for (size_t i = 0; i < indexes.size(); ++i)
			this->fSlots[i].fBackstoreIndex = indexes[i];
	}
	fDirty = false;
	return true;
}

template <class SLOT>
bool VPackedDictionary_with_backstore<SLOT>::_WritePacked(std::vector<uint16>& words, std::vector<size_t>& indexes) const
{
	std::vector<uint16> fresh;
	std::vector<size_t> at;
	try
	{
		fresh.reserve(fBackstore.size());
		at.reserve(this->fSlots.size());
		for (const SLOT& slot : this->fSlots)
		{
			// Read once: another reader may cache a value in the slot meanwhile (one that agrees with the
			// store, since only clean slots get one that way).
			const VValueSingle* value = _CachedValue(slot);
			const uint16* stored = fBackstore.data() + slot.fBackstoreIndex;
			const size_t start = fresh.size();
			const size_t count = value != nullptr ? _WordsFor(*value) : (GetFlatSize(stored[0], stored + 1) + 1) / 2;
			fresh.resize(start + count);
			if (value != nullptr)
				_WriteValue(fresh.data() + start, *value);
			else
				std::memcpy(fresh.data() + start, stored, count * sizeof(uint16));
			at.push_back(start);
		}
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	catch (const std::length_error&)
	{
		return false;
	}
	words.swap(fresh);
	indexes.swap(at);
	return true;
}

template class VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

}  // namespace velk
