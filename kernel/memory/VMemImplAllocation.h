// One system chunk of an arena: a 56-byte header followed by the carving area, from which large blocks are cut
// in address order. Also the large-block header that every carved block starts with.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VMemCppImpl;
class VMemImplAllocation;

// Header of a large block (24 bytes, then the data). The size word holds the size in bytes, headers included:
// positive while in use, with bit 0 the manager's flag and bit 1 set for a page of small blocks; minus the
// size while free, the data then starting with the free-list links.
struct VLargeBlockHeader
{
	VMemImplAllocation* fChunk;
	int32 fSizeWord;
	uint32 fReserved;
	uint32 fPreviousSize;
	uint32 fTag;

	static constexpr int32 kFlagBit = 1;
	static constexpr int32 kPageBit = 2;
	static constexpr int32 kSizeMask = 0x7FFFFFFC;

	bool IsFree() const { return fSizeWord < 0; }
	bool IsPage() const { return fSizeWord > 0 && (fSizeWord & kPageBit) != 0; }
	// The size in bytes, whether free or in use.
	uint32 GetSize() const { return uint32(fSizeWord < 0 ? -fSizeWord : fSizeWord & kSizeMask); }
	void* GetData() { return reinterpret_cast<char*>(this) + sizeof(VLargeBlockHeader); }
	static VLargeBlockHeader* FromData(const void* data)
	{
		return reinterpret_cast<VLargeBlockHeader*>(const_cast<char*>(static_cast<const char*>(data)) - sizeof(VLargeBlockHeader));
	}
};

// Free-list links kept in the first 16 data bytes of a free large block.
struct VFreeLargeLinks
{
	VLargeBlockHeader* fNext;
	VLargeBlockHeader* fPrevious;
};

class VELK_API VMemImplAllocation
{
public:
	// Bytes a chunk of size bytes loses to its header and its trailing slack: the carving area is size - 64.
	static constexpr size_t kOverhead = 64;

	// Sets up a chunk over size bytes of memory (at least kOverhead), owned by arena. ownMemory: the arena
	// obtained it and may give it back once it empties; memory handed over by the manager is kept.
	static VMemImplAllocation* Init(void* memory, size_t size, VMemCppImpl* arena, bool physical, bool ownMemory);

	// Cuts size bytes from the uncarved end; null when they do not fit. The block's previous size is the last
	// carved block's.
	VLargeBlockHeader* AllocateAtTheEnd(uint32 size);
	// True when block is the last carved one.
	bool IsLastBlock(const VLargeBlockHeader* block) const;
	// True when address lies in the carved part.
	bool Contains(const void* address) const;
	// Gives the carved tail from block on back to the uncarved area; block must be the last carved block.
	void ReduceFrom(VLargeBlockHeader* block);

	char* GetArea() const { return const_cast<char*>(reinterpret_cast<const char*>(this)) + sizeof(VMemImplAllocation); }
	char* GetCarvedEnd() const { return GetArea() + fCarved; }
	VLargeBlockHeader* GetFirstBlock() const { return reinterpret_cast<VLargeBlockHeader*>(GetArea()); }
	// The carved block after block, or null when block is the last.
	VLargeBlockHeader* GetNextBlock(const VLargeBlockHeader* block) const;
	// The carved block before block, or null when block is the first.
	VLargeBlockHeader* GetPreviousBlock(const VLargeBlockHeader* block) const;
	// The chunk's size as it was obtained: what VirtualFree needs.
	size_t GetSystemSize() const { return size_t(fCapacity) + kOverhead; }

	VMemCppImpl* fOwner;
	VMemImplAllocation* fNext;
	VMemImplAllocation* fPrevious;
	uint64 fCapacity;
	uint64 fCarved;
	uint64 fLastCarvedSize;
	uint8 fPhysical;
	uint8 fOwnMemory;
	uint8 fReserved[6];
};

static_assert(sizeof(VLargeBlockHeader) == 24);
static_assert(sizeof(VFreeLargeLinks) == 16);
static_assert(sizeof(VMemImplAllocation) == 56);

}  // namespace velk
