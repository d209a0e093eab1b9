#include "runtime/VSyncEvent.h"

#include "runtime/VTaskMgr.h"

namespace velk {

VSyncEvent::VSyncEvent() = default;

VSyncEvent::~VSyncEvent() = default;

// Fiber tasks wait through the fiber scheduler and count themselves in fFiberWaiters; no fiber
// scheduler runs tasks yet, so every caller waits on the condition.

bool VSyncEvent::Lock()
{
	fImpl.LockMutex();
	while (!fSet)
		fImpl.Wait();
	fImpl.UnlockMutex();
	return true;
}

bool VSyncEvent::Lock(int32 milliseconds)
{
	fImpl.LockMutex();
	if (milliseconds >= 1 && !fSet)
		fImpl.WaitRelative(milliseconds);
	bool set = fSet;
	fImpl.UnlockMutex();
	return set;
}

bool VSyncEvent::Unlock()
{
	fImpl.LockMutex();
	fSet = true;
	fImpl.Broadcast();
	fImpl.UnlockMutex();
	fWakeStamp.fetch_add(1);
	if (fFiberWaiters.load() > 0)
		VTaskMgr::Get()->WakeUpSystemEventPolling();
	return true;
}

bool VSyncEvent::Reset()
{
	fImpl.LockMutex();
	fSet = false;
	fImpl.UnlockMutex();
	return true;
}

}  // namespace velk
