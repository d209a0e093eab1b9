// The sleep notifier: the handler set, handlers kept alive through a dispatch, and sleep and wake-up heard
// from a stand-in logind on a private bus, with its delay inhibitor released only once the hooks ran.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files/ISleepHandler.h"
#include "files/VSleepNotifier.h"
#include "kernel/strings/VString.h"
#include "platform/RunLoop.h"
#include "runtime/VTask.h"

extern char** environ;

namespace velk {

namespace {

class CountingHandler : public ISleepHandler
{
public:
	void DoSystemWillSleep() override
	{
		++fWillSleep;
		if (fOnHook)
			fOnHook();
	}
	void DoSystemDidWake() override { ++fDidWake; }
	void GetDescription(VString& description) override { description = VString("counting"); }

	int fWillSleep = 0;
	int fDidWake = 0;
	std::function<void()> fOnHook;
};

// A private message bus with a stand-in for logind on it: Inhibit hands out the write end of a pipe, whose
// read end tells when every copy was closed; PrepareForSleep is sent on demand. Serves on a thread of its own.
class FakeLogind
{
public:
	~FakeLogind()
	{
		fQuit = true;
		if (fServer.joinable())
			fServer.join();
		std::lock_guard<std::mutex> guard(fMutex);
		for (const int held : fInhibitors)
			::close(held);
		if (fDaemon > 0)
		{
			::kill(fDaemon, SIGTERM);
			::waitpid(fDaemon, nullptr, 0);
		}
		if (!fConfiguration.empty())
			::unlink(fConfiguration.c_str());
	}

	// Starts the bus and the service; false when this machine has no bus daemon. A bus that allows no
	// subscriptions when asked.
	bool Start(bool refusingSubscriptions = false)
	{
		std::string configuration = "--session";
		if (refusingSubscriptions)
		{
			const std::string path = WriteRefusingConfiguration();
			if (path.empty())
				return false;
			configuration = "--config-file=" + path;
		}
		int output[2];
		if (::access("/usr/bin/dbus-daemon", X_OK) != 0 || ::pipe(output) != 0)
			return false;
		posix_spawn_file_actions_t actions;
		::posix_spawn_file_actions_init(&actions);
		::posix_spawn_file_actions_adddup2(&actions, output[1], 1);
		::posix_spawn_file_actions_addclose(&actions, output[0]);
		const char* arguments[] = {"dbus-daemon", configuration.c_str(), "--nofork", "--print-address=1", nullptr};
		const int spawned = ::posix_spawn(&fDaemon, "/usr/bin/dbus-daemon", &actions, nullptr,
			const_cast<char* const*>(arguments), environ);
		::posix_spawn_file_actions_destroy(&actions);
		::close(output[1]);
		if (spawned != 0)
		{
			::close(output[0]);
			fDaemon = 0;
			return false;
		}
		char character;
		while (::read(output[0], &character, 1) == 1 && character != '\n')
			fAddress += character;
		::close(output[0]);
		if (fAddress.empty())
			return false;
		std::promise<bool> ready;
		std::future<bool> started = ready.get_future();
		fServer = std::thread([this, &ready] { Serve(ready); });
		return started.get();
	}

	void SendPrepareForSleep(bool goingToSleep) { fToSend = goingToSleep ? 1 : 0; }

	// The inhibitors handed out whose every copy is not closed yet.
	int HeldInhibitors()
	{
		std::lock_guard<std::mutex> guard(fMutex);
		int held = 0;
		for (const int reader : fInhibitors)
		{
			pollfd polled {reader, POLLIN, 0};
			held += (::poll(&polled, 1, 0) == 0) ? 1 : 0;
		}
		return held;
	}

	const std::string& Address() const { return fAddress; }

private:
	// A session-like bus configuration whose connections may add no match rule; its path, empty on failure.
	std::string WriteRefusingConfiguration()
	{
		char pattern[] = "/tmp/velk-bus-XXXXXX";
		const int file = ::mkstemp(pattern);
		if (file < 0)
			return std::string();
		const std::string text = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
			" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
			"<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
			"<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
			"<allow own=\"*\"/></policy><limit name=\"max_match_rules_per_connection\">0</limit></busconfig>\n";
		const bool written = ::write(file, text.data(), text.size()) == ssize_t(text.size());
		::close(file);
		fConfiguration = pattern;
		return written ? fConfiguration : std::string();
	}

