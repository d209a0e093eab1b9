#include "kernel/memory/mac/XMacCppMemMgr.h"

#include <malloc.h>

#include <exception>

#include "platform/MainBundle.h"

namespace velk {

bool XMacCppMemMgr::GetBundleAllocatorName(std::string& name)
{
	// Runs while the process manager is built, before main: an exception here would end the process.
	try
	{
		return plat::GetMainBundleInfoString("MemoryAllocator", name);
	}
	catch (const std::exception&)
	{
		return false;
	}
}

size_t XMacCppMemMgr::GetMallocSize(const void* block)
{
	return block ? ::malloc_usable_size(const_cast<void*>(block)) : 0;
}

}  // namespace velk
