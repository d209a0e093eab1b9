// Folder operations over whole trees: copies that replace a bundle natively or item by item, copies into
// themselves refused before anything is touched, failures that are reported and not lost, deletions that
// stop at links, and walks in their order and through link loops.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "platform/TreeCopy.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

constexpr VError kNotEmpty = MakeVError(kVELK_SIGNATURE, 651);
constexpr VError kCopyIntoItself = MakeVError(kVELK_SIGNATURE, 660);

class VFolderContentsTest : public test::VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		plat::SetCopyFaultForTesting(std::string(), 0);
		// Read-only folders left by a test must not stop the clean-up.
		std::error_code ignored;
		for (auto it = fs::recursive_directory_iterator(fRoot, ignored); it != fs::recursive_directory_iterator(); ++it)
		{
			if (it->is_directory() && !it->is_symlink())
				fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
		}
		VTemporaryFolderTest::TearDown();
	}

	VRefPtr<VFolder> Folder(const std::string& name) const
	{
		return VRefPtr<VFolder>(new VFolder(VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX)), true);
	}

	void Put(const std::string& name, const std::string& bytes = "x") const
	{
		fs::create_directories(fs::path(fRoot + name).parent_path());
		std::ofstream(fRoot + name) << bytes;
	}

	// Every entry under the folder with what identifies it: a file's bytes, mode and modification second, a
	// link's text, "dir" for a folder.
	std::map<std::string, std::string> Tree(const std::string& name) const
	{
		std::map<std::string, std::string> tree;
		const fs::path top(fRoot + name);
		for (const auto& entry : fs::recursive_directory_iterator(top))
		{
			const std::string relative = fs::relative(entry.path(), top).string();
			struct stat status;
			::lstat(entry.path().c_str(), &status);
			if (entry.is_symlink())
				tree[relative] = "link " + fs::read_symlink(entry.path()).string();
			else if (entry.is_directory())
				tree[relative] = "dir";
			else
				tree[relative] = Read(name + "/" + relative) + " mode " + std::to_string(status.st_mode & 07777) + " time "
					+ std::to_string(status.st_mtime);
		}
		return tree;
	}

	// A small application bundle: an executable with an old time, a relative link, a hidden file and an
	// empty folder.
	void MakeBundle(const std::string& name) const
	{
		Put(name + "/Contents/Info.plist", "<plist/>");
		Put(name + "/Contents/MacOS/exe", "#!/bin/sh\n");
		Put(name + "/Contents/Resources/.hidden", "h");
		fs::create_directories(fRoot + name + "/Contents/Frameworks");
		const std::string exe = fRoot + name + "/Contents/MacOS/exe";
		ASSERT_EQ(::chmod(exe.c_str(), 0751), 0);
		struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
		ASSERT_EQ(::utimensat(AT_FDCWD, exe.c_str(), times, 0), 0);
		ASSERT_EQ(::symlink("../MacOS/exe", (fRoot + name + "/Contents/Resources/tool").c_str()), 0);
	}
};

TEST_F(VFolderContentsTest, ReplacingCopyOfABundleNativelyOrItemByItem)
{
	struct Row
	{
		const char* name;
		bool failNativeCopy;
	};
	const Row rows[] = {{"native tree copy", false}, {"native copy fails, item by item", true}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "dest");
		MakeBundle("App.app");
		Put("dest/App.app/stale.txt");
		// The tree copy fails when it reaches Contents: both App.app and Contents are then copied item by item.
		if (row.failNativeCopy)
			plat::SetCopyFaultForTesting(fRoot + "App.app/Contents", EIO);

		VFolder* copy = nullptr;
		EXPECT_EQ(Folder("App.app")->CopyTo(*Folder("dest"), &copy, eFCOPY_REPLACE), VE_OK);
		VRefPtr<VFolder> held(copy, true);
		ASSERT_NE(copy, nullptr);
		EXPECT_TRUE(copy->IsSameFolder(Folder("dest/App.app").Get()));
		EXPECT_EQ(Tree("dest/App.app"), Tree("App.app"));
		plat::SetCopyFaultForTesting(std::string(), 0);
		fs::remove_all(fRoot + "App.app");
	}
}

TEST_F(VFolderContentsTest, CopyingIntoItselfIsRefusedAndLosesNothing)
{
	struct Row
	{
		const char* name;
		const char* destination;
		const char* newName;  // null: CopyContentsTo
		uint32 options;
	};
	const Row rows[] = {
		{"target is the source", "p", "src", eFCOPY_REPLACE},
		{"destination is the source", "p/src", "copy", eFCOPY_REPLACE},
		{"destination inside the source", "p/src/sub", "copy", 0},
		{"target holds the source", "", "p", eFCOPY_REPLACE},
		{"contents into the same folder", "p/src", nullptr, 0},
		{"contents into a missing folder inside", "p/src/new", nullptr, 0},
	};
	Put("p/src/a.txt", "a");
	Put("p/src/sub/b.txt", "b");
	const auto before = Tree("p");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		StErrorContextInstaller errors(false);
		VRefPtr<VFolder> destination = Folder(row.destination);
		const VError result = row.newName != nullptr
			? Folder("p/src")->CopyTo(*destination, VString(row.newName), nullptr, row.options)
			: Folder("p/src")->CopyContentsTo(*destination, row.options);
		EXPECT_EQ(result, kCopyIntoItself);
		VErrorBase* error = errors.Find(kCopyIntoItself);
		ASSERT_NE(error, nullptr);
		VString text;
		EXPECT_TRUE(error->GetString(VString("destination"), text));
		EXPECT_EQ(Tree("p"), before);
	}
}

