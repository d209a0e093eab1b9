#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "updater/VProcessLauncher.h"
#include "updater/mac/XPosixProcessLauncher.h"

namespace velk::test {

namespace {

std::string Repeated(const std::string& unit, size_t totalSize)
{
	std::string text;
	while (text.size() < totalSize)
		text += unit;
	return text;
}

std::string Text(const VMemoryBuffer<>& buffer)
{
	return std::string(reinterpret_cast<const char*>(buffer.GetDataPtr()), size_t(buffer.GetDataSize()));
}

// Alive and not a zombie.
bool IsAlive(int pid)
{
	std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
	std::string line;
	if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
		return false;
	const char state = line[line.rfind(')') + 2];
	return state != 'Z' && state != 'X';
}

// The child's pid is collected by nobody else: waitpid finds no such child.
bool IsCollected(int pid)
{
	return ::waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

constexpr size_t kMEBIBYTE = 1048576;

}  // namespace

class VProcessLauncherTest : public VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		VProcessLauncher::UnregisterSystemCommand(VString("true"));
		VProcessLauncher::UnregisterSystemCommand(VString("velk-opener"));
		VTemporaryFolderTest::TearDown();
	}

	void WriteScript(const std::string& name, const std::string& body, mode_t mode) const
	{
		Write(name, "#!/bin/sh\n" + body + "\n");
		ASSERT_EQ(::chmod((fRoot + name).c_str(), mode), 0);
	}
};

