#include "runtime/mac/XPosixProcessIPC.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/TestFaults.h"
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
// The first quit signal a listening handler received.
std::atomic<int> sQuitSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "written by the signal handler");

constexpr char kInterruptLine[] = "\n (ctrl-c has been received - quit)\n\n";

struct SignalSetting
{
	int fSignal;
	int fBlocked1;
	int fBlocked2;
	int fFlags;
};

// SIGQUIT is handled once: a second one takes its default action, the way out of a run that hangs. A
// closed terminal (SIGHUP) asks the program to quit as SIGTERM does.
constexpr SignalSetting kSignals[] = {
	{SIGTERM, SIGINT, SIGQUIT, SA_RESTART},
	{SIGINT, SIGQUIT, SIGTERM, SA_RESTART},
	{SIGQUIT, SIGINT, SIGTERM, int(SA_RESTART | SA_RESETHAND)},
	{SIGHUP, SIGINT, SIGTERM, SA_RESTART},
};

// The other signals whose default action ends the process, held while work that must not be cut short
// runs; SIGQUIT is held again there, however many come.
constexpr int kHeldSignals[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,
	SIGPWR, SIGSTKFLT};
constexpr size_t kHeldCount = sizeof(kHeldSignals) / sizeof(kHeldSignals[0]);
static_assert(kHeldCount == XPosixProcessIPC::kHeldSignalCount);
// Set while they are held, read by the handler.
std::atomic<bool> sHolding{false};

bool IsQuitSignal(int signal)
{
	if (signal == SIGINT || signal == SIGTERM || signal == SIGQUIT || signal == SIGHUP)
		return true;
	if (!sHolding.load())
		return false;
	for (int held : kHeldSignals)
	{
		if (held == signal)
			return true;
	}
	return false;
}

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

	sQuitSignal.store(0);
	// A signal from here to the handlers' installation takes its default action, ending the process.
	plat::StopIfArmed("start", "unhandled");
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
	plat::StopIfArmed("start", "handled");
	return true;
}

int XPosixProcessIPC::GetQuitSignal()
{
	return sQuitSignal.load();
}

void XPosixProcessIPC::_SignalHandler(int signal)
{
	const int savedErrno = errno;
	if (sListening.load() && IsQuitSignal(signal))
	{
		int none = 0;
		sQuitSignal.compare_exchange_strong(none, signal);
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

bool XPosixProcessIPC::HoldEndingSignals()
{
	if (fHeld)
		return true;
	struct sigaction action = {};
	action.sa_handler = &XPosixProcessIPC::_SignalHandler;
	sigfillset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	sHolding.store(true);
	size_t installed = 0;
	for (; installed < kHeldCount; ++installed)
	{
		if (::sigaction(kHeldSignals[installed], &action, &fFormerActions[installed]) != 0)
			break;
	}
	if (installed == kHeldCount)
	{
		fHeld = true;
		return true;
	}
	while (installed-- > 0)
		::sigaction(kHeldSignals[installed], &fFormerActions[installed], nullptr);
	sHolding.store(false);
	return false;
}

void XPosixProcessIPC::ReleaseEndingSignals()
{
	if (!fHeld)
		return;
	// A signal held meanwhile already asked the process to quit: the former actions only serve later ones.
	for (size_t i = 0; i < kHeldCount; ++i)
	{
		struct sigaction former = fFormerActions[i];
		// SIGQUIT, handled once, is handled once more after the held work: its former handler was reset.
		if (kHeldSignals[i] == SIGQUIT && former.sa_handler == &XPosixProcessIPC::_SignalHandler)
			former.sa_flags |= SA_RESETHAND;
		::sigaction(kHeldSignals[i], &former, nullptr);
	}
	sHolding.store(false);
	fHeld = false;
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
