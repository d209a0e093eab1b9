#include "runtime/VTask.h"

#include <atomic>
#include <new>

#include "files/VSystem.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/VActivityToken.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VMessage.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VProcess.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {

namespace {

bool ProcessAllowsFibers()
{
	VProcess* process = VProcess::sInstance;
	return process != nullptr && process->WithFibers();
}

}  // namespace

VTask::VTask(VTaskMgr* manager)
: fStyle(eTaskStylePreemptive), fManager(manager), fState(eTaskStateRunning)
{
	fCreationTime = VSystem::GetCurrentTime();
	fStackSize = manager->GetStackSizeForMainTask();
	fFiber = ProcessAllowsFibers();
	fPreemptive = !fFiber;
	if (!_TakeIntlMgr())
		return;
	fPlatformTask = XMacTaskMgr::CreateMain(this);
	if (fPlatformTask != nullptr)
		fID = fPlatformTask->GetValueForVTaskID();
	SetMessagingTask(fID);
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
	fCreationTime = VSystem::GetCurrentTime();
	fManager = VTaskMgr::Get();
	fStyle = style;
	fStackSize = stackSize;
	fFiber = style == eTaskStyleFiber;
	fPreemptive = style == eTaskStylePreemptive;
	// The copy first: when it cannot be had, no thread is made only to be undone.
	if (_TakeIntlMgr())
	{
		fPlatformTask = XMacTaskMgr::Create(this, style);
		fID = fManager->GetNewTaskID(this);
	}
	SetMessagingTask(fID);
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
	std::vector<VMessageQueue*>* waiters = nullptr;
	if (fDeathWaiters != nullptr)
	{
		VTaskMgr::StMutexLocker locker(fManager);
		waiters = _TakeDeathWaiters();
	}
	if (waiters != nullptr)
	{
		for (VMessageQueue* queue : *waiters)
		{
			queue->SetEvent();
			queue->Release();
		}
		delete waiters;
	}
	// Whatever is still queued is aborted, so that no sender waits for it.
	if (VMessageQueue* queue = fMessageQueue.exchange(nullptr))
	{
		queue->Close();
		queue->Release();
	}
	if (fActivityToken != nullptr)
		fActivityToken->Release();
	if (fErrorContext != nullptr)
		fErrorContext->Release();
	if (fIntlMgr != nullptr)
		fIntlMgr->Release();
	if (fRyTaskOwner != nullptr)
		fRyTaskOwner->Release();
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
	if (fFiber)
	{
		bool handled = true;
		bool result = false;
		if (IFiberScheduler* scheduler = fManager->RetainFiberScheduler())
		{
			result = scheduler->RunFiber(this, &handled);
			scheduler->Release();
		}
		if (!handled)
			return result;
	}
	if (!_ChangeState(eTaskStateCreated, eTaskStateStarting))
		return false;
	VString tokenName("Running task ");
	VString name;
	GetName(name);
	tokenName.AppendUniChars(name.GetCPointer(), name.GetLength());
	fActivityToken = new (std::nothrow) VActivityToken(tokenName);
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
	}
	else
	{
		DoInit();
		for (;;)
		{
			if (fFiber)
			{
				if (IFiberScheduler* scheduler = fManager->RetainFiberScheduler())
				{
					scheduler->Yield();
					scheduler->Release();
				}
			}
			if (!DoRun())
			{
				Kill();
				DoDeInit();
				break;
			}
			VMessageQueue* queue = RetainMessageQueue();
			VMessage* message = queue != nullptr ? queue->RetainMessage() : nullptr;
			if (queue != nullptr)
				queue->Release();
			_ExecuteMessages(message, true);
			if (fState.load() >= eTaskStateDying)
			{
				DoDeInit();
				break;
			}
		}
	}
	// Another thread's Kill may still be in the hook, its state change to come: the body is over.
	_ChangeState(eTaskStateRunning, eTaskStateDying);
	_Exit();
}

void VTask::_Exit()
{
	StopMessaging();
	// Closed rather than only emptied: a sender without time-out that comes later is refused.
	if (VMessageQueue* queue = RetainMessageQueue())
	{
		queue->Close();
		queue->Release();
	}
	fManager->CancelMessages(this);
	std::map<VJSONObject*, VJSONObjectTerminator> objects;
	objects.swap(fJSONObjects);
	objects.clear();
	_DisposeData();
	fBody = nullptr;
	IRefCountable* owner = nullptr;
	{
		VTaskMgr::StMutexLocker locker(fManager);
		fRyTask = nullptr;
		owner = fRyTaskOwner;
		fRyTaskOwner = nullptr;
	}
	if (owner != nullptr)
		owner->Release();
}

std::vector<VMessageQueue*>* VTask::_TakeDeathWaiters()
{
	std::vector<VMessageQueue*>* waiters = fDeathWaiters;
	fDeathWaiters = nullptr;
	return waiters;
}

void VTask::_SetStateDead()
{
	if (VActivityToken* token = fActivityToken)
	{
		fActivityToken = nullptr;
		token->Release();
	}
	std::vector<VMessageQueue*>* waiters;
	{
		VTaskMgr::StMutexLocker locker(fManager);
		waiters = _TakeDeathWaiters();
		_ChangeState(eTaskStateDying, eTaskStateDead);
		fManager->fDeadTasksPending = true;
	}
	// The task may be gone from here on; the waiters' queues are ours.
	if (waiters != nullptr)
	{
		for (VMessageQueue* queue : *waiters)
		{
			queue->SetEvent();
			queue->Release();
		}
		delete waiters;
	}
}

