// The shared test main's global environment: a process object and the task manager, with the test
// program's main thread as the main task, so that errors are recorded in tests as in the program.
#pragma once

#include <gtest/gtest.h>

namespace velk {

class VProcess;

class VTestEnvironment : public ::testing::Environment
{
public:
	void SetUp() override;
	void TearDown() override;

	// The process object made by SetUp; null outside the test run.
	static VProcess* GetProcess();
	// Ends the process logger's task in this test's process, for tests that count the process's tasks
	// (the program reads some settings while its main task is alone). Logging goes on; flushes are then
	// made by those who ask for them.
	static void StopLoggerTask();
};

// Makes VProcess::sInstance null for the scope and restores it at the end, to test what happens
// when no process object exists.
class StNoProcessInstance
{
public:
	StNoProcessInstance();
	~StNoProcessInstance();
	StNoProcessInstance(const StNoProcessInstance&) = delete;
	StNoProcessInstance& operator=(const StNoProcessInstance&) = delete;

private:
	VProcess* fSaved;
};

}  // namespace velk
