// The sleep notifier's platform part: logind's sleep signals, heard on the run loop of the thread that called
// Init, turned into the owner's sleep and wake-up notifications; the sleep is acknowledged once they ran.
#pragma once

#include "kernel/VExport.h"

#include <memory>

#include "runtime/VError.h"

namespace plat {
class SleepWatcher;
}

namespace velk {

class VSleepNotifier;

class VELK_API XMacSleepNotifier
{
public:
	XMacSleepNotifier();
	// Unregisters, waiting for a notification under way.
	~XMacSleepNotifier();

	XMacSleepNotifier(const XMacSleepNotifier&) = delete;
	XMacSleepNotifier& operator=(const XMacSleepNotifier&) = delete;

	// Subscribes on the calling thread's run loop: 0, also when there is no system bus (nothing arrives then);
	// VE_SLEEP_NOTIFICATION_UNAVAILABLE, pushed, when the bus refused the subscription.
	VError Init();
	void SetOwner(VSleepNotifier* owner) { fOwner = owner; }

	// The power callback: the owner's notification (none without an owner), then for a sleep the
	// acknowledgement that lets the machine go to sleep.
	void SystemCallback(bool goingToSleep);

private:
	VSleepNotifier* fOwner = nullptr;
	std::unique_ptr<plat::SleepWatcher> fWatcher;
};

}  // namespace velk
