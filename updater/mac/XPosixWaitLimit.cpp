#include "updater/mac/XPosixWaitLimit.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace velk {

struct XPosixWaitLimit::State
{
	std::mutex fLock;
	std::condition_variable fCancelled;
	bool fCancel = false;
	std::atomic<bool> fTimedOut {false};
};

XPosixWaitLimit::~XPosixWaitLimit()
{
	Cancel();
}

bool XPosixWaitLimit::Start(int32 groupLeader, int32 milliseconds)
{
	if (groupLeader <= 1 || fState != nullptr)
		return false;
	std::shared_ptr<State> state = std::make_shared<State>();
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
	try
	{
		std::thread([state, groupLeader, deadline]() {
			std::unique_lock<std::mutex> lock(state->fLock);
			if (state->fCancelled.wait_until(lock, deadline, [&state]() { return state->fCancel; }))
				return;
			state->fTimedOut = true;
			// Under the lock, so a Cancel that returned has either seen this kill or prevented it.
			::kill(-groupLeader, SIGKILL);
		}).detach();
	}
	catch (const std::system_error&)
	{
		return false;
	}
	fState = std::move(state);
	return true;
}

void XPosixWaitLimit::Cancel()
{
	if (fState == nullptr)
		return;
	{
		std::lock_guard<std::mutex> lock(fState->fLock);
		fState->fCancel = true;
	}
	fState->fCancelled.notify_all();
}

bool XPosixWaitLimit::HasTimedOut() const
{
	return fState != nullptr && fState->fTimedOut;
}

}  // namespace velk
