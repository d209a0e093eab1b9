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

	SpinLock::_Take(&fSpinWord);
	if (fOwner == 0)
	{
		fOwner = id;
		fCount = 1;
		SpinLock::_Release(&fSpinWord);
		return true;
	}

	for (;;)
	{
		if (fOwner == id)
		{
			++fCount;
			SpinLock::_Release(&fSpinWord);
			return true;
		}

		if (fWaitersEvent != nullptr)
		{
			// The event is manual-reset: a release between our unlock of the word and our wait is not lost.
			VSyncEvent* event = fWaitersEvent;
			event->Retain();
			SpinLock::_Release(&fSpinWord);
			event->Lock();
			event->Release();
			SpinLock::_Take(&fSpinWord);
		}
		else
		{
			// No allocation while the word is held: make the event outside, then check again.
			SpinLock::_Release(&fSpinWord);
			VSyncEvent* event = new (std::nothrow) VSyncEvent;
			SpinLock::_Take(&fSpinWord);
			if (fOwner == 0)
			{
				fOwner = id;
				fCount = 1;
				SpinLock::_Release(&fSpinWord);
				if (event != nullptr)
					event->Release();
				return true;
			}
			if (event == nullptr)
			{
				// No memory for an event: wait by yielding until one can be made or another waiter's
				// event appears. The lock still succeeds, only less cheaply.
				SpinLock::_Release(&fSpinWord);
				VTaskMgr::YieldNow();
				SpinLock::_Take(&fSpinWord);
			}
			else if (fWaitersEvent == nullptr)
			{
				fWaitersEvent = event;
				continue;  // the next pass waits on it
			}
			else
			{
				// Another waiter installed its event first.
				SpinLock::_Release(&fSpinWord);
				event->Release();
				if (SpinLock::sYieldAfterCheckEvent)
					VTaskMgr::YieldNow();
				SpinLock::_Take(&fSpinWord);
			}
		}

		if (fOwner == 0)
			break;
	}

	fOwner = id;
	++fCount;
	SpinLock::_Release(&fSpinWord);
	return true;
}

bool VCriticalSection::TryToLock()
{
	const VTaskID id = VTaskMgr::GetCurrentLockOwnerID();
	bool taken = false;
	SpinLock::_Take(&fSpinWord);
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
	SpinLock::_Release(&fSpinWord);
	return taken;
}

bool VCriticalSection::Unlock()
{
	SpinLock::_Take(&fSpinWord);
	if (fCount <= 0)
	{
		// Not held: nothing to release (an unbalanced call must not make the count negative).
		SpinLock::_Release(&fSpinWord);
		return true;
	}
	if (--fCount == 0)
	{
		VSyncEvent* event = fWaitersEvent;
		fWaitersEvent = nullptr;
		fOwner = 0;
		SpinLock::_Release(&fSpinWord);
		if (event != nullptr)
		{
			event->Unlock();
			event->Release();
		}
	}
	else
	{
		SpinLock::_Release(&fSpinWord);
	}
	return true;
}

}  // namespace velk
