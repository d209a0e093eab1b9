// Test helper: a body run on a task of its own with a stack of the given size, waited for to its end.
// Errors the body raises stay on that task's error context.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk::test {

inline void RunOnTaskWithStack(size_t stackSize, const std::function<void()>& body)
{
	VTask* task = new VTask(stackSize, eTaskStylePreemptive, [&body] { body(); });
	EXPECT_EQ(task->GetStackSize(), stackSize);
	if (!task->Run())
		ADD_FAILURE() << "the task did not start";
	// Longer than a test may take: reaching it is a failure.
	else
		EXPECT_TRUE(task->WaitForDeath(600000));
	task->Release();
	VTaskMgr::Get()->PurgeDeadTasks();
}

}  // namespace velk::test
