// Waiting on a task's message queue event: ended by another thread's signal, by a signal given before the
// wait, by the task dying; one signal ends one wait.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {
namespace {

constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure

// Blocks until the task waits for its messages, or is dead and never will.
void AwaitMessageWait(const VTask& task)
{
	while (task.GetWaitReason() != eTaskWaitReasonMessage && task.GetState() != eTaskStateDead)
		VTaskMgr::YieldNow();
}

struct Row
{
	const char* name;
	bool signalFirst;  // the signal comes before the task starts waiting
	int32 waits;  // WaitAndExecuteMessages calls the body makes in a row
	// Ends the waits from the test's thread; the task runs its waits meanwhile.
	std::function<void(VTask& task, const std::atomic<int32>& returned)> end;
	bool dyingAtEnd;  // whether the task saw itself dying when its last wait returned
};

TEST(VTaskMessageQueue, WaitEndsOnSignalOrDeath)
{
	const Row rows[] = {
		{"signal from another thread", false, 1,
			[](VTask& task, const std::atomic<int32>&) {
				AwaitMessageWait(task);
				std::thread([&task] { task.SetMessageQueueEvent(); }).join();
			},
			false},
		{"signal before the wait", true, 1, [](VTask&, const std::atomic<int32>&) {}, false},
		{"one signal ends one wait", false, 2,
			[](VTask& task, const std::atomic<int32>& returned) {
				AwaitMessageWait(task);
				task.SetMessageQueueEvent();
				while (returned.load() < 1)
					VTaskMgr::YieldNow();
				// The first signal was consumed: the task waits again until the second.
				AwaitMessageWait(task);
				EXPECT_EQ(returned.load(), 1);
				task.SetMessageQueueEvent();
			},
			false},
		{"killed while waiting", false, 1,
			[](VTask& task, const std::atomic<int32>&) {
				AwaitMessageWait(task);
				std::thread([&task] { task.Kill(); }).join();
			},
			true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::atomic<int32> returned{0};
		std::atomic<bool> dying{false};
		std::atomic<bool> started{false};
		VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
			while (!started.load())
				VTaskMgr::YieldNow();
			for (int32 i = 0; i < row.waits; ++i)
			{
				VTask::WaitAndExecuteMessages();
				++returned;
			}
			dying = VTask::GetCurrent()->IsDying();
		});
		if (row.signalFirst)
			task->SetMessageQueueEvent();
		ASSERT_TRUE(task->Run());
		started = true;
		row.end(*task, returned);
		EXPECT_TRUE(task->WaitForDeath(kForever));
		EXPECT_EQ(returned.load(), row.waits);
		EXPECT_EQ(dying.load(), row.dyingAtEnd);
		EXPECT_EQ(task->GetWaitReason(), eTaskWaitReasonNone);
		task->Release();
	}
}

TEST(VTaskMessageQueue, DyingTaskDoesNotWait)
{
	std::atomic<bool> returned{false};
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
		VTask* self = VTask::GetCurrent();
		self->Kill();
		VTask::WaitAndExecuteMessages();
		returned = true;
	});
	ASSERT_TRUE(task->Run());
	EXPECT_TRUE(task->WaitForDeath(kForever));
	EXPECT_TRUE(returned.load());
	task->Release();
}

}  // namespace
}  // namespace velk
