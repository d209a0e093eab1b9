#include "kernel/memory/VMemCppImpl_stdlib.h"

#include <cstdlib>

#include "kernel/memory/mac/XMacCppMemMgr.h"

namespace velk {

namespace {

constexpr uint64 kSystemHeapFigure = 1048576;

}  // namespace

void VMemCppImpl_stdlib::Init(VCppMemMgr*)
{
}

void* VMemCppImpl_stdlib::Malloc(size_t size, bool, bool, int32)
{
	return std::malloc(size);
}

void VMemCppImpl_stdlib::Free(void* block)
{
	std::free(block);
}

void* VMemCppImpl_stdlib::Realloc(void* block, size_t size)
{
	return std::realloc(block, size);
}

size_t VMemCppImpl_stdlib::GetPtrSize(const void* block)
{
	return XMacCppMemMgr::GetMallocSize(block);
}

bool VMemCppImpl_stdlib::CheckPtr(const void*)
{
	return true;
}

bool VMemCppImpl_stdlib::Check(void*)
{
	return true;
}

bool VMemCppImpl_stdlib::AddAllocation(size_t, const void*, bool)
{
	return false;
}

int32 VMemCppImpl_stdlib::CountAllocations()
{
	return 1;
}

void VMemCppImpl_stdlib::SetAutoAllocationState(bool)
{
}

void VMemCppImpl_stdlib::GetStats(VMemStats&, int16)
{
}

uint64 VMemCppImpl_stdlib::GetTotalAllocation() const
{
	return kSystemHeapFigure;
}

void VMemCppImpl_stdlib::GetMemUsageInfo(uint64& total, uint64& used)
{
	total = kSystemHeapFigure;
	used = 0;
}

void VMemCppImpl_stdlib::AddAlreadyAllocatedMem(void*, size_t, bool)
{
}

int32 VMemCppImpl_stdlib::GetAllocationBlockNumber(const void*)
{
	return 0;
}

}  // namespace velk
