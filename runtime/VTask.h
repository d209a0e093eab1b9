// A task: the toolbox's unit of execution, with an id, a name, a state and its own stack of error
// contexts and international manager. The static operations act on the calling thread's task.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/IMessageable.h"
#include "runtime/VDebugContext.h"
#include "runtime/VError.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTaskMgr.h"

namespace velk {

class IIdleable;
class VActivityToken;
class VDBLanguageContext;
class VErrorBase;
class VErrorTaskContext;
class VIntlMgr;
class VJSONObject;
class VMessage;
class VMessageQueue;
class VRyTask;
class XMacTask;

// Called for a JSON object a task registered, when the host ends its language context.
using VJSONObjectTerminator = std::function<void(VJSONObject*, VDBLanguageContext*)>;

enum ETaskStyle : uint32
{
	eTaskStylePreemptive = 1,
	eTaskStyleFiber = 3
};

// States change only by compare-and-swap, forward: created → starting → running → dying → dead.
enum ETaskState : uint32
{
	eTaskStateCreated = 0,
	eTaskStateStarting = 1,
	eTaskStateRunning = 2,
	eTaskStateDying = 3,
	eTaskStateDead = 4
};

// Why a task blocks; set only while it blocks.
enum ETaskWaitReason : uint32
{
	eTaskWaitReasonNone = 0,
	eTaskWaitReasonSleep = 1,
	eTaskWaitReasonMessage = 4,
	eTaskWaitReasonMessageExecution = 5,
	eTaskWaitReasonDeath = 8
};

class VELK_API VTask : public VObject, public IMessageable, public IRefCountable
{
public:
	// The main task, for the calling thread: preemptive, running, sized as the main stack. Short of
	// memory (velk 100 thrown) it has no platform task and is not the thread's current task.
	explicit VTask(VTaskMgr* manager);

	// A new task, created (not running). A preemptive task's thread is made at once and waits for Run;
	// a fiber task (only when the process allows fibers) gets its fiber when it runs. When the platform
	// task cannot be made, or memory is short (velk 100 thrown), the task has none, id 0, and Run
	// fails. stackSize 0 is the manager's default. body, when not null, is the task's whole work: it
	// is called with the task itself; without one the task runs DoInit, then DoRun and its message
	// passes until DoRun answers false or the task is dying, then DoDeInit. owner is not used.
	VTask(VObject* owner, size_t stackSize, ETaskStyle style, int32 (*body)(VTask*));
	VTask(size_t stackSize, ETaskStyle style, std::function<void()>&& body);
	~VTask() override;

	VTask(const VTask&) = delete;
	VTask& operator=(const VTask&) = delete;

	// The calling thread's task; null on a thread without one and always null before the manager's Init.
	static VTask* GetCurrent();
	// The calling task's id (VTaskMgr::GetCurrentTaskID).
	static VTaskID GetCurrentID();
	static bool IsCurrentMain();

	VTaskID GetID() const { return fID; }
	ETaskStyle GetStyle() const { return fStyle; }
	ETaskState GetState() const { return ETaskState(fState.load()); }
	// Why the task blocks right now; eTaskWaitReasonNone while it does not.
	ETaskWaitReason GetWaitReason() const { return ETaskWaitReason(fWaitReason.load()); }
	bool IsMain() const;
	bool IsFiber() const { return fFiber; }
	bool IsPreemptive() const { return fPreemptive; }
	XMacTask* GetPlatformTask() const { return fPlatformTask; }

	// Starts a created task: lists it with the manager and lets its thread run the body. False when
	// the task has no platform task, was already run, before the manager's Init, or when it could
	// not start (it is then dead). A fiber task runs at once, until it first hands control back.
	bool Run();

	// True from the dying state on; when asked and dying, the ticks (1/60 s) since Kill. Safe from any
	// thread: the kill time is written before the dying state is published.
	bool IsDying(int32* outTicksSinceKill = nullptr) const;

	// Asks the task to end: a running task gets DoPrepareToDie, then becomes dying (a task may kill
	// itself) and its message wait is woken. The hook runs once per task, for the Kill that makes it
	// die. From another thread, first waits while the task is still starting.
	void Kill();

	// Waits for the task's death at most milliseconds, executing the caller's messages meanwhile;
	// returns whether it is dead. False at once when a task waits for itself. On a thread without a
	// task the wait runs no messages.
	bool WaitForDeath(int32 milliseconds);

	// Copy of the name, empty until set. Both take the manager's lock. Short of memory SetName keeps
	// the old name (the string layer throws the error).
	void GetName(VString& name) const;
	void SetName(const VString& name);

	// The task's state for the debug manager, touched only by the task's own thread.
	VDebugContext& GetDebugContext() { return fDebugContext; }

	// Four-character tag of what the task is for; nothing reads it.
	OsType GetKind() const { return fKind; }
	void SetKind(OsType kind) { fKind = kind; }

