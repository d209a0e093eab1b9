// Page-granular memory straight from the kernel: reserved and committed in one step, optionally at a fixed
// address and optionally locked in RAM.
#pragma once

#include <cstddef>

namespace plat {

// The virtual-memory page size in bytes (read once).
size_t GetPageSize();

// size rounded up to a whole number of pages; 0 when the rounded size would not fit in size_t.
size_t RoundUpToPageSize(size_t size);

// Maps size bytes (rounded up to pages) of zeroed, readable and writable memory. With a hint, the memory is
// placed exactly there or not at all: an existing mapping at the hint is never replaced, and a hint that is
// not page-aligned, occupied, refused or moved by the kernel gives null. Null also for size 0 or no memory.
void* ReserveMemory(size_t size, const void* hint);

// ReserveMemory, then locks the pages in RAM (mlock). When locking is not allowed (limits, privileges) the
// memory is still returned, unlocked. locked (may be null) says whether the pages were locked.
void* ReservePhysicalMemory(size_t size, const void* hint, bool* locked);

// Unmaps size bytes (rounded up to pages) at address, which must be page-aligned; locks go with the mapping.
// A null address or size 0 does nothing.
void ReleaseMemory(void* address, size_t size);

}  // namespace plat