TEST_F(VFolderContentsTest, CopyFailuresAreReportedAndOptionallyPassedOver)
{
	struct Row
	{
		const char* name;
		bool badName;  // a name that is not UTF-8 in the source's sub-folder
		uint32 options;
		bool topFilesCopied;
		VError native;  // kept beneath the error returned
	};
	const Row rows[] = {
		{"a failed file copy stops the copy", false, 0, false, MakePosixError(EIO)},
		{"continued after a failed file copy", false, eFCOPY_CONTINUE_ON_ERROR, true, MakePosixError(EIO)},
		{"an unreadable name stops the copy", true, 0, false, MakePosixError(EILSEQ)},
		{"continued after an unreadable name", true, eFCOPY_CONTINUE_ON_ERROR, true, MakePosixError(EILSEQ)},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "src");
		fs::remove_all(fRoot + "out");
		Put("src/one.txt");
		Put("src/two.txt");
		Put("src/sub/inner.txt");
		if (row.badName)
			Put("src/sub/\xff.txt");
		else
			plat::SetCopyFaultForTesting(fRoot + "src/sub/inner.txt", EIO);

		StErrorContextInstaller errors(false);
		const VError result = Folder("src")->CopyContentsTo(*Folder("out"), row.options);
		plat::SetCopyFaultForTesting(std::string(), 0);
		EXPECT_NE(result, VE_OK);
		EXPECT_NE(errors.Find(row.native), nullptr);
		EXPECT_EQ(fs::exists(fRoot + "out/one.txt") && fs::exists(fRoot + "out/two.txt"), row.topFilesCopied);
		// A sub-folder copy that stopped took back what it made; one that went on kept it.
		EXPECT_EQ(fs::exists(fRoot + "out/sub/inner.txt"), row.badName && (row.options & eFCOPY_CONTINUE_ON_ERROR) != 0);
	}
}

// A folder copy that fails takes back the tree it made, so that no half copy stands beside the source; a
// target it merged into, or a copy asked to go on after errors, keeps what was copied.
TEST_F(VFolderContentsTest, FailedFolderCopyLeavesNoPartialTree)
{
	struct Row
	{
		const char* name;
		uint32 options;
		bool targetBefore;  // "out/src" holds "old.txt" before the copy
		bool targetAfter;
		bool copiedAfter;  // "out/src/one.txt" stands after the copy (files come after the failed folder)
	};
	const Row rows[] = {
		{"new target", 0, false, false, false},
		{"replaced target", eFCOPY_REPLACE, true, false, false},
		{"merged into an existing target", 0, true, true, false},
		{"asked to copy what it can", eFCOPY_CONTINUE_ON_ERROR, false, true, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "src");
		fs::remove_all(fRoot + "out");
		Put("src/one.txt");
		Put("src/sub/inner.txt");
		fs::create_directories(fRoot + "out");
		if (row.targetBefore)
			Put("out/src/old.txt", "kept");
		plat::SetCopyFaultForTesting(fRoot + "src/sub/inner.txt", EIO);
		StErrorContextInstaller errors(false);
		const VError result = Folder("src")->CopyTo(*Folder("out"), nullptr, row.options);
		plat::SetCopyFaultForTesting(std::string(), 0);
		EXPECT_NE(result, VE_OK);
		EXPECT_NE(errors.Find(MakePosixError(EIO)), nullptr);
		EXPECT_EQ(fs::exists(fRoot + "out/src"), row.targetAfter);
		EXPECT_EQ(fs::exists(fRoot + "out/src/one.txt"), row.copiedAfter);
		if (row.targetAfter && row.targetBefore)
		{
			EXPECT_EQ(Read("out/src/old.txt"), "kept");
		}
		EXPECT_TRUE(fs::exists(fRoot + "src/sub/inner.txt"));
	}
}

