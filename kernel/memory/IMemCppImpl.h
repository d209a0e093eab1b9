// What the memory manager asks of an allocator backend: the system allocator or one toolbox arena.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VCppMemMgr;
class VMemStats;

class VELK_API IMemCppImpl
{
public:
	virtual ~IMemCppImpl() = default;

	// Called once by the manager that owns the backend, before any other operation.
	virtual void Init(VCppMemMgr* manager) = 0;

	// A block of at least size bytes, or null. forceLarge and flag matter to the arenas only; tag is a
	// four-character code kept for statistics.
	virtual void* Malloc(size_t size, bool forceLarge, bool flag, int32 tag) = 0;
	virtual void Free(void* block) = 0;
	// The backend's own resize, with realloc's contract (null on failure, the block left intact). The manager
	// uses it in system mode only; in arena mode it copies into a fresh block instead.
	virtual void* Realloc(void* block, size_t size) = 0;
	// Usable bytes of the block; 0 for null.
	virtual size_t GetPtrSize(const void* block) = 0;

	virtual bool CheckPtr(const void* block) = 0;
	virtual bool Check(void* block) = 0;

	// Obtains size bytes of system memory for the backend itself; false when refused.
	virtual bool AddAllocation(size_t size, const void* hint, bool physical) = 0;
	virtual int32 CountAllocations() = 0;
	virtual void SetAutoAllocationState(bool on) = 0;
	// Adds this backend's figures to stats.
	virtual void GetStats(VMemStats& stats, int16 arenaNumber) = 0;
	virtual uint64 GetTotalAllocation() const = 0;
	virtual void GetMemUsageInfo(uint64& total, uint64& used) = 0;

	// Arena operations the manager needs in arena mode. Hands system memory that the manager obtained to the
	// backend, which keeps it for the life of the process.
	virtual void AddAlreadyAllocatedMem(void* memory, size_t size, bool physical) = 0;
	// Number of the arena that owns the block.
	virtual int32 GetAllocationBlockNumber(const void* block) = 0;
};

}  // namespace velk
