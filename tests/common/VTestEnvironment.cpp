#include "common/VTestEnvironment.h"

#include "runtime/ILogger.h"
#include "runtime/VProcess.h"

namespace velk {

namespace {

VProcess* sTestProcess = nullptr;

}  // namespace

void VTestEnvironment::SetUp()
{
	sTestProcess = new VProcess;
	ASSERT_TRUE(sTestProcess->Init(0x10));
	ASSERT_EQ(VProcess::sInstance, sTestProcess);
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
