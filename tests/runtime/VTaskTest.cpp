#include <gtest/gtest.h>

#include <atomic>

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

protected:
	void DoInit() override { ++fInits; }
	bool DoRun() override
	{
		++fRuns;
		fRunning.Unlock();
		VTask::Sleep(1);
		return true;
	}
	void DoDeInit() override { ++fDeInits; }
	void DoPrepareToDie() override { ++fPrepared; }
};

TEST(VTask, BodyRunsOnItsOwnTaskThenTheTaskDies)
{
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

TEST(VTask, KillAllTasksLeavesTheMainTaskAlone)
{
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

}  // namespace
}  // namespace velk