TEST(VProcessLauncherSplitTest, SplitsLikeAShell)
{
	struct Row
	{
		const char* commandLine;
		std::vector<std::string> pieces;
	};
	const Row rows[] = {
		{"open -a \"/Applications/My App.app\" --args", {"open", "-a", "/Applications/My App.app", "--args"}},
		{"echo \"say \\\"hi\\\" now\"", {"echo", "say \"hi\" now"}},
		{"cat My\\ File.txt", {"cat", "My File.txt"}},
		{"echo 'one two' three", {"echo", "one two", "three"}},
		{"   a    b   ", {"a", "b"}},
		{"a\"b\"c", {"a\"b\"c"}},
		{"tail\\", {"tail"}},
		{"\"unterminated here", {"unterminated here"}},
		{"", {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.commandLine);
		std::vector<std::string> pieces {"stale"};
		EXPECT_EQ(XPosixProcessLauncher::SplitCommandLine(row.commandLine, pieces), row.pieces.size());
		EXPECT_EQ(pieces, row.pieces);
		VProcessLauncher launcher;
		EXPECT_EQ(launcher.CreateArgumentsFromFullCommandLine(VString(row.commandLine)), int32(row.pieces.size()));
	}
}

TEST_F(VProcessLauncherTest, RunsCommandLines)
{
	WriteScript("mine", "exit 7", 0755);
	VProcessLauncher::RegisterSystemCommand(VString("true"), VString((fRoot + "mine").c_str()));
	VProcessLauncher::RegisterSystemCommand(VString("velk-opener"), VString((fRoot + "missing").c_str()));
	WriteScript("velk-plain", "exit 0", 0644);
	WriteScript("velk-script", "exit 0", 0755);
	const std::string halfA = Repeated("a\n", kMEBIBYTE);
	const std::string halfB = Repeated("b\n", kMEBIBYTE);
	const std::string input = Repeated("0123456789abcdef", kMEBIBYTE);

	struct Row
	{
		const char* name;
		std::string commandLine;
		std::string input;
		VError result;
		int32 exitStatus;
		std::function<void(const std::string& output, const std::string& errors)> check;
	};
	const Row rows[] = {
		{"exit code", "/bin/sh -c \"exit 1\"", "", VE_OK, 1, nullptr},
		{"killed by a signal", "/bin/sh -c \"kill -9 $$\"", "", VE_OK, -127, nullptr},
		// Errors first: reading the output to its end before the errors would never end.
		{"a mebibyte on each stream", "/bin/sh -c \"yes b | head -c 1048576 >&2; yes a | head -c 1048576\"", "",
			VE_OK, 0,
			[&](const std::string& output, const std::string& errors) {
				EXPECT_TRUE(output == halfA) << output.size();
				EXPECT_TRUE(errors == halfB) << errors.size();
			}},
		// More than a pipe holds comes back while it is still being fed.
		{"input echoed", "/bin/cat", input, VE_OK, 0,
			[&](const std::string& output, const std::string&) { EXPECT_TRUE(output == input) << output.size(); }},
		{"only the standard descriptors", "/bin/sh -c \"ls /proc/$$/fd\"", "", VE_OK, 0,
			[](const std::string& output, const std::string&) { EXPECT_EQ(output, "0\n1\n2\n"); }},
		// The child's early end neither blocks the feeding nor kills this process with SIGPIPE.
		{"input not read", "/bin/sh -c \"exit 5\"", input, VE_OK, 5, nullptr},
		{"own process group", "/bin/sh -c \"read pid comm state ppid group rest < /proc/$$/stat; echo $pid $group\"",
			"", VE_OK, 0,
			[](const std::string& output, const std::string&) {
				const size_t space = output.find(' ');
				ASSERT_NE(space, std::string::npos);
				EXPECT_EQ(output.substr(0, space) + "\n", output.substr(space + 1));
				EXPECT_NE(std::stoi(output.substr(0, space)), int(::getpgrp()));
			}},
		{"bare name through PATH", "sh -c \"exit 3\"", "", VE_OK, 3, nullptr},
		{"registered command before PATH", "true", "", VE_OK, 7, nullptr},
		{"registered command missing", "velk-opener -a x", "", MakePosixError(ENOENT), 0, nullptr},
		{"current folder file not executable", "velk-plain", "", MakePosixError(ENOENT), 0, nullptr},
		{"current folder script not on PATH", "velk-script", "", MakePosixError(ENOENT), 0, nullptr},
	};

	const std::filesystem::path previousFolder = std::filesystem::current_path();
	std::filesystem::current_path(fRoot);
	// A descriptor this process lets its children inherit: the child must not get it.
	const int inherited = ::open("/dev/null", O_RDONLY);
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VMemoryBuffer<> standardInput;
		EXPECT_TRUE(standardInput.AddData(row.input.data(), row.input.size()));
		VMemoryBuffer<> output;
		VMemoryBuffer<> errors;
		int32 exitStatus = -1;
		const VError result = VProcessLauncher::ExecuteCommandLine(VString(row.commandLine.c_str()), 0,
			&standardInput, &output, &errors, nullptr, nullptr, &exitStatus, nullptr, nullptr, true, false);
		EXPECT_EQ(result, row.result);
		EXPECT_EQ(exitStatus, row.exitStatus);
		if (row.check)
			row.check(Text(output), Text(errors));
		VTask::FlushErrors();
	}
	::close(inherited);
	std::filesystem::current_path(previousFolder);
}

TEST_F(VProcessLauncherTest, HandsBackARunningChildWithoutWaiting)
{
	VMemoryBuffer<> output;
	VProcessLauncher* launcher = nullptr;
	int32 exitStatus = -1;
	const std::vector<VString> extra {VString("ignored")};
	ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString("/bin/sh -c \"echo early; exec sleep 30\""),
				  VProcessLauncher::kDONT_WAIT_AND_CAPTURE, nullptr, &output, nullptr, nullptr, nullptr, &exitStatus,
				  &launcher, &extra, true, false),
		VE_OK);
	ASSERT_NE(launcher, nullptr);
	EXPECT_EQ(output.GetDataSize(), 0u);
	EXPECT_TRUE(launcher->IsRunning());
	const int32 pid = launcher->GetPid();
	// The early line can be read through the launcher itself.
	char line[16] = {};
	while ((launcher->WaitForData() & 1) == 0)
		;
	EXPECT_EQ(launcher->ReadFromChild(line, sizeof(line)), 6);
	EXPECT_STREQ(line, "early\n");
	EXPECT_EQ(launcher->Shutdown(true, false), 0);
	EXPECT_FALSE(launcher->IsRunning());
	EXPECT_TRUE(IsCollected(pid));
	delete launcher;

	// Refused: 0 and negative ids name process groups, this one's own among them.
	EXPECT_FALSE(VProcessLauncher::KillProcess(0));
	EXPECT_FALSE(VProcessLauncher::KillProcess(-1));
}

