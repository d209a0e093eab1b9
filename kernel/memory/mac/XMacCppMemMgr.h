// The platform half of the memory manager: the bundle setting that chooses the allocator, and the system
// allocator's usable-size query.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <string>

namespace velk {

class VELK_API XMacCppMemMgr
{
public:
	// The main bundle's "MemoryAllocator" value. False, name unchanged, when there is no bundle, no such
	// string, or the bundle cannot be read (memory short, lock refused): throws nothing. Safe before main.
	static bool GetBundleAllocatorName(std::string& name);

	// Usable bytes of a block from the system malloc; 0 for null.
	static size_t GetMallocSize(const void* block);
};

}  // namespace velk
