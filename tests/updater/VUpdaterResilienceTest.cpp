// The updater's test build on a bad day: signals and a user's file arriving mid-copy, two updaters of one
// bundle, up-to-date bundles that cannot start or hold pipes, sockets, hard links and capabilities, full
// disks, inputs that are no files, relative and odd paths, and kill -9 at random moments followed by the
// same command. After every case the installed tree is whole somewhere, the place holds one whole version,
// and a run that completed leaves nothing of the swap behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/VTestFileSystem.h"
#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr const char* kPauseAtCopy = "VELK_TEST_PAUSE_AT=copy:index.txt";

bool WaitForFile(const std::string& path, int milliseconds)
{
	const long end = NowMilliseconds() + milliseconds;
	while (NowMilliseconds() < end)
	{
		if (::access(path.c_str(), F_OK) == 0)
			return true;
		::usleep(10000);
	}
	return false;
}

void PutFile(const std::string& path, const std::string& text)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

class VUpdaterResilienceTest : public test::VUpdaterFaultsFixture
{
protected:
	std::string PauseFile() const { return fScene + "paused"; }

	// The run completed the update: exit 0, the new version at the place, the old one in the Trash, the
	// application started once more, nothing left beside it.
	void ExpectUpdated(int status, const std::string& logs)
	{
		EXPECT_TRUE(EndedAs(status, 0)) << Ending(status) << "\n" << Joined(LogLines(logs));
		ExpectNothingLost(kNewTree);
		ExpectNoLeftovers();
		EXPECT_TRUE(InOrder(LogMessages(logs), {"Update successful - "}, true)) << Joined(LogLines(logs));
		EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fScene + "record.txt");
	}
};

// Signals that would end the process arrive while the new bundle is copied: all are held, the update
// completes, and nothing is left half done.
TEST_F(VUpdaterResilienceTest, SignalsMidCopyAreHeld)
{
	struct Case
	{
		const char* fName;
		std::vector<int> fSignals;
	};
	const Case cases[] = {
		{"a closed terminal", {SIGHUP}},
		{"USR1", {SIGUSR1}},
		{"QUIT twice", {SIGQUIT, SIGQUIT}},
		{"TERM then INT", {SIGTERM, SIGINT}},
		{"timers and USR2", {SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF}},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fName);
		MakeScene(fRoot + "signals" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		test::VChildProcess updater(TestingUpdater(), Arguments(), Environment({kPauseAtCopy, "VELK_TEST_PAUSE_FILE=" + PauseFile()}));
		ASSERT_TRUE(updater.Start());
		ASSERT_TRUE(WaitForFile(PauseFile(), kRunBound));
		for (int signal : c.fSignals)
		{
			updater.Signal(signal);
			::usleep(20000);
		}
		fs::remove(PauseFile());
		ExpectUpdated(updater.Wait(kRunBound), fScene + "logs");
	}
}

// A file the user writes into the application while the new version is copied is never deleted by the
// copy: it leaves with the old version, into the Trash.
TEST_F(VUpdaterResilienceTest, FileWrittenIntoThePlaceMidCopyIsKept)
{
	MakeScene(fRoot);
	test::VChildProcess updater(TestingUpdater(), Arguments(), Environment({kPauseAtCopy, "VELK_TEST_PAUSE_FILE=" + PauseFile()}));
	ASSERT_TRUE(updater.Start());
	ASSERT_TRUE(WaitForFile(PauseFile(), kRunBound));
	PutFile(fOld + "/Contents/Resources/notes.txt", "the user's notes");
	fOldTree = Tree(fOld);
	fs::remove(PauseFile());
	ExpectUpdated(updater.Wait(kRunBound), fRoot + "logs");
	EXPECT_EQ(ReadWhole(fRoot + "data/Trash/files/Sample_old0001.app/Contents/Resources/notes.txt"), "the user's notes");
}

