// How the task layer yields and waits on fiber tasks: a host that runs fibers cooperatively plugs its
// scheduler in here. The process's own scheduler does nothing (VScheduler_void).
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"
#include "kernel/memory/IRefCountable.h"

namespace velk {

class VTask;

class VELK_API IFiberScheduler : public IRefCountable
{
public:
	// Lets the other fibers of the group run when it is their turn; YieldNow at once.
	virtual void Yield() = 0;
	virtual void YieldNow() = 0;
	// Blocks the calling fiber while *flag still equals value (at most milliseconds for the second).
	virtual void WaitFlag(int32* flag, int32 value) = 0;
	virtual void WaitFlagWithTimeout(int32* flag, int32 value, int32 milliseconds) = 0;
	virtual void SetSystemEventPolling(bool polling) = 0;
	virtual bool WithSystemEventPolling() = 0;
	virtual void PollAndExecuteUpdateEvent() = 0;
	virtual void SetDirectUpdate(bool direct) = 0;
	virtual void WakeUpSystemEventPolling() = 0;
	virtual void RequiresSystemEventPolling() = 0;
	// Runs task when the scheduler takes it over: outHandled cleared then, and the result is Run's. A
	// scheduler that leaves outHandled as it found it lets the task run itself.
	virtual bool RunFiber(VTask* task, bool* outHandled) = 0;
	virtual void SetSystemCallCFRunloop(bool call) = 0;
	virtual void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool allowed) = 0;
};

}  // namespace velk