bool VTask::WaitForDeath(int32 milliseconds)
{
	VTask* current = GetCurrent();
	if (current == this)
		return false;
	uint64 start = VSystem::GetCurrentTime();
	// A thread without a task waits on a queue of its own that only this task's death signals.
	VMessageQueue* queue = current != nullptr ? current->RetainMessageQueue() : new (std::nothrow) VMessageQueue;
	bool listed = false;
	if (queue != nullptr)
	{
		VTaskMgr::StMutexLocker locker(fManager);
		if (fState.load() != eTaskStateDead)
		{
			try
			{
				if (fDeathWaiters == nullptr)
					fDeathWaiters = new std::vector<VMessageQueue*>;
				fDeathWaiters->push_back(queue);
				queue->Retain();
				listed = true;
			}
			catch (const std::bad_alloc&)
			{
				// Unlisted, the wait polls the state instead.
			}
		}
	}

	StTaskWaitReason reason(eTaskWaitReasonDeath);
	while (fState.load() != eTaskStateDead)
	{
		uint64 elapsed = VSystem::GetCurrentTime() - start;
		if (milliseconds <= 0 || elapsed >= uint64(milliseconds))
			break;
		int32 remaining = int32(uint64(milliseconds) - elapsed);
		if (!listed)
		{
			VTask::Sleep(remaining < 10 ? remaining : 10);
			continue;
		}
		bool timedOut = false;
		VMessage* message = queue->RetainMessageWithTimeout(remaining, &timedOut);
		if (current != nullptr)
			current->_ExecuteMessages(message, true);
		else if (message != nullptr)
			message->Release();
	}

	bool dead = fState.load() == eTaskStateDead;
	if (listed)
	{
		// Still listed when the wait timed out; the dying task takes the list it wakes.
		bool found = false;
		{
			VTaskMgr::StMutexLocker locker(fManager);
			if (fDeathWaiters != nullptr)
			{
				for (auto i = fDeathWaiters->begin(); i != fDeathWaiters->end(); ++i)
				{
					if (*i == queue)
					{
						fDeathWaiters->erase(i);
						found = true;
						break;
					}
				}
			}
		}
		if (found)
			queue->Release();
	}
	if (queue != nullptr)
		queue->Release();
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

bool VTask::_BeginWait(ETaskWaitReason reason)
{
	uint32 none = eTaskWaitReasonNone;
	return fWaitReason.compare_exchange_strong(none, reason);
}

void VTask::_EndWait(bool begun)
{
	if (begun)
		fWaitReason.store(eTaskWaitReasonNone);
}

StTaskWaitReason::StTaskWaitReason(ETaskWaitReason reason) : fTask(VTask::GetCurrent()), fBegun(false)
{
	if (fTask != nullptr)
		fBegun = fTask->_BeginWait(reason);
}

StTaskWaitReason::~StTaskWaitReason()
{
	if (fTask != nullptr)
		fTask->_EndWait(fBegun);
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
	SetMessageQueueEvent();
}

void VTask::GetName(VString& name) const
{
	VTaskMgr::StMutexLocker locker(fManager);
	if (fName != nullptr)
		name = *fName;
	else
		name.Clear();
}

void VTask::SetName(const VString& name)
{
	VString* copy = new (std::nothrow) VString(name);
	if (copy == nullptr)
		return;
	VString* old;
	{
		VTaskMgr::StMutexLocker locker(fManager);
		old = fName;
		fName = copy;
	}
	delete old;
	if (XMacTaskMgr::GetCurrentTask() == this)
		XMacTaskMgr::SetCurrentThreadName(name, fID);
}

void VTask::Sleep(int32 milliseconds)
{
	VTask* task = GetCurrent();
	if (milliseconds <= 0)
	{
		VTaskMgr::YieldNow();
		return;
	}
	if (task == nullptr || task->fPlatformTask == nullptr)
		return;
	bool begun = task->_BeginWait(eTaskWaitReasonSleep);
	if (task->fFiber)
	{
		std::atomic_ref<int32>(task->fFiberWakeFlag).store(0);
		VTaskMgr::CurrentFiberWaitFlagWithTimeout(&task->fFiberWakeFlag, 0, milliseconds);
	}
	else
	{
		task->fPlatformTask->Sleep(milliseconds);
	}
	task->_EndWait(begun);
}

void VTask::WakeUp()
{
	if (fPreemptive)
	{
		if (fPlatformTask != nullptr)
			fPlatformTask->WakeUp();
	}
	else
	{
		std::atomic_ref<int32>(fFiberWakeFlag).store(1);
	}
}

uintptr_t VTask::GetSystemID() const
{
	return fPlatformTask != nullptr ? uintptr_t(fPlatformTask->GetThread()) : 0;
}

bool VTask::GetCPUUsage(double& usage) const
{
	usage = 0.0;
	return fPlatformTask != nullptr && fPlatformTask->GetCPUUsage(usage);
}

bool VTask::GetCPUTimes(double& user, double& system) const
{
	user = 0.0;
	system = 0.0;
	return fPlatformTask != nullptr && fPlatformTask->GetCPUTimes(user, system);
}

void VTask::ReleaseCurrentActivityToken()
{
	VTask* task = GetCurrent();
	if (task == nullptr || task->fActivityToken == nullptr)
		return;
	VActivityToken* token = task->fActivityToken;
	task->fActivityToken = nullptr;
	token->Release();
}

}  // namespace velk
