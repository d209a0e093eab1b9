#include "kernel/memory/VPageAllocationImpl.h"

#include <algorithm>

#include "kernel/memory/VMemPoison.h"
#include "kernel/memory/VMemStats.h"

namespace velk {

namespace {

// A freed block keeps its header and the link to the next freed block; the rest is off limits.
constexpr size_t kFreeBlockKept = sizeof(VSmallBlockHeader) + sizeof(void*);

VSmallBlockHeader*& NextFree(VSmallBlockHeader* block)
{
	return *static_cast<VSmallBlockHeader**>(block->GetData());
}

VSmallBlockHeader* NextFree(const VSmallBlockHeader* block)
{
	return *static_cast<VSmallBlockHeader* const*>(const_cast<VSmallBlockHeader*>(block)->GetData());
}

}  // namespace

VPageAllocationImpl::VPageAllocationImpl(VMemThreadImpl* owner, uint64 pageSize, uint16 blockSize)
	: fOwner(owner)
	, fFreeList(nullptr)
	, fNext(nullptr)
	, fPrevious(nullptr)
	, fPageSize(pageSize)
	, fCarvedEnd(kHeaderSize)
	, fFreeCount(0)
	, fUsedCount(0)
	, fCapacity(uint16((pageSize - kHeaderSize) / blockSize))
	, fBlockSize(blockSize)
{
	PoisonArenaMemory(BlockAt(kHeaderSize), size_t(pageSize - kHeaderSize));
}

VSmallBlockHeader* VPageAllocationImpl::Malloc(bool flag, uint32 tag, uint64& usedBytes)
{
	VSmallBlockHeader* block = fFreeList;
	if (block != nullptr)
	{
		fFreeList = NextFree(block);
		--fFreeCount;
	}
	else
	{
		if (fCarvedEnd + fBlockSize > kHeaderSize + uint64(fCapacity) * fBlockSize)
			return nullptr;
		block = BlockAt(fCarvedEnd);
		fCarvedEnd += fBlockSize;
	}
	UnpoisonArenaMemory(block, fBlockSize);
	int64 offset = reinterpret_cast<char*>(block) - reinterpret_cast<char*>(this);
	block->fPageOffset = int32(-offset - (flag ? 1 : 0));
	block->fTag = tag;
	++fUsedCount;
	usedBytes += fBlockSize;
	return block;
}

void VPageAllocationImpl::Free(VSmallBlockHeader* block, uint64& usedBytes)
{
	NextFree(block) = fFreeList;
	fFreeList = block;
	++fFreeCount;
	--fUsedCount;
	usedBytes -= fBlockSize;
	PoisonArenaMemory(reinterpret_cast<char*>(block) + kFreeBlockKept, fBlockSize - kFreeBlockKept);
}

bool VPageAllocationImpl::IsBlockFree(const VSmallBlockHeader* block) const
{
	uint64 offset = uint64(reinterpret_cast<const char*>(block) - reinterpret_cast<const char*>(this));
	if (offset < kHeaderSize || offset >= fCarvedEnd)
		return true;
	for (const VSmallBlockHeader* free = fFreeList; free != nullptr; free = NextFree(free))
	{
		if (free == block)
			return true;
	}
	return false;
}

bool VPageAllocationImpl::Check() const
{
	if (fBlockSize < 16 || fCapacity != (fPageSize - kHeaderSize) / fBlockSize)
		return false;
	if (fCarvedEnd < kHeaderSize || fCarvedEnd > kHeaderSize + uint64(fCapacity) * fBlockSize ||
		(fCarvedEnd - kHeaderSize) % fBlockSize != 0)
		return false;
	uint64 carvedBlocks = (fCarvedEnd - kHeaderSize) / fBlockSize;
	if (uint64(fFreeCount) + fUsedCount != carvedBlocks)
		return false;

	// The walk is bounded by the count so a looping list ends too.
	uint32 seen = 0;
	for (const VSmallBlockHeader* free = fFreeList; free != nullptr; free = NextFree(free))
	{
		if (++seen > fFreeCount)
			return false;
		uint64 offset = uint64(reinterpret_cast<const char*>(free) - reinterpret_cast<const char*>(this));
		if (offset < kHeaderSize || offset >= fCarvedEnd || (offset - kHeaderSize) % fBlockSize != 0)
			return false;
		if (free->GetOffset() != offset)
			return false;
	}
	return seen == fFreeCount;
}

void VPageAllocationImpl::GetStats(VMemStats& stats, bool& full) const
{
	uint32 used = fUsedCount;
	uint32 free = fFreeCount;
	stats.fNbSmallBlocks += used + free;
	stats.fNbUsedSmallBlocks += used;
	stats.fNbFreeSmallBlocks += free;
	// The page was counted whole as a used big block: only its handed-out blocks are used memory.
	stats.fUsedMem -= uint64(fCapacity) * fBlockSize;
	stats.fUsedMem += uint64(used) * fBlockSize;
	stats.fFreeMem += uint64(free) * fBlockSize;
	if (free > 0)
		stats.fBiggestFreeBlock = std::max<uint64>(stats.fBiggestFreeBlock, fBlockSize);

	auto& bySize = stats.fSmallBlocksBySize[fBlockSize];
	bySize.first += used;
	bySize.second += free;

	full = used == fCapacity;
	auto& pages = stats.fPagesBySize[fBlockSize];
	if (full)
		++pages.first;
	else
		++pages.second;
}

}  // namespace velk
