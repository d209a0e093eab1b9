// Copies of files and trees compared with what `cp -a` makes, failed copies that must leave nothing behind
// and the target as it was, and moves across file systems that remove the source only after a whole copy.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/VTestFileSystem.h"
#include "platform/FolderWalk.h"
#include "platform/Rename.h"
#include "platform/TreeCopy.h"

namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode)
{
	std::ofstream(path, std::ios::binary) << bytes;
	chmod(path.c_str(), mode);
}

// Mode, owner, modification time to the nanosecond, link text or bytes, and user attributes.
std::string DescribeEntry(const std::string& path)
{
	struct stat status;
	if (lstat(path.c_str(), &status) != 0)
		return "none";
	std::ostringstream text;
	text << std::oct << status.st_mode << std::dec << " " << status.st_uid << ":" << status.st_gid << " t=" << status.st_mtim.tv_sec << "."
		 << status.st_mtim.tv_nsec;
	if (!S_ISDIR(status.st_mode))
		text << " n=" << status.st_nlink;
	if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
		text << " dev=" << major(status.st_rdev) << "," << minor(status.st_rdev);
	if (S_ISLNK(status.st_mode))
		text << " -> " << fs::read_symlink(path).string();
	else if (S_ISREG(status.st_mode))
	{
		std::ifstream in(path, std::ios::binary);
		const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		text << " bytes=" << bytes.size() << "/" << std::hash<std::string>{}(bytes);
	}
	char names[4096];
	const ssize_t size = llistxattr(path.c_str(), names, sizeof(names));
	std::vector<std::string> attributes;
	for (ssize_t at = 0; at < size; at += ssize_t(std::string(names + at).size()) + 1)
	{
		const std::string name = names + at;
		char value[1024];
		const ssize_t length = lgetxattr(path.c_str(), name.c_str(), value, sizeof(value));
		if (name.rfind("user.", 0) == 0 && length >= 0)
			attributes.push_back(name + "=" + std::string(value, size_t(length)));
	}
	std::sort(attributes.begin(), attributes.end());
	for (const std::string& attribute : attributes)
		text << " " << attribute;
	return text.str();
}

// Every entry of the tree by its path inside it, the root as "".
std::map<std::string, std::string> Snapshot(const std::string& root)
{
	std::map<std::string, std::string> entries;
	if (!fs::exists(fs::symlink_status(root)))
		return entries;
	entries[""] = DescribeEntry(root);
	for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
		entries[entry.path().lexically_relative(root).string()] = DescribeEntry(entry.path().string());
	return entries;
}

// For every entry of the tree that is not a folder, the first path (in path order) naming the same file.
std::map<std::string, std::string> HardLinkGroups(const std::string& root)
{
	std::map<std::string, std::string> groups;
	std::map<std::pair<dev_t, ino_t>, std::string> first;
	for (const auto& [path, description] : Snapshot(root))
	{
		struct stat status;
		if (path.empty() || lstat((root + "/" + path).c_str(), &status) != 0 || S_ISDIR(status.st_mode))
			continue;
		groups[path] = first.emplace(std::make_pair(status.st_dev, status.st_ino), path).first->second;
	}
	return groups;
}

std::string ReadAttribute(const std::string& path, const char* name)
{
	char value[256];
	const ssize_t length = lgetxattr(path.c_str(), name, value, sizeof(value));
	return length < 0 ? "none" : std::string(value, size_t(length));
}

std::vector<std::string> Names(const std::string& folder)
{
	std::vector<std::string> names;
	for (const fs::directory_entry& entry : fs::directory_iterator(folder))
		names.push_back(entry.path().filename().string());
	std::sort(names.begin(), names.end());
	return names;
}

class TreeCopyTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-treecopy-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
	}

	void TearDown() override
	{
		plat::SetOpenWithoutResolveFlagsForTesting(false);
		plat::SetCopyFaultForTesting("", 0);
		plat::SetRenameBusyForTesting(0);
		unsetenv("VELK_COPY_FAULT");
		for (const std::string& folder : { fRoot, fOther })
		{
			if (folder.empty())
				continue;
			// The read-only folders of a bundle are opened again so that it can be removed.
			std::error_code ignored;
			for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, ignored))
			{
				if (entry.is_directory() && !entry.is_symlink())
					chmod(entry.path().c_str(), 0755);
			}
			fs::remove_all(folder, ignored);
		}
	}

	// A small application bundle: versioned framework links, programs with run bits, a read-only folder,
	// an empty file, a dangling link, attributes on a file and a folder, and a binary of a few megabytes.
	void MakeBundle(const std::string& root) const
	{
		const std::string contents = root + "/Contents";
		const std::string framework = contents + "/Frameworks/Lib.framework";
		fs::create_directories(framework + "/Versions/A/Resources/en.lproj");
		fs::create_directories(contents + "/MacOS");
		fs::create_directories(contents + "/Resources/Sealed");
		WriteFile(contents + "/Info.plist", "<plist><dict/></plist>", 0644);
		WriteFile(contents + "/MacOS/App", "#!/bin/sh\necho app\n", 0755);
		std::string binary(3 << 20, '\0');
		for (size_t i = 0; i < binary.size(); ++i)
			binary[i] = char((i * 7919) >> 5);
		WriteFile(framework + "/Versions/A/Lib", binary, 0755);
		WriteFile(framework + "/Versions/A/Resources/en.lproj/Strings", "\"a\" = \"b\";", 0600);
		WriteFile(contents + "/Resources/Empty", "", 0444);
		WriteFile(contents + "/Resources/Sealed/Seal", "sealed", 0400);
		fs::create_symlink("A", framework + "/Versions/Current");
		fs::create_symlink("Versions/Current/Lib", framework + "/Lib");
		fs::create_symlink("Versions/Current/Resources", framework + "/Resources");
		fs::create_symlink("../../nowhere", contents + "/Resources/Dangling");
		setxattr((contents + "/Info.plist").c_str(), "user.velk.kind", "plist", 5, 0);
		setxattr((contents + "/MacOS").c_str(), "user.velk.note", "programs", 8, 0);
		const struct timespec times[2] = { { 1000000000, 123456789 }, { 1200000000, 987654321 } };
		utimensat(AT_FDCWD, (contents + "/MacOS/App").c_str(), times, 0);
		utimensat(AT_FDCWD, (contents + "/Resources/Dangling").c_str(), times, AT_SYMLINK_NOFOLLOW);
		chmod((contents + "/Resources/Sealed").c_str(), 0500);
	}

	std::string fRoot;
	std::string fOther;  // a folder on another file system, when a test makes one
};

TEST_F(TreeCopyTest, TreeCopyEqualsArchiveCopy)
{
	const std::string source = fRoot + "/App.app";
	MakeBundle(source);
	ASSERT_EQ(std::system(("cp -a '" + source + "' '" + fRoot + "/Archive.app'").c_str()), 0);
	const auto expected = Snapshot(fRoot + "/Archive.app");

	std::string failedPath = "unchanged";
	EXPECT_EQ(plat::CopyTree(source.c_str(), (fRoot + "/Copy.app").c_str(), &failedPath), 0);
	EXPECT_EQ(failedPath, "");
	EXPECT_EQ(Snapshot(fRoot + "/Copy.app"), expected);

	// A link given as the source is followed: its folder is copied.
	fs::create_symlink("App.app", fRoot + "/Alias");
	EXPECT_EQ(plat::CopyTree((fRoot + "/Alias").c_str(), (fRoot + "/FromAlias.app/").c_str()), 0);
	EXPECT_EQ(Snapshot(fRoot + "/FromAlias.app"), expected);
	EXPECT_EQ(Names(fRoot), (std::vector<std::string>{ "Alias", "App.app", "Archive.app", "Copy.app", "FromAlias.app" }));
}

