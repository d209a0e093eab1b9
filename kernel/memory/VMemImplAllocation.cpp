#include "kernel/memory/VMemImplAllocation.h"

#include <new>

#include "kernel/memory/VMemPoison.h"

namespace velk {

VMemImplAllocation* VMemImplAllocation::Init(void* memory, size_t size, VMemCppImpl* arena, bool physical, bool ownMemory)
{
	VMemImplAllocation* chunk = new (memory) VMemImplAllocation;
	chunk->fOwner = arena;
	chunk->fNext = nullptr;
	chunk->fPrevious = nullptr;
	chunk->fCapacity = uint64(size - kOverhead);
	chunk->fCarved = 0;
	chunk->fLastCarvedSize = 0;
	chunk->fPhysical = physical ? 1 : 0;
	chunk->fOwnMemory = ownMemory ? 1 : 0;
	for (uint8& reserved : chunk->fReserved)
		reserved = 0;
	PoisonArenaMemory(chunk->GetArea(), size_t(chunk->fCapacity));
	return chunk;
}

VLargeBlockHeader* VMemImplAllocation::AllocateAtTheEnd(uint32 size)
{
	if (fCapacity - fCarved < size)
		return nullptr;
	auto* block = reinterpret_cast<VLargeBlockHeader*>(GetCarvedEnd());
	UnpoisonArenaMemory(block, size);
	block->fChunk = this;
	block->fSizeWord = int32(size);
	block->fReserved = 0;
	block->fPreviousSize = uint32(fLastCarvedSize);
	block->fTag = 0;
	fCarved += size;
	fLastCarvedSize = size;
	return block;
}

bool VMemImplAllocation::IsLastBlock(const VLargeBlockHeader* block) const
{
	return reinterpret_cast<const char*>(block) + block->GetSize() == GetCarvedEnd();
}

bool VMemImplAllocation::Contains(const void* address) const
{
	const char* at = static_cast<const char*>(address);
	return at >= GetArea() && at < GetCarvedEnd();
}

void VMemImplAllocation::ReduceFrom(VLargeBlockHeader* block)
{
	char* from = reinterpret_cast<char*>(block);
	fLastCarvedSize = from == GetArea() ? 0 : block->fPreviousSize;
	size_t released = size_t(GetCarvedEnd() - from);
	fCarved = uint64(from - GetArea());
	PoisonArenaMemory(from, released);
}

VLargeBlockHeader* VMemImplAllocation::GetNextBlock(const VLargeBlockHeader* block) const
{
	const char* next = reinterpret_cast<const char*>(block) + block->GetSize();
	if (next >= GetCarvedEnd())
		return nullptr;
	return reinterpret_cast<VLargeBlockHeader*>(const_cast<char*>(next));
}

VLargeBlockHeader* VMemImplAllocation::GetPreviousBlock(const VLargeBlockHeader* block) const
{
	const char* at = reinterpret_cast<const char*>(block);
	if (at == GetArea() || block->fPreviousSize == 0)
		return nullptr;
	return reinterpret_cast<VLargeBlockHeader*>(const_cast<char*>(at - block->fPreviousSize));
}

}  // namespace velk
