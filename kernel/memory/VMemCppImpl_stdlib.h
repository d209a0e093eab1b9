// The system allocator as a memory-manager backend: a plain forwarder to malloc, free, realloc and the
// system's usable-size query.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IMemCppImpl.h"

namespace velk {

class VELK_API VMemCppImpl_stdlib : public IMemCppImpl
{
public:
	VMemCppImpl_stdlib() = default;
	~VMemCppImpl_stdlib() override = default;

	void Init(VCppMemMgr* manager) override;

	// malloc(size); the other arguments are ignored.
	void* Malloc(size_t size, bool forceLarge, bool flag, int32 tag) override;
	void Free(void* block) override;
	// realloc(block, size): large blocks move by remapping their pages rather than by copying, so growing
	// them costs no more than their new pages.
	void* Realloc(void* block, size_t size) override;
	size_t GetPtrSize(const void* block) override;

	// The system allocator keeps no books this class could check: both answer true.
	bool CheckPtr(const void* block) override;
	bool Check(void* block) override;

	// The system allocator takes no memory from the manager: false.
	bool AddAllocation(size_t size, const void* hint, bool physical) override;
	// Always 1: the system heap counts as one allocation.
	int32 CountAllocations() override;
	void SetAutoAllocationState(bool on) override;
	void GetStats(VMemStats& stats, int16 arenaNumber) override;
	// A fixed 1 MiB: the system heap's real size is not known here.
	uint64 GetTotalAllocation() const override;
	// total 1 MiB, used 0.
	void GetMemUsageInfo(uint64& total, uint64& used) override;

	// Nothing: system memory is never handed to this backend.
	void AddAlreadyAllocatedMem(void* memory, size_t size, bool physical) override;
	// Always 0.
	int32 GetAllocationBlockNumber(const void* block) override;
};

}  // namespace velk