TEST_F(TreeCopyTest, ReadOnlyFoldersCopyWithoutRoot)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to give the tree to another user";
	const uid_t nobody = 65534;
	const std::string source = fRoot + "/App.app";
	MakeBundle(source);
	chmod(fRoot.c_str(), 0755);
	for (const std::string& path : { fRoot, source })
		ASSERT_EQ(lchown(path.c_str(), nobody, nobody), 0);
	for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source))
		ASSERT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0);

	// Without root, a folder given its 0500 mode before its contents could not receive them.
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0)
	{
		const bool dropped = setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
		_exit(!dropped ? 100 : plat::CopyTree(source.c_str(), (fRoot + "/Copy.app").c_str()));
	}
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0);
	EXPECT_EQ(Snapshot(fRoot + "/Copy.app"), Snapshot(source));
}

TEST_F(TreeCopyTest, FailedTreeCopyLeavesNothing)
{
	enum class Fault
	{
		kNone,
		kCall,
		kEnvironment,
		kBusyRename,
		kTargetExists,
		kHardLink,
	};
	struct
	{
		Fault fault;
		int errorNumber;
		const char* at;  // inside the source, "" for the target, "-" for the source itself
	} const cases[] = {
		{ Fault::kHardLink, EIO, "/Contents/Resources/Twin" },
		{ Fault::kCall, EIO, "/Contents/MacOS/App" },
		{ Fault::kCall, ENOSPC, "/Contents/Frameworks/Lib.framework/Versions/A/Lib" },
		{ Fault::kCall, EIO, "/Contents/Resources/Sealed" },
		{ Fault::kCall, EIO, "/Contents/Frameworks/Lib.framework/Versions/Current" },
		{ Fault::kEnvironment, ENOSPC, "/Contents/Info.plist" },
		// Built whole, read-only folders and all, and refused at the last step.
		{ Fault::kBusyRename, EBUSY, "" },
		{ Fault::kTargetExists, EEXIST, "" },
		{ Fault::kNone, ENOENT, "-" },
	};
	int index = 0;
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testing::Message() << "case " << index);
		const std::string folder = fRoot + "/" + std::to_string(index++);
		const std::string source = folder + "/Source.app";
		const std::string target = folder + "/Target.app";
		fs::create_directory(folder);
		if (testCase.fault != Fault::kNone)
			MakeBundle(source);
		const std::string at = std::string(testCase.at) == "-" ? source : *testCase.at != 0 ? source + testCase.at : target;
		if (testCase.fault == Fault::kHardLink)
		{
			ASSERT_EQ(link((source + "/Contents/Info.plist").c_str(), at.c_str()), 0);
			plat::SetCopyFaultForTesting(at, testCase.errorNumber);
		}
		else if (testCase.fault == Fault::kCall)
			plat::SetCopyFaultForTesting(at, testCase.errorNumber);
		else if (testCase.fault == Fault::kEnvironment)
			setenv("VELK_COPY_FAULT", ("ENOSPC:" + at).c_str(), 1);
		else if (testCase.fault == Fault::kBusyRename)
			plat::SetRenameBusyForTesting(1);
		else if (testCase.fault == Fault::kTargetExists)
			fs::create_directory(target);
		// The folder's own times change with the temporary copy made and removed in it.
		auto before = Snapshot(folder);
		before.erase("");

		std::string failedPath;
		EXPECT_EQ(plat::CopyTree(source.c_str(), target.c_str(), &failedPath), testCase.errorNumber);
		EXPECT_EQ(failedPath, at);
		auto after = Snapshot(folder);
		after.erase("");
		EXPECT_EQ(after, before);
		plat::SetCopyFaultForTesting("", 0);
		unsetenv("VELK_COPY_FAULT");
	}
}

