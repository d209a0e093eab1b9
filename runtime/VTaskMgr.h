// The process's one task manager: makes the main task for the thread that starts the process, keeps
// the list of tasks and answers which task is current on every thread, including threads it did not make.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <vector>

#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

class IFiberScheduler;
class IMessageable;
class VMessage;
class VProcess;
class VTask;
class XMacRunLoopTimer;
class XTaskMgrMutexImpl;

using VTaskID = int32;

class VELK_API VTaskMgr : public VObject
{
public:
	constexpr VTaskMgr() = default;
	~VTaskMgr() override = default;

	VTaskMgr(const VTaskMgr&) = delete;
	VTaskMgr& operator=(const VTaskMgr&) = delete;

	// The static instance; never null, usable before main.
	static VTaskMgr* Get() { return &sInstance; }

	// Makes the calling thread's main task and applies the spin-lock settings; returns whether the
	// manager is initialized. A second call does nothing and returns true. False when memory is short
	// (no task exists yet to record the error); nothing is left made then.
	bool Init(VProcess* process);

	// From the main task, first kills the other tasks and waits for them (KillAllTasks, at most
	// kDeInitTimeout ms); then releases the main task (its errors go with it); the manager is no longer
	// initialized. A task that outlives the wait is left running and listed nowhere; the manager's lock
	// stays for the life of the process, so such a task can still mark itself dead safely.
	void DeInit();

	static constexpr int32 kDeInitTimeout = 5000;

	static bool IsInited() { return sInstanceInited.load(); }

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
	VTaskID GetNewTaskID(VTask* task);

	// Lists task (retained) right after the main task, after purging dead tasks. Allocates nothing.
	void RegisterTask(VTask* task);
	// Unlists and releases the dead tasks; nothing unless a task died since the last purge. Allocates
	// nothing.
	void PurgeDeadTasks();

	// From the main task only: kills every other task (each task's DoPrepareToDie runs once, when it
	// starts dying) and blocks on their deaths, purging the dead, until the main task is alone or
	// milliseconds have passed. Returns whether it is alone; from another task returns that at once.
	bool KillAllTasks(int32 milliseconds);

	// With false, the listed tasks that run or are dying; with true, those not yet dying. 0 before Init.
	uint32 GetTaskCount(bool notDyingOnly) const;

	// The task made by Init, null before and after DeInit.
	VTask* GetMainTask() const { return fMainTask.load(); }

	// Gives the processor to another thread (a fiber task yields to its scheduler).
	static void YieldNow();

	// A fiber task lets others of its group run; elsewhere nothing.
	static void Yield();

	// The tasks listed, retained, appended to tasks (the caller releases them).
	void GetTasks(std::vector<VTask*>& tasks) const;
	// The listed task of that id that is not dead, retained; null when none.
	VTask* RetainTaskByID(VTaskID id) const;
	VRefPtr<VTask> GetTaskByID(VTaskID id) const;

	// Fiber waits, through the scheduler: block the calling fiber while *flag equals value.
	static void CurrentFiberWaitFlag(int32* flag, int32 value);
	static void CurrentFiberWaitFlagWithTimeout(int32* flag, int32 value, int32 milliseconds);
	// Replaces the fiber scheduler (null is ignored); the manager keeps a reference.
	void SetFiberScheduler(IFiberScheduler* scheduler);
	// The fiber scheduler, retained; null before Init.
	IFiberScheduler* RetainFiberScheduler() const;
	// A fiber task another scheduler stopped running is marked dead (not the caller, not twice).
	void FiberStoppedBeingScheduled(VTask* task);
	// Hands control from the calling fiber to task's, when both belong to one group.
	void YieldToFiber(VTask* task);

	// Forwarded to the fiber scheduler.
	void SetSystemEventPolling(bool polling);
	void PollAndExecuteUpdateEvent();
	void SetDirectUpdate(bool direct);
	// Wakes the fiber scheduler's event polling.
	void WakeUpSystemEventPolling();
	bool WithSystemEventPolling() const { return fSystemEventPolling.load(); }

