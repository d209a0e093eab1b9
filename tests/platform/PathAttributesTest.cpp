// Path attributes: hidden names, the lock and unlocking (never through a link), times, and the forced
// deletion of trees, which must not reach outside them through links.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/PathAttributes.h"
#include "platform/TemporaryHomeTest.h"

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path)
{
	struct stat status;
	return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
}

bool IsLocked(const std::string& path)
{
	unsigned attrs = 0;
	return plat::GetPathAttributes(path.c_str(), false, attrs) == 0 && (attrs & plat::kPathLocked) != 0;
}

class PathAttributesTest : public TemporaryHomeTest
{
protected:
	void TearDown() override
	{
		// Locked or closed entries would outlive the folder's removal.
		std::error_code error;
		for (auto it = fs::recursive_directory_iterator(fRoot, error); !error && it != fs::recursive_directory_iterator(); it.increment(error))
			plat::UnlockPath(it->path().c_str(), false);
		TemporaryHomeTest::TearDown();
	}

	// Whether this process may lock entries here (root on a file system with the immutable flag).
	bool CanLock() const
	{
		const std::string probe = Make("lock-probe");
		const bool locked = plat::SetPathAttributes(probe.c_str(), false, plat::kPathLocked) == 0 && IsLocked(probe);
		plat::SetPathAttributes(probe.c_str(), false, 0);
		return locked;
	}

	std::string Make(const std::string& name, const std::string& content = "kept") const
	{
		std::ofstream(fRoot + "/" + name) << content;
		return fRoot + "/" + name;
	}

	std::string Read(const std::string& path) const
	{
		std::ifstream in(path, std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	}
};

TEST_F(PathAttributesTest, HiddenFollowsTheName)
{
	Make(".hidden");
	fs::create_directories(fRoot + "/.folder/sub");
	fs::create_symlink(".hidden", fRoot + "/shown-link");
	struct
	{
		const char* name;
		int error;
		unsigned attrs;
	} const cases[] = {
		{ "visible", 0, 0 },
		{ ".hidden", 0, plat::kPathHidden },
		{ ".folder/", 0, plat::kPathHidden },
		{ ".folder/sub/..", 0, 0 },
		{ "shown-link", 0, 0 },
		{ "missing", ENOENT, 0 },
	};
	Make("visible");
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.name);
		unsigned attrs = 99;
		EXPECT_EQ(plat::GetPathAttributes((fRoot + "/" + testCase.name).c_str(), true, attrs), testCase.error);
		EXPECT_EQ(attrs, testCase.attrs);
	}
}

TEST_F(PathAttributesTest, LockAndUnlockNeverThroughALink)
{
	if (!CanLock())
		GTEST_SKIP() << "the file system or the user cannot set the immutable flag";
	const std::string file = Make("file");
	const std::string folder = fRoot + "/folder";
	fs::create_directory(folder);
	const std::string link = fRoot + "/link";
	fs::create_symlink("file", link);
	struct
	{
		std::string path;
		bool follow;
		std::string lockedEntry;  // empty for none
	} const cases[] = {
		{ file, false, file },
		{ folder, true, folder },
		{ link, true, file },
		{ link, false, "" },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.path + (testCase.follow ? " followed" : ""));
		chmod(file.c_str(), 0);
		EXPECT_EQ(plat::SetPathAttributes(testCase.path.c_str(), testCase.follow, plat::kPathLocked), 0);
		unsigned attrs = 0;
		EXPECT_EQ(plat::GetPathAttributes(testCase.path.c_str(), testCase.follow, attrs), 0);
		EXPECT_EQ(attrs, testCase.lockedEntry.empty() ? 0u : plat::kPathLocked);
		EXPECT_EQ(IsLocked(file), testCase.lockedEntry == file);
		EXPECT_EQ(IsLocked(folder), testCase.lockedEntry == folder);
		// Unlocking gives the owner read and write, to the entry the path names.
		EXPECT_EQ(plat::UnlockPath(testCase.path.c_str(), testCase.follow), 0);
		EXPECT_FALSE(IsLocked(file));
		EXPECT_FALSE(IsLocked(folder));
		EXPECT_EQ(ModeOf(file), testCase.lockedEntry == file ? 0600u : 0u);
	}
}