TEST_F(TreeCopyTest, FileCopyKeepsTheTargetUntilTheCopyIsWhole)
{
	enum class Target
	{
		kNone,
		kFile,
		kEmptyFolder
	};
	enum class Fault
	{
		kNone,
		kAtSource,
		kBusyRename
	};
	struct
	{
		const char* source;  // "file", "link", "folder" or "fifo"
		Target target;
		bool replace;
		Fault fault;
		int result;
	} const cases[] = {
		{ "file", Target::kNone, false, Fault::kNone, 0 },
		{ "link", Target::kNone, false, Fault::kNone, 0 },
		{ "file", Target::kFile, false, Fault::kNone, EEXIST },
		{ "file", Target::kEmptyFolder, false, Fault::kNone, EEXIST },
		{ "file", Target::kFile, true, Fault::kNone, 0 },
		// A replacing copy that fails keeps the old file whole.
		{ "file", Target::kFile, true, Fault::kAtSource, EIO },
		{ "file", Target::kFile, true, Fault::kBusyRename, EBUSY },
		{ "folder", Target::kNone, false, Fault::kNone, EISDIR },
		// Special files are made anew, as `cp -a` makes them.
		{ "fifo", Target::kNone, false, Fault::kNone, 0 },
		{ "fifo", Target::kFile, true, Fault::kNone, 0 },
		{ "socket", Target::kNone, false, Fault::kNone, 0 },
		{ "fifo", Target::kNone, false, Fault::kAtSource, EIO },
	};
	int index = 0;
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testing::Message() << "case " << index);
		const std::string folder = fRoot + "/" + std::to_string(index++);
		const std::string source = folder + "/source";
		const std::string target = folder + "/target";
		fs::create_directory(folder);
		const std::string kind = testCase.source;
		if (kind == "file")
		{
			WriteFile(source, "new bytes", 0750);
			setxattr(source.c_str(), "user.velk.tag", "new", 3, 0);
		}
		else if (kind == "link")
			fs::create_symlink("../elsewhere", source);
		else if (kind == "folder")
			fs::create_directory(source);
		else if (kind == "socket")
			ASSERT_TRUE(velk::test::MakeSocketFile(source));
		else
			ASSERT_EQ(mkfifo(source.c_str(), 0640), 0);
		if (testCase.target == Target::kFile)
			WriteFile(target, "old bytes", 0600);
		else if (testCase.target == Target::kEmptyFolder)
			fs::create_directory(target);
		if (testCase.fault == Fault::kAtSource)
			plat::SetCopyFaultForTesting(source, EIO);
		else if (testCase.fault == Fault::kBusyRename)
			plat::SetRenameBusyForTesting(1);
		const std::string sourceBefore = DescribeEntry(source);
		const std::string targetBefore = DescribeEntry(target);

		EXPECT_EQ(plat::CopyFile(source.c_str(), target.c_str(), testCase.replace), testCase.result);
		EXPECT_EQ(DescribeEntry(source), sourceBefore);
		EXPECT_EQ(DescribeEntry(target), testCase.result == 0 ? sourceBefore : targetBefore);
		const std::vector<std::string> names = testCase.result == 0 || testCase.target != Target::kNone ? std::vector<std::string>{ "source", "target" } :
																										   std::vector<std::string>{ "source" };
		EXPECT_EQ(Names(folder), names);
		plat::SetCopyFaultForTesting("", 0);
	}
}

