// The process's fiber scheduler: does nothing, so fibers hand control to one another only by the
// explicit hand-overs of the task layer, and every fiber-side wait returns at once.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VObject.h"
#include "runtime/IFiberScheduler.h"

namespace velk {

class VELK_API VScheduler_void : public VObject, public IFiberScheduler
{
public:
	void Yield() override {}
	void YieldNow() override {}
	void WaitFlag(int32*, int32) override {}
	void WaitFlagWithTimeout(int32*, int32, int32) override {}
	void SetSystemEventPolling(bool) override {}
	bool WithSystemEventPolling() override { return true; }
	void PollAndExecuteUpdateEvent() override {}
	void SetDirectUpdate(bool) override {}
	void WakeUpSystemEventPolling() override {}
	void RequiresSystemEventPolling() override {}
	// Leaves outHandled untouched: the task runs itself.
	bool RunFiber(VTask*, bool*) override { return false; }
	void SetSystemCallCFRunloop(bool) override {}
	void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool) override {}
};

}  // namespace velk
