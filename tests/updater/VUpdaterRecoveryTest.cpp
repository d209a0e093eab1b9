// The updater's test build cut where only the disk remembers: what it flushes and in which order, runs killed
// at each step whose journal is then torn as a power loss tears it, the same volume attached again under
// another device number as after a reboot, an up-to-date application that cannot be executed, a folder that
// takes no new entry, and a relaunch whose opener is missing. After each, the same command leaves one whole
// application at the place and nothing hidden beside it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/JournalFile.h"
#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr size_t kSlot = plat::JournalFile::kSlotSize;
constexpr const char* kJournal = "samples/v1/.Sample.app.velk-update";
constexpr const char* kMissingInterpreter = "#!/nonexistent/sh\n";

// The names of a folder's entries that begin with prefix.
std::vector<std::string> NamesBeginning(const std::string& folder, const std::string& prefix)
{
	std::vector<std::string> names;
	if (!fs::is_directory(folder))
		return names;
	for (const fs::directory_entry& entry : fs::directory_iterator(folder))
	{
		const std::string name = entry.path().filename().string();
		if (name.rfind(prefix, 0) == 0)
			names.push_back(name);
	}
	std::sort(names.begin(), names.end());
	return names;
}

struct RecoveryFlushes;
struct TornJournal;

}  // namespace

class VUpdaterRecoveryTest : public test::VUpdaterFaultsFixture
{
protected:
	// Runs each row in a scene of its own: a kill, then the same command.
	void CheckRecoveryFlushes(const std::vector<RecoveryFlushes>& rows);
	void CheckTornJournal(const std::vector<TornJournal>& rows);

	std::string CallLog() const { return fScene + "calls"; }

	// One run of the updater with the faults, its calls recorded afresh.
	test::VChildRun RunRecorded(const std::vector<std::string>& faults)
	{
		fs::remove(CallLog());
		std::vector<std::string> armed = faults;
		armed.push_back("VELK_TEST_CALL_LOG=" + CallLog());
		return Run(armed, fNew);
	}

	// The recorded calls on the bundle's folder and the Trash, paths relative to the scene: a process id in
	// a staging name reads N, a journal record only its step ("clear" for the empty record).
	std::vector<std::string> Calls() const
	{
		const std::string staging = "velk-new-";
		std::vector<std::string> calls;
		std::istringstream lines(ReadWhole(CallLog()));
		for (std::string line; std::getline(lines, line);)
		{
			for (size_t at = line.find(fScene); at != std::string::npos; at = line.find(fScene))
				line.erase(at, fScene.size());
			for (size_t at = line.find(staging); at != std::string::npos; at = line.find(staging, at + 1))
			{
				const size_t digits = at + staging.size();
				const size_t end = line.find_first_not_of("0123456789", digits);
				line.replace(digits, (end == std::string::npos ? line.size() : end) - digits, "N");
			}
			const std::string path = line.substr(line.find(' ') + 1);
			if (path.rfind("samples/v1", 0) != 0 && path.rfind("data/Trash", 0) != 0)
				continue;
			if (line.rfind("journal-write ", 0) == 0)
			{
				const size_t step = line.find(" step=");
				line = step == std::string::npos ? "journal-write clear"
												 : "journal-write " + line.substr(step + 6, line.find(' ', step + 6) - step - 6);
			}
			calls.push_back(line);
		}
		return calls;
	}

	// The calls up to the first journal record written, that one included.
	std::vector<std::string> CallsUntilARecord() const
	{
		std::vector<std::string> calls = Calls();
		const auto record = std::find_if(calls.begin(), calls.end(),
			[](const std::string& call) { return call.rfind("journal-write", 0) == 0 || call.rfind("journal-remove", 0) == 0; });
		if (record != calls.end())
			calls.erase(record + 1, calls.end());
		return calls;
	}

	void MakeExecutableFail()
	{
		std::ofstream(fNew + "/Contents/MacOS/Sample", std::ios::trunc) << kMissingInterpreter;
		TakeTrees();
	}

