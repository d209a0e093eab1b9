// The run loop: timers and descriptor sources firing only while their loop runs, sources added and removed
// from other threads and from callbacks, the main run loop served by its own thread, and the asynchronous
// dialogs' helpers collected on it.
#include <gtest/gtest.h>

#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/NotificationDialog.h"
#include "platform/RunLoop.h"

using plat::RunLoop;

namespace {

// Runs a test body on a thread of its own, so that it works with a fresh loop of its own.
void OnFreshThread(const std::function<void()>& body)
{
	std::thread(body).join();
}

// Waits, up to a generous bound, until the condition holds; whether it held.
bool Eventually(const std::function<bool()>& condition)
{
	for (int i = 0; i < 2000; ++i)
	{
		if (condition())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	return condition();
}

TEST(RunLoop, TimersFireInOrderOfDueTimeOnlyWhileTheLoopRuns)
{
	OnFreshThread([]
	{
		RunLoop& loop = RunLoop::Current();
		std::vector<int> fired;
		const int delays[] = {30, 10, 0, 20};
		for (const int delay : delays)
			ASSERT_NE(loop.AddTimer(delay, 0, [&fired, delay] { fired.push_back(delay); }), 0u);
		std::this_thread::sleep_for(std::chrono::milliseconds(60));
		EXPECT_TRUE(fired.empty());
		// All four are due by now, and one poll delivers them by due time, not by the order they were added.
		EXPECT_TRUE(loop.RunOnce(0));
		EXPECT_EQ(fired, (std::vector<int> {0, 10, 20, 30}));
		EXPECT_FALSE(loop.RunOnce(20));
		EXPECT_EQ(fired.size(), 4u);
	});
}

TEST(RunLoop, OneShotAndRepeatingTimers)
{
	struct Row
	{
		int64_t interval;
		int polls;	// of RunOnce(100)
		int firings;
	};
	const Row rows[] = {{0, 3, 1}, {5, 3, 3}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.interval);
		OnFreshThread([&row]
		{
			RunLoop& loop = RunLoop::Current();
			int firings = 0;
			const RunLoop::SourceId id = loop.AddTimer(1, row.interval, [&firings] { ++firings; });
			ASSERT_NE(id, 0u);
			// Each poll ends at the next firing, well inside its bound; a one-shot timer fires the first only.
			for (int i = 0; i < row.polls; ++i)
				EXPECT_EQ(loop.RunOnce(100), i < row.firings) << i;
			EXPECT_EQ(firings, row.firings);
			loop.Remove(id);
			EXPECT_FALSE(loop.RunOnce(20));
			EXPECT_EQ(firings, row.firings);
		});
	}
	// Refused shapes.
	EXPECT_EQ(RunLoop::Current().AddTimer(0, -1, [] {}), 0u);
	EXPECT_EQ(RunLoop::Current().AddTimer(0, 0, nullptr), 0u);
	EXPECT_EQ(RunLoop::Current().AddDescriptor(-1, POLLIN, [](short) {}), 0u);
}

TEST(RunLoop, DescriptorSourceFiresOnReadiness)
{
	OnFreshThread([]
	{
		RunLoop& loop = RunLoop::Current();
		int channel[2];
		ASSERT_EQ(::pipe(channel), 0);
		std::vector<short> events;
		const RunLoop::SourceId id = loop.AddDescriptor(channel[0], POLLIN, [&events, &channel](short revents)
		{
			events.push_back(revents);
			char byte;
			if ((revents & POLLIN) != 0)
			{
				ASSERT_EQ(::read(channel[0], &byte, 1), 1);
			}
		});
		ASSERT_NE(id, 0u);
		EXPECT_FALSE(loop.RunOnce(0));
		ASSERT_EQ(::write(channel[1], "x", 1), 1);
		EXPECT_TRUE(loop.RunOnce(-1));
		::close(channel[1]);
		EXPECT_TRUE(loop.RunOnce(-1));
		ASSERT_EQ(events.size(), 2u);
		EXPECT_EQ(events[0] & (POLLIN | POLLHUP), POLLIN);
		EXPECT_NE(events[1] & POLLHUP, 0);
		loop.Remove(id);
		EXPECT_FALSE(loop.RunOnce(0));
		EXPECT_EQ(events.size(), 2u);
		::close(channel[0]);
	});
}

TEST(RunLoop, CallbacksAddAndRemoveSources)
{
	OnFreshThread([]
	{
		RunLoop& loop = RunLoop::Current();
		std::vector<std::string> fired;
		// A repeating timer that removes itself fires once; one that falls due first removes a later one that
		// is due in the same poll; a callback's new timer fires at a later poll; a throwing callback is dropped
		// and its timer keeps firing.
		RunLoop::SourceId self = 0, victim = 0;
		self = loop.AddTimer(0, 1, [&] { fired.push_back("self"); loop.Remove(self); });
		loop.AddTimer(0, 0, [&]
		{
			fired.push_back("remover");
			loop.Remove(victim);
			loop.AddTimer(0, 0, [&fired] { fired.push_back("added"); });
		});
		victim = loop.AddTimer(1, 0, [&fired] { fired.push_back("victim"); });
		int throws = 0;
		const RunLoop::SourceId thrower = loop.AddTimer(0, 1, [&throws]
		{
			++throws;
			throw std::runtime_error("dropped by the loop");
		});
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
		EXPECT_TRUE(loop.RunOnce(0));
		EXPECT_EQ(fired, (std::vector<std::string> {"self", "remover"}));
		EXPECT_EQ(throws, 1);
		// Running the loop again from inside one of its callbacks is refused.
		bool nested = true;
		loop.AddTimer(0, 0, [&] { nested = loop.RunOnce(0); });
		while (throws < 3)
			loop.RunOnce(200);
		loop.Remove(thrower);
		EXPECT_FALSE(nested);
		EXPECT_EQ(fired, (std::vector<std::string> {"self", "remover", "added"}));
	});
}

TEST(RunLoop, OtherThreadsAddRemoveAndStopWhileTheLoopRuns)
{
	std::promise<RunLoop*> made;
	std::thread runner([&made]
	{
		made.set_value(&RunLoop::Current());
		RunLoop::Current().Run();
	});
	RunLoop& loop = *made.get_future().get();

	// A source added from here wakes the running poll and fires on the loop's thread.
	std::promise<std::thread::id> firedOn;
	loop.AddTimer(0, 0, [&firedOn] { firedOn.set_value(std::this_thread::get_id()); });
	EXPECT_EQ(firedOn.get_future().get(), runner.get_id());

	// Remove waits for the source's running callback, which never runs again once Remove returned.
	int channel[2];
	ASSERT_EQ(::pipe(channel), 0);
	std::promise<void> entered;
	std::atomic<bool> release {false}, finished {false};
	std::atomic<int> calls {0};
	const RunLoop::SourceId id = loop.AddDescriptor(channel[0], POLLIN, [&](short)
	{
		if (calls++ == 0)
			entered.set_value();
		while (!release)
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
		finished = true;
	});
	ASSERT_EQ(::write(channel[1], "x", 1), 1);
	entered.get_future().wait();
	std::atomic<bool> removed {false};
	bool finishedAtRemove = false;
	std::thread remover([&]
	{
		loop.Remove(id);
		finishedAtRemove = finished;
		removed = true;
	});
	std::this_thread::sleep_for(std::chrono::milliseconds(50));
	EXPECT_FALSE(removed);
	release = true;
	remover.join();
	EXPECT_TRUE(finishedAtRemove);
	// The byte was never read: the source would be ready again at every poll, were it still listed.
	std::this_thread::sleep_for(std::chrono::milliseconds(30));
	EXPECT_EQ(calls, 1);

	// A repeating timer removed from here stops at once.
	std::atomic<int> ticks {0};
	const RunLoop::SourceId ticker = loop.AddTimer(0, 1, [&ticks] { ++ticks; });
	ASSERT_TRUE(Eventually([&ticks] { return ticks >= 3; }));
	loop.Remove(ticker);
	const int ticksAtRemove = ticks;
	std::this_thread::sleep_for(std::chrono::milliseconds(30));
	EXPECT_EQ(ticks, ticksAtRemove);

	loop.Stop();
	runner.join();
	::close(channel[0]);
	::close(channel[1]);
}

TEST(RunLoop, MainRunLoopServesCallbacksWithoutAnyoneRunningIt)
{
	std::promise<std::pair<std::thread::id, RunLoop*>> fired;
	ASSERT_NE(RunLoop::Main().AddTimer(0, 0, [&fired]
	{
		fired.set_value({std::this_thread::get_id(), &RunLoop::Current()});
	}), 0u);
	const auto [thread, current] = fired.get_future().get();
	EXPECT_NE(thread, std::this_thread::get_id());
	EXPECT_EQ(current, &RunLoop::Main());
	EXPECT_NE(&RunLoop::Current(), &RunLoop::Main());
	// Only its own thread runs it.
	EXPECT_FALSE(RunLoop::Main().RunOnce(0));
}

// Sets environment variables for a scope and puts the previous values back; a null value unsets one.
class StEnvironment
{
public:
	~StEnvironment()
	{
		for (auto it = fSaved.rbegin(); it != fSaved.rend(); ++it)
			it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
	}
	void Set(const char* name, const char* value)
	{
		const char* old = ::getenv(name);
		fSaved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
		value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
	}

private:
	std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

TEST(RunLoop, AsynchronousDialogHelpersAreCollected)
{
	char pattern[] = "/tmp/velk-runloop-XXXXXX";
	ASSERT_NE(::mkdtemp(pattern), nullptr);
	const std::string root = std::string(pattern) + "/";
	// The stand-in helper tells its process id, then becomes a sleep of the length it is given.
	std::filesystem::create_directories(root + "bin");
	std::ofstream(root + "bin/zenity") << "#!/bin/sh\necho $$ > \"$FAKE_DIALOG_PID.new\"\nmv \"$FAKE_DIALOG_PID.new\" \"$FAKE_DIALOG_PID\"\n"
		"exec sleep \"$FAKE_DIALOG_SLEEP\"\n";
	::chmod((root + "bin/zenity").c_str(), 0755);
	StEnvironment environment;
	environment.Set("VELK_NOTIFICATION_SINK", nullptr);
	environment.Set("WAYLAND_DISPLAY", nullptr);
	environment.Set("DISPLAY", ":99");
	environment.Set("PATH", (root + "bin:/usr/bin:/bin").c_str());

	struct Row
	{
		const char* sleep;
		bool cancel;
	};
	const Row rows[] = {{"0", false}, {"30", true}};
	int serial = 0;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.sleep);
		const std::string pidFile = root + "pid" + std::to_string(++serial);
		environment.Set("FAKE_DIALOG_PID", pidFile.c_str());
		environment.Set("FAKE_DIALOG_SLEEP", row.sleep);
		plat::DialogRequest request;
		request.fMessage = "Header";
		request.fButtons = {{"OK", 1}};
		ASSERT_TRUE(plat::StartDialog(request));
		ASSERT_TRUE(Eventually([&pidFile] { return std::filesystem::exists(pidFile); }));
		int pid = 0;
		std::ifstream(pidFile) >> pid;
		ASSERT_GT(pid, 0);
		const std::string entry = "/proc/" + std::to_string(pid);
		if (row.cancel)
		{
			EXPECT_TRUE(std::filesystem::exists(entry));
			plat::CancelPendingDialogs();
			// Gone at once, not left as a zombie.
			EXPECT_FALSE(std::filesystem::exists(entry));
		}
		else
			EXPECT_TRUE(Eventually([&entry] { return !std::filesystem::exists(entry); }));
	}
	plat::CancelPendingDialogs();
	std::filesystem::remove_all(root);
}

}  // namespace
