#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/VSyncEvent.h"

namespace velk {
namespace {

TEST(VSyncEvent, ZeroTimeoutReportsTheFlagWithoutWaiting)
{
	VSyncEvent* event = new VSyncEvent;
	EXPECT_EQ(event->GetRefCount(), 1);
	EXPECT_FALSE(event->Lock(0));
	EXPECT_FALSE(event->Lock(-3));
	EXPECT_TRUE(event->Unlock());
	EXPECT_TRUE(event->Lock(0));
	EXPECT_TRUE(event->Lock(-3));
	EXPECT_TRUE(event->Lock());
	EXPECT_TRUE(event->Lock(0));  // manual reset: still set
	EXPECT_TRUE(event->Reset());
	EXPECT_FALSE(event->Lock(0));
	event->Release();
}

TEST(VSyncEvent, TimedWaitOnUnsetEventTimesOut)
{
	VSyncEvent event;
	EXPECT_FALSE(event.Lock(15));
	EXPECT_EQ(event.GetWakeStamp(), 0u);
}

TEST(VSyncEvent, SetWakesEveryWaiter)
{
	VSyncEvent event;
	constexpr int kWaiters = 4;
	std::atomic<int> passed{0};
	std::atomic<int> timedPassed{0};
	std::vector<std::thread> waiters;
	for (int i = 0; i < kWaiters; ++i)
	{
		waiters.emplace_back([&] {
			if (event.Lock())
				passed.fetch_add(1);
		});
	}
	// A long limit: the set must end this wait, whether it comes before or during it.
	waiters.emplace_back([&] {
		if (event.Lock(600000))
			timedPassed.fetch_add(1);
	});
	EXPECT_EQ(passed.load(), 0);
	event.Unlock();
	for (std::thread& waiter : waiters)
		waiter.join();
	EXPECT_EQ(passed.load(), kWaiters);
	EXPECT_EQ(timedPassed.load(), 1);
	event.Unlock();
	EXPECT_EQ(event.GetWakeStamp(), 2u);
}

// Sets followed at once by resets wake a timed waiter that then finds the flag clear: that must not end
// the wait. Each wait answers true (it saw the flag set) or false no earlier than its limit.
TEST(VSyncEvent, TimedWaitUnderPulsesTimesOutOnlyAtItsDeadline)
{
	VSyncEvent event;
	std::atomic<bool> stop{false};
	std::thread pulser([&] {
		while (!stop.load())
		{
			event.Unlock();
			event.Reset();
			// Mostly clear, so that waiters start their waits and are woken into a clear flag.
			std::this_thread::sleep_for(std::chrono::microseconds(200));
		}
	});
	const int32 limits[] = {1, 3, 10, 25};
	int early = 0;
	for (int32 limit : limits)
	{
		for (int round = 0; round < 10; ++round)
		{
			const auto start = std::chrono::steady_clock::now();
			if (!event.Lock(limit) && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(limit))
				++early;
		}
	}
	stop = true;
	pulser.join();
	EXPECT_EQ(early, 0);
	EXPECT_GT(event.GetWakeStamp(), 0u);
}

}  // namespace
}  // namespace velk
