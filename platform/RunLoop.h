// A run loop: descriptor sources and timers whose callbacks fire on the thread that runs the loop, and only
// while it runs it. Each thread has its own loop; the main run loop is served by a thread of its own, since a
// command-line process never runs its main thread's loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace plat {

class RunLoop
{
public:
	// Identifies a source within its loop; never 0, which stands for a source that could not be added.
	using SourceId = uint64_t;
	// Gets the poll events that made the descriptor ready (POLLIN, POLLHUP, ...).
	using DescriptorCallback = std::function<void(short revents)>;
	using TimerCallback = std::function<void()>;

	// The calling thread's loop, made on first use and destroyed when the thread ends: a reference kept past
	// that end must not be used. On the main run loop's own thread this is the main run loop.
	static RunLoop& Current();

	// The main run loop, served by a platform thread started on first use that runs it for the life of the
	// process; never destroyed, so it may be used from static destructors and after main. Its callbacks run
	// on that thread, one at a time, and must not block it for long. No other thread runs it (RunOnce and Run
	// return at once there), and Stop has no lasting effect on it.
	static RunLoop& Main();

	~RunLoop();
	RunLoop(const RunLoop&) = delete;
	RunLoop& operator=(const RunLoop&) = delete;

	// Watches a descriptor the caller owns for the poll events given; the callback fires, with the events
	// that occurred, each time the loop finds it ready (level-triggered: a callback that does not consume
	// the readiness is called again). The caller closes the descriptor, after Remove. 0 for a negative
	// descriptor, an empty callback, or when the loop has no wake-up descriptor.
	SourceId AddDescriptor(int descriptor, short events, DescriptorCallback callback);

	// A timer over the monotonic clock: first firing delayMs after now (a negative delay counts as 0), then
	// every intervalMs; an interval of 0 makes a one-shot timer, removed just before it fires. A firing the
	// loop was too busy to deliver on time is delivered once, late, not once per missed interval. 0 for a
	// negative interval, an empty callback, or when no timer descriptor is left. Close-on-exec.
	SourceId AddTimer(int64_t delayMs, int64_t intervalMs, TimerCallback callback);

	// Unlists a source; an unknown id (or one already removed) is ignored. Called on any thread other than
	// the one running the loop, it waits for a callback of that source that is running to return: once it
	// returns, the callback is not running and never runs again; so it must not be called holding a lock
	// that callback takes. Called on the loop's own thread (from a callback, possibly the source's own), it
	// does not wait.
	void Remove(SourceId id);

	// Waits at most timeoutMs (-1: without bound) for sources to become ready, then fires them once:
	// descriptors in the order they were added, timers in the order they fell due. True when a callback
	// fired; false when the time ran out or Stop was asked. A loop already run by another thread, or run
	// again from inside one of its own callbacks, is not run: false at once.
	bool RunOnce(int timeoutMs);

	// Runs the loop until Stop. A Stop that came while the loop was not running ends the next Run at once.
	void Run();

	// Makes Run return after the callbacks under way; any thread may call it.
	void Stop();

	// Callbacks must not throw: an exception escaping a callback is caught at the loop and dropped, and the
	// source stays as it was (a one-shot timer is already gone).

private:
	struct Source;

	RunLoop();

	enum class Pass
	{
		kFired,		// callbacks fired
		kTimedOut,
		kWoken,		// only the wake-up descriptor, or sources removed before their turn
		kRefused	// the loop is being run already, or has no wake-up descriptor
	};

	void Wake();
	// One poll over the sources listed now, and the callbacks of those found ready.
	Pass PollOnce(int timeoutMs);
	bool Fire(SourceId id, const std::shared_ptr<Source>& source, short revents);
	SourceId List(const std::shared_ptr<Source>& source);
	static void* ServeMain(void* loop);

	int fWake = -1;	 // eventfd that ends the poll when sources change or Stop is asked
	std::atomic<bool> fStopAsked {false};
	bool fMain = false;					// set once, before the main run loop is handed out
	std::atomic<bool> fServed {false};	// the main run loop only: its thread has been started
	std::mutex fMutex;
	std::condition_variable fCallbackEnded;
	// Under fMutex:
	std::map<SourceId, std::shared_ptr<Source>> fSources;
	SourceId fNextId = 1;
	std::thread::id fRunner;	// the thread inside RunOnce, none when the loop is not running
	SourceId fFiring = 0;		// the source whose callback is running, 0 when none is
};

}  // namespace plat