// Two updaters of one bundle started close together: one installs and relaunches, the other waits for it
// and then refuses, moving nothing.
TEST_F(VUpdaterResilienceTest, TwoUpdatersOfOneBundle)
{
	int index = 0;
	for (const int apartMs : {0, 5, 150})
	{
		SCOPED_TRACE(std::to_string(apartMs) + " ms apart");
		MakeScene(fRoot + "two" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		// Whichever takes the bundle's lock first pauses mid-copy, so that the two runs overlap.
		const std::vector<std::string> pause{kPauseAtCopy, "VELK_TEST_PAUSE_FILE=" + PauseFile()};
		const std::string logs[2] = {fScene + "logs-a", fScene + "logs-b"};
		test::VChildProcess first(TestingUpdater(), {"--log-dir", logs[0], fOld, fNew}, Environment(pause));
		test::VChildProcess second(TestingUpdater(), {"--log-dir", logs[1], fOld, fNew}, Environment(pause));
		ASSERT_TRUE(first.Start());
		::usleep(useconds_t(apartMs) * 1000);
		ASSERT_TRUE(second.Start());
		ASSERT_TRUE(WaitForFile(PauseFile(), kRunBound));
		// Both have begun their run, and so asked for the lock, before the holder goes on.
		const long end = NowMilliseconds() + kRunBound;
		while ((!InOrder(LogMessages(logs[0]), {"Updater starting - "}, true) ||
				   !InOrder(LogMessages(logs[1]), {"Updater starting - "}, true)) &&
			NowMilliseconds() < end)
			::usleep(20000);
		::usleep(200000);
		fs::remove(PauseFile());
		const int statuses[2] = {first.Wait(kRunBound), second.Wait(kRunBound)};

		const int winner = EndedAs(statuses[0], 0) ? 0 : 1;
		EXPECT_TRUE(EndedAs(statuses[winner], 0)) << Ending(statuses[winner]) << "\n" << Joined(LogLines(logs[winner]));
		EXPECT_TRUE(EndedAs(statuses[1 - winner], 2)) << Ending(statuses[1 - winner]) << "\n" << Joined(LogLines(logs[1 - winner]));
		EXPECT_TRUE(InOrder(LogMessages(logs[1 - winner]), {"Another update of ", "Update failed - ",
			"[15] Another update of the application '"}, true)) << Joined(LogLines(logs[1 - winner]));
		ExpectNothingLost(kNewTree);
		ExpectNoLeftovers();
		ASSERT_TRUE(WaitForRecord("version 2.0\n"));
		::usleep(300000);
		EXPECT_EQ(CountRelaunches(), 1) << ReadWhole(fScene + "record.txt");
		EXPECT_EQ(std::distance(fs::directory_iterator(fScene + "data/Trash/files"), fs::directory_iterator()), 1);
	}
}

// An up-to-date application that cannot start never replaces one that does: refused before anything moves
// when its program is missing or not executable; when the system cannot execute it once in place, the
// relaunch fails and the old version goes back to its place, out of the Trash.
TEST_F(VUpdaterResilienceTest, UpToDateApplicationThatCannotStart)
{
	struct Case
	{
		const char* fName;
		const char* fProgram;  // the new executable's text, null to remove it
		mode_t fMode;
		bool fClientInfo;
		int fExit;
		unsigned fPlace;
		std::vector<std::string> fLogged;
	};
	const std::string refused = "[16] The program of the new version of the application, '";
	const Case cases[] = {
		{"mode 0644", "#!/bin/sh\n", 0644, false, 2, kOldTree, {"is missing or cannot be run", "Update failed - ", refused}},
		{"missing", nullptr, 0, false, 2, kOldTree, {"is missing or cannot be run", "Update failed - ", refused}},
		{"missing interpreter", "#!/nonexistent/sh\n", 0755, false, 2, kOldTree,
			{"Proceeding with up-to-date application restart...", "Up-to-date application restart failed",
				"The outdated application is back at ", "Update failed - "}},
		{"mode 0644 made executable by the client customization", nullptr, 0644, true, 0, kNewTree, {"Update successful - "}},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fName);
		MakeScene(fRoot + "exe" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const std::string program = fNew + "/Contents/MacOS/Sample";
		if (c.fProgram != nullptr)
			PutFile(program, c.fProgram);
		if (c.fProgram == nullptr && c.fMode == 0)
			fs::remove(program);
		else
			ASSERT_EQ(::chmod(program.c_str(), c.fMode), 0);
		TakeTrees();
		std::vector<std::string> extra;
		if (c.fClientInfo)
			extra = {"--client-info", fScene + "samples/client.json"};
		const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(extra), Environment(), kRunBound);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		EXPECT_TRUE(EndedAs(run.fStatus, c.fExit)) << Ending(run.fStatus) << "\n" << Joined(lines);
		EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"), c.fLogged, true)) << Joined(lines);
		if (c.fClientInfo)
		{
			// The customization changed the up-to-date bundle: the place holds it as it is now.
			EXPECT_EQ(Tree(fOld), Tree(fNew));
			struct stat status;
			ASSERT_EQ(::stat((fOld + "/Contents/MacOS/Sample").c_str(), &status), 0);
			EXPECT_EQ(status.st_mode & 0777, 0755u);
			EXPECT_TRUE(WaitForRecord("version 2.0\n"));
			continue;
		}
		ExpectNothingLost(c.fPlace);
		ExpectNoLeftovers(c.fPlace == kNewTree);
		EXPECT_FALSE(fs::exists(fScene + "data/Trash/files"));
		EXPECT_EQ(Tree(fScene + "samples/v1/Sample_old0001.app").empty(), c.fPlace == kOldTree);
		EXPECT_EQ(Dialogs().size(), 1u) << ReadWhole(fScene + "sink");
		EXPECT_EQ(CountRelaunches(), 0);
	}
}

