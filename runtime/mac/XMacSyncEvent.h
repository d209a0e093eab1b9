// The platform half of VSyncEvent: a pthread mutex and a condition whose timed waits run on the
// monotonic clock, so a change of the wall clock neither shortens nor stretches a wait.
#pragma once

#include "kernel/VExport.h"

#include <pthread.h>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API XMacSyncEvent
{
public:
	XMacSyncEvent();
	// Wakes any thread still waiting on the condition until it can be destroyed.
	~XMacSyncEvent();

	XMacSyncEvent(const XMacSyncEvent&) = delete;
	XMacSyncEvent& operator=(const XMacSyncEvent&) = delete;

	void LockMutex();
	void UnlockMutex();

	// With the mutex held: one wait on the condition, which may end spuriously.
	void Wait();

	// With the mutex held: waits until flag is true or milliseconds have passed on the monotonic clock,
	// through spurious wake-ups and through sets undone by a reset before this thread ran; returns flag.
	bool WaitForFlag(const bool& flag, int32 milliseconds);

	void Broadcast();

private:
	pthread_mutex_t fMutex;
	pthread_cond_t fCondition;
};

}  // namespace velk
