#include "runtime/VTaskMgr.h"

#include <thread>
#include <vector>

#include "files/VSystem.h"

#include "kernel/strings/VString.h"
#include "runtime/SpinLock.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XTaskMgrMutexImpl.h"

namespace velk {

// Constant-initialized so that locks and the current-task queries work in static initializers.
constinit VTaskMgr VTaskMgr::sInstance;
constinit bool VTaskMgr::sInstanceInited = false;

bool VTaskMgr::Init(VProcess* process)
{
	if (sInstanceInited)
		return true;
	sInstanceInited = _Init(process);
	SpinLock::Configure();
	return sInstanceInited;
}

bool VTaskMgr::_Init(VProcess*)
{
	fMutex = new XTaskMgrMutexImpl;
	fMainTask = new VTask(this);
	VString name;
	fMainTask->GetName(name);
	XMacTaskMgr::SetCurrentThreadName(name, fMainTask->GetID());
	return true;
}

void VTaskMgr::DeInit()
{
	if (!sInstanceInited)
		return;
	_DeInit();
	sInstanceInited = false;
}

void VTaskMgr::_DeInit()
{
	PurgeDeadTasks();
	VTask* main = fMainTask;
	if (main != nullptr)
	{
		main->fState.store(eTaskStateDead);
		if (XMacTaskMgr::GetCurrentTask() == main)
			XMacTaskMgr::SetCurrentTask(nullptr);
		_LockMutex();
		fMainTask = nullptr;
		_UnlockMutex();
		main->Release();
	}
	delete fMutex;
	fMutex = nullptr;
}

VTaskID VTaskMgr::GetCurrentTaskID() const
{
	if (!sInstanceInited)
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
	if (fMainStackSize == 0)
	{
		size_t size = XMacTaskMgr::ComputeMainTaskStackSize();
		fMainStackSize = size == 0 ? 65536 : size;
	}
	return fMainStackSize;
}

size_t VTaskMgr::GetDefaultStackSize()
{
	if (fDefaultStackSize == 0)
	{
		size_t main = GetStackSizeForMainTask();
		fDefaultStackSize = main < 1048576 ? main : 1048576;
	}
	return fDefaultStackSize;
}

void VTaskMgr::SetDefaultStackSize(size_t size)
{
	fDefaultStackSize = size;
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
	if (task == nullptr || fMainTask == nullptr)
		return;
	PurgeDeadTasks();
	_LockMutex();
	task->Retain();
	task->fNext = fMainTask->fNext;
	fMainTask->fNext = task;
	++fTaskListStamp;
	_UnlockMutex();
}

void VTaskMgr::PurgeDeadTasks()
{
	std::vector<VTask*> dead;
	_LockMutex();
	if (fDeadTasksPending && fMainTask != nullptr)
	{
		VTask* previous = fMainTask;
		while (VTask* task = previous->fNext)
		{
			if (task->fState.load() == eTaskStateDead)
			{
				previous->fNext = task->fNext;
				task->fNext = nullptr;
				++fTaskListStamp;
				dead.push_back(task);
			}
			else
			{
				previous = task;
			}
		}
		fDeadTasksPending = false;
	}
	_UnlockMutex();
	// Released outside the lock: a task's destructor may take it again.
	for (VTask* task : dead)
		task->Release();
}

bool VTaskMgr::KillAllTasks(int32 milliseconds)
{
	auto aloneNow = [this] {
		_LockMutex();
		bool alone = fMainTask != nullptr && fMainTask->fNext == nullptr;
		_UnlockMutex();
		return alone;
	};
	VTask* current = VTask::GetCurrent();
	if (current == nullptr || current != fMainTask)
		return aloneNow();
	uint64 start = VSystem::GetCurrentTime();
	for (;;)
	{
		std::vector<VTask*> others;
		_LockMutex();
		for (VTask* task = fMainTask->fNext; task != nullptr; task = task->fNext)
		{
			if (task->fState.load() >= eTaskStateRunning)
			{
				task->Retain();
				others.push_back(task);
			}
		}
		_UnlockMutex();
		// Kill calls the task's hook, which must not run under the manager's lock.
		for (VTask* task : others)
		{
			task->Kill();
			task->Release();
		}
		PurgeDeadTasks();
		if (aloneNow())
			return true;
		YieldNow();
		if (VSystem::GetCurrentTime() > start + uint64(milliseconds < 0 ? 0 : milliseconds))
			return aloneNow();
	}
}

uint32 VTaskMgr::GetTaskCount(bool notDyingOnly) const
{
	if (fMutex == nullptr)
		return 0;
	uint32 count = 0;
	_LockMutex();
	for (VTask* task = fMainTask; task != nullptr; task = task->fNext)
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
	if (fMutex != nullptr)
		fMutex->Lock();
}

void VTaskMgr::_UnlockMutex() const
{
	if (fMutex != nullptr)
		fMutex->Unlock();
}

}  // namespace velk
