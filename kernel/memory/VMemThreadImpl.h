// The small-block part of an arena: requests under 8 KiB are served from pages, one list of pages that still
// have room per size class.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VMemCppImpl;
class VPageAllocationImpl;

class VELK_API VMemThreadImpl
{
public:
	static constexpr int32 kClassCount = 132;

	explicit VMemThreadImpl(VMemCppImpl* arena);

	// The size class of a block of size bytes (the request plus its 8-byte header, at most 8199), with the
	// class's granularity; the block size is size rounded up to it.
	static int32 GetStepFromSize(size_t size, int32* granularity);
	// The block size and page size of a class's blocks for a block of size bytes.
	static uint32 GetBlockSize(size_t size);
	static uint64 GetPageSize(uint32 blockSize);

	// A small block of size data bytes, or null when no page can be had.
	void* Malloc(size_t size, bool flag, uint32 tag);
	// Frees a block of one of this part's pages.
	void Free(void* data);

	void MarkPageAsFull(VPageAllocationImpl* page);
	void MarkPageAsNotFull(VPageAllocationImpl* page);
	// Takes an emptied page out of its list and gives it back to the arena as a large block.
	void RemovePage(VPageAllocationImpl* page);
	// Every page of every class list passes its own check, belongs here, and is linked both ways.
	bool Check() const;

	VMemCppImpl* GetArena() const { return fArena; }
	VPageAllocationImpl* GetFirstPage(int32 sizeClass) const { return fPages[sizeClass]; }

private:
	int32 _ClassOf(const VPageAllocationImpl* page) const;

	VMemCppImpl* fArena;
	VPageAllocationImpl* fPages[kClassCount];
};

}  // namespace velk
