// The bundle swap and the updater's copy and search helpers: free temporary names whatever stands in the
// way, swaps that leave the old bundle aside and the new one in place, and failures that put the old
// bundle back bit for bit, even when the partial copy cannot be deleted plainly.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFolder.h"
#include "platform/PathAttributes.h"
#include "platform/Rename.h"
#include "platform/TreeCopy.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "updater/VBundleSwap.h"
#include "updater/VUpdaterErrors.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

// Takes capabilities out of the calling thread's effective set for the scope, so that root meets modes and
// locks as their owner does. Threads started meanwhile (the tree copy's) inherit the reduced set.
class StReducedCapabilities
{
public:
	explicit StReducedCapabilities(const std::vector<int>& capabilities)
	{
		if (::syscall(SYS_capget, &fHeader, fSaved) != 0)
			return;
		__user_cap_data_struct reduced[2] = {fSaved[0], fSaved[1]};
		for (int capability : capabilities)
			reduced[capability / 32].effective &= ~(1u << (capability % 32));
		fReduced = ::syscall(SYS_capset, &fHeader, reduced) == 0;
	}
	~StReducedCapabilities()
	{
		if (fReduced)
			::syscall(SYS_capset, &fHeader, fSaved);
	}

private:
	__user_cap_header_struct fHeader{_LINUX_CAPABILITY_VERSION_3, 0};
	__user_cap_data_struct fSaved[2] = {};
	bool fReduced = false;
};

