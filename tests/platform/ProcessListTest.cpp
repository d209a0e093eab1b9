// The process list over fixture trees and the running system, the kill guard, and the executable and
// application searches.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ExecutableSearch.h"
#include "platform/ProcessList.h"

namespace {

class ProcessListTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-procs-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
	}
	void TearDown() override { std::filesystem::remove_all(fRoot); }

	void Write(const std::string& path, const std::string& text, mode_t mode = 0644) const
	{
		const std::filesystem::path full = fRoot + path;
		std::filesystem::create_directories(full.parent_path());
		std::ofstream(full, std::ios::binary) << text;
		::chmod(full.c_str(), mode);
	}

	std::string fRoot;
};

TEST_F(ProcessListTest, FixtureProcessesWithoutTheEndedOnes)
{
	Write("/proc/1/stat", "1 (init) S 0 1 1 0");
	Write("/proc/1/comm", "init\n");
	Write("/proc/42/stat", "42 (odd) Z name) Z 1 42");  // a zombie whose name holds ") Z"
	Write("/proc/43/stat", "43 (x) R) X 1 43");  // ended: the state after the last ')' counts
	Write("/proc/77/stat", "77 (tool) R 1 77");
	Write("/proc/77/cmdline", std::string("/usr/bin/tool\0--flag\0", 21));
	std::filesystem::create_directories(fRoot + "/proc/99");  // ended during the walk: no stat
	std::filesystem::create_directories(fRoot + "/proc/self");

	std::vector<int> pids = {5};
	ASSERT_TRUE(plat::ListProcesses(fRoot, pids));
	ASSERT_GE(pids.size(), 1u);
	EXPECT_EQ(pids.front(), 5);  // kept in front
	std::vector<int> listed(pids.begin() + 1, pids.end());
	std::sort(listed.begin(), listed.end());
	EXPECT_EQ(listed, (std::vector<int>{1, 77}));

	std::string text;
	ASSERT_TRUE(plat::ReadProcessName(fRoot, 1, text));
	EXPECT_EQ(text, "init");
	EXPECT_FALSE(plat::ReadProcessName(fRoot, 12345, text));
	ASSERT_TRUE(plat::ReadProcessPath(fRoot, 77, text));
	EXPECT_EQ(text, "/usr/bin/tool");
	EXPECT_FALSE(plat::ReadProcessPath(fRoot, 1, text));

	std::vector<int> untouched = {5};
	EXPECT_FALSE(plat::ListProcesses(fRoot + "/missing", untouched));
	EXPECT_EQ(untouched, (std::vector<int>{5}));
}

TEST(ProcessListLiveTest, ZombiesAreLeftOutAndKillsAreGuarded)
{
	// An unreaped child is a zombie: not listed.
	const pid_t zombie = ::fork();
	ASSERT_GE(zombie, 0);
	if (zombie == 0)
		::_exit(0);
	siginfo_t info {};
	ASSERT_EQ(::waitid(P_PID, id_t(zombie), &info, WEXITED | WNOWAIT), 0);
	std::vector<int> pids;
	ASSERT_TRUE(plat::ListProcesses("/", pids));
	EXPECT_NE(std::find(pids.begin(), pids.end(), int(::getpid())), pids.end());
	EXPECT_EQ(std::find(pids.begin(), pids.end(), int(zombie)), pids.end());
	::waitpid(zombie, nullptr, 0);

	// A live child is killed.
	const pid_t sleeper = ::fork();
	ASSERT_GE(sleeper, 0);
	if (sleeper == 0)
	{
		::pause();
		::_exit(0);
	}
	EXPECT_TRUE(plat::KillProcess(sleeper));
	int status = 0;
	ASSERT_EQ(::waitpid(sleeper, &status, 0), sleeper);
	EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

	EXPECT_FALSE(plat::KillProcess(0));
	// -1 would reach every process: tried only by a child that dropped to an account of its own first, so
	// a broken guard cannot reach the test run.
	if (::geteuid() == 0)
	{
		const pid_t child = ::fork();
		ASSERT_GE(child, 0);
		if (child == 0)
		{
			if (::setgid(65534) != 0 || ::setuid(65534) != 0)
				::_exit(3);
			::_exit(plat::KillProcess(-1) ? 1 : 0);
		}
		ASSERT_EQ(::waitpid(child, &status, 0), child);
		EXPECT_TRUE(WIFEXITED(status));
		EXPECT_EQ(WEXITSTATUS(status), 0);
	}
}