	// The task's stack of error contexts, made on first use when asked; null when not made or when
	// it cannot be allocated (nothing can be thrown then: there is nowhere to record it).
	VErrorTaskContext* GetErrorContext(bool createIfMissing);

	// Pushes error, retained, on the calling task's error stack; false with no task manager, no task
	// or a null error. The caller keeps its own reference.
	static bool PushError(VErrorBase* error);
	// As PushError, then releases the caller's reference (also when nothing was pushed).
	static bool PushRetainedError(VErrorBase* error);
	// Pushes the errors of context (not empty) on the calling task's error stack.
	static bool PushErrors(const class VErrorContext* context);
	// Drops the errors of the calling task's top error context.
	static void FlushErrors();
	// The code of the last error of the calling task's top error context; 0 when none or no task.
	static VError GetLastError();
	// Whether the calling task's top context recorded an out-of-memory error.
	static bool FailedForMemory();

	// The calling task's international manager, else the process's, else null; not retained.
	static VIntlMgr* GetCurrentIntlManager();
	// Installs manager on the calling task, retained (the previous one is released); null is ignored, and
	// so is a thread without a task.
	static void SetCurrentIntlManager(VIntlMgr* manager);
	// Gives the calling task a manager for dialect; false when it cannot be made.
	static bool SetCurrentDialectCode(uint32 dialect, uint32 options);
	static uint32 GetDialectCode();
	// The wild character of the calling task's manager; '@' without one.
	static UniChar GetWildChar();

	// Positive: the calling task sleeps that long (WakeUp ends it early); on a thread without a task,
	// or before Init, returns at once. Zero or negative: gives the processor to another thread.
	static void Sleep(int32 milliseconds);
	// Ends the task's current or next Sleep.
	void WakeUp();

	// Queues message for the task (its queue is made on demand). False when it cannot be queued: the
	// queue cannot be made, the task has ended (its queue is closed), or it merged with a queued one.
	bool AddMessage(VMessage* message);
	// The task's queue, retained and made on demand; null when it cannot be made.
	VMessageQueue* RetainMessageQueue();
	// The calling task's next message, waiting at most milliseconds; null on time-out or a signal.
	static VMessage* RetainMessageWithTimeout(int32 milliseconds);
	// Executes the calling task's queued messages without waiting (and, with idling, its idle step);
	// returns whether a message ran.
	static bool ExecuteMessages(bool withIdle);
	// As ExecuteMessages, first waiting at most milliseconds for a message.
	static bool ExecuteMessagesWithTimeout(int32 milliseconds, bool withIdle);
	// Executes the calling task's messages as they come until the queue is signalled (SetMessageQueueEvent)
	// or the task is dying. On a thread without a task the wait is on an event of the thread's own, for
	// one slice (1 s) at most, since no task can be named to end it: callers re-check and wait again.
	static void WaitAndExecuteMessages();
	// As above, for at most milliseconds: outTimedOut tells whether the time ran out.
	static void WaitAndExecuteMessages(int32 milliseconds, bool* outTimedOut);
	static bool IsAnyMessagePending();
	// Signals the task's queue: ends its running WaitAndExecuteMessages, or its next one. Safe from any
	// thread.
	void SetMessageQueueEvent();
	// Rises at every message queued and every signal; 0 while the task has no queue.
	uint32 GetMessageQueueStamp() const;
	// Drops the queued messages for target (null: those without a target), and the delayed ones.
	void CancelMessages(IMessageable* target);
	// True while the task ran a message pass less than a second ago.
	bool IsResponding() const;

	// Idlers called from the task's idle steps; not owned. Unregister only on the task's own thread.
	void RegisterIdler(IIdleable* idler);
	void UnregisterIdler(IIdleable* idler);
	void CallIdlers();

	// Task-local data for keys made by VTaskMgr::CreateDataKey. Set grows the calling task's slots as
	// needed and ignores key 0 and keys not in use; Get answers null for those, and for a key deleted
	// since the value was set.
	static void SetCurrentData(int32 key, void* value);
	static void* GetCurrentData(int32 key);
	// Calls the keys' destructors on the calling task's values and clears them.
	static void DisposeAllData();

	// JSON objects of the calling task, ended by TerminateJSONObjects when the host ends its context.
	static void RegisterJSONObject(VJSONObject* object, VJSONObjectTerminator&& terminator);
	static void UnregisterJSONObject(VJSONObject* object);
	void TerminateJSONObjects(VDBLanguageContext* context);

	// The host's task record and its owner, stored together; the task only keeps them.
	void SetRyTask(VRyTask* ryTask, IRefCountable* owner);
	VRyTask* GetRyTask() const;
	// The owner, retained; null when none.
	IRefCountable* RetainRyTask() const;

