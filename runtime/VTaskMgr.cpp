#include "runtime/VTaskMgr.h"

#include <limits>
#include <new>
#include <thread>

#include "files/VSystem.h"

#include "kernel/strings/VString.h"
#include "runtime/SpinLock.h"
#include "runtime/VError.h"
#include "runtime/VMessage.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VScheduler_void.h"
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
	VScheduler_void* scheduler = new (std::nothrow) VScheduler_void;
	std::vector<DelayedMessage>* delayed = new (std::nothrow) std::vector<DelayedMessage>;
	std::deque<VTaskID>* freeIDs = nullptr;
	try
	{
		// A deque allocates its map when made.
		freeIDs = new std::deque<VTaskID>;
	}
	catch (const std::bad_alloc&)
	{
	}
	std::vector<DataKey>* keys = new (std::nothrow) std::vector<DataKey>;
	if (scheduler == nullptr || delayed == nullptr || freeIDs == nullptr || keys == nullptr)
	{
		if (scheduler != nullptr)
			scheduler->Release();
		delete delayed;
		delete freeIDs;
		delete keys;
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	{
		StMutexLocker locker(this);
		fFiberScheduler = scheduler;
		fDelayedMessages = delayed;
		fFreeIDs = freeIDs;
		fDataKeys = keys;
	}
	VTask* main = new (std::nothrow) VTask(this);
	if (main == nullptr)
	{
		_ReleaseTables();
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	if (main->fPlatformTask == nullptr)
	{
		// The task said why; it never became the thread's current task.
		main->Release();
		_ReleaseTables();
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
		// Its data first, while the keys' destructors are still known.
		main->_DisposeData();
		if (VMessageQueue* queue = main->fMessageQueue.load())
			queue->Close();
		main->Release();
	}
	_ReleaseTables();
}

void VTaskMgr::_ReleaseTables()
{
	std::vector<DelayedMessage>* delayed;
	std::deque<VTaskID>* freeIDs;
	std::vector<DataKey>* keys;
	IFiberScheduler* scheduler;
	{
		StMutexLocker locker(this);
		delayed = fDelayedMessages;
		freeIDs = fFreeIDs;
		keys = fDataKeys;
		scheduler = fFiberScheduler;
		fDelayedMessages = nullptr;
		fFreeIDs = nullptr;
		fDataKeys = nullptr;
		fFiberScheduler = nullptr;
	}
	if (delayed != nullptr)
	{
		for (DelayedMessage& entry : *delayed)
			entry.fMessage->Release();
		delete delayed;
	}
	delete freeIDs;
	delete keys;
	if (scheduler != nullptr)
		scheduler->Release();
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

VTaskID VTaskMgr::GetNewTaskID(VTask* task)
{
	if (task == nullptr || task->fPlatformTask == nullptr)
		return 0;
	VTaskID id = task->fPlatformTask->GetValueForVTaskID();
	if (id != 0)
		return id;
	// A fiber has no thread of its own: its id comes from the counter, below the threads' ids.
	StMutexLocker locker(this);
	if (fFreeIDs != nullptr && !fFreeIDs->empty())
	{
		id = fFreeIDs->back();
		fFreeIDs->pop_back();
		return id;
	}
	return --fIDCounter;
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
				if (task->fPlatformTask != nullptr && task->fID != task->fPlatformTask->GetValueForVTaskID() && fFreeIDs != nullptr)
				{
					try
					{
						fFreeIDs->push_back(task->fID);
					}
					catch (const std::bad_alloc&)
					{
						// The id is not reused; the counter hands out others.
					}
				}
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

void VTaskMgr::GetTasks(std::vector<VTask*>& tasks) const
{
	StMutexLocker locker(this);
	for (VTask* task = fMainTask.load(); task != nullptr; task = task->fNext)
	{
		try
		{
			tasks.push_back(task);
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL);
			return;
		}
		task->Retain();
	}
}

VTask* VTaskMgr::RetainTaskByID(VTaskID id) const
{
	StMutexLocker locker(this);
	for (VTask* task = fMainTask.load(); task != nullptr; task = task->fNext)
	{
		if (task->fID == id && task->fState.load() != eTaskStateDead)
		{
			task->Retain();
			return task;
		}
	}
	return nullptr;
}

VRefPtr<VTask> VTaskMgr::GetTaskByID(VTaskID id) const
{
	return VRefPtr<VTask>(RetainTaskByID(id), true);
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

int32 VTaskMgr::CreateDataKey(void (*destructor)(void*))
{
	StMutexLocker locker(this);
	if (fDataKeys == nullptr)
		return 0;
	for (size_t i = 0; i < fDataKeys->size(); ++i)
	{
		DataKey& entry = (*fDataKeys)[i];
		if (entry.fFree)
		{
			entry.fDestructor = destructor;
			entry.fFree = false;
			return int32(i + 1);
		}
	}
	try
	{
		fDataKeys->push_back(DataKey{destructor, 0, false});
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return 0;
	}
	return int32(fDataKeys->size());
}

void VTaskMgr::DeleteDataKey(int32 key)
{
	StMutexLocker locker(this);
	if (fDataKeys == nullptr || key <= 0 || size_t(key) > fDataKeys->size())
		return;
	DataKey& entry = (*fDataKeys)[size_t(key) - 1];
	if (entry.fFree)
		return;
	entry.fFree = true;
	entry.fDestructor = nullptr;
	// Values tasks still hold for the old key no longer match.
	++entry.fGeneration;
}

bool VTaskMgr::CheckDataKey(int32 key) const
{
	uint32 generation = 0;
	StMutexLocker locker(this);
	return _GetDataKey(key, generation, nullptr);
}

bool VTaskMgr::_GetDataKey(int32 key, uint32& generation, void (**destructor)(void*)) const
{
	if (fDataKeys == nullptr || key <= 0 || size_t(key) > fDataKeys->size())
		return false;
	const DataKey& entry = (*fDataKeys)[size_t(key) - 1];
	if (entry.fFree)
		return false;
	generation = entry.fGeneration;
	if (destructor != nullptr)
		*destructor = entry.fDestructor;
	return true;
}

namespace {

// Ticks (1/60 s) in 64 bits: a due tick never wraps.
uint64 CurrentTicks64()
{
	return VSystem::GetCurrentTime() * 60 / 1000;
}

}  // namespace

bool VTaskMgr::RegisterDelayedMessage(VMessage* message, int32 delayMilliseconds)
{
	if (message == nullptr)
		return true;
	int64 delay = int64(delayMilliseconds) * 60 / 1000;
	uint64 due = CurrentTicks64() + uint64(delay < 0 ? 0 : delay);
	StMutexLocker locker(this);
	if (fDelayedMessages == nullptr)
		return false;
	try
	{
		fDelayedMessages->push_back(DelayedMessage{message, due});
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	message->Retain();
	return true;
}

void VTaskMgr::_CheckDelayedMessages()
{
	const uint64 now = CurrentTicks64();
	for (;;)
	{
		VMessage* due = nullptr;
		{
			StMutexLocker locker(this);
			if (fDelayedMessages == nullptr)
				return;
			for (auto i = fDelayedMessages->begin(); i != fDelayedMessages->end(); ++i)
			{
				if (i->fDueTick < now)
				{
					due = i->fMessage;
					fDelayedMessages->erase(i);
					break;
				}
			}
		}
		if (due == nullptr)
			return;
		due->RePost();
		due->Release();
	}
}

void VTaskMgr::CancelMessages(IMessageable* target)
{
	std::vector<VMessage*> cancelled;
	{
		StMutexLocker locker(this);
		if (fDelayedMessages == nullptr)
			return;
		for (auto i = fDelayedMessages->begin(); i != fDelayedMessages->end();)
		{
			if (i->fMessage->_IsFor(target))
			{
				try
				{
					cancelled.push_back(i->fMessage);
				}
				catch (const std::bad_alloc&)
				{
					++i;
					continue;
				}
				i = fDelayedMessages->erase(i);
			}
			else
			{
				++i;
			}
		}
	}
	// Released outside the lock: a message's destructor may post or cancel others.
	for (VMessage* message : cancelled)
		message->Release();
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
