// The task manager's own lock: recursive per thread, over a pthread mutex and condition. It is never
// held across a wait for another task.
#pragma once

#include "kernel/VExport.h"

#include <pthread.h>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API XTaskMgrMutexImpl
{
public:
	XTaskMgrMutexImpl();
	// Wakes any thread still waiting on the condition until it can be destroyed.
	~XTaskMgrMutexImpl();

	XTaskMgrMutexImpl(const XTaskMgrMutexImpl&) = delete;
	XTaskMgrMutexImpl& operator=(const XTaskMgrMutexImpl&) = delete;

	// Blocks while another thread holds it; the holder may lock again.
	void Lock();
	// Drops one level; at the last another thread may take it.
	void Unlock();

private:
	pthread_mutex_t fMutex;
	pthread_cond_t fCondition;
	pthread_t fOwner{};
	bool fOwned = false;
	uint32 fCount = 0;
};

}  // namespace velk