TEST_F(PathAttributesTest, TimesAreSetToTheNanosecondOnTheEntryItself)
{
	const std::string file = Make("file");
	const std::string link = fRoot + "/link";
	fs::create_symlink("file", link);
	const plat::PathTime modified{ 1000000000, 123456789 };
	const plat::PathTime accessed{ 1200000000, 5 };
	const plat::PathTime created{ 900000000, 0 };
	// A creation time cannot be set: it is ignored.
	ASSERT_EQ(plat::SetTimeAttributes(file.c_str(), &modified, &created, &accessed), 0);
	ASSERT_EQ(plat::SetTimeAttributes(link.c_str(), &accessed, nullptr, nullptr), 0);
	struct
	{
		bool follow;
		plat::PathTime modified;
	} const cases[] = {
		{ true, modified },
		{ false, accessed },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.follow);
		plat::PathTime nowModified;
		plat::PathTime nowAccessed;
		ASSERT_EQ(plat::GetTimeAttributes(link.c_str(), testCase.follow, &nowModified, nullptr, &nowAccessed), 0);
		EXPECT_EQ(nowModified.seconds, testCase.modified.seconds);
		EXPECT_EQ(nowModified.nanoseconds, testCase.modified.nanoseconds);
		if (testCase.follow)
		{
			EXPECT_EQ(nowAccessed.seconds, accessed.seconds);
			EXPECT_EQ(nowAccessed.nanoseconds, accessed.nanoseconds);
		}
	}
	EXPECT_EQ(plat::SetTimeAttributes((fRoot + "/missing").c_str(), &modified, nullptr, nullptr), ENOENT);
}

TEST_F(PathAttributesTest, ForcedDeletionRemovesTheTreeAndNothingOutside)
{
	const bool canLock = CanLock();
	const std::string outside = fRoot + "/outside";
	fs::create_directories(outside + "/folder");
	Make("outside/folder/keep.txt");
	const std::string outsideFile = Make("outside/file.txt");
	chmod(outsideFile.c_str(), 0400);
	chmod((outside + "/folder").c_str(), 0500);
	for (const bool lockParent : { false, true })
	{
		SCOPED_TRACE(lockParent ? "locked parent" : "parent");
		if (lockParent && !canLock)
			continue;
		const std::string parent = fRoot + "/parent";
		const std::string tree = parent + "/tree";
		fs::create_directories(tree + "/ro/closed");
		for (const char* name : { "a.txt", "ro/file", "ro/closed/x", "locked.txt" })
			Make("parent/tree/" + std::string(name));
		ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);
		fs::create_symlink(outsideFile, tree + "/file-link");
		fs::create_directory_symlink(outside + "/folder", tree + "/folder-link");
		fs::create_symlink("nowhere", tree + "/dangling");
		chmod((tree + "/ro/file").c_str(), 0400);
		chmod((tree + "/ro/closed").c_str(), 0);
		chmod((tree + "/ro").c_str(), 0500);
		chmod(parent.c_str(), 0500);
		if (canLock)
		{
			for (const std::string& path : { tree + "/locked.txt", tree + "/ro/file", outsideFile })
				ASSERT_EQ(plat::SetPathAttributes(path.c_str(), false, plat::kPathLocked), 0);
		}
		if (lockParent)
		{
			ASSERT_EQ(plat::SetPathAttributes(parent.c_str(), false, plat::kPathLocked), 0);
		}

		int restoreError = -1;
		EXPECT_EQ(plat::DeleteForced(tree.c_str(), &restoreError), 0);
		EXPECT_EQ(restoreError, 0);
		EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
		// The parent is as it was; what the links named is untouched.
		EXPECT_EQ(ModeOf(parent), 0500u);
		EXPECT_EQ(IsLocked(parent), lockParent);
		EXPECT_EQ(Read(outsideFile), "kept");
		EXPECT_EQ(ModeOf(outsideFile), 0400u);
		EXPECT_EQ(IsLocked(outsideFile), canLock);
		EXPECT_EQ(Read(outside + "/folder/keep.txt"), "kept");
		EXPECT_EQ(ModeOf(outside + "/folder"), 0500u);
		plat::SetPathAttributes(parent.c_str(), false, 0);
		plat::SetPathAttributes(outsideFile.c_str(), false, 0);
		fs::remove_all(parent);
	}
}

TEST_F(PathAttributesTest, ForcedDeletionOfOtherPaths)
{
	fs::create_directories(fRoot + "/outside/inner");
	Make("outside/inner/keep.txt");
	fs::create_directory_symlink(fRoot + "/outside", fRoot + "/top-link");
	struct
	{
		std::string path;
		int error;
	} const cases[] = {
		// A link at the top is removed as a link, even written as a folder path.
		{ fRoot + "/top-link/", 0 },
		{ fRoot + "/missing", ENOENT },
		{ "/", EINVAL },
		{ fRoot + "/outside/..", EINVAL },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.path);
		EXPECT_EQ(plat::DeleteForced(testCase.path.c_str(), nullptr), testCase.error);
		EXPECT_EQ(Read(fRoot + "/outside/inner/keep.txt"), "kept");
	}
	EXPECT_FALSE(fs::exists(fs::symlink_status(fRoot + "/top-link")));
}

}  // namespace
