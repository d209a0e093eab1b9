#include "runtime/mac/XMacSyncEvent.h"

#include <cerrno>
#include <ctime>

#include "runtime/mac/XMacDeadline.h"
#include <sched.h>

namespace velk {

XMacSyncEvent::XMacSyncEvent()
{
	pthread_mutex_init(&fMutex, nullptr);
	pthread_condattr_t attributes;
	pthread_condattr_init(&attributes);
	pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
	pthread_cond_init(&fCondition, &attributes);
	pthread_condattr_destroy(&attributes);
}

XMacSyncEvent::~XMacSyncEvent()
{
	while (pthread_cond_destroy(&fCondition) == EBUSY)
	{
		pthread_cond_broadcast(&fCondition);
		sched_yield();
	}
	pthread_mutex_destroy(&fMutex);
}

void XMacSyncEvent::LockMutex()
{
	pthread_mutex_lock(&fMutex);
}

void XMacSyncEvent::UnlockMutex()
{
	pthread_mutex_unlock(&fMutex);
}

void XMacSyncEvent::Wait()
{
	pthread_cond_wait(&fCondition, &fMutex);
}

bool XMacSyncEvent::WaitForFlag(const bool& flag, int32 milliseconds)
{
	// One deadline for the whole wait: each wake-up that finds the flag clear waits for the rest only.
	const timespec deadline = MonotonicDeadlineIn(milliseconds);
	while (!flag)
	{
		if (pthread_cond_timedwait(&fCondition, &fMutex, &deadline) == ETIMEDOUT)
			break;
	}
	return flag;
}

void XMacSyncEvent::Broadcast()
{
	pthread_cond_broadcast(&fCondition);
}

}  // namespace velk
