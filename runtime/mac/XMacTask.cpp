#include "runtime/mac/XMacTask.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <new>

#include "runtime/mac/XMacDeadline.h"
#include <unistd.h>

#include "platform/ThreadTimes.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacStackSize.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {

// What the made thread needs until it starts: it may outlive the task object when the task is
// destroyed without being run, so the platform task and the thread each hold a reference.
struct XMacTask_preemptive::StartGate
{
	StartGate() { sem_init(&fStart, 0, 0); }
	~StartGate() { sem_destroy(&fStart); }

	void Release()
	{
		if (fReferences.fetch_sub(1) == 1)
			delete this;
	}

	sem_t fStart;
	std::atomic<int32> fReferences{2};
	std::atomic<bool> fCancelled{false};
	XMacTask_preemptive* fOwner = nullptr;
	int32 fThreadID = 0;
};

namespace {

void WaitOn(sem_t* semaphore)
{
	while (sem_wait(semaphore) != 0 && errno == EINTR)
	{
	}
}

}  // namespace

XMacTask::~XMacTask()
{
	delete fFiber;
}

void XMacTask::_SetFiber(XMacFiber* fiber, VTask* parent)
{
	fFiber = fiber;
	fFiberParent = parent;
}

bool XMacTask::GetCPUUsage(double& usage)
{
	usage = 0.0;
	return false;
}

bool XMacTask::GetCPUTimes(double& user, double& system)
{
	user = 0.0;
	system = 0.0;
	return false;
}

XMacTask_preemptive::XMacTask_preemptive(VTask* task, int32 threadID, size_t stackSize)
: XMacTask(task), fThreadID(threadID)
{
	fThread = pthread_self();
	fStackSize = stackSize;
	fAttached = true;
	fKernelThreadID.store(plat::GetCurrentKernelThreadID());
	sem_init(&fSemaphore, 0, 0);
}

XMacTask_preemptive::XMacTask_preemptive(VTask* task) : XMacTask(task)
{
	sem_init(&fSemaphore, 0, 0);
}

XMacTask_preemptive::~XMacTask_preemptive()
{
	if (fGate != nullptr)
	{
		fGate->fCancelled.store(true);
		sem_post(&fGate->fStart);
		fGate->Release();
	}
	sem_destroy(&fSemaphore);
}

XMacTask_preemptive* XMacTask_preemptive::Create(VTask* task)
{
	XMacTask_preemptive* platform = new (std::nothrow) XMacTask_preemptive(task);
	StartGate* gate = new (std::nothrow) StartGate;
	if (platform == nullptr || gate == nullptr)
	{
		delete gate;
		delete platform;
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	platform->fStackSize = RoundUpStackSize(task->GetStackSize());
	platform->fThreadID = XMacTaskMgr::_NewThreadID();
	gate->fOwner = platform;
	gate->fThreadID = platform->fThreadID;

	pthread_attr_t attributes;
	pthread_attr_init(&attributes);
	int result = pthread_attr_setstacksize(&attributes, platform->fStackSize);
	if (result == 0)
		result = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
	if (result == 0)
		result = pthread_create(&platform->fThread, &attributes, &_ThreadProc, gate);
	pthread_attr_destroy(&attributes);
	if (result != 0)
	{
		delete gate;
		delete platform;
		_ThrowError(MakeVError(kPOSIX_SIGNATURE, result));
		return nullptr;
	}
	platform->fGate = gate;
	return platform;
}

void* XMacTask_preemptive::_ThreadProc(void* handedOver)
{
	StartGate* gate = static_cast<StartGate*>(handedOver);
	XMacTaskMgr::_AdoptThreadID(gate->fThreadID);
	WaitOn(&gate->fStart);
	if (gate->fCancelled.load())
	{
		gate->Release();
		return nullptr;
	}
	// Run let us go: the task is listed, so it lives at least until it is dead.
	XMacTask_preemptive* platform = gate->fOwner;
	VTask* task = platform->fTask;
	gate->Release();
	if (task->GetState() != eTaskStateStarting)
		return nullptr;
	platform->fStackTop = __builtin_frame_address(0);
	platform->fKernelThreadID.store(plat::GetCurrentKernelThreadID());
	XMacTaskMgr::SetCurrentTask(task);
	task->_Run();
	XMacTaskMgr::SetCurrentTask(nullptr);
	platform->fKernelThreadID.store(0);
	// Last: once dead, the task may be released at any moment.
	task->_SetStateDead();
	return nullptr;
}

bool XMacTask_preemptive::Run()
{
	if (fAttached)
		return true;
	if (fGate == nullptr)
		return false;
	sem_post(&fGate->fStart);
	return true;
}

void XMacTask_preemptive::WakeUp()
{
	sem_post(&fSemaphore);
}

void XMacTask_preemptive::Freeze()
{
	WaitOn(&fSemaphore);
}

void XMacTask_preemptive::Sleep(int32 milliseconds)
{
	const timespec deadline = MonotonicDeadlineIn(milliseconds);
	while (sem_clockwait(&fSemaphore, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR)
	{
	}
}

bool XMacTask_preemptive::GetCPUTimes(double& user, double& system)
{
	user = 0.0;
	system = 0.0;
	plat::ThreadTimes times;
	const int32 threadID = fKernelThreadID.load();
	if (threadID == 0 || !plat::ReadThreadTimes(threadID, times))
		return false;
	user = times.userSeconds;
	system = times.systemSeconds;
	return true;
}

bool XMacTask_preemptive::GetCPUUsage(double& usage)
{
	usage = 0.0;
	plat::ThreadTimes times;
	const int32 threadID = fKernelThreadID.load();
	if (threadID == 0 || !plat::ReadThreadTimes(threadID, times))
		return false;
	const double now = plat::GetBootClockSeconds();
	const double spent = times.userSeconds + times.systemSeconds;
	std::lock_guard<std::mutex> locker(fUsageLock);
	// The first reading covers the thread's whole life.
	const double since = fLastUsageClock > 0.0 ? fLastUsageClock : times.startedSecondsSinceBoot;
	const double spentSince = fLastUsageClock > 0.0 ? spent - fLastUsageTime : spent;
	fLastUsageClock = now;
	fLastUsageTime = spent;
	// The kernel counts in clock ticks: over a short span a thread may seem to use more than its one
	// processor.
	if (now > since && spentSince > 0.0)
		usage = std::min(spentSince / (now - since), 1.0);
	return true;
}

}  // namespace velk