	static int Inhibit(sd_bus_message* call, void* fake, sd_bus_error* /*error*/)
	{
		int ends[2];
		if (::pipe2(ends, O_CLOEXEC) != 0)
			return -errno;
		{
			// Listed before the reply, which the caller may act on at once.
			std::lock_guard<std::mutex> guard(static_cast<FakeLogind*>(fake)->fMutex);
			static_cast<FakeLogind*>(fake)->fInhibitors.push_back(ends[0]);
		}
		const int replied = ::sd_bus_reply_method_return(call, "h", ends[1]);
		::close(ends[1]);
		return replied;
	}

	void Serve(std::promise<bool>& ready)
	{
		static const sd_bus_vtable kManager[] = {
			SD_BUS_VTABLE_START(0),
			SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
			SD_BUS_SIGNAL("PrepareForSleep", "b", 0),
			SD_BUS_VTABLE_END};
		sd_bus* bus = nullptr;
		sd_bus_slot* slot = nullptr;
		const bool ok = ::sd_bus_new(&bus) >= 0 && ::sd_bus_set_address(bus, fAddress.c_str()) >= 0
			&& ::sd_bus_set_bus_client(bus, 1) >= 0 && ::sd_bus_start(bus) >= 0
			&& ::sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
				kManager, this) >= 0
			&& ::sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0;
		ready.set_value(ok);
		while (ok && !fQuit)
		{
			if (const int send = fToSend.exchange(-1); send >= 0)
			{
				::sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
					"PrepareForSleep", "b", send);
			}
			while (::sd_bus_process(bus, nullptr) > 0)
			{
			}
			::sd_bus_wait(bus, 20000);
		}
		::sd_bus_slot_unref(slot);
		::sd_bus_flush_close_unref(bus);
	}

	pid_t fDaemon = 0;
	std::string fConfiguration;	// removed at the end
	std::string fAddress;
	std::thread fServer;
	std::atomic<bool> fQuit {false};
	std::atomic<int> fToSend {-1};
	std::mutex fMutex;
	std::vector<int> fInhibitors;	// read ends, under fMutex
};

// Sets DBUS_SYSTEM_BUS_ADDRESS for the scope.
class StSystemBus
{
public:
	explicit StSystemBus(const std::string& address)
	{
		if (const char* saved = ::getenv("DBUS_SYSTEM_BUS_ADDRESS"))
			fSaved = saved;
		fHadOne = ::getenv("DBUS_SYSTEM_BUS_ADDRESS") != nullptr;
		::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
	}
	~StSystemBus()
	{
		if (fHadOne)
			::setenv("DBUS_SYSTEM_BUS_ADDRESS", fSaved.c_str(), 1);
		else
			::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
	}

private:
	std::string fSaved;
	bool fHadOne = false;
};

// Runs the calling thread's loop, where the notifications arrive, until the condition holds or a generous bound.
bool RunLoopUntil(const std::function<bool()>& condition)
{
	for (int i = 0; i < 500 && !condition(); ++i)
		plat::RunLoop::Current().RunOnce(20);
	return condition();
}

}  // namespace

TEST(VSleepNotifier, HandlerSetKeepsOneReferencePerHandler)
{
	VSleepNotifier notifier;
	CountingHandler* handler = new CountingHandler;
	EXPECT_EQ(notifier.RegisterSleepHandler(nullptr), VE_INVALID_PARAMETER);
	EXPECT_EQ(notifier.UnregisterSleepHandler(nullptr), VE_INVALID_PARAMETER);
	EXPECT_EQ(notifier.UnregisterSleepHandler(handler), VE_OK);
	EXPECT_EQ(handler->GetRefCount(), 1);
	EXPECT_EQ(notifier.RegisterSleepHandler(handler), VE_OK);
	EXPECT_EQ(notifier.RegisterSleepHandler(handler), VE_OK);
	EXPECT_EQ(handler->GetRefCount(), 2);
	notifier.HaveSleepNotification();
	notifier.HaveWakeupNotification();
	EXPECT_EQ(handler->fWillSleep, 1);
	EXPECT_EQ(handler->fDidWake, 1);
	EXPECT_EQ(notifier.UnregisterSleepHandler(handler), VE_OK);
	EXPECT_EQ(handler->GetRefCount(), 1);
	notifier.HaveSleepNotification();
	EXPECT_EQ(handler->fWillSleep, 1);
	handler->Release();
}

