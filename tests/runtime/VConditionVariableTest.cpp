#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/VConditionVariable.h"
#include "runtime/VCriticalSection.h"

namespace velk {
namespace {

using Clock = std::chrono::steady_clock;

// Whether a thread other than the caller can take the section now (left as found).
bool OtherThreadCanTake(VCriticalSection& section)
{
	bool taken = false;
	std::thread other([&] {
		taken = section.TryToLock();
		if (taken)
			section.Unlock();
	});
	other.join();
	return taken;
}

// Holds the section until the given number of waiters are inside the wait, then optionally broadcasts.
// A waiter counts itself while holding the section and lets it go only inside the wait, so once the
// section is ours and the count is reached, every waiter is registered with the condition.
void BroadcastWhenWaiting(VConditionVariable& condition, VCriticalSection& section, const std::atomic<int>& arrived, int waiters)
{
	for (;;)
	{
		StLocker locker(&section);
		if (arrived.load() == waiters)
		{
			condition.Broadcast();
			return;
		}
		std::this_thread::yield();
	}
}

TEST(VConditionVariable, WaitOutcomes)
{
	struct Row
	{
		const char* name;
		int waiters;
		int32 limit;  // -1: no limit
		bool broadcastBeforeAnyWait;
		bool roundBefore;  // a finished round with a broadcast precedes the waits
		bool broadcastDuring;
		bool expected;
	};
	const Row rows[] = {
		{"timed wait without broadcast times out", 1, 30, false, false, false, false},
		{"zero limit answers at once", 1, 0, false, false, false, false},
		{"broadcast ends a timed wait", 1, 600000, false, false, true, true},
		{"broadcast ends waits without limit", 3, -1, false, false, true, true},
		{"one broadcast ends every timed wait", 3, 600000, false, false, true, true},
		{"broadcast before anyone waited is not kept", 1, 30, true, false, false, false},
		{"a new round does not see the last round's broadcast", 2, 30, false, true, false, false},
		{"a new round sees its own broadcast", 2, -1, false, true, true, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VConditionVariable condition;
		VCriticalSection section;
		if (row.broadcastBeforeAnyWait)
		{
			EXPECT_TRUE(condition.Broadcast());
		}
		if (row.roundBefore)
		{
			std::atomic<int> arrived{0};
			std::thread waiter([&] {
				StLocker locker(&section);
				arrived.fetch_add(1);
				EXPECT_TRUE(condition._Wait(&section, false, 0));
			});
			BroadcastWhenWaiting(condition, section, arrived, 1);
			waiter.join();
		}

		std::atomic<int> arrived{0};
		std::atomic<int> seen{0};
		std::atomic<int> heldOnReturn{0};
		std::atomic<int> early{0};
		std::vector<std::thread> waiters;
		for (int i = 0; i < row.waiters; ++i)
		{
			waiters.emplace_back([&] {
				StLocker locker(&section);
				arrived.fetch_add(1);
				const Clock::time_point start = Clock::now();
				const bool result = row.limit < 0 ? condition._Wait(&section, false, 0) : condition._Wait(&section, true, row.limit);
				if (!result && Clock::now() - start < std::chrono::milliseconds(row.limit))
					early.fetch_add(1);
				if (result)
					seen.fetch_add(1);
				if (!OtherThreadCanTake(section))
					heldOnReturn.fetch_add(1);
			});
		}
		if (row.broadcastDuring)
			BroadcastWhenWaiting(condition, section, arrived, row.waiters);
		for (std::thread& waiter : waiters)
			waiter.join();
		EXPECT_EQ(seen.load(), row.expected ? row.waiters : 0);
		EXPECT_EQ(early.load(), 0);
		EXPECT_EQ(heldOnReturn.load(), row.waiters);
		EXPECT_TRUE(OtherThreadCanTake(section));
	}
}

// While tasks wait with one section, a wait with another is refused at once and keeps its section held;
// a waiter whose time ran out while the broadcaster held the section still reports the broadcast.
TEST(VConditionVariable, SecondSectionRefusedAndLateTimedWaiterSeesBroadcast)
{
	VConditionVariable condition;
	VCriticalSection section;
	VCriticalSection other;
	std::atomic<int> arrived{0};
	std::atomic<bool> untimedSeen{false};
	std::atomic<bool> timedSeen{false};
	constexpr int32 kLimit = 20;
	Clock::time_point timedStart;
	std::thread untimed([&] {
		StLocker locker(&section);
		arrived.fetch_add(1);
		untimedSeen = condition._Wait(&section, false, 0);
	});
	std::thread timed([&] {
		StLocker locker(&section);
		timedStart = Clock::now();
		arrived.fetch_add(1);
		timedSeen = condition._Wait(&section, true, kLimit);
	});

	// Both are registered once the section is ours with both counted; keep it past the timed limit.
	section.Lock();
	while (arrived.load() != 2)
	{
		section.Unlock();
		std::this_thread::yield();
		section.Lock();
	}
	other.Lock();
	EXPECT_FALSE(condition._Wait(&other, true, 600000));
	EXPECT_FALSE(OtherThreadCanTake(other));
	other.Unlock();
	std::this_thread::sleep_until(timedStart + std::chrono::milliseconds(4 * kLimit));
	condition.Broadcast();
	section.Unlock();
	untimed.join();
	timed.join();
	EXPECT_TRUE(untimedSeen.load());
	EXPECT_TRUE(timedSeen.load());

	// Nobody waits any more: the other section may now be used.
	other.Lock();
	EXPECT_FALSE(condition._Wait(&other, true, 1));
	other.Unlock();
}

}  // namespace
}  // namespace velk