class VBundleSwapTest : public test::VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		plat::SetCopyFaultForTesting(std::string(), 0);
		plat::SetRenameBusyForTesting(0);
		Empty();
		VTemporaryFolderTest::TearDown();
	}

	// Removes everything in the folder, locked entries and read-only folders included.
	void Empty() const
	{
		std::error_code ignored;
		for (auto it = fs::recursive_directory_iterator(fRoot, ignored); it != fs::recursive_directory_iterator(); ++it)
		{
			if (it->is_symlink())
				continue;
			plat::SetPathAttributes(it->path().c_str(), false, 0);
			if (it->is_directory())
				fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
		}
		fs::remove_all(fRoot, ignored);
		fs::create_directories(fRoot, ignored);
	}

	VRefPtr<VFolder> Folder(const std::string& name) const
	{
		return VRefPtr<VFolder>(new VFolder(VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX)), true);
	}

	std::string Posix(const std::string& name) const { return fRoot + name + "/"; }

	mutable std::error_code fIgnored;

	void Put(const std::string& name, const std::string& bytes) const
	{
		fs::create_directories(fs::path(fRoot + name).parent_path());
		std::ofstream(fRoot + name, std::ios::binary) << bytes;
	}

	// An application bundle with a versioned framework; tag makes its contents its own.
	void MakeBundle(const std::string& name, const std::string& tag) const
	{
		const std::string contents = name + "/Contents";
		Put(contents + "/Info.plist", "<plist>" + tag + "</plist>");
		Put(contents + "/MacOS/App", "#!/bin/sh\necho " + tag + "\n");
		ASSERT_EQ(::chmod((fRoot + contents + "/MacOS/App").c_str(), 0751), 0);
		Put(contents + "/Resources/en.lproj/Texts.strings", tag);
		const std::string framework = contents + "/Frameworks/Lib.framework";
		Put(framework + "/Versions/A/Lib", "lib " + tag);
		fs::create_directory_symlink("A", fRoot + framework + "/Versions/Current");
		fs::create_symlink("Versions/Current/Lib", fRoot + framework + "/Lib");
	}

	// Every entry under the folder with its mode, a file's bytes or a link's text and, unless for a copy
	// compared with its source, the modification time.
	std::map<std::string, std::string> Tree(const std::string& name, bool withTimes = true) const
	{
		std::map<std::string, std::string> tree;
		const fs::path top(fRoot + name);
		for (const auto& entry : fs::recursive_directory_iterator(top, fs::directory_options(), fIgnored))
		{
			struct stat status;
			::lstat(entry.path().c_str(), &status);
			const std::string relative = fs::relative(entry.path(), top).string();
			std::string text = std::to_string(status.st_mode);
			if (withTimes)
				text += " " + std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
			if (entry.is_symlink())
				text += " -> " + fs::read_symlink(entry.path()).string();
			else if (entry.is_regular_file())
				text += " " + Read(name + "/" + relative);
			tree[relative] = text;
		}
		return tree;
	}

	// The names in the folder, sorted.
	std::vector<std::string> Names(const std::string& name = std::string()) const
	{
		std::vector<std::string> names;
		for (const auto& entry : fs::directory_iterator(fRoot + name))
			names.push_back(entry.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

	static std::string Parameter(const VErrorBase* error, const char* name)
	{
		VString value;
		if (error == nullptr || !error->GetString(VString(name), value))
			return "<none>";
		return to_string(value);
	}
};

TEST_F(VBundleSwapTest, TemporaryNameIsTheFirstFreeOfAnyEntry)
{
	struct Row
	{
		const char* name;
		const char* path;
		const char* suffix;
		std::vector<std::string> taken;  // a trailing '/' a folder, '@' a dangling link, else a file
		const char* expected;
	};
	const Row rows[] = {
		{"bundle", "Name.app", "old", {}, "Name_old0001.app"},
		{"no extension", "Tool", "old", {}, "Tool_old0001"},
		{"dots in the name", "My.App.app", "old", {}, "My.App_old0001.app"},
		{"empty suffix", "Name.app", "", {}, "Name0001.app"},
		{"taken by a folder", "Name.app", "old", {"Name_old0001.app/"}, "Name_old0002.app"},
		{"taken by a file", "Name.app", "old", {"Name_old0001.app"}, "Name_old0002.app"},
		{"taken by a dangling link", "Name.app", "failed", {"Name_failed0001.app@"}, "Name_failed0002.app"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "place");
		fs::create_directories(fRoot + "place");
		for (const std::string& taken : row.taken)
		{
			if (taken.back() == '/')
				fs::create_directories(fRoot + "place/" + taken);
			else if (taken.back() == '@')
				fs::create_symlink("nowhere", fRoot + "place/" + taken.substr(0, taken.size() - 1));
			else
				Put("place/" + taken, "x");
		}
		VFilePath out;
		EXPECT_TRUE(_ComputeTempFolderPath(Folder(std::string("place/") + row.path)->GetPath(), out, VString(row.suffix)));
		EXPECT_TRUE(out.IsFolder());
		EXPECT_EQ(to_string(out.GetPath(FPS_POSIX)), Posix(std::string("place/") + row.expected));
	}

	// Every candidate taken: false, the last one answered.
	fs::remove_all(fRoot + "place");
	fs::create_directories(fRoot + "place");
	for (int counter = 1; counter <= 9999; ++counter)
	{
		char name[32];
		std::snprintf(name, sizeof(name), "T%04d", counter);
		std::ofstream(fRoot + "place/" + name);
	}
	VFilePath out;
	EXPECT_FALSE(_ComputeTempFolderPath(Folder("place/T")->GetPath(), out, VString()));
	EXPECT_EQ(to_string(out.GetPath(FPS_POSIX)), Posix("place/T9999"));
}

TEST_F(VBundleSwapTest, SwapPutsTheOldBundleAsideAndTheNewOneInPlace)
{
	struct Row
	{
		const char* name;
		std::vector<std::string> taken;
		const char* destination;
		int busyRenames;  // each costs a 3 s wait before the next attempt
		const char* expectedOld;
		bool flagsRefused = false;  // no exchange: renamed aside, then the copy renamed in
		const char* replaced = nullptr;  // a tree already at the destination, which is replaced
	};
	const Row rows[] = {
		{"in place", {}, "Name.app", 0, "Name_old0001.app"},
		{"first temporary name taken", {"Name_old0001.app"}, "Name.app", 0, "Name_old0002.app"},
		{"install folder made", {}, "Install/Sub/Name.app", 0, "Name_old0001.app"},
		{"busy rename tried again", {}, "Name.app", 1, "Name_old0001.app"},
		{"no exchange on the file system", {}, "Name.app", 0, "Name_old0001.app", true},
		{"no exchange, busy once", {}, "Name.app", 1, "Name_old0001.app", true},
		{"another destination replaced", {}, "Install/Name.app", 0, "Name_old0001.app", false, "Install/Name.app"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		Empty();
		MakeBundle("Name.app", "old");
		MakeBundle("New.app", "new");
		for (const std::string& taken : row.taken)
			Put(taken, "x");
		const auto outdated = Tree("Name.app");
		const auto upToDate = Tree("New.app", false);

		if (row.replaced != nullptr)
			MakeBundle(row.replaced, "replaced");

		StErrorContextInstaller errors(false, true);
		plat::SetRenameBusyForTesting(row.busyRenames);
		plat::SetRenameFlagsRefusedForTesting(row.flagsRefused);
		VRefPtr<VFolder> old(_SwapApplications(*Folder("Name.app"), *Folder("New.app"), *Folder(row.destination)), true);
		plat::SetRenameFlagsRefusedForTesting(false);
		ASSERT_TRUE(old);
		EXPECT_EQ(errors.GetLastError(), VE_OK);
		EXPECT_EQ(to_string(old->GetPath().GetPath(FPS_POSIX)), Posix(row.expectedOld));
		EXPECT_EQ(Tree(row.expectedOld), outdated);
		EXPECT_EQ(Tree(row.destination, false), upToDate);
		// No staging folder is left beside the place, whatever the way in.
		const std::string parent = fs::path(fRoot + row.destination).parent_path().string();
		for (const fs::directory_entry& entry : fs::directory_iterator(parent))
			EXPECT_EQ(entry.path().filename().string().find(".velk-"), std::string::npos) << entry.path();
	}
}

TEST_F(VBundleSwapTest, FailedInstallPutsTheOldBundleBackBitForBit)
{
	enum Obstacle
	{
		kCopyFault,  // a file of the new bundle cannot be copied
		kReadOnlyCopy,  // and the partial copy holds a read-only folder: deleted by force
		kBlockedParent,  // a file stands where the install folder would be made
		kBusyRenames,  // the outdated bundle cannot be renamed at all (12 s of retries)
		kSameFolder,  // refused before anything moves
		kNested
	};
	struct Row
	{
		Obstacle obstacle;
		const char* destination;
		VError expected;
		std::vector<std::pair<const char*, std::string>> parameters;  // name, path in the temporary folder
		std::vector<std::string> namesAfter;
	};
	const Row rows[] = {
		{kCopyFault, "Name.app", VE_UPDATER_COPY_UPTODATE_APP_FAILED, {{"from", "New.app"}, {"to", "Name.app"}},
			{"Name.app", "New.app"}},
		{kReadOnlyCopy, "Name.app", VE_UPDATER_COPY_UPTODATE_APP_FAILED, {{"from", "New.app"}, {"to", "Name.app"}},
			{"Name.app", "New.app"}},
		{kBlockedParent, "Blocker/Name.app", VE_UPDATER_INSTALL_FOLDER_NOT_CREATED, {{"path", "Blocker"}},
			{"Blocker", "Name.app", "New.app"}},
		{kBusyRenames, "Name.app", VE_UPDATER_RENAME_OUTDATED_APP_FAILED,
			{{"srcPath", "Name.app"}, {"dstPath", "Name_old0001.app"}}, {"Name.app", "New.app"}},
		{kSameFolder, "Name.app", VE_UPDATER_SAME_OR_NESTED_APPS, {{"path", "Name.app"}}, {"Name.app", "New.app"}},
		{kNested, "Name.app", VE_UPDATER_SAME_OR_NESTED_APPS, {{"path", "Name.app"}}, {"Name.app", "New.app"}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.obstacle);
		Empty();
		MakeBundle("Name.app", "old");
		MakeBundle("New.app", "new");
		std::vector<int> dropped;
		if (row.obstacle == kReadOnlyCopy)
		{
			// Folders are copied before the files beside them: Resources is complete, read-only, when
			// Info.plist fails.
			ASSERT_EQ(::chmod((fRoot + "New.app/Contents/Resources").c_str(), 0555), 0);
			dropped = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};
		}
		if (row.obstacle == kCopyFault || row.obstacle == kReadOnlyCopy)
			plat::SetCopyFaultForTesting(fRoot + "New.app/Contents/Info.plist", EIO);
		if (row.obstacle == kBlockedParent)
			Put("Blocker", "x");
		if (row.obstacle == kNested)
			MakeBundle("Name.app/Contents/New.app", "nested");
		const char* upToDate = row.obstacle == kSameFolder ? "Name.app" : row.obstacle == kNested ? "Name.app/Contents/New.app" : "New.app";
		plat::SetRenameBusyForTesting(row.obstacle == kBusyRenames ? 5 : 0);
		const auto before = Tree("Name.app");

		StErrorContextInstaller errors(false, true);
		VFolder* old = nullptr;
		{
			const StReducedCapabilities reduced(dropped);
			old = _SwapApplications(*Folder("Name.app"), *Folder(upToDate), *Folder(row.destination));
		}
		plat::SetCopyFaultForTesting(std::string(), 0);
		EXPECT_EQ(old, nullptr);
		VErrorBase* error = errors.Find(row.expected);
		ASSERT_NE(error, nullptr);
		for (const auto& [name, path] : row.parameters)
			EXPECT_EQ(Parameter(error, name), Posix(path)) << name;
		EXPECT_EQ(Tree("Name.app"), before);
		EXPECT_EQ(Names(), row.namesAfter);
		// Nothing moved, and the refused attempts left no error of their own but, for the renames, the
		// system's reason for the last refusal, just before 'UPRy' 11.
		const bool untouched = row.obstacle == kSameFolder || row.obstacle == kNested;
		EXPECT_TRUE(!untouched || errors.GetContext()->GetErrorCount() == 1u);
		if (row.obstacle == kBusyRenames)
		{
			ASSERT_EQ(errors.GetContext()->GetErrorCount(), 2u);
			EXPECT_NE(errors.Find(MakePosixError(EBUSY)), nullptr);
		}
	}
}

TEST_F(VBundleSwapTest, RobustCopiesMakeTheirFoldersAndReportThePaths)
{
	Put("src/a.txt", "a");
	Put("src/sub/b.txt", "b");
	Put("Blocker", "x");
	struct Row
	{
		bool folder;  // RobustCopyFolderContent, else RobustCopyFile
		const char* source;
		const char* destination;
		VError expected;  // 0: a folder's error
		const char* parameter;  // null: copied
		const char* value;
	};
	const Row rows[] = {
		{false, "src/a.txt", "out/deep/a.txt", VE_OK, nullptr, nullptr},
		{false, "src/none.txt", "out/none.txt", VE_UPDATER_FILE_COPY_FAILED, "srcPath", "src/none.txt"},
		{false, "src/a.txt", "Blocker/sub/a.txt", VE_OK, "path", "Blocker/sub/"},
		{true, "src/", "copy/deep/", VE_OK, nullptr, nullptr},
		{true, "none/", "copy2/", MakeVError(kVELK_SIGNATURE, 650), "path", "none/"},
		{true, "src/", "Blocker/copy/", VE_OK, "path", "Blocker/copy/"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.destination);
		StErrorContextInstaller errors(false, true);
		const VFilePath source(VString((fRoot + row.source).c_str()), FPS_POSIX);
		const VFilePath destination(VString((fRoot + row.destination).c_str()), FPS_POSIX);
		const bool copied = row.folder ? RobustCopyFolderContent(source, destination, 0)
									   : RobustCopyFile(source, destination, 0) == VE_OK;
		EXPECT_EQ(copied, row.parameter == nullptr);
		if (copied)
		{
			EXPECT_TRUE(row.folder ? Tree(row.destination, false) == Tree(row.source, false)
								   : Read(row.destination) == Read(row.source));
			continue;
		}
		EXPECT_NE(errors.GetLastError(), VE_OK);
		if (row.expected != VE_OK)
		{
			EXPECT_EQ(errors.GetLastError(), row.expected);
		}
		EXPECT_EQ(Parameter(errors.GetLast(), row.parameter), fRoot + row.value);
	}
}

TEST_F(VBundleSwapTest, FileFoundByExtensionRegardlessOfCase)
{
	Put("one/a.txt", "a");
	Put("one/b.XML", "b");
	Put("one/c.xml/inner.xml", "folder, not file");
	Put("hidden/.d.xml", "d");
	Put("plain", "p");
	struct Row
	{
		const char* name;
		const char* folder;  // a trailing '/' a folder path
		VError expected;
		const char* found;  // null: out cleared; "-": out untouched
	};
	const Row rows[] = {
		{"match in another case", "one/", VE_OK, "one/b.XML"},
		{"hidden files not searched", "hidden/", MakeVError(kVELK_SIGNATURE, 600), nullptr},
		{"missing folder", "none/", MakeVError(kVELK_SIGNATURE, 600), nullptr},
		{"file path", "plain", VE_INVALID_PARAMETER, "-"},
		{"empty path", "", VE_INVALID_PARAMETER, "-"},
	};
	const VFilePath sentinel(VString((fRoot + "sentinel").c_str()), FPS_POSIX);
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		StErrorContextInstaller errors(false, true);
		const VFilePath folder = *row.folder == 0 ? VFilePath() : VFilePath(VString((fRoot + row.folder).c_str()), FPS_POSIX);
		VFilePath out(sentinel);
		EXPECT_EQ(FindFileByExt(folder, VString("xml"), out), row.expected);
		if (row.found == nullptr)
			EXPECT_TRUE(out.GetPath(FPS_SYSTEM).IsEmpty());
		else if (std::string(row.found) == "-")
			EXPECT_EQ(to_string(out.GetPath(FPS_POSIX)), fRoot + "sentinel");
		else
			EXPECT_EQ(to_string(out.GetPath(FPS_POSIX)), fRoot + row.found);
		EXPECT_EQ(errors.GetLastError(), VE_OK);
	}
}

}  // namespace
}  // namespace velk
