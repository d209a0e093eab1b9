// The POSIX half of the command-line process frame: SIGTERM, SIGINT and SIGQUIT end the program in order.
// The handlers only do what is safe in a signal handler (a line written, a wake-up); a watcher thread
// then asks the process to quit, since that takes locks.
#pragma once

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

	// Starts the watcher and installs the handlers for SIGTERM, SIGINT and SIGQUIT, in that order; false
	// as soon as one step fails.
	bool Init();

private:
	static void _SignalHandler(int signal);
	void _Watch();

	int fStopDescriptor = -1;
	std::thread fWatcher;
};

}  // namespace velk