	// The journal's bytes, changed by tear at the offset of its newest slot.
	template <typename Tear>
	void TearJournal(size_t newest, Tear tear)
	{
		const std::string path = fScene + kJournal;
		std::string bytes = ReadWhole(path);
		ASSERT_EQ(bytes.size(), 2 * kSlot);
		tear(bytes, newest);
		std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
	}
};

// A whole update: the lock file's folder is flushed once it is made, the staging copy's file system once it
// is copied, and the bundle's folder after the exchange and the rename before the journal tells of them;
// the Trash's folders and the bundle's before the journal goes, and the folder once more after.
TEST_F(VUpdaterRecoveryTest, FlushesOfACompleteUpdate)
{
	MakeScene(fRoot);
	const test::VChildRun run = RunRecorded({});
	ASSERT_TRUE(EndedAs(run.fStatus, 0)) << Ending(run.fStatus) << "\n" << Joined(LogLines(fRoot + "logs"));
	const std::vector<std::string> expected = {
		"journal-create samples/v1/.Sample.app.velk-update",
		"sync samples/v1: .Sample.app.velk-update Sample.app",
		"journal-write copying",
		"mkdir samples/v1/.Sample.app.velk-new-N",
		"syncfs samples/v1/.Sample.app.velk-new-N",
		"journal-write swapping",
		"exchange samples/v1/Sample.app samples/v1/.Sample.app.velk-new-N",
		"rename samples/v1/.Sample.app.velk-new-N samples/v1/Sample_old0001.app",
		"sync samples/v1: .Sample.app.velk-update Sample.app Sample_old0001.app",
		"journal-write installed",
		"journal-write started",
		"trash samples/v1/Sample_old0001.app data/Trash/files/Sample_old0001.app",
		"sync samples/v1: .Sample.app.velk-update Sample.app",
		"sync data/Trash/files: Sample_old0001.app",
		"sync data/Trash/info: Sample_old0001.app.trashinfo",
		"journal-remove samples/v1/.Sample.app.velk-update",
		"sync samples/v1: Sample.app",
	};
	EXPECT_EQ(Calls(), expected) << Joined(Calls());
}

// Each way back from a kill: what the next run changes is flushed, with the Trash's folders when it used the
// Trash, before it clears the record (or, without a record to act on, before its own first record).
namespace {

struct RecoveryFlushes
{
	const char* fName;
	std::vector<std::string> fFaults;  // of the killed run; the next run keeps all but the kill
	bool fExecutableFails;
	bool fZeroJournal;  // the journal then zeroed, as if it had never been written
	std::vector<std::string> fCalls;
	int fExit;
};

const std::string kCleared = "journal-write clear";
const std::string kSettled = "sync samples/v1: .Sample.app.velk-update Sample.app";

}  // namespace

void VUpdaterRecoveryTest::CheckRecoveryFlushes(const std::vector<RecoveryFlushes>& rows)
{
	int index = 0;
	for (const RecoveryFlushes& row : rows)
	{
		SCOPED_TRACE(row.fName);
		MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		if (row.fExecutableFails)
			MakeExecutableFail();
		const test::VChildRun killed = RunRecorded(row.fFaults);
		ASSERT_TRUE(EndedAs(killed.fStatus, kKilled)) << Ending(killed.fStatus) << "\n" << Joined(LogLines(fScene + "logs"));
		if (row.fZeroJournal)
			TearJournal(0, [](std::string& bytes, size_t) { bytes.assign(bytes.size(), '\0'); });
		std::vector<std::string> again;
		std::copy_if(row.fFaults.begin(), row.fFaults.end(), std::back_inserter(again),
			[](const std::string& fault) { return fault.rfind("VELK_TEST_KILL_AT=", 0) != 0; });
		const test::VChildRun rerun = RunRecorded(again);
		EXPECT_TRUE(EndedAs(rerun.fStatus, row.fExit)) << Ending(rerun.fStatus) << "\n" << Joined(LogLines(fScene + "logs"));
		EXPECT_EQ(CallsUntilARecord(), row.fCalls) << Joined(Calls());
	}
}