	// Nesting scope in which only update events are handled: the first Begin turns the scheduler's
	// polling off and starts a 10 ms timer on the calling thread's run loop that polls update events;
	// the last Stop removes it and turns polling back on.
	void MAC_BeginHandlingUpdateEventsOnly();
	void MAC_StopHandlingUpdateEventsOnly();

	// Task-local data keys. A key is 1 or more; 0 is never a key. The destructor, when not null, is
	// called on every non-null value a task still holds for the key when the task ends.
	int32 CreateDataKey(void (*destructor)(void*));
	// Frees the key for reuse; values tasks hold for it are dropped without their destructor (0 and
	// keys never made are ignored).
	void DeleteDataKey(int32 key);
	bool CheckDataKey(int32 key) const;

	// Keeps message, retained, until delay milliseconds have passed; an idle step of any task then
	// posts it again to its target. True (also for a null message).
	bool RegisterDelayedMessage(VMessage* message, int32 delayMilliseconds);
	// Drops the delayed messages for target (null: those without a target).
	void CancelMessages(IMessageable* target);
	// Re-posts the delayed messages that are due.
	void _CheckDelayedMessages();

	// The task manager's recursive lock over the task list, names and ids (nothing before Init).
	void _LockMutex() const;
	void _UnlockMutex() const;

	// Holds the manager's lock for its scope.
	class StMutexLocker
	{
	public:
		explicit StMutexLocker(const VTaskMgr* manager) : fManager(manager) { fManager->_LockMutex(); }
		~StMutexLocker() { fManager->_UnlockMutex(); }
		StMutexLocker(const StMutexLocker&) = delete;
		StMutexLocker& operator=(const StMutexLocker&) = delete;

	private:
		const VTaskMgr* fManager;
	};

	// With the lock held: the generation of a key in use; false for 0 and keys not in use.
	bool _GetDataKey(int32 key, uint32& generation, void (**destructor)(void*)) const;

	static VTaskMgr sInstance;
	// Read by every thread that asks for its task; set by Init and cleared by DeInit on the main thread.
	static std::atomic<bool> sInstanceInited;

private:
	bool _Init(VProcess* process);
	void _DeInit();
	bool _IsMainTaskAlone() const;
	void _ReleaseTables();
	// The task listed right after task, retained; null at the end of the list or when task was unlisted.
	VTask* _RetainListedAfter(VTask* task) const;

	// Head of the task list; written under the lock, read by IsMain on any thread.
	std::atomic<VTask*> fMainTask{nullptr};
	std::atomic<size_t> fMainStackSize{0};
	std::atomic<size_t> fDefaultStackSize{0};
	bool fDeadTasksPending = false;  // guarded by the lock
	uint32 fTaskListStamp = 0;  // guarded by the lock
	struct DelayedMessage
	{
		VMessage* fMessage;  // retained
		uint64 fDueTick;
	};
	std::vector<DelayedMessage>* fDelayedMessages = nullptr;  // guarded by the lock, made by Init
	// Ids of fiber tasks: counted down from -1; purged ids are handed out again, newest first.
	int32 fIDCounter = 0;
	std::deque<VTaskID>* fFreeIDs = nullptr;
	struct DataKey
	{
		void (*fDestructor)(void*);
		uint32 fGeneration;  // rises at each deletion, so values kept for an older key are never seen
		bool fFree;
	};
	std::vector<DataKey>* fDataKeys = nullptr;  // guarded by the lock
	IFiberScheduler* fFiberScheduler = nullptr;  // retained, guarded by the lock
	std::atomic<bool> fSystemEventPolling{false};
	std::atomic<int32> fUpdateEventsOnlyNesting{0};
	XMacRunLoopTimer* fUpdateEventsTimer = nullptr;
	// Made by the first Init and never deleted: detached task threads may take it at any time.
	std::atomic<XTaskMgrMutexImpl*> fMutex{nullptr};

	friend class VTask;
};

}  // namespace velk
