#include "kernel/memory/VMemThreadImpl.h"

#include <new>

#include "kernel/memory/VMemCppImpl.h"
#include "kernel/memory/VPageAllocationImpl.h"

namespace velk {

VMemThreadImpl::VMemThreadImpl(VMemCppImpl* arena) : fArena(arena), fPages{}
{
}

int32 VMemThreadImpl::GetStepFromSize(size_t size, int32* granularity)
{
	int32 unit;
	int32 step;
	if (size <= 1024)
	{
		unit = 16;
		step = int32((size + 15) / 16);
	}
	else if (size <= 4096)
	{
		unit = 64;
		step = 65 + int32((size - 1024 + 63) / 64);
	}
	else
	{
		unit = 256;
		step = 114 + int32((size - 4096 + 255) / 256);
	}
	if (granularity != nullptr)
		*granularity = unit;
	return step;
}

uint32 VMemThreadImpl::GetBlockSize(size_t size)
{
	int32 unit = 0;
	GetStepFromSize(size, &unit);
	return uint32((size + size_t(unit) - 1) / size_t(unit) * size_t(unit));
}

uint64 VMemThreadImpl::GetPageSize(uint32 blockSize)
{
	// 8, 16, 64 and 128 KiB large blocks, less their header.
	if (blockSize < 256)
		return 8168;
	if (blockSize <= 1024)
		return 16360;
	if (blockSize <= 4096)
		return 65512;
	return 131048;
}

void* VMemThreadImpl::Malloc(size_t size, bool flag, uint32 tag)
{
	size_t needed = size + sizeof(VSmallBlockHeader);
	int32 sizeClass = GetStepFromSize(needed, nullptr);
	VPageAllocationImpl* page = fPages[sizeClass];
	if (page == nullptr)
	{
		uint32 blockSize = GetBlockSize(needed);
		uint64 pageSize = GetPageSize(blockSize);
		void* memory = fArena->Malloc(size_t(pageSize), true, false, 0);
		if (memory == nullptr)
			return nullptr;
		page = new (memory) VPageAllocationImpl(this, pageSize, uint16(blockSize));
		// The page counts as used only through the blocks it hands out.
		fArena->UsedBytes() -= uint64(page->fCapacity) * blockSize;
		MarkPageAsNotFull(page);
	}

	VSmallBlockHeader* block = page->Malloc(flag, tag, fArena->UsedBytes());
	if (page->IsFull())
		MarkPageAsFull(page);
	return block->GetData();
}

void VMemThreadImpl::Free(void* data)
{
	VSmallBlockHeader* block = VSmallBlockHeader::FromData(data);
	VPageAllocationImpl* page = VPageAllocationImpl::FromBlock(block);
	bool wasFull = page->IsFull();
	page->Free(block, fArena->UsedBytes());
	if (page->IsEmpty())
		RemovePage(page);
	else if (wasFull)
		MarkPageAsNotFull(page);
}

int32 VMemThreadImpl::_ClassOf(const VPageAllocationImpl* page) const
{
	return GetStepFromSize(page->fBlockSize, nullptr);
}

void VMemThreadImpl::MarkPageAsFull(VPageAllocationImpl* page)
{
	int32 sizeClass = _ClassOf(page);
	if (page->fPrevious != nullptr)
		page->fPrevious->fNext = page->fNext;
	else if (fPages[sizeClass] == page)
		fPages[sizeClass] = page->fNext;
	if (page->fNext != nullptr)
		page->fNext->fPrevious = page->fPrevious;
	page->fNext = nullptr;
	page->fPrevious = nullptr;
}

void VMemThreadImpl::MarkPageAsNotFull(VPageAllocationImpl* page)
{
	int32 sizeClass = _ClassOf(page);
	page->fPrevious = nullptr;
	page->fNext = fPages[sizeClass];
	if (page->fNext != nullptr)
		page->fNext->fPrevious = page;
	fPages[sizeClass] = page;
}

void VMemThreadImpl::RemovePage(VPageAllocationImpl* page)
{
	MarkPageAsFull(page);
	// Undoes what was taken off when the page was made, so the used bytes come back to where they were.
	fArena->UsedBytes() += uint64(page->fCapacity) * page->fBlockSize;
	fArena->FreeLarge(VLargeBlockHeader::FromData(page));
}

bool VMemThreadImpl::Check() const
{
	for (int32 sizeClass = 0; sizeClass < kClassCount; ++sizeClass)
	{
		const VPageAllocationImpl* previous = nullptr;
		for (const VPageAllocationImpl* page = fPages[sizeClass]; page != nullptr; page = page->fNext)
		{
			if (page->fOwner != this || page->fPrevious != previous || _ClassOf(page) != sizeClass)
				return false;
			if (page->IsFull() || !page->Check())
				return false;
			previous = page;
		}
	}
	return true;
}

}  // namespace velk
