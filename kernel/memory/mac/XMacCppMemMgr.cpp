#include "kernel/memory/mac/XMacCppMemMgr.h"

#include <malloc.h>

#include "platform/MainBundle.h"

namespace velk {

bool XMacCppMemMgr::GetBundleAllocatorName(std::string& name)
{
	return plat::GetMainBundleInfoString("MemoryAllocator", name);
}

size_t XMacCppMemMgr::GetMallocSize(const void* block)
{
	return block ? ::malloc_usable_size(const_cast<void*>(block)) : 0;
}

}  // namespace velk