	// The platform thread handle; 0 without a platform task.
	uintptr_t GetSystemID() const;
	bool GetCPUUsage(double& usage) const;
	bool GetCPUTimes(double& user, double& system) const;
	// The calling task drops its activity token.
	static void ReleaseCurrentActivityToken();

	// Hooks of a task without a body function, run on its own thread: DoInit first, then DoRun again
	// and again while it answers true (and the task is not dying), DoDeInit last; DoIdle at each idle step.
	virtual void DoInit() {}
	virtual bool DoRun() { return true; }
	virtual void DoIdle() {}
	virtual void DoDeInit() {}
	// Called once, by the Kill that makes the task die, before it starts dying; nothing by default.
	virtual void DoPrepareToDie() {}

	// The stack size asked for; else the main stack's size for the main task and the manager's
	// default for others.
	size_t GetStackSize();

	// Compare-and-swap of the state; true when it was from.
	bool _ChangeState(ETaskState from, ETaskState to);
	// Sets the wait reason when none is set; true when this call set it (and must clear it).
	bool _BeginWait(ETaskWaitReason reason);
	void _EndWait(bool begun);

	// The body, on the task's own thread; then the dead-marking step, which wakes the death waiters.
	void _Run();
	void _SetStateDead();
	// One message pass on the calling task: message (taken over) and those queued after it, or the
	// idle step when there was none. Returns whether a message ran.
	bool _ExecuteMessages(VMessage* message, bool withIdle);
	// The idle step alone, without DoIdle; returns whether it ran.
	bool _CheckIdleEvents();

private:
	void _InitNew(size_t stackSize, ETaskStyle style);
	// Takes a copy of the process's intl manager (none before start-up); false, with velk 100 thrown,
	// when there is one to copy and memory is short.
	bool _TakeIntlMgr();
	void _ReportErrorThrown(VErrorBase* error);
	void _IdleStep(bool withDoIdle);
	// What the task leaves when its body ends: messages, data, JSON objects, host task.
	void _Exit();
	void _DisposeData();
	// With the manager's lock held: takes the queues waiting for the task's death.
	std::vector<VMessageQueue*>* _TakeDeathWaiters();

	struct DataSlot
	{
		void* fValue;
		uint32 fGeneration;
	};

	XMacTask* fPlatformTask = nullptr;  // owned
	VTaskID fID = 0;
	ETaskStyle fStyle = eTaskStylePreemptive;
	VTaskMgr* fManager = nullptr;
	std::atomic<uint32> fState{eTaskStateCreated};
	std::atomic<uint32> fWaitReason{eTaskWaitReasonNone};
	std::atomic<uint32> fKillTime{0};  // written before the dying state it goes with
	std::atomic<bool> fKillClaimed{false};  // taken by the Kill that runs DoPrepareToDie
	VTask* fNext = nullptr;  // the manager's task list
	uint32 fLastIdleTime = 0;
	uint32 fIdlePeriod = 0;
	OsType fKind = 0;
	std::function<void()> fBody;
	VString* fName = nullptr;  // owned, null until SetName
	std::atomic<VMessageQueue*> fMessageQueue{nullptr};  // one reference, installed once
	std::atomic<uint32> fWakeStamp{0};
	size_t fStackSize = 0;
	VErrorTaskContext* fErrorContext = nullptr;  // owned reference, made on first use
	bool fFiber = false;
	bool fPreemptive = true;
	VDebugContext fDebugContext;
	std::vector<IIdleable*> fIdlers;  // guarded by the manager's lock
	std::atomic<bool> fCallingIdlers{false};
	bool fInIdle = false;
	std::vector<DataSlot> fDataSlots;  // touched by the task's own thread
	// One reference, on a clone of the process's manager made at construction (none before start-up).
	VIntlMgr* fIntlMgr = nullptr;
	std::vector<VMessageQueue*>* fDeathWaiters = nullptr;  // retained queues, guarded by the manager's lock
	int32 fFiberWakeFlag = 0;
	std::atomic<uint64> fLastResponseTime{0};
	VActivityToken* fActivityToken = nullptr;  // retained, from Run until death
	VRyTask* fRyTask = nullptr;  // with its owner, guarded by the manager's lock
	IRefCountable* fRyTaskOwner = nullptr;
	uint64 fCreationTime = 0;
	std::map<VJSONObject*, VJSONObjectTerminator> fJSONObjects;

	friend class VTaskMgr;
};

// Marks the calling task as waiting for a reason for the scope (when no reason is set already).
class VELK_API StTaskWaitReason
{
public:
	explicit StTaskWaitReason(ETaskWaitReason reason);
	~StTaskWaitReason();
	StTaskWaitReason(const StTaskWaitReason&) = delete;
	StTaskWaitReason& operator=(const StTaskWaitReason&) = delete;

private:
	VTask* fTask;
	bool fBegun;
};

}  // namespace velk