TEST_F(VUpdaterRecoveryTest, FlushesOfRecoveryBeforeTheSwap)
{
	CheckRecoveryFlushes({
		{"copying", {"VELK_TEST_KILL_AT=copy:index.txt"}, false, false, {kSettled, kCleared}, 0},
		{"before the exchange", {"VELK_TEST_KILL_AT=rename:Sample.app"}, false, false, {kSettled, kCleared}, 0},
		{"a leftover without a record", {"VELK_TEST_KILL_AT=rename:Sample.app"}, false, true, {kSettled, "journal-write copying"}, 0},
	});
}

TEST_F(VUpdaterRecoveryTest, FlushesOfRecoveryAfterTheSwap)
{
	const std::vector<std::string> trashed = {
		"trash samples/v1/Sample_old0001.app data/Trash/files/Sample_old0001.app",
		kSettled,
		"sync data/Trash/files: Sample_old0001.app",
		"sync data/Trash/info: Sample_old0001.app.trashinfo",
		kCleared,
	};
	auto with = [](std::vector<std::string> first, const std::vector<std::string>& then) {
		first.insert(first.end(), then.begin(), then.end());
		return first;
	};
	CheckRecoveryFlushes({
		// Never seen to start, the copy is undone: the old bundle back, the folder flushed, then the copy
		// deleted and the folder flushed again before the record goes.
		{"after the exchange", {"VELK_TEST_KILL_AT=rename:.Sample.app.velk-new-*"}, false, false,
			{"exchange samples/v1/.Sample.app.velk-new-N samples/v1/Sample.app",
				"sync samples/v1: .Sample.app.velk-new-N .Sample.app.velk-update Sample.app", kSettled, kCleared},
			0},
		{"between the renames, without exchange", {"VELK_RENAME_FLAGS_REFUSED=1", "VELK_TEST_KILL_AT=rename:.Sample.app.velk-new-*"},
			false, false,
			{"rename samples/v1/Sample_old0001.app samples/v1/Sample.app",
				"sync samples/v1: .Sample.app.velk-new-N .Sample.app.velk-update Sample.app", kSettled, kCleared},
			0},
		{"at the Trash", {"VELK_TEST_KILL_AT=trash:Sample_old0001.app"}, false, false,
			with({"unlink data/Trash/info/Sample_old0001.app.trashinfo"}, trashed), 0},
		{"swapping back", {"VELK_TEST_KILL_AT=rename:Sample_old0001.app"}, true, false,
			{"exchange samples/v1/Sample_old0001.app samples/v1/Sample.app",
				"rename samples/v1/Sample_old0001.app samples/v1/Sample_failed0001.app",
				"sync samples/v1: .Sample.app.velk-update Sample.app Sample_failed0001.app", kCleared},
			2},
	});
}

// A kill at a step, then the newest journal record torn as a power loss tears it (cut short, zeroed, mixed
// with the other record's bytes) or the whole journal lost: the same command finds what is left, logs it,
// and ends the update with the place whole and nothing hidden beside it.
namespace {

struct TornJournal
{
	const char* fName;
	const char* fKill;
	size_t fNewest;  // the newest record's slot: copying and installed in the first, swapping in the second
	std::function<void(std::string&, size_t)> fTear;
	std::vector<std::string> fLogged;
	bool fOldKept;  // the installed tree ends whole in the Trash
};

void CutShort(std::string& bytes, size_t newest)
{
	std::fill(bytes.begin() + long(newest + 48), bytes.begin() + long(newest + kSlot), '\0');
}

void Zeroed(std::string& bytes, size_t newest)
{
	std::fill(bytes.begin() + long(newest), bytes.begin() + long(newest + kSlot), '\0');
}

void Mixed(std::string& bytes, size_t newest)
{
	const size_t other = newest == 0 ? kSlot : 0;
	bytes.replace(newest + 48, kSlot - 48, bytes.substr(other + 48, kSlot - 48));
}

const std::string kTorn = "The update journal ";
const std::string kRecovering = "Recovering the update interrupted in process";
const std::string kTrashing = "Moving the old application ";
const std::string kBack = "The outdated application is back at ";

}  // namespace

