// Folder operations over whole trees: copies that replace a bundle natively or item by item, copies into
// themselves refused before anything is touched, failures that are reported and not lost, deletions that
// stop at links, and walks in their order and through link loops.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/VChildProcess.h"
#include "common/VTemporaryFolderTest.h"
#include "common/VTestFileSystem.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "platform/Rename.h"
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
			// Lexically: fs::relative would follow a link and name its target instead.
			const std::string relative = entry.path().lexically_relative(top).string();
			struct stat status;
			::lstat(entry.path().c_str(), &status);
			if (entry.is_symlink())
				tree[relative] = "link " + fs::read_symlink(entry.path()).string();
			else if (entry.is_directory())
				tree[relative] = "dir";
			else if (!entry.is_regular_file())
				tree[relative] = Kind(name + "/" + relative);
			else
			{
				const std::string bytes = Read(name + "/" + relative);
				const std::string content = bytes.size() <= 64 ? bytes : std::to_string(bytes.size()) + " bytes " + std::to_string(std::hash<std::string>{}(bytes));
				tree[relative] = content + " mode " + std::to_string(status.st_mode & 07777) + " time " + std::to_string(status.st_mtime);
			}
		}
		return tree;
	}

	// What a special entry is: its type, mode and, for a device, its numbers; "none" when nothing is there.
	std::string Kind(const std::string& name) const
	{
		struct stat status;
		if (::lstat((fRoot + name).c_str(), &status) != 0)
			return "none";
		const char* type = S_ISFIFO(status.st_mode) ? "fifo" : S_ISSOCK(status.st_mode) ? "socket" : S_ISCHR(status.st_mode) ? "char" : S_ISBLK(status.st_mode) ? "block" : "other";
		std::string kind = std::string(type) + " mode " + std::to_string(status.st_mode & 07777);
		if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
			kind += " device " + std::to_string(major(status.st_rdev)) + "," + std::to_string(minor(status.st_rdev));
		return kind;
	}

	// The names in the folder, sorted, hidden ones included.
	std::vector<std::string> Names(const std::string& name) const
	{
		std::vector<std::string> names;
		for (const auto& entry : fs::directory_iterator(fRoot + name))
			names.push_back(entry.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
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
		const char* source = "p/src";
	};
	const Row rows[] = {
		{"target is the source", "p", "src", eFCOPY_REPLACE},
		{"destination is the source", "p/src", "copy", eFCOPY_REPLACE},
		{"destination inside the source", "p/src/sub", "copy", 0},
		{"target holds the source", "", "p", eFCOPY_REPLACE},
		{"contents into the same folder", "p/src", nullptr, 0},
		{"contents into a missing folder inside", "p/src/new", nullptr, 0},
		// The same reached through links, which only the disk tells.
		{"destination a link into the source", "tosub", "copy", 0},
		{"destination a link into the source, replacing", "tosub", "copy", eFCOPY_REPLACE},
		{"destination the source through a link", "tosrc", "copy", eFCOPY_REPLACE},
		{"target holds the source through a link", "toroot", "p", eFCOPY_REPLACE},
		{"contents into missing folders under a link into the source", "tosub/new/deeper", nullptr, 0},
		{"source through a link, destination inside it", "p/src/sub", "copy", 0, "tosrc"},
		{"source through a link, contents into itself", "p/src", nullptr, eFCOPY_REPLACE, "tosrc"},
	};
	Put("p/src/a.txt", "a");
	Put("p/src/sub/b.txt", "b");
	ASSERT_EQ(::symlink((fRoot + "p/src/sub").c_str(), (fRoot + "tosub").c_str()), 0);
	ASSERT_EQ(::symlink("p/src", (fRoot + "tosrc").c_str()), 0);
	ASSERT_EQ(::symlink(fRoot.c_str(), (fRoot + "toroot").c_str()), 0);
	const auto before = Tree("p");
	const auto names = Names("");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		StErrorContextInstaller errors(false);
		VRefPtr<VFolder> destination = Folder(row.destination);
		const VError result = row.newName != nullptr
			? Folder(row.source)->CopyTo(*destination, VString(row.newName), nullptr, row.options)
			: Folder(row.source)->CopyContentsTo(*destination, row.options);
		EXPECT_EQ(Names(""), names);
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
		{"replaced target, kept whole", eFCOPY_REPLACE, true, true, false},
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
		// Nothing of the copy is left beside the target either.
		EXPECT_EQ(Names("out"), row.targetAfter ? std::vector<std::string>{"src"} : std::vector<std::string>{});
		EXPECT_EQ(fs::exists(fRoot + "out/src/one.txt"), row.copiedAfter);
		if (row.targetAfter && row.targetBefore)
		{
			EXPECT_EQ(Names("out/src"), std::vector<std::string>{"old.txt"});
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

// FIFOs, sockets and devices are entries like any other for deletions and copies, while listings keep
// leaving them out.
TEST_F(VFolderContentsTest, SpecialEntriesAreDeletedAndCopiedLikeFiles)
{
	struct Row
	{
		const char* name;
		std::function<bool(const std::string&)> make;
		bool mayBeRefused;  // devices need the right to make them
	};
	const Row rows[] = {
		{"FIFO", [](const std::string& path) { return ::mkfifo(path.c_str(), 0640) == 0; }, false},
		{"socket", [](const std::string& path) { return test::MakeSocketFile(path) && ::chmod(path.c_str(), 0750) == 0; }, false},
		{"device", [](const std::string& path) { return ::mknod(path.c_str(), S_IFCHR | 0620, makedev(1, 3)) == 0; }, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "tree");
		fs::remove_all(fRoot + "copies");
		fs::create_directories(fRoot + "tree/only");
		fs::create_directories(fRoot + "tree/sub/deep");
		fs::create_directories(fRoot + "copies");
		Put("tree/a.txt");
		if (!row.make(fRoot + "tree/only/entry"))
		{
			ASSERT_TRUE(row.mayBeRefused) << std::strerror(errno);
			continue;
		}
		ASSERT_TRUE(row.make(fRoot + "tree/sub/deep/.entry"));
		const std::string kind = Kind("tree/only/entry");

		std::vector<VRefPtr<VFile>> files;
		Folder("tree/only")->GetContents(&files, nullptr);
		EXPECT_TRUE(files.empty());
		std::vector<std::string> walked;
		EXPECT_TRUE(Folder("tree")->IterateFiles(
			[&](IFile* file, IFileAttributeAccessor*) {
				VString name;
				file->GetName(name);
				walked.push_back(to_string(name));
				return true;
			},
			eFI_RECURSIVE | eFI_FOLDERS | eFI_HIDDEN | kIterateSpecialEntries));
		EXPECT_EQ(walked, std::vector<std::string>{"a.txt"});
		EXPECT_FALSE(Folder("tree/only")->IsEmpty());
		{
			StErrorContextInstaller errors(false);
			EXPECT_EQ(Folder("tree/only")->Delete(false), kNotEmpty);
			EXPECT_EQ(Kind("tree/only/entry"), kind);
		}
		// Item by item, merged into an existing target, and as a whole tree.
		for (const uint32 options : {0u, uint32(eFCOPY_CONTINUE_ON_ERROR), uint32(eFCOPY_REPLACE)})
		{
			SCOPED_TRACE(options);
			const std::string out = "copies/" + std::to_string(options);
			fs::create_directories(fRoot + out + (options == eFCOPY_CONTINUE_ON_ERROR ? "/tree/sub" : ""));
			EXPECT_EQ(Folder("tree")->CopyTo(*Folder(out), nullptr, options), VE_OK);
			EXPECT_EQ(Tree(out + "/tree"), Tree("tree"));
		}
		EXPECT_EQ(Folder("tree/only")->Delete(true), VE_OK);
		EXPECT_EQ(Folder("tree")->Delete(true), VE_OK);
		EXPECT_FALSE(fs::exists(fs::symlink_status(fRoot + "tree")));
		EXPECT_EQ(Folder("copies/0")->DeleteForced(), VE_OK);
		EXPECT_EQ(Names("copies"), (std::vector<std::string>{"4", "8"}));
	}
}

// Not a test of its own: the copy that the tests below run in a process of their own, to kill it on the way
// or take a right from it. VELK_FOLDER_COPY_CHILD is "<source>|<destination>|<options>|<mknod or nomknod>";
// the result and the path of the last error are written out.
TEST(VFolderCopyChild, DISABLED_Copy)
{
	const char* job = std::getenv("VELK_FOLDER_COPY_CHILD");
	ASSERT_NE(job, nullptr);
	std::vector<std::string> fields;
	std::stringstream stream(job);
	for (std::string field; std::getline(stream, field, '|');)
		fields.push_back(field);
	ASSERT_EQ(fields.size(), 4u);
	if (fields[3] == "nomknod")
	{
		ASSERT_TRUE(test::DropEffectiveCapability(CAP_MKNOD));
	}
	StErrorContextInstaller errors(false);
	const VFolder source(VFilePath(VString(fields[0].c_str()), FPS_POSIX));
	const VFolder destination(VFilePath(VString(fields[1].c_str()), FPS_POSIX));
	const VError result = source.CopyTo(destination, nullptr, uint32(std::stoul(fields[2])));
	std::string failed;
	if (const auto* error = dynamic_cast<const VFileError*>(errors.GetLast()))
		failed = to_string(error->GetFilePath().GetPath(FPS_POSIX));
	std::cout << "result " << (result == VE_OK ? "ok" : "failed") << " at " << failed << std::endl;
}

class VFolderCopyProcessTest : public VFolderContentsTest
{
protected:
	// Runs the copy of source into destination in a child of this program, with the environment given.
	test::VChildRun RunCopy(const std::string& source, const std::string& destination, uint32 options,
		std::vector<std::string> environment, bool mayMakeDevices = true) const
	{
		char self[4096] = {};
		if (::readlink("/proc/self/exe", self, sizeof(self) - 1) <= 0)
			return test::VChildRun{};
		environment.push_back("VELK_FOLDER_COPY_CHILD=" + fRoot + source + "/|" + fRoot + destination + "/|"
			+ std::to_string(options) + (mayMakeDevices ? "|mknod" : "|nomknod"));
		return test::RunChild(self, {"--gtest_also_run_disabled_tests", "--gtest_filter=VFolderCopyChild.DISABLED_Copy"},
			environment, 30000);
	}
};

// A device the process may not make fails the item-by-item copy, and the error names it.
TEST_F(VFolderCopyProcessTest, RefusedDeviceFailsTheCopyNamingIt)
{
	fs::create_directories(fRoot + "tree/dev");
	Put("tree/a.txt");
	if (::mknod((fRoot + "tree/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
		GTEST_SKIP() << "this process may not make device nodes";
	fs::create_directories(fRoot + "out");
	const test::VChildRun run = RunCopy("tree", "out", 0, {}, false);
	ASSERT_TRUE(WIFEXITED(run.fStatus)) << run.fErrors;
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 0) << run.fOutput;
	EXPECT_NE(run.fOutput.find("result failed at " + fRoot + "tree/dev/null\n"), std::string::npos) << run.fOutput;
	EXPECT_TRUE(Names("out").empty());
}

// A replacing copy made beside its target and exchanged with it: whatever fails, or wherever the process
// is killed, the target stays whole, old or new, and only hidden names are left beside it.
TEST_F(VFolderCopyProcessTest, ReplacingCopyKilledOnTheWayLeavesAWholeTarget)
{
	struct Row
	{
		const char* name;
		std::vector<std::string> environment;
		bool killed;
	};
	const Row rows[] = {
		{"not killed", {}, false},
		{"killed copying a file", {"VELK_TEST_KILL_AT=copy:exe"}, true},
		{"killed copying a folder", {"VELK_TEST_KILL_AT=copy:Resources"}, true},
		{"killed at the exchange", {"VELK_TEST_KILL_AT=rename:App.app"}, true},
	};
	MakeBundle("App.app");
	const auto fresh = Tree("App.app");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "dest");
		Put("dest/App.app/old.txt", "old");
		Put("dest/App.app/Contents/Info.plist", "<old/>");
		const auto old = Tree("dest/App.app");
		const test::VChildRun run = RunCopy("App.app", "dest", eFCOPY_REPLACE, row.environment);
		if (row.killed)
		{
			ASSERT_TRUE(WIFSIGNALED(run.fStatus) && WTERMSIG(run.fStatus) == SIGKILL) << run.fOutput << run.fErrors;
			EXPECT_EQ(Tree("dest/App.app"), old);
		}
		else
		{
			ASSERT_TRUE(WIFEXITED(run.fStatus) && WEXITSTATUS(run.fStatus) == 0) << run.fOutput << run.fErrors;
			EXPECT_NE(run.fOutput.find("result ok"), std::string::npos) << run.fOutput;
			EXPECT_EQ(Tree("dest/App.app"), fresh);
		}
		// A killed copy leaves its hidden folder beside the target, which nothing else uses.
		std::vector<std::string> names = Names("dest");
		EXPECT_EQ(names.size(), row.killed ? 2u : 1u);
		EXPECT_EQ(names.back(), "App.app");
		if (row.killed)
		{
			EXPECT_EQ(names.front().rfind(".velk-copy-", 0), 0u) << names.front();
		}
		// The copy asked again puts the new tree in place.
		EXPECT_EQ(Folder("App.app")->CopyTo(*Folder("dest"), nullptr, eFCOPY_REPLACE), VE_OK);
		EXPECT_EQ(Tree("dest/App.app"), fresh);
	}
}

TEST_F(VFolderContentsTest, ReplacingCopyThatFailsKeepsTheOldTarget)
{
	enum class Fault
	{
		kNone,
		kFile,  // the copy of one file fails, natively and item by item
		kNativeCopy,  // the native tree copy fails, the item-by-item copy succeeds
		kExchange,  // the copy cannot be put in place
		kNoExchange,  // the file system cannot exchange: the target is renamed aside first
	};
	struct Row
	{
		const char* name;
		Fault fault;
		uint32 options;
		bool linkedTarget;  // the target is a link to a folder elsewhere
		VError error;  // kept among the errors; 0 when the copy succeeds
	};
	const Row rows[] = {
		{"whole copy", Fault::kNone, eFCOPY_REPLACE, false, VE_OK},
		{"disk full", Fault::kFile, eFCOPY_REPLACE, false, MakePosixError(ENOSPC)},
		{"disk full, asked to go on", Fault::kFile, eFCOPY_REPLACE | eFCOPY_CONTINUE_ON_ERROR, false, MakePosixError(ENOSPC)},
		{"native copy fails, item by item", Fault::kNativeCopy, eFCOPY_REPLACE, false, VE_OK},
		{"exchange refused", Fault::kExchange, eFCOPY_REPLACE, false, MakePosixError(EBUSY)},
		{"no exchange on this file system", Fault::kNoExchange, eFCOPY_REPLACE, false, VE_OK},
		{"a linked target is replaced as a link", Fault::kNone, eFCOPY_REPLACE, true, VE_OK},
		{"a linked target fails whole", Fault::kFile, eFCOPY_REPLACE, true, MakePosixError(ENOSPC)},
	};
	MakeBundle("App.app");
	const auto fresh = Tree("App.app");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		fs::remove_all(fRoot + "dest");
		fs::remove_all(fRoot + "elsewhere");
		Put("elsewhere/App.app/old.txt", "old");
		Put("elsewhere/App.app/Contents/Resources/.hidden", "old hidden");
		fs::create_directories(fRoot + "dest");
		if (row.linkedTarget)
			ASSERT_EQ(::symlink((fRoot + "elsewhere/App.app").c_str(), (fRoot + "dest/App.app").c_str()), 0);
		else
			fs::rename(fRoot + "elsewhere/App.app", fRoot + "dest/App.app");
		const auto old = Tree(row.linkedTarget ? "elsewhere/App.app" : "dest/App.app");
		if (row.fault == Fault::kFile)
			plat::SetCopyFaultForTesting(fRoot + "App.app/Contents/MacOS/exe", ENOSPC);
		if (row.fault == Fault::kNativeCopy)
			plat::SetCopyFaultForTesting(fRoot + "App.app", EIO);
		if (row.fault == Fault::kExchange)
			plat::SetRenameBusyForTesting(1);
		plat::SetRenameFlagsRefusedForTesting(row.fault == Fault::kNoExchange);

		StErrorContextInstaller errors(false);
		const VError result = Folder("App.app")->CopyTo(*Folder("dest"), nullptr, row.options);
		plat::SetCopyFaultForTesting(std::string(), 0);
		plat::SetRenameBusyForTesting(0);
		plat::SetRenameFlagsRefusedForTesting(false);
		EXPECT_EQ(Names("dest"), std::vector<std::string>{"App.app"});
		if (row.error == VE_OK)
		{
			EXPECT_EQ(result, VE_OK);
			EXPECT_FALSE(fs::is_symlink(fRoot + "dest/App.app"));
			EXPECT_EQ(Tree("dest/App.app"), fresh);
		}
		else
		{
			EXPECT_NE(result, VE_OK);
			EXPECT_NE(errors.Find(row.error), nullptr);
			EXPECT_EQ(fs::is_symlink(fRoot + "dest/App.app"), row.linkedTarget);
			EXPECT_EQ(Tree("dest/App.app"), old);
		}
		// What a link led to is never touched.
		if (row.linkedTarget)
		{
			EXPECT_EQ(Tree("elsewhere/App.app"), old);
		}
	}
}

// On a volume too small for the new tree, the old one stays: the copy is made beside it, never after it.
TEST_F(VFolderContentsTest, ReplacingCopyOntoAFullVolumeKeepsTheOldTarget)
{
	test::StTemporaryVolume volume(fRoot + "volume", "256k");
	if (!volume.IsMounted())
		GTEST_SKIP() << "mounting a file system is refused here";
	Put("volume/App.app/Contents/old.bin", std::string(64 << 10, 'o'));
	Put("volume/App.app/Contents/MacOS/exe", "old");
	const auto old = Tree("volume/App.app");
	MakeBundle("App.app");
	Put("App.app/Contents/Resources/large.bin", std::string(300 << 10, 'n'));

	StErrorContextInstaller errors(false);
	EXPECT_NE(Folder("App.app")->CopyTo(*Folder("volume"), nullptr, eFCOPY_REPLACE), VE_OK);
	EXPECT_NE(errors.Find(MakePosixError(ENOSPC)), nullptr);
	EXPECT_EQ(Names("volume"), std::vector<std::string>{"App.app"});
	EXPECT_EQ(Tree("volume/App.app"), old);

	// Room for both trees: the copy replaces the old one, whose room is then given back.
	fs::resize_file(fRoot + "App.app/Contents/Resources/large.bin", 64 << 10);
	const auto fresh = Tree("App.app");
	EXPECT_EQ(Folder("App.app")->CopyTo(*Folder("volume"), nullptr, eFCOPY_REPLACE), VE_OK);
	EXPECT_EQ(Names("volume"), std::vector<std::string>{"App.app"});
	EXPECT_EQ(Tree("volume/App.app"), fresh);
}

// A folder bound inside itself elsewhere is the same folder: copying into it is refused.
TEST_F(VFolderContentsTest, CopyIntoABindMountOfTheSourceIsRefused)
{
	Put("src/a.txt");
	Put("src/sub/b.txt");
	test::StTemporaryVolume bound(fRoot + "bound", std::string(), fRoot + "src");
	if (!bound.IsMounted())
		GTEST_SKIP() << "mounting a file system is refused here";
	const auto before = Tree("src");
	StErrorContextInstaller errors(false);
	EXPECT_EQ(Folder("src")->CopyTo(*Folder("bound/sub"), nullptr, 0), kCopyIntoItself);
	EXPECT_EQ(Folder("src")->CopyContentsTo(*Folder("bound/new"), eFCOPY_REPLACE), kCopyIntoItself);
	EXPECT_EQ(Tree("src"), before);
}

}  // namespace
}  // namespace velk
