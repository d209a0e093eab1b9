// Raw blocks from the process memory manager (VObject::sCppMemMgr), for code that needs no manager of its own.
//
// How the toolbox meets a shortage of memory, here and in every other toolbox call:
// - Its own allocations never throw: blocks come from the memory manager (these functions, VCppMemMgr) or
//   from new (std::nothrow). The manager only answers null; the call that asked turns the null into the
//   toolbox's code on the task's error context, velk 100 for memory in general and velk 107 when a string
//   cannot get its buffer, and leaves its objects as its header says.
// - Standard containers and strings allocate with the throwing new. The toolbox call that owns one catches
//   std::bad_alloc around its use and reports it the same way, so a full container is a failed call, not
//   an unwinding caller.
// - No language exception leaves a toolbox call: callers test results and read the error context, and a
//   caller built without exception handling is as safe as any other.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API VMemory
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
