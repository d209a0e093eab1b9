// The toolbox's general-purpose lock: recursive, owned by a task id rather than a thread, cheap when
// uncontended (one spin-word round trip); waiters sleep on one shared event made under contention.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VSyncEvent;

class VELK_API VCriticalSection
{
public:
	// Free: no owner, count 0. Constant-initializable, so sections may be statics used before main.
	constexpr VCriticalSection() = default;
	// Releases every level still held, so that waiters of a section destroyed while held wake up.
	~VCriticalSection();

	VCriticalSection(const VCriticalSection&) = delete;
	VCriticalSection& operator=(const VCriticalSection&) = delete;

	// Takes the section, or one more level when the calling task owns it; blocks until it is free.
	// Returns true. The owner is the calling thread's task id (never 0, also before the task manager
	// starts), so the lock excludes other threads at all times. Waiting never fails: when memory is
	// too short for the waiters' event the caller yields and tries again instead of sleeping.
	bool Lock();

	// As Lock without waiting: false at once when another task owns the section.
	bool TryToLock();

	// Drops one level; at the last the section is free and every waiter is woken to compete again.
	// The owner is not checked: whoever calls it drops a level. Returns true.
	bool Unlock();

private:
	VSyncEvent* fWaitersEvent = nullptr;  // one reference owned by the section
	int32 fOwner = 0;
	int32 fCount = 0;
	uint32 fSpinWord = 0;  // guards the three fields above
};

// Holds a critical section for the scope; a null section is ignored.
class VELK_API StLocker
{
public:
	explicit StLocker(VCriticalSection* section) : fSection(section)
	{
		if (fSection != nullptr)
			fSection->Lock();
	}
	~StLocker()
	{
		if (fSection != nullptr)
			fSection->Unlock();
	}
	StLocker(const StLocker&) = delete;
	StLocker& operator=(const StLocker&) = delete;

private:
	VCriticalSection* fSection;
};

}  // namespace velk
