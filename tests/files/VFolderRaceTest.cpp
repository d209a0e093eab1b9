// Folder deletions and copies while another thread keeps exchanging a sub-folder of the tree with a link to
// a folder outside it: whatever the walk meets at either name, nothing outside is removed, and nothing of it
// is copied.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "common/VTestFileSystem.h"
#include "files/VFolder.h"
#include "platform/FolderWalk.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

constexpr int kRaceRuns = 100;

class VFolderRaceTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		fs::create_directories(fRoot + "outside/inner");
		for (int i = 0; i < 10; ++i)
			Put("outside/inner/kept" + std::to_string(i), "outside");
		// Named as the files of the tree, so that a path through the link would find them.
		for (int i = 0; i < 5; ++i)
			Put("outside/f" + std::to_string(i), "secret");
		fOutside = Snapshot("outside");
	}

	void TearDown() override
	{
		plat::SetOpenWithoutResolveFlagsForTesting(false);
		VTemporaryFolderTest::TearDown();
	}

	void Put(const std::string& name, const std::string& bytes) const
	{
		std::ofstream(fRoot + name) << bytes;
	}

	VRefPtr<VFolder> Folder(const std::string& name) const
	{
		return VRefPtr<VFolder>(new VFolder(VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX)), true);
	}

	// Four folders of five files and a link to the folder outside.
	void MakeTree(const std::string& name) const
	{
		for (int folder = 0; folder < 4; ++folder)
		{
			const std::string path = name + "/d" + std::to_string(folder);
			fs::create_directories(fRoot + path);
			for (int file = 0; file < 5; ++file)
				Put(path + "/f" + std::to_string(file), "tree");
		}
		fs::create_directory_symlink(fRoot + "outside", fRoot + name + "/link");
	}

	// Every entry below the folder, mounts crossed, links not followed.
	std::map<std::string, std::string> Snapshot(const std::string& name) const
	{
		return test::SnapshotTree(fRoot + name);
	}

	// Whether a file of the folder's tree holds the outside's secret.
	bool HoldsTheSecret(const std::string& name) const
	{
		for (const auto& [path, content] : Snapshot(name))
		{
			if (content == "secret" || content == "outside")
				return true;
		}
		return false;
	}

	std::map<std::string, std::string> fOutside;
};

TEST_F(VFolderRaceTest, DeletionsNeverReachOutsideTheTree)
{
	struct Row
	{
		const char* name;
		std::function<VError(const VFolder&)> remove;
		bool keepsTop;
	};
	const Row rows[] = {
		{ "Delete with contents", [](const VFolder& folder) { return folder.Delete(true); }, false },
		{ "DeleteForced", [](const VFolder& folder) { return folder.DeleteForced(); }, false },
		{ "DeleteContents", [](const VFolder& folder) { return folder.DeleteContents(true); }, true },
	};
	for (const bool withoutResolveFlags : { false, true })
	{
		plat::SetOpenWithoutResolveFlagsForTesting(withoutResolveFlags);
		for (const Row& row : rows)
		{
			SCOPED_TRACE(std::string(row.name) + (withoutResolveFlags ? ", one name at a time" : ", openat2"));
			int removed = 0;
			for (int run = 0; run < kRaceRuns; ++run)
			{
				MakeTree("tree");
				VError result = VE_OK;
				{
					StErrorContextInstaller errors(false);
					test::StEntrySwapper swapper(fRoot + "tree/d3", fRoot + "tree/link");
					ASSERT_GT(swapper.Swaps(), 0);
					result = row.remove(*Folder("tree"));
				}
				ASSERT_EQ(Snapshot("outside"), fOutside) << "run " << run;
				if (result == VE_OK)
				{
					++removed;
					EXPECT_EQ(fs::exists(fs::symlink_status(fRoot + "tree")), row.keepsTop);
					EXPECT_TRUE(Snapshot("tree").empty());
				}
				fs::remove_all(fRoot + "tree");
			}
			EXPECT_GT(removed, kRaceRuns / 2);
		}
	}
}

// The copies exchange src/d1 with src/link: the copy may hold either under either name (a link stays a
// link), or fail, but never a file read through the link.
TEST_F(VFolderRaceTest, CopiesNeverCopyWhatIsOutsideTheTree)
{
	struct Row
	{
		const char* name;
		uint32 options;
		bool targetExists;
	};
	const Row rows[] = {
		{ "item by item", 0, false },
		{ "item by item, going on after errors", eFCOPY_CONTINUE_ON_ERROR, false },
		{ "native, to a new target", eFCOPY_REPLACE, false },
		{ "native, replacing a target", eFCOPY_REPLACE, true },
	};
	MakeTree("src");
	for (const bool withoutResolveFlags : { false, true })
	{
		plat::SetOpenWithoutResolveFlagsForTesting(withoutResolveFlags);
		for (const Row& row : rows)
		{
			SCOPED_TRACE(std::string(row.name) + (withoutResolveFlags ? ", one name at a time" : ", openat2"));
			int copied = 0;
			for (int run = 0; run < kRaceRuns; ++run)
			{
				fs::create_directories(fRoot + "dest");
				if (row.targetExists)
				{
					fs::create_directories(fRoot + "dest/src");
					Put("dest/src/old", "old");
				}
				VError result = VE_OK;
				{
					StErrorContextInstaller errors(false);
					test::StEntrySwapper swapper(fRoot + "src/d1", fRoot + "src/link");
					ASSERT_GT(swapper.Swaps(), 0);
					result = Folder("src")->CopyTo(*Folder("dest"), nullptr, row.options);
				}
				ASSERT_FALSE(HoldsTheSecret("dest")) << "run " << run;
				ASSERT_EQ(Snapshot("outside"), fOutside) << "run " << run;
				if (result == VE_OK)
				{
					++copied;
					// The folders nobody swapped are copied whole.
					const auto copy = Snapshot("dest/src");
					for (const char* folder : { "d0", "d2", "d3" })
					{
						for (int file = 0; file < 5; ++file)
							EXPECT_EQ(copy.count(std::string(folder) + "/f" + std::to_string(file)), 1u) << "run " << run;
					}
				}
				fs::remove_all(fRoot + "dest");
			}
			EXPECT_GT(copied, 0);
		}
	}
}

}  // namespace
}  // namespace velk
