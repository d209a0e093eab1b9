// The process's one task manager: makes the main task for the thread that starts the process, keeps
// the list of tasks and answers which task is current on every thread, including threads it did not make.
#pragma once

#include <cstddef>

#include "kernel/memory/VObject.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {

class VProcess;
class VTask;
class XTaskMgrMutexImpl;

using VTaskID = int32;

class VTaskMgr : public VObject
{
public:
	constexpr VTaskMgr() = default;
	~VTaskMgr() override = default;

	VTaskMgr(const VTaskMgr&) = delete;
	VTaskMgr& operator=(const VTaskMgr&) = delete;

	// The static instance; never null, usable before main.
	static VTaskMgr* Get() { return &sInstance; }

	// Makes the calling thread's main task and applies the spin-lock settings; returns whether the
	// manager is initialized. A second call does nothing and returns true.
	bool Init(VProcess* process);

	// Releases the main task (its errors go with it) after purging the dead tasks; the manager is no
	// longer initialized. Other tasks must have ended before.
	void DeInit();

	static bool IsInited() { return sInstanceInited; }

	// The calling task's id; on a thread without a task the thread's own id; 0 before Init.
	VTaskID GetCurrentTaskID() const;

	// The id that owns the locks the caller takes: as GetCurrentTaskID, but never 0, also before Init,
	// so a lock taken before the manager starts keeps excluding other threads afterwards.
	static VTaskID GetCurrentLockOwnerID();

	// Bytes of stack still free on the calling thread.
	size_t GetCurrentFreeStackSize() const;

	// The main thread's stack size in bytes (65536 when the system does not say), asked once.
	size_t GetStackSizeForMainTask();
	// The stack size of new tasks that ask for none: as set, else min(main stack size, 1 MiB).
	size_t GetDefaultStackSize();
	void SetDefaultStackSize(size_t size);

	// The id of a new task: its thread's id; 0 for a null task or one without a platform task.
	VTaskID GetNewTaskID(VTask* task) const;

	// Lists task (retained) right after the main task, after purging dead tasks.
	void RegisterTask(VTask* task);
	// Unlists and releases the dead tasks; nothing unless a task died since the last purge.
	void PurgeDeadTasks();

	// From the main task only: asks every other task to die and waits, purging the dead, until the
	// main task is alone or milliseconds have passed. Returns whether it is alone; from another task
	// returns that at once.
	bool KillAllTasks(int32 milliseconds);

	// With false, the listed tasks that run or are dying; with true, those not yet dying. 0 before Init.
	uint32 GetTaskCount(bool notDyingOnly) const;

	// The task made by Init, null before.
	VTask* GetMainTask() const { return fMainTask; }

	// Gives the processor to another thread (a fiber task yields to its scheduler).
	static void YieldNow();

	// A fiber task lets others of its group run; elsewhere nothing.
	static void Yield();

	// Wakes the fiber scheduler's event polling; nothing while no fiber scheduler polls.
	void WakeUpSystemEventPolling();

	// The task manager's recursive lock over the task list, names and ids (nothing before Init).
	void _LockMutex() const;
	void _UnlockMutex() const;

	static VTaskMgr sInstance;
	static bool sInstanceInited;

private:
	bool _Init(VProcess* process);
	void _DeInit();

	VTask* fMainTask = nullptr;  // head of the task list
	size_t fMainStackSize = 0;
	size_t fDefaultStackSize = 0;
	bool fDeadTasksPending = false;
	uint32 fTaskListStamp = 0;
	XTaskMgrMutexImpl* fMutex = nullptr;
	XMacTaskMgr fImpl;

	friend class VTask;
};

}  // namespace velk
