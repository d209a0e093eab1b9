// The platform half of a fiber task: its body runs on a fiber of the group of the task that runs it, and
// hands control back to the group's parent when it ends. Made only when the process allows fibers.
#pragma once

#include "kernel/VExport.h"

#include "runtime/mac/XMacTask.h"

namespace velk {

class VELK_API XMacTask_fiber : public XMacTask
{
public:
	explicit XMacTask_fiber(VTask* task);

	// Makes the fiber and hands it control from the calling task's fiber; returns when control comes back
	// (the body ended or handed it back). The new fiber joins the caller's group: its parent is the
	// caller's fiber parent, or the caller when it has none. False when the calling task has no fiber
	// (it is not a fiber of this process), when the task already ran, or when the fiber cannot be made
	// (the error is thrown).
	bool Run() override;
	// The wake counter rises, then the caller yields.
	void WakeUp() override;
	// Waits through the fiber scheduler until the wake counter changes.
	void Freeze() override;
	// As Freeze, at most milliseconds.
	void Sleep(int32 milliseconds) override;
	bool CheckSystemMessages() override { return false; }

private:
	void _RunBody();

	int32 fWakeCounter = 0;  // read and changed atomically; the scheduler waits on it in place
};

}  // namespace velk
