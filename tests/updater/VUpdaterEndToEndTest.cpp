// The bundled updater run as its users run it: on generated sample bundles, with HOME and the XDG folders
// in the test's folder, dialogs written to a sink, no display. The test adopts the orphans (the updater
// once its caller quit, the relaunched application) and collects them.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "updater/VUpdaterRunTest.h"

extern char** environ;

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr int kBound = test::kRunBound;

std::string Updater()
{
	return std::string(VELK_UPDATER_BUNDLE) + "/Contents/MacOS/updater";
}

}  // namespace

class VUpdaterEndToEndTest : public test::VUpdaterRunTest
{
protected:
	void SetUp() override
	{
		VUpdaterRunTest::SetUp();
		MakeScene(fRoot);
		fOldTree = Tree(fOld);
		fNewTree = Tree(fNew);
	}

	// The updater on arguments: its exit status, output and errors.
	test::VChildRun Run(const std::vector<std::string>& arguments, const std::vector<std::string>& extra = {})
	{
		return test::RunChild(Updater(), arguments, Environment(extra), kBound);
	}

	// The single trashed item of that name, with its record of origin.
	void ExpectTrashed(const std::string& name, const std::map<std::string, std::string>& tree)
	{
		EXPECT_EQ(Tree(fRoot + "data/Trash/files/" + name), tree);
		const std::string info = ReadWhole(fRoot + "data/Trash/info/" + name + ".trashinfo");
		EXPECT_NE(info.find("Path="), std::string::npos) << info;
	}

	std::map<std::string, std::string> fOldTree;
	std::map<std::string, std::string> fNewTree;
};

// Without a caller: the new bundle in place, the old one in the Trash, the application relaunched detached
// with the link path, every step logged.
TEST_F(VUpdaterEndToEndTest, UpdateWithoutCaller)
{
	const std::string link = fRoot + "link.Rylink";
	const test::VChildRun run = Run({"--log-dir", fRoot + "logs", "--restart-params", link, "--restart-headless", fOld, fNew});
	ASSERT_TRUE(WIFEXITED(run.fStatus)) << run.fStatus;
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 0) << Joined(LogMessages(fRoot + "logs"));
	EXPECT_EQ(run.fOutput, "");
	EXPECT_EQ(run.fErrors, "");

	EXPECT_EQ(Tree(fOld), fNewTree);
	EXPECT_EQ(Tree(fNew), fNewTree);
	ExpectTrashed("Sample_old0001.app", fOldTree);
	EXPECT_TRUE(Dialogs().empty());

	ASSERT_TRUE(WaitForRecord("pid ")) << ReadWhole(fRoot + "record.txt");
	EXPECT_EQ(ReadWhole(fRoot + "record.txt").substr(0, ReadWhole(fRoot + "record.txt").find("pid ")),
		"version 2.0\nargument " + link + "\nargument --headless\n");

	const std::string command = "open -a \"" + fOld + "/\" --args \"" + link + "\" --headless";
	const std::vector<std::string> messages = LogMessages(fRoot + "logs");
	EXPECT_TRUE(InOrder(messages, {"Waiting for external process to quit", "Skipping process wait (negative pid)",
									  "Proceeding with up-to-date application install...",
									  "Proceeding with up-to-date application restart...",
									  "Restarting installed application (" + command + ")...",
									  "Updated application restarted, returned 0", "Up-to-date application restarted"}))
		<< Joined(messages);
	ASSERT_FALSE(messages.empty());
	EXPECT_EQ(messages.front().rfind("Updater starting - ", 0), 0u) << messages.front();
	EXPECT_EQ(messages.back().rfind("Update successful - ", 0), 0u) << messages.back();
}

