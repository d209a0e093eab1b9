// The updater's test build run as its users run it, broken at named platform operations from its
// environment: a failing copy, a full disk, a busy rename, the process killed mid-update, no usable Trash,
// and bundles on two file systems. Whatever happens, nothing of the installed application is lost: its tree
// (modes, link targets, contents, extended attributes) stays whole at its place, beside it or in the Trash,
// and its place never holds a mix of the two versions.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

}  // namespace

class VUpdaterFaultsTest : public test::VUpdaterFaultsFixture
{
};

// Each fault at its operation, in a scene of its own: how the run ends, what the place holds, whether the
// new application was started and what the log tells.
TEST_F(VUpdaterFaultsTest, FaultsLoseNothing)
{
	// The errors as the run hands them on after its last line, oldest first: the copy's, then the install's.
	const std::string copyFailed = "[13] The new version of the application could not be copied from '";
	const std::string installFailed = "[100] The new version of the application could not be installed.";
	struct Case
	{
		const char* fName;
		std::vector<std::string> fFaults;
		int fExit;  // or kKilled
		unsigned fPlace;
		bool fRelaunched;
		std::vector<std::string> fLogged;  // pieces of messages, in this order (a killed run's log may trail)
	};
	const Case cases[] = {
		{"copy fails at a file", {"VELK_TEST_COPY_FAULT=index.txt:EIO"}, 2, kOldTree, false,
			{"Proceeding with up-to-date application install...", "Up-to-date application install failed", "Input/output error",
				"Update failed - ", copyFailed, installFailed}},
		{"disk full", {"VELK_TEST_WRITE_FAULT=ENOSPC"}, 2, kOldTree, false,
			{"Up-to-date application install failed", "No space left on device", "Update failed - ", copyFailed, installFailed}},
		{"rename busy once", {"VELK_TEST_RENAME_BUSY=1"}, 0, kNewTree, true,
			{"Proceeding with up-to-date application install...", "Up-to-date application restarted", "Update successful - "}},
		{"rename busy every time", {"VELK_TEST_RENAME_BUSY=5"}, 2, kOldTree, false,
			{"Proceeding with up-to-date application install...", "Up-to-date application install failed", "Update failed - ",
				"[11] The application '", installFailed}},
		{"no exchange, busy once", {"VELK_RENAME_FLAGS_REFUSED=1", "VELK_TEST_RENAME_BUSY=1"}, 0, kNewTree, true,
			{"Up-to-date application restarted", "Update successful - "}},
		{"killed at the swap", {"VELK_TEST_KILL_AT=rename:Sample.app"}, kKilled, kOldTree, false, {}},
		{"killed copying a file", {"VELK_TEST_KILL_AT=copy:index.txt"}, kKilled, kOldTree, false, {}},
		{"killed copying a folder", {"VELK_TEST_KILL_AT=copy:Pages"}, kKilled, kOldTree, false, {}},
		{"killed at the Trash", {"VELK_TEST_KILL_AT=trash:Sample_old0001.app"}, kKilled, kNewTree, true, {}},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fName);
		MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const test::VChildRun run = Run(c.fFaults, fNew);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		if (c.fExit == kKilled)
		{
			EXPECT_TRUE(WIFSIGNALED(run.fStatus) && WTERMSIG(run.fStatus) == SIGKILL) << Ending(run.fStatus) << "\n" << Joined(lines);
		}
		else
		{
			EXPECT_TRUE(WIFEXITED(run.fStatus) && WEXITSTATUS(run.fStatus) == c.fExit) << Ending(run.fStatus) << "\n" << Joined(lines);
		}
		ExpectNothingLost(c.fPlace);

		const std::vector<std::string> messages = LogMessages(fScene + "logs");
		EXPECT_TRUE(InOrder(messages, c.fLogged, true)) << Joined(lines);
		if (c.fExit == kKilled)
		{
			EXPECT_FALSE(InOrder(messages, {"Update successful - "}, true) || InOrder(messages, {"Update failed - "}, true))
				<< Joined(lines);
		}
		if (c.fExit == 0)
		{
			for (const std::string& line : lines)
				EXPECT_EQ(line.find(" ERROR - "), std::string::npos) << line;
		}
		if (c.fExit == 2)
		{
			EXPECT_FALSE(fs::exists(fScene + "samples/v1/Sample_old0001.app"));
			EXPECT_FALSE(fs::exists(fScene + "data/Trash/files"));
			// Nothing at the place was changed, so nothing was rolled back.
			EXPECT_FALSE(InOrder(messages, {"Rolling back up-to-date application install"})) << Joined(lines);
		}
		if (c.fExit != kKilled)
			ExpectNoLeftovers();
		if (c.fRelaunched)
		{
			EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fScene + "record.txt");
		}
		else
		{
			EXPECT_EQ(ReadWhole(fScene + "record.txt").find("version 2.0"), std::string::npos);
		}
		if (c.fExit != kKilled)
			continue;

		// The user runs the same command again: what the kill left is recovered, and the update completes.
		const test::VChildRun again = Run({}, fNew);
		const std::vector<std::string> lines2 = LogLines(fScene + "logs");
		EXPECT_TRUE(WIFEXITED(again.fStatus) && WEXITSTATUS(again.fStatus) == 0) << Ending(again.fStatus) << "\n" << Joined(lines2);
		ExpectNothingLost(kNewTree);
		ExpectNoLeftovers();
		EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"), {"Recovering the update interrupted in process", "Interrupted update recovered",
			"Update successful - "}, true)) << Joined(lines2);
		EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fScene + "record.txt");
	}
}