TEST_F(VFolderContentsTest, DeletionStopsAtLinksAndAtContentsNotAskedFor)
{
	Put("tree/a.txt");
	Put("tree/sub/deep/b.txt");
	Put("tree/.hidden");
	Put("outside/keep.txt", "keep");
	ASSERT_EQ(::symlink((fRoot + "outside").c_str(), (fRoot + "tree/sub/out").c_str()), 0);
	ASSERT_EQ(::symlink((fRoot + "outside").c_str(), (fRoot + "alias").c_str()), 0);

	{
		StErrorContextInstaller errors(false);
		EXPECT_EQ(Folder("tree")->Delete(false), kNotEmpty);
		EXPECT_NE(errors.Find(kNotEmpty), nullptr);
		EXPECT_TRUE(fs::exists(fRoot + "tree/sub/deep/b.txt"));
	}
	EXPECT_FALSE(Folder("tree")->IsEmpty());
	EXPECT_EQ(Folder("tree")->Delete(true), VE_OK);
	EXPECT_FALSE(fs::exists(fRoot + "tree"));
	// A folder named through a link goes as the link.
	EXPECT_EQ(Folder("alias")->Delete(true), VE_OK);
	EXPECT_FALSE(fs::is_symlink(fRoot + "alias"));
	EXPECT_EQ(Read("outside/keep.txt"), "keep");

	Put("only/.dot");
	EXPECT_FALSE(Folder("only")->IsEmpty());
	EXPECT_EQ(Folder("only")->DeleteForced(), VE_OK);
	EXPECT_FALSE(fs::exists(fRoot + "only"));
}

TEST_F(VFolderContentsTest, FoldersNamedByAliasesResolveOrGo)
{
	struct Row
	{
		const char* name;
		const char* linkText;  // null: a real folder
		bool deleteInvalid;
		bool failed;
		bool linkKept;
		const char* resolved;  // the folder's name afterwards
	};
	const Row rows[] = {
		{"a real folder stays", nullptr, false, false, false, "entry"},
		{"a link to a folder resolves", "target", false, false, true, "target"},
		{"a link to a file is refused", "file.txt", false, true, true, "entry"},
		{"a link to a file is removed", "file.txt", true, false, false, "entry"},
		{"a dangling link is refused", "nowhere", false, true, true, "entry"},
		{"a dangling link is removed", "nowhere", true, false, false, "entry"},
	};
	Put("target/in.txt");
	Put("file.txt");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "entry");
		if (row.linkText == nullptr)
			fs::create_directories(fRoot + "entry");
		else
			ASSERT_EQ(::symlink(row.linkText, (fRoot + "entry").c_str()), 0);
		StErrorContextInstaller errors(false);
		VFolder* folder = Folder("entry").Forget();
		const VError result = VFolder::ResolveAliasFolder(&folder, row.deleteInvalid);
		VRefPtr<VFolder> held(folder, true);
		EXPECT_EQ(result != VE_OK, row.failed);
		VString name;
		folder->GetName(name);
		EXPECT_EQ(to_string(name), row.resolved);
		EXPECT_EQ(fs::is_symlink(fRoot + "entry"), row.linkKept);
	}
	EXPECT_EQ(Read("target/in.txt"), "x");
}

TEST_F(VFolderContentsTest, WalksVisitOwnFilesFirstAndEndOnLinkLoops)
{
	Put("w/f1");
	Put("w/f2");
	Put("w/s1/g1");
	Put("w/s1/deep/h1");
	Put("w/s2/k1");
	ASSERT_EQ(::symlink("..", (fRoot + "w/s1/back").c_str()), 0);
	ASSERT_EQ(::symlink("../..", (fRoot + "w/s1/deep/up").c_str()), 0);

	struct Row
	{
		const char* name;
		uint32 options;
		std::vector<std::string> expected;  // sorted
	};
	const Row rows[] = {
		{"own files only", eFI_RECURSIVE, {"f1", "f2"}},
		{"the whole tree, links as files", eFI_RECURSIVE | eFI_FOLDERS, {"back", "f1", "f2", "g1", "h1", "k1", "up"}},
		{"through links, loops cut", eFI_RECURSIVE | eFI_FOLDERS | eFI_RESOLVE_LINKS, {"f1", "f2", "g1", "h1", "k1"}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::vector<std::string> seen;
		std::vector<std::string> folders;
		EXPECT_TRUE(Folder("w")->IterateFiles(
			[&](IFile* file, IFileAttributeAccessor*) {
				VString name;
				file->GetName(name);
				VFilePath parent;
				file->GetPath().GetParent(parent);
				VString folder;
				parent.GetName(folder);
				seen.push_back(to_string(name));
				folders.push_back(to_string(folder));
				return true;
			},
			row.options));
		// A folder's files come together, the top folder's first.
		for (size_t i = 0; i < folders.size(); ++i)
		{
			EXPECT_EQ(folders[i] == "w", i < 2) << i;
			if (i > 0 && folders[i] != folders[i - 1])
			{
				EXPECT_EQ(std::count(folders.begin() + long(i), folders.end(), folders[i - 1]), 0);
			}
		}
		std::sort(seen.begin(), seen.end());
		EXPECT_EQ(seen, row.expected);
	}

	int folderCount = 0;
	EXPECT_TRUE(Folder("w")->IterateFolders([&](IFolder*, IFileAttributeAccessor*) { return ++folderCount < 100; },
		eFI_RECURSIVE | eFI_RESOLVE_LINKS));
	// s1, s1/deep, s2, and the links back to w and s1 given once each but never entered.
	EXPECT_EQ(folderCount, 5);

	int calls = 0;
	EXPECT_FALSE(Folder("w")->IterateFiles([&](IFile*, IFileAttributeAccessor*) { return ++calls > 1; },
		eFI_RECURSIVE | eFI_FOLDERS));
	EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace velk
