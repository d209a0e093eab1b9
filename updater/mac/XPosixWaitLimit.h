// The wait limit of a started child: once it passes, the child's process group is killed with SIGKILL and
// the time-out marked. It counts on a thread of its own that shares its state through a shared pointer, so
// it may outlive the launcher; Cancel makes sure it never fires afterwards.
#pragma once

#include <memory>

#include "kernel/VKernelTypes.h"

namespace velk {

class XPosixWaitLimit
{
public:
	XPosixWaitLimit() = default;
	// Cancels.
	~XPosixWaitLimit();
	XPosixWaitLimit(const XPosixWaitLimit&) = delete;
	XPosixWaitLimit& operator=(const XPosixWaitLimit&) = delete;

	// Starts counting milliseconds for the group led by groupLeader (> 1). False when no thread could be had.
	bool Start(int32 groupLeader, int32 milliseconds);
	// Once it returns, the group is never killed by this limit. Blocks only while a kill is being sent.
	void Cancel();
	bool HasTimedOut() const;

private:
	struct State;
	std::shared_ptr<State> fState;
};

}  // namespace velk
