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
		{"cut after the exchange", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "swap");
				fs::rename(root + staging, root + "Name.app");
				fs::rename(root + "swap", root + staging);
			},
			true, "new", true, false},
		{"cut after the second rename", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::rename(root + staging, root + "Name.app");
			},
			true, "new", true, false},
		{"cut before the Trash", "installed",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::rename(root + staging, root + "Name.app");
			},
			true, "new", true, false},
		{"cut after the Trash", "installed",
			[&](const std::string& root) {
				fs::create_directories(root + "data/Trash/files");
				fs::rename(root + "Name.app", root + "data/Trash/files/Name_old0001.app");
				fs::rename(root + staging, root + "Name.app");
			},
			true, "new", true, false},
		{"a stranger at the place", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::create_directories(root + "Name.app");
			},
			false, "<none>", false, true},
		// Its root's inode may be any number, the old bundle's too: it is on another device than the folder.
		{"another file system mounted at the place", "swapping",
			[&](const std::string& root) {
				fs::rename(root + "Name.app", root + "Name_old0001.app");
				fs::create_directories(root + "Name.app");
				mountRefused = ::mount("tmpfs", (root + "Name.app").c_str(), "tmpfs", 0, "size=64k") != 0;
			},
			false, "<none>", false, true},
		// Names and inodes as this version records them, the process of an earlier boot.
		{"cut after the exchange, recorded by name in an earlier boot", "swapping", exchanged, true, "new", true, false, "<none>",
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
		fs::remove_all(fRoot);
		fs::create_directories(fRoot);
		MakeTree("Name.app", "old");
		MakeTree(kStaging, "new");
		fOldIdentity = IdentityText(XPosixBundleSwap::GetIdentity(Path("Name.app")));
		fNewIdentity = IdentityText(XPosixBundleSwap::GetIdentity(Path(kStaging)));
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
		EXPECT_FALSE(fs::exists(fRoot + kStaging)) << "staging left";
		EXPECT_EQ(fs::exists(fRoot + "Name_old0001.app"), row.fOldAside);
		EXPECT_EQ(TagAt("data/Trash/files/Name_old0001.app"), row.fOldTrashed ? "old" : "<none>");
		EXPECT_EQ(TagAt("Name_failed0001.app"), row.fFailed);
		::umount2((fRoot + "Name.app").c_str(), MNT_DETACH);
		journal.Finish();
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

}  // namespace velk
