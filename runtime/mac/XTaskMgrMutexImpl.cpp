#include "runtime/mac/XTaskMgrMutexImpl.h"

#include <cerrno>
#include <sched.h>

namespace velk {

XTaskMgrMutexImpl::XTaskMgrMutexImpl()
{
	pthread_mutex_init(&fMutex, nullptr);
	pthread_cond_init(&fCondition, nullptr);
}

XTaskMgrMutexImpl::~XTaskMgrMutexImpl()
{
	while (pthread_cond_destroy(&fCondition) == EBUSY)
	{
		pthread_cond_broadcast(&fCondition);
		sched_yield();
	}
	pthread_mutex_destroy(&fMutex);
}

void XTaskMgrMutexImpl::Lock()
{
	pthread_t self = pthread_self();
	pthread_mutex_lock(&fMutex);
	while (fOwned && !pthread_equal(fOwner, self))
		pthread_cond_wait(&fCondition, &fMutex);
	++fCount;
	fOwner = self;
	fOwned = true;
	pthread_mutex_unlock(&fMutex);
}

void XTaskMgrMutexImpl::Unlock()
{
	pthread_mutex_lock(&fMutex);
	if (fCount > 0 && --fCount == 0)
	{
		fOwned = false;
		pthread_cond_signal(&fCondition);
	}
	pthread_mutex_unlock(&fMutex);
}

}  // namespace velk
