// Compact name -> value stores under every value bag: the keys packed one after the other in one UTF-8
// buffer, one slot per key in insertion order, and a hash index built only once a dictionary grows to
// 6 keys (most bags hold a handful of attributes, which a linear scan finds faster than any index).
#pragma once

#include "kernel/VExport.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "containers/StPackedDictionaryKey.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VBagArray;
class VStream;

// Open-addressing index of a dictionary: entry (hash modulo size) holds the number of the first slot put
// there, or kEMPTY; a slot put where the entry is taken goes to the next empty entry, wrapping. Beside each
// entry the index keeps the hash it was put with (in memory only: the binary form stores the slot numbers),
// so that a lookup compares key bytes only where the hashes agree.
class VELK_API _VHashKeyMap
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
	// Put, for a caller that knows where it lands: the empty entry that ended a lookup of the same hash
	// made since the index last changed. Any other entry falls back to Put.
	bool PutAt(size_t entry, uint32 hash, uint32 slot)
	{
		if (entry >= fEntries.size() || fEntries[entry] != kEMPTY)
			return Put(hash, slot);
		fEntries[entry] = slot;
		fHashes[entry] = hash;
		return true;
	}
	// The entry at hash modulo size; kEMPTY for an empty index.
	uint32 Get(uint32 hash) const;
	// How far from entry (wrapping) the first entry lies that is empty, or was put with hash when matching
	// hashes count too; limit when none lies within limit entries. Probing goes through here, a block of
	// entries at a time: right before a table fills up, runs of taken entries grow long.
	size_t FindEmpty(size_t entry, size_t limit) const { return _Scan<false>(entry, limit, 0); }
	size_t FindEmptyOrHash(size_t entry, size_t limit, uint32 hash) const { return _Scan<true>(entry, limit, hash); }

	// The entry at position (below GetSize()), and the hash it was put with.
	uint32 GetEntry(size_t position) const { return fEntries[position]; }
	uint32 GetEntryHash(size_t position) const { return fHashes[position]; }

	// Records the hash an entry's slot was put with: for an index read from a stream, whose hashes the
	// dictionary computes from its keys.
	void SetEntryHash(size_t position, uint32 hash) { fHashes[position] = hash; }

	// Binary form: the entry count, then every entry (a slot number or kEMPTY), all as uint32 in the stream's
	// byte order.
	VError WriteToStream(VStream* stream) const;
	// Reads that form into this index, replacing it; every hash reads 0 until the caller sets them. An entry
	// count beyond the bytes left gives velk 200, no memory velk 100; the index is then empty.
	VError Rebuild(VStream* stream);

	bool IsEmpty() const { return fEntries.empty(); }
	size_t GetSize() const { return fEntries.size(); }
	void Clear()
	{
		std::vector<uint32>().swap(fEntries);
		std::vector<uint32>().swap(fHashes);
	}

private:
	template <bool MATCH_HASH>
	size_t _Scan(size_t entry, size_t limit, uint32 hash) const;
	template <bool MATCH_HASH>
	size_t _ScanRange(size_t from, size_t to, uint32 hash) const;

	std::vector<uint32> fEntries;
	std::vector<uint32> fHashes;
};

// Base of both dictionaries over a slot type whose first field, fKeyOffset, is the offset of the slot's key
// in the key buffer (one length byte, then the UTF-8 bytes). Keys are unique only as far as callers look
// them up before appending.
//
// Like the standard containers, a dictionary has no lock: const operations may run on several threads at
// once, a modification may not run beside anything else. That is why the hash index is kept up to date by
// the modifications themselves and never built by a lookup.
template <class SLOT>
class VELK_API VPackedDictionary_base : public VObject
{
public:
	using SlotVector = std::vector<SLOT>;
	using iterator = typename SlotVector::iterator;
	using const_iterator = typename SlotVector::const_iterator;

	// From this many keys on, lookups go through the hash index.
	static constexpr size_t kINDEX_THRESHOLD = 6;

	VPackedDictionary_base() = default;
	// Copies the keys and the slots as they are, and builds the copy's own index. When memory is short the
	// copy is empty.
	VPackedDictionary_base(const VPackedDictionary_base& other) { _CopyBase(other); }
	VPackedDictionary_base& operator=(const VPackedDictionary_base&) = delete;
	~VPackedDictionary_base() override = default;

