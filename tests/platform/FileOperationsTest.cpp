// Whole-content writes as a user relies on them: refused where a plain write is, seen under every name of a
// file with several, durable once done, and clearing what stopped writers left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/VChildProcess.h"
#include "platform/FileOperations.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::string ReadFile(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
	std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The names of the hidden siblings a write makes, in folder.
std::vector<std::string> Siblings(const std::string& folder)
{
	std::vector<std::string> names;
	for (const fs::directory_entry& entry : fs::directory_iterator(folder))
	{
		const std::string name = entry.path().filename().string();
		if (name.rfind(".velk-write-", 0) == 0)
			names.push_back(name);
	}
	return names;
}

// A process id that ran and no longer does.
pid_t DeadProcess()
{
	const pid_t child = fork();
	if (child == 0)
		_exit(0);
	int status = 0;
	waitpid(child, &status, 0);
	return child;
}

class FileOperationsTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-write-test-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
	}

	void TearDown() override
	{
		plat::SetWriteFaultForTesting(plat::WriteStep::kNone, 0);
		std::error_code error;
		fs::remove_all(fRoot, error);
	}

	std::string fRoot;  // without a final '/'
};

// The whole-content write of path by a child process that runs as nobody: the errno it answered.
int ReplaceAsNobody(const std::string& path, const std::string& bytes)
{
	const pid_t child = fork();
	if (child == 0)
	{
		const bool dropped = setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
		_exit(!dropped ? 255 : plat::ReplaceFileContent(path.c_str(), bytes.data(), bytes.size()));
	}
	int status = 0;
	if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
		return -1;
	return WEXITSTATUS(status);
}

TEST_F(FileOperationsTest, WriteIsRefusedWhereAPlainWriteIs)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to act as nobody and to give files to others";
	// A folder that nobody may write, so that only the file's own rights can refuse.
	ASSERT_EQ(chmod(fRoot.c_str(), 0755), 0);
	ASSERT_EQ(chown(fRoot.c_str(), kNobody, kNobody), 0);
	struct Row
	{
		const char* name;
		uid_t owner;
		mode_t mode;
		int names;  // hard links
		int expected;
	};
	const Row rows[] = {
		{"nobody's own read-only file", kNobody, 0444, 1, EACCES},
		{"nobody's own read-only file with two names", kNobody, 0444, 2, EACCES},
		{"another user's private file", 0, 0600, 1, EACCES},
		{"another user's file that others only read", 0, 0644, 1, EACCES},
		{"nobody's own writable file", kNobody, 0644, 1, 0},
		{"another user's file that anyone may write", 0, 0666, 1, 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		const std::string path = fRoot + "/data.txt";
		const std::string twin = fRoot + "/twin.txt";
		fs::remove(path);
		fs::remove(twin);
		WriteFile(path, "old");
		if (row.names > 1)
		{
			ASSERT_EQ(link(path.c_str(), twin.c_str()), 0);
		}
		ASSERT_EQ(chown(path.c_str(), row.owner, row.owner), 0);
		ASSERT_EQ(chmod(path.c_str(), row.mode), 0);

		EXPECT_EQ(ReplaceAsNobody(path, "new"), row.expected);
		EXPECT_EQ(ReadFile(path), row.expected == 0 ? "new" : "old");
		struct stat status;
		ASSERT_EQ(stat(path.c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, row.mode);
		if (row.expected != 0)
		{
			// Refused: still the owner's, with all its names.
			EXPECT_EQ(status.st_uid, row.owner);
			EXPECT_EQ(status.st_nlink, nlink_t(row.names));
		}
		EXPECT_TRUE(Siblings(fRoot).empty());
	}
}

TEST_F(FileOperationsTest, FileWithSeveralNamesIsWrittenUnderEveryName)
{
	const std::string first = fRoot + "/first.txt";
	const std::vector<std::string> names = {first, fRoot + "/second.txt", fRoot + "/sub/third.txt"};
	struct Row
	{
		const char* name;
		const char* writtenThrough;  // inside the folder
		plat::WriteStep fault;
		int errorNumber;
		size_t formerSize;
	};
	const Row rows[] = {
		{"through one of its names", "/second.txt", plat::WriteStep::kNone, 0, 10},
		{"through a symbolic link to one", "/link", plat::WriteStep::kNone, 0, 10},
		{"over a former content larger than the new", "/first.txt", plat::WriteStep::kNone, 0, 300000},
		// The former content is copied aside in pieces and put back whole.
		{"disk full while writing", "/sub/third.txt", plat::WriteStep::kWrite, ENOSPC, 300000},
		{"no room for the copy of the former content", "/first.txt", plat::WriteStep::kCreate, EDQUOT, 10},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "/sub");
		for (const char* name : {"/first.txt", "/second.txt", "/link"})
			fs::remove(fRoot + name);
		fs::create_directories(fRoot + "/sub");
		std::string former(row.formerSize, 'o');
		for (size_t i = 0; i < former.size(); i += 4096)
			former[i] = char('a' + i / 4096 % 26);
		WriteFile(first, former);
		ASSERT_EQ(chmod(first.c_str(), 0640), 0);
		for (size_t i = 1; i < names.size(); ++i)
			ASSERT_EQ(link(first.c_str(), names[i].c_str()), 0);
		ASSERT_EQ(symlink("second.txt", (fRoot + "/link").c_str()), 0);
		struct stat before;
		ASSERT_EQ(stat(first.c_str(), &before), 0);

		plat::SetWriteFaultForTesting(row.fault, row.errorNumber);
		const std::string written = "new content";
		EXPECT_EQ(plat::ReplaceFileContent((fRoot + row.writtenThrough).c_str(), written.data(), written.size()), row.errorNumber);
		plat::SetWriteFaultForTesting(plat::WriteStep::kNone, 0);

		for (const std::string& name : names)
		{
			SCOPED_TRACE(name);
			// Compared whole, not printed: the former content is long.
			EXPECT_TRUE(ReadFile(name) == (row.errorNumber == 0 ? written : former));
			struct stat after;
			ASSERT_EQ(stat(name.c_str(), &after), 0);
			EXPECT_EQ(after.st_ino, before.st_ino);
			EXPECT_EQ(after.st_nlink, 3u);
			EXPECT_EQ(after.st_mode & 07777, 0640u);
		}
		EXPECT_TRUE(Siblings(fRoot).empty());
		EXPECT_TRUE(Siblings(fRoot + "/sub").empty());
	}
}