TEST_F(TreeCopyTest, SpecialFilesAndHardLinksCopyAsArchiveCopy)
{
	const std::string source = fRoot + "/App.app";
	MakeBundle(source);
	const std::string resources = source + "/Contents/Resources";
	ASSERT_EQ(mkfifo((resources + "/Pipe").c_str(), 0640), 0);
	ASSERT_TRUE(velk::test::MakeSocketFile(resources + "/Socket"));
	const bool devices = mknod((resources + "/Null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
	// Three names of one file, two of a FIFO, and a file whose other name lies outside the tree.
	ASSERT_EQ(link((source + "/Contents/MacOS/App").c_str(), (source + "/Contents/MacOS/Twin").c_str()), 0);
	ASSERT_EQ(link((source + "/Contents/MacOS/App").c_str(), (resources + "/Sealed/Triplet").c_str()), 0);
	ASSERT_EQ(link((resources + "/Pipe").c_str(), (resources + "/PipeTwin").c_str()), 0);
	WriteFile(fRoot + "/Outside", "outside", 0644);
	ASSERT_EQ(link((fRoot + "/Outside").c_str(), (resources + "/Inside").c_str()), 0);
	ASSERT_EQ(std::system(("cp -a '" + source + "' '" + fRoot + "/Archive.app'").c_str()), 0);
	const auto expected = Snapshot(fRoot + "/Archive.app");
	const auto groups = HardLinkGroups(fRoot + "/Archive.app");
	ASSERT_EQ(groups.at("Contents/Resources/Sealed/Triplet"), "Contents/MacOS/App");
	ASSERT_EQ(groups.at("Contents/Resources/PipeTwin"), "Contents/Resources/Pipe");

	std::string failedPath = "unchanged";
	EXPECT_EQ(plat::CopyTree(source.c_str(), (fRoot + "/Copy.app").c_str(), &failedPath), 0);
	EXPECT_EQ(failedPath, "");
	EXPECT_EQ(Snapshot(fRoot + "/Copy.app"), expected);
	EXPECT_EQ(HardLinkGroups(fRoot + "/Copy.app"), groups);
	if (devices)
		EXPECT_EQ(DescribeEntry(fRoot + "/Copy.app/Contents/Resources/Null"), DescribeEntry(resources + "/Null"));
	else
		GTEST_SKIP() << "this process may not make device nodes";

	// Where the system refuses to make the device, the copy fails there, naming it, and leaves nothing.
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0)
	{
		if (!velk::test::DropEffectiveCapability(CAP_MKNOD))
			_exit(100);
		std::string treeFailure;
		std::string fileFailure;
		const int treeResult = plat::CopyTree(source.c_str(), (fRoot + "/Refused.app").c_str(), &treeFailure);
		const int fileResult = plat::CopyFile((resources + "/Null").c_str(), (fRoot + "/Null").c_str(), false, &fileFailure);
		_exit(treeResult != EPERM ? 101 : treeFailure != resources + "/Null" ? 102 : fileResult != EPERM ? 103 : fileFailure != resources + "/Null" ? 104 : 0);
	}
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0);
	EXPECT_EQ(Names(fRoot), (std::vector<std::string>{ "App.app", "Archive.app", "Copy.app", "Outside" }));
}

TEST_F(TreeCopyTest, FileCapabilitySurvivesTheOwnersChange)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to set a file capability and an owner";
	// Revision 2, effective, permitting CAP_NET_BIND_SERVICE.
	const uint32_t capability[5] = { 0x02000001, 1u << CAP_NET_BIND_SERVICE, 0, 0, 0 };
	const std::string source = fRoot + "/App.app";
	MakeBundle(source);
	const std::string program = source + "/Contents/MacOS/App";
	ASSERT_EQ(lchown(program.c_str(), 65534, 65534), 0);
	if (setxattr(program.c_str(), "security.capability", capability, sizeof(capability), 0) != 0)
		GTEST_SKIP() << "file capabilities refused here: " << std::strerror(errno);
	const std::string expected = ReadAttribute(program, "security.capability");
	ASSERT_EQ(expected.size(), sizeof(capability));

	ASSERT_EQ(plat::CopyTree(source.c_str(), (fRoot + "/Copy.app").c_str()), 0);
	ASSERT_EQ(plat::CopyFile(program.c_str(), (fRoot + "/App").c_str(), false), 0);
	for (const std::string& copy : { fRoot + "/Copy.app/Contents/MacOS/App", fRoot + "/App" })
	{
		SCOPED_TRACE(copy);
		EXPECT_EQ(ReadAttribute(copy, "security.capability"), expected);
		EXPECT_EQ(DescribeEntry(copy), DescribeEntry(program));
	}
}

