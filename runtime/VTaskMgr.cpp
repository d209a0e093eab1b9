#include "runtime/VTaskMgr.h"

#include <limits>
#include <new>
#include <thread>

#include "files/VSystem.h"

#include "kernel/strings/VString.h"
#include "runtime/SpinLock.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XMacTaskMgr.h"
#include "runtime/mac/XTaskMgrMutexImpl.h"

namespace velk {

// Constant-initialized so that locks and the current-task queries work in static initializers.
constinit VTaskMgr VTaskMgr::sInstance;
constinit std::atomic<bool> VTaskMgr::sInstanceInited{false};

bool VTaskMgr::Init(VProcess* process)
{
	if (sInstanceInited.load())
		return true;
	sInstanceInited.store(_Init(process));
	SpinLock::Configure();
	return sInstanceInited.load();
}

bool VTaskMgr::_Init(VProcess*)
{
	if (fMutex.load() == nullptr)
	{
		XTaskMgrMutexImpl* mutex = new (std::nothrow) XTaskMgrMutexImpl;
		if (mutex == nullptr)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
		fMutex.store(mutex);
	}
	VTask* main = new (std::nothrow) VTask(this);
	if (main == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	if (main->fPlatformTask == nullptr)
	{
		// The task said why; it never became the thread's current task.
		main->Release();
		return false;
	}
	_LockMutex();
	fMainTask.store(main);
	_UnlockMutex();
	VString name;
	main->GetName(name);
	XMacTaskMgr::SetCurrentThreadName(name, main->GetID());
	return true;
}

void VTaskMgr::DeInit()
{
	if (!sInstanceInited.load())
		return;
	_DeInit();
	sInstanceInited.store(false);
}

void VTaskMgr::_DeInit()
{
	// The other tasks go first: their threads use the task list, the main task and the lock.
	KillAllTasks(kDeInitTimeout);
	PurgeDeadTasks();
	VTask* main = fMainTask.load();
	if (main != nullptr)
	{
		main->fState.store(eTaskStateDead);
		if (XMacTaskMgr::GetCurrentTask() == main)
			XMacTaskMgr::SetCurrentTask(nullptr);
		_LockMutex();
		fMainTask.store(nullptr);
		_UnlockMutex();
		main->Release();
	}
}

VTaskID VTaskMgr::GetCurrentTaskID() const
{
	if (!sInstanceInited.load())
		return 0;
	return GetCurrentLockOwnerID();
}

VTaskID VTaskMgr::GetCurrentLockOwnerID()
{
	VTask* task = XMacTaskMgr::GetCurrentTask();
	if (task != nullptr)
		return task->GetID();
	return XMacTaskMgr::GetCurrentForeignTaskID();
}

size_t VTaskMgr::GetCurrentFreeStackSize() const
{
	return XMacTaskMgr::GetCurrentFreeStackSize();
}

size_t VTaskMgr::GetStackSizeForMainTask()
{
	size_t known = fMainStackSize.load();
	if (known == 0)
	{
		size_t size = XMacTaskMgr::ComputeMainTaskStackSize();
		known = size == 0 ? 65536 : size;
		fMainStackSize.store(known);
	}
	return known;
}

size_t VTaskMgr::GetDefaultStackSize()
{
	size_t known = fDefaultStackSize.load();
	if (known == 0)
	{
		size_t main = GetStackSizeForMainTask();
		known = main < 1048576 ? main : 1048576;
		fDefaultStackSize.store(known);
	}
	return known;
}

void VTaskMgr::SetDefaultStackSize(size_t size)
{
	fDefaultStackSize.store(size);
}

VTaskID VTaskMgr::GetNewTaskID(VTask* task) const
{
	if (task == nullptr || task->fPlatformTask == nullptr)
		return 0;
	// Fiber tasks, which have no thread id of their own, would take ids from a counter here.
	return task->fPlatformTask->GetValueForVTaskID();
}

void VTaskMgr::RegisterTask(VTask* task)
{
	if (task == nullptr || fMainTask.load() == nullptr)
		return;
	PurgeDeadTasks();
	_LockMutex();
	VTask* main = fMainTask.load();
	if (main != nullptr)
	{
		task->Retain();
		task->fNext = main->fNext;
		main->fNext = task;
		++fTaskListStamp;
	}
	_UnlockMutex();
}

void VTaskMgr::PurgeDeadTasks()
{
	// The unlisted tasks are chained through their own links, free once they leave the list, so a
	// purge needs no memory.
	VTask* dead = nullptr;
	_LockMutex();
	VTask* main = fMainTask.load();
	if (fDeadTasksPending && main != nullptr)
	{
		VTask* previous = main;
		while (VTask* task = previous->fNext)
		{
			if (task->fState.load() == eTaskStateDead)
			{
				previous->fNext = task->fNext;
				task->fNext = dead;
				dead = task;
				++fTaskListStamp;
			}
			else
			{
				previous = task;
			}
		}
		fDeadTasksPending = false;
	}
	_UnlockMutex();
	// Released outside the lock: a task's destructor may take it again. Each link is cut under the
	// lock, where a killer holding one of these tasks reads it, and before the next task goes.
	while (dead != nullptr)
	{
		_LockMutex();
		VTask* next = dead->fNext;
		dead->fNext = nullptr;
		_UnlockMutex();
		dead->Release();
		dead = next;
	}
}

bool VTaskMgr::_IsMainTaskAlone() const
{
	_LockMutex();
	VTask* main = fMainTask.load();
	bool alone = main != nullptr && main->fNext == nullptr;
	_UnlockMutex();
	return alone;
}

VTask* VTaskMgr::_RetainListedAfter(VTask* task) const
{
	_LockMutex();
	VTask* next = task->fNext;
	if (next != nullptr)
		next->Retain();
	_UnlockMutex();
	return next;
}

bool VTaskMgr::KillAllTasks(int32 milliseconds)
{
	VTask* main = fMainTask.load();
	VTask* current = VTask::GetCurrent();
	if (current == nullptr || current != main)
		return _IsMainTaskAlone();
	uint64 deadline = VSystem::GetCurrentTime() + uint64(milliseconds < 0 ? 0 : milliseconds);
	for (;;)
	{
		// Every task is asked before any is waited for, so that they end together. Kill runs the hook
		// outside the lock, and only on a task's change to dying, so asking again is harmless.
		for (VTask* task = _RetainListedAfter(main); task != nullptr;)
		{
			task->Kill();
			VTask* next = _RetainListedAfter(task);
			task->Release();
			task = next;
		}
		PurgeDeadTasks();
		VTask* living = _RetainListedAfter(main);
		if (living == nullptr)
			return true;
		uint64 now = VSystem::GetCurrentTime();
		if (now >= deadline)
		{
			living->Release();
			return _IsMainTaskAlone();
		}
		// A task listed after the walk above (or unlisted under it) is killed here before the wait.
		living->Kill();
		uint64 remaining = deadline - now;
		living->WaitForDeath(int32(remaining < uint64(std::numeric_limits<int32>::max()) ? remaining : std::numeric_limits<int32>::max()));
		living->Release();
	}
}

uint32 VTaskMgr::GetTaskCount(bool notDyingOnly) const
{
	uint32 count = 0;
	_LockMutex();
	for (VTask* task = fMainTask.load(); task != nullptr; task = task->fNext)
	{
		uint32 state = task->fState.load();
		if (notDyingOnly ? state < eTaskStateDying : (state == eTaskStateRunning || state == eTaskStateDying))
			++count;
	}
	_UnlockMutex();
	return count;
}

void VTaskMgr::YieldNow()
{
	std::this_thread::yield();
}

void VTaskMgr::Yield()
{
	// Only fiber tasks yield here, and no fiber scheduler runs tasks yet.
}

void VTaskMgr::WakeUpSystemEventPolling()
{
	// Forwarded to the fiber scheduler once one exists; the preemptive tasks have nothing to wake.
}

void VTaskMgr::_LockMutex() const
{
	if (XTaskMgrMutexImpl* mutex = fMutex.load())
		mutex->Lock();
}

void VTaskMgr::_UnlockMutex() const
{
	if (XTaskMgrMutexImpl* mutex = fMutex.load())
		mutex->Unlock();
}

}  // namespace velk
