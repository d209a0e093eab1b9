// A growable byte buffer owned through a memory manager; it grows by half of what is needed, at most
// kMaxGrowth bytes more, in kGranularity steps. Past a few MiB that means a resize every kMaxGrowth bytes,
// cheap only because the manager's Realloc remaps large blocks rather than copying them (system mode).
// One thread at a time.
#pragma once

#include "kernel/VExport.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"

namespace velk {

template <uint64 kGranularity = 1024, uint64 kGrowthDivisor = 2, uint64 kMaxGrowth = 1048576>
class VELK_API VMemoryBuffer : public VObject
{
	static_assert(kGranularity > 0 && (kGranularity & (kGranularity - 1)) == 0, "granularity must be a power of 2");
	static_assert(kGrowthDivisor > 0);

public:
	// allocator must outlive the buffer; every block of the buffer comes from it and goes back to it.
	explicit VMemoryBuffer(VCppMemMgr* allocator = VObject::sCppMemMgr) : fAllocator(allocator) {}
	~VMemoryBuffer() override
	{
		if (fData != nullptr)
			fAllocator->Free(fData);
	}

	VMemoryBuffer(const VMemoryBuffer&) = delete;

	// Copies the source's bytes into a block of exactly their size (or the current one when its capacity
	// already is that size). When memory is short the buffer is left as it was. Self-assignment does nothing.
	VMemoryBuffer& operator=(const VMemoryBuffer& source)
	{
		if (this == &source || !SetDataSizeExactly(source.fSize))
			return *this;
		if (fSize > 0)
			std::memcpy(fData, source.fData, size_t(fSize));
		return *this;
	}

	// Makes room for at least needed bytes, with amortized headroom; the size is unchanged. False, buffer as
	// it was, when memory is short, the capacity would overflow, or needed is below the current size.
	bool _EnlargeAmortized(uint64 needed)
	{
		if (fAllocator == nullptr || needed < fSize)
			return false;
		if (needed == 0)
			return true;
		uint64 growth = std::min(needed / kGrowthDivisor, kMaxGrowth);
		constexpr uint64 kMax = std::numeric_limits<uint64>::max();
		if (needed > kMax - growth || needed + growth > kMax - (kGranularity - 1))
			return false;
		uint64 capacity = (needed + growth + kGranularity - 1) & ~(kGranularity - 1);
		void* block = _Resize(capacity);
		if (block == nullptr)
		{
			capacity = needed;
			block = _Resize(capacity);
			if (block == nullptr)
				return false;
		}
		fData = static_cast<uint8*>(block);
		fCapacity = capacity;
		return true;
	}

	// Appends length bytes. False, buffer as it was, when memory is short, the size would overflow, or
	// bytes is null with a non-zero length.
	bool AddData(const void* bytes, uint64 length)
	{
		if (length == 0)
			return true;
		// No object is larger than the largest ptrdiff_t, so such a length cannot be real.
		if (bytes == nullptr || length > uint64(std::numeric_limits<ptrdiff_t>::max()) ||
			length > std::numeric_limits<uint64>::max() - fSize)
			return false;
		if (fSize + length > fCapacity && !_EnlargeAmortized(fSize + length))
			return false;
		std::memcpy(fData + fSize, bytes, size_t(length));
		fSize += length;
		return true;
	}

	// Gives the block exactly size bytes when its capacity differs (size 0 frees it), then makes size the
	// size in use; bytes past the old size have no defined content. False, buffer as it was, when memory is
	// short. A block made from nothing carries tag in the memory manager.
	bool SetDataSizeExactly(uint64 size, int32 tag = kMEMTAG_BUFFER)
	{
		if (fAllocator == nullptr)
			return false;
		if (fCapacity != size)
		{
			if (size == 0)
			{
				if (fData != nullptr)
					fAllocator->Free(fData);
				fData = nullptr;
			}
			else
			{
				void* block = _Resize(size, tag);
				if (block == nullptr)
					return false;
				fData = static_cast<uint8*>(block);
			}
			fCapacity = size;
		}
		fSize = size;
		return true;
	}

	// For owners that write into the block themselves: the size in use, never beyond the capacity.
	void SetDataSize(uint64 size) { fSize = std::min(size, fCapacity); }

	const uint8* GetDataPtr() const { return fData; }
	uint8* GetDataPtr() { return fData; }
	uint64 GetDataSize() const { return fSize; }
	uint64 GetAllocatedSize() const { return fCapacity; }
	VCppMemMgr* GetAllocator() const { return fAllocator; }

private:
	void* _Resize(uint64 capacity, int32 tag = kMEMTAG_BUFFER)
	{
		if (capacity > std::numeric_limits<size_t>::max())
			return nullptr;
		if (fData != nullptr)
			return fAllocator->Realloc(fData, size_t(capacity));
		return fAllocator->Malloc(size_t(capacity), false, tag, -1);
	}

	VCppMemMgr* fAllocator;
	uint8* fData = nullptr;
	uint64 fSize = 0;
	uint64 fCapacity = 0;
};

}  // namespace velk
