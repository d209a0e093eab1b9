#include "runtime/VCriticalSection.h"

#include <new>

#include "runtime/SpinLock.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTaskMgr.h"

namespace velk {

VCriticalSection::~VCriticalSection()
{
	// No other task may still use a section being destroyed, so the count is read without the word.
	while (fCount > 0)
		Unlock();
}

bool VCriticalSection::Lock()
{
	const VTaskID id = VTaskMgr::GetCurrentLockOwnerID();

	SpinLock::Lock(&fSpinWord);
	if (fOwner == 0)
	{
		fOwner = id;
		fCount = 1;
		SpinLock::Unlock(&fSpinWord);
		return true;
	}

	for (;;)
	{
		if (fOwner == id)
		{
			++fCount;
			SpinLock::Unlock(&fSpinWord);
			return true;
		}

		if (fWaitersEvent != nullptr)
		{
			// The event is manual-reset: a release between our unlock of the word and our wait is not lost.
			VSyncEvent* event = fWaitersEvent;
			event->Retain();
			SpinLock::Unlock(&fSpinWord);
			event->Lock();
			event->Release();
			SpinLock::Lock(&fSpinWord);
		}
		else
		{
			// No allocation while the word is held: make the event outside, then check again.
			SpinLock::Unlock(&fSpinWord);
			VSyncEvent* event = new (std::nothrow) VSyncEvent;
			SpinLock::Lock(&fSpinWord);
			if (fOwner == 0)
			{
				fOwner = id;
				fCount = 1;
				SpinLock::Unlock(&fSpinWord);
				if (event != nullptr)
					event->Release();
				return true;
			}
			if (event == nullptr)
			{
				// No memory for an event: wait by yielding until one can be made or another waiter's
				// event appears. The lock still succeeds, only less cheaply.
				SpinLock::Unlock(&fSpinWord);
				VTaskMgr::YieldNow();
				SpinLock::Lock(&fSpinWord);
			}
			else if (fWaitersEvent == nullptr)
			{
				fWaitersEvent = event;
				continue;  // the next pass waits on it
			}
			else
			{
				// Another waiter installed its event first.
				SpinLock::Unlock(&fSpinWord);
				event->Release();
				if (SpinLock::sYieldAfterCheckEvent)
					VTaskMgr::YieldNow();
				SpinLock::Lock(&fSpinWord);
			}
		}

		if (fOwner == 0)
			break;
	}

	fOwner = id;
	++fCount;
	SpinLock::Unlock(&fSpinWord);
	return true;
}

bool VCriticalSection::TryToLock()
{
	const VTaskID id = VTaskMgr::GetCurrentLockOwnerID();
	bool taken = false;
	SpinLock::Lock(&fSpinWord);
	if (fOwner == 0)
	{
		fOwner = id;
		fCount = 1;
		taken = true;
	}
	else if (fOwner == id)
	{
		++fCount;
		taken = true;
	}
	SpinLock::Unlock(&fSpinWord);
	return taken;
}

bool VCriticalSection::Unlock()
{
	SpinLock::Lock(&fSpinWord);
	if (fCount <= 0)
	{
		// Not held: nothing to release (an unbalanced call must not make the count negative).
		SpinLock::Unlock(&fSpinWord);
		return true;
	}
	if (--fCount == 0)
	{
		VSyncEvent* event = fWaitersEvent;
		fWaitersEvent = nullptr;
		fOwner = 0;
		SpinLock::Unlock(&fSpinWord);
		if (event != nullptr)
		{
			event->Unlock();
			event->Release();
		}
	}
	else
	{
		SpinLock::Unlock(&fSpinWord);
	}
	return true;
}

}  // namespace velk
