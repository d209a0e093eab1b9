#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <new>
#include <thread>

#include "common/VFailingAllocations.h"
#include "common/VTestEnvironment.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure

// Runs DoRun until killed, recording its hooks.
class LoopingTask : public VTask
{
public:
	LoopingTask() : VTask(nullptr, 0, eTaskStylePreemptive, nullptr) {}

	std::atomic<int> fInits{0};
	std::atomic<int> fRuns{0};
	std::atomic<int> fDeInits{0};
	std::atomic<int> fPrepared{0};
	VSyncEvent fRunning;
	// How long DoDeInit takes: a task slow to die stays dying while its killers look at it.
	int32 fDeInitMilliseconds = 0;

protected:
	void DoInit() override { ++fInits; }
	bool DoRun() override
	{
		++fRuns;
		fRunning.Unlock();
		VTask::Sleep(1);
		return true;
	}
	void DoDeInit() override
	{
		++fDeInits;
		if (fDeInitMilliseconds > 0)
			VTask::Sleep(fDeInitMilliseconds);
	}
	void DoPrepareToDie() override { ++fPrepared; }
};

TEST(VTask, BodyRunsOnItsOwnTaskThenTheTaskDies)
{
	VTestEnvironment::StopLoggerTask();  // these counts are of the tasks the test makes
	VTaskID mainID = VTask::GetCurrentID();
	std::atomic<VTask*> seenTask{nullptr};
	std::atomic<VTaskID> seenID{0};
	std::atomic<uint32> seenState{0};
	std::atomic<VError> seenError{VE_OK};
	VSyncEvent started;
	VSyncEvent proceed;
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
		started.Unlock();
		seenTask = VTask::GetCurrent();
		seenID = VTaskMgr::Get()->GetCurrentTaskID();
		seenState = VTask::GetCurrent()->GetState();
		_ThrowError(VE_INVALID_PARAMETER);
		seenError = VTask::GetLastError();
		proceed.Lock();
	});
	EXPECT_EQ(task->GetState(), eTaskStateCreated);
	EXPECT_NE(task->GetID(), 0);
	EXPECT_NE(task->GetID(), mainID);
	EXPECT_EQ(task->GetStackSize(), VTaskMgr::Get()->GetDefaultStackSize());

	StErrorContextInstaller mainScope(false, false);
	ASSERT_TRUE(task->Run());
	EXPECT_FALSE(task->Run());
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(true), 2u);
	started.Lock();
	EXPECT_FALSE(task->WaitForDeath(1));
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 2u);
	proceed.Unlock();
	EXPECT_TRUE(task->WaitForDeath(kForever));
	EXPECT_EQ(task->GetState(), eTaskStateDead);
	EXPECT_EQ(seenTask.load(), task);
	EXPECT_EQ(seenID.load(), task->GetID());
	EXPECT_EQ(seenState.load(), uint32(eTaskStateRunning));
	// The error went to the task's own context, not to the main task's.
	EXPECT_EQ(seenError.load(), VE_INVALID_PARAMETER);
	EXPECT_EQ(mainScope.GetLastError(), VE_OK);
	EXPECT_TRUE(task->WaitForDeath(0));
	task->Release();
	VTaskMgr::Get()->PurgeDeadTasks();
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1u);
}

TEST(VTask, KillEndsTheRunLoopThroughItsHooks)
{
	LoopingTask* task = new LoopingTask;
	ASSERT_TRUE(task->Run());
	task->fRunning.Lock();
	task->Kill();
	EXPECT_TRUE(task->IsDying());
	EXPECT_TRUE(task->WaitForDeath(kForever));
	EXPECT_EQ(task->fInits.load(), 1);
	EXPECT_GE(task->fRuns.load(), 1);
	EXPECT_EQ(task->fDeInits.load(), 1);
	EXPECT_EQ(task->fPrepared.load(), 1);
	task->Release();
}

