// The journal of a bundle swap: one holder of a bundle's lock at a time, records that survive whole, and the
// recovery of every state a killed swap can leave on disk, which ends with one whole application at the
// place and nothing of the swap beside it.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFilePath.h"
#include "runtime/StErrorContextInstaller.h"
#include "updater/VBundleSwapJournal.h"
#include "updater/VUpdaterErrors.h"
#include "updater/mac/XPosixBundleSwap.h"

namespace velk {

namespace {

namespace fs = std::filesystem;

// A process id that no process has: a child that ended and was collected.
int32 DeadProcessID()
{
	const pid_t child = ::fork();
	if (child == 0)
		::_exit(0);
	::waitpid(child, nullptr, 0);
	return int32(child);
}

}  // namespace

class VBundleSwapJournalTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		const char* data = ::getenv("XDG_DATA_HOME");
		fFormerData = data != nullptr ? data : "";
		fHadData = data != nullptr;
		::setenv("XDG_DATA_HOME", (fRoot + "data").c_str(), 1);
	}

	void TearDown() override
	{
		if (fHadData)
			::setenv("XDG_DATA_HOME", fFormerData.c_str(), 1);
		else
			::unsetenv("XDG_DATA_HOME");
		VTemporaryFolderTest::TearDown();
	}

	VFilePath Path(const std::string& name) const { return VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX); }

	void MakeTree(const std::string& name, const std::string& tag) const
	{
		fs::create_directories(fRoot + name + "/Contents/MacOS");
		std::ofstream(fRoot + name + "/Contents/MacOS/App") << tag;
	}

	// A fresh folder holding the outdated bundle at its place and the up-to-date one at its staging name.
	void MakeOldAndStaging()
	{
		fs::remove_all(fRoot);
		fs::create_directories(fRoot);
		MakeTree("Name.app", "old");
		MakeTree(kStaging, "new");
		fOldIdentity = IdentityText(XPosixBundleSwap::GetIdentity(Path("Name.app")));
		fNewIdentity = IdentityText(XPosixBundleSwap::GetIdentity(Path(kStaging)));
	}

	std::string TagAt(const std::string& name) const
	{
		std::ifstream in(fRoot + name + "/Contents/MacOS/App");
		std::string tag;
		std::getline(in, tag);
		return fs::exists(fRoot + name) ? tag : "<none>";
	}

	// The record a swap by process pid would have left at step, as an earlier version wrote it (whole paths,
	// devices with the inodes) unless extra fields replace its own.
	void WriteRecord(const std::string& step, int32 pid, const std::string& bundle = "Name.app",
		const std::map<std::string, std::string>& extra = {})
	{
		XPosixSwapLockFile file(VFilePath(VString((fRoot + ".Name.app.velk-update").c_str()), FPS_POSIX));
		bool waited = false;
		ASSERT_EQ(file.Lock(0, waited), VE_OK);
		std::map<std::string, std::string> record{
			{"pid", std::to_string(pid)},
			{"start", std::to_string(XPosixBundleSwap::GetProcessStartTime(pid))},
			{"step", step},
			{"bundle", fRoot + bundle + "/"},
			{"staging", fRoot + kStaging + "/"},
			{"aside", fRoot + "Name_old0001.app/"},
			{"old", fOldIdentity},
			{"new", fNewIdentity},
		};
		for (const auto& [name, value] : extra)
			record[name] = value;
		ASSERT_EQ(file.Write(record), VE_OK);
	}

	static std::string IdentityText(const XPosixBundleSwap::Identity& identity)
	{
		return std::to_string(identity.fDevice) + ":" + std::to_string(identity.fInode);
	}

	static constexpr const char* kStaging = ".Name.app.velk-new-1";
	std::string fOldIdentity;
	std::string fNewIdentity;
	std::string fFormerData;
	bool fHadData = false;
};

