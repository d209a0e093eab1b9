// Binary form of the packed dictionaries: keys blocks with their hash index, the attribute words and the
// element dictionary's lists. What is read is checked against the bytes left before anything is allocated.
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "containers/VBagArray.h"
#include "containers/VPackedDictionary.h"
#include "containers/VPackedDictionary_with_backstore.h"
#include "kernel/values/VStream.h"
#include "kernel/values/VValueInfo.h"

namespace velk {

namespace {

// Data that claim more than the stream holds, or that do not add up: the stream keeps the error.
VError Corrupt(VStream* stream)
{
	return stream->SetError(VE_STREAM_EOF);
}

VError MemoryFull()
{
	_ThrowError(VE_MEMORY_FULL);
	return VE_MEMORY_FULL;
}

// A uint32 count whose items take at least itemBytes each, checked against the bytes left.
VError ReadCount(VStream* stream, uint32& count, uint64 itemBytes)
{
	if (stream->GetLong(count) != VE_OK)
		return stream->GetLastError();
	if (uint64(count) * itemBytes > uint64(stream->GetRemaining()))
		return Corrupt(stream);
	return VE_OK;
}

uint16 Swap16(uint16 word)
{
	return uint16((word >> 8) | (word << 8));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Hash index

VError _VHashKeyMap::WriteToStream(VStream* stream) const
{
	if (stream->PutLong(int32(fEntries.size())) != VE_OK)
		return stream->GetLastError();
	return stream->PutLongs(reinterpret_cast<const int32*>(fEntries.data()), int32(fEntries.size()));
}

VError _VHashKeyMap::Rebuild(VStream* stream)
{
	Clear();
	uint32 size = 0;
	if (ReadCount(stream, size, sizeof(uint32)) != VE_OK)
		return stream->GetLastError();
	if (!Rebuild(size))
		return MemoryFull();
	int32 count = int32(size);
	if (stream->GetLongs(reinterpret_cast<int32*>(fEntries.data()), &count) != VE_OK)
		Clear();
	return stream->GetLastError();
}

// ---------------------------------------------------------------------------------------------------------
// Keys blocks

template <class SLOT>
VError VPackedDictionary_base<SLOT>::_WriteKeysToStream(VStream* stream, bool withIndex) const
{
	stream->PutLong(int32(fSlots.size()));
	stream->PutLong(int32(fKeys.size()));
	stream->PutData(fKeys.data(), fKeys.size());
	if (!withIndex || fSlots.size() < kINDEX_THRESHOLD)
		return stream->PutByte(0);

	if (!fIndex.IsEmpty())
	{
		stream->PutByte(1);
		return fIndex.WriteToStream(stream);
	}
	// Memory was short when the index was due: it is made for the writing only.
	_VHashKeyMap index;
	if (!_BuildIndex(index))
		return MemoryFull();
	stream->PutByte(1);
	return index.WriteToStream(stream);
}

template <class SLOT>
VError VPackedDictionary_base<SLOT>::_ReadKeysFromStream(VStream* stream)
{
	_ClearBase();
	uint32 count = 0;
	uint32 length = 0;
	// Each key takes at least its length byte.
	if (ReadCount(stream, count, 1) != VE_OK || ReadCount(stream, length, 1) != VE_OK)
		return stream->GetLastError();
	if (length < count)
		return Corrupt(stream);

	std::vector<uint8> keys;
	SlotVector slots;
	try
	{
		keys.resize(length);
		slots.resize(count);
	}
	catch (const std::bad_alloc&)
	{
		return MemoryFull();
	}
	if (stream->GetData(keys.data(), length) != VE_OK)
		return stream->GetLastError();

	size_t offset = 0;
	for (SLOT& slot : slots)
	{
		if (offset >= length)
			return Corrupt(stream);
		slot.fKeyOffset = offset;
		offset += size_t(1) + keys[offset];
	}
	if (offset != length)
		return Corrupt(stream);

	uint8 hasIndex = 0;
	if (stream->GetByte(hasIndex) != VE_OK)
		return stream->GetLastError();
	fKeys.swap(keys);
	fSlots.swap(slots);
	if (hasIndex == 1)
	{
		if (fIndex.Rebuild(stream) != VE_OK)
		{
			_ClearBase();
			return stream->GetLastError() != VE_OK ? stream->GetLastError() : VE_MEMORY_FULL;
		}
		if (_AdoptStoredIndex())
			return VE_OK;
	}
	_UpdateIndexForCount();
	return VE_OK;
}

template <class SLOT>
bool VPackedDictionary_base<SLOT>::_AdoptStoredIndex()
{
	const size_t size = fIndex.GetSize();
	const size_t count = fSlots.size();
	if (size == 0 || size < count)
		return false;

	std::vector<uint32> hashes;
	std::vector<bool> seen;
	try
	{
		hashes.resize(count);
		seen.assign(count, false);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	size_t named = 0;
	size_t empty = size;
	for (size_t entry = 0; entry < size; ++entry)
	{
		const uint32 slot = fIndex.GetEntry(entry);
		if (slot == _VHashKeyMap::kEMPTY)
		{
			empty = entry;
			continue;
		}
		if (slot >= count || seen[slot])
			return false;
		seen[slot] = true;
		++named;
	}
	if (named != count)
		return false;
	for (size_t i = 0; i < count; ++i)
	{
		size_t length = 0;
		const char* bytes = _GetKeyBytes(fSlots[i], length);
		hashes[i] = StPackedDictionaryKey::GetHashCode(bytes, length);
	}

	// A lookup walks from the key's home entry to an empty one: every key must lie on that walk. Going
	// round from an empty entry, run counts the taken entries met since the last empty one; a full table
	// is walked whole by a lookup.
	const size_t start = empty == size ? 0 : empty;
	size_t run = empty == size ? size : 0;
	for (size_t step = 1; step <= size; ++step)
	{
		const size_t entry = (start + step) % size;
		const uint32 slot = fIndex.GetEntry(entry);
		if (slot == _VHashKeyMap::kEMPTY)
		{
			run = 0;
			continue;
		}
		if (empty != size)
			++run;
		const size_t home = hashes[slot] % size;
		if ((entry + size - home) % size >= run)
			return false;
		fIndex.SetEntryHash(entry, hashes[slot]);
	}
	return true;
}

template VError VPackedDictionary_base<VPackedValue_VBagArray>::_WriteKeysToStream(VStream*, bool) const;
template VError VPackedDictionary_base<VPackedValue_VBagArray>::_ReadKeysFromStream(VStream*);
template VError VPackedDictionary_base<VPackedValue_VValueSingle>::_WriteKeysToStream(VStream*, bool) const;
template VError VPackedDictionary_base<VPackedValue_VValueSingle>::_ReadKeysFromStream(VStream*);

// ---------------------------------------------------------------------------------------------------------
// Attribute words

namespace {

// Bytes of the value of kind at data, its kind word included, when its flat form lies within the available
// bytes behind the kind word; false otherwise. The flat forms whose size depends on their content begin
// with their 32-bit length, which a foreign datum (not yet in host order) has reversed. Only the bytes
// available are read.
bool FlatSizeWithin(ValueKind kind, const uint8* data, size_t available, bool foreign, size_t& outSize)
{
	alignas(8) uint8 head[16] = {};
	std::memcpy(head, data, available < sizeof(head) ? available : sizeof(head));
	if (foreign)
	{
		std::swap(head[0], head[3]);
		std::swap(head[1], head[2]);
	}
	outSize = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>::GetFlatSize(kind, head);
	return outSize - 2 <= available;
}

}  // namespace

template <class SLOT>
VError VPackedDictionary_with_backstore<SLOT>::WriteToStream(VStream* stream, bool withIndex) const
{
	if (this->_WriteKeysToStream(stream, withIndex) != VE_OK)
		return stream->GetLastError();

	std::vector<uint16> packed;
	std::vector<size_t> indexes;
	if (fDirty && !_WritePacked(packed, indexes))
		return MemoryFull();
	const std::vector<uint16>& words = fDirty ? packed : fBackstore;
	stream->PutLong(int32(words.size()));
	if (!stream->NeedSwap())
		return stream->PutData(words.data(), words.size() * sizeof(uint16));

	// Each value swapped in a copy: the dictionary is only read.
	std::vector<uint16> swapped;
	try
	{
		swapped = words;
	}
	catch (const std::bad_alloc&)
	{
		return MemoryFull();
	}
	for (size_t i = 0; i < this->fSlots.size(); ++i)
	{
		const size_t at = fDirty ? indexes[i] : this->fSlots[i].fBackstoreIndex;
		const ValueKind kind = swapped[at];
		if (const VValueInfo* info = VValue::ValueInfoFromValueKind(kind))
			info->ByteSwapPtr(swapped.data() + at + 1, true);
		swapped[at] = Swap16(kind);
	}
	return stream->PutData(swapped.data(), swapped.size() * sizeof(uint16));
}

template <class SLOT>
VError VPackedDictionary_with_backstore<SLOT>::ReadFromStream(VStream* stream)
{
	Destroy();
	if (stream->GetLastError() != VE_OK)
		return stream->GetLastError();
	VError error = this->_ReadKeysFromStream(stream);
	if (error == VE_OK)
		error = _ReadBackstore(stream);
	if (error != VE_OK)
		Destroy();
	return error;
}

template <class SLOT>
VError VPackedDictionary_with_backstore<SLOT>::_ReadBackstore(VStream* stream)
{
	uint32 count = 0;
	if (ReadCount(stream, count, sizeof(uint16)) != VE_OK)
		return stream->GetLastError();
	std::vector<uint16> words;
	try
	{
		words.resize(count);
	}
	catch (const std::bad_alloc&)
	{
		return MemoryFull();
	}
	if (stream->GetData(words.data(), size_t(count) * sizeof(uint16)) != VE_OK)
		return stream->GetLastError();

	// Indexes are not stored: the values follow one another in slot order.
	const bool foreign = stream->NeedSwap();
	size_t index = 0;
	for (SLOT& slot : this->fSlots)
	{
		if (index >= count)
			return Corrupt(stream);
		const ValueKind kind = foreign ? Swap16(words[index]) : words[index];
		words[index] = kind;
		uint8* data = reinterpret_cast<uint8*>(words.data() + index + 1);
		size_t size = 0;
		if (!FlatSizeWithin(kind, data, (count - index - 1) * sizeof(uint16), foreign, size))
			return Corrupt(stream);
		if (foreign)
		{
			if (const VValueInfo* info = VValue::ValueInfoFromValueKind(kind))
				info->ByteSwapPtr(data, false);
		}
		slot.fBackstoreIndex = index;
		index += (size + 1) / 2;
	}
	if (index != count)
		return Corrupt(stream);
	fBackstore.swap(words);
	return VE_OK;
}

template VError VPackedDictionary_with_backstore<VPackedValue_VValueSingle>::WriteToStream(VStream*, bool) const;
template VError VPackedDictionary_with_backstore<VPackedValue_VValueSingle>::ReadFromStream(VStream*);

// ---------------------------------------------------------------------------------------------------------
// Element dictionary

template <class SLOT>
void VPackedDictionary<SLOT>::_ReleaseAll()
{
	typename VPackedDictionary_base<SLOT>::SlotVector slots;
	slots.swap(this->fSlots);
	this->_ClearBase();
	for (SLOT& slot : slots)
	{
		if (slot.fValue != nullptr)
			slot.fValue->Release();
	}
}

template <class SLOT>
VError VPackedDictionary<SLOT>::ReadFromStream(VStream* stream)
{
	_ReleaseAll();
	if (stream->GetLastError() != VE_OK)
		return stream->GetLastError();
	VError error = this->_ReadKeysFromStream(stream);
	for (size_t i = 0; error == VE_OK && i < this->fSlots.size(); ++i)
	{
		VBagArray* list = new (std::nothrow) VBagArray();
		if (list == nullptr)
		{
			error = MemoryFull();
			break;
		}
		this->fSlots[i].fValue = list;
		error = list->ReadFromStreamMinimal(stream);
	}
	if (error != VE_OK)
		_ReleaseAll();
	return error;
}

template VError VPackedDictionary<VPackedValue_VBagArray>::ReadFromStream(VStream*);

}  // namespace velk
