#include "runtime/VTask.h"

#include <new>
#include <thread>

#include "files/VSystem.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VProcess.h"
#include "runtime/VSyncEvent.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {

struct VTask::DeathWaiter
{
	VSyncEvent fEvent;
	DeathWaiter* fNext = nullptr;
};

VTask::VTask(VTaskMgr* manager)
: fStyle(eTaskStylePreemptive), fManager(manager), fState(eTaskStateRunning)
{
	fStackSize = manager->GetStackSizeForMainTask();
	// Fibers are never enabled by this process frame.
	fFiber = false;
	fPreemptive = true;
	if (!_TakeIntlMgr())
		return;
	fPlatformTask = XMacTaskMgr::CreateMain(this);
	if (fPlatformTask != nullptr)
		fID = fPlatformTask->GetValueForVTaskID();
}

VTask::VTask(VObject*, size_t stackSize, ETaskStyle style, int32 (*body)(VTask*))
{
	// A function pointer fits std::function's own storage: no allocation.
	if (body != nullptr)
		fBody = [body] { body(VTask::GetCurrent()); };
	_InitNew(stackSize, style);
}

VTask::VTask(size_t stackSize, ETaskStyle style, std::function<void()>&& body) : fBody(std::move(body))
{
	_InitNew(stackSize, style);
}

void VTask::_InitNew(size_t stackSize, ETaskStyle style)
{
	fManager = VTaskMgr::Get();
	fStyle = style;
	fStackSize = stackSize;
	fFiber = style == eTaskStyleFiber;
	fPreemptive = style == eTaskStylePreemptive;
	// The copy first: when it cannot be had, no thread is made only to be undone.
	if (!_TakeIntlMgr())
		return;
	fPlatformTask = XMacTaskMgr::Create(this, style);
	fID = fManager->GetNewTaskID(this);
}

bool VTask::_TakeIntlMgr()
{
	VProcess* process = VProcess::sInstance;
	VIntlMgr* intl = (process != nullptr) ? process->GetIntlManager() : nullptr;
	if (intl == nullptr)
		return true;
	fIntlMgr = intl->Clone();
	if (fIntlMgr != nullptr)
		return true;
	// A task without its own copy would change the process's manager for everyone: it does not run.
	_ThrowError(VE_MEMORY_FULL);
	return false;
}

VTask::~VTask()
{
	if (fDeathWaiters != nullptr)
	{
		fManager->_LockMutex();
		_WakeDeathWaiters();
		fManager->_UnlockMutex();
	}
	if (fErrorContext != nullptr)
		fErrorContext->Release();
	if (fIntlMgr != nullptr)
		fIntlMgr->Release();
	delete fName;
	delete fPlatformTask;
}

size_t VTask::GetStackSize()
{
	if (fStackSize == 0)
		fStackSize = IsMain() ? fManager->GetStackSizeForMainTask() : fManager->GetDefaultStackSize();
	return fStackSize;
}

bool VTask::Run()
{
	// A task run before the manager starts could never be listed, purged or waited for.
	if (fPlatformTask == nullptr || !VTaskMgr::IsInited())
		return false;
	if (!_ChangeState(eTaskStateCreated, eTaskStateStarting))
		return false;
	fManager->RegisterTask(this);
	if (!fPlatformTask->Run())
	{
		_ChangeState(eTaskStateStarting, eTaskStateDying);
		_SetStateDead();
		return false;
	}
	return true;
}

void VTask::_Run()
{
	if (!_ChangeState(eTaskStateStarting, eTaskStateRunning))
		return;
	VString name;
	GetName(name);
	XMacTaskMgr::SetCurrentThreadName(name, fID);
	if (fBody)
	{
		fBody();
		_ChangeState(eTaskStateRunning, eTaskStateDying);
	}
	else
	{
		// Each pass will also execute the messages queued for the task once tasks have message queues.
		DoInit();
		for (;;)
		{
			if (!DoRun())
			{
				Kill();
				DoDeInit();
				break;
			}
			if (fState.load() >= eTaskStateDying)
			{
				DoDeInit();
				break;
			}
		}
		// Another thread's Kill may still be in the hook, its state change to come: the body is over.
		_ChangeState(eTaskStateRunning, eTaskStateDying);
	}
	fBody = nullptr;
}

