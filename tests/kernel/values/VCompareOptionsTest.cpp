// The options of a value comparison: what a default set holds, on a task and on a thread without one.
#include "kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/VTestEnvironment.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

void ExpectDefaultFlags(const VCompareOptions& options)
{
	EXPECT_FALSE(options.IsLike());
	EXPECT_FALSE(options.IsDiacritical());
	EXPECT_FALSE(options.IsBeginsWith());
	EXPECT_DOUBLE_EQ(options.GetEpsilon(), 0.000001);
	EXPECT_EQ(options.GetUserData(), nullptr);
}

TEST(VCompareOptionsTest, DefaultsTakeTheCallersManager)
{
	const VCompareOptions options;
	ExpectDefaultFlags(options);
	EXPECT_EQ(options.GetIntlMgr(), VTask::GetCurrentIntlManager());

	// On a thread without a task the manager comes from the process, and without a process there is none.
	std::thread([] {
		const VCompareOptions onThread;
		ExpectDefaultFlags(onThread);
		EXPECT_EQ(onThread.GetIntlMgr(), VTask::GetCurrentIntlManager());
		StNoProcessInstance noProcess;
		EXPECT_EQ(VCompareOptions().GetIntlMgr(), nullptr);
	}).join();
}

}  // namespace
}  // namespace velk