void VUpdaterRecoveryTest::CheckTornJournal(const std::vector<TornJournal>& rows)
{
	int index = 0;
	for (const TornJournal& row : rows)
	{
		SCOPED_TRACE(row.fName);
		MakeScene(fRoot + "torn" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const test::VChildRun killed = Run({std::string("VELK_TEST_KILL_AT=") + row.fKill}, fNew);
		ASSERT_TRUE(EndedAs(killed.fStatus, kKilled)) << Ending(killed.fStatus);
		TearJournal(row.fNewest, row.fTear);
		fs::remove_all(fScene + "logs");

		const test::VChildRun again = Run({}, fNew);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		EXPECT_TRUE(EndedAs(again.fStatus, 0)) << Ending(again.fStatus) << "\n" << Joined(lines);
		EXPECT_EQ(Tree(fOld), fNewTree);
		ExpectNoLeftovers();
		EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"), row.fLogged, true)) << Joined(lines);
		if (row.fOldKept)
			ExpectNothingLost(kNewTree);
	}
}

TEST_F(VUpdaterRecoveryTest, KilledBeforeTheSwapThenJournalTorn)
{
	CheckTornJournal({
		{"copying, cut short", "copy:index.txt", 0, CutShort, {kTorn, "Deleted "}, true},
		{"before the exchange, zeroed", "rename:Sample.app", kSlot, Zeroed, {kRecovering, "Deleting the unfinished copy "}, true},
		// The record left is from before the copy was complete: the old bundle beside the place tells that
		// the swap was made, and it is undone.
		{"after the exchange, mixed", "rename:.Sample.app.velk-new-*", kSlot, Mixed, {kTorn, kRecovering, kBack}, true},
	});
}

TEST_F(VUpdaterRecoveryTest, KilledAfterTheSwapThenJournalTorn)
{
	CheckTornJournal({
		{"after the renames, cut short", "sync:v1#2", kSlot, CutShort, {kTorn, kRecovering, kBack}, true},
		// The record of the start lost, the one before it says the copy was only installed: it is undone.
		{"at the Trash, the start zeroed", "trash:Sample_old0001.app", kSlot, Zeroed, {kRecovering, kBack}, true},
		{"at the Trash, the record before zeroed", "trash:Sample_old0001.app", 0, Zeroed, {kRecovering, kTrashing}, true},
		// The old bundle hidden at the staging name, and no record that says so: it goes as a leftover.
		{"after the exchange, lost", "rename:.Sample.app.velk-new-*", 0,
			[](std::string& bytes, size_t) { bytes.assign(bytes.size(), '\0'); }, {kTorn, "Deleted "}, false},
	});
}

// An up-to-date application whose executable the system cannot execute: the old one is put back at its
// place and the new one kept beside it as failed; the run fails with 'UPRy' 120 alone. Killed while it
// swaps back, the same command finishes that, tries again and ends the same way.
TEST_F(VUpdaterRecoveryTest, ExecutableThatCannotBeExecutedIsSwappedBack)
{
	struct Row
	{
		const char* fName;
		const char* fKill;
		std::vector<std::string> fFailed;  // the failed copies beside the place afterwards
	};
	const Row rows[] = {
		{"not killed", nullptr, {"Sample_failed0001.app"}},
		// Finished by the next run, which tries again and keeps only its own failed copy.
		{"killed before the exchange back", "rename:Sample_old0001.app", {"Sample_failed0002.app"}},
		{"killed before the new one is renamed", "rename:Sample_old0001.app#2", {"Sample_failed0002.app"}},
	};
	int index = 0;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		MakeScene(fRoot + "exec" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		MakeExecutableFail();
		if (row.fKill != nullptr)
		{
			const test::VChildRun killed = Run({std::string("VELK_TEST_KILL_AT=") + row.fKill}, fNew);
			ASSERT_TRUE(EndedAs(killed.fStatus, kKilled)) << Ending(killed.fStatus);
			fs::remove_all(fScene + "logs");
		}
		const test::VChildRun run = Run({}, fNew);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		const std::vector<std::string> messages = LogMessages(fScene + "logs");
		EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << Joined(lines);
		EXPECT_EQ(Tree(fOld), fOldTree);
		const std::string beside = fScene + "samples/v1/";
		EXPECT_EQ(NamesBeginning(beside, "Sample_failed"), row.fFailed);
		for (const std::string& failed : row.fFailed)
			EXPECT_EQ(Tree(beside + failed), fNewTree) << failed;
		ExpectNoLeftovers();
		EXPECT_FALSE(fs::exists(fScene + "data/Trash/files"));
		EXPECT_TRUE(InOrder(messages, {"cannot execute", "Failed to restart updated application (returned error 0 - exit status 126)",
			"Up-to-date application restart failed", "Putting the outdated application back",
			"The outdated application is back at " + fOld + "/; the up-to-date one, which could not start, is kept at " + beside +
				row.fFailed.back() + "/",
			"Update failed - "}, true)) << Joined(lines);
		const std::vector<std::string> errors = ErrorsAfterTheEnd(messages);
		ASSERT_EQ(errors.size(), 1u) << Joined(lines);
		EXPECT_EQ(errors[0], "[120] The new version of the application could not be started; the outdated version is back at '" +
			fOld + "/'.");
		EXPECT_EQ(CountRelaunches(), 0);
		if (row.fKill != nullptr)
		{
			EXPECT_TRUE(InOrder(messages, {"Deleted the earlier copy " + beside + "Sample_failed0001.app/"}, true)) << Joined(lines);
		}
	}
}

// A relaunch that fails because the opener itself cannot be started leaves the new version in place and
// the old one aside, as any relaunch failure that is not the new executable's: the errors after the run's
// end are 'UPRy' 120 alone, the cause being in the line before.
TEST_F(VUpdaterRecoveryTest, RelaunchWithoutOpenerLeavesOnlyItsOwnError)
{
	MakeScene(fRoot);
	// The test build's bundle without its opener, and no "open" anywhere on PATH.
	const std::string bundle = fRoot + "Updater.app/Contents/";
	fs::create_directories(bundle + "MacOS");
	const std::string testing = std::string(VELK_UPDATER_TESTING_BUNDLE) + "/Contents/";
	fs::copy(testing + "Info.plist", bundle + "Info.plist");
	fs::copy(testing + "Resources", bundle + "Resources", fs::copy_options::recursive);
	if (::link((testing + "MacOS/updater").c_str(), (bundle + "MacOS/updater").c_str()) != 0)
		fs::copy(testing + "MacOS/updater", bundle + "MacOS/updater");
	const test::VChildRun run =
		test::RunChild(bundle + "MacOS/updater", {"--log-dir", fRoot + "logs", fOld, fNew}, Environment({"PATH=" + fRoot + "nowhere"}), kRunBound);
	const std::vector<std::string> lines = LogLines(fRoot + "logs");
	const std::vector<std::string> messages = LogMessages(fRoot + "logs");
	EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << Joined(lines);
	EXPECT_TRUE(InOrder(messages, {"Failed to restart updated application (returned error ", "Up-to-date application restart failed",
		"Update failed - "}, true)) << Joined(lines);
	const std::vector<std::string> errors = ErrorsAfterTheEnd(messages);
	ASSERT_EQ(errors.size(), 1u) << Joined(lines);
	EXPECT_EQ(errors[0].rfind("[120] ", 0), 0u) << errors[0];
	// The dump between the step's failure and the run's end: the one error's text.
	const auto failed = std::find(messages.begin(), messages.end(), "Up-to-date application restart failed");
	ASSERT_NE(failed, messages.end());
	EXPECT_EQ(std::vector<std::string>(failed + 1, failed + 2), std::vector<std::string>{errors[0].substr(6)}) << Joined(lines);
	EXPECT_EQ(failed + 3, messages.end() - 1) << Joined(lines);
	ExpectNothingLost(kNewTree);
	ExpectNoLeftovers(true);
	EXPECT_EQ(Tree(fRoot + "samples/v1/Sample_old0001.app"), fOldTree);
}

// A folder that takes no new entry (mode 0555, the updater not root): the staging folder's making is tried
// five times, as the rename would be, then 'UPRy' 11 with both paths and the system's reason, and 100,
// nothing moved.
TEST_F(VUpdaterRecoveryTest, FolderThatTakesNoNewEntry)
{
	if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
		GTEST_SKIP() << "needs root to hand the scene to nobody, and setpriv";
	MakeScene(fRoot);
	const uid_t nobody = 65534;
	ASSERT_EQ(::chmod(fRoot.c_str(), 0755), 0);
	fs::create_directories(fRoot + "logs");
	for (const fs::directory_entry& entry : fs::recursive_directory_iterator(fRoot))
		ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0) << entry.path();
	ASSERT_EQ(::lchown(fRoot.c_str(), nobody, nobody), 0);
	const std::string parent = fRoot + "samples/v1";
	ASSERT_EQ(::chmod(parent.c_str(), 0555), 0);
	TakeTrees();
	fs::remove(CallLog());
	const test::VChildRun run = test::RunChild("/usr/bin/setpriv",
		{"--reuid=65534", "--regid=65534", "--clear-groups", "--", TestingUpdater(), "--log-dir", fRoot + "logs", fOld, fNew},
		Environment({"VELK_TEST_RETRY_DELAY_MS=20", "VELK_TEST_CALL_LOG=" + CallLog()}), kRunBound);
	::chmod(parent.c_str(), 0755);
	const std::vector<std::string> lines = LogLines(fRoot + "logs");
	EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << run.fErrors << Joined(lines);
	const std::vector<std::string> calls = Calls();
	EXPECT_EQ(std::count(calls.begin(), calls.end(), "mkdir samples/v1/.Sample.app.velk-new-N"), 5) << Joined(calls);
	EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"Up-to-date application install failed", "Update failed - ",
		"[11] The application '" + fOld + "/", "[100] The new version of the application could not be installed."}, true))
		<< Joined(lines);
	EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"Sample_old0001.app/"}, true)) << Joined(lines);
	// The system's own reason is told, not only that the application may still be open.
	EXPECT_TRUE(InOrder(LogMessages(fRoot + "logs"), {"Update failed - ", "Permission denied"}, true)) << Joined(lines);
	ExpectNothingLost(kOldTree);
	ExpectNoLeftovers();
}

