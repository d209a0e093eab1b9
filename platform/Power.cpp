#include "platform/Power.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include <utility>

namespace plat {

namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

int OnPrepareForSleep(sd_bus_message* message, void* watcher, sd_bus_error* /*error*/)
{
	SleepWatcher::_OnPrepareForSleep(message, watcher);
	return 0;
}

}  // namespace

SleepWatcher::~SleepWatcher()
{
	Stop();
}

SleepWatcher::StartResult SleepWatcher::Start(RunLoop& loop, Callback callback)
{
	if (fBus != nullptr)
		return StartResult::kWatching;
	sd_bus* bus = nullptr;
	if (::sd_bus_open_system(&bus) < 0)
		return StartResult::kNoBus;
	fBus = bus;
	fCallback = std::move(callback);
	// Synchronous, so that a refusal is known here.
	if (::sd_bus_match_signal(fBus, &fMatch, kLogin, kLoginPath, kLoginManager, "PrepareForSleep", &OnPrepareForSleep, this) < 0)
	{
		Stop();
		return StartResult::kRefused;
	}
	const int descriptor = ::sd_bus_get_fd(fBus);
	fSource = descriptor < 0 ? 0 : loop.AddDescriptor(descriptor, POLLIN, [this](short revents) { _Process(revents); });
	if (fSource == 0)
	{
		Stop();
		return StartResult::kRefused;
	}
	fLoop = &loop;
	_TakeDelay();
	return StartResult::kWatching;
}

void SleepWatcher::AllowSleep()
{
	if (fDelay >= 0)
		::close(fDelay);
	fDelay = -1;
}

void SleepWatcher::Stop()
{
	if (fLoop != nullptr && fSource != 0)
		fLoop->Remove(fSource);
	fSource = 0;
	fLoop = nullptr;
	AllowSleep();
	fMatch = ::sd_bus_slot_unref(fMatch);
	fBus = ::sd_bus_flush_close_unref(fBus);
}

void SleepWatcher::_TakeDelay()
{
	if (fDelay >= 0 || fBus == nullptr)
		return;
	sd_bus_error error = SD_BUS_ERROR_NULL;
	sd_bus_message* reply = nullptr;
	// Refused (no logind, no right to inhibit): sleeps go on without waiting for us.
	if (::sd_bus_call_method(fBus, kLogin, kLoginPath, kLoginManager, "Inhibit", &error, &reply, "ssss", "sleep",
			"velk", "Tells its handlers of the sleep", "delay") >= 0)
	{
		int descriptor = -1;
		// The reply owns the descriptor it carries.
		if (::sd_bus_message_read(reply, "h", &descriptor) >= 0 && descriptor >= 0)
			fDelay = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
	}
	::sd_bus_message_unref(reply);
	::sd_bus_error_free(&error);
}

void SleepWatcher::_Process(short revents)
{
	// Everything read so far, also what a method call read while waiting for its reply: the descriptor
	// would not tell of it again.
	int processed = 0;
	while (fBus != nullptr && (processed = ::sd_bus_process(fBus, nullptr)) > 0)
	{
	}
	// A bus gone for good would keep the descriptor ready for ever.
	if (fBus != nullptr && (processed < 0 || (revents & (POLLHUP | POLLERR)) != 0))
		Stop();
}

void SleepWatcher::_OnPrepareForSleep(sd_bus_message* message, void* watcher)
{
	SleepWatcher* self = static_cast<SleepWatcher*>(watcher);
	int goingToSleep = 0;
	if (::sd_bus_message_read(message, "b", &goingToSleep) < 0)
		return;
	if (!goingToSleep)
		self->_TakeDelay();
	if (self->fCallback)
		self->fCallback(goingToSleep != 0);
}

}  // namespace plat