// The caller starts the updater, reads its one line and quits; the updater waits for it, then updates,
// writes the link file from the client customization and relaunches.
TEST_F(VUpdaterEndToEndTest, UpdateFromTheCaller)
{
	const test::VChildRun caller =
		test::RunChild(fOld + "/Contents/MacOS/Sample", {}, Environment({"SAMPLE_UPDATER=" + Updater()}), kBound);
	ASSERT_TRUE(WIFEXITED(caller.fStatus)) << caller.fStatus;
	EXPECT_EQ(WEXITSTATUS(caller.fStatus), 0) << ReadWhole(fRoot + "record.txt");
	const std::string record = ReadWhole(fRoot + "record.txt");
	EXPECT_NE(record.find("caller waitquit,-1\n"), std::string::npos) << record;
	// The updater outlives its caller: the test adopted it.
	const size_t updaterLine = record.find("updater ");
	ASSERT_NE(updaterLine, std::string::npos) << record;
	ASSERT_TRUE(WaitForEnd(pid_t(std::stol(record.substr(updaterLine + 8)))));

	// The relaunched 2.0 records its start once the update is done.
	ASSERT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fRoot + "record.txt");
	const std::string link = fOld + "/Contents/Database/RiduzovOduziz.Rylink";
	EXPECT_NE(ReadWhole(fRoot + "record.txt").find("version 2.0\nargument " + link + "\n"), std::string::npos)
		<< ReadWhole(fRoot + "record.txt");
	const std::string linkText = ReadWhole(link);
	EXPECT_NE(linkText.find("database_shortcut"), std::string::npos) << linkText;
	EXPECT_NE(linkText.find("192.0.2.10:8080"), std::string::npos) << linkText;

	// Apart from the link file the installed tree is the up-to-date one.
	std::map<std::string, std::string> installed = Tree(fOld);
	installed.erase("Contents/Database/RiduzovOduziz.Rylink");
	installed.erase("Contents/Database");
	EXPECT_EQ(installed, fNewTree);
	ExpectTrashed("Sample_old0001.app", fOldTree);

	const std::vector<std::string> messages = LogMessages(fRoot + "samples/logs");
	EXPECT_TRUE(InOrder(messages, {"Waiting for process " + record.substr(record.find("pid ") + 4, record.find('\n', record.find("pid ")) - record.find("pid ") - 4) + " to quit",
									  "Up-to-date application restarted"}))
		<< Joined(messages);
	ASSERT_FALSE(messages.empty());
	EXPECT_EQ(messages.back().rfind("Update successful - ", 0), 0u) << Joined(messages);
}

// Failures before anything moves: the errors are logged newest first, the notice shows the last error and
// points at the log, and no bundle is touched.
TEST_F(VUpdaterEndToEndTest, FailuresLeaveTheBundlesAlone)
{
	struct Case
	{
		std::vector<std::string> fArguments;
		std::vector<std::string> fErrors;  // the texts the log must show, in this order
		size_t fDialogs;
	};
	const Case cases[] = {
		{{"/missing/Old.app", "/missing/New.app"}, {"/missing/New.app/", "/missing/Old.app/"}, 1},
		{{"--silent", "/missing/Old.app", fNew}, {"/missing/Old.app/"}, 0},
		{{fOld, fOld}, {fOld + "/"}, 1},
		{{fOld, fOld + "/Contents/Resources"}, {fOld + "/"}, 1},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fArguments.back());
		fs::remove_all(fRoot + "logs");
		fs::remove(fRoot + "sink");
		std::vector<std::string> arguments{"--log-dir", fRoot + "logs"};
		arguments.insert(arguments.end(), c.fArguments.begin(), c.fArguments.end());
		const test::VChildRun run = Run(arguments);
		ASSERT_TRUE(WIFEXITED(run.fStatus)) << run.fStatus;
		EXPECT_EQ(WEXITSTATUS(run.fStatus), 2);

		const std::vector<std::string> messages = LogMessages(fRoot + "logs");
		size_t at = 0;
		for (const std::string& text : c.fErrors)
		{
			const auto found = std::find_if(messages.begin() + long(at), messages.end(),
				[&](const std::string& message) { return message.find(text) != std::string::npos; });
			ASSERT_NE(found, messages.end()) << text << "\n" << Joined(messages);
			at = size_t(found - messages.begin()) + 1;
		}
		EXPECT_TRUE(std::any_of(messages.begin() + long(at), messages.end(),
			[](const std::string& message) { return message.rfind("Update failed - ", 0) == 0; }))
			<< Joined(messages);
		const std::vector<std::string> dialogs = Dialogs();
		ASSERT_EQ(dialogs.size(), c.fDialogs) << ReadWhole(fRoot + "sink");
		if (!dialogs.empty())
		{
			EXPECT_NE(dialogs[0].find("_log_1.txt"), std::string::npos) << dialogs[0];
		}
		EXPECT_EQ(Tree(fOld), fOldTree);
		EXPECT_EQ(Tree(fNew), fNewTree);
	}
}