// Without a usable Trash the old bundle is deleted, and the log says so: the new application runs, and the
// run says it failed.
TEST_F(VUpdaterFaultsTest, NoUsableTrash)
{
	MakeScene(fRoot);
	fs::create_directories(fRoot + "data");
	std::ofstream(fRoot + "data/Trash") << "a file where the Trash should be";
	const test::VChildRun run = Run({}, fNew);
	ASSERT_TRUE(WIFEXITED(run.fStatus)) << Ending(run.fStatus);
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 2) << Joined(LogLines(fRoot + "logs"));
	EXPECT_EQ(Tree(fOld), fNewTree);
	EXPECT_EQ(Tree(fNew), fNewTree);
	EXPECT_FALSE(fs::exists(fs::symlink_status(fRoot + "samples/v1/Sample_old0001.app")));
	EXPECT_EQ(ReadWhole(fRoot + "data/Trash"), "a file where the Trash should be");
	EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fRoot + "record.txt");
	const std::vector<std::string> messages = LogMessages(fRoot + "logs");
	EXPECT_TRUE(InOrder(messages, {"Up-to-date application restarted", "The old application " + fRoot +
		"samples/v1/Sample_old0001.app/ could not be moved to the Trash: it was deleted", "Update failed - "}, true))
		<< Joined(messages);
}

// The up-to-date bundle on another file system is copied across, every kept property with it.
TEST_F(VUpdaterFaultsTest, UpToDateBundleOnAnotherFileSystem)
{
	MakeScene(fRoot);
	struct stat shm;
	struct stat here;
	ASSERT_EQ(::stat(fRoot.c_str(), &here), 0);
	if (::stat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode) || ::access("/dev/shm", W_OK) != 0)
		GTEST_SKIP() << "no writable /dev/shm";
	if (shm.st_dev == here.st_dev)
		GTEST_SKIP() << "/dev/shm is on the test folder's file system";
	char pattern[] = "/dev/shm/velk-faults-XXXXXX";
	ASSERT_NE(::mkdtemp(pattern), nullptr);
	const std::string other = std::string(pattern) + "/Sample.app";
	struct Remover
	{
		std::string fPath;
		~Remover() { fs::remove_all(fPath); }
	} remover{pattern};
	const test::VChildRun copied = test::RunChild("/bin/cp", {"-a", fNew, other});
	ASSERT_TRUE(WIFEXITED(copied.fStatus) && WEXITSTATUS(copied.fStatus) == 0) << copied.fErrors;
	ASSERT_EQ(Tree(other), fNewTree);

	const test::VChildRun run = Run({}, other);
	ASSERT_TRUE(WIFEXITED(run.fStatus)) << Ending(run.fStatus);
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 0) << Joined(LogLines(fRoot + "logs"));
	EXPECT_EQ(Tree(fOld), fNewTree);
	EXPECT_EQ(Tree(other), fNewTree);
	EXPECT_EQ(Tree(fRoot + "data/Trash/files/Sample_old0001.app"), fOldTree);
	EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fRoot + "record.txt");
}

}  // namespace velk
