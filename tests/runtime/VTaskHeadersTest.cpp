// The task, task manager and event headers are portable: included alone, they compile and name their
// platform halves only.
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

#include <gtest/gtest.h>

namespace velk {

class XMacTaskMgr;

namespace {

template <class T>
concept IsComplete = requires { sizeof(T); };

TEST(VTaskHeaders, LeaveThePlatformHalvesOut)
{
	EXPECT_FALSE(IsComplete<XMacSyncEvent>);
	EXPECT_FALSE(IsComplete<XMacTask>);
	EXPECT_FALSE(IsComplete<XMacTaskMgr>);
	EXPECT_FALSE(IsComplete<XTaskMgrMutexImpl>);
}

}  // namespace
}  // namespace velk