// A log folder that cannot be made shows the notice even with --silent, and a run without a log folder
// shows only the error.
TEST_F(VUpdaterEndToEndTest, NoticeWithoutALog)
{
	std::ofstream(fRoot + "blocked") << "a file where the log folder should go";
	const test::VChildRun blocked = Run({"--silent", "--log-dir", fRoot + "blocked/logs", fOld, "/missing/New.app"});
	ASSERT_TRUE(WIFEXITED(blocked.fStatus));
	EXPECT_EQ(WEXITSTATUS(blocked.fStatus), 2);
	ASSERT_EQ(Dialogs().size(), 1u) << ReadWhole(fRoot + "sink");

	fs::remove(fRoot + "sink");
	const test::VChildRun bare = Run({fOld, "/missing/New.app"});
	ASSERT_TRUE(WIFEXITED(bare.fStatus));
	EXPECT_EQ(WEXITSTATUS(bare.fStatus), 2);
	const std::vector<std::string> dialogs = Dialogs();
	ASSERT_EQ(dialogs.size(), 1u);
	EXPECT_NE(dialogs[0].find("/missing/New.app/"), std::string::npos) << dialogs[0];
	EXPECT_EQ(dialogs[0].find("log"), std::string::npos) << dialogs[0];
	EXPECT_EQ(Tree(fOld), fOldTree);
}

// Yes to the notice opens the log with the desktop's opener when a display exists.
TEST_F(VUpdaterEndToEndTest, YesOpensTheLog)
{
	fs::create_directories(fRoot + "bin");
	{
		std::ofstream opener(fRoot + "bin/xdg-open");
		opener << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << fRoot << "opened.txt\"\n";
	}
	fs::permissions(fRoot + "bin/xdg-open", fs::perms::owner_all);
	const char* path = getenv("PATH");
	const test::VChildRun run = Run({"--log-dir", fRoot + "logs", fOld, "/missing/New.app"},
		{"DISPLAY=:99", "VELK_NOTIFICATION_ANSWER=Yes", "PATH=" + fRoot + "bin:" + (path != nullptr ? path : "/usr/bin:/bin")});
	ASSERT_TRUE(WIFEXITED(run.fStatus));
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 2);
	const long end = NowMilliseconds() + 20000;
	while (!fs::exists(fRoot + "opened.txt") && NowMilliseconds() < end)
	{
		CollectOrphans();
		::usleep(20000);
	}
	const std::string opened = ReadWhole(fRoot + "opened.txt");
	EXPECT_EQ(opened.rfind(fRoot + "logs/", 0), 0u) << opened << ReadWhole(fRoot + "sink");
	EXPECT_NE(opened.find("_log_1.txt\n"), std::string::npos) << opened;
}

