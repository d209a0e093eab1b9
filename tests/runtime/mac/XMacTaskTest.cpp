#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>

#include "files/VSystem.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {
namespace {

TEST(XMacTaskMgr, FreeStackSizeStaticIsTheStackLimit)
{
	rlimit original;
	ASSERT_EQ(::getrlimit(RLIMIT_STACK, &original), 0);
	const size_t expected = original.rlim_cur == RLIM_INFINITY ? size_t(8) << 20 : size_t(original.rlim_cur);
	EXPECT_EQ(XMacTaskMgr::GetCurrentFreeStackSizeStatic(), expected);
	// Another soft limit (this test runs in a process of its own) is read anew.
	rlimit lowered = original;
	lowered.rlim_cur = rlim_t(3) << 20;
	if (original.rlim_max != RLIM_INFINITY && original.rlim_max < lowered.rlim_cur)
		GTEST_SKIP() << "the hard stack limit is below 3 MiB";
	ASSERT_EQ(::setrlimit(RLIMIT_STACK, &lowered), 0);
	EXPECT_EQ(XMacTaskMgr::GetCurrentFreeStackSizeStatic(), size_t(3) << 20);
	::setrlimit(RLIMIT_STACK, &original);
}

TEST(XMacTask_preemptive, CPUTimesAreThoseOfTheTasksRunningThread)
{
	double user = -1.0;
	double system = -1.0;
	EXPECT_TRUE(VTask::GetCurrent()->GetCPUTimes(user, system));  // the attached main thread

	std::atomic<bool> stop{false};
	VTask* busy = new VTask(0, eTaskStylePreemptive, [&stop]() {
		volatile uint64 turns = 0;
		while (!stop.load(std::memory_order_relaxed))
			turns = turns + 1;
	});
	EXPECT_FALSE(busy->GetCPUTimes(user, system));  // its thread waits to start
	EXPECT_EQ(user, 0.0);
	ASSERT_TRUE(busy->Run());

	// Until the thread has started and the kernel has counted a tick of its user time; the bound only
	// keeps a broken reading from spinning for ever.
	bool read = false;
	const uint64 giveUp = VSystem::GetCurrentTime() + 60000;
	do
	{
		VTask::Sleep(5);
		read = busy->GetCPUTimes(user, system);
	} while ((!read || user == 0.0) && VSystem::GetCurrentTime() < giveUp);
	EXPECT_TRUE(read);
	EXPECT_GT(user, 0.0);
	double usage = -1.0;
	EXPECT_TRUE(busy->GetCPUUsage(usage));
	EXPECT_GT(usage, 0.0);
	EXPECT_LE(usage, 1.0);

	stop.store(true);
	ASSERT_TRUE(busy->WaitForDeath(600000));
	// Its thread's kernel id may now be another thread's.
	EXPECT_FALSE(busy->GetCPUTimes(user, system));
	busy->Release();
}

}  // namespace
}  // namespace velk