	size_t GetCount() const { return fSlots.size(); }
	bool IsEmpty() const { return fSlots.empty(); }

	iterator begin() { return fSlots.begin(); }
	iterator end() { return fSlots.end(); }
	const_iterator begin() const { return fSlots.begin(); }
	const_iterator end() const { return fSlots.end(); }

	// Where a key that a lookup did not find would go in the index; only good for appending that key before
	// the dictionary changes otherwise.
	using FreeEntry = size_t;
	static constexpr FreeEntry kNO_FREE_ENTRY = ~size_t(0);

	// The slot of the key, or end(). Follows the index's probe sequence when there is an index; scans the
	// slots otherwise (fewer than 6 keys, or memory was short when the index was due). Writes nothing but
	// outFree: for an absent key, the index entry that ended the probe, which saves appending the key the
	// same probe again.
	iterator _Find(const StPackedDictionaryKey& key, FreeEntry* outFree = nullptr) { return fSlots.begin() + ptrdiff_t(_FindSlotNumber(key, outFree)); }
	const_iterator _Find(const StPackedDictionaryKey& key, FreeEntry* outFree = nullptr) const { return fSlots.begin() + ptrdiff_t(_FindSlotNumber(key, outFree)); }

	// Appends the key and the slot (whose key offset is set here) without looking for the key first, and
	// records it in the index (at free, from a _Find of this key just before, when given), building the
	// index when the dictionary reaches 6 keys. Returns the new slot, or end() with the dictionary
	// unchanged when the key is longer than 255 bytes or memory is short.
	iterator _AppendKeyAndSlot(const StPackedDictionaryKey& key, const SLOT& slot, FreeEntry free = kNO_FREE_ENTRY);

	// The slot's key bytes (not terminated) and their count.
	const char* _GetKeyBytes(const SLOT& slot, size_t& outLength) const
	{
		outLength = fKeys[slot.fKeyOffset];
		return reinterpret_cast<const char*>(fKeys.data() + slot.fKeyOffset + 1);
	}

	// Entries of the hash index; 0 while there is none.
	size_t _GetIndexSize() const { return fIndex.GetSize(); }

	// Puts the slots in the given order (order[i] is the slot number that becomes slot i; a permutation
	// of every slot), each key moving with its slot. False with the dictionary unchanged when memory is
	// short or order is not a permutation.
	bool _Reorder(const std::vector<size_t>& order);

	// Keys block of the binary form (VPackedDictionaryStream.cpp): key count, key buffer length, the key
	// buffer, then 1 and the hash index for a dictionary of 6 keys or more when withIndex is set (built for
	// the writing when memory had been short for it), else 0. Answers the stream's error.
	VError _WriteKeysToStream(VStream* stream, bool withIndex) const;
	// Reads a keys block into this dictionary, which the caller has emptied: one default slot per key, each
	// with its key offset. The data are not trusted: a count beyond the bytes left, or keys that do not end
	// exactly at the buffer's end, give velk 200 (stored in the stream); a stored index is taken only when
	// every lookup through it finds its key, otherwise the index is built from the keys. On failure the
	// dictionary is left empty.
	VError _ReadKeysFromStream(VStream* stream);

protected:
	// Copies keys and slots and builds the index for them; false with this dictionary unchanged when
	// memory is short.
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
		return fKeys[offset] == key.GetKeyLength() && StPackedDictionaryKey::SameBytes(key.GetKey(), reinterpret_cast<const char*>(fKeys.data() + offset + 1), fKeys[offset]);
	}

	// Cuts the slot and its key out, lowering the key offsets of the slots behind it; the index is rebuilt
	// for the new count at once (lookups never build it). What the slot points to is the caller's.
	void _RemoveSlot(size_t slotNumber);

	// The slot number of the key, or the slot count (and outFree, when given, set as _Find says). The scan
	// of a small dictionary is inline: it is the lookup of most bags.
	size_t _FindSlotNumber(const StPackedDictionaryKey& key, FreeEntry* outFree) const
	{
		if (!fIndex.IsEmpty())
			return _FindIndexedSlotNumber(key, outFree);
		if (outFree != nullptr)
			*outFree = kNO_FREE_ENTRY;
		const size_t count = fSlots.size();
		for (size_t i = 0; i < count; ++i)
		{
			if (_SlotHasKey(i, key))
				return i;
		}
		return count;
	}
	// _FindSlotNumber through the index.
	size_t _FindIndexedSlotNumber(const StPackedDictionaryKey& key, FreeEntry* outFree) const;
	// Sizes the index for the current key count and puts every slot in slot order; false (index empty)
	// when memory is short, lookups then scan the slots.
	bool _RebuildIndex() { return _BuildIndex(fIndex); }
	// The same into index.
	bool _BuildIndex(_VHashKeyMap& index) const;
	// Takes the index just read from a stream when it fits the keys: at least one entry per key, every
	// entry empty or naming a slot, each slot once, and each key reachable from its home entry (hash modulo
	// size) through taken entries, as Put leaves them. Sets the entries' hashes; false otherwise.
	bool _AdoptStoredIndex();
	// After the slots changed wholesale: an index for 6 keys or more, none below.
	void _UpdateIndexForCount()
	{
		if (fSlots.size() >= kINDEX_THRESHOLD)
			_RebuildIndex();
		else
			fIndex.Clear();
	}

	std::vector<uint8> fKeys;
	SlotVector fSlots;
	_VHashKeyMap fIndex;
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
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	_UpdateIndexForCount();
	return true;
}