// The caller's pid: a process that is gone or a zombie lets the update go on; a signal during the wait
// neither stops the run nor leaves stray text anywhere.
TEST_F(VUpdaterEndToEndTest, WaitForTheCaller)
{
	// A zombie: ended, never collected, so it keeps its pid in the table.
	const pid_t zombie = fork();
	if (zombie == 0)
		_exit(0);
	ASSERT_GT(zombie, 0);
	::usleep(100000);
	const test::VChildRun run = Run({"--pid", std::to_string(zombie), "--log-dir", fRoot + "logs", fOld, fNew});
	ASSERT_TRUE(WIFEXITED(run.fStatus));
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 0) << Joined(LogMessages(fRoot + "logs"));
	EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"),
		{"Waiting for process " + std::to_string(zombie) + " to quit", "Process " + std::to_string(zombie) + " has quit. Proceeding."}));
	::waitpid(zombie, nullptr, 0);
	ASSERT_TRUE(WaitForRecord("version 2.0\n"));
}

TEST_F(VUpdaterEndToEndTest, SignalDuringTheWait)
{
	// A caller that lives until the test ends it, then the updater signalled while it waits.
	const pid_t caller = fork();
	if (caller == 0)
	{
		::pause();
		_exit(0);
	}
	ASSERT_GT(caller, 0);
	test::VChildProcess updater(Updater(), {"--pid", std::to_string(caller), "--caller-log", "yes", "--log-dir", fRoot + "logs", fOld, fNew},
		Environment());
	ASSERT_TRUE(updater.Start());
	ASSERT_TRUE(updater.WaitForOutput("waitquit,-1\n", kBound));
	// Signalled once it waits, when its standard streams are given up.
	const long end = NowMilliseconds() + kBound;
	const std::string waiting = "Waiting for process " + std::to_string(caller) + " to quit";
	while (!InOrder(LogMessages(fRoot + "logs"), {waiting}) && NowMilliseconds() < end)
		::usleep(20000);
	updater.Signal(SIGTERM);
	updater.Signal(SIGINT);
	::usleep(200000);
	::kill(caller, SIGKILL);
	::waitpid(caller, nullptr, 0);
	const int status = updater.Wait(kBound);
	ASSERT_TRUE(WIFEXITED(status)) << status;
	EXPECT_EQ(WEXITSTATUS(status), 0) << Joined(LogMessages(fRoot + "logs"));
	// The standard streams were given up after the one line: nothing else reached them.
	EXPECT_EQ(updater.GetOutput(), "waitquit,-1\n");
	EXPECT_EQ(updater.GetErrors(), "");
	EXPECT_EQ(Tree(fOld), fNewTree);
	for (const std::string& message : LogMessages(fRoot + "logs"))
		EXPECT_EQ(message.find("ctrl-c"), std::string::npos) << message;
	ASSERT_TRUE(WaitForRecord("version 2.0\n"));
}

// A caller that never quits: after a minute of waiting the update gives up with nothing touched.
TEST_F(VUpdaterEndToEndTest, CallerThatNeverQuits)
{
	const pid_t caller = fork();
	if (caller == 0)
	{
		::pause();
		_exit(0);
	}
	ASSERT_GT(caller, 0);
	const test::VChildRun run = Run({"--silent", "--pid", std::to_string(caller), "--log-dir", fRoot + "logs", fOld, fNew});
	::kill(caller, SIGKILL);
	::waitpid(caller, nullptr, 0);
	ASSERT_TRUE(WIFEXITED(run.fStatus));
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 2);
	const std::vector<std::string> messages = LogMessages(fRoot + "logs");
	EXPECT_TRUE(InOrder(messages, {"Process " + std::to_string(caller) + " still exists after maximum wait time. Giving up.",
									  "External process wait failed"}))
		<< Joined(messages);
	EXPECT_EQ(Tree(fOld), fOldTree);
	EXPECT_EQ(Tree(fNew), fNewTree);
}

}  // namespace velk

