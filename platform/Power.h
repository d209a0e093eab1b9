// The machine's sleep and wake-up, from logind on the system bus (DBUS_SYSTEM_BUS_ADDRESS names another bus).
// The watcher holds a "delay" sleep inhibitor while it is awake, so that the machine waits for its owner to
// have heard of a sleep; releasing it is the owner's acknowledgement. A machine without a system bus or
// without logind sends nothing, and the watcher then simply hears nothing.
#pragma once

#include <functional>

#include "platform/RunLoop.h"

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace plat {

class SleepWatcher
{
public:
	// true: the machine is about to sleep; false: it woke up.
	using Callback = std::function<void(bool goingToSleep)>;

	enum class StartResult
	{
		kWatching,		// subscribed (logind may still be missing: nothing comes then)
		kNoBus,			// no system bus to ask
		kRefused		// the bus refused the subscription, or the loop the source
	};

	SleepWatcher() = default;
	// Stops.
	~SleepWatcher();

	SleepWatcher(const SleepWatcher&) = delete;
	SleepWatcher& operator=(const SleepWatcher&) = delete;

	// Subscribes to logind's PrepareForSleep and takes the delay inhibitor (when logind refuses it, sleeps are
	// not delayed). The callback runs on loop's thread while that thread runs the loop; after a wake-up the
	// inhibitor is taken again before the callback. Only the loop's thread may call the others below.
	StartResult Start(RunLoop& loop, Callback callback);

	// Releases the inhibitor held, if any: the machine may sleep now.
	void AllowSleep();

	// Whether the inhibitor is held.
	bool HoldsDelay() const { return fDelay >= 0; }

	// Unsubscribes and closes the bus, waiting for a callback under way unless called from it. Idempotent.
	void Stop();

	// Internal: a PrepareForSleep signal for the watcher.
	static void _OnPrepareForSleep(sd_bus_message* message, void* watcher);

private:
	void _TakeDelay();
	void _Process(short revents);

	sd_bus* fBus = nullptr;
	sd_bus_slot* fMatch = nullptr;
	RunLoop* fLoop = nullptr;
	RunLoop::SourceId fSource = 0;
	Callback fCallback;
	int fDelay = -1;	// the inhibitor's descriptor
};

}  // namespace plat
