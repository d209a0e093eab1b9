// Compact name -> value stores under every value bag: the keys packed one after the other in one UTF-8
// buffer, one slot per key in insertion order, and a hash index built only once a dictionary grows to
// 6 keys (most bags hold a handful of attributes, which a linear scan finds faster than any index).
#pragma once

#include <new>
#include <vector>

#include "containers/StPackedDictionaryKey.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VBagArray;

// Open-addressing index of a dictionary: entry (hash modulo size) holds the number of the first slot put
// there, or kEMPTY.
class _VHashKeyMap
{
public:
	static constexpr uint32 kEMPTY = 0xFFFFFFFFu;

	// Entries to allocate for n keys: a prime well above n, from a fixed table.
	static size_t _ComputeHashVectorSize(size_t n);

	// size entries, all empty; 0 frees the index. False (index left empty) when memory is short.
	bool Rebuild(size_t size);
	// Stores slot at the first empty entry from hash modulo size on, wrapping; false when the table is full
	// or empty.
	bool Put(uint32 hash, uint32 slot);
	// The entry at hash modulo size; kEMPTY for an empty index.
	uint32 Get(uint32 hash) const;

	bool IsEmpty() const { return fEntries.empty(); }
	size_t GetSize() const { return fEntries.size(); }
	void Clear() { std::vector<uint32>().swap(fEntries); }

private:
	std::vector<uint32> fEntries;
};

// Base of both dictionaries over a slot type whose first field, fKeyOffset, is the offset of the slot's key
// in the key buffer (one length byte, then the UTF-8 bytes). Keys are unique only as far as callers look
// them up before appending.
template <class SLOT>
class VPackedDictionary_base : public VObject
{
public:
	using SlotVector = std::vector<SLOT>;
	using iterator = typename SlotVector::iterator;
	using const_iterator = typename SlotVector::const_iterator;

	// From this many keys on, lookups go through the hash index.
	static constexpr size_t kINDEX_THRESHOLD = 6;

	VPackedDictionary_base() = default;
	// Copies the keys and the slots as they are; the index starts empty. When memory is short the copy is
	// empty.
	VPackedDictionary_base(const VPackedDictionary_base& other) { _CopyBase(other); }
	VPackedDictionary_base& operator=(const VPackedDictionary_base&) = delete;
	~VPackedDictionary_base() override = default;

	size_t GetCount() const { return fSlots.size(); }
	bool IsEmpty() const { return fSlots.empty(); }

	iterator begin() { return fSlots.begin(); }
	iterator end() { return fSlots.end(); }
	const_iterator begin() const { return fSlots.begin(); }
	const_iterator end() const { return fSlots.end(); }

	// The slot of the key, or end(). Builds the hash index first when the dictionary holds 6 keys or more
	// and has none (when that fails the slots are scanned).
	iterator _Find(const StPackedDictionaryKey& key) { return fSlots.begin() + ptrdiff_t(_FindSlotNumber(key)); }
	const_iterator _Find(const StPackedDictionaryKey& key) const { return fSlots.begin() + ptrdiff_t(_FindSlotNumber(key)); }

	// Appends the key and the slot (whose key offset is set here) without looking for the key first, and
	// records it in the index when there is one. Returns the new slot, or end() with the dictionary
	// unchanged when the key is longer than 255 bytes or memory is short.
	iterator _AppendKeyAndSlot(const StPackedDictionaryKey& key, const SLOT& slot);

	// The slot's key bytes (not terminated) and their count.
	const char* _GetKeyBytes(const SLOT& slot, size_t& outLength) const
	{
		outLength = fKeys[slot.fKeyOffset];
		return reinterpret_cast<const char*>(fKeys.data() + slot.fKeyOffset + 1);
	}

	// Entries of the hash index; 0 while there is none.
	size_t _GetIndexSize() const { return fIndex.GetSize(); }

protected:
	// Copies keys and slots (the index is left empty); false with this dictionary unchanged when memory
	// is short.
	bool _CopyBase(const VPackedDictionary_base& other);
	// Drops keys, slots and index; what the slots point to is the caller's.
	void _ClearBase()
	{
		std::vector<uint8>().swap(fKeys);
		SlotVector().swap(fSlots);
		fIndex.Clear();
	}

	bool _SlotHasKey(size_t slotNumber, const StPackedDictionaryKey& key) const
	{
		const size_t offset = fSlots[slotNumber].fKeyOffset;
		return fKeys[offset] == key.GetKeyLength() && key.EqualsBytes(reinterpret_cast<const char*>(fKeys.data() + offset + 1), fKeys[offset]);
	}