// Pipes, sockets, hard links and a file capability in the up-to-date bundle arrive as an archive copy
// keeps them.
TEST_F(VUpdaterResilienceTest, SpecialEntriesArriveAsTheyAre)
{
	MakeScene(fRoot);
	const std::string resources = fNew + "/Contents/Resources/";
	ASSERT_EQ(::mkfifo((resources + "pipe").c_str(), 0640), 0);
	const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
	ASSERT_GE(listener, 0);
	sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	const std::string socketPath = resources + "socket";
	ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
	std::strcpy(address.sun_path, socketPath.c_str());
	ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
	::close(listener);
	const std::string program = fNew + "/Contents/MacOS/Sample";
	ASSERT_EQ(::link(program.c_str(), (fNew + "/Contents/MacOS/Twin").c_str()), 0);
	// A capability: revision 2, effective, CAP_NET_RAW permitted.
	const uint32_t capability[5] = {0x02000001u, 1u << 13, 0, 0, 0};
	const bool capable = ::setxattr(program.c_str(), "security.capability", capability, sizeof(capability), 0) == 0;
	TakeTrees();

	const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
	ExpectUpdated(run.fStatus, fRoot + "logs");
	struct stat pipe;
	struct stat socket;
	struct stat first;
	struct stat second;
	ASSERT_EQ(::lstat((fOld + "/Contents/Resources/pipe").c_str(), &pipe), 0);
	ASSERT_EQ(::lstat((fOld + "/Contents/Resources/socket").c_str(), &socket), 0);
	ASSERT_EQ(::lstat((fOld + "/Contents/MacOS/Sample").c_str(), &first), 0);
	ASSERT_EQ(::lstat((fOld + "/Contents/MacOS/Twin").c_str(), &second), 0);
	EXPECT_TRUE(S_ISFIFO(pipe.st_mode));
	EXPECT_TRUE(S_ISSOCK(socket.st_mode));
	EXPECT_EQ(first.st_ino, second.st_ino);
	if (capable)
	{
		EXPECT_NE(fNewTree["Contents/MacOS/Sample"].find("security.capability"), std::string::npos);
	}
}

// A full disk: where the application lives, the copy fails and the place is untouched; where the log
// lives, the notice says the log could not be written instead of sending the user to an empty file.
TEST_F(VUpdaterResilienceTest, FullDisks)
{
	MakeScene(fRoot);
	test::StTemporaryVolume small(fRoot + "small", "2m");
	if (!small.IsMounted())
		GTEST_SKIP() << "mounting a file system is refused here";
	{
		SCOPED_TRACE("the application's volume");
		const test::VChildRun copied = test::RunChild("/bin/cp", {"-a", fScene + "samples/v1", fRoot + "small/v1"});
		ASSERT_TRUE(EndedAs(copied.fStatus, 0)) << copied.fErrors;
		fOld = fRoot + "small/v1/Sample.app";
		PutFile(fNew + "/Contents/Resources/large.bin", std::string(3 << 20, 'x'));
		TakeTrees();
		const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
		const std::vector<std::string> lines = LogLines(fRoot + "logs");
		EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << Joined(lines);
		ExpectNothingLost(kOldTree);
		ExpectNoLeftovers();
		EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"Up-to-date application install failed", "No space left on device",
			"Update failed - "}, true)) << Joined(lines);
		EXPECT_FALSE(InOrder(LogMessages(fRoot + "logs"), {"Rolling back up-to-date application install"}));
		fs::remove_all(fRoot + "small/v1");
		fs::remove(fRoot + "sink");
	}
	{
		SCOPED_TRACE("the log's volume");
		fs::create_directories(fRoot + "small/logs");
		{
			std::ofstream filler(fRoot + "small/filler", std::ios::binary);
			const std::string block(65536, 'f');
			while (filler.write(block.data(), std::streamsize(block.size())) && filler.flush())
			{
			}
		}
		const test::VChildRun run =
			test::RunChild(TestingUpdater(), {"--log-dir", fRoot + "small/logs", fRoot + "missing/Sample.app", fNew}, Environment(), kRunBound);
		EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus);
		const std::vector<std::string> dialogs = Dialogs();
		ASSERT_EQ(dialogs.size(), 1u) << ReadWhole(fRoot + "sink");
		EXPECT_NE(dialogs[0].find("The log file could not be written: "), std::string::npos) << dialogs[0];
		EXPECT_NE(dialogs[0].find("No space left on device"), std::string::npos) << dialogs[0];
		EXPECT_EQ(dialogs[0].find("More information is available"), std::string::npos) << dialogs[0];
	}
}