TEST(ProcessListLiveTest, WaitsForChildrenAndOtherProcesses)
{
	EXPECT_EQ(plat::WaitForProcess(0, true), plat::WaitOutcome::kNoProcess);
	EXPECT_EQ(plat::WaitForProcess(-1, true), plat::WaitOutcome::kNoProcess);

	const pid_t quick = ::fork();
	ASSERT_GE(quick, 0);
	if (quick == 0)
		::_exit(0);
	EXPECT_EQ(plat::WaitForProcess(quick, true), plat::WaitOutcome::kExited);
	EXPECT_EQ(plat::WaitForProcess(quick, true), plat::WaitOutcome::kNoProcess);  // collected already

	// A grandchild is not ours to collect: it is watched until it ends.
	int channel[2];
	ASSERT_EQ(::pipe(channel), 0);
	const pid_t middle = ::fork();
	ASSERT_GE(middle, 0);
	if (middle == 0)
	{
		const pid_t grandchild = ::fork();
		if (grandchild == 0)
		{
			::pause();
			::_exit(0);
		}
		ssize_t written = ::write(channel[1], &grandchild, sizeof(grandchild));
		::_exit(written == sizeof(grandchild) ? 0 : 1);
	}
	pid_t other = 0;
	ASSERT_EQ(::read(channel[0], &other, sizeof(other)), ssize_t(sizeof(other)));
	::close(channel[0]);
	::close(channel[1]);
	ASSERT_EQ(plat::WaitForProcess(middle, true), plat::WaitOutcome::kExited);
	EXPECT_EQ(plat::WaitForProcess(other, false), plat::WaitOutcome::kRunning);
	ASSERT_TRUE(plat::KillProcess(other));
	EXPECT_EQ(plat::WaitForProcess(other, true), plat::WaitOutcome::kExited);
}

TEST_F(ProcessListTest, ExecutableAndApplicationSearch)
{
	Write("/a/tool", "#!/bin/sh\n", 0644);  // not executable
	Write("/b/tool", "#!/bin/sh\n", 0755);
	Write("/c/tool/inside", "", 0644);  // a folder of that name
	const std::string longFolder = fRoot + "/" + std::string(5000, 'x');
	struct Row
	{
		std::string name;
		std::string path;
		bool found;
		std::string expected;
	};
	const Row rows[] = {
		{"tool", fRoot + "/a:" + fRoot + "/b", true, fRoot + "/b/tool"},
		{"tool", fRoot + "/c/:" + fRoot + "/a:" + fRoot + "/b/", true, fRoot + "/b/tool"},
		{"tool", longFolder + ":" + fRoot + "/b", true, fRoot + "/b/tool"},
		{"tool", fRoot + "/a", false, ""},
		{"tool", "", false, ""},
		{fRoot + "/b/../b/tool", "", true, fRoot + "/b/tool"},
		{fRoot + "/a/tool", fRoot + "/b", false, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name + " in " + row.path.substr(0, 80));
		std::string found = "untouched";
		EXPECT_EQ(plat::SearchExecutable(row.name, row.path, found), row.found);
		EXPECT_EQ(found, row.found ? row.expected : "untouched");
	}

	std::filesystem::create_directories(fRoot + "/home/Applications/Editor.app");
	std::filesystem::create_directories(fRoot + "/apps/Editor.app");
	std::filesystem::create_directories(fRoot + "/apps/Viewer.APP");
	const std::vector<std::string> folders = {fRoot + "/home/Applications", fRoot + "/apps/"};
	std::string found;
	ASSERT_TRUE(plat::SearchApplicationBundle("Editor", folders, found));
	EXPECT_EQ(found, fRoot + "/home/Applications/Editor.app/");
	ASSERT_TRUE(plat::SearchApplicationBundle("Viewer.APP", folders, found));
	EXPECT_EQ(found, fRoot + "/apps/Viewer.APP/");
	EXPECT_FALSE(plat::SearchApplicationBundle("Missing", folders, found));
}

}  // namespace