// Each state a kill can leave, recovered by the next run: where each tree ends and what is logged as done.
TEST_F(VBundleSwapJournalTest, RecoveryLeavesOneWholeApplication)
{
	const std::string staging = kStaging;
	struct Row
	{
		const char* fName;
		const char* fStep;
		// Moves the trees (made as Name.app "old" and the staging folder "new") into the state to recover.
		std::function<void(const std::string& root)> fState;
		bool fRecovered;
		const char* fPlace;    // tag at Name.app afterwards
		bool fOldTrashed;      // the old tree is in the Trash
		bool fOldAside;        // the old tree stays at Name_old0001.app (a refused recovery)
		const char* fFailed = "<none>";  // tag at Name_failed0001.app afterwards
		std::map<std::string, std::string> fFields = {};  // replacing the record's own
	};
	bool mountRefused = false;
	const std::map<std::string, std::string> reverting{{"failed", "Name_failed0001.app"}, {"staging", ""}};
	auto exchanged = [&](const std::string& root) {
		fs::rename(root + "Name.app", root + "Name_old0001.app");
		fs::rename(root + staging, root + "Name.app");
	};
	const Row rows[] = {
		{"cut while copying", "copying", [](const std::string&) {}, true, "old", false, false},
		{"cut while copying, no staging yet", "copying", [&](const std::string& root) { fs::remove_all(root + staging); }, true,
			"old", false, false},
		{"cut before the swap", "swapping", [](const std::string&) {}, true, "old", false, false},
		{"cut between the renames", "swapping",
			[](const std::string& root) { fs::rename(root + "Name.app", root + "Name_old0001.app"); }, true, "old", false, false},
		// Until the new copy is known to have started, a swap is undone: the old bundle goes back.
		{"cut after the exchange", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "swap");
				fs::rename(root + staging, root + "Name.app");
				fs::rename(root + "swap", root + staging);
			},
			true, "old", false, false},
		{"cut after the second rename", "swapping", exchanged, true, "old", false, false},
		{"installed, never started", "installed", exchanged, true, "old", false, false},
		{"installed, the old one gone meanwhile", "installed",
			[&](const std::string& root) {
				fs::create_directories(root + "data/Trash/files");
				fs::rename(root + "Name.app", root + "data/Trash/files/Name_old0001.app");
				fs::rename(root + staging, root + "Name.app");
			},
			true, "new", true, false},
		// Once started, the old one goes to the Trash from wherever it was left.
		{"started, before the Trash", "started", exchanged, true, "new", true, false},
		{"started, still at the staging name", "started",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "swap");
				fs::rename(root + staging, root + "Name.app");
				fs::rename(root + "swap", root + staging);
			},
			true, "new", true, false},
		{"started, after the Trash", "started",
			[&](const std::string& root) {
				fs::create_directories(root + "data/Trash/files");
				fs::rename(root + "Name.app", root + "data/Trash/files/Name_old0001.app");
				fs::rename(root + staging, root + "Name.app");
			},
			true, "new", true, false},
		// A place that holds neither bundle: the record is stale, its copy goes and its old bundle stays.
		{"a stranger at the place", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::create_directories(root + "Name.app");
			},
			true, "", false, true},
		// Its root's inode may be any number, the old bundle's too: it is on another device than the folder.
		{"another file system mounted at the place", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::create_directories(root + "Name.app");
				mountRefused = ::mount("tmpfs", (root + "Name.app").c_str(), "tmpfs", 0, "size=64k") != 0;
			},
			true, "", false, true},
		// Names and inodes as this version records them, the process of an earlier boot.
		{"cut after the exchange, recorded by name in an earlier boot", "swapping", exchanged, true, "old", false, false, "<none>",
			{{"staging", staging}, {"aside", "Name_old0001.app"}, {"bundle", "Name.app"}, {"boot", "an earlier boot"},
				{"pid", std::to_string(::getpid())}, {"start", std::to_string(XPosixBundleSwap::GetProcessStartTime(::getpid()))}}},
		{"swapping back, not begun", "reverting", exchanged, true, "old", false, false, "new", reverting},
		{"swapping back, exchanged", "reverting", [](const std::string&) {}, true, "old", false, false, "new",
			{{"failed", "Name_failed0001.app"}, {"staging", ""}, {"aside", staging}}},
		{"swapping back, done", "reverting",
			[&](const std::string& root) { fs::rename(root + staging, root + "Name_failed0001.app"); }, true, "old", false, false,
			"new", reverting},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		MakeOldAndStaging();
		mountRefused = false;
		row.fState(fRoot);
		if (mountRefused)
			continue;  // mounting is refused here
		WriteRecord(row.fStep, DeadProcessID(), "Name.app", row.fFields);
		if (HasFatalFailure())
			return;

		StErrorContextInstaller errors(false, true);
		VBundleSwapJournal journal(Path("Name.app"));
		ASSERT_TRUE(journal.Lock(0));
		EXPECT_EQ(journal.Recover(), row.fRecovered);
		EXPECT_EQ(errors.GetLastError() == VE_OK, row.fRecovered);

		EXPECT_TRUE(!row.fRecovered || TagAt("Name.app") == row.fPlace) << TagAt("Name.app");
		EXPECT_EQ(TagAt("Name_old0001.app"), row.fOldAside ? "old" : "<none>");
		EXPECT_FALSE(fs::exists(fRoot + kStaging)) << "staging left";
		EXPECT_EQ(fs::exists(fRoot + "Name_old0001.app"), row.fOldAside);
		EXPECT_EQ(TagAt("data/Trash/files/Name_old0001.app"), row.fOldTrashed ? "old" : "<none>");
		EXPECT_EQ(TagAt("Name_failed0001.app"), row.fFailed);
		journal.Finish();
		::umount2((fRoot + "Name.app").c_str(), MNT_DETACH);
		EXPECT_FALSE(fs::exists(fRoot + ".Name.app.velk-update"));

		// A recovered record is spent: the next run finds nothing to act on.
		if (row.fRecovered)
		{
			VBundleSwapJournal again(Path("Name.app"));
			ASSERT_TRUE(again.Lock(0));
			EXPECT_TRUE(again.Recover());
			EXPECT_EQ(TagAt("Name.app"), row.fPlace);
			again.Finish();
		}
	}
}

