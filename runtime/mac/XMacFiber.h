// A fiber: a thread of its own that runs only when handed control. Fibers of one group pass control with
// YieldTo, each waiting on its own semaphore, so one of them runs at a time while each keeps its own
// thread-specific values (current task, ids, errno).
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <functional>
#include <pthread.h>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API XMacFiber
{
public:
	// What wakes a fiber, kept apart from the fiber object so that it can still be used once that object
	// may have gone: a fiber's body takes its parent's waker before its task is marked dead, and wakes the
	// parent with it afterwards.
	class VELK_API Waker
	{
	public:
		Waker() = default;
		~Waker();
		Waker(Waker&& other) noexcept;
		Waker& operator=(Waker&& other) noexcept;
		Waker(const Waker&) = delete;
		Waker& operator=(const Waker&) = delete;

		// Lets the fiber run (does nothing for an empty waker).
		void WakeUp() const;

	private:
		friend class XMacFiber;
		struct Control;
		explicit Waker(Control* control) : fControl(control) {}
		Control* fControl = nullptr;  // one reference
	};

	// A fiber whose body runs on a new detached thread (stack of stackSize bytes rounded up to whole
	// pages) once it is first handed control. Null, with a 'POSX' error thrown (velk 100 when memory is
	// short), when the thread cannot be made.
	static XMacFiber* Create(size_t stackSize, std::function<void()> body);

	// The fiber of the calling thread, with no body: the thread is already running. Null, with velk 100
	// thrown, when memory is short.
	static XMacFiber* CreateFiberForThread();

	// A fiber never handed control ends its thread without running the body. A fiber whose body runs
	// (or ran) is left alone: its thread still owns what the body needs and frees it when it ends.
	~XMacFiber();

	XMacFiber(const XMacFiber&) = delete;
	XMacFiber& operator=(const XMacFiber&) = delete;

	// Called on this fiber's own thread: lets next run, then blocks until this fiber is handed control
	// again.
	void YieldTo(XMacFiber* next);

	// Lets the fiber run.
	void WakeUp();

	// A waker of this fiber that stays usable after the fiber object is gone.
	Waker RetainWaker() const;

	pthread_t GetThread() const { return fThread; }
	bool HasBody() const { return fHasBody; }

private:
	using Control = Waker::Control;

	XMacFiber(Control* control, bool hasBody);
	static void* _ThreadProc(void* control);

	Control* fControl;  // one reference; the fiber's thread holds the other while it runs
	pthread_t fThread{};
	bool fHasBody;
};

}  // namespace velk
