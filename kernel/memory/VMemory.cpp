#include "kernel/memory/VMemory.h"

#include <cstring>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"

namespace velk {

void* VMemory::NewPtr(size_t size, int32 tag)
{
	VCppMemMgr* manager = VObject::sCppMemMgr;
	return manager ? manager->Malloc(size, false, tag, -1) : nullptr;
}

void* VMemory::NewPtrClear(size_t size, int32 tag)
{
	void* block = NewPtr(size, tag);
	if (block != nullptr && size > 0)
		std::memset(block, 0, size);
	return block;
}

void VMemory::DisposePtr(void* block)
{
	VCppMemMgr* manager = VObject::sCppMemMgr;
	if (block != nullptr && manager != nullptr)
		manager->Free(block);
}

void* VMemory::SetPtrSize(void* block, size_t size)
{
	VCppMemMgr* manager = VObject::sCppMemMgr;
	return manager ? manager->Realloc(block, size) : nullptr;
}

}  // namespace velk