// The volume holding the application attached again under another device number, as after a reboot, once
// the update was killed at the swap or at the Trash step: the same command recovers by the entries' inodes
// in their folder and completes, with nothing beside the application and no journal.
TEST_F(VUpdaterRecoveryTest, RecoveryAfterTheVolumeComesBackUnderAnotherDevice)
{
	const char* losetup = "/usr/sbin/losetup";
	const char* mkfs = "/usr/sbin/mkfs.ext4";
	if (::geteuid() != 0 || ::access(losetup, X_OK) != 0 || ::access(mkfs, X_OK) != 0)
		GTEST_SKIP() << "needs root, losetup and mkfs.ext4";
	// Attaches the image to the first free loop device: its path, empty when refused.
	auto attach = [&](const std::string& image) {
		const test::VChildRun attached = test::RunChild(losetup, {"--find", "--show", image});
		std::string device = attached.fOutput.substr(0, attached.fOutput.find('\n'));
		return EndedAs(attached.fStatus, 0) ? device : std::string();
	};
	auto detach = [&](const std::string& device) { test::RunChild(losetup, {"--detach", device}); };

	for (const char* kill : {"rename:Sample.app", "trash:Sample_old0001.app"})
	{
		SCOPED_TRACE(kill);
		const std::string scene = fRoot + std::string(kill).substr(0, 5) + "/";
		MakeScene(scene);
		if (HasFatalFailure())
			return;
		const std::string image = scene + "volume.img";
		const std::string volume = scene + "volume";
		fs::create_directories(volume);
		{
			std::ofstream(image, std::ios::binary).close();
			fs::resize_file(image, 32 << 20);
		}
		ASSERT_TRUE(EndedAs(test::RunChild(mkfs, {"-q", "-F", image}).fStatus, 0));
		std::string first = attach(image);
		if (first.empty() || ::mount(first.c_str(), volume.c_str(), "ext4", 0, nullptr) != 0)
		{
			if (!first.empty())
				detach(first);
			GTEST_SKIP() << "loop devices or ext4 mounts are refused here";
		}
		ASSERT_TRUE(EndedAs(test::RunChild("/bin/cp", {"-a", scene + "samples/v1", volume + "/v1"}).fStatus, 0));
		fOld = volume + "/v1/Sample.app";
		TakeTrees();
		struct stat before;
		ASSERT_EQ(::stat(fOld.c_str(), &before), 0);

		const test::VChildRun killed = Run({std::string("VELK_TEST_KILL_AT=") + kill}, fNew);
		EXPECT_TRUE(EndedAs(killed.fStatus, kKilled)) << Ending(killed.fStatus);
		// The same file system through another loop device: the first stays attached until the second is.
		ASSERT_EQ(::umount2(volume.c_str(), 0), 0) << std::strerror(errno);
		const std::string second = attach(image);
		detach(first);
		ASSERT_FALSE(second.empty());
		ASSERT_EQ(::mount(second.c_str(), volume.c_str(), "ext4", 0, nullptr), 0) << std::strerror(errno);
		struct stat after;
		ASSERT_EQ(::stat(fOld.c_str(), &after), 0);
		EXPECT_NE(after.st_dev, before.st_dev);

		fs::remove_all(scene + "logs");
		const test::VChildRun again = Run({}, fNew);
		const std::vector<std::string> lines = LogLines(scene + "logs");
		EXPECT_TRUE(EndedAs(again.fStatus, 0)) << Ending(again.fStatus) << "\n" << Joined(lines);
		EXPECT_TRUE(InOrder(LogMessages(scene + "logs"), {"Recovering the update interrupted in process", "Interrupted update recovered",
			"Update successful - "}, true)) << Joined(lines);
		EXPECT_EQ(Tree(fOld), fNewTree);
		EXPECT_EQ(NamesBeginning(volume + "/v1", ""), std::vector<std::string>{"Sample.app"});
		// The volume's own Trash holds the old version whole, and no record without its item.
		const std::string trash = volume + "/.Trash-0/";
		EXPECT_EQ(Tree(trash + "files/Sample_old0001.app"), fOldTree);
		for (const std::string& info : NamesBeginning(trash + "info", ""))
			EXPECT_TRUE(fs::exists(trash + "files/" + info.substr(0, info.size() - std::strlen(".trashinfo")))) << info;
		::umount2(volume.c_str(), MNT_DETACH);
		detach(second);
	}
}