// Siblings that writers stopped midway left (a kill, a power loss) go before the next write beside them,
// only when they are this user's plain files and their writer no longer runs.
TEST_F(FileOperationsTest, StaleSiblingsOfStoppedWritersAreRemoved)
{
	const std::string dead = std::to_string(DeadProcess());
	const std::string self = std::to_string(getpid());
	fs::create_directories(fRoot + "/other");
	struct Row
	{
		std::string name;
		enum { kFile, kFolder, kNobodys } kind;
		bool removed;
	};
	const std::vector<Row> rows = {
		{".velk-write-" + dead + "-0", Row::kFile, true},
		{".velk-write-" + dead + "-17", Row::kFile, true},
		{".velk-write-" + self + "-900", Row::kFile, false},  // a write of this process under way
		{".velk-write-1-0", Row::kFile, false},  // a running process
		{".velk-write-" + dead + "-1", Row::kNobodys, false},
		{".velk-write-" + dead + "-2", Row::kFolder, false},
		{".velk-write-" + dead, Row::kFile, false},
		{".velk-write-" + dead + "-x", Row::kFile, false},
		{".velk-write--" + dead + "-0", Row::kFile, false},
		{"velk-write-" + dead + "-0", Row::kFile, false},
		{"other/.velk-write-" + dead + "-0", Row::kFile, false},  // not beside the file written
	};
	for (const Row& row : rows)
	{
		const std::string path = fRoot + "/" + row.name;
		if (row.kind == Row::kFolder)
			fs::create_directories(path);
		else
			WriteFile(path, "left");
		if (row.kind == Row::kNobodys && chown(path.c_str(), kNobody, kNobody) != 0)
			fs::remove(path);  // no other user to give it to: that row checks nothing
	}

	ASSERT_EQ(plat::ReplaceFileContent((fRoot + "/data.txt").c_str(), "new", 3), 0);
	EXPECT_EQ(ReadFile(fRoot + "/data.txt"), "new");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		if (row.kind == Row::kNobodys && geteuid() != 0)
			continue;
		EXPECT_EQ(fs::exists(fs::symlink_status(fRoot + "/" + row.name)), !row.removed);
	}
}

// The rename that puts the new content in place is followed by a flush of the folder, without which a
// power loss could bring back the former content (or a missing file) after the write answered success.
TEST_F(FileOperationsTest, CompletedWriteFlushesItsFolder)
{
	if (access("/usr/bin/strace", X_OK) != 0)
		GTEST_SKIP() << "no strace";
	const std::string path = fRoot + "/data.txt";
	WriteFile(path, "old");
	int go[2];
	ASSERT_EQ(pipe(go), 0);
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0)
	{
		close(go[1]);
		char byte = 0;
		while (read(go[0], &byte, 1) < 0 && errno == EINTR)
		{
		}
		_exit(plat::ReplaceFileContent(path.c_str(), "new", 3));
	}
	close(go[0]);
	const std::string trace = fRoot + "/trace.txt";
	velk::test::VChildProcess tracer("/usr/bin/strace", {"-qq", "-y", "-o", trace, "-e", "trace=rename,renameat,renameat2,fsync,fdatasync",
		"-p", std::to_string(child)});
	const bool started = tracer.Start();
	// Released once the tracer holds it, so that the whole write is traced.
	bool traced = false;
	for (int waited = 0; started && !traced && waited < 10000; waited += 10)
	{
		std::ifstream status("/proc/" + std::to_string(child) + "/status");
		for (std::string line; std::getline(status, line);)
		{
			if (line.rfind("TracerPid:", 0) == 0)
				traced = std::stoi(line.substr(10)) != 0;
		}
		if (!traced)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	if (!traced)
		kill(child, SIGKILL);
	else
		EXPECT_EQ(write(go[1], "x", 1), 1);
	close(go[1]);
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	tracer.Wait(10000);
	if (!traced)
		GTEST_SKIP() << "tracing is refused here: " << tracer.GetErrors();
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0);
	EXPECT_EQ(ReadFile(path), "new");

	std::vector<std::string> calls;
	std::istringstream text(ReadFile(trace));
	for (std::string line; std::getline(text, line);)
		calls.push_back(line);
	size_t renamed = calls.size();
	size_t flushed = calls.size();
	for (size_t i = 0; i < calls.size(); ++i)
	{
		if (renamed == calls.size() && calls[i].find("rename") == 0 && calls[i].find("\"" + path + "\"") != std::string::npos)
			renamed = i;
		else if (renamed < i && calls[i].find("fsync(") == 0 && calls[i].find("<" + fRoot + ">") != std::string::npos)
			flushed = i;
	}
	std::string joined;
	for (const std::string& call : calls)
		joined += call + "\n";
	ASSERT_LT(renamed, calls.size()) << joined;
	EXPECT_LT(flushed, calls.size()) << "no flush of the folder after the rename\n" << joined;
}

}  // namespace