TEST_F(TreeCopyTest, MoveAcrossFileSystemsRemovesTheSourceLast)
{
	char pattern[] = "/dev/shm/velk-treecopy-XXXXXX";
	struct stat here, there;
	if (mkdtemp(pattern) == nullptr)
		GTEST_SKIP() << "no memory file system at /dev/shm";
	fOther = pattern;
	if (stat(fRoot.c_str(), &here) != 0 || stat(fOther.c_str(), &there) != 0 || here.st_dev == there.st_dev)
		GTEST_SKIP() << "/dev/shm is on the same file system as /tmp";

	const std::string source = fRoot + "/App.app";
	const std::string target = fOther + "/App.app";
	MakeBundle(source);
	const auto original = Snapshot(source);

	// A copy that fails half-way: the source stays whole and nothing is left on the other side.
	const std::string binary = source + "/Contents/Frameworks/Lib.framework/Versions/A/Lib";
	plat::SetCopyFaultForTesting(binary, ENOSPC);
	std::string failedPath;
	EXPECT_EQ(plat::MovePath(source.c_str(), target.c_str(), false, &failedPath), ENOSPC);
	EXPECT_EQ(failedPath, binary);
	EXPECT_EQ(Snapshot(source), original);
	EXPECT_TRUE(Names(fOther).empty());

	plat::SetCopyFaultForTesting("", 0);
	EXPECT_EQ(plat::MovePath(source.c_str(), target.c_str(), false, &failedPath), 0);
	EXPECT_EQ(Snapshot(target), original);
	EXPECT_FALSE(fs::exists(fs::symlink_status(source)));

	// A link is moved back as a link.
	const std::string link = target + "/Contents/Frameworks/Lib.framework/Lib";
	EXPECT_EQ(plat::MovePath(link.c_str(), (fRoot + "/Lib").c_str(), false), 0);
	EXPECT_EQ(DescribeEntry(fRoot + "/Lib"), original.at("Contents/Frameworks/Lib.framework/Lib"));
	EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

// A folder that is not empty is replaced by a copy made beside it and then put in its place: exchanged in one
// step, or renamed aside first where the file system cannot exchange. Nothing changes when either step fails.
TEST_F(TreeCopyTest, CopyBesideThenPutInPlaceReplacesAFolder)
{
	enum class Step
	{
		kNone,
		kCopy,  // the copy fails
		kPut,  // putting it in place fails
	};
	struct
	{
		const char* name;
		bool exchangeRefused;
		bool linkAtTarget;
		Step failing;
	} const cases[] = {
		{ "exchanged", false, false, Step::kNone },
		{ "renamed aside, then in", true, false, Step::kNone },
		{ "a link at the target is moved, not followed", false, true, Step::kNone },
		{ "the copy fails", false, false, Step::kCopy },
		{ "the exchange is refused", false, false, Step::kPut },
		{ "the rename aside is refused", true, false, Step::kPut },
	};
	const std::string source = fRoot + "/App.app";
	fs::create_directories(source + "/Contents/MacOS");
	WriteFile(source + "/Contents/Info.plist", "<plist/>", 0644);
	WriteFile(source + "/Contents/MacOS/App", "#!/bin/sh\n", 0755);
	ASSERT_EQ(symlink("MacOS/App", (source + "/Contents/Tool").c_str()), 0);
	ASSERT_EQ(mkfifo((source + "/Contents/Pipe").c_str(), 0640), 0);
	const auto fresh = Snapshot(source);
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.name);
		const std::string folder = fRoot + "/place";
		fs::remove_all(folder);
		fs::create_directories(folder + "/elsewhere/Old.app");
		WriteFile(folder + "/elsewhere/Old.app/old.txt", "old", 0600);
		const std::string target = folder + "/App.app";
		if (testCase.linkAtTarget)
			ASSERT_EQ(symlink("elsewhere/Old.app", target.c_str()), 0);
		else
			fs::rename(folder + "/elsewhere/Old.app", target);
		const auto old = Snapshot(target);
		const auto names = Names(folder);

		if (testCase.failing == Step::kCopy)
			plat::SetCopyFaultForTesting(source + "/Contents/Info.plist", ENOSPC);
		std::string staging = "unchanged";
		std::string failedPath;
		const int copied = plat::CopyTreeBeside(source.c_str(), target.c_str(), staging, &failedPath);
		plat::SetCopyFaultForTesting("", 0);
		if (testCase.failing == Step::kCopy)
		{
			EXPECT_EQ(copied, ENOSPC);
			EXPECT_EQ(failedPath, source + "/Contents/Info.plist");
			EXPECT_EQ(staging, "");
			EXPECT_EQ(Names(folder), names);
			continue;
		}
		ASSERT_EQ(copied, 0);
		EXPECT_EQ(staging.rfind(folder + "/.velk-copy-", 0), 0u) << staging;
		EXPECT_EQ(Snapshot(staging), fresh);

		plat::SetRenameFlagsRefusedForTesting(testCase.exchangeRefused);
		if (testCase.failing == Step::kPut)
			plat::SetRenameBusyForTesting(1);
		std::string former = "unchanged";
		const int put = plat::PutInPlace(staging.c_str(), target.c_str(), former);
		plat::SetRenameFlagsRefusedForTesting(false);
		plat::SetRenameBusyForTesting(0);
		if (testCase.failing == Step::kPut)
		{
			EXPECT_EQ(put, EBUSY);
			EXPECT_EQ(former, "");
			EXPECT_EQ(Snapshot(target), old);
			EXPECT_EQ(Snapshot(staging), fresh);
			continue;
		}
		ASSERT_EQ(put, 0);
		EXPECT_EQ(Snapshot(target), fresh);
		EXPECT_EQ(former.rfind(folder + "/.velk-copy-", 0), 0u) << former;
		EXPECT_EQ(Snapshot(former), old);
		if (testCase.linkAtTarget)
		{
			EXPECT_EQ(Names(folder + "/elsewhere/Old.app"), std::vector<std::string>{ "old.txt" });
		}
		std::vector<std::string> after = names;
		after.push_back(former.substr(folder.size() + 1));
		std::sort(after.begin(), after.end());
		EXPECT_EQ(Names(folder), after);
	}

	std::string empty;
	ASSERT_EQ(plat::MakeFolderBeside((fRoot + "/App.app").c_str(), empty), 0);
	struct stat status;
	ASSERT_EQ(lstat(empty.c_str(), &status), 0);
	EXPECT_TRUE(S_ISDIR(status.st_mode));
	EXPECT_TRUE(Names(empty).empty());
	EXPECT_EQ(empty.rfind(fRoot + "/.velk-copy-", 0), 0u) << empty;
}