	// The slot number of the key, or the slot count.
	size_t _FindSlotNumber(const StPackedDictionaryKey& key) const;
	// Sizes the index for the current key count and puts every slot in slot order; false (index empty)
	// when memory is short.
	bool _RebuildIndex() const;

	std::vector<uint8> fKeys;
	SlotVector fSlots;
	mutable _VHashKeyMap fIndex;
};

template <class SLOT>
bool VPackedDictionary_base<SLOT>::_CopyBase(const VPackedDictionary_base& other)
{
	try
	{
		std::vector<uint8> keys(other.fKeys);
		SlotVector slots(other.fSlots);
		fKeys.swap(keys);
		fSlots.swap(slots);
		fIndex.Clear();
		return true;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

template <class SLOT>
size_t VPackedDictionary_base<SLOT>::_FindSlotNumber(const StPackedDictionaryKey& key) const
{
	const size_t count = fSlots.size();
	if (fIndex.IsEmpty() && count >= kINDEX_THRESHOLD)
		_RebuildIndex();

	size_t start = 0;
	if (!fIndex.IsEmpty())
	{
		const uint32 first = fIndex.Get(key.GetHashCode());
		if (first == _VHashKeyMap::kEMPTY)
			return count;
		// Probing stored the key's slot at or after the first one put at its entry; starting there finds it
		// early, and the wrap-around keeps the scan complete.
		start = first < count ? first : 0;
	}
	for (size_t i = start; i < count; ++i)
	{
		if (_SlotHasKey(i, key))
			return i;
	}
	for (size_t i = 0; i < start; ++i)
	{
		if (_SlotHasKey(i, key))
			return i;
	}
	return count;
}

template <class SLOT>
bool VPackedDictionary_base<SLOT>::_RebuildIndex() const
{
	const size_t count = fSlots.size();
	if (!fIndex.Rebuild(_VHashKeyMap::_ComputeHashVectorSize(count)))
		return false;
	for (size_t i = 0; i < count; ++i)
	{
		size_t length = 0;
		const char* bytes = _GetKeyBytes(fSlots[i], length);
		if (!fIndex.Put(StPackedDictionaryKey::GetHashCode(bytes, length), uint32(i)))
		{
			fIndex.Clear();
			return false;
		}
	}
	return true;
}

template <class SLOT>
typename VPackedDictionary_base<SLOT>::iterator VPackedDictionary_base<SLOT>::_AppendKeyAndSlot(const StPackedDictionaryKey& key, const SLOT& slot)
{
	const size_t length = key.GetKeyLength();
	if (length > StPackedDictionaryKey::kMAX_KEY_LENGTH)
		return fSlots.end();

	const size_t offset = fKeys.size();
	try
	{
		fKeys.reserve(offset + 1 + length);
		fSlots.reserve(fSlots.size() + 1);
	}
	catch (const std::bad_alloc&)
	{
		return fSlots.end();
	}
	// Both vectors have their room now: nothing below can fail.
	fKeys.push_back(uint8(length));
	fKeys.insert(fKeys.end(), reinterpret_cast<const uint8*>(key.GetKey()), reinterpret_cast<const uint8*>(key.GetKey()) + length);
	fSlots.push_back(slot);
	fSlots.back().fKeyOffset = offset;

	if (!fIndex.IsEmpty() && !fIndex.Put(key.GetHashCode(), uint32(fSlots.size() - 1)))
		_RebuildIndex();
	return fSlots.end() - 1;
}

// Slot of the element dictionary: the key and one list of bags, held by one reference.
struct VPackedValue_VBagArray
{
	size_t fKeyOffset = 0;
	VBagArray* fValue = nullptr;
};

// The element dictionary of a bag: element name -> list of bags, names in order of first insertion. It
// holds one reference on each list and releases them all when it goes.
template <class SLOT>
class VPackedDictionary : public VPackedDictionary_base<SLOT>
{
public:
	VPackedDictionary() = default;
	// A deep copy: every list is copied into a new list of copied bags. When memory is short the copy holds
	// fewer names (IsComplete tells).
	VPackedDictionary(const VPackedDictionary& other);
	VPackedDictionary& operator=(const VPackedDictionary&) = delete;
	~VPackedDictionary() override;

	// The list stored under the key, not retained; null when the key is absent.
	VBagArray* GetValue(const StPackedDictionaryKey& key) const;
	// Stores the list under the key (appending the key when absent): the new list is retained and the one
	// stored before released; storing the list already there changes nothing. False when the key cannot be
	// appended (longer than 255 bytes, memory short).
	bool SetValue(const StPackedDictionaryKey& key, VBagArray* list);

	// False when a copy could not take every name of its source.
	bool IsComplete() const { return fComplete; }

private:
	bool fComplete = true;
};

}  // namespace velk
