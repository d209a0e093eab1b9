// What the bundles hold as the updater's test build meets them: an up-to-date bundle as its caller has just
// unpacked it (flushed before the updater reads it; empty files kept, but an empty executable or one that no
// system could start refused before anything moves), and an old bundle that the updater's user may not
// delete, whose leftovers the log counts.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr uid_t kNobody = 65534;

void PutFile(const std::string& path, const std::string& bytes)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream(path, std::ios::binary) << bytes;
}

// The entries of a tree, its root included, as the updater counts what it left.
long CountEntries(const std::string& root)
{
	long count = 1;
	for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
		++count;
	return count;
}

// Whether a traced call opens an entry inside the folder, by its full path or relative to a descriptor of
// the folder or of a folder inside it (strace -y shows "<path>" after a descriptor).
bool OpensInside(const std::string& call, const std::string& folder)
{
	const size_t open = call.find("open");
	if (open == std::string::npos)
		return false;
	const size_t parenthesis = call.find('(', open);
	if (parenthesis == std::string::npos)
		return false;
	size_t at = parenthesis + 1;
	while (at < call.size() && std::isdigit(static_cast<unsigned char>(call[at])))
		++at;
	const std::string descriptor = "<" + folder;
	if (at > parenthesis + 1 && call.compare(at, descriptor.size(), descriptor) == 0)
	{
		const char next = at + descriptor.size() < call.size() ? call[at + descriptor.size()] : '\0';
		if (next == '/' || next == '>')
			return true;
	}
	return call.find("\"" + folder + "/", parenthesis) != std::string::npos;
}

}  // namespace

class VUpdaterBundleContentsTest : public test::VUpdaterFaultsFixture
{
protected:
	struct Executable
	{
		const char* fName;
		std::string fProgram;  // the executable's bytes, unless fCopyOf names a program to copy
		const char* fCopyOf;
		mode_t fMode;
		bool fClientInfo;
		bool fEmptyResources;  // zero-length files beside it
		int fExit;
	};

	// Each case in a scene of its own, the caller asking for the progress line. Refused: exit 2 with the
	// executable's path logged, the caller never told, the installed bundle as it was and nothing started.
	// Accepted: exit 0, the place holding the up-to-date tree as it was received.
	void ExpectExecutables(const std::vector<Executable>& cases)
	{
		const std::string refused = "[16] The program of the new version of the application, '";
		int index = 0;
		for (const Executable& c : cases)
		{
			SCOPED_TRACE(c.fName);
			MakeScene(fRoot + "exe" + std::to_string(++index) + "/");
			if (HasFatalFailure())
				return;
			if (c.fCopyOf != nullptr)
				fs::copy_file(c.fCopyOf, Program(), fs::copy_options::overwrite_existing);
			else
				PutFile(Program(), c.fProgram);
			ASSERT_EQ(::chmod(Program().c_str(), c.fMode), 0);
			if (c.fEmptyResources)
			{
				PutFile(fNew + "/Contents/PkgInfo", "");
				PutFile(fNew + "/Contents/Resources/Empty/none.txt", "");
			}
			TakeTrees();
			std::vector<std::string> extra{"--caller-log", "yes"};
			if (c.fClientInfo)
				extra.insert(extra.end(), {"--client-info", fScene + "samples/client.json"});

			const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(extra), Environment(), kRunBound);
			const std::vector<std::string> lines = LogLines(fScene + "logs");
			EXPECT_TRUE(EndedAs(run.fStatus, c.fExit)) << Ending(run.fStatus) << "\n" << Joined(lines);
			if (c.fExit == 0)
			{
				EXPECT_EQ(Tree(fOld), fNewTree);
				ExpectNoLeftovers();
				continue;
			}
			EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"), {"The up-to-date application's executable " + Program() +
				" is missing or cannot be run", "Update failed - ", refused + Program() + "', is missing or cannot be started."}, true))
				<< Joined(lines);
			EXPECT_EQ(run.fOutput, "");
			if (!c.fClientInfo)
				ExpectNothingLost(kOldTree);
			EXPECT_EQ(Tree(fOld), fOldTree);
			ExpectNoLeftovers();
			EXPECT_EQ(CountRelaunches(), 0);
		}
	}

	std::string Program() const { return fNew + "/Contents/MacOS/Sample"; }
};

