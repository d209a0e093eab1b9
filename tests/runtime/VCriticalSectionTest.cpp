#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <thread>
#include <vector>

#include "common/VFailingAllocations.h"
#include "runtime/SpinLock.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VProcess.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

// Runs action on a thread of its own and returns its answer.
bool OnOtherThread(const std::function<bool()>& action)
{
	bool result = false;
	std::thread other([&] { result = action(); });
	other.join();
	return result;
}

// Tries the section from another thread, leaving it as found.
bool OtherThreadCanTake(VCriticalSection& section)
{
	return OnOtherThread([&] {
		bool taken = section.TryToLock();
		if (taken)
			section.Unlock();
		return taken;
	});
}

TEST(VCriticalSection, RecursiveLockIsExclusiveUntilTheLastUnlock)
{
	VCriticalSection section;
	EXPECT_TRUE(OtherThreadCanTake(section));
	EXPECT_TRUE(section.Lock());
	EXPECT_TRUE(section.TryToLock());
	EXPECT_TRUE(section.Lock());
	EXPECT_FALSE(OtherThreadCanTake(section));
	section.Unlock();
	section.Unlock();
	EXPECT_FALSE(OtherThreadCanTake(section));
	section.Unlock();
	EXPECT_TRUE(OtherThreadCanTake(section));
	// An unbalanced unlock leaves the section free, not broken.
	section.Unlock();
	EXPECT_TRUE(section.TryToLock());
	EXPECT_FALSE(OtherThreadCanTake(section));
	section.Unlock();
}

TEST(VCriticalSection, ContendingThreadsLoseNoUpdate)
{
	VCriticalSection section;
	constexpr int kThreads = 3;
	constexpr int kRounds = 20000;
	long counter = 0;
	std::atomic<int> inside{0};
	std::atomic<int> overlaps{0};
	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; ++t)
	{
		threads.emplace_back([&] {
			for (int i = 0; i < kRounds; ++i)
			{
				StLocker locker(&section);
				if (inside.fetch_add(1) != 0)
					overlaps.fetch_add(1);
				++counter;
				inside.fetch_sub(1);
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(counter, long(kThreads) * kRounds);
	EXPECT_EQ(overlaps.load(), 0);
}

// Eight threads on one section, each taking it, and one level more every other round, under each acquire
// routine of the spin word: no update is lost and no two threads are ever inside together.
TEST(VCriticalSection, EightThreadsCountExactlyUnderEverySpinMode)
{
	struct Row
	{
		const char* mode;
		SpinLock::LockRoutine routine;
		int32 maxSpins;
		bool yieldAfterCheckEvent;
	};
	const Row rows[] = {
		{"maxSpinsThenLoopYields", &SpinLock::_LockMaxSpinsThenLoopYields, 1, false},
		{"maxSpinsThenLoopYields, many spins", &SpinLock::_LockMaxSpinsThenLoopYields, 200, true},
		{"loopMaxSpinsAndYields", &SpinLock::_LockLoopMaxSpinsAndYields, 20, false},
		{"alwaysSleep", &SpinLock::_LockAlwaysSleep, 1, true},
	};
	const SpinLock::LockRoutine savedLock = SpinLock::Lock;
	const int32 savedMaxSpins = SpinLock::sMaxSpins;
	const bool savedYield = SpinLock::sYieldAfterCheckEvent;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.mode);
		SpinLock::Lock = row.routine;
		SpinLock::sMaxSpins = row.maxSpins;
		SpinLock::sYieldAfterCheckEvent = row.yieldAfterCheckEvent;
		VCriticalSection section;
		constexpr int kThreads = 8;
		constexpr int kRounds = 4000;
		long counter = 0;
		std::atomic<int> inside{0};
		std::atomic<int> overlaps{0};
		std::vector<std::thread> threads;
		for (int t = 0; t < kThreads; ++t)
		{
			threads.emplace_back([&] {
				for (int i = 0; i < kRounds; ++i)
				{
					StLocker locker(&section);
					StLocker again((i & 1) != 0 ? &section : nullptr);
					if (inside.fetch_add(1) != 0)
						overlaps.fetch_add(1);
					++counter;
					inside.fetch_sub(1);
				}
			});
		}
		for (std::thread& thread : threads)
			thread.join();
		EXPECT_EQ(counter, long(kThreads) * kRounds);
		EXPECT_EQ(overlaps.load(), 0);
		EXPECT_TRUE(section.TryToLock());
		section.Unlock();
	}
	SpinLock::Lock = savedLock;
	SpinLock::sMaxSpins = savedMaxSpins;
	SpinLock::sYieldAfterCheckEvent = savedYield;
}

TEST(VCriticalSection, WaiterGetsTheSectionAfterRelease)
{
	VCriticalSection section;
	std::atomic<bool> entered{false};
	section.Lock();
	std::thread waiter([&] {
		section.Lock();
		entered = true;
		section.Unlock();
	});
	EXPECT_FALSE(entered.load());
	section.Unlock();
	waiter.join();
	EXPECT_TRUE(entered.load());
}

// A waiter that cannot allocate the waiters' event still gets the section once it is released, and no
// exception leaves Lock. The waiter must reach its wait while the section is held; the pause before the
// release only makes that likely, so rounds are repeated, with longer pauses, until one waiter was refused.
TEST(VCriticalSection, WaiterWithoutMemoryForTheEventStillTakesTheSection)
{
	bool sawRefusal = false;
	for (int round = 0; round < 8 && !sawRefusal; ++round)
	{
		VCriticalSection section;
		std::atomic<bool> aboutToWait{false};
		bool took = false;
		bool threw = false;
		long refused = 0;
		section.Lock();
		std::thread waiter([&] {
			VTaskMgr::GetCurrentLockOwnerID();
			test::StFailingAllocations failing(0);
			aboutToWait = true;
			try
			{
				took = section.Lock();
				section.Unlock();
			}
			catch (const std::bad_alloc&)
			{
				threw = true;
			}
			refused = failing.GetRefusedCount();
		});
		while (!aboutToWait.load())
			std::this_thread::yield();
		std::this_thread::sleep_for(std::chrono::milliseconds(1 << round));
		section.Unlock();
		waiter.join();
		EXPECT_FALSE(threw);
		EXPECT_TRUE(took);
		sawRefusal = refused > 0;
	}
	EXPECT_TRUE(sawRefusal);
}

TEST(VCriticalSection, SectionTakenBeforeTaskManagerStartsStillExcludesOthers)
{
	VTaskMgr* manager = VTaskMgr::Get();
	VCriticalSection section;
	manager->DeInit();
	EXPECT_EQ(manager->GetCurrentTaskID(), 0);
	const VTaskID before = VTaskMgr::GetCurrentLockOwnerID();
	EXPECT_NE(before, 0);
	section.Lock();
	bool otherTookItBefore = OtherThreadCanTake(section);

	bool restarted = manager->Init(VProcess::sInstance);
	EXPECT_EQ(VTaskMgr::GetCurrentLockOwnerID(), before);
	EXPECT_EQ(manager->GetCurrentTaskID(), before);
	bool otherTookItAfter = OtherThreadCanTake(section);
	bool ownerTakesItAgain = section.TryToLock();
	section.Unlock();
	section.Unlock();
	ASSERT_TRUE(restarted);
	EXPECT_FALSE(otherTookItBefore);
	EXPECT_FALSE(otherTookItAfter);
	EXPECT_TRUE(ownerTakesItAgain);
	EXPECT_TRUE(OtherThreadCanTake(section));
}

}  // namespace
}  // namespace velk
