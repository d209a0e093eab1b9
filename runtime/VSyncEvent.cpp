#include "runtime/VSyncEvent.h"

#include <new>

#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacSyncEvent.h"

namespace velk {

VSyncEvent::VSyncEvent()
{
	static_assert(sizeof(XMacSyncEvent) <= kImplSize, "the platform event outgrew its storage");
	static_assert(alignof(XMacSyncEvent) <= kImplAlignment, "the platform event needs a stricter alignment");
	::new (static_cast<void*>(fImplStorage)) XMacSyncEvent;
}

VSyncEvent::~VSyncEvent()
{
	_Impl().~XMacSyncEvent();
}

XMacSyncEvent& VSyncEvent::_Impl()
{
	return *std::launder(reinterpret_cast<XMacSyncEvent*>(fImplStorage));
}

// Fiber tasks will wait through the fiber scheduler and count themselves in fFiberWaiters; no fiber
// scheduler runs tasks yet, so every caller waits on the condition.

bool VSyncEvent::Lock()
{
	XMacSyncEvent& impl = _Impl();
	impl.LockMutex();
	while (!fSet)
		impl.Wait();
	impl.UnlockMutex();
	return true;
}

bool VSyncEvent::Lock(int32 milliseconds)
{
	XMacSyncEvent& impl = _Impl();
	impl.LockMutex();
	const bool set = milliseconds >= 1 ? impl.WaitForFlag(fSet, milliseconds) : fSet;
	impl.UnlockMutex();
	return set;
}

bool VSyncEvent::Unlock()
{
	XMacSyncEvent& impl = _Impl();
	impl.LockMutex();
	fSet = true;
	impl.Broadcast();
	impl.UnlockMutex();
	fWakeStamp.fetch_add(1);
	if (fFiberWaiters.load() > 0)
		VTaskMgr::Get()->WakeUpSystemEventPolling();
	return true;
}

bool VSyncEvent::Reset()
{
	XMacSyncEvent& impl = _Impl();
	impl.LockMutex();
	fSet = false;
	impl.UnlockMutex();
	return true;
}

}  // namespace velk
