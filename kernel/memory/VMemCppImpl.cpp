#include "kernel/memory/VMemCppImpl.h"

#include <algorithm>
#include <cstring>

#include "files/VSystem.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VMemPoison.h"
#include "kernel/memory/VPageAllocationImpl.h"

namespace velk {

namespace {

// Two neighbours merge only while the sum still fits a size word.
constexpr uint64 kMaxMergedSize = 0x7FFFFFFF;
// A split leaves a free block only when it is at least this big; otherwise the whole block is handed out.
constexpr uint32 kMinRemainder = 8192;
constexpr size_t kOneMiB = 1048576;
// The first request size whose block is above 1 MiB: from there blocks are sized in 8-byte steps.
constexpr size_t kFirstBigRequest = 1048553;
// Header and free links of a free block stay readable; the rest of it is off limits.
constexpr size_t kFreeBlockKept = sizeof(VLargeBlockHeader) + sizeof(VFreeLargeLinks);

VFreeLargeLinks& LinksOf(VLargeBlockHeader* block)
{
	return *static_cast<VFreeLargeLinks*>(block->GetData());
}

VLargeBlockHeader* BlockAfter(VLargeBlockHeader* block, uint64 size)
{
	return reinterpret_cast<VLargeBlockHeader*>(reinterpret_cast<char*>(block) + size);
}

bool IsSmallBlock(const void* data)
{
	int32 word;
	std::memcpy(&word, static_cast<const char*>(data) - sizeof(int32) * 2, sizeof(word));
	return word < 0;
}

}  // namespace

VMemCppImpl::VMemCppImpl(int32 number) : fThreadImpl(this), fNumber(number)
{
}

VMemCppImpl::~VMemCppImpl()
{
	VMemImplAllocation* chunk = fChunks;
	while (chunk != nullptr)
	{
		VMemImplAllocation* next = chunk->fNext;
		UnpoisonArenaMemory(chunk->GetArea(), size_t(chunk->fCapacity));
		if (chunk->fOwnMemory)
			VSystem::VirtualFree(chunk, chunk->GetSystemSize(), chunk->fPhysical != 0);
		chunk = next;
	}
}

void VMemCppImpl::Init(VCppMemMgr* manager)
{
	fManager = manager;
}

int32 VMemCppImpl::GetStepFromSize(size_t size, int32* granularity)
{
	if (size > kOneMiB)
	{
		if (granularity != nullptr)
			*granularity = 0;
		return kBigStep;
	}
	if (granularity != nullptr)
		*granularity = 1024;
	return int32((size + 1023) / 1024);
}

int32 VMemCppImpl::GetExactStepFromSize(size_t size)
{
	return size > kOneMiB ? kBigStep : int32(size / 1024);
}

uint32 VMemCppImpl::GetLargeBlockSize(size_t size)
{
	if (size < kFirstBigRequest)
		return uint32((size + sizeof(VLargeBlockHeader) + 1023) & ~size_t(1023));
	return uint32((size + 31) & ~size_t(7));
}

VMemCppImpl* VMemCppImpl::GetOwner(const void* block)
{
	if (IsSmallBlock(block))
		return VPageAllocationImpl::FromBlock(VSmallBlockHeader::FromData(block))->fOwner->GetArena();
	return VLargeBlockHeader::FromData(block)->fChunk->fOwner;
}

void* VMemCppImpl::Malloc(size_t size, bool forceLarge, bool flag, int32 tag)
{
	if (size < kSmallLimit && !forceLarge)
		return fThreadImpl.Malloc(size, flag, uint32(tag));
	if (size > kMaxRequest)
		return nullptr;
	int32 flagBits = (flag ? VLargeBlockHeader::kFlagBit : 0) | (forceLarge ? VLargeBlockHeader::kPageBit : 0);
	VLargeBlockHeader* block = MallocLarge(GetLargeBlockSize(size), flagBits, uint32(tag));
	return block != nullptr ? block->GetData() : nullptr;
}

VLargeBlockHeader* VMemCppImpl::_TakeFromLists(uint32 size, int32 step)
{
	if (step < kBigStep)
	{
		// Every block on a list below the big one holds at least its step's worth, so the first one fits.
		if (VLargeBlockHeader* block = fFreeLists[step])
			return block;
		return nullptr;
	}

	VLargeBlockHeader* best = nullptr;
	for (VLargeBlockHeader* block = fFreeLists[kBigStep]; block != nullptr; block = LinksOf(block).fNext)
	{
		uint32 blockSize = block->GetSize();
		if (blockSize >= size && (best == nullptr || blockSize < best->GetSize()))
		{
			best = block;
			if (blockSize == size)
				break;
		}
	}
	return best;
}

VLargeBlockHeader* VMemCppImpl::_Carve(uint32 size)
{
	for (VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext)
	{
		if (VLargeBlockHeader* block = chunk->AllocateAtTheEnd(size))
			return block;
	}
	return nullptr;
}

VLargeBlockHeader* VMemCppImpl::MallocLarge(uint32 size, int32 flagBits, uint32 tag)
{
	int32 step = GetExactStepFromSize(size);
	VLargeBlockHeader* block = _TakeFromLists(size, step);
	if (block != nullptr)
	{
		RemoveBlockFromChainList(block);
		_Split(block, size);
	}
	if (block == nullptr)
		block = _Carve(size);
	for (int32 higher = kBigStep; block == nullptr && higher > step; --higher)
	{
		if (VLargeBlockHeader* candidate = fFreeLists[higher])
		{
			block = candidate;
			RemoveBlockFromChainList(block);
			_Split(block, size);
		}
	}
	if (block == nullptr && fAutoAllocation)
	{
		if (AddAllocation(std::max<size_t>(size, kAutoChunkSize) + 1088, nullptr, false))
			block = fChunks->AllocateAtTheEnd(size);
	}
	if (block == nullptr)
		return nullptr;

	// Split or carved, the block is marked in use with its final size: a block handed out whole keeps its true
	// size, or the walk to the next block would land inside it.
	uint32 blockSize = uint32(block->fSizeWord);
	UnpoisonArenaMemory(block, blockSize);
	block->fSizeWord = int32(blockSize) | flagBits;
	block->fTag = tag;
	fUsedBytes += blockSize;
	return block;
}

void VMemCppImpl::_Split(VLargeBlockHeader* block, uint32 size)
{
	VMemImplAllocation* chunk = block->fChunk;
	uint32 blockSize = block->GetSize();
	if (blockSize - size >= kMinRemainder)
	{
		uint32 rest = blockSize - size;
		VLargeBlockHeader* remainder = BlockAfter(block, size);
		UnpoisonArenaMemory(remainder, kFreeBlockKept);
		remainder->fChunk = chunk;
		remainder->fReserved = 0;
		remainder->fPreviousSize = size;
		remainder->fTag = 0;
		if (VLargeBlockHeader* next = chunk->GetNextBlock(block))
			next->fPreviousSize = rest;
		else
			chunk->fLastCarvedSize = rest;
		blockSize = size;
		_PushFree(remainder, rest);
	}
	// Marked in use with its final size; MallocLarge adds the flags.
	block->fSizeWord = int32(blockSize);
}

void VMemCppImpl::_PushFree(VLargeBlockHeader* block, uint32 size)
{
	UnpoisonArenaMemory(block, kFreeBlockKept);
	PoisonArenaMemory(reinterpret_cast<char*>(block) + kFreeBlockKept, size - kFreeBlockKept);
	block->fSizeWord = -int32(size);
	int32 step = GetExactStepFromSize(size);
	VFreeLargeLinks& links = LinksOf(block);
	links.fPrevious = nullptr;
	links.fNext = fFreeLists[step];
	if (links.fNext != nullptr)
		LinksOf(links.fNext).fPrevious = block;
	fFreeLists[step] = block;
}

void VMemCppImpl::RemoveBlockFromChainList(VLargeBlockHeader* block)
{
	VFreeLargeLinks& links = LinksOf(block);
	if (links.fPrevious != nullptr)
		LinksOf(links.fPrevious).fNext = links.fNext;
	else
		fFreeLists[GetExactStepFromSize(block->GetSize())] = links.fNext;
	if (links.fNext != nullptr)
		LinksOf(links.fNext).fPrevious = links.fPrevious;
}

void VMemCppImpl::Free(void* data)
{
	if (data == nullptr)
		return;
	VMemCppImpl* owner = GetOwner(data);
	if (owner != this)
	{
		owner->Free(data);
		return;
	}
	if (IsSmallBlock(data))
	{
		fThreadImpl.Free(data);
		return;
	}
	VLargeBlockHeader* block = VLargeBlockHeader::FromData(data);
	// A second free of a large block would link it twice.
	if (!block->IsFree())
		FreeLarge(block);
}

void VMemCppImpl::FreeLarge(VLargeBlockHeader* block)
{
	fUsedBytes -= block->GetSize();
	if (VLargeBlockHeader* merged = MergeContiguousFreeBlock(block))
		_PushFree(merged, merged->GetSize());
}

VLargeBlockHeader* VMemCppImpl::MergeContiguousFreeBlock(VLargeBlockHeader* block)
{
	VMemImplAllocation* chunk = block->fChunk;
	uint64 size = block->GetSize();

	VLargeBlockHeader* previous = chunk->GetPreviousBlock(block);
	if (previous != nullptr && previous->IsFree() && previous->GetSize() + size <= kMaxMergedSize)
	{
		RemoveBlockFromChainList(previous);
		size += previous->GetSize();
		block = previous;
	}
	VLargeBlockHeader* next = BlockAfter(block, size);
	if (reinterpret_cast<char*>(next) < chunk->GetCarvedEnd() && next->IsFree() && next->GetSize() + size <= kMaxMergedSize)
	{
		RemoveBlockFromChainList(next);
		size += next->GetSize();
		next = BlockAfter(block, size);
	}
	block->fSizeWord = -int32(size);

	if (reinterpret_cast<char*>(next) < chunk->GetCarvedEnd())
	{
		next->fPreviousSize = uint32(size);
		return block;
	}

	// The tail goes back to the chunk, with the free blocks just before it.
	chunk->ReduceFrom(block);
	while (chunk->fCarved > 0)
	{
		auto* last = reinterpret_cast<VLargeBlockHeader*>(chunk->GetCarvedEnd() - chunk->fLastCarvedSize);
		if (!last->IsFree())
			break;
		RemoveBlockFromChainList(last);
		chunk->ReduceFrom(last);
	}
	if (chunk->fCarved == 0 && fAutoAllocation && chunk->fOwnMemory)
		_ReleaseChunk(chunk);
	return nullptr;
}

void VMemCppImpl::_AddChunk(void* memory, size_t size, bool physical, bool ownMemory)
{
	VMemImplAllocation* chunk = VMemImplAllocation::Init(memory, size, this, physical, ownMemory);
	chunk->fNext = fChunks;
	if (fChunks != nullptr)
		fChunks->fPrevious = chunk;
	fChunks = chunk;
	fTotalBytes += size;
	if (fManager != nullptr)
		fManager->AddToTotalSystemMemory(size);
}

void VMemCppImpl::_ReleaseChunk(VMemImplAllocation* chunk)
{
	if (chunk->fPrevious != nullptr)
		chunk->fPrevious->fNext = chunk->fNext;
	else
		fChunks = chunk->fNext;
	if (chunk->fNext != nullptr)
		chunk->fNext->fPrevious = chunk->fPrevious;
	size_t size = chunk->GetSystemSize();
	fTotalBytes -= size;
	if (fManager != nullptr)
		fManager->SubtractFromTotalSystemMemory(size);
	UnpoisonArenaMemory(chunk->GetArea(), size_t(chunk->fCapacity));
	VSystem::VirtualFree(chunk, size, chunk->fPhysical != 0);
}

void* VMemCppImpl::Realloc(void* block, size_t size)
{
	if (block == nullptr)
		return Malloc(size, false, false, 0);
	uint32 tag = IsSmallBlock(block) ? VSmallBlockHeader::FromData(block)->fTag : VLargeBlockHeader::FromData(block)->fTag;
	void* moved = Malloc(size, false, false, int32(tag));
	if (moved == nullptr)
		return nullptr;
	std::memcpy(moved, block, std::min(GetPtrSize(block), size));
	Free(block);
	return moved;
}

size_t VMemCppImpl::GetPtrSize(const void* block)
{
	if (block == nullptr)
		return 0;
	if (IsSmallBlock(block))
		return size_t(VPageAllocationImpl::FromBlock(VSmallBlockHeader::FromData(block))->fBlockSize) - sizeof(VSmallBlockHeader);
	return size_t(VLargeBlockHeader::FromData(block)->GetSize()) - sizeof(VLargeBlockHeader);
}

bool VMemCppImpl::CheckPtr(const void* block)
{
	if (block == nullptr)
		return false;
	if (IsSmallBlock(block))
	{
		const VSmallBlockHeader* header = VSmallBlockHeader::FromData(block);
		return header->fPageOffset != 0 && !VPageAllocationImpl::FromBlock(header)->IsBlockFree(header);
	}
	return !VLargeBlockHeader::FromData(block)->IsFree();
}

bool VMemCppImpl::AddAllocation(size_t size, const void* hint, bool physical)
{
	if (size < 65536)
		return false;
	bool locked = false;
	void* memory = physical ? VSystem::VirtualAllocPhysicalMemory(size, hint, &locked) : VSystem::VirtualAlloc(size, hint);
	if (memory == nullptr)
		return false;
	_AddChunk(memory, size, physical, true);
	return true;
}

void VMemCppImpl::AddAlreadyAllocatedMem(void* memory, size_t size, bool physical)
{
	// Too small to hold a chunk header and one block: not worth a chunk.
	if (memory == nullptr || size < VMemImplAllocation::kOverhead + kMinRemainder)
		return;
	_AddChunk(memory, size, physical, false);
}

int32 VMemCppImpl::CountAllocations()
{
	int32 count = 0;
	for (VMemImplAllocation* chunk = fChunks; chunk != nullptr; chunk = chunk->fNext)
		++count;
	return count;
}

void VMemCppImpl::SetAutoAllocationState(bool on)
{
	fAutoAllocation = on;
}

uint64 VMemCppImpl::GetTotalAllocation() const
{
	return fTotalBytes;
}

void VMemCppImpl::GetMemUsageInfo(uint64& total, uint64& used)
{
	total = fTotalBytes;
	used = fUsedBytes;
}

int32 VMemCppImpl::GetAllocationBlockNumber(const void* block)
{
	if (block == nullptr)
		return 0;
	return GetOwner(block)->fNumber;
}

}  // namespace velk
