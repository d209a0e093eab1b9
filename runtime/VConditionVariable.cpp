#include "runtime/VConditionVariable.h"

#include <new>

#include "runtime/SpinLock.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTaskMgr.h"

namespace velk {

VConditionVariable::~VConditionVariable()
{
	if (fEvent != nullptr)
		fEvent->Release();
}

bool VConditionVariable::_Wait(VCriticalSection* section, bool withTimeout, int32 milliseconds)
{
	VSyncEvent* spare = nullptr;
	SpinLock::_Take(&fSpinWord);
	for (;;)
	{
		if (fWaiterCount != 0 && fSection != section)
		{
			SpinLock::_Release(&fSpinWord);
			if (spare != nullptr)
				spare->Release();
			return false;
		}
		if (fEvent != nullptr || spare != nullptr)
			break;
		// Nothing is allocated while the word is held: the event is made outside and the state checked again.
		SpinLock::_Release(&fSpinWord);
		spare = new (std::nothrow) VSyncEvent;
		if (spare == nullptr)
			VTaskMgr::YieldNow();
		SpinLock::_Take(&fSpinWord);
	}
	if (fEvent == nullptr)
	{
		fEvent = spare;
		spare = nullptr;
	}
	if (fWaiterCount++ == 0)
	{
		// A new round: the set left by the last round's broadcast must not let this waiter through.
		fEvent->Reset();
		fBroadcastCount = 0;
		fSection = section;
	}
	// The event lives as long as the condition, so it is used outside the word without a reference.
	VSyncEvent* event = fEvent;
	SpinLock::_Release(&fSpinWord);
	if (spare != nullptr)
		spare->Release();

	section->Unlock();
	if (withTimeout)
		event->Lock(milliseconds);
	else
		event->Lock();
	section->Lock();

	SpinLock::_Take(&fSpinWord);
	if (--fWaiterCount == 0)
		fSection = nullptr;
	const bool broadcastSeen = fBroadcastCount >= 1;
	SpinLock::_Release(&fSpinWord);
	return broadcastSeen;
}

bool VConditionVariable::Broadcast()
{
	SpinLock::_Take(&fSpinWord);
	if (fEvent != nullptr)
	{
		// Stops at its maximum: wrapping to 0 would make waiters report a time-out after a broadcast.
		if (fBroadcastCount != 0xFFFF)
			++fBroadcastCount;
		fEvent->Unlock();
	}
	SpinLock::_Release(&fSpinWord);
	return true;
}

}  // namespace velk
