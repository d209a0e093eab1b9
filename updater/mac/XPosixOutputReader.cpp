#include "updater/mac/XPosixOutputReader.h"

#include <fcntl.h>
#include <poll.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace velk {

namespace {

constexpr size_t kBLOCK_SIZE = 4096;

}  // namespace

XPosixOutputReader::~XPosixOutputReader()
{
	Stop();
}

bool XPosixOutputReader::Start(int output, int error, const VChildOutputHandler& onOutput,
	const VChildOutputHandler& onError)
{
	if (fThread.joinable() || ::pipe2(fWakeUp, O_CLOEXEC) != 0)
		return false;
	fOutput = output;
	fError = error;
	fOnOutput = onOutput;
	fOnError = onError;
	try
	{
		fThread = std::thread([this]() { _Run(); });
	}
	catch (const std::system_error&)
	{
		::close(fWakeUp[0]);
		::close(fWakeUp[1]);
		fWakeUp[0] = fWakeUp[1] = -1;
		return false;
	}
	return true;
}

void XPosixOutputReader::Stop()
{
	if (!fThread.joinable())
		return;
	const char wake = 1;
	ssize_t written;
	do
		written = ::write(fWakeUp[1], &wake, 1);
	while (written < 0 && errno == EINTR);
	fThread.join();
	::close(fWakeUp[0]);
	::close(fWakeUp[1]);
	fWakeUp[0] = fWakeUp[1] = -1;
}

void XPosixOutputReader::_Run()
{
	pollfd watched[3] = {{fOutput, POLLIN, 0}, {fError, POLLIN, 0}, {fWakeUp[0], POLLIN, 0}};
	const VChildOutputHandler* handlers[2] = {&fOnOutput, &fOnError};
	bool stopping = false;
	while (watched[0].fd >= 0 || watched[1].fd >= 0)
	{
		// Once stopping, only what the pipes already hold is read.
		const int ready = ::poll(watched, 3, stopping ? 0 : -1);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready <= 0)
			break;
		if (watched[2].revents != 0)
		{
			stopping = true;
			watched[2].fd = -1;
		}
		for (int index = 0; index < 2; ++index)
		{
			if (watched[index].fd >= 0 && watched[index].revents != 0
				&& !_ReadBlock(watched[index].fd, *handlers[index]))
				watched[index].fd = -1;
		}
	}
}

bool XPosixOutputReader::_ReadBlock(int fd, const VChildOutputHandler& handler)
{
	char block[kBLOCK_SIZE];
	const ssize_t count = ::read(fd, block, sizeof(block));
	if (count > 0)
	{
		if (handler)
			handler(block, size_t(count));
		return true;
	}
	if (count < 0 && (errno == EINTR || errno == EAGAIN))
		return true;
	if (count < 0)
		::syslog(LOG_ERR, "Channel handler : %s", std::strerror(errno));
	return false;
}

}  // namespace velk