// Up-to-date executables that no system could start: an empty file (what a power loss leaves of one never
// flushed), text that is no script, a foreign program, headers cut short; refused with their path before the
// caller is told, even once the client customization has made them executable.
TEST_F(VUpdaterBundleContentsTest, ExecutablesNoSystemCanStartAreRefused)
{
	ExpectExecutables({
		{"an empty executable among empty files", "", nullptr, 0755, false, true, 2},
		{"an empty executable the customization makes executable", "", nullptr, 0644, true, false, 2},
		{"text that is no script", "echo version 2.0\n", nullptr, 0755, false, false, 2},
		{"one byte of a script header", "#", nullptr, 0755, false, false, 2},
		{"a foreign program", std::string("MZ\x90\0\3\0\0\0", 8), nullptr, 0755, false, false, 2},
		{"an ELF header cut short", "\x7f" "EL", nullptr, 0755, false, false, 2},
	});
}

// An ELF program or a script is installed; empty files other than the executable may be meant to be empty,
// and arrive as they are.
TEST_F(VUpdaterBundleContentsTest, ProgramsAndEmptyFilesAreInstalledAsReceived)
{
	ExpectExecutables({
		{"an ELF program", "", "/bin/true", 0755, false, false, 0},
		{"a script among empty files", "#!/bin/sh\nexit 0\n", nullptr, 0755, false, true, 0},
	});
}

// The up-to-date bundle's file system is flushed before the updater reads anything inside the bundle, the
// client customization's reads and writes included, as the system calls show them.
TEST_F(VUpdaterBundleContentsTest, UpToDateBundleIsFlushedBeforeItIsRead)
{
	if (::access("/usr/bin/strace", X_OK) != 0)
		GTEST_SKIP() << "no strace";
	MakeScene(fRoot);
	const std::string trace = fRoot + "trace.txt";
	std::vector<std::string> arguments{"-f", "-qq", "-y", "-o", trace, "-e", "trace=syncfs,open,openat,openat2", TestingUpdater()};
	for (const std::string& argument : Arguments({"--client-info", fRoot + "samples/client.json"}))
		arguments.push_back(argument);
	// The leak checker traces the process itself, which a traced process cannot allow.
	const test::VChildRun run = test::RunChild("/usr/bin/strace", arguments,
		Environment({"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1"}), kRunBound);
	std::vector<std::string> calls;
	std::istringstream text(ReadWhole(trace));
	for (std::string line; std::getline(text, line);)
		calls.push_back(line);
	if (calls.empty())
		GTEST_SKIP() << "tracing is refused here: " << run.fErrors;
	EXPECT_TRUE(EndedAs(run.fStatus, 0)) << Ending(run.fStatus) << "\n" << run.fErrors << Joined(LogLines(fRoot + "logs"));

	const std::string flush = "<" + fNew + ">";
	size_t flushed = calls.size();
	size_t firstRead = calls.size();
	for (size_t i = 0; i < calls.size(); ++i)
	{
		if (flushed == calls.size() && calls[i].find("syncfs(") != std::string::npos && calls[i].find(flush) != std::string::npos)
			flushed = i;
		if (firstRead == calls.size() && OpensInside(calls[i], fNew))
			firstRead = i;
	}
	ASSERT_LT(flushed, calls.size()) << "no flush of " << fNew << "\n" << Joined(calls);
	ASSERT_LT(firstRead, calls.size()) << Joined(calls);
	EXPECT_LT(flushed, firstRead) << calls[firstRead];
	// The customization wrote its link file, after the flush.
	EXPECT_TRUE(fs::is_regular_file(fOld + "/Contents/Database/RiduzovOduziz.Rylink"));
}

// An old bundle holding a folder that belongs to root, the scene given to nobody, with no usable Trash.
class VUpdaterOwnedOldBundleTest : public VUpdaterBundleContentsTest
{
protected:
	static constexpr const char* kLocked = "Contents/Frameworks/Kit.framework/Versions/A/Resources/Owned";

