// A broadcast-only condition bound to one critical section at a time: tasks holding the section wait
// until another task broadcasts; every waiter of a round wakes at once.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VCriticalSection;
class VSyncEvent;

class VELK_API VConditionVariable
{
public:
	// Idle: no waiter, no section, no event yet. Constant-initializable like the sections it works with.
	constexpr VConditionVariable() = default;
	// Releases the event; no task may still wait.
	~VConditionVariable();

	VConditionVariable(const VConditionVariable&) = delete;
	VConditionVariable& operator=(const VConditionVariable&) = delete;

	// The one wait routine; the caller holds section, which is released (one level) during the wait and
	// held again on return. withTimeout false waits without limit. Returns true when a broadcast came
	// since the first of the current waiters arrived, so a waiter that timed out still answers true when
	// one came meanwhile. False at once, without releasing the section, when other tasks wait on the
	// condition with another section. The event is made by the first waiter ever; when memory is short
	// the waiter yields and tries again.
	bool _Wait(VCriticalSection* section, bool withTimeout, int32 milliseconds);

	// Wakes every current waiter; without an event (nobody has waited yet) nothing is recorded.
	// Takes the event's own mutex under the spin word and nothing else. Returns true.
	bool Broadcast();

private:
	VSyncEvent* fEvent = nullptr;  // made by the first waiter, kept for later rounds
	VCriticalSection* fSection = nullptr;  // the section of the current waiters, null when none wait
	uint32 fSpinWord = 0;  // guards the fields around it
	uint16 fWaiterCount = 0;
	uint16 fBroadcastCount = 0;  // since the first of the current waiters arrived; stops at its maximum
};

}  // namespace velk
