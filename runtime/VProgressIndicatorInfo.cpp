#include "runtime/VProgressIndicatorInfo.h"

#include "files/VSystem.h"
#include "runtime/VTask.h"

namespace velk {

VProgressIndicatorInfo::VProgressIndicatorInfo() : fStartTime(uint32(VSystem::GetCurrentTime()))
{
	if (VTask* task = VTask::GetCurrent())
		fTaskID = task->GetID();
}

void VProgressIndicatorInfo::GetMessage(VString& message) const
{
	message = fMessage;
}

}  // namespace velk