template <class SLOT>
size_t VPackedDictionary_base<SLOT>::_FindIndexedSlotNumber(const StPackedDictionaryKey& key, FreeEntry* outFree) const
{
	const size_t count = fSlots.size();
	if (outFree != nullptr)
		*outFree = kNO_FREE_ENTRY;
	// The entries Put visited for this hash, in its order: the key's slot lies on that path, and an
	// empty entry ends it.
	const size_t size = fIndex.GetSize();
	const uint32 hash = key.GetHashCode();
	// Table sizes fit 32 bits, whose division is the cheaper one.
	size_t entry = hash % uint32(size);
	size_t remaining = size;
	while (remaining > 0)
	{
		// Most keys lie at their home entry or just after it; entries taken by other hashes are then
		// skipped in bulk.
		const uint32 first = fIndex.GetEntry(entry);
		const size_t distance = first == _VHashKeyMap::kEMPTY || fIndex.GetEntryHash(entry) == hash ? 0 : fIndex.FindEmptyOrHash(entry, remaining, hash);
		if (distance == remaining)
			return count;
		entry = (entry + distance) % size;
		const uint32 slot = fIndex.GetEntry(entry);
		if (slot == _VHashKeyMap::kEMPTY)
		{
			if (outFree != nullptr)
				*outFree = entry;
			return count;
		}
		if (slot < count && _SlotHasKey(slot, key))
			return slot;
		remaining -= distance + 1;
		if (++entry == size)
			entry = 0;
	}
	return count;
}

template <class SLOT>
void VPackedDictionary_base<SLOT>::_RemoveSlot(size_t slotNumber)
{
	const size_t offset = fSlots[slotNumber].fKeyOffset;
	const size_t bytes = size_t(1) + fKeys[offset];
	fKeys.erase(fKeys.begin() + ptrdiff_t(offset), fKeys.begin() + ptrdiff_t(offset + bytes));
	fSlots.erase(fSlots.begin() + ptrdiff_t(slotNumber));
	for (size_t i = slotNumber; i < fSlots.size(); ++i)
		fSlots[i].fKeyOffset -= bytes;
	_UpdateIndexForCount();
}