	void SetUp() override
	{
		VUpdaterBundleContentsTest::SetUp();
		if (::geteuid() != 0)
			GTEST_SKIP() << "needs root to give a folder to root and run the updater as another user";
		if (::access("/usr/bin/setpriv", X_OK) != 0)
			GTEST_SKIP() << "no setpriv";
		MakeScene(fRoot);
		PutFile(fOld + "/" + kLocked + "/kept.txt", "root's own");
		PutFile(fRoot + "data/Trash", "a file where the Trash should be");
		for (auto it = fs::recursive_directory_iterator(fRoot); it != fs::recursive_directory_iterator(); ++it)
			ASSERT_EQ(::lchown(it->path().c_str(), kNobody, kNobody), 0) << it->path() << ": " << std::strerror(errno);
		ASSERT_EQ(::lchown(fRoot.c_str(), kNobody, kNobody), 0);
		ASSERT_EQ(::lchown((fOld + "/" + kLocked).c_str(), 0, 0), 0);
		ASSERT_EQ(::lchown((fOld + "/" + kLocked + "/kept.txt").c_str(), 0, 0), 0);
		TakeTrees();
	}

	test::VChildRun RunAsNobody(const std::vector<std::string>& faults = {}) const
	{
		std::vector<std::string> arguments{"--reuid=65534", "--regid=65534", "--clear-groups", TestingUpdater()};
		for (const std::string& argument : Arguments())
			arguments.push_back(argument);
		return test::RunChild("/usr/bin/setpriv", arguments, Environment(faults), kRunBound);
	}

	// The old bundle, with root's folder, stays at its temporary name and the log counts what is left there
	// before the run's failing end.
	void ExpectOldBundleCounted(const std::string& before)
	{
		const std::string aside = fRoot + "samples/v1/Sample_old0001.app";
		ASSERT_EQ(ReadWhole(aside + "/" + kLocked + "/kept.txt"), "root's own");
		const std::string left = std::to_string(CountEntries(aside));
		EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {before,
			"The old application could not be removed: " + left + " entries are left at " + aside + "/", "Update failed - "}, true))
			<< Joined(LogLines(fRoot + "logs"));
		EXPECT_EQ(ReadWhole(fRoot + "data/Trash"), "a file where the Trash should be");
	}
};

// The new version runs, and the run fails as for any old bundle that could not be removed.
TEST_F(VUpdaterOwnedOldBundleTest, OldBundleThatTheUserMayNotDelete)
{
	const test::VChildRun run = RunAsNobody();
	EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << run.fErrors << Joined(LogLines(fRoot + "logs"));
	EXPECT_EQ(Tree(fOld), fNewTree);
	EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fRoot + "record.txt");
	ExpectOldBundleCounted("Up-to-date application restarted");
}

// Killed at its Trash step, then run again: recovery names what it cannot remove and clears its record, the
// update runs, and the run fails as the first would have; a third run then finds nothing to recover.
TEST_F(VUpdaterOwnedOldBundleTest, OldBundleLeftByAKilledRunThatTheUserMayNotDelete)
{
	// The killed run meets a Trash it could use; the next one finds none.
	fs::remove(fRoot + "data/Trash");
	const test::VChildRun killed = RunAsNobody({"VELK_TEST_KILL_AT=trash:Sample_old0001.app"});
	ASSERT_TRUE(WIFSIGNALED(killed.fStatus)) << Ending(killed.fStatus) << "\n" << killed.fErrors;
	fs::remove_all(fRoot + "data/Trash");
	PutFile(fRoot + "data/Trash", "a file where the Trash should be");

	const test::VChildRun again = RunAsNobody();
	EXPECT_TRUE(EndedAs(again.fStatus, 2)) << Ending(again.fStatus) << "\n" << again.fErrors << Joined(LogLines(fRoot + "logs"));
	EXPECT_EQ(Tree(fOld), fNewTree);
	ExpectOldBundleCounted("Recovering the update interrupted in process");
	EXPECT_FALSE(fs::exists(fRoot + "samples/v1/.Sample.app.velk-update"));

	// Without a usable Trash that run fails too, but it recovers nothing and refuses nothing.
	const test::VChildRun third = RunAsNobody();
	EXPECT_TRUE(EndedAs(third.fStatus, 2)) << Ending(third.fStatus) << "\n" << third.fErrors;
	EXPECT_EQ(Tree(fOld), fNewTree);
	const std::vector<std::string> messages = LogMessages(fRoot + "logs");
	const auto starting = [&](const std::string& text) {
		return std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.rfind(text, 0) == 0; });
	};
	EXPECT_EQ(starting("Recovering the update interrupted"), 1) << Joined(messages);
	EXPECT_EQ(starting("The interrupted update could not be recovered"), 0) << Joined(messages);
	EXPECT_EQ(starting("Update successful - "), 0) << Joined(messages);
	EXPECT_EQ(starting("Update failed - "), 2) << Joined(messages);
}

}  // namespace velk
