// Raw blocks from the process memory manager (VObject::sCppMemMgr), for code that needs no manager of its own.
#pragma once

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VMemory
{
public:
	// A block of size bytes tagged for statistics; null when memory is short or no manager exists yet.
	static void* NewPtr(size_t size, int32 tag);
	// The same, zero-filled; a failed request touches nothing.
	static void* NewPtrClear(size_t size, int32 tag);
	// Null is ignored.
	static void DisposePtr(void* block);
	// VCppMemMgr::Realloc: the possibly moved block, or null (size 0 frees; on failure block stays valid).
	static void* SetPtrSize(void* block, size_t size);
};

}  // namespace velk
