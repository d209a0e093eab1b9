#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace velk