// However often and by whom a task is killed, its hook runs once, before it starts dying.
TEST(VTask, PrepareToDieRunsOnceOnTheChangeToDying)
{
	struct Case
	{
		const char* name;
		std::function<void(LoopingTask*)> kill;
	};
	const Case cases[] = {
		{"one Kill", [](LoopingTask* task) { task->Kill(); }},
		{"Kill again while it dies",
			[](LoopingTask* task) {
				for (int i = 0; i < 3; ++i)
					task->Kill();
			}},
		{"Kill from other threads at once",
			[](LoopingTask* task) {
				std::thread first([task] { task->Kill(); });
				std::thread second([task] { task->Kill(); });
				first.join();
				second.join();
			}},
		{"KillAllTasks", [](LoopingTask*) { EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(kForever)); }},
		{"KillAllTasks after Kill",
			[](LoopingTask* task) {
				task->Kill();
				EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(kForever));
			}},
	};
	for (const Case& test : cases)
	{
		SCOPED_TRACE(test.name);
		LoopingTask* task = new LoopingTask;
		task->fDeInitMilliseconds = 50;
		ASSERT_TRUE(task->Run());
		task->fRunning.Lock();
		test.kill(task);
		EXPECT_TRUE(task->WaitForDeath(kForever));
		task->Kill();  // dead: nothing more to prepare
		EXPECT_EQ(task->fPrepared.load(), 1);
		EXPECT_EQ(task->fDeInits.load(), 1);
		task->Release();
	}
	VTaskMgr::Get()->PurgeDeadTasks();
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1u);
}

// The kill time is in place before anyone can see the task dying, whichever thread looks.
TEST(VTask, TicksSinceKillAreCountedFromTheKill)
{
	constexpr int kRounds = 20;
	int32 largest = 0;
	for (int round = 0; round < kRounds; ++round)
	{
		LoopingTask* task = new LoopingTask;
		ASSERT_TRUE(task->Run());
		task->fRunning.Lock();
		std::atomic<bool> watching{false};
		int32 seen = -1;
		std::thread watcher([&] {
			watching = true;
			int32 ticks = 0;
			while (!task->IsDying(&ticks))
			{
			}
			seen = ticks;
		});
		while (!watching.load())
			VTask::Sleep(0);
		task->Kill();
		watcher.join();
		EXPECT_TRUE(task->WaitForDeath(kForever));
		task->Release();
		EXPECT_GE(seen, 0);
		largest = std::max(largest, seen);
	}
	// Ten seconds of ticks: far more than a kill takes, far less than the ticks since the machine started.
	EXPECT_LT(largest, 600);
}

TEST(VTask, KillAllTasksLeavesTheMainTaskAlone)
{
	VTestEnvironment::StopLoggerTask();  // these counts are of the tasks the test makes
	LoopingTask* first = new LoopingTask;
	LoopingTask* second = new LoopingTask;
	ASSERT_TRUE(first->Run());
	ASSERT_TRUE(second->Run());
	first->fRunning.Lock();
	second->fRunning.Lock();
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(true), 3u);
	EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(kForever));
	EXPECT_EQ(first->GetState(), eTaskStateDead);
	EXPECT_EQ(second->GetState(), eTaskStateDead);
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1u);
	first->Release();
	second->Release();

	// A task that does not end when killed holds the answer to false until the time-out.
	VSyncEvent release;
	VTask* stubborn = new VTask(0, eTaskStylePreemptive, [&] { release.Lock(); });
	ASSERT_TRUE(stubborn->Run());
	EXPECT_FALSE(VTaskMgr::Get()->KillAllTasks(20));
	EXPECT_TRUE(stubborn->IsDying());
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 2u);
	release.Unlock();
	EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(kForever));
	EXPECT_EQ(stubborn->GetState(), eTaskStateDead);
	stubborn->Release();
}

