// A reference-counted manual-reset event: once set it stays set, and every waiter passes, until Reset.
#pragma once

#include <atomic>

#include "kernel/memory/IRefCountable.h"
#include "runtime/VSyncObject.h"
#include "runtime/mac/XMacSyncEvent.h"

namespace velk {

class VSyncEvent : public IRefCountable, public VSyncObject
{
public:
	// Not set; one reference owned by the creator.
	VSyncEvent();
	~VSyncEvent() override;

	// Blocks until the event is set; returns true.
	bool Lock();

	// Waits at most milliseconds (none when below 1) and returns whether the event is set at the end:
	// false means timed out. A spurious wake-up may end the wait early; the flag is then reported.
	bool Lock(int32 milliseconds);

	// Sets the event and wakes every waiter; returns true.
	bool Unlock();

	// Clears the event; returns true.
	bool Reset();

	// Rises by one at every Unlock.
	uint32 GetWakeStamp() const { return fWakeStamp.load(); }

private:
	XMacSyncEvent fImpl;
	bool fSet = false;  // guarded by fImpl's mutex
	std::atomic<uint32> fWakeStamp{0};
};

}  // namespace velk