TEST_F(VProcessLauncherTest, CollectsChildrenLeftRunning)
{
	VProcessLauncher launcher;
	launcher.SetWaitClosingChildProcess(0);
	launcher.CreateArgumentsFromFullCommandLine(VString("/bin/sh -c \"exec sleep 30\""));
	ASSERT_EQ(launcher.Start(), 0);
	const int32 pid = launcher.GetPid();
	EXPECT_EQ(launcher.Shutdown(false, false), 0);
	EXPECT_FALSE(launcher.IsRunning());
	ASSERT_EQ(::kill(pid, SIGKILL), 0);
	while (IsAlive(pid))
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_FALSE(IsCollected(pid));
	// The next start collects it.
	int32 exitStatus = -1;
	EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString("/bin/sh -c true"), 0, nullptr, nullptr, nullptr, nullptr,
				  nullptr, &exitStatus, nullptr, nullptr, true, false),
		VE_OK);
	EXPECT_TRUE(IsCollected(pid));
}

TEST_F(VProcessLauncherTest, EndsAChildThatIgnoresTerminate)
{
	const std::string mark = fRoot + "terminated";
	VProcessLauncher launcher;
	launcher.SetWaitClosingChildProcess(0);
	launcher.CreateArgumentsFromFullCommandLine(VString(("/bin/sh -c \"ulimit -c 0; trap 'echo TERM >> " + mark
		+ "' TERM; echo ready; while :; do sleep 0.1; done\"").c_str()));
	ASSERT_EQ(launcher.Start(), 0);
	const int32 pid = launcher.GetPid();
	std::string seen;
	while (seen.find("ready") == std::string::npos)
	{
		ASSERT_NE(launcher.WaitForData(), 0);
		char block[64];
		const int32 count = launcher.ReadFromChild(block, sizeof(block));
		ASSERT_GE(count, 0);
		seen.append(block, size_t(count));
	}
	EXPECT_EQ(launcher.Shutdown(true, false), 0);
	EXPECT_EQ(Read("terminated"), "TERM\n");
	EXPECT_FALSE(launcher.IsRunning());
	EXPECT_EQ(launcher.GetExitStatus(), 0);
	EXPECT_TRUE(IsCollected(pid));
}

TEST_F(VProcessLauncherTest, WaitLimitKillsTheChild)
{
	VProcessLauncher launcher;
	launcher.SetWaitClosingChildProcess(200);
	launcher.CreateArgumentsFromFullCommandLine(VString("/bin/sh -c \"exec sleep 30\""));
	ASSERT_EQ(launcher.Start(), 0);
	const int32 pid = launcher.GetPid();
	EXPECT_EQ(launcher.Shutdown(false, false), -1);
	EXPECT_EQ(VTask::GetLastError(), VE_TIMEOUT);
	EXPECT_EQ(launcher.GetExitStatus(), -127);
	EXPECT_TRUE(IsCollected(pid));
}

TEST_F(VProcessLauncherTest, WaitLimitSparesTheGroupOnceTheChildEnded)
{
	// The child ends at once, leaving a process of its group behind; a limit still counting would kill it.
	VProcessLauncher launcher;
	// A limit long enough for a loaded machine to start the shell, waited past afterwards.
	launcher.SetWaitClosingChildProcess(1000);
	launcher.CreateArgumentsFromFullCommandLine(VString("/bin/sh -c \"sleep 30 >/dev/null 2>&1 & echo $!\""));
	ASSERT_EQ(launcher.Start(), 0);
	VMemoryBuffer<> output;
	EXPECT_EQ(launcher.ReadStd(&output, nullptr), VE_OK);
	ASSERT_EQ(launcher.Shutdown(false, false), 0);
	const int survivor = std::atoi(Text(output).c_str());
	ASSERT_GT(survivor, 1) << Text(output);
	std::this_thread::sleep_for(std::chrono::milliseconds(1300));
	EXPECT_TRUE(IsAlive(survivor));
	::kill(survivor, SIGKILL);
}