// A run killed, then the place changed by hand before the same command runs: the record no longer names
// what stands there. It is dropped with what it made, an old bundle it moved aside is kept and named, and
// the update goes on; so does every later one. A journal brought from another scene does the same.
TEST_F(VUpdaterRecoveryTest, StaleRecordNeverBlocks)
{
	auto reinstall = [this] {
		test::RunChild("/bin/cp", {"-a", fOld, fOld + ".copy"});
		fs::remove_all(fOld);
		fs::rename(fOld + ".copy", fOld);
	};
	struct Row
	{
		const char* fName;
		const char* fKill;
		bool fOldKept;  // the old bundle the record moved aside stays beside the place
		std::function<void()> fChange;
	};
	int index = 0;
	const Row rows[] = {
		{"killed at the first rename, 1.0 reinstalled by hand", "rename:Sample.app", false, reinstall},
		{"killed at the Trash, the place replaced by a copy of itself", "trash:Sample_old0001.app", true, reinstall},
		// Made in a new scene while the first still stands, so that no inode it recorded is given again.
		{"a journal from another run", "rename:Sample.app", false,
			[&] {
				const std::string bytes = ReadWhole(fScene + kJournal);
				MakeScene(fRoot + "stale" + std::to_string(++index) + "/");
				std::ofstream(fScene + kJournal, std::ios::binary) << bytes;
			}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		MakeScene(fRoot + "stale" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const test::VChildRun killed = Run({std::string("VELK_TEST_KILL_AT=") + row.fKill}, fNew);
		ASSERT_TRUE(EndedAs(killed.fStatus, kKilled)) << Ending(killed.fStatus);
		row.fChange();
		fs::remove_all(fScene + "logs");
		for (int run = 1; run <= 2; ++run)
		{
			const test::VChildRun again = Run({}, fNew);
			const std::vector<std::string> lines = LogLines(fScene + "logs");
			EXPECT_TRUE(EndedAs(again.fStatus, 0)) << run << ": " << Ending(again.fStatus) << "\n" << Joined(lines);
			EXPECT_EQ(Tree(fOld), fNewTree);
			EXPECT_TRUE(NamesBeginning(fScene + "samples/v1", ".Sample.app.velk").empty());
			if (run == 1)
			{
				EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"), {"The interrupted update no longer applies"}, true)) << Joined(lines);
				if (row.fOldKept)
				{
					EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"),
						{"The outdated application of the interrupted update is kept at " + fScene + "samples/v1/Sample_old0001.app/"}, true))
						<< Joined(lines);
				}
			}
			ExpectNoLeftovers(row.fOldKept);
			fs::remove_all(fScene + "logs");
		}
		EXPECT_EQ(Tree(fScene + "samples/v1/Sample_old0001.app") == fOldTree, row.fOldKept);
	}
}