namespace velk {

// Paths holding quotation marks and backslashes reach the relaunch whole, and an old bundle's first
// temporary name already taken moves it to the next.
TEST_F(VUpdaterEndToEndTest, OddPathsAndTakenNames)
{
	const std::string odd = fRoot + "a \"quoted\" \\ dir --args x";
	fs::create_directories(odd);
	fs::rename(fRoot + "samples/v1", odd + "/v1");
	const std::string old = odd + "/v1/Sample.app";
	fs::create_directories(odd + "/v1/Sample_old0001.app");
	const test::VChildRun run = Run({"--log-dir", fRoot + "logs", old, fNew});
	ASSERT_TRUE(WIFEXITED(run.fStatus));
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 0) << Joined(LogMessages(fRoot + "logs"));
	EXPECT_EQ(Tree(old), fNewTree);
	ExpectTrashed("Sample_old0002.app", fOldTree);
	EXPECT_TRUE(fs::is_directory(odd + "/v1/Sample_old0001.app"));
	ASSERT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fRoot + "record.txt");
	// No argument leaked out of the quoted path.
	EXPECT_EQ(ReadWhole(fRoot + "record.txt").find("argument"), std::string::npos) << ReadWhole(fRoot + "record.txt");
}

// A caller that stops reading before the updater's line: the write fails quietly and the update goes on.
TEST_F(VUpdaterEndToEndTest, CallerClosedItsPipe)
{
	int pipe[2];
	ASSERT_EQ(::pipe(pipe), 0);
	::close(pipe[0]);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
	const std::string program = Updater();
	const std::string logs = fRoot + "logs";
	const char* arguments[] = {program.c_str(), "--caller-log", "yes", "--log-dir", logs.c_str(), fOld.c_str(), fNew.c_str(), nullptr};
	// The test's variables, with the run's own in front so that they are the ones found.
	std::vector<std::string> entries = Environment();
	std::vector<char*> environment;
	for (std::string& entry : entries)
		environment.push_back(entry.data());
	for (char** entry = environ; *entry != nullptr; ++entry)
		environment.push_back(*entry);
	environment.push_back(nullptr);
	pid_t updater = 0;
	ASSERT_EQ(posix_spawn(&updater, program.c_str(), &actions, nullptr, const_cast<char**>(arguments), environment.data()), 0);
	posix_spawn_file_actions_destroy(&actions);
	::close(pipe[1]);
	int status = 0;
	ASSERT_TRUE(WaitForEnd(updater, &status));
	ASSERT_TRUE(WIFEXITED(status)) << status;
	EXPECT_EQ(WEXITSTATUS(status), 0) << Joined(LogMessages(fRoot + "logs"));
	EXPECT_EQ(Tree(fOld), fNewTree);
	ASSERT_TRUE(WaitForRecord("version 2.0\n"));
}

}  // namespace velk

namespace velk {

// The demo's one update, on the updater built here: it reports the update done, never that the updater
// still runs, and it leaves its folder for a look around.
TEST_F(VUpdaterEndToEndTest, DemoReportsTheUpdate)
{
	const test::VChildRun demo = test::RunChild("/bin/bash", {std::string(VELK_SOURCE_DIR) + "/tools/demo"},
		{"DEMO_UPDATER=" + Updater(), "HOME=" + fRoot + "home", "DISPLAY=", "WAYLAND_DISPLAY="}, kBound);
	const std::string marker = "Demo folder (kept): ";
	const size_t at = demo.fOutput.find(marker);
	ASSERT_NE(at, std::string::npos) << demo.fOutput << demo.fErrors;
	const std::string folder = demo.fOutput.substr(at + marker.size(), demo.fOutput.find('\n', at) - at - marker.size());
	EXPECT_TRUE(WIFEXITED(demo.fStatus) && WEXITSTATUS(demo.fStatus) == 0) << demo.fOutput << demo.fErrors;
	EXPECT_NE(demo.fOutput.find("Updated: Sample 2.0 is installed in place of 1.0 and was relaunched."), std::string::npos)
		<< demo.fOutput;
	EXPECT_EQ(demo.fOutput.find("still runs"), std::string::npos) << demo.fOutput;
	EXPECT_NE(demo.fOutput.find("Update successful - "), std::string::npos) << demo.fOutput;
	if (folder.rfind("/tmp/velk-demo-", 0) == 0)
		fs::remove_all(folder);
}

}  // namespace velk