TEST_F(TreeCopyTest, InsideAFolderAsTheSystemResolvesIt)
{
	fs::create_directories(fRoot + "/src/sub");
	fs::create_directories(fRoot + "/srcfoo");
	WriteFile(fRoot + "/file", "", 0644);
	ASSERT_EQ(symlink((fRoot + "/src/sub").c_str(), (fRoot + "/tosub").c_str()), 0);
	ASSERT_EQ(symlink("src", (fRoot + "/tosrc").c_str()), 0);
	ASSERT_EQ(symlink("tosub/..", (fRoot + "/up").c_str()), 0);
	struct
	{
		const char* path;
		const char* folder;
		bool inside;
	} const cases[] = {
		{ "/src", "/src", true },
		{ "/src/sub/", "/src", true },
		{ "/src/missing/deeper", "/src", true },
		{ "/tosub", "/src", true },
		{ "/tosub/new/deeper", "/src", true },
		{ "/up/x", "/src", true },  // a link that leads back up through ".."
		{ "/src/sub", "/tosrc", true },
		{ "/srcfoo", "/src", false },
		{ "/src", "/src/sub", false },
		{ "/tosrc", "/tosub", false },
		{ "", "/src", false },  // the folder above
		{ "/src/sub", "/missing", false },
		{ "/src/sub", "/file", false },
		{ "/file/below", "/src", false },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(std::string(testCase.path) + " in " + testCase.folder);
		EXPECT_EQ(plat::IsSameOrInsideFolder((fRoot + testCase.path).c_str(), (fRoot + testCase.folder).c_str()), testCase.inside);
	}
}

