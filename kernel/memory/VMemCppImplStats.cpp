// The arena's self-checks and statistics: walks over every chunk, page and free list.

#include <algorithm>

#include "kernel/memory/VMemCppImpl.h"
#include "kernel/memory/VMemStats.h"
#include "kernel/memory/VPageAllocationImpl.h"

namespace velk {

namespace {

const VFreeLargeLinks& LinksOf(const VLargeBlockHeader* block)
{
	return *static_cast<const VFreeLargeLinks*>(const_cast<VLargeBlockHeader*>(block)->GetData());
}

const VPageAllocationImpl* PageOf(const VLargeBlockHeader* block)
{
	return static_cast<const VPageAllocationImpl*>(const_cast<VLargeBlockHeader*>(block)->GetData());
}

}  // namespace

bool VMemCppImpl::_CheckChunk(const VMemImplAllocation* chunk, uint64& used) const
{
	if (chunk->fOwner != this || chunk->fCarved > chunk->fCapacity)
		return false;
	const char* at = chunk->GetArea();
	const char* end = chunk->GetCarvedEnd();
	uint32 previousSize = 0;
	bool previousFree = false;
	while (at < end)
	{
		const auto* block = reinterpret_cast<const VLargeBlockHeader*>(at);
		uint32 size = block->GetSize();
		if (block->fChunk != chunk || block->fPreviousSize != previousSize || size < sizeof(VLargeBlockHeader) ||
			size % 8 != 0 || size > uint64(end - at))
			return false;
		if (block->IsFree())
		{
			// Two free neighbours are merged unless their sum would not fit a size word.
			if (previousFree && uint64(previousSize) + size <= 0x7FFFFFFF)
				return false;
		}
		else if (block->IsPage())
		{
			const VPageAllocationImpl* page = PageOf(block);
			if (page->fOwner != &fThreadImpl || page->fPageSize + sizeof(VLargeBlockHeader) > size || page->IsEmpty() ||
				!page->Check())
				return false;
			if (page->IsFull() != (page->fNext == nullptr && page->fPrevious == nullptr &&
								   fThreadImpl.GetFirstPage(VMemThreadImpl::GetStepFromSize(page->fBlockSize, nullptr)) != page))
				return false;
			used += size - uint64(page->fCapacity) * page->fBlockSize + uint64(page->fUsedCount) * page->fBlockSize;
		}
		else
		{
			used += size;
		}
		previousSize = size;
		previousFree = block->IsFree();
		at += size;
	}
	// The last carved block is never free: it would have gone back to the chunk.
	return at == end && chunk->fLastCarvedSize == previousSize && !previousFree;
}

bool VMemCppImpl::_CheckFreeLists() const
{
	for (int32 step = 0; step < kStepCount; ++step)
	{
		const VLargeBlockHeader* previous = nullptr;
		for (const VLargeBlockHeader* block = fFreeLists[step]; block != nullptr; block = LinksOf(block).fNext)
		{
			if (!block->IsFree() || GetExactStepFromSize(block->GetSize()) != step || LinksOf(block).fPrevious != previous ||
				block->fChunk->fOwner != this || !block->fChunk->Contains(block))
				return false;
			previous = block;
		}
	}
	return true;
}

bool VMemCppImpl::Check(void*)
{
	uint64 used = 0;
	for (const VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext)
	{
		if (chunk->fNext != nullptr && chunk->fNext->fPrevious != chunk)
			return false;
		if (!_CheckChunk(chunk, used))
			return false;
	}
	return used == fUsedBytes && fThreadImpl.Check() && _CheckFreeLists();
}

void VMemCppImpl::GetStats(VMemStats& stats, int16)
{
	for (const VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext)
	{
		for (const char* at = chunk->GetArea(); at < chunk->GetCarvedEnd();)
		{
			const auto* block = reinterpret_cast<const VLargeBlockHeader*>(at);
			uint64 size = block->GetSize();
			++stats.fNbBigBlocks;
			stats.fBiggestBlock = std::max(stats.fBiggestBlock, size);
			if (block->IsFree())
			{
				++stats.fNbFreeBigBlocks;
				stats.fFreeMem += size;
				stats.fBiggestFreeBlock = std::max(stats.fBiggestFreeBlock, size);
			}
			else
			{
				++stats.fNbUsedBigBlocks;
				stats.fUsedMem += size;
				auto& byTag = stats.fBlocksByTag[block->fTag];
				++byTag.first;
				byTag.second += size;
				if (block->IsPage())
				{
					++stats.fNbPages;
					bool full = false;
					PageOf(block)->GetStats(stats, full);
				}
			}
			at += size;
		}
	}
}

}  // namespace velk
