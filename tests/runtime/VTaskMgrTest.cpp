#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "common/VFailingAllocations.h"
#include "common/VTestEnvironment.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

// Free stack measured a few frames down, each holding a buffer the compiler cannot drop.
size_t FreeStackBelow(int depth)
{
	volatile char pad[4096];
	pad[0] = char(depth);
	size_t free = depth == 0 ? VTaskMgr::Get()->GetCurrentFreeStackSize() : FreeStackBelow(depth - 1);
	return free + size_t(pad[0] - char(depth));
}

TEST(VTaskMgr, MainTaskIsTheTestThread)
{
	VTestEnvironment::StopLoggerTask();  // these counts are of the tasks the test makes
	VTaskMgr* manager = VTaskMgr::Get();
	ASSERT_TRUE(VTaskMgr::IsInited());
	VTask* main = VTask::GetCurrent();
	ASSERT_NE(main, nullptr);
	EXPECT_EQ(main, manager->GetMainTask());
	EXPECT_TRUE(main->IsMain());
	EXPECT_TRUE(VTask::IsCurrentMain());
	EXPECT_EQ(main->GetState(), eTaskStateRunning);
	EXPECT_NE(main->GetID(), 0);
	EXPECT_EQ(manager->GetCurrentTaskID(), main->GetID());
	EXPECT_EQ(VTaskMgr::GetCurrentLockOwnerID(), main->GetID());
	EXPECT_EQ(VTask::GetCurrentID(), main->GetID());
	EXPECT_EQ(manager->GetTaskCount(false), 1u);
	EXPECT_EQ(manager->GetTaskCount(true), 1u);
}

TEST(VTaskMgr, EveryThreadHasItsOwnStableNonZeroID)
{
	constexpr int kThreads = 8;
	std::mutex mutex;
	std::vector<VTaskID> ids;
	bool allStable = true;
	bool noneHadTask = true;
	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; ++t)
	{
		threads.emplace_back([&] {
			VTaskID lockID = VTaskMgr::GetCurrentLockOwnerID();
			VTaskID taskID = VTaskMgr::Get()->GetCurrentTaskID();
			bool stable = lockID == taskID && VTaskMgr::GetCurrentLockOwnerID() == lockID;
			std::lock_guard<std::mutex> guard(mutex);
			ids.push_back(lockID);
			allStable = allStable && stable;
			noneHadTask = noneHadTask && VTask::GetCurrent() == nullptr;
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	ids.push_back(VTask::GetCurrentID());
	EXPECT_TRUE(allStable);
	EXPECT_TRUE(noneHadTask);
	EXPECT_EQ(std::count(ids.begin(), ids.end(), 0), 0);
	EXPECT_EQ(std::set<VTaskID>(ids.begin(), ids.end()).size(), ids.size());
}

TEST(VTaskMgr, FreeStackIsPositiveBelowTheStackSizeAndShrinksWithDepth)
{
	VTaskMgr* manager = VTaskMgr::Get();
	size_t top = manager->GetCurrentFreeStackSize();
	size_t deeper = FreeStackBelow(8);
	EXPECT_GT(top, 0u);
	EXPECT_LT(top, manager->GetStackSizeForMainTask());
	EXPECT_LT(deeper, top);
	EXPECT_GE(top - deeper, 8u * 4096u);

	size_t threadTop = 0;
	size_t threadDeeper = 0;
	std::thread other([&] {
		threadTop = VTaskMgr::Get()->GetCurrentFreeStackSize();
		threadDeeper = FreeStackBelow(8);
	});
	other.join();
	EXPECT_GT(threadTop, 0u);
	EXPECT_LT(threadDeeper, threadTop);
	EXPECT_GE(threadTop - threadDeeper, 8u * 4096u);
}

TEST(VTaskMgr, DeInitLeavesNoCurrentTaskAndInitMakesANewMain)
{
	VTaskMgr* manager = VTaskMgr::Get();
	VTaskID id = VTask::GetCurrentID();
	manager->DeInit();
	bool inited = VTaskMgr::IsInited();
	VTask* current = VTask::GetCurrent();
	VTaskID idBefore = manager->GetCurrentTaskID();
	uint32 count = manager->GetTaskCount(false);
	bool restarted = manager->Init(VProcess::sInstance);
	EXPECT_FALSE(inited);
	EXPECT_EQ(current, nullptr);
	EXPECT_EQ(idBefore, 0);
	EXPECT_EQ(count, 0u);
	ASSERT_TRUE(restarted);
	ASSERT_NE(VTask::GetCurrent(), nullptr);
	EXPECT_EQ(VTask::GetCurrentID(), id);
	EXPECT_TRUE(manager->Init(VProcess::sInstance));
	EXPECT_EQ(manager->GetTaskCount(false), 1u);
}

// A task still running when the manager goes down is killed and waited for first: its thread keeps
// using the manager's lock and list until it is dead.
TEST(VTaskMgr, DeInitEndsTheOtherTasksFirst)
{
	VTaskMgr* manager = VTaskMgr::Get();
	VSyncEvent started;
	std::atomic<int> namesRead{0};
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
		VTask* self = VTask::GetCurrent();
		VString name;
		while (!self->IsDying())
		{
			self->GetName(name);
			++namesRead;
			started.Unlock();
			VTask::Sleep(1);
		}
		self->GetName(name);
	});
	task->SetName(VString("outliver"));
	ASSERT_TRUE(task->Run());
	started.Lock();
	manager->DeInit();
	ETaskState stateAfterDeInit = task->GetState();
	bool restarted = manager->Init(VProcess::sInstance);
	// Whatever happened above, the task must end before the test does.
	task->Kill();
	EXPECT_TRUE(task->WaitForDeath(600000));
	task->Release();
	EXPECT_EQ(stateAfterDeInit, eTaskStateDead);
	EXPECT_GT(namesRead.load(), 0);
	ASSERT_TRUE(restarted);
	EXPECT_EQ(manager->GetTaskCount(false), 1u);
}

