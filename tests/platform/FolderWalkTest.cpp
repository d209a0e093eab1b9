// The steps of walks over trees that others may change: opening below a folder never through a link nor,
// when asked, into another mount, with openat2 and as on a kernel without it; listings with their kinds; and
// counting a tree's entries.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "common/VTestFileSystem.h"
#include "platform/FolderWalk.h"

namespace {

namespace fs = std::filesystem;

class FolderWalkTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-folderwalk-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
		fs::create_directories(fRoot + "/top/dir/deeper");
		std::ofstream(fRoot + "/top/dir/file") << "in";
		std::ofstream(fRoot + "/top/file") << "top";
		fs::create_directories(fRoot + "/outside/inner");
		std::ofstream(fRoot + "/outside/inner/secret") << "secret";
		fs::create_directory_symlink(fRoot + "/outside", fRoot + "/top/link");
		fs::create_symlink("file", fRoot + "/top/dir/filelink");
		ASSERT_EQ(mkfifo((fRoot + "/top/fifo").c_str(), 0600), 0);
		fTop = open((fRoot + "/top").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		ASSERT_GE(fTop, 0);
	}

	void TearDown() override
	{
		plat::SetOpenWithoutResolveFlagsForTesting(false);
		if (fTop >= 0)
			close(fTop);
		std::error_code ignored;
		fs::remove_all(fRoot, ignored);
	}

	std::string fRoot;
	int fTop = -1;
};

TEST_F(FolderWalkTest, OpeningBelowAFolderNeverFollowsALink)
{
	velk::test::StTemporaryVolume volume(fRoot + "/top/mount", "64k");
	struct Row
	{
		const char* name;
		bool subFolder;  // OpenSubFolder, else OpenBelow for reading
		bool sameMount;
		int error;
	};
	const Row rows[] = {
		{ "dir", true, true, 0 },
		{ "link", true, false, ELOOP },
		{ "file", true, false, ENOTDIR },
		{ "fifo", true, false, ENOTDIR },
		{ "missing", true, false, ENOENT },
		{ "mount", true, false, 0 },
		{ "mount", true, true, EXDEV },
		{ "dir/file", false, false, 0 },
		{ "link/inner/secret", false, false, ELOOP },
		{ "dir/filelink", false, false, ELOOP },
		{ "../top/file", false, false, EXDEV },
	};
	for (const bool withoutResolveFlags : { false, true })
	{
		plat::SetOpenWithoutResolveFlagsForTesting(withoutResolveFlags);
		for (const Row& row : rows)
		{
			SCOPED_TRACE(std::string(row.name) + (withoutResolveFlags ? ", one name at a time" : ", openat2"));
			if (std::string(row.name) == "mount" && !volume.IsMounted())
				continue;
			// Names one at a time cannot tell "..": only openat2 refuses to leave the folder.
			if (std::string(row.name).rfind("..", 0) == 0 && withoutResolveFlags)
				continue;
			int descriptor = -1;
			const int error = row.subFolder ? plat::OpenSubFolder(fTop, row.name, row.sameMount, descriptor)
											: plat::OpenBelow(fTop, row.name, O_RDONLY, 0, descriptor);
			EXPECT_EQ(error, row.error) << std::strerror(error);
			EXPECT_EQ(descriptor >= 0, row.error == 0);
			if (descriptor >= 0)
				close(descriptor);
		}
	}
}

TEST_F(FolderWalkTest, ListingsGiveEveryEntryWithItsKind)
{
	std::vector<plat::FolderEntry> entries;
	ASSERT_EQ(plat::ListFolder(fTop, entries), 0);
	std::vector<std::pair<std::string, plat::EntryKind>> seen;
	for (const plat::FolderEntry& entry : entries)
		seen.emplace_back(entry.name, entry.kind);
	std::sort(seen.begin(), seen.end());
	// tmpfs and ext4 both say what an entry is.
	const std::vector<std::pair<std::string, plat::EntryKind>> expected = {
		{ "dir", plat::EntryKind::kFolder },
		{ "fifo", plat::EntryKind::kSpecial },
		{ "file", plat::EntryKind::kFile },
		{ "link", plat::EntryKind::kLink },
	};
	EXPECT_EQ(seen, expected);
	// The listing read the folder to its end; read again from the start it gives the same.
	ASSERT_EQ(lseek(fTop, 0, SEEK_SET), 0);
	ASSERT_EQ(plat::ListFolder(fTop, entries), 0);
	EXPECT_EQ(entries.size(), expected.size());
}

TEST_F(FolderWalkTest, CountingATreeFollowsNoLinkAndEntersNoMount)
{
	velk::test::StTemporaryVolume volume(fRoot + "/top/mount", "64k");
	if (volume.IsMounted())
		std::ofstream(fRoot + "/top/mount/hidden-by-the-mount") << "x";
	struct Row
	{
		std::string path;
		int64_t count;
	};
	const std::vector<Row> rows = {
		// top, dir, deeper, dir/file, dir/filelink, file, link, fifo and mount, without what is mounted there.
		{ fRoot + "/top", 9 },
		{ fRoot + "/top/link", 1 },
		{ fRoot + "/top/file", 1 },
		{ fRoot + "/missing", 0 },
		{ fRoot + "/outside", 3 },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.path);
		EXPECT_EQ(plat::CountTreeEntries(row.path.c_str()), row.count);
	}
}

}  // namespace