void VTask::_SetStateDead()
{
	fManager->_LockMutex();
	_ChangeState(eTaskStateDying, eTaskStateDead);
	fManager->fDeadTasksPending = true;
	// Woken under the lock: a waiter unlists itself, and then takes its event away, only under it.
	_WakeDeathWaiters();
	fManager->_UnlockMutex();
	// The task may be gone from here on.
}

void VTask::_WakeDeathWaiters()
{
	DeathWaiter* waiter = fDeathWaiters;
	fDeathWaiters = nullptr;
	while (waiter != nullptr)
	{
		DeathWaiter* next = waiter->fNext;
		waiter->fNext = nullptr;
		waiter->fEvent.Unlock();
		waiter = next;
	}
}

bool VTask::WaitForDeath(int32 milliseconds)
{
	if (GetCurrent() == this)
		return false;
	uint64 start = VSystem::GetCurrentTime();
	DeathWaiter waiter;
	fManager->_LockMutex();
	bool listed = fState.load() != eTaskStateDead;
	if (listed)
	{
		waiter.fNext = fDeathWaiters;
		fDeathWaiters = &waiter;
	}
	fManager->_UnlockMutex();

	VTask* current = GetCurrent();
	uint32 none = eTaskWaitReasonNone;
	bool marked = current != nullptr && current->fWaitReason.compare_exchange_strong(none, eTaskWaitReasonDeath);
	// Waiting tasks will also execute their messages meanwhile once tasks have message queues.
	while (listed && fState.load() != eTaskStateDead)
	{
		uint64 elapsed = VSystem::GetCurrentTime() - start;
		if (milliseconds <= 0 || elapsed >= uint64(milliseconds))
			break;
		waiter.fEvent.Lock(int32(uint64(milliseconds) - elapsed));
	}
	if (marked)
		current->fWaitReason.store(eTaskWaitReasonNone);

	bool dead = fState.load() == eTaskStateDead;
	if (listed)
	{
		// Still listed when the wait timed out; the dying task unlists the waiters it wakes.
		fManager->_LockMutex();
		for (DeathWaiter** link = &fDeathWaiters; *link != nullptr; link = &(*link)->fNext)
		{
			if (*link == &waiter)
			{
				*link = waiter.fNext;
				break;
			}
		}
		fManager->_UnlockMutex();
	}
	return dead;
}

VTask* VTask::GetCurrent()
{
	if (!VTaskMgr::IsInited())
		return nullptr;
	return XMacTaskMgr::GetCurrentTask();
}

VTaskID VTask::GetCurrentID()
{
	return VTaskMgr::Get()->GetCurrentTaskID();
}

bool VTask::IsMain() const
{
	return fManager != nullptr && fManager->GetMainTask() == this;
}

bool VTask::IsCurrentMain()
{
	VTask* task = GetCurrent();
	return task != nullptr && task->IsMain();
}

bool VTask::_ChangeState(ETaskState from, ETaskState to)
{
	uint32 expected = from;
	return fState.compare_exchange_strong(expected, to);
}

bool VTask::IsDying(int32* outTicksSinceKill) const
{
	bool dying = fState.load() >= eTaskStateDying;
	if (dying && outTicksSinceKill != nullptr)
	{
		int32 elapsed = int32(VSystem::GetCurrentTicks() - fKillTime.load());
		*outTicksSinceKill = elapsed < 0 ? -elapsed : elapsed;
	}
	return dying;
}

void VTask::Kill()
{
	if (GetCurrent() != this)
	{
		while (fState.load() == eTaskStateStarting)
			VTaskMgr::YieldNow();
	}
	// The hook is told once, before the task starts dying: callers that kill again, such as
	// KillAllTasks until the task is gone, do not run it again.
	if (fState.load() != eTaskStateRunning || fKillClaimed.exchange(true))
		return;
	DoPrepareToDie();
	// The time first: whoever sees the dying state reads the time that goes with it.
	fKillTime.store(VSystem::GetCurrentTicks());
	_ChangeState(eTaskStateRunning, eTaskStateDying);
	// A task waiting for its messages learns at once that it is dying.
	fMessageQueueEvent.Unlock();
}

void VTask::GetName(VString& name) const
{
	fManager->_LockMutex();
	if (fName != nullptr)
		name = *fName;
	else
		name.Clear();
	fManager->_UnlockMutex();
}