// Every allocation of bringing the manager up fails in turn: it comes up whole or not at all.
TEST(VTaskMgr, InitFailsWholeWhenMemoryRunsOut)
{
	VTaskMgr* manager = VTaskMgr::Get();
	manager->DeInit();
	int failures = 0;
	int halfMade = 0;
	VProcess* process = VProcess::sInstance;
	long runs = 0;
	{
		// Without a process object no settings file is looked for: every allocation left is the manager's.
		StNoProcessInstance noProcess;
		runs = test::ForEachAllocationFailure([&](long) {
			if (manager->Init(process))
			{
				manager->DeInit();
				return;
			}
			++failures;
			if (VTaskMgr::IsInited() || manager->GetMainTask() != nullptr || VTask::GetCurrent() != nullptr)
				++halfMade;
		});
	}
	bool restarted = manager->Init(VProcess::sInstance);
	ASSERT_TRUE(restarted);
	EXPECT_GT(runs, 1);
	EXPECT_EQ(failures, runs - 1);
	EXPECT_EQ(halfMade, 0);
	EXPECT_EQ(manager->GetTaskCount(false), 1u);
	EXPECT_EQ(VTask::GetCurrent(), manager->GetMainTask());
}

TEST(VTask, WakeUpEndsTheNextSleep)
{
	VTask* main = VTask::GetCurrent();
	ASSERT_NE(main, nullptr);
	main->WakeUp();
	// Without the wake-up this sleep would outlast the test's time limit.
	VTask::Sleep(600000);
	SUCCEED();
}

TEST(VTask, IntlManagerSlotIsPerTask)
{
	VIntlMgr* previous = VTask::GetCurrentIntlManager();
	ASSERT_NE(previous, nullptr);
	previous->Retain();
	VIntlMgr* manager = VIntlMgr::Create(0, 0, 1);
	VTask::SetCurrentIntlManager(manager);
	VTask::SetCurrentIntlManager(nullptr);
	EXPECT_EQ(VTask::GetCurrentIntlManager(), manager);
	VIntlMgr* seenElsewhere = manager;
	std::thread other([&] {
		VTask::SetCurrentIntlManager(manager);
		seenElsewhere = VTask::GetCurrentIntlManager();
	});
	other.join();
	// Another thread has no task: it sees the process's manager, untouched.
	EXPECT_EQ(seenElsewhere, VProcess::sInstance->GetIntlManager());
	EXPECT_NE(seenElsewhere, manager);
	VTask::SetCurrentIntlManager(previous);
	previous->Release();
	manager->Release();
}

}  // namespace
}  // namespace velk