TEST_F(VProcessLauncherTest, ProcessTreeKillEndsTheGroup)
{
	VMemoryBuffer<> output;
	int32 exitStatus = -1;
	ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString("/bin/sh -c \"sleep 30 >/dev/null 2>&1 & echo $!\""), 0,
				  nullptr, &output, nullptr, nullptr, nullptr, &exitStatus, nullptr, nullptr, true, true),
		VE_OK);
	EXPECT_EQ(exitStatus, 0);
	const int left = std::stoi(Text(output));
	// SIGKILL was sent before the call returned; only the bound keeps a failure from hanging.
	for (int attempt = 0; attempt < 1000 && IsAlive(left); ++attempt)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_FALSE(IsAlive(left));
	::kill(left, SIGKILL);
}

TEST_F(VProcessLauncherTest, ReadsBothStreamsAsynchronously)
{
	std::string output;
	std::string errors;
	VProcessLauncher launcher;
	launcher.CreateArgumentsFromFullCommandLine(VString("/bin/sh -c \"echo out; echo err >&2; exit 4\""));
	ASSERT_EQ(launcher.Start(), 0);
	EXPECT_EQ(launcher.ReadFromChildAndShutdown(
				  [&output](const void* bytes, size_t length) { output.append(static_cast<const char*>(bytes), length); },
				  [&errors](const void* bytes, size_t length) { errors.append(static_cast<const char*>(bytes), length); }),
		0);
	EXPECT_EQ(output, "out\n");
	EXPECT_EQ(errors, "err\n");
	EXPECT_EQ(launcher.GetExitStatus(), 4);
}

TEST_F(VProcessLauncherTest, WaitsForDataOnDescriptorsPast1024)
{
	rlimit limit {};
	ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
	const rlimit saved = limit;
	if (limit.rlim_max < 1200)
		GTEST_SKIP() << "too few descriptors allowed";
	limit.rlim_cur = 1200;
	ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
	std::vector<int> filler;
	int fd;
	do
	{
		fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
		if (fd >= 0)
			filler.push_back(fd);
	} while (fd >= 0 && fd < 1030);
	{
		VProcessLauncher launcher;
		launcher.CreateArgumentsFromFullCommandLine(VString("/bin/sh -c \"echo late >&2\""));
		ASSERT_EQ(launcher.Start(), 0);
		EXPECT_NE(launcher.WaitForData() & 2, 0);
		char block[8] = {};
		EXPECT_EQ(launcher.ReadErrorFromChild(block, sizeof(block) - 1), 5);
		EXPECT_EQ(launcher.Shutdown(false, false), 0);
	}
	for (int opened : filler)
		::close(opened);
	::setrlimit(RLIMIT_NOFILE, &saved);
}

// A start that fails answers the system's code and pushes nothing: its caller tells what failed, and an
// error made here would stand beside the caller's own.
TEST_F(VProcessLauncherTest, AFailedStartPushesNothing)
{
	WriteScript("plain", "exit 0", 0644);
	struct Row
	{
		const char* name;
		std::string binary;
		int errorNumber;
	};
	const Row rows[] = {
		{"missing program found nowhere", "velk-no-such-program", ENOENT},
		{"missing absolute program", fRoot + "missing", ENOENT},
		{"program that may not run", fRoot + "plain", EACCES},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		StErrorContextInstaller scope(false, true);
		VProcessLauncher launcher;
		launcher.SetBinaryPath(VString(row.binary.c_str()));
		launcher.AddArgument(VString(row.binary.c_str()));
		EXPECT_EQ(launcher.Start(), row.errorNumber);
		int32 exitStatus = -1;
		EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString(row.binary.c_str()), 0, nullptr, nullptr, nullptr, nullptr,
					  nullptr, &exitStatus, nullptr, nullptr, true, false),
			MakePosixError(row.errorNumber));
		EXPECT_EQ(exitStatus, 0);
		EXPECT_TRUE(scope.GetContext()->GetErrors().empty());
		EXPECT_EQ(scope.GetLastError(), VE_OK);
	}
}

}  // namespace velk::test