// Records that must not be acted on: none, not whole, another bundle's, a process that still runs. The
// place is never guessed at; a staging folder that no running updater owns goes whatever the record says,
// and stays while the record's process runs.
TEST_F(VBundleSwapJournalTest, RecordsNotToActOn)
{
	struct Row
	{
		const char* fName;
		std::function<void()> fWrite;
		bool fRecovered;
	};
	const Row rows[] = {
		{"no record", [] {}, true},
		{"an earlier version's record cut short",
			[&] { std::ofstream(fRoot + ".Name.app.velk-update") << "velk-swap 1 400\npid=1\nstep=swapping\n"; }, true},
		{"not a record", [&] { std::ofstream(fRoot + ".Name.app.velk-update") << "hello"; }, true},
		{"another bundle's record", [&] { WriteRecord("copying", DeadProcessID(), "Other.app"); }, true},
		{"a process that still runs", [&] { WriteRecord("copying", XPosixBundleSwap::GetCurrentProcessID()); }, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		fs::remove_all(fRoot);
		fs::create_directories(fRoot);
		MakeTree("Name.app", "old");
		MakeTree(kStaging, "new");
		row.fWrite();

		StErrorContextInstaller errors(false, true);
		VBundleSwapJournal journal(Path("Name.app"));
		ASSERT_TRUE(journal.Lock(0));
		EXPECT_EQ(journal.Recover(), row.fRecovered);
		EXPECT_EQ(errors.GetLastError(), row.fRecovered ? VE_OK : VE_UPDATER_UPDATE_UNDER_WAY);
		EXPECT_EQ(TagAt("Name.app"), "old");
		EXPECT_EQ(TagAt(kStaging), row.fRecovered ? "<none>" : "new");
		journal.Finish();
	}
}

// Staging folders of the bundle that no running updater owns are deleted whatever the journal holds, even one
// bearing this process's id (made in an earlier boot); another updater's own, other bundles' and names of
// another shape stay, and so does every one while nothing stands at the place.
TEST_F(VBundleSwapJournalTest, LeftoverStagingFoldersGo)
{
	// A process of this same program that runs for the whole test.
	const pid_t running = ::fork();
	if (running == 0)
	{
		::pause();
		::_exit(0);
	}
	const std::string dead = ".Name.app.velk-new-" + std::to_string(DeadProcessID());
	const std::string self = ".Name.app.velk-new-" + std::to_string(::getpid());
	const std::string alive = ".Name.app.velk-new-" + std::to_string(running);
	const std::string stranger = ".Name.app.velk-new-1";  // a running process of another program
	const std::vector<std::string> kept = {".Other.app.velk-new-1", ".Name.app.velk-new-", ".Name.app.velk-new-12x"};
	for (const bool placeTaken : {true, false})
	{
		SCOPED_TRACE(placeTaken ? "the place holds the bundle" : "nothing at the place");
		fs::remove_all(fRoot);
		fs::create_directories(fRoot);
		if (placeTaken)
			MakeTree("Name.app", "old");
		for (const std::string& name : {dead, self, alive, stranger})
			MakeTree(name, "copy");
		for (const std::string& name : kept)
			MakeTree(name, "copy");
		StErrorContextInstaller errors(false, true);
		VBundleSwapJournal journal(Path("Name.app"));
		ASSERT_TRUE(journal.Lock(0));
		EXPECT_TRUE(journal.Recover());
		EXPECT_EQ(errors.GetLastError(), VE_OK);
		for (const std::string& name : {dead, self, stranger})
			EXPECT_EQ(fs::exists(fRoot + name), !placeTaken) << name;
		EXPECT_TRUE(fs::exists(fRoot + alive));
		for (const std::string& name : kept)
			EXPECT_TRUE(fs::exists(fRoot + name)) << name;
		journal.Finish();
	}
	::kill(running, SIGKILL);
	::waitpid(running, nullptr, 0);
}

// One holder at a time: a second journal of the same bundle waits, then refuses with 'UPRy' 15, even when
// the first lets go meanwhile; and a finished journal leaves nothing beside the bundle.
TEST_F(VBundleSwapJournalTest, OneHolderAtATime)
{
	MakeTree("Name.app", "old");
	StErrorContextInstaller errors(false, true);
	VBundleSwapJournal first(Path("Name.app"));
	ASSERT_TRUE(first.Lock(0));
	ASSERT_TRUE(first.IsLocked());

	// Another process asks while the first holds the lock, and while it lets go.
	for (const bool released : {false, true})
	{
		SCOPED_TRACE(released ? "let go meanwhile" : "still held");
		int pipeEnds[2];
		ASSERT_EQ(::pipe(pipeEnds), 0);
		const pid_t child = ::fork();
		if (child == 0)
		{
			StErrorContextInstaller childErrors(false, true);
			VBundleSwapJournal second(Path("Name.app"));
			const bool locked = second.Lock(released ? 5000 : 200);
			const char answer = locked ? 'L' : childErrors.GetLastError() == VE_UPDATER_UPDATE_UNDER_WAY ? 'U' : '?';
			(void) !::write(pipeEnds[1], &answer, 1);
			::_exit(0);
		}
		::close(pipeEnds[1]);
		if (released)
		{
			::usleep(300000);
			first.Finish();
		}
		char answer = 0;
		EXPECT_EQ(::read(pipeEnds[0], &answer, 1), 1);
		::close(pipeEnds[0]);
		::waitpid(child, nullptr, 0);
		EXPECT_EQ(answer, 'U');
	}
	EXPECT_FALSE(first.IsLocked());
	EXPECT_FALSE(fs::exists(fRoot + ".Name.app.velk-update"));
	EXPECT_EQ(errors.GetLastError(), VE_OK);
}

// What the sweep of staging-named folders leaves alone: links (to a folder or a file), another user's
// folder, a folder with another file system mounted on it or inside it, the up-to-date bundle itself, a
// folder that holds it or lies inside it, and what a running updater made; what it cannot delete never fails
// the run.
TEST_F(VBundleSwapJournalTest, SweepTouchesOnlyItsOwnLeftovers)
{
	const pid_t running = ::fork();
	if (running == 0)
	{
		::pause();
		::_exit(0);
	}
	const std::string prefix = ".Name.app.velk-new-";
	const std::string dead = std::to_string(DeadProcessID());
	const std::string target = fRoot + "elsewhere";
	struct Row
	{
		const char* fName;
		std::string fLeftover;
		std::function<bool(const std::string& path)> fMake;  // false: skip the row (refused here)
		std::string fUpToDate;  // relative to the root (".." holds the bundle's folder); empty for none
		bool fDeleted;
	};
	const Row rows[] = {
		{"a dead process's folder", prefix + dead, [&](const std::string& path) { return fs::create_directories(path); }, "", true},
		{"a link to a folder", prefix + dead,
			[&](const std::string& path) {
				fs::create_directories(target);
				std::ofstream(target + "/precious") << "kept";
				fs::create_directory_symlink(target, path);
				return true;
			},
			"", false},
		{"a link to a file", prefix + dead,
			[&](const std::string& path) {
				std::ofstream(target) << "kept";
				fs::create_symlink(target, path);
				return true;
			},
			"", false},
		{"another user's folder", prefix + dead,
			[&](const std::string& path) {
				fs::create_directories(path);
				std::ofstream(path + "/theirs") << "kept";
				return ::geteuid() == 0 && ::chown(path.c_str(), 65534, 65534) == 0;
			},
			"", false},
		{"a mount point", prefix + dead,
			[&](const std::string& path) {
				fs::create_directories(path);
				return ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
			},
			"", false},
		// The deletion never crosses into another file system: it refuses the whole folder, and says so.
		{"a folder holding a mount", prefix + dead,
			[&](const std::string& path) {
				fs::create_directories(path + "/inner");
				std::ofstream(path + "/mine") << "left";
				if (::mount("tmpfs", (path + "/inner").c_str(), "tmpfs", 0, "size=64k") != 0)
					return false;
				std::ofstream(path + "/inner/precious") << "kept";
				return true;
			},
			"", false},
		{"the up-to-date bundle", prefix + dead, [&](const std::string& path) { return fs::create_directories(path); },
			prefix + dead, false},
		{"a folder holding the up-to-date bundle", prefix + dead,
			[&](const std::string& path) { return fs::create_directories(path + "/v2/Name.app"); }, prefix + dead + "/v2/Name.app",
			false},
		{"a folder inside the up-to-date bundle", prefix + dead,
			[&](const std::string& path) { return fs::create_directories(path); }, "..", false},
		{"a folder a running updater made", prefix + std::to_string(running),
			[&](const std::string& path) { return fs::create_directories(path); }, "", false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		fs::remove_all(fRoot);
		fs::create_directories(fRoot);
		MakeTree("Name.app", "old");
		const std::string leftover = fRoot + row.fLeftover;
		if (!row.fMake(leftover))
		{
			::umount2((leftover + "/inner").c_str(), MNT_DETACH);
			::umount2(leftover.c_str(), MNT_DETACH);
			continue;
		}
		StErrorContextInstaller errors(false, true);
		VBundleSwapJournal journal(Path("Name.app"));
		if (!row.fUpToDate.empty())
			journal.SetUpToDate(Path(row.fUpToDate));
		ASSERT_TRUE(journal.Lock(0));
		EXPECT_TRUE(journal.Recover());
		EXPECT_EQ(errors.GetLastError(), VE_OK);
		EXPECT_EQ(!fs::exists(fs::symlink_status(leftover)), row.fDeleted);
		EXPECT_EQ(TagAt("Name.app"), "old");
		EXPECT_TRUE(!fs::exists(target) || fs::is_regular_file(target) || fs::exists(target + "/precious"));
		EXPECT_TRUE(!fs::exists(leftover + "/inner") || fs::exists(leftover + "/inner/precious"));
		journal.Finish();
		::umount2((leftover + "/inner").c_str(), MNT_DETACH);
		::umount2(leftover.c_str(), MNT_DETACH);
	}
	::kill(running, SIGKILL);
	::waitpid(running, nullptr, 0);
}

// A record whose bundles the place no longer holds (the bundle reinstalled by hand, the place replaced by a
// copy of itself, a journal of another run): the record is dropped, its staging copy deleted, an old bundle
// aside kept, and the update may go on.
TEST_F(VBundleSwapJournalTest, StaleRecordIsDropped)
{
	struct Row
	{
		const char* fName;
		const char* fStep;
		std::function<void(const std::string& root)> fState;
		const char* fAside;  // tag at Name_old0001.app afterwards
	};
	const std::string staging = kStaging;
	const Row rows[] = {
		{"reinstalled by hand after the first rename", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::copy(root + "Name_old0001.app", root + "Name.app", fs::copy_options::recursive);
			},
			"old"},
		{"the place replaced by a copy of itself", "copying",
			[&](const std::string& root) {
				fs::copy(root + "Name.app", root + "copy", fs::copy_options::recursive);
				fs::remove_all(root + "Name.app");
				fs::rename(root + "copy", root + "Name.app");
			},
			"<none>"},
		// The new trees are made before any is removed, so that none takes a recorded inode again.
		{"started, the place replaced", "started",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				MakeTree("Name.app", "mine");
				fs::remove_all(root + staging);
			},
			"old"},
		{"the old bundle still hidden at the staging name", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "swap");
				MakeTree("Name.app", "mine");
				fs::remove_all(root + staging);
				fs::rename(root + "swap", root + staging);
			},
			"old"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		MakeOldAndStaging();
		row.fState(fRoot);
		const std::string expectedPlace = TagAt("Name.app");
		WriteRecord(row.fStep, DeadProcessID(), "Name.app");
		if (HasFatalFailure())
			return;
		StErrorContextInstaller errors(false, true);
		VBundleSwapJournal journal(Path("Name.app"));
		ASSERT_TRUE(journal.Lock(0));
		EXPECT_TRUE(journal.Recover());
		EXPECT_EQ(errors.GetLastError(), VE_OK);
		EXPECT_EQ(TagAt("Name.app"), expectedPlace);
		EXPECT_EQ(TagAt("Name_old0001.app"), row.fAside);
		EXPECT_FALSE(fs::exists(fRoot + kStaging));
		journal.Finish();
		EXPECT_FALSE(fs::exists(fRoot + ".Name.app.velk-update"));
	}
}

