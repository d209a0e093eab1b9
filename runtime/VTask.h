// A task: the toolbox's unit of execution, with an id, a name, a state and its own stack of error
// contexts and international manager. The static operations act on the calling thread's task.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>
#include <functional>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VDebugContext.h"
#include "runtime/VError.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTaskMgr.h"

namespace velk {

class VErrorBase;
class VErrorTaskContext;
class VIntlMgr;
class XMacTask;

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

class VELK_API VTask : public VObject, public IRefCountable
{
public:
	// The main task, for the calling thread: preemptive, running, sized as the main stack. Short of
	// memory (velk 100 thrown) it has no platform task and is not the thread's current task.
	explicit VTask(VTaskMgr* manager);

	// A new task, created (not running). A preemptive task's thread is made at once and waits for Run;
	// when it cannot be made, or memory is short (velk 100 thrown), the task has no platform task, id 0,
	// and Run fails. stackSize 0 is the manager's default. body, when not null, is the task's whole work:
	// it is called with the task itself; without one the task runs DoInit, then DoRun until it answers
	// false or the task is dying, then DoDeInit. owner is not used by the task.
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

	// Starts a created task: lists it with the manager and lets its thread run the body. False when
	// the task has no platform task, was already run, before the manager's Init, or when it could
	// not start (it is then dead).
	bool Run();

	// True from the dying state on; when asked and dying, the ticks (1/60 s) since Kill. Safe from any
	// thread: the kill time is written before the dying state is published.
	bool IsDying(int32* outTicksSinceKill = nullptr) const;

	// Asks the task to end: a running task gets DoPrepareToDie, then becomes dying (a task may kill
	// itself). The hook runs once per task, for the Kill that makes it die: a Kill of a task that is
	// not running, or that comes while another Kill runs the hook, does nothing. From another thread,
	// first waits while the task is still starting.
	void Kill();

	// Blocks on the task's death until it is dead or milliseconds have passed; returns whether it is
	// dead. False at once when a task waits for itself. Allocates nothing.
	bool WaitForDeath(int32 milliseconds);

	// Copy of the name, empty until set. Both take the manager's lock. Short of memory SetName keeps
	// the old name (the string layer throws the error).
	void GetName(VString& name) const;
	void SetName(const VString& name);

	// Four-character tag of what the task is for; nothing reads it.
	// The task's state for the debug manager, touched only by the task's own thread.
	VDebugContext& GetDebugContext() { return fDebugContext; }

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

	// Positive: the calling task sleeps that long (WakeUp ends it early); on a thread without a task,
	// or before Init, returns at once. Zero or negative: gives the processor to another thread.
	static void Sleep(int32 milliseconds);
	// Ends the task's current or next Sleep.
	void WakeUp();

	// Blocks the calling task until SetMessageQueueEvent is called for it or it is dying, then returns;
	// a call made after such a signal returns at once, consuming it. Messages will be executed meanwhile
	// once tasks have queues; for now nothing runs. The wait reason is eTaskWaitReasonMessage meanwhile.
	// On a thread without a task the wait is on an event of the thread's own, for one slice (1 s) at
	// most, since no task can be named to end it: callers re-check their condition and wait again.
	static void WaitAndExecuteMessages();
	// Signals the task's message queue event: ends its running WaitAndExecuteMessages, or its next one.
	// Safe from any thread; allocates nothing.
	void SetMessageQueueEvent();

	// Hooks of a task without a body function, run on its own thread: DoInit first, then DoRun again
	// and again while it answers true (and the task is not dying), DoDeInit last.
	virtual void DoInit() {}
	virtual bool DoRun() { return true; }
	virtual void DoDeInit() {}
	// Called once, by the Kill that makes the task die, before it starts dying; nothing by default.
	virtual void DoPrepareToDie() {}

	// The stack size asked for; else the main stack's size for the main task and the manager's
	// default for others.
	size_t GetStackSize();

	// Compare-and-swap of the state; true when it was from.
	bool _ChangeState(ETaskState from, ETaskState to);

	// The body, on the task's own thread; then the dead-marking step, which wakes the death waiters.
	void _Run();
	void _SetStateDead();

private:
	// A thread blocked in WaitForDeath: lives on that thread's stack and is listed on the task, under the
	// manager's lock, for the length of the wait.
	struct DeathWaiter;

	void _InitNew(size_t stackSize, ETaskStyle style);
	// Takes a copy of the process's intl manager (none before start-up); false, with velk 100 thrown,
	// when there is one to copy and memory is short.
	bool _TakeIntlMgr();
	void _ReportErrorThrown(VErrorBase* error);
	// With the manager's lock held: sets and unlists every death waiter.
	void _WakeDeathWaiters();

	XMacTask* fPlatformTask = nullptr;  // owned
	VTaskID fID = 0;
	ETaskStyle fStyle = eTaskStylePreemptive;
	VTaskMgr* fManager = nullptr;
	std::atomic<uint32> fState{eTaskStateCreated};
	std::atomic<uint32> fWaitReason{eTaskWaitReasonNone};
	std::atomic<uint32> fKillTime{0};  // written before the dying state it goes with
	std::atomic<bool> fKillClaimed{false};  // taken by the Kill that runs DoPrepareToDie
	VTask* fNext = nullptr;  // the manager's task list
	OsType fKind = 0;
	VDebugContext fDebugContext;
	VString* fName = nullptr;  // owned, null until SetName
	size_t fStackSize = 0;
	VErrorTaskContext* fErrorContext = nullptr;  // owned reference, made on first use
	std::function<void()> fBody;
	DeathWaiter* fDeathWaiters = nullptr;  // guarded by the manager's lock
	// Stands for the event of the message queue the task will have: set by SetMessageQueueEvent (and by
	// Kill, so that a waiting task sees it is dying), consumed by WaitAndExecuteMessages.
	VSyncEvent fMessageQueueEvent;
	bool fFiber = false;
	bool fPreemptive = true;
	// One reference, on a clone of the process's manager made at construction (none before start-up).
	VIntlMgr* fIntlMgr = nullptr;

	friend class VTaskMgr;
};

}  // namespace velk
