#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "kernel/strings/VString.h"
#include "runtime/SpinLock.h"

namespace velk {
namespace {

// Restores the process's strategy after each test.
class SpinLockTest : public testing::Test
{
protected:
	void SetUp() override
	{
		fLock = SpinLock::Lock;
		fUnlock = SpinLock::Unlock;
		fMaxSpins = SpinLock::sMaxSpins;
		fYield = SpinLock::sYieldAfterCheckEvent;
	}
	void TearDown() override
	{
		SpinLock::Lock = fLock;
		SpinLock::Unlock = fUnlock;
		SpinLock::sMaxSpins = fMaxSpins;
		SpinLock::sYieldAfterCheckEvent = fYield;
	}

private:
	SpinLock::LockRoutine fLock = nullptr;
	SpinLock::UnlockRoutine fUnlock = nullptr;
	int32 fMaxSpins = 0;
	bool fYield = false;
};

TEST_F(SpinLockTest, SettingsChooseRoutineAndCounts)
{
	struct Row
	{
		const char* mode;  // null: absent from the settings
		bool hasMaxSpins;
		double maxSpins;
		SpinLock::LockRoutine expectedRoutine;  // null: the routine in place before
		int32 expectedMaxSpins;
	};
	const Row rows[] = {
		{"alwaysSleep", true, 5, &SpinLock::_LockAlwaysSleep, 5},
		{"LoopMaxSpinsAndYields", false, 0, &SpinLock::_LockLoopMaxSpinsAndYields, 1},
		{"maxSpinsThenLoopYields", true, 3.9, &SpinLock::_LockMaxSpinsThenLoopYields, 3},
		{"alwaysSleepy", true, 7, nullptr, 7},
		{nullptr, true, -2, nullptr, -2},
		{"", true, 1e12, nullptr, 2147483647},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.mode != nullptr ? row.mode : "(no mode)");
		SpinLock::Lock = &SpinLock::_LockLoopMaxSpinsAndYields;
		SpinLock::Unlock = nullptr;
		SpinLock::sMaxSpins = 1;
		VString mode(row.mode != nullptr ? row.mode : "");
		SpinLock::_ApplySettings(row.mode != nullptr ? &mode : nullptr, row.hasMaxSpins ? &row.maxSpins : nullptr, nullptr);
		if (row.expectedRoutine != nullptr)
		{
			EXPECT_EQ(SpinLock::Lock, row.expectedRoutine);
			EXPECT_EQ(SpinLock::Unlock, &SpinLock::_Unlock);
		}
		else
		{
			EXPECT_EQ(SpinLock::Lock, &SpinLock::_LockLoopMaxSpinsAndYields);
			EXPECT_EQ(SpinLock::Unlock, nullptr);
		}
		EXPECT_EQ(SpinLock::sMaxSpins, row.expectedMaxSpins);
	}
	const bool yes = true;
	SpinLock::_ApplySettings(nullptr, nullptr, &yes);
	EXPECT_TRUE(SpinLock::sYieldAfterCheckEvent);
}

TEST_F(SpinLockTest, ReleaseTouchesOnlyTheHeldBit)
{
	uint32 word = 0x00123456u;
	SpinLock::Lock(&word);
	EXPECT_EQ(word, 0x80123456u);
	EXPECT_FALSE(SpinLock::_TryAcquire(&word));
	SpinLock::Unlock(&word);
	EXPECT_EQ(word, 0x00123456u);
	EXPECT_TRUE(SpinLock::_TryAcquire(&word));
	SpinLock::_Unlock(&word);
}

TEST_F(SpinLockTest, EveryRoutineExcludesContendingThreads)
{
	const SpinLock::LockRoutine routines[] = {&SpinLock::_LockMaxSpinsThenLoopYields,
		&SpinLock::_LockLoopMaxSpinsAndYields, &SpinLock::_LockAlwaysSleep};
	for (SpinLock::LockRoutine routine : routines)
	{
		SpinLock::sMaxSpins = 4;
		uint32 word = 0;
		long counter = 0;
		constexpr int kThreads = 3;
		constexpr int kRounds = 5000;
		std::vector<std::thread> threads;
		for (int t = 0; t < kThreads; ++t)
		{
			threads.emplace_back([&] {
				for (int i = 0; i < kRounds; ++i)
				{
					routine(&word);
					++counter;
					SpinLock::_Unlock(&word);
				}
			});
		}
		for (std::thread& thread : threads)
			thread.join();
		EXPECT_EQ(counter, long(kThreads) * kRounds);
		EXPECT_EQ(word, 0u);
	}
}

}  // namespace
}  // namespace velk
