#include "runtime/mac/XMacFiber.h"

#include <atomic>
#include <cerrno>
#include <new>
#include <semaphore.h>
#include <utility>

#include "runtime/VError.h"
#include "runtime/mac/XMacStackSize.h"

namespace velk {

// The semaphore and the body, shared by the fiber object, its thread and the wakers handed out, each
// holding a reference: whichever lets go last frees it, so none of them ever touches a freed object.
struct XMacFiber::Waker::Control
{
	explicit Control(std::function<void()>&& body) : fBody(std::move(body)) { sem_init(&fSemaphore, 0, 0); }
	~Control() { sem_destroy(&fSemaphore); }

	void Retain() { fReferences.fetch_add(1); }
	void Release()
	{
		if (fReferences.fetch_sub(1) == 1)
			delete this;
	}

	enum EStart : int32
	{
		eWaiting,
		eStarted,
		eCancelled
	};

	sem_t fSemaphore;
	std::atomic<int32> fReferences{1};
	std::atomic<int32> fStart{eWaiting};  // the first hand-over and the destructor race for it
	std::function<void()> fBody;
};

namespace {

void WaitOn(sem_t* semaphore)
{
	while (sem_wait(semaphore) != 0 && errno == EINTR)
	{
	}
}

}  // namespace

XMacFiber::Waker::~Waker()
{
	if (fControl != nullptr)
		fControl->Release();
}

XMacFiber::Waker::Waker(Waker&& other) noexcept : fControl(std::exchange(other.fControl, nullptr))
{
}

XMacFiber::Waker& XMacFiber::Waker::operator=(Waker&& other) noexcept
{
	if (this != &other)
	{
		if (fControl != nullptr)
			fControl->Release();
		fControl = std::exchange(other.fControl, nullptr);
	}
	return *this;
}

void XMacFiber::Waker::WakeUp() const
{
	if (fControl != nullptr)
		sem_post(&fControl->fSemaphore);
}

XMacFiber::XMacFiber(Control* control, bool hasBody) : fControl(control), fHasBody(hasBody)
{
}

XMacFiber* XMacFiber::Create(size_t stackSize, std::function<void()> body)
{
	Control* control = new (std::nothrow) Control(std::move(body));
	XMacFiber* fiber = control != nullptr ? new (std::nothrow) XMacFiber(control, true) : nullptr;
	if (fiber == nullptr)
	{
		delete control;
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	control->Retain();  // the thread's

	pthread_attr_t attributes;
	pthread_attr_init(&attributes);
	int result = pthread_attr_setstacksize(&attributes, RoundUpStackSize(stackSize));
	if (result == 0)
		result = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
	if (result == 0)
		result = pthread_create(&fiber->fThread, &attributes, &_ThreadProc, control);
	pthread_attr_destroy(&attributes);
	if (result != 0)
	{
		control->Release();
		delete fiber;
		_ThrowError(MakeVError(kPOSIX_SIGNATURE, result));
		return nullptr;
	}
	return fiber;
}

XMacFiber* XMacFiber::CreateFiberForThread()
{
	Control* control = new (std::nothrow) Control(std::function<void()>());
	XMacFiber* fiber = control != nullptr ? new (std::nothrow) XMacFiber(control, false) : nullptr;
	if (fiber == nullptr)
	{
		delete control;
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	control->fStart.store(Control::eStarted);
	fiber->fThread = pthread_self();
	return fiber;
}

XMacFiber::~XMacFiber()
{
	// Only a thread still waiting for its first hand-over is let go; one that runs a body is never resumed
	// from here, since what its body works on may be going away with this fiber.
	int32 waiting = Control::eWaiting;
	if (fControl->fStart.compare_exchange_strong(waiting, Control::eCancelled))
		sem_post(&fControl->fSemaphore);
	fControl->Release();
}

void* XMacFiber::_ThreadProc(void* handedOver)
{
	Control* control = static_cast<Control*>(handedOver);
	WaitOn(&control->fSemaphore);
	int32 waiting = Control::eWaiting;
	if (control->fStart.compare_exchange_strong(waiting, Control::eStarted))
		control->fBody();
	control->Release();
	return nullptr;
}

void XMacFiber::YieldTo(XMacFiber* next)
{
	if (next == nullptr)
		return;
	// Held while waiting: the wait must not outlive the semaphore, whatever happens to this object.
	Control* own = fControl;
	own->Retain();
	sem_post(&next->fControl->fSemaphore);
	WaitOn(&own->fSemaphore);
	own->Release();
}

void XMacFiber::WakeUp()
{
	sem_post(&fControl->fSemaphore);
}

XMacFiber::Waker XMacFiber::RetainWaker() const
{
	fControl->Retain();
	return Waker(fControl);
}

}  // namespace velk