void VTask::SetName(const VString& name)
{
	VString* copy = new (std::nothrow) VString(name);
	if (copy == nullptr)
		return;
	fManager->_LockMutex();
	VString* old = fName;
	fName = copy;
	fManager->_UnlockMutex();
	delete old;
	if (XMacTaskMgr::GetCurrentTask() == this)
		XMacTaskMgr::SetCurrentThreadName(name, fID);
}

VErrorTaskContext* VTask::GetErrorContext(bool createIfMissing)
{
	if (fErrorContext == nullptr && createIfMissing)
		fErrorContext = new (std::nothrow) VErrorTaskContext;
	return fErrorContext;
}

bool VTask::PushError(VErrorBase* error)
{
	VTask* task = GetCurrent();
	if (task == nullptr || error == nullptr)
		return false;
	VErrorTaskContext* context = task->GetErrorContext(true);
	if (context == nullptr)
		return false;
	bool silent = false;
	bool stored = context->PushError(error, &silent);
	if (stored && !silent)
		task->_ReportErrorThrown(error);
	return stored;
}

bool VTask::PushRetainedError(VErrorBase* error)
{
	bool stored = PushError(error);
	if (error != nullptr)
		error->Release();
	return stored;
}

void VTask::_ReportErrorThrown(VErrorBase* error)
{
	// The one place where an error that no scope silenced reaches the debug manager, which logs it.
	VDebugMgr::Get()->ErrorThrown(error);
}

void VTask::FlushErrors()
{
	VTask* task = GetCurrent();
	if (task != nullptr && task->fErrorContext != nullptr)
		task->fErrorContext->Flush();
}

VError VTask::GetLastError()
{
	VTask* task = GetCurrent();
	if (task == nullptr || task->fErrorContext == nullptr)
		return VE_OK;
	return task->fErrorContext->GetLastError();
}

bool VTask::FailedForMemory()
{
	VTask* task = GetCurrent();
	return task != nullptr && task->fErrorContext != nullptr && task->fErrorContext->FailedForMemory();
}

VIntlMgr* VTask::GetCurrentIntlManager()
{
	VTask* task = GetCurrent();
	if (task != nullptr && task->fIntlMgr != nullptr)
		return task->fIntlMgr;
	VProcess* process = VProcess::sInstance;
	return process != nullptr ? process->GetIntlManager() : nullptr;
}

void VTask::SetCurrentIntlManager(VIntlMgr* manager)
{
	VTask* task = GetCurrent();
	if (task == nullptr || manager == nullptr)
		return;
	manager->Retain();
	VIntlMgr* old = task->fIntlMgr;
	task->fIntlMgr = manager;
	if (old != nullptr)
		old->Release();
}

void VTask::Sleep(int32 milliseconds)
{
	if (milliseconds <= 0)
	{
		VTaskMgr::YieldNow();
		return;
	}
	VTask* task = GetCurrent();
	if (task == nullptr || task->fPlatformTask == nullptr)
		return;
	uint32 none = eTaskWaitReasonNone;
	bool marked = task->fWaitReason.compare_exchange_strong(none, eTaskWaitReasonSleep);
	task->fPlatformTask->Sleep(milliseconds);
	if (marked)
		task->fWaitReason.store(eTaskWaitReasonNone);
}

void VTask::WakeUp()
{
	if (fPlatformTask != nullptr)
		fPlatformTask->WakeUp();
}

namespace {

// Without messages to run the wait is one long block, cut into slices so that a dying state set without
// the event (a task that never ran Kill's path) is still noticed.
constexpr int32 kMessageWaitSlice = 1000;

}  // namespace

void VTask::WaitAndExecuteMessages()
{
	VTask* task = GetCurrent();
	if (task == nullptr)
	{
		thread_local VSyncEvent sThreadEvent;
		if (sThreadEvent.Lock(kMessageWaitSlice))
			sThreadEvent.Reset();
		return;
	}
	uint32 none = eTaskWaitReasonNone;
	const bool marked = task->fWaitReason.compare_exchange_strong(none, eTaskWaitReasonMessage);
	while (task->fState.load() < eTaskStateDying)
	{
		if (task->fMessageQueueEvent.Lock(kMessageWaitSlice))
		{
			// A signal given before this call also ends it: the event stays set until consumed here.
			task->fMessageQueueEvent.Reset();
			break;
		}
	}
	if (marked)
		task->fWaitReason.store(eTaskWaitReasonNone);
}

void VTask::SetMessageQueueEvent()
{
	fMessageQueueEvent.Unlock();
}

}  // namespace velk
