// One toolbox arena of the memory manager: large blocks (8 KiB and more, in 1 KiB steps with a free list per
// step) carved from system chunks, and small blocks served from pages by its VMemThreadImpl. Blocks are
// 8-byte aligned: chunk, page and block headers are multiples of 8 and so are all block sizes. An arena takes no
// lock: the manager calls it under its own. A block can be freed through any arena of the same manager.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IMemCppImpl.h"
#include "kernel/memory/VMemImplAllocation.h"
#include "kernel/memory/VMemThreadImpl.h"

namespace velk {

class VELK_API VMemCppImpl : public IMemCppImpl
{
public:
	static constexpr int32 kStepCount = 1026;
	static constexpr int32 kBigStep = 1025;
	// Requests below this go to the small blocks.
	static constexpr size_t kSmallLimit = 8192;
	// The largest request an arena serves.
	static constexpr size_t kMaxRequest = 2147481598;
	// What the arena asks of the system when automatic allocation is on and nothing fits.
	static constexpr size_t kAutoChunkSize = 20970432;

	explicit VMemCppImpl(int32 number);
	// Gives back the chunks the arena obtained itself; memory handed over by the manager stays the manager's.
	~VMemCppImpl() override;

	VMemCppImpl(const VMemCppImpl&) = delete;
	VMemCppImpl& operator=(const VMemCppImpl&) = delete;

	void Init(VCppMemMgr* manager) override;

	void* Malloc(size_t size, bool forceLarge, bool flag, int32 tag) override;
	void Free(void* block) override;
	void* Realloc(void* block, size_t size) override;
	size_t GetPtrSize(const void* block) override;

	bool CheckPtr(const void* block) override;
	// Walks every chunk, page and free list; true when all agree (the used bytes included).
	bool Check(void* block) override;

	// Obtains a chunk of size bytes from the system; sizes below 64 KiB are refused.
	bool AddAllocation(size_t size, const void* hint, bool physical) override;
	int32 CountAllocations() override;
	void SetAutoAllocationState(bool on) override;
	void GetStats(VMemStats& stats, int16 arenaNumber) override;
	uint64 GetTotalAllocation() const override;
	void GetMemUsageInfo(uint64& total, uint64& used) override;

	void AddAlreadyAllocatedMem(void* memory, size_t size, bool physical) override;
	int32 GetAllocationBlockNumber(const void* block) override;

	// The large-block step of a block of size bytes: (size + 1023) / 1024 with granularity 1024, or kBigStep
	// with granularity 0 above 1 MiB.
	static int32 GetStepFromSize(size_t size, int32* granularity);
	// The list a free block of size bytes goes on: size / 1024, or kBigStep above 1 MiB.
	static int32 GetExactStepFromSize(size_t size);
	// The size of the large block that serves a request of size bytes.
	static uint32 GetLargeBlockSize(size_t size);

	// Called by the small-block part: a page is a large block.
	VLargeBlockHeader* MallocLarge(uint32 size, int32 flagBits, uint32 tag);
	void FreeLarge(VLargeBlockHeader* block);

	// The arena that owns a block of any arena.
	static VMemCppImpl* GetOwner(const void* block);

	uint64& UsedBytes() { return fUsedBytes; }
	int32 GetNumber() const { return fNumber; }

private:
	void _AddChunk(void* memory, size_t size, bool physical, bool ownMemory);
	void _ReleaseChunk(VMemImplAllocation* chunk);

	void _PushFree(VLargeBlockHeader* block, uint32 size);
	void RemoveBlockFromChainList(VLargeBlockHeader* block);
	// Joins block with its free neighbours (within the size limit) and gives a free tail back to its chunk;
	// returns the block to put on a list, or null when it went back to the chunk.
	VLargeBlockHeader* MergeContiguousFreeBlock(VLargeBlockHeader* block);
	// Hands out block for size bytes, keeping the rest as a free block when it is worth one.
	void _Split(VLargeBlockHeader* block, uint32 size);
	VLargeBlockHeader* _TakeFromLists(uint32 size, int32 step);
	VLargeBlockHeader* _Carve(uint32 size);

	bool _CheckChunk(const VMemImplAllocation* chunk, uint64& used) const;
	bool _CheckFreeLists() const;

	VMemThreadImpl fThreadImpl;
	VCppMemMgr* fManager = nullptr;
	VMemImplAllocation* fChunks = nullptr;
	VLargeBlockHeader* fFreeLists[kStepCount] = {};
	uint64 fTotalBytes = 0;
	uint64 fUsedBytes = 0;
	int32 fNumber;
	bool fAutoAllocation = false;
};

}  // namespace velk
