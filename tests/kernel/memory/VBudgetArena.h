// Test backend for the memory manager's arena mode: serves blocks from malloc up to the bytes of system
// memory it was handed, records the order in which arenas were asked, and sends a block to its owner on free.
#pragma once

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "kernel/memory/IMemCppImpl.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VMemStats.h"

namespace velk::test {

// Which arenas were asked for a block, in order; shared by the arenas of one manager.
class VArenaLog
{
public:
	void Add(int32 arena)
	{
		std::lock_guard<std::mutex> lock(fMutex);
		fAttempts.push_back(arena);
		fChanged.notify_all();
	}
	std::vector<int32> Take()
	{
		std::lock_guard<std::mutex> lock(fMutex);
		return std::exchange(fAttempts, {});
	}
	// Blocks until count attempts are recorded.
	void WaitFor(size_t count)
	{
		std::unique_lock<std::mutex> lock(fMutex);
		fChanged.wait(lock, [&] { return fAttempts.size() >= count; });
	}

private:
	std::mutex fMutex;
	std::condition_variable fChanged;
	std::vector<int32> fAttempts;
};

class VBudgetArena : public IMemCppImpl
{
public:
	// The system memory handed over stays the manager's: it gives it back itself.
	VBudgetArena(int32 number, VArenaLog* log) : fNumber(number), fLog(log) {}

	void Init(VCppMemMgr* manager) override { fManager = manager; }

	void* Malloc(size_t size, bool, bool, int32 tag) override
	{
		if (fLog)
			fLog->Add(fNumber);
		if (size > fBudget - fUsed)
			return nullptr;
		Header* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
		if (header == nullptr)
			return nullptr;
		*header = {this, size, tag};
		fUsed += size;
		++fBlocks;
		return header + 1;
	}
	void Free(void* block) override
	{
		if (block == nullptr)
			return;
		Header* header = static_cast<Header*>(block) - 1;
		VBudgetArena* owner = header->fOwner;
		owner->fUsed -= header->fSize;
		--owner->fBlocks;
		std::free(header);
	}
	void* Realloc(void*, size_t) override { return nullptr; }
	size_t GetPtrSize(const void* block) override { return block ? (static_cast<const Header*>(block) - 1)->fSize : 0; }
	bool CheckPtr(const void*) override { return true; }
	bool Check(void*) override { return true; }
	bool AddAllocation(size_t, const void*, bool) override { return false; }
	int32 CountAllocations() override { return int32(fSystemMemory.size()); }
	void SetAutoAllocationState(bool) override {}
	void GetStats(VMemStats& stats, int16) override
	{
		stats.fUsedMem += fUsed;
		stats.fFreeMem += fBudget - fUsed;
		stats.fNbUsedBigBlocks += fBlocks;
	}
	uint64 GetTotalAllocation() const override { return fBudget; }
	void GetMemUsageInfo(uint64& total, uint64& used) override
	{
		total = fBudget;
		used = fUsed;
	}
	void AddAlreadyAllocatedMem(void* memory, size_t size, bool) override
	{
		fSystemMemory.emplace_back(memory, size);
		fBudget += size;
		fManager->AddToTotalSystemMemory(size);
	}
	int32 GetAllocationBlockNumber(const void* block) override { return (static_cast<const Header*>(block) - 1)->fOwner->fNumber; }

	uint64 GetUsed() const { return fUsed; }
	// The tag the block was allocated with.
	static int32 TagOf(const void* block) { return (static_cast<const Header*>(block) - 1)->fTag; }
	const void* GetFirstMemory() const { return fSystemMemory.empty() ? nullptr : fSystemMemory.front().first; }

private:
	struct alignas(16) Header
	{
		VBudgetArena* fOwner;
		size_t fSize;
		int32 fTag;
	};

	int32 fNumber;
	VArenaLog* fLog;
	VCppMemMgr* fManager = nullptr;
	std::vector<std::pair<void*, size_t>> fSystemMemory;
	uint64 fBudget = 0;
	uint64 fUsed = 0;
	uint32 fBlocks = 0;
};

// A manager in arena mode over count budget arenas; the arenas stay owned by the manager.
inline VCppMemMgr* NewArenaManager(int32 count, VArenaLog* log, std::vector<VBudgetArena*>* arenas = nullptr)
{
	VCppMemMgr* manager = new VCppMemMgr(eAllocator_System);
	std::vector<IMemCppImpl*> backends;
	for (int32 i = 0; i < count; ++i)
	{
		VBudgetArena* arena = new VBudgetArena(i, log);
		backends.push_back(arena);
		if (arenas)
			arenas->push_back(arena);
	}
	manager->_UseArenasForTesting(std::move(backends));
	return manager;
}

}  // namespace velk::test
