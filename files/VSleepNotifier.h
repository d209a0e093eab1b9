// Tells interested parts of the process that the machine is about to sleep or has woken up: a set of
// registered handlers, called from the platform part's power notifications, each sleep and wake-up logged.
#pragma once

#include "kernel/VExport.h"

#include <set>

#include "kernel/memory/VObject.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VError.h"

namespace velk {

class ISleepHandler;
class XMacSleepNotifier;

// The system's power notifications could not be subscribed to.
constexpr VError VE_SLEEP_NOTIFICATION_UNAVAILABLE = MakeVError(kVELK_SIGNATURE, 1150);

class VELK_API VSleepNotifier : public VObject
{
public:
	// An empty set and a platform part, not registered with the system.
	VSleepNotifier();
	// Releases every handler, then unregisters from the system (waiting for a notification under way).
	~VSleepNotifier() override;

	VSleepNotifier(const VSleepNotifier&) = delete;
	VSleepNotifier& operator=(const VSleepNotifier&) = delete;

	// The process frame's notifier; null while there is none.
	static VSleepNotifier* Instance();

	// Registers with the system: the notifications then arrive on the calling thread's run loop, while the
	// thread runs it. VE_INVALID_PARAMETER without a platform part, VE_SLEEP_NOTIFICATION_UNAVAILABLE when the
	// system refused: both pushed (the platform part pushed the latter already); the set works all the same. A
	// machine that gives no notifications is not a failure: nothing arrives.
	VError Init();

	// Retains and adds handler when not yet in the set; 0 also for a handler already there (neither added nor
	// retained again). VE_INVALID_PARAMETER, not pushed, for null. Takes the set's lock.
	VError RegisterSleepHandler(ISleepHandler* handler);
	// Releases and removes handler when in the set; 0 whether or not it was. VE_INVALID_PARAMETER, not pushed,
	// for null. Takes the set's lock.
	VError UnregisterSleepHandler(ISleepHandler* handler);
	// Releases every handler and empties the set; 0.
	VError UnregisterSleepHandlers();

	// Called by the platform part: logs the event when the process has a logger, then calls each handler's
	// hook in address order, outside the lock (a hook may register or unregister handlers). Each handler is
	// held until its hook returned, even when unregistered meanwhile.
	void HaveSleepNotification();
	void HaveWakeupNotification();

private:
	void _Dispatch(bool goingToSleep);

	XMacSleepNotifier* fPlatform;
	std::set<ISleepHandler*> fHandlers;  // each retained once
	VCriticalSection fLock;
};

}  // namespace velk
