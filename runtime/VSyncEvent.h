// A reference-counted manual-reset event: once set it stays set, and every waiter passes, until Reset.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstddef>

#include "kernel/memory/IRefCountable.h"
#include "runtime/VSyncObject.h"

namespace velk {

class XMacSyncEvent;

class VELK_API VSyncEvent : public IRefCountable, public VSyncObject
{
public:
	// Not set; one reference owned by the creator. Allocates nothing beyond the object itself.
	VSyncEvent();
	~VSyncEvent() override;

	// Blocks until the event is set; returns true.
	bool Lock();

	// Waits at most milliseconds (none when below 1) and returns whether the event is set at the end:
	// false means timed out, never before the deadline. A set seen by the waiter ends the wait with true;
	// a set undone by Reset before the waiter ran does not end it. A fiber task waits through the fiber
	// scheduler instead, so how long it waits is the scheduler's: the process's own returns at once.
	bool Lock(int32 milliseconds);

	// Sets the event and wakes every waiter; returns true. The event is still used after a waiter may
	// have passed: whoever calls it must keep the event alive (hold a reference) until it returns.
	bool Unlock();

	// Clears the event; returns true.
	bool Reset();

	// Rises by one at every Unlock.
	uint32 GetWakeStamp() const { return fWakeStamp.load(); }

private:
	XMacSyncEvent& _Impl();

	// The platform mutex and condition live inside the event rather than behind a pointer, so making an
	// event cannot fail half-way; the source checks that they fit.
	static constexpr size_t kImplSize = 128;
	static constexpr size_t kImplAlignment = 8;

	alignas(kImplAlignment) unsigned char fImplStorage[kImplSize];
	bool fSet = false;  // guarded by the platform mutex
	std::atomic<uint32> fWakeStamp{0};
};

}  // namespace velk
