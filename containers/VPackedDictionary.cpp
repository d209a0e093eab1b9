// The hash index of the packed dictionaries and the element dictionary of bags.
#include "containers/VPackedDictionary.h"

#include <algorithm>
#include <bit>

#include "containers/VBagArray.h"

namespace velk {

namespace {

// Index sizes: for fewer keys than the bound, that many entries (primes, each about 1.6 times the last).
struct HashSizeRow
{
	size_t fBound;
	size_t fSize;
};

constexpr HashSizeRow kHASH_SIZES[] = {
	{5, 5}, {9, 11}, {18, 23}, {30, 41}, {48, 67}, {77, 113}, {124, 199}, {200, 317}, {323, 521}, {522, 839},
	{844, 1361}, {1365, 2207}, {2208, 3571}, {3572, 5779}, {5779, 9349}, {9350, 15121}, {15128, 24473},
	{24477, 39607}, {39604, 64081}, {64080, 103681}, {103683, 167759}, {167762, 271429}, {271444, 439199},
	{439205, 710641}, {710648, 1149857}, {1149852, 1860503}, {1860499, 3010349}, {3010350, 4870843},
	{7881197, 12752029}, {12752044, 20633237}, {20633240, 33385273}, {33385283, 54018521},
	{54018522, 87403763}, {87403804, 141422317}, {141422325, 228826121}, {228826128, 370248451},
	{370248452, 599074561}, {599074579, 969323023}, {969323030, 1568397599}, {1568397608, 2537720629},
	{2537720637, 4106118251}};

constexpr size_t kLARGEST_HASH_SIZE = 4106118251u;

}  // namespace

size_t _VHashKeyMap::_ComputeHashVectorSize(size_t n)
{
	for (const HashSizeRow& row : kHASH_SIZES)
	{
		if (n < row.fBound)
			return row.fSize;
	}
	return kLARGEST_HASH_SIZE;
}

bool _VHashKeyMap::Rebuild(size_t size)
{
	Clear();
	if (size == 0)
		return true;
	try
	{
		fEntries.assign(size, kEMPTY);
		fHashes.assign(size, 0);
		return true;
	}
	catch (const std::bad_alloc&)
	{
	}
	catch (const std::length_error&)
	{
	}
	Clear();
	return false;
}

bool _VHashKeyMap::Put(uint32 hash, uint32 slot)
{
	const size_t size = fEntries.size();
	if (size == 0)
		return false;
	const size_t distance = FindEmpty(hash % size, size);
	if (distance == size)
		return false;
	const size_t entry = (hash % size + distance) % size;
	fEntries[entry] = slot;
	fHashes[entry] = hash;
	return true;
}

template <bool MATCH_HASH>
size_t _VHashKeyMap::_ScanRange(size_t from, size_t to, uint32 hash) const
{
	const uint32* entries = fEntries.data();
	const uint32* hashes = fHashes.data();
	constexpr size_t kBLOCK = 16;
	size_t i = from;
	// Most probes end within a few entries of their start: those are looked at one by one.
	for (const size_t end = std::min(to, from + 4); i < end; ++i)
	{
		if (entries[i] == kEMPTY || (MATCH_HASH && hashes[i] == hash))
			return i;
	}
	// Then a whole block is tested without an early exit, which the compiler turns into vector compares.
	for (; i + kBLOCK <= to; i += kBLOCK)
	{
		uint32 mask = 0;
		for (size_t j = 0; j < kBLOCK; ++j)
		{
			bool hit = entries[i + j] == kEMPTY;
			if constexpr (MATCH_HASH)
				hit = hit || hashes[i + j] == hash;
			mask |= uint32(hit) << j;
		}
		if (mask != 0)
			return i + size_t(std::countr_zero(mask));
	}
	for (; i < to; ++i)
	{
		if (entries[i] == kEMPTY || (MATCH_HASH && hashes[i] == hash))
			return i;
	}
	return to;
}

template <bool MATCH_HASH>
size_t _VHashKeyMap::_Scan(size_t entry, size_t limit, uint32 hash) const
{
	const size_t size = fEntries.size();
	const size_t firstEnd = std::min(size, entry + limit);
	const size_t found = _ScanRange<MATCH_HASH>(entry, firstEnd, hash);
	if (found < firstEnd)
		return found - entry;
	const size_t scanned = firstEnd - entry;
	const size_t wrapped = _ScanRange<MATCH_HASH>(0, limit - scanned, hash);
	return scanned + wrapped;
}

template size_t _VHashKeyMap::_Scan<false>(size_t, size_t, uint32) const;
template size_t _VHashKeyMap::_Scan<true>(size_t, size_t, uint32) const;

uint32 _VHashKeyMap::Get(uint32 hash) const
{
	return fEntries.empty() ? kEMPTY : fEntries[hash % fEntries.size()];
}

// ---------------------------------------------------------------------------------------------------------
// Element dictionary

template <class SLOT>
VPackedDictionary<SLOT>::VPackedDictionary(const VPackedDictionary& other)
	: VPackedDictionary_base<SLOT>()
{
	if (!this->_CopyBase(other))
	{
		fCopyError = VE_MEMORY_FULL;
		return;
	}
	// The slots still point at the source's lists: each gets its own copy, or is cut off with the ones
	// behind it when no copy can be made.
	for (size_t i = 0; i < this->fSlots.size(); ++i)
	{
		VBagArray* source = this->fSlots[i].fValue;
		if (source == nullptr)
			continue;
		VBagArray* copy = new (std::nothrow) VBagArray(*source);
		if (copy == nullptr || !copy->IsComplete())
		{
			fCopyError = copy != nullptr ? copy->GetCopyError() : VE_MEMORY_FULL;
			if (copy != nullptr)
				copy->Release();
			this->fSlots.resize(i);
			break;
		}
		this->fSlots[i].fValue = copy;
	}
	if (fCopyError != VE_OK)
	{
		// Drop keys no slot refers to any more.
		size_t keyBytes = 0;
		if (!this->fSlots.empty())
		{
			const size_t lastOffset = this->fSlots.back().fKeyOffset;
			keyBytes = lastOffset + 1 + this->fKeys[lastOffset];
		}
		this->fKeys.resize(keyBytes);
		this->_UpdateIndexForCount();
	}
}

template <class SLOT>
VPackedDictionary<SLOT>::~VPackedDictionary()
{
	for (SLOT& slot : this->fSlots)
	{
		if (slot.fValue != nullptr)
			slot.fValue->Release();
	}
}

template <class SLOT>
VBagArray* VPackedDictionary<SLOT>::GetValue(const StPackedDictionaryKey& key) const
{
	const auto found = this->_Find(key);
	return found != this->end() ? found->fValue : nullptr;
}

template <class SLOT>
bool VPackedDictionary<SLOT>::SetValue(const StPackedDictionaryKey& key, VBagArray* list)
{
	typename VPackedDictionary_base<SLOT>::FreeEntry free;
	auto found = this->_Find(key, &free);
	if (found == this->end())
	{
		found = this->_AppendKeyAndSlot(key, SLOT(), free);
		if (found == this->end())
			return false;
	}
	if (found->fValue != list)
	{
		if (list != nullptr)
			list->Retain();
		VBagArray* old = found->fValue;
		found->fValue = list;
		if (old != nullptr)
			old->Release();
	}
	return true;
}

template <class SLOT>
bool VPackedDictionary<SLOT>::Clear(const StPackedDictionaryKey& key)
{
	const size_t slotNumber = this->_FindSlotNumber(key, nullptr);
	if (slotNumber == this->fSlots.size())
		return false;
	VBagArray* list = this->fSlots[slotNumber].fValue;
	this->_RemoveSlot(slotNumber);
	// Released once the dictionary is whole again: the list's bags may reach back into it.
	if (list != nullptr)
		list->Release();
	return true;
}

template class VPackedDictionary<VPackedValue_VBagArray>;

}  // namespace velk
