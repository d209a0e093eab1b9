// Removals of whole trees while another thread keeps swapping one of their folders for a link to a folder
// outside, and removals of trees that hold a mount: nothing outside the tree is ever removed, and a mount
// inside stops the removal before anything goes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "common/VTestFileSystem.h"
#include "platform/FolderWalk.h"
#include "platform/MountTable.h"
#include "platform/PathAttributes.h"
#include "platform/TreeRemoval.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRaceRuns = 100;

// One way of removing a tree: plain, forced, or the folder's contents only.
struct Removal
{
	const char* name;
	std::function<int(const std::string&, plat::RemovalFailure&)> remove;
	bool keepsTop;
};

const Removal kRemovals[] = {
	{ "RemoveTree", [](const std::string& path, plat::RemovalFailure& failure) { return plat::RemoveTree(path.c_str(), plat::RemovalOptions(), &failure); }, false },
	{ "DeleteForced", [](const std::string& path, plat::RemovalFailure& failure) { return plat::DeleteForced(path.c_str(), nullptr, &failure); }, false },
	{ "contents only",
		[](const std::string& path, plat::RemovalFailure& failure) {
			plat::RemovalOptions options;
			options.contentsOnly = true;
			return plat::RemoveTree(path.c_str(), options, &failure);
		},
		true },
};

class TreeRemovalTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-removal-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
		fs::create_directories(fRoot + "/outside/inner");
		for (int i = 0; i < 20; ++i)
			Write("outside/inner/kept" + std::to_string(i), "outside " + std::to_string(i));
		// Named as the files of the tree, so that a path through the link would find them.
		for (int i = 0; i < 5; ++i)
			Write("outside/f" + std::to_string(i), "secret");
		fOutside = Snapshot("outside");
	}

	void TearDown() override
	{
		plat::SetOpenWithoutResolveFlagsForTesting(false);
		plat::SetMountInfoTextForTesting(std::nullopt);
		std::error_code ignored;
		fs::remove_all(fRoot, ignored);
	}

	void Write(const std::string& name, const std::string& bytes) const
	{
		std::ofstream(fRoot + "/" + name) << bytes;
	}

	// Four folders of five files, a hidden file, a FIFO and a link to the folder outside.
	void MakeTree() const
	{
		for (int folder = 0; folder < 4; ++folder)
		{
			const std::string name = "tree/d" + std::to_string(folder);
			fs::create_directories(fRoot + "/" + name);
			for (int file = 0; file < 5; ++file)
				Write(name + "/f" + std::to_string(file), "tree");
		}
		Write("tree/.hidden", "h");
		mkfifo((fRoot + "/tree/fifo").c_str(), 0600);
		fs::create_directory_symlink(fRoot + "/outside", fRoot + "/tree/link");
	}

	// Every entry below the folder, mounts crossed, links not followed.
	std::map<std::string, std::string> Snapshot(const std::string& name) const
	{
		return velk::test::SnapshotTree(fRoot + "/" + name);
	}

	std::string fRoot;
	std::map<std::string, std::string> fOutside;
};

// Another thread keeps exchanging tree/d3 with tree/link, a link to the folder outside: whatever the walk
// met at either name, it never removed anything outside.
TEST_F(TreeRemovalTest, NothingOutsideGoesWhileAFolderIsSwappedForALink)
{
	for (const bool withoutResolveFlags : { false, true })
	{
		plat::SetOpenWithoutResolveFlagsForTesting(withoutResolveFlags);
		for (const Removal& removal : kRemovals)
		{
			SCOPED_TRACE(std::string(removal.name) + (withoutResolveFlags ? ", one name at a time" : ", openat2"));
			int removed = 0;
			for (int run = 0; run < kRaceRuns; ++run)
			{
				MakeTree();
				int result = 0;
				plat::RemovalFailure failure;
				{
					velk::test::StEntrySwapper swapper(fRoot + "/tree/d3", fRoot + "/tree/link");
					ASSERT_GT(swapper.Swaps(), 0);
					result = removal.remove(fRoot + "/tree", failure);
				}
				ASSERT_EQ(Snapshot("outside"), fOutside) << "run " << run << ": " << std::strerror(result) << " at " << failure.path;
				if (result == 0)
				{
					++removed;
					EXPECT_EQ(fs::exists(fs::symlink_status(fRoot + "/tree")), removal.keepsTop);
					EXPECT_TRUE(Snapshot("tree").empty());
				}
				std::error_code ignored;
				fs::remove_all(fRoot + "/tree", ignored);
			}
			// The walk takes each name as what it is when it gets there: the race ends in a whole removal.
			EXPECT_GT(removed, kRaceRuns / 2);
		}
	}
}

// A file system mounted inside the tree (another volume, or a folder bound there) stops every removal
// before anything is removed, and the failure names the mount. Told of no mount, the walk still stops at it.
TEST_F(TreeRemovalTest, AMountInsideStopsTheRemovalBeforeAnythingGoes)
{
	struct Mount
	{
		const char* name;
		const char* boundFolder;  // null: a memory volume
		bool tableHidesIt;
	};
	const Mount mounts[] = {
		{ "memory volume", nullptr, false },
		{ "bound folder", "outside", false },
		{ "memory volume the table does not show", nullptr, true },
	};
	for (const Mount& mount : mounts)
	{
		for (const Removal& removal : kRemovals)
		{
			SCOPED_TRACE(std::string(mount.name) + ", " + removal.name);
			MakeTree();
			{
				const std::string point = fRoot + "/tree/d1/mount";
				velk::test::StTemporaryVolume volume(point, "64k", mount.boundFolder != nullptr ? fRoot + "/" + mount.boundFolder : std::string());
				if (!volume.IsMounted())
					GTEST_SKIP() << "mounting a file system is refused here";
				if (mount.boundFolder == nullptr)
					Write("tree/d1/mount/precious.txt", "precious");
				const auto mounted = Snapshot("tree/d1/mount");
				const auto before = Snapshot("tree");
				if (mount.tableHidesIt)
					plat::SetMountInfoTextForTesting(std::string());

				plat::RemovalFailure failure;
				EXPECT_EQ(removal.remove(fRoot + "/tree", failure), EBUSY);
				plat::SetMountInfoTextForTesting(std::nullopt);
				EXPECT_EQ(failure.path, point);
				EXPECT_TRUE(failure.atMount);
				EXPECT_EQ(Snapshot("tree/d1/mount"), mounted);
				EXPECT_EQ(Snapshot("outside"), fOutside);
				// Looked up first, the mount leaves the whole tree as it was.
				if (!mount.tableHidesIt)
				{
					EXPECT_EQ(Snapshot("tree"), before);
				}
			}
			std::error_code ignored;
			fs::remove_all(fRoot + "/tree", ignored);
		}
	}
}

}  // namespace
