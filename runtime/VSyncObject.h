// Base of the toolbox's waitable objects: counts the fiber tasks waiting on the object, so that a
// signal knows when the fiber scheduler's polling must be woken.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API VSyncObject
{
public:
	VSyncObject() = default;
	VSyncObject(const VSyncObject&) = delete;
	VSyncObject& operator=(const VSyncObject&) = delete;

	uint32 GetFiberWaiterCount() const { return fFiberWaiters.load(); }

protected:
	std::atomic<uint32> fFiberWaiters{0};
};

}  // namespace velk
