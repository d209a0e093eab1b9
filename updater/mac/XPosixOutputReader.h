// Reads a child's output and error pipes to their ends on a thread of its own, handing each block to its
// handler. Stop drains what the pipes already hold and ends the thread even when some other process keeps
// a pipe open. The pipes stay the caller's: they are read, never closed.
#pragma once

#include <thread>

#include "updater/VProcessLauncher.h"

namespace velk {

class XPosixOutputReader
{
public:
	XPosixOutputReader() = default;
	// Stops.
	~XPosixOutputReader();
	XPosixOutputReader(const XPosixOutputReader&) = delete;
	XPosixOutputReader& operator=(const XPosixOutputReader&) = delete;

	// Starts reading output and error (either may be -1). False when the thread or its wake-up pipe could not
	// be had.
	bool Start(int output, int error, const VChildOutputHandler& onOutput, const VChildOutputHandler& onError);
	// Returns once the thread has ended; the handlers are not called afterwards.
	void Stop();

private:
	void _Run();
	// Reads one block of fd; false at its end or on an error (logged as "Channel handler : %s").
	static bool _ReadBlock(int fd, const VChildOutputHandler& handler);

	int fOutput = -1;
	int fError = -1;
	int fWakeUp[2] = {-1, -1};
	VChildOutputHandler fOnOutput;
	VChildOutputHandler fOnError;
	std::thread fThread;
};

}  // namespace velk
