#include "runtime/VSyncEvent.h"

#include <algorithm>
#include <new>

#include "files/VSystem.h"
#include "runtime/VTask.h"
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

namespace {

// A fiber task waits through the fiber scheduler, which lets the other fibers of its group run meanwhile;
// every other caller blocks its thread on the condition.
bool CallerIsFiber()
{
	if (!VTaskMgr::IsInited())
		return false;
	const VTask* task = VTask::GetCurrent();
	return task != nullptr && task->IsFiber();
}

// The flag is guarded by the event's mutex: a fiber reads it under the mutex too.
bool ReadFlag(XMacSyncEvent& impl, const bool& flag)
{
	impl.LockMutex();
	const bool set = flag;
	impl.UnlockMutex();
	return set;
}

// The scheduler waits on the stamp's word in place, reading it atomically.
int32* StampWord(std::atomic<uint32>& stamp)
{
	static_assert(sizeof(std::atomic<uint32>) == sizeof(int32) && std::atomic<uint32>::is_always_lock_free);
	return reinterpret_cast<int32*>(&stamp);
}

}  // namespace

bool VSyncEvent::Lock()
{
	if (CallerIsFiber())
	{
		fFiberWaiters.fetch_add(1);
		uint32 stamp = fWakeStamp.load();
		while (!ReadFlag(_Impl(), fSet))
		{
			VTaskMgr::CurrentFiberWaitFlag(StampWord(fWakeStamp), int32(stamp));
			stamp = fWakeStamp.load();
		}
		fFiberWaiters.fetch_sub(1);
		return true;
	}
	XMacSyncEvent& impl = _Impl();
	impl.LockMutex();
	while (!fSet)
		impl.Wait();
	impl.UnlockMutex();
	return true;
}

bool VSyncEvent::Lock(int32 milliseconds)
{
	if (CallerIsFiber())
	{
		if (ReadFlag(_Impl(), fSet))
			return true;
		uint32 noted = fWakeStamp.load();
		fFiberWaiters.fetch_add(1);
		const uint64 deadline = VSystem::GetCurrentTime() + uint64(std::max(milliseconds, int32(0)));
		int32 remaining = milliseconds;
		for (;;)
		{
			VTaskMgr::CurrentFiberWaitFlagWithTimeout(StampWord(fWakeStamp), int32(noted), remaining);
			const uint32 stamp = fWakeStamp.load();
			const uint64 now = VSystem::GetCurrentTime();
			if (stamp == noted || now >= deadline)
				break;
			remaining = int32(deadline - now);
			noted = stamp;
			if (ReadFlag(_Impl(), fSet))
				break;
		}
		fFiberWaiters.fetch_sub(1);
		// Timed out or set: either way the answer is the flag as it stands now.
		return ReadFlag(_Impl(), fSet);
	}
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
	impl.UnlockMutex();
	// Woken once the mutex is free, a waiter takes it at once rather than sleeping a second time on it,
	// which every hand-over between two tasks would pay. Waiters re-check the flag under the mutex.
	impl.Broadcast();
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
