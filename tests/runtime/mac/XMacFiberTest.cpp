#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/VTestEnvironment.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProcess.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"

namespace velk {
namespace {

// Fibers alone, in the test process.

TEST(XMacFiber, FibersHandingControlNeverRunAtOnce)
{
	constexpr int kRounds = 200;
	std::atomic<int> running{0};
	std::atomic<int> overlaps{0};
	int steps = 0;  // plain: only the fiber that has control touches it
	auto step = [&]() {
		if (running.fetch_add(1) != 0)
			++overlaps;
		++steps;
		sched_yield();  // gives a second runner every chance to show up
		running.fetch_sub(1);
	};
	XMacFiber* self = XMacFiber::CreateFiberForThread();
	ASSERT_NE(self, nullptr);
	XMacFiber* first = nullptr;
	XMacFiber* second = nullptr;
	first = XMacFiber::Create(0, [&]() {
		for (int round = 0; round < kRounds; ++round)
		{
			step();
			first->YieldTo(second);
		}
		self->WakeUp();
	});
	second = XMacFiber::Create(0, [&]() {
		for (int round = 0; round < kRounds; ++round)
		{
			step();
			// The last turn lets first finish without waiting for a turn that never comes.
			if (round + 1 < kRounds)
				second->YieldTo(first);
			else
				first->WakeUp();
		}
	});
	ASSERT_NE(first, nullptr);
	ASSERT_NE(second, nullptr);
	self->YieldTo(first);
	EXPECT_EQ(overlaps.load(), 0);
	EXPECT_EQ(steps, 2 * kRounds);
	delete first;
	delete second;
	delete self;
}

TEST(XMacFiber, FiberNeverRunEndsWithoutItsBody)
{
	std::promise<void> bodyGone;
	std::shared_ptr<void> probe(nullptr, [&bodyGone](void*) { bodyGone.set_value(); });
	bool ran = false;
	XMacFiber* fiber = XMacFiber::Create(0, [&ran, probe]() { ran = true; });
	ASSERT_NE(fiber, nullptr);
	probe.reset();
	delete fiber;
	bodyGone.get_future().wait();  // the body goes when the fiber's thread lets go of it
	EXPECT_FALSE(ran);
}

TEST(XMacFiber, ThreadThatCannotBeMadeIsAPOSIXError)
{
	StErrorContextInstaller scope(false, true);
	EXPECT_EQ(XMacFiber::Create(size_t(1) << 60, []() {}), nullptr);
	EXPECT_EQ(ERRCODE_SIGNATURE(VTask::GetLastError()), kPOSIX_SIGNATURE);
}

// Fiber tasks need a process that allows fibers, which the test process does not: each scenario runs in
// a child process that brings the toolbox up again with fibers, and exits 0 when its checks passed.
void RunWithFibers(void (*scenario)())
{
	dup2(STDERR_FILENO, STDOUT_FILENO);  // the child's failures show in what the parent reports
	delete VTestEnvironment::GetProcess();
	VProcess* process = new VProcess;
	ASSERT_TRUE(process->Init(0x02));
	ASSERT_TRUE(process->WithFibers());
	scenario();
	delete process;
	std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

void FiberTasksTakeCounterIdsAndRunWhenHandedControl()
{
	VTask* main = VTask::GetCurrent();
	std::vector<std::string> steps;  // one fiber of the group runs at a time
	auto probe = std::make_shared<int>(0);
	VTask* first = new VTask(0, eTaskStyleFiber, [&steps, probe]() { steps.push_back("first"); });
	VTask* second = new VTask(0, eTaskStyleFiber, [&]() {
		steps.push_back("second");
		VTaskMgr::Get()->YieldToFiber(main);
		steps.push_back("second again");
	});
	EXPECT_EQ(first->GetID(), -1);
	EXPECT_EQ(second->GetID(), -2);
	EXPECT_TRUE(steps.empty());

	// The body runs when Run hands it control; its end hands control back.
	EXPECT_TRUE(first->Run());
	EXPECT_EQ(steps, std::vector<std::string>({"first"}));
	EXPECT_EQ(first->GetState(), eTaskStateDead);
	EXPECT_EQ(probe.use_count(), 1);  // the body went with the task's end

	// Run returns as soon as the fiber hands control back; the parent can hand it over again.
	EXPECT_TRUE(second->Run());
	steps.push_back("main");
	EXPECT_EQ(second->GetState(), eTaskStateRunning);
	VTaskMgr::Get()->YieldToFiber(second);
	EXPECT_EQ(steps, std::vector<std::string>({"first", "second", "main", "second again"}));
	EXPECT_EQ(second->GetState(), eTaskStateDead);
	VTaskMgr::Get()->YieldToFiber(second);  // dead: nothing to hand control to, no wait
	first->Release();
	second->Release();
}

void DeadFiberTaskMayBeFreedWhileItsFiberWakesTheParent()
{
	VTask* main = VTask::GetCurrent();
	std::atomic<bool> stop{false};
	VTask* purger = new VTask(0, eTaskStylePreemptive, [&stop]() {
		while (!stop.load())
		{
			VTaskMgr::Get()->PurgeDeadTasks();
			sched_yield();
		}
	});
	ASSERT_TRUE(purger->Run());
	// Only the task list holds each fiber task when it dies, and the purger frees it as soon as it can: the
	// fiber must then wake this task without touching the task, its platform half or its fiber (the thread
	// sanitizer sees any such touch, whenever the free comes).
	for (int round = 0; round < 200; ++round)
	{
		VTask* fiber = new VTask(0, eTaskStyleFiber, [main]() { VTaskMgr::Get()->YieldToFiber(main); });
		EXPECT_TRUE(fiber->Run());
		fiber->Release();
		VTaskMgr::Get()->YieldToFiber(fiber);
	}
	stop.store(true);
	EXPECT_TRUE(purger->WaitForDeath(600000));
	purger->Release();
}

void FiberTaskWaitsOnAnEventAsACountedFiberWaiter()
{
	// With fibers allowed the main task is a fiber task too.
	ASSERT_TRUE(VTask::GetCurrent()->IsFiber());
	VSyncEvent* event = new VSyncEvent;
	VTask* setter = new VTask(0, eTaskStylePreemptive, [event]() {
		while (event->GetFiberWaiterCount() == 0)
			sched_yield();
		event->Unlock();
	});
	ASSERT_TRUE(setter->Run());
	EXPECT_TRUE(event->Lock());
	EXPECT_EQ(event->GetFiberWaiterCount(), 0u);
	EXPECT_TRUE(event->Lock(10));

	// The process's scheduler never blocks a fiber: a wait on a clear event ends at once, timed out.
	event->Reset();
	EXPECT_FALSE(event->Lock(50));
	EXPECT_EQ(event->GetFiberWaiterCount(), 0u);
	EXPECT_TRUE(setter->WaitForDeath(600000));
	setter->Release();
	event->Release();
}

TEST(XMacTask_fiber, ScenariosInAProcessThatAllowsFibers)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	const struct
	{
		const char* name;
		void (*scenario)();
	} kScenarios[] = {
		{"counter ids, hand-overs", &FiberTasksTakeCounterIdsAndRunWhenHandedControl},
		{"freed after death", &DeadFiberTaskMayBeFreedWhileItsFiberWakesTheParent},
		{"event waits", &FiberTaskWaitsOnAnEventAsACountedFiberWaiter},
	};
	for (const auto& row : kScenarios)
		EXPECT_EXIT(RunWithFibers(row.scenario), ::testing::ExitedWithCode(0), "") << row.name;
}

}  // namespace
}  // namespace velk
