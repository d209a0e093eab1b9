// The task manager's side of fibers: yielding, fiber waits and the scheduler's event polling.
#include "runtime/VTaskMgr.h"

#include <thread>

#include "runtime/IFiberScheduler.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacRunLoopTimer.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {

namespace {

bool CurrentIsFiber()
{
	VTask* task = VTask::GetCurrent();
	return task != nullptr && task->IsFiber();
}

// Holds the scheduler for a call made outside the manager's lock.
class StScheduler
{
public:
	StScheduler() : fScheduler(VTaskMgr::Get()->RetainFiberScheduler()) {}
	~StScheduler()
	{
		if (fScheduler != nullptr)
			fScheduler->Release();
	}
	StScheduler(const StScheduler&) = delete;
	StScheduler& operator=(const StScheduler&) = delete;

	IFiberScheduler* operator->() const { return fScheduler; }
	explicit operator bool() const { return fScheduler != nullptr; }

private:
	IFiberScheduler* fScheduler;
};

}  // namespace

void VTaskMgr::YieldNow()
{
	if (CurrentIsFiber())
	{
		if (StScheduler scheduler; scheduler)
		{
			scheduler->YieldNow();
			return;
		}
	}
	std::this_thread::yield();
}

void VTaskMgr::Yield()
{
	if (!CurrentIsFiber())
		return;
	if (StScheduler scheduler; scheduler)
		scheduler->Yield();
}

void VTaskMgr::CurrentFiberWaitFlag(int32* flag, int32 value)
{
	if (StScheduler scheduler; scheduler)
		scheduler->WaitFlag(flag, value);
}

void VTaskMgr::CurrentFiberWaitFlagWithTimeout(int32* flag, int32 value, int32 milliseconds)
{
	if (StScheduler scheduler; scheduler)
		scheduler->WaitFlagWithTimeout(flag, value, milliseconds);
}

void VTaskMgr::SetFiberScheduler(IFiberScheduler* scheduler)
{
	if (scheduler == nullptr)
		return;
	scheduler->Retain();
	IFiberScheduler* old;
	{
		StMutexLocker locker(this);
		old = fFiberScheduler;
		fFiberScheduler = scheduler;
	}
	if (old != nullptr)
		old->Release();
}

IFiberScheduler* VTaskMgr::RetainFiberScheduler() const
{
	StMutexLocker locker(this);
	if (fFiberScheduler != nullptr)
		fFiberScheduler->Retain();
	return fFiberScheduler;
}

void VTaskMgr::FiberStoppedBeingScheduled(VTask* task)
{
	if (task == nullptr || !task->IsFiber() || task == VTask::GetCurrent() || task->GetState() == eTaskStateDead)
		return;
	task->_ChangeState(eTaskStateRunning, eTaskStateDying);
	task->_ChangeState(eTaskStateStarting, eTaskStateDying);
	task->_ChangeState(eTaskStateCreated, eTaskStateDying);
	task->_SetStateDead();
}

void VTaskMgr::YieldToFiber(VTask* task)
{
	XMacTaskMgr::YieldToFiber(task);
}

void VTaskMgr::SetSystemEventPolling(bool polling)
{
	fSystemEventPolling.store(polling);
	if (StScheduler scheduler; scheduler)
		scheduler->SetSystemEventPolling(polling);
}

void VTaskMgr::PollAndExecuteUpdateEvent()
{
	if (StScheduler scheduler; scheduler)
		scheduler->PollAndExecuteUpdateEvent();
}

void VTaskMgr::SetDirectUpdate(bool direct)
{
	if (StScheduler scheduler; scheduler)
		scheduler->SetDirectUpdate(direct);
}

void VTaskMgr::WakeUpSystemEventPolling()
{
	if (StScheduler scheduler; scheduler)
		scheduler->WakeUpSystemEventPolling();
}

namespace {

void UpdateEventsTimerFired()
{
	if (CurrentIsFiber())
		VTaskMgr::Yield();
	VTaskMgr::Get()->PollAndExecuteUpdateEvent();
}

}  // namespace

void VTaskMgr::MAC_BeginHandlingUpdateEventsOnly()
{
	if (fUpdateEventsOnlyNesting.fetch_add(1) != 0)
		return;
	SetSystemEventPolling(false);
	fUpdateEventsTimer = XMacRunLoopTimer::AddRepeating(10, &UpdateEventsTimerFired);
}

void VTaskMgr::MAC_StopHandlingUpdateEventsOnly()
{
	int32 nesting = fUpdateEventsOnlyNesting.load();
	do
	{
		// A Stop without its Begin changes nothing.
		if (nesting <= 0)
			return;
	} while (!fUpdateEventsOnlyNesting.compare_exchange_weak(nesting, nesting - 1));
	if (nesting != 1)
		return;
	if (fUpdateEventsTimer != nullptr)
		fUpdateEventsTimer->Remove();
	fUpdateEventsTimer = nullptr;
	SetSystemEventPolling(true);
}

}  // namespace velk
