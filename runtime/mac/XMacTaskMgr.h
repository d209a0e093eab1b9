// The platform half of the task manager: which task runs on the calling thread, the id each thread
// has even without a task, stack bounds and thread names. Its state is all thread-specific, so it is
// a set of static operations rather than an object inside the manager.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;
class VTask;
class XMacTask;
enum ETaskStyle : uint32;

class VELK_API XMacTaskMgr
{
public:
	XMacTaskMgr() = delete;

	// Makes the platform task of the main task on the calling thread and makes task that thread's
	// current task. When the process allows fibers, the thread also gets a fiber, and the main task is
	// its own fiber parent: the fiber tasks it runs hand control back to it. Null, with velk 100 thrown
	// and no current task set, when memory is short.
	static XMacTask* CreateMain(VTask* task);

	// Makes the platform task of a new task: for a preemptive task, its thread, waiting until the
	// task runs (null, with the error thrown, when it cannot be made); for a fiber task, when the
	// process allows fibers, an object that makes its fiber when the task runs. Null for other styles.
	static XMacTask* Create(VTask* task, ETaskStyle style);

	// Hands control from the calling task's fiber to task's, when both have fibers of one group (the
	// same fiber parent) and task is not dead; returns when control comes back. Otherwise nothing.
	static void YieldToFiber(VTask* task);

	// The calling thread's task, null on a thread without one.
	static VTask* GetCurrentTask();
	static void SetCurrentTask(VTask* task);

	// The calling thread's own id: never 0, the same for the thread's whole life, before and after the
	// task manager starts, and never given to another thread. It stands for the thread's port.
	static int32 GetCurrentForeignTaskID();

	// A new thread's id, handed out ahead so the task knows it before its thread runs; the new
	// thread adopts it first thing.
	static int32 _NewThreadID();
	static void _AdoptThreadID(int32 id);

	// Bytes of stack still free below the calling frame. The thread's stack bounds are asked once per
	// thread; an unlimited main stack counts as 8 MiB.
	static size_t GetCurrentFreeStackSize();
	// The stack limit of the process (8 MiB when unlimited), 1 MiB when it cannot be read: what a thread
	// may count on without asking for its own bounds.
	static size_t GetCurrentFreeStackSizeStatic();

	// The main thread's stack size (the stack limit, 8 MiB when unlimited), 0 when it cannot be read.
	static size_t ComputeMainTaskStackSize();

	// Names the calling thread name + " (id = N)", cut to what the system keeps (15 bytes of UTF-8).
	// The main thread keeps its name: on Linux it is the process's name in every process list.
	static void SetCurrentThreadName(const VString& name, int32 id);
};

}  // namespace velk