// A client customization named by a pipe, a folder or a device is refused at once with its path, before
// the caller is told anything: nothing can hold the run there.
TEST_F(VUpdaterResilienceTest, ClientCustomizationThatIsNoFile)
{
	MakeScene(fRoot);
	ASSERT_EQ(::mkfifo((fRoot + "pipe.json").c_str(), 0600), 0);
	fs::create_directories(fRoot + "folder.json");
	for (const std::string& input : {fRoot + "pipe.json", fRoot + "folder.json", std::string("/dev/null")})
	{
		SCOPED_TRACE(input);
		fs::remove_all(fRoot + "logs");
		test::VChildProcess updater(TestingUpdater(), Arguments({"--client-info", input, "--caller-log", "yes"}), Environment());
		ASSERT_TRUE(updater.Start());
		const int status = updater.Wait(kRunBound);
		const std::vector<std::string> lines = LogLines(fRoot + "logs");
		EXPECT_TRUE(EndedAs(status, 2)) << Ending(status) << "\n" << Joined(lines);
		EXPECT_EQ(updater.GetOutput(), "");
		EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"Update failed - ",
			"[42] The client settings file '" + input + "' is not a file", "[41] The client settings file is not valid."}, true))
			<< Joined(lines);
		ExpectNothingLost(kOldTree);
		ExpectNoLeftovers();
	}
}

// Paths given relative to the working folder, "./" and "../" among them, are read as the shell reads
// them, and reach the log and the relaunch whole.
TEST_F(VUpdaterResilienceTest, RelativePaths)
{
	struct Case
	{
		const char* fFolder;  // the working folder, in the scene
		std::vector<std::string> fArguments;
	};
	const Case cases[] = {
		{"", {"--log-dir", "logs", "--client-info", "samples/client.json", "--restart-params",
				 "samples/v1/Sample.app/Contents/Database/RiduzovOduziz.Rylink", "samples/v1/Sample.app", "./samples/v2/Sample.app"}},
		{"samples/v1", {"--log-dir", "../../logs", "--client-info", "../client.json", "--restart-params",
						   "./Sample.app/Contents/Database/RiduzovOduziz.Rylink", "Sample.app", "../v2/Sample.app"}},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fFolder);
		MakeScene(fRoot + "relative" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		std::vector<std::string> arguments{"-c", "cd \"$0\" && exec \"$@\"", fScene + c.fFolder, TestingUpdater()};
		arguments.insert(arguments.end(), c.fArguments.begin(), c.fArguments.end());
		const test::VChildRun run = test::RunChild("/bin/sh", arguments, Environment(), kRunBound);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		EXPECT_TRUE(EndedAs(run.fStatus, 0)) << Ending(run.fStatus) << "\n" << run.fErrors << Joined(lines);
		EXPECT_EQ(Tree(fOld), Tree(fNew));
		EXPECT_TRUE(fs::is_regular_file(fOld + "/Contents/Database/RiduzovOduziz.Rylink"));
		EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"), {"Update successful - "}, true)) << Joined(lines);
		ASSERT_TRUE(WaitForRecord("version 2.0\n"));
		EXPECT_NE(ReadWhole(fScene + "record.txt").find("argument " + fOld + "/Contents/Database/RiduzovOduziz.Rylink\n"),
			std::string::npos) << ReadWhole(fScene + "record.txt");
	}
}

