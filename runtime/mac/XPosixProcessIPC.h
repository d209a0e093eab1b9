// The POSIX half of the command-line process frame: SIGTERM, SIGINT, SIGQUIT and SIGHUP end the program in
// order, and while work must not be cut short every other signal that would end the process does the same.
// The handlers only do what is safe in a signal handler (a line written, a wake-up); a watcher thread
// then asks the process to quit, since that takes locks.
#pragma once

#include <signal.h>

#include <thread>

namespace velk {

class XPosixProcessIPC
{
public:
	XPosixProcessIPC();
	// Stops the watcher; the handlers stay installed, with nobody left to wake they do nothing more.
	~XPosixProcessIPC();

	XPosixProcessIPC(const XPosixProcessIPC&) = delete;
	XPosixProcessIPC& operator=(const XPosixProcessIPC&) = delete;

	// Starts the watcher and installs the handlers for SIGTERM, SIGINT, SIGQUIT and SIGHUP, in that order;
	// false as soon as one step fails.
	bool Init();

	// The first signal that asked the process to quit since the handlers were installed, 0 while none did.
	// Set by the handler itself, so it is known as soon as the handler ran, before the watcher's request.
	static int GetQuitSignal();

	// From now on SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO, SIGPWR, SIGSTKFLT
	// and every SIGQUIT ask the process to quit as SIGTERM does, instead of ending it at once; false, nothing
	// changed, when a handler could not be installed. Release puts the former actions back.
	static constexpr size_t kHeldSignalCount = 11;
	bool HoldEndingSignals();
	void ReleaseEndingSignals();

private:
	static void _SignalHandler(int signal);
	void _Watch();

	int fStopDescriptor = -1;
	std::thread fWatcher;
	bool fHeld = false;
	struct sigaction fFormerActions[kHeldSignalCount] = {};
};

}  // namespace velk
