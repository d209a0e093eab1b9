// A task's registration as a holder of reclaimable memory, kept in the memory manager's hog list.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class VELK_API VMemoryHog
{
public:
	// Records the calling task as the owner.
	VMemoryHog();

	VMemoryHog(const VMemoryHog&) = delete;
	VMemoryHog& operator=(const VMemoryHog&) = delete;

	uint32 GetOwnerTaskID() const { return fOwnerTaskID; }
	VCriticalSection& GetLock() { return fLock; }

private:
	VCriticalSection fLock;
	uint32 fOwnerTaskID;
};

}  // namespace velk
