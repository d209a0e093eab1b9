// A page of small blocks of one size: a 56-byte header inside a large block, followed by the blocks, carved in
// order and recycled through a list of freed blocks.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VMemThreadImpl;
class VMemStats;

// Header of a small block (8 bytes, then the data): minus the block's offset from its page header (one less
// again for the manager's flag), so always negative, then the tag.
struct VSmallBlockHeader
{
	int32 fPageOffset;
	uint32 fTag;

	// Offsets are even (the page header is 56 bytes and block sizes multiples of 16), so the flag's extra one
	// drops out again.
	uint32 GetOffset() const { return uint32(-int64(fPageOffset)) & ~uint32(1); }
	void* GetData() { return reinterpret_cast<char*>(this) + sizeof(VSmallBlockHeader); }
	static VSmallBlockHeader* FromData(const void* data)
	{
		return reinterpret_cast<VSmallBlockHeader*>(const_cast<char*>(static_cast<const char*>(data)) - sizeof(VSmallBlockHeader));
	}
};

class VELK_API VPageAllocationImpl
{
public:
	static constexpr uint64 kHeaderSize = 56;

	// pageSize bytes (this header included) for blocks of blockSize bytes (their header included).
	VPageAllocationImpl(VMemThreadImpl* owner, uint64 pageSize, uint16 blockSize);

	// A block (its header filled in), or null when the page is full. Adds the block size to usedBytes.
	VSmallBlockHeader* Malloc(bool flag, uint32 tag, uint64& usedBytes);
	// Takes block back; subtracts the block size from usedBytes.
	void Free(VSmallBlockHeader* block, uint64& usedBytes);

	// True when block lies outside the carved part or is on the free list.
	bool IsBlockFree(const VSmallBlockHeader* block) const;
	// The free list and the counts agree with each other and with the carved part.
	bool Check() const;
	// Adds this page's blocks to stats (see VMemCppImpl::GetStats); full tells whether every block is used.
	void GetStats(VMemStats& stats, bool& full) const;

	bool IsFull() const { return fUsedCount == fCapacity; }
	bool IsEmpty() const { return fUsedCount == 0; }
	VSmallBlockHeader* BlockAt(uint64 offset) const
	{
		return reinterpret_cast<VSmallBlockHeader*>(reinterpret_cast<char*>(const_cast<VPageAllocationImpl*>(this)) + offset);
	}
	static VPageAllocationImpl* FromBlock(const VSmallBlockHeader* block)
	{
		return reinterpret_cast<VPageAllocationImpl*>(reinterpret_cast<char*>(const_cast<VSmallBlockHeader*>(block)) - block->GetOffset());
	}

	VMemThreadImpl* fOwner;
	VSmallBlockHeader* fFreeList;
	VPageAllocationImpl* fNext;
	VPageAllocationImpl* fPrevious;
	uint64 fPageSize;
	uint64 fCarvedEnd;
	uint16 fFreeCount;
	uint16 fUsedCount;
	uint16 fCapacity;
	uint16 fBlockSize;
};

static_assert(sizeof(VSmallBlockHeader) == 8);
static_assert(sizeof(VPageAllocationImpl) == VPageAllocationImpl::kHeaderSize);

}  // namespace velk