// Another thread keeps exchanging src/d1 with src/link, a link to a folder outside: the copy holds either
// under either name (the link as a link) or fails, but never a file read through the link; and a copy whose
// folder is bound from a folder of the source is refused before it makes anything.
TEST_F(TreeCopyTest, CopiesNeverReadThroughAFolderSwappedForALink)
{
	// Named as the files of the tree, so that a path read through the link would find them.
	fs::create_directories(fRoot + "/outside");
	for (int file = 0; file < 5; ++file)
		WriteFile(fRoot + "/outside/f" + std::to_string(file), "secret", 0600);
	for (int folder = 0; folder < 4; ++folder)
	{
		fs::create_directories(fRoot + "/src/d" + std::to_string(folder));
		for (int file = 0; file < 5; ++file)
			WriteFile(fRoot + "/src/d" + std::to_string(folder) + "/f" + std::to_string(file), "tree", 0644);
	}
	fs::create_directory_symlink(fRoot + "/outside", fRoot + "/src/link");
	const auto outside = Snapshot(fRoot + "/outside");
	struct Row
	{
		const char* name;
		std::function<int(const std::string& from, const std::string& to)> copy;
	};
	const Row rows[] = {
		{ "CopyTree", [](const std::string& from, const std::string& to) { return plat::CopyTree(from.c_str(), to.c_str()); } },
		{ "CopyTreeInPlace",
			[](const std::string& from, const std::string& to) {
				fs::create_directory(to);
				return plat::CopyTreeInPlace(from.c_str(), to.c_str());
			} },
	};
	for (const bool withoutResolveFlags : { false, true })
	{
		plat::SetOpenWithoutResolveFlagsForTesting(withoutResolveFlags);
		for (const Row& row : rows)
		{
			SCOPED_TRACE(std::string(row.name) + (withoutResolveFlags ? ", one name at a time" : ", openat2"));
			int copied = 0;
			for (int run = 0; run < 100; ++run)
			{
				int result = 0;
				{
					velk::test::StEntrySwapper swapper(fRoot + "/src/d1", fRoot + "/src/link");
					ASSERT_GT(swapper.Swaps(), 0);
					result = row.copy(fRoot + "/src", fRoot + "/copy");
				}
				for (const auto& [path, description] : Snapshot(fRoot + "/copy"))
				{
					ASSERT_EQ(description.find("bytes=6/"), std::string::npos) << "run " << run << ": " << path;
				}
				ASSERT_EQ(Snapshot(fRoot + "/outside"), outside);
				copied += result == 0;
				fs::remove_all(fRoot + "/copy");
			}
			EXPECT_GT(copied, 0);
		}
	}

	velk::test::StTemporaryVolume bound(fRoot + "/bound", std::string(), fRoot + "/src/d0");
	if (!bound.IsMounted())
		GTEST_SKIP() << "mounting a file system is refused here";
	const auto before = Snapshot(fRoot + "/src");
	std::string failedPath;
	EXPECT_EQ(plat::CopyTree((fRoot + "/src").c_str(), (fRoot + "/bound/copy").c_str(), &failedPath), EINVAL);
	EXPECT_EQ(failedPath, fRoot + "/bound/copy");
	EXPECT_EQ(Snapshot(fRoot + "/src"), before);
}

}  // namespace
