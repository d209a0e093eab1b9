#include "common/VTestEnvironment.h"

#include "runtime/ILogger.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

VProcess* sTestProcess = nullptr;

}  // namespace

void VTestEnvironment::SetUp()
{
	sTestProcess = new VProcess;
	ASSERT_TRUE(sTestProcess->Init(0x10));
	ASSERT_EQ(VProcess::sInstance, sTestProcess);
	// The logger's task frees its activity token as it starts: not while a test has put a memory manager
	// of its own in place.
	for (int i = 0; i < 500 && sTestProcess->HasSomeActivityTokens(0); ++i)
		VTask::Sleep(10);
}

void VTestEnvironment::TearDown()
{
	delete sTestProcess;
	sTestProcess = nullptr;
}

void VTestEnvironment::StopLoggerTask()
{
	if (sTestProcess != nullptr && sTestProcess->GetLogger() != nullptr)
		sTestProcess->GetLogger()->Stop();
}

VProcess* VTestEnvironment::GetProcess()
{
	return sTestProcess;
}

StNoProcessInstance::StNoProcessInstance() : fSaved(VProcess::sInstance)
{
	VProcess::sInstance = nullptr;
}

StNoProcessInstance::~StNoProcessInstance()
{
	VProcess::sInstance = fSaved;
}

}  // namespace velk

int main(int argc, char** argv)
{
	::testing::InitGoogleTest(&argc, argv);
	::testing::AddGlobalTestEnvironment(new velk::VTestEnvironment);
	return RUN_ALL_TESTS();
}
