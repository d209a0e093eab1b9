// Base of objects called at the idle steps of a task: when the task's message pass finds nothing to
// run, every idling object registered with it gets DoIdle.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

namespace velk {

class VTask;

class VELK_API IIdleable
{
public:
	IIdleable() = default;
	// Stops idling (StopIdling), so that no task keeps calling a destroyed object.
	virtual ~IIdleable();

	IIdleable(const IIdleable&) = delete;
	IIdleable& operator=(const IIdleable&) = delete;

	// The work of one idle step, on the task idled on; nothing by default.
	virtual void DoIdle() {}

	// Idles on task (retained), leaving the task idled on before; a null task is ignored. Start and
	// Stop are called by one thread at a time.
	void StartIdling(VTask* task);
	// Idles on the calling task; nothing on a thread without one.
	void StartIdling();
	// Unregisters from the task idled on and drops it, so that the task no longer names the object.
	// An idling object is stopped and destroyed on its task: a pass there may be calling it meanwhile.
	void StopIdling();

	// DoIdle while idling; called by the task's idle step.
	void Idle();
	bool IsIdling() const { return fIdling.load(); }

private:
	VTask* fIdlingTask = nullptr;  // retained
	std::atomic<bool> fIdling{false};
};

}  // namespace velk