template <class SLOT>
bool VPackedDictionary_base<SLOT>::_Reorder(const std::vector<size_t>& order)
{
	const size_t count = fSlots.size();
	if (order.size() != count)
		return false;
	try
	{
		std::vector<bool> seen(count, false);
		std::vector<uint8> keys;
		SlotVector slots;
		keys.reserve(fKeys.size());
		slots.reserve(count);
		for (const size_t from : order)
		{
			if (from >= count || seen[from])
				return false;
			seen[from] = true;
			const size_t offset = fSlots[from].fKeyOffset;
			slots.push_back(fSlots[from]);
			slots.back().fKeyOffset = keys.size();
			keys.insert(keys.end(), fKeys.begin() + ptrdiff_t(offset), fKeys.begin() + ptrdiff_t(offset + 1 + fKeys[offset]));
		}
		fKeys.swap(keys);
		fSlots.swap(slots);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	_UpdateIndexForCount();
	return true;
}

template <class SLOT>
bool VPackedDictionary_base<SLOT>::_BuildIndex(_VHashKeyMap& index) const
{
	const size_t count = fSlots.size();
	if (!index.Rebuild(_VHashKeyMap::_ComputeHashVectorSize(count)))
		return false;
	for (size_t i = 0; i < count; ++i)
	{
		size_t length = 0;
		const char* bytes = _GetKeyBytes(fSlots[i], length);
		if (!index.Put(StPackedDictionaryKey::GetHashCode(bytes, length), uint32(i)))
		{
			index.Clear();
			return false;
		}
	}
	return true;
}

template <class SLOT>
typename VPackedDictionary_base<SLOT>::iterator VPackedDictionary_base<SLOT>::_AppendKeyAndSlot(const StPackedDictionaryKey& key, const SLOT& slot, FreeEntry free)
{
	const size_t length = key.GetKeyLength();
	if (length > StPackedDictionaryKey::kMAX_KEY_LENGTH)
		return fSlots.end();

	const size_t offset = fKeys.size();
	try
	{
		// Doubling keeps a long run of appends linear.
		if (fKeys.capacity() - offset < 1 + length)
			fKeys.reserve(std::max(offset + 1 + length, std::max<size_t>(128, 2 * fKeys.capacity())));
		if (fSlots.capacity() == fSlots.size())
			fSlots.reserve(std::max<size_t>(12, 2 * fSlots.capacity()));
	}
	catch (const std::bad_alloc&)
	{
		return fSlots.end();
	}
	catch (const std::length_error&)
	{
		return fSlots.end();
	}
	// Both vectors have their room now: nothing below can fail.
	fKeys.push_back(uint8(length));
	fKeys.insert(fKeys.end(), reinterpret_cast<const uint8*>(key.GetKey()), reinterpret_cast<const uint8*>(key.GetKey()) + length);
	fSlots.push_back(slot);
	fSlots.back().fKeyOffset = offset;

	// A table that is full, or not there yet, is rebuilt for the new count; without memory for it lookups
	// scan the slots until a later append manages to build it.
	if (fIndex.IsEmpty() ? fSlots.size() >= kINDEX_THRESHOLD : !fIndex.PutAt(free, key.GetHashCode(), uint32(fSlots.size() - 1)))
		_RebuildIndex();
	return fSlots.end() - 1;
}

// Slot of the element dictionary: the key and one list of bags, held by one reference.
struct VELK_API VPackedValue_VBagArray
{
	size_t fKeyOffset = 0;
	VBagArray* fValue = nullptr;
};

// The element dictionary of a bag: element name -> list of bags, names in order of first insertion. It
// holds one reference on each list and releases them all when it goes.
template <class SLOT>
class VELK_API VPackedDictionary : public VPackedDictionary_base<SLOT>
{
public:
	VPackedDictionary() = default;
	// A deep copy: every list is copied into a new list of copied bags. When memory is short, or a bag
	// below is nested deeper than the free stack allows, the copy holds fewer names (GetCopyError tells
	// why: velk 100 or velk 108).
	VPackedDictionary(const VPackedDictionary& other);
	VPackedDictionary& operator=(const VPackedDictionary&) = delete;
	~VPackedDictionary() override;

	// The list stored under the key, not retained; null when the key is absent.
	VBagArray* GetValue(const StPackedDictionaryKey& key) const;
	// Stores the list under the key (appending the key when absent): the new list is retained and the one
	// stored before released; storing the list already there changes nothing. False when the key cannot be
	// appended (longer than 255 bytes, memory short).
	bool SetValue(const StPackedDictionaryKey& key, VBagArray* list);
	// Releases the key's list and removes the key (later key offsets lowered); false when absent.
	bool Clear(const StPackedDictionaryKey& key);

	// False when a copy could not take every name of its source.
	bool IsComplete() const { return fCopyError == VE_OK; }
	VError GetCopyError() const { return fCopyError; }

	// Releases every list and empties the dictionary, then reads a keys block and, per key in order, a new
	// list of bags in its binary form (VBagArray::ReadFromStreamMinimal). A pending stream error is answered
	// at once. The first error stops the read and empties the dictionary (releasing the lists read): the
	// stream's error, velk 200 for data that do not hold together, velk 100 when memory is short, velk 108
	// on a low free stack.
	VError ReadFromStream(VStream* stream);

private:
	void _ReleaseAll();

	VError fCopyError = VE_OK;
};

}  // namespace velk
