// A message that runs a callable on the target task, with shortcuts to hand a callable to a task or
// to the main task.
#pragma once

#include "kernel/VExport.h"

#include <functional>

#include "runtime/VMessage.h"

namespace velk {

class VTask;

class VELK_API VFunctionMessage : public VMessage
{
public:
	explicit VFunctionMessage(std::function<void()>&& function) : fFunction(std::move(function)) {}

	// Calls the callable; nothing when it is empty.
	void DoExecute() override;

	// Posts function to task without waiting; false when task is null or refuses it, or when memory
	// is short (velk 100 thrown).
	static bool PostFunctionTo(VTask* task, std::function<void()> function);
	// Posts function to task and waits, executing the caller's messages meanwhile (a caller on task
	// runs it at once); returns whether it ran. The timed form withdraws it when the time is spent
	// before it started.
	static bool PostToAndWait(VTask* task, std::function<void()> function);
	static bool PostToAndWait(VTask* task, std::function<void()> function, int32 timeoutMilliseconds);
	// With executeNow runs function at once on the calling thread (true); otherwise posts it to the
	// main task without waiting.
	static bool PostToMainTask(std::function<void()> function, bool executeNow);
	// Runs function at once when executeNow is set or the caller is the main task; otherwise posts it
	// to the main task and waits, executing the caller's messages meanwhile. Returns whether it ran.
	static bool PostToMainTaskAndWait(std::function<void()> function, bool executeNow);

private:
	// A message for function, or null with velk 100 thrown.
	static VFunctionMessage* _Make(std::function<void()>&& function);

	std::function<void()> fFunction;
};

}  // namespace velk
