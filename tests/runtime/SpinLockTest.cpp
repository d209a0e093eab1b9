#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "common/VTestEnvironment.h"
#include "kernel/strings/VString.h"
#include "runtime/SpinLock.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure

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

// Reads "spinlock.prm" from a temporary folder, restoring the process's strategy after each test.
class SpinLockSettingsFileTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		test::VTemporaryFolderTest::SetUp();
		// The settings are read while the main task is alone, before the process logger's task starts.
		VTestEnvironment::StopLoggerTask();
		fLock = SpinLock::Lock;
		fMaxSpins = SpinLock::sMaxSpins;
		fYield = SpinLock::sYieldAfterCheckEvent;
	}
	void TearDown() override
	{
		SpinLock::Lock = fLock;
		SpinLock::Unlock = &SpinLock::_Unlock;
		SpinLock::sMaxSpins = fMaxSpins;
		SpinLock::sYieldAfterCheckEvent = fYield;
		test::VTemporaryFolderTest::TearDown();
	}

	// Puts the strategy in a known state, then reads the folder's "spinlock.prm".
	void Configure(SpinLock::LockRoutine preset)
	{
		SpinLock::Lock = preset;
		SpinLock::sMaxSpins = 1;
		SpinLock::sYieldAfterCheckEvent = false;
		SpinLock::_ConfigureFromFile(VFile(VString((fRoot + "spinlock.prm").c_str()), FPS_POSIX));
	}

private:
	SpinLock::LockRoutine fLock = nullptr;
	int32 fMaxSpins = 0;
	bool fYield = false;
};

TEST_F(SpinLockSettingsFileTest, FileChoosesRoutineAndCounts)
{
	const SpinLock::LockRoutine kPreset = &SpinLock::_LockMaxSpinsThenLoopYields;
	struct Row
	{
		const char* content;  // null: no file
		SpinLock::LockRoutine expectedRoutine;
		int32 expectedMaxSpins;
		bool expectedYield;
	};
	const Row rows[] = {
		{R"({"mode": "alwaysSleep", "maxSpins": 5})", &SpinLock::_LockAlwaysSleep, 5, false},
		{R"({"mode": "LoopMaxSpinsAndYields", "maxSpins": 2.7, "yieldAfterCheckEvent": true})",
			&SpinLock::_LockLoopMaxSpinsAndYields, 2, true},
		{"\xEF\xBB\xBF{\"mode\": \"alwaysSleep\"}", &SpinLock::_LockAlwaysSleep, 1, false},
		{R"({"mode": "turbo", "maxSpins": 7})", kPreset, 7, false},
		{R"({"mode": 3, "maxSpins": "9", "yieldAfterCheckEvent": 1})", kPreset, 1, false},
		{R"({"maxSpins": -4, "yieldAfterCheckEvent": true})", kPreset, -4, true},
		{R"([{"mode": "alwaysSleep", "maxSpins": 5}])", kPreset, 1, false},
		{R"({"mode": "alwaysSleep", "maxSpins": 5)", kPreset, 1, false},
		{"", kPreset, 1, false},
		{nullptr, kPreset, 1, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.content != nullptr ? row.content : "(no file)");
		std::filesystem::remove(fRoot + "spinlock.prm");
		if (row.content != nullptr)
			Write("spinlock.prm", row.content);
		Configure(kPreset);
		EXPECT_EQ(SpinLock::Lock, row.expectedRoutine);
		EXPECT_EQ(SpinLock::Unlock, &SpinLock::_Unlock);
		EXPECT_EQ(SpinLock::sMaxSpins, row.expectedMaxSpins);
		EXPECT_EQ(SpinLock::sYieldAfterCheckEvent, row.expectedYield);
		// A file that cannot be read or parsed is no error of the caller's.
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}
}

TEST_F(SpinLockSettingsFileTest, FileIsIgnoredWhileASecondTaskExists)
{
	Write("spinlock.prm", R"({"mode": "alwaysSleep", "maxSpins": 5, "yieldAfterCheckEvent": true})");
	VSyncEvent release;
	VSyncEvent running;
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
		running.Unlock();
		release.Lock();
	});
	ASSERT_TRUE(task->Run());
	running.Lock();
	Configure(&SpinLock::_LockLoopMaxSpinsAndYields);
	EXPECT_EQ(SpinLock::Lock, &SpinLock::_LockLoopMaxSpinsAndYields);
	EXPECT_EQ(SpinLock::sMaxSpins, 1);
	EXPECT_FALSE(SpinLock::sYieldAfterCheckEvent);
	release.Unlock();
	EXPECT_TRUE(task->WaitForDeath(kForever));
	task->Release();

	// Alone again: the same file is taken.
	ASSERT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1u);
	Configure(&SpinLock::_LockLoopMaxSpinsAndYields);
	EXPECT_EQ(SpinLock::Lock, &SpinLock::_LockAlwaysSleep);
	EXPECT_EQ(SpinLock::sMaxSpins, 5);
	EXPECT_TRUE(SpinLock::sYieldAfterCheckEvent);
}

}  // namespace
}  // namespace velk
