#include "runtime/mac/XPosixProcessIPC.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "runtime/VProcess.h"

namespace velk {

namespace {

// The handlers' wake-up, made once and never closed: a handler may run at any time, even while a frame
// goes away, and must never write into a descriptor number that was handed to another file since.
std::atomic<int> sSignalDescriptor{-1};
std::once_flag sSignalDescriptorOnce;
// Set while a frame listens: the handlers stay installed after it went, and must then do nothing. Read by
// the handlers instead of the process object, which the main thread clears while signals may land.
std::atomic<bool> sListening{false};

constexpr char kInterruptLine[] = "\n (ctrl-c has been received - quit)\n\n";

struct SignalSetting
{
	int fSignal;
	int fBlocked1;
	int fBlocked2;
	int fFlags;
};

// SIGQUIT is handled once: a second one takes its default action, the way out of a run that hangs.
constexpr SignalSetting kSignals[] = {
	{SIGTERM, SIGINT, SIGQUIT, SA_RESTART},
	{SIGINT, SIGQUIT, SIGTERM, SA_RESTART},
	{SIGQUIT, SIGINT, SIGTERM, int(SA_RESTART | SA_RESETHAND)},
};

}  // namespace

XPosixProcessIPC::XPosixProcessIPC() = default;

XPosixProcessIPC::~XPosixProcessIPC()
{
	sListening.store(false);
	if (fWatcher.joinable())
	{
		const uint64_t one = 1;
		while (::write(fStopDescriptor, &one, sizeof(one)) < 0 && errno == EINTR)
		{
		}
		fWatcher.join();
	}
	if (fStopDescriptor >= 0)
		::close(fStopDescriptor);
}

bool XPosixProcessIPC::Init()
{
	std::call_once(sSignalDescriptorOnce, [] { sSignalDescriptor.store(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)); });
	if (sSignalDescriptor.load() < 0)
		return false;
	fStopDescriptor = ::eventfd(0, EFD_CLOEXEC);
	if (fStopDescriptor < 0)
		return false;
	try
	{
		fWatcher = std::thread(&XPosixProcessIPC::_Watch, this);
	}
	catch (const std::system_error&)
	{
		return false;
	}

	for (const SignalSetting& setting : kSignals)
	{
		struct sigaction action = {};
		action.sa_handler = &XPosixProcessIPC::_SignalHandler;
		sigemptyset(&action.sa_mask);
		sigaddset(&action.sa_mask, setting.fBlocked1);
		sigaddset(&action.sa_mask, setting.fBlocked2);
		action.sa_flags = setting.fFlags;
		if (::sigaction(setting.fSignal, &action, nullptr) != 0)
			return false;
	}
	sListening.store(true);
	return true;
}

void XPosixProcessIPC::_SignalHandler(int signal)
{
	const int savedErrno = errno;
	if (sListening.load() && (signal == SIGINT || signal == SIGTERM || signal == SIGQUIT))
	{
		if (signal == SIGINT)
		{
			ssize_t written = ::write(STDOUT_FILENO, kInterruptLine, sizeof(kInterruptLine) - 1);
			(void) written;
		}
		const int descriptor = sSignalDescriptor.load();
		if (descriptor >= 0)
		{
			const uint64_t one = 1;
			ssize_t written = ::write(descriptor, &one, sizeof(one));
			(void) written;
		}
	}
	errno = savedErrno;
}

void XPosixProcessIPC::_Watch()
{
	// Signals go to the other threads: this one only turns wake-ups into a quit request.
	sigset_t all;
	sigfillset(&all);
	pthread_sigmask(SIG_BLOCK, &all, nullptr);

	pollfd descriptors[2] = {{sSignalDescriptor.load(), POLLIN, 0}, {fStopDescriptor, POLLIN, 0}};
	for (;;)
	{
		if (::poll(descriptors, 2, -1) < 0)
		{
			if (errno == EINTR)
				continue;
			return;
		}
		if ((descriptors[1].revents & POLLIN) != 0)
			return;
		if ((descriptors[0].revents & POLLIN) != 0)
		{
			uint64_t count = 0;
			if (::read(descriptors[0].fd, &count, sizeof(count)) == ssize_t(sizeof(count)) && VProcess::sInstance != nullptr)
				VProcess::sInstance->QuitAsynchronously(nullptr);
		}
	}
}

}  // namespace velk