// Nothing at the place and no record that tells what happened (none, or one that cannot be read): the newest
// old bundle of the updater's naming beside it goes back; a link or a name of another shape never does.
TEST_F(VBundleSwapJournalTest, NewestOldBundleGoesBackToAnEmptyPlace)
{
	struct Row
	{
		const char* fName;
		std::function<void(const std::string& root)> fJournal;
		std::vector<std::string> fOlds;  // made in this order, each later than the one before
		const char* fPlace;              // tag at Name.app afterwards
	};
	const Row rows[] = {
		{"no journal", [](const std::string&) {}, {"Name_old0002.app", "Name_old0001.app"}, "Name_old0001.app"},
		{"a zeroed journal",
			[](const std::string& root) { std::ofstream(root + ".Name.app.velk-update") << std::string(8192, '\0'); },
			{"Name_old0001.app"}, "Name_old0001.app"},
		{"only names of another shape", [](const std::string&) {}, {"Name_old1.app", "Name_older0001.app"}, "<none>"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		fs::remove_all(fRoot);
		fs::create_directories(fRoot);
		for (const std::string& name : row.fOlds)
		{
			MakeTree(name, name);
			::usleep(20000);
			fs::rename(fRoot + name, fRoot + name + ".tmp");
			fs::rename(fRoot + name + ".tmp", fRoot + name);
		}
		fs::create_directory_symlink(fRoot + row.fOlds.front(), fRoot + "Name_old0009.app");
		row.fJournal(fRoot);
		StErrorContextInstaller errors(false, true);
		VBundleSwapJournal journal(Path("Name.app"));
		ASSERT_TRUE(journal.Lock(0));
		EXPECT_TRUE(journal.Recover());
		EXPECT_EQ(TagAt("Name.app"), row.fPlace);
		EXPECT_TRUE(fs::is_symlink(fRoot + "Name_old0009.app"));
		journal.Finish();
	}
}

}  // namespace velk
