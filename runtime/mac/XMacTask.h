// The platform half of a task: the thread it runs on and the semaphore that puts it to sleep.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <pthread.h>
#include <semaphore.h>

#include "kernel/memory/VObject.h"

namespace velk {

class VTask;
class XMacFiber;

class VELK_API XMacTask : public VObject
{
public:
	explicit XMacTask(VTask* task) : fTask(task) {}
	// Destroys the fiber.
	~XMacTask() override;

	// Lets the task's thread start its body; false when there is no thread.
	virtual bool Run() = 0;
	// Ends a Sleep early (or the next one, when nobody sleeps).
	virtual void WakeUp() = 0;
	// Blocks until WakeUp.
	virtual void Freeze() = 0;
	// Blocks at most milliseconds, less when woken.
	virtual void Sleep(int32 milliseconds) = 0;
	virtual bool CheckSystemMessages() = 0;
	// The id the task takes from its thread; 0 when it has none of its own.
	virtual int32 GetValueForVTaskID() const { return 0; }
	// The task thread's processor use: the share of one processor since the previous call (the first
	// call: since the thread started); false (0.0) when it cannot be read.
	virtual bool GetCPUUsage(double& usage);
	// Seconds the thread spent in user and system mode; false (0.0, 0.0) when they cannot be read.
	virtual bool GetCPUTimes(double& user, double& system);

	VTask* GetTask() const { return fTask; }
	size_t GetStackSize() const { return fStackSize; }
	pthread_t GetThread() const { return fThread; }
	XMacFiber* GetFiber() const { return fFiber; }
	VTask* GetFiberParent() const { return fFiberParent; }
	// Gives the task fiber (owned from now on) and the task whose fiber hands control to it.
	void _SetFiber(XMacFiber* fiber, VTask* parent);

protected:
	pthread_t fThread{};
	VTask* fTask;
	XMacFiber* fFiber = nullptr;  // owned; for fiber tasks, and the main task when fibers are allowed
	VTask* fFiberParent = nullptr;
	size_t fStackSize = 0;
	void* fStackTop = nullptr;
	bool fAttached = false;
};

// A task with a thread of its own: either attached to an existing thread (the main task) or running
// on a detached thread it made, which waits until Run before it starts the task's body.
class VELK_API XMacTask_preemptive : public XMacTask
{
public:
	// Attaches to the calling thread, whose id is threadID.
	XMacTask_preemptive(VTask* task, int32 threadID, size_t stackSize);
	// A waiting thread that was never run ends without running the body.
	~XMacTask_preemptive() override;

	// Makes the task's thread (stack of the task's size, rounded up to whole pages), suspended until
	// Run. Null, with a 'POSX' error thrown when the thread cannot be made or velk 100 when memory is
	// short; nothing is left behind then.
	static XMacTask_preemptive* Create(VTask* task);

	bool Run() override;
	void WakeUp() override;
	void Freeze() override;
	void Sleep(int32 milliseconds) override;
	bool CheckSystemMessages() override { return false; }
	int32 GetValueForVTaskID() const override { return fThreadID; }
	// Read from the kernel's figures for the thread while its body runs (the attached thread's for the
	// main task): before it starts and once it has ended, false.
	bool GetCPUUsage(double& usage) override;
	bool GetCPUTimes(double& user, double& system) override;

private:
	struct StartGate;

	explicit XMacTask_preemptive(VTask* task);
	static void* _ThreadProc(void* gate);

	int32 fThreadID = 0;
	// The kernel's id of the thread while the body runs, 0 before and after: an ended thread's id may be
	// given to a new thread.
	std::atomic<int32> fKernelThreadID{0};
	std::mutex fUsageLock;  // guards the last usage reading
	double fLastUsageClock = 0.0;  // seconds since boot of the last GetCPUUsage, 0 before the first
	double fLastUsageTime = 0.0;  // processor seconds then
	sem_t fSemaphore;
	StartGate* fGate = nullptr;  // one of its two references, the other held by the thread it made
};

}  // namespace velk