// A line break in a bundle's path stays inside its log entry: every line of the log is an entry of its
// own.
TEST_F(VUpdaterResilienceTest, LineBreakInAPath)
{
	MakeScene(fRoot);
	const std::string folder = fRoot + "samples/line\nbreak";
	fs::rename(fRoot + "samples/v1", folder);
	fOld = folder + "/Sample.app";
	TakeTrees();
	const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
	ExpectUpdated(run.fStatus, fRoot + "logs");
	const std::vector<std::string> lines = LogLines(fRoot + "logs");
	ASSERT_FALSE(lines.empty());
	for (const std::string& line : lines)
		EXPECT_TRUE(!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) && line.find(" [") != std::string::npos) << line;
	EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"line\\nbreak/Sample.app"}, true)) << Joined(lines);
}

// An old version that can be neither trashed nor wholly deleted (a volume is mounted inside it): the new
// one runs, the run says it failed, and the log tells what was left where.
TEST_F(VUpdaterResilienceTest, OldBundleThatCannotBeRemoved)
{
	MakeScene(fRoot);
	const std::string aside = fRoot + "samples/v1/Sample_old0001.app";
	test::StTemporaryVolume pinned(fOld + "/Contents/Resources/Mounted", "64k");
	if (!pinned.IsMounted())
		GTEST_SKIP() << "mounting a file system is refused here";
	TakeTrees();
	PutFile(fRoot + "data/Trash", "a file where the Trash should be");
	const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
	::umount2((aside + "/Contents/Resources/Mounted").c_str(), MNT_DETACH);
	const std::vector<std::string> lines = LogLines(fRoot + "logs");
	EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << Joined(lines);
	EXPECT_EQ(Tree(fOld), fNewTree);
	EXPECT_TRUE(WaitForRecord("version 2.0\n"));
	EXPECT_TRUE(fs::is_directory(aside + "/Contents/Resources/Mounted"));
	EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"Up-to-date application restarted",
		"entries are left at " + aside + "/", "Update failed - "}, true))
		<< Joined(lines);
}

// kill -9 at moments spread over a whole update of a larger bundle, each followed by the same command:
// the place always holds one whole version, and the second run ends the update with nothing left over.
TEST_F(VUpdaterResilienceTest, KilledAtRandomMomentsThenRunAgain)
{
	auto makeLargerScene = [this](const std::string& scene) {
		MakeScene(scene);
		for (int i = 0; i < 300; ++i)
			PutFile(fNew + "/Contents/Resources/Data/" + std::to_string(i / 30) + "/item" + std::to_string(i) + ".bin",
				std::string(65536, char('a' + i % 26)));
		TakeTrees();
	};
	// One whole run tells how long an update takes on this machine.
	makeLargerScene(fRoot + "probe/");
	if (HasFatalFailure())
		return;
	const long started = NowMilliseconds();
	const test::VChildRun probe = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
	const long duration = NowMilliseconds() - started;
	ASSERT_TRUE(EndedAs(probe.fStatus, 0)) << Ending(probe.fStatus);

	std::mt19937 random(20261210);
	constexpr int kKills = 6;
	for (int kill = 0; kill < kKills; ++kill)
	{
		// Spread over the run, each moment jittered within its share.
		const long share = std::max(duration / kKills, 1L);
		const long at = share * kill + long(random() % uint32_t(share));
		SCOPED_TRACE("killed after " + std::to_string(at) + " ms of " + std::to_string(duration));
		makeLargerScene(fRoot + "kill" + std::to_string(kill) + "/");
		if (HasFatalFailure())
			return;
		test::VChildProcess updater(TestingUpdater(), Arguments(), Environment());
		ASSERT_TRUE(updater.Start());
		::usleep(useconds_t(at) * 1000);
		updater.Signal(SIGKILL);
		const int status = updater.Wait(kRunBound);
		// Killed, or done before the kill landed.
		EXPECT_TRUE(EndedAs(status, kKilled) || EndedAs(status, 0)) << Ending(status);
		ExpectNothingLost(kOldTree | kNewTree);

		const test::VChildRun again = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
		ExpectUpdated(again.fStatus, fScene + "logs");
	}
}

}  // namespace velk