TEST(VSleepNotifier, AHandlerUnregisteredByAnotherThreadDuringTheHooksStaysAliveUntilItsHook)
{
	VSleepNotifier notifier;
	CountingHandler* first = new CountingHandler;
	CountingHandler* second = new CountingHandler;
	std::atomic<int> hooks {0};
	// Whichever runs first drops the other's last reference from another thread; the other must still run,
	// and each is freed once its own hook returned.
	first->fOnHook = [&] { ++hooks; std::thread([&] { notifier.UnregisterSleepHandler(second); }).join(); };
	second->fOnHook = [&] { ++hooks; std::thread([&] { notifier.UnregisterSleepHandler(first); }).join(); };
	ASSERT_EQ(notifier.RegisterSleepHandler(first), VE_OK);
	ASSERT_EQ(notifier.RegisterSleepHandler(second), VE_OK);
	first->Release();
	second->Release();
	notifier.HaveSleepNotification();
	EXPECT_EQ(hooks.load(), 2);
}

TEST(VSleepNotifier, SleepAndWakeFromLogind)
{
	FakeLogind logind;
	if (!logind.Start())
		GTEST_SKIP() << "no message bus daemon here";
	StSystemBus bus(logind.Address());
	VSleepNotifier notifier;
	CountingHandler* handler = new CountingHandler;
	int heldDuringHook = -1;
	handler->fOnHook = [&] { heldDuringHook = logind.HeldInhibitors(); };
	ASSERT_EQ(notifier.RegisterSleepHandler(handler), VE_OK);
	VTask::FlushErrors();
	ASSERT_EQ(notifier.Init(), VE_OK);
	EXPECT_EQ(logind.HeldInhibitors(), 1);

	logind.SendPrepareForSleep(true);
	ASSERT_TRUE(RunLoopUntil([&] { return handler->fWillSleep == 1; }));
	EXPECT_EQ(heldDuringHook, 1);
	EXPECT_EQ(logind.HeldInhibitors(), 0);

	logind.SendPrepareForSleep(false);
	ASSERT_TRUE(RunLoopUntil([&] { return handler->fDidWake == 1; }));
	EXPECT_EQ(logind.HeldInhibitors(), 1);
	EXPECT_EQ(handler->fWillSleep, 1);
	handler->Release();
}

TEST(VSleepNotifier, ABusRefusingTheSubscriptionFailsInit)
{
	FakeLogind logind;
	if (!logind.Start(true))
		GTEST_SKIP() << "no message bus daemon here";
	StSystemBus bus(logind.Address());
	VSleepNotifier notifier;
	VTask::FlushErrors();
	EXPECT_EQ(notifier.Init(), VE_SLEEP_NOTIFICATION_UNAVAILABLE);
	EXPECT_EQ(VTask::GetLastError(), VE_SLEEP_NOTIFICATION_UNAVAILABLE);
	VTask::FlushErrors();
}

TEST(VSleepNotifier, WithoutASystemBusInitSucceedsAndNothingArrives)
{
	StSystemBus bus("unix:path=/nonexistent/velk-test-bus");
	VSleepNotifier notifier;
	CountingHandler* handler = new CountingHandler;
	ASSERT_EQ(notifier.RegisterSleepHandler(handler), VE_OK);
	VTask::FlushErrors();
	EXPECT_EQ(notifier.Init(), VE_OK);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
	EXPECT_FALSE(plat::RunLoop::Current().RunOnce(0));
	EXPECT_EQ(handler->fWillSleep + handler->fDidWake, 0);
	handler->Release();
}

}  // namespace velk