TEST(VTask, TaskWaitingForItselfOrNeverRunIsRefused)
{
	std::atomic<bool> ownWait{true};
	VTask* task = new VTask(nullptr, 0, eTaskStylePreemptive, [](VTask* self) -> int32 { return self != nullptr ? 0 : 1; });
	VTask* selfWaiter = new VTask(0, eTaskStylePreemptive, [&] { ownWait = VTask::GetCurrent()->WaitForDeath(kForever); });
	ASSERT_TRUE(selfWaiter->Run());
	EXPECT_TRUE(selfWaiter->WaitForDeath(kForever));
	EXPECT_FALSE(ownWait.load());
	selfWaiter->Release();

	// Never run: its thread ends without running the body when the task goes.
	EXPECT_EQ(task->GetState(), eTaskStateCreated);
	EXPECT_FALSE(task->WaitForDeath(1));
	task->Release();

	VTask* styleless = new VTask(0, ETaskStyle(0), [] {});
	EXPECT_EQ(styleless->GetID(), 0);
	EXPECT_FALSE(styleless->Run());
	styleless->Release();
}

TEST(VTask, SleepingTaskIsWokenEarly)
{
	VSyncEvent asleep;
	std::atomic<bool> woke{false};
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
		asleep.Unlock();
		VTask::Sleep(kForever);
		woke = true;
	});
	ASSERT_TRUE(task->Run());
	asleep.Lock();
	task->WakeUp();
	EXPECT_TRUE(task->WaitForDeath(kForever));
	EXPECT_TRUE(woke.load());
	task->Release();
}

// Every allocation of making, naming and running a task fails in turn: the task either runs whole or
// is refused whole, with velk 100, and nothing escapes as an exception or stays behind.
TEST(VTask, MadeAndRunWholeOrNotAtAllWhenMemoryRunsOut)
{
	VTestEnvironment::StopLoggerTask();  // these counts are of the tasks the test makes
	struct Outcome
	{
		bool made = false;
		bool ran = false;
		ETaskState state = eTaskStateCreated;
		VTaskID id = 0;
		int bodies = 0;
		VError error = VE_OK;
	};
	std::array<Outcome, 64> outcomes{};
	std::atomic<int> bodies{0};
	const VString name("drill");
	StErrorContextInstaller errors(false, true);
	long runs = test::ForEachAllocationFailure(
		[&](long allowed) {
			if (allowed >= long(outcomes.size()))
				return;
			Outcome& outcome = outcomes[size_t(allowed)];
			VTask::FlushErrors();
			int before = bodies.load();
			VTask* task = new (std::nothrow) VTask(0, eTaskStylePreemptive, [&bodies] { ++bodies; });
			if (task == nullptr)
				return;
			outcome.made = true;
			task->SetName(name);
			outcome.ran = task->Run();
			if (outcome.ran)
				task->WaitForDeath(kForever);
			outcome.state = task->GetState();
			outcome.id = task->GetID();
			outcome.error = VTask::GetLastError();
			task->Release();
			outcome.bodies = bodies.load() - before;
		},
		long(outcomes.size()));
	ASSERT_GT(runs, 3);
	ASSERT_LT(runs, long(outcomes.size()));
	int refusedMade = 0;
	for (long run = 0; run < runs; ++run)
	{
		SCOPED_TRACE(run);
		const Outcome& outcome = outcomes[size_t(run)];
		if (!outcome.made)
			continue;
		if (outcome.ran)
		{
			EXPECT_EQ(outcome.state, eTaskStateDead);
			EXPECT_NE(outcome.id, 0);
			EXPECT_EQ(outcome.bodies, 1);
		}
		else
		{
			++refusedMade;
			EXPECT_EQ(outcome.state, eTaskStateCreated);
			EXPECT_EQ(outcome.id, 0);
			EXPECT_EQ(outcome.bodies, 0);
			EXPECT_EQ(outcome.error, VE_MEMORY_FULL);
		}
	}
	EXPECT_GT(refusedMade, 0);
	EXPECT_TRUE(outcomes[size_t(runs - 1)].ran);
	VTaskMgr::Get()->PurgeDeadTasks();
	EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1u);
}

}  // namespace
}  // namespace velk