// The outdated path a link to the bundle on a file system that cannot exchange folders, the run killed
// between its two renames: nothing stands at the real place and the link dangles. The same command still
// finds the journal beside the real place; with that journal zeroed, it puts the newest old bundle back
// and names it. Either way the update then completes through the link, which stays as it was.
TEST_F(VUpdaterRecoveryTest, LinkedPlaceLeftEmpty)
{
	int index = 0;
	for (const bool zeroed : {false, true})
	{
		SCOPED_TRACE(zeroed ? "journal zeroed" : "journal whole");
		MakeScene(fRoot + "linked" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const std::string real = fScene + "samples/apps/Real.app";
		fs::create_directories(fScene + "samples/apps");
		fs::rename(fOld, real);
		fs::create_directory_symlink("../apps/Real.app", fOld);
		const std::vector<std::string> noExchange = {"VELK_RENAME_FLAGS_REFUSED=1"};
		const test::VChildRun killed = Run({"VELK_RENAME_FLAGS_REFUSED=1", "VELK_TEST_KILL_AT=rename:.Real.app.velk-new-*"}, fNew);
		ASSERT_TRUE(EndedAs(killed.fStatus, kKilled)) << Ending(killed.fStatus);
		ASSERT_FALSE(fs::exists(fs::symlink_status(real)));
		if (zeroed)
		{
			const std::string journal = fScene + "samples/apps/.Real.app.velk-update";
			std::ofstream(journal, std::ios::binary | std::ios::trunc) << std::string(2 * kSlot, '\0');
		}
		fs::remove_all(fScene + "logs");
		const test::VChildRun again = Run(noExchange, fNew);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		EXPECT_TRUE(EndedAs(again.fStatus, 0)) << Ending(again.fStatus) << "\n" << Joined(lines);
		EXPECT_EQ(Tree(real), fNewTree);
		EXPECT_EQ(fs::read_symlink(fOld), "../apps/Real.app");
		EXPECT_TRUE(NamesBeginning(fScene + "samples/apps", ".Real.app.velk").empty());
		EXPECT_TRUE(NamesBeginning(fScene + "samples/apps", "Real_old").empty());
		const std::vector<std::string> messages = LogMessages(fScene + "logs");
		const std::vector<std::string> told = zeroed
			? std::vector<std::string>{"holds no record that can be read", "the newest outdated application beside it, " + fScene +
				  "samples/apps/Real_old0001.app/, is put back", "The outdated application is back at " + real + "/"}
			: std::vector<std::string>{kRecovering, "The outdated application is back at " + real + "/"};
		EXPECT_TRUE(InOrder(messages, told, true)) << Joined(lines);
	}
}

}  // namespace velk
