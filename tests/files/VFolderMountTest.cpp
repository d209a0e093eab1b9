// Folder copies and deletions over trees that hold other file systems (a memory volume, a folder bound
// there): a deletion or a replacing copy never removes anything of another mount and is refused before it
// removes anything, naming the mount; a copy that would write into its own source, reached through a bind
// mount, is refused before it writes anything, whatever the options. Mounting needs root: refused, the tests
// skip.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "common/VTestFileSystem.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

constexpr VError kCopyIntoItself = MakeVError(kVELK_SIGNATURE, 660);

class VFolderMountTest : public test::VTemporaryFolderTest
{
public:
	void Put(const std::string& name, const std::string& bytes) const
	{
		fs::create_directories(fs::path(fRoot + name).parent_path());
		std::ofstream(fRoot + name) << bytes;
	}

	VRefPtr<VFolder> Folder(const std::string& name) const
	{
		return VRefPtr<VFolder>(new VFolder(VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX)), true);
	}

	// Every entry below the folder, mounts crossed, links not followed.
	std::map<std::string, std::string> Snapshot(const std::string& name) const
	{
		return test::SnapshotTree(fRoot + name);
	}

	std::vector<std::string> Names(const std::string& name) const
	{
		std::vector<std::string> names;
		for (const fs::directory_entry& entry : fs::directory_iterator(fRoot + name))
			names.push_back(entry.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

	// The POSIX path of the last file error on the task, "" when there is none.
	static std::string LastErrorPath(StErrorContextInstaller& errors)
	{
		const auto* error = dynamic_cast<const VFileError*>(errors.GetLast());
		return error != nullptr ? to_string(error->GetFilePath().GetPath(FPS_POSIX)) : std::string();
	}
};

// Deleting a tree with a mount inside is refused, naming the mount, with nothing deleted: the deletion of
// a folder with its contents, of its contents alone, and the forced one; and the replacing copy, whose old
// target would be deleted.
TEST_F(VFolderMountTest, AMountInsideIsNamedAndNothingIsDeleted)
{
	struct Mount
	{
		const char* name;
		const char* boundFolder;  // null: a memory volume
	};
	const Mount mounts[] = { { "memory volume", nullptr }, { "bound folder", "elsewhere" } };
	struct Operation
	{
		const char* name;
		std::function<VError(const VFolderMountTest&)> run;
	};
	const Operation operations[] = {
		{ "Delete with contents", [](const VFolderMountTest& test) { return test.Folder("dest/App.app")->Delete(true); } },
		{ "DeleteContents", [](const VFolderMountTest& test) { return test.Folder("dest/App.app")->DeleteContents(true); } },
		{ "DeleteForced", [](const VFolderMountTest& test) { return test.Folder("dest/App.app")->DeleteForced(); } },
		{ "replacing copy", [](const VFolderMountTest& test) { return test.Folder("App.app")->CopyTo(*test.Folder("dest"), nullptr, eFCOPY_REPLACE); } },
	};
	Put("App.app/Contents/Info.plist", "new");
	Put("elsewhere/kept.txt", "kept");
	for (const Mount& mount : mounts)
	{
		for (const Operation& operation : operations)
		{
			SCOPED_TRACE(std::string(mount.name) + ", " + operation.name);
			Put("dest/App.app/Contents/Info.plist", "old");
			const std::string point = fRoot + "dest/App.app/Contents/data";
			{
				test::StTemporaryVolume volume(point, "64k", mount.boundFolder != nullptr ? fRoot + mount.boundFolder : std::string());
				if (!volume.IsMounted())
					GTEST_SKIP() << "mounting a file system is refused here";
				if (mount.boundFolder == nullptr)
					Put("dest/App.app/Contents/data/precious.txt", "precious");
				const auto before = Snapshot("dest");

				StErrorContextInstaller errors(false);
				EXPECT_NE(operation.run(*this), VE_OK);
				EXPECT_NE(errors.Find(MakePosixError(EBUSY)), nullptr);
				EXPECT_EQ(LastErrorPath(errors), point + "/");
				EXPECT_EQ(Snapshot("dest"), before);
				EXPECT_EQ(Names("dest"), std::vector<std::string>{ "App.app" });
			}
			EXPECT_EQ(Snapshot("elsewhere"), (std::map<std::string, std::string>{ { "kept.txt", "kept" } }));
			fs::remove_all(fRoot + "dest");
		}
	}
	// Without the mount, the same replacing copy goes through.
	Put("dest/App.app/Contents/Info.plist", "old");
	EXPECT_EQ(Folder("App.app")->CopyTo(*Folder("dest"), nullptr, eFCOPY_REPLACE), VE_OK);
	EXPECT_EQ(Snapshot("dest/App.app"), Snapshot("App.app"));
}

// A copy that would write into its own source, seen only through a bind mount, is refused before anything is
// written, even asked to go on after errors; and the source is never deleted.
TEST_F(VFolderMountTest, ACopyIntoItsSourceThroughABindMountIsRefusedBeforeItWrites)
{
	struct Row
	{
		const char* name;
		const char* bound;  // the folder bound, at "dest/App.app/mnt" or, for a destination, at "bound"
		bool boundInTarget;  // bound inside the target, else as the destination
		const char* destination;
		uint32 options;
	};
	const Row rows[] = {
		// The source reached through a bind mount inside the target, which the replacing copy would delete.
		{ "the source bound inside the target", "src", true, "dest", eFCOPY_REPLACE },
		{ "the source's folder bound inside the target", "", true, "dest", eFCOPY_REPLACE },
		{ "a folder of the source bound inside the target", "src/sub", true, "dest", eFCOPY_REPLACE },
		// The destination a bind of a folder of the source: written into, it would change the source.
		{ "destination a bind of a sub-folder", "src/sub", false, "bound", 0 },
		{ "destination a bind of a sub-folder, going on after errors", "src/sub", false, "bound", eFCOPY_CONTINUE_ON_ERROR },
		{ "destination a bind of a sub-folder, replacing", "src/sub", false, "bound", eFCOPY_REPLACE },
		{ "destination below a bind of a sub-folder", "src/sub", false, "bound/deeper", eFCOPY_CONTINUE_ON_ERROR },
	};
	Put("src/a.txt", "a");
	Put("src/sub/b.txt", "b");
	Put("src/sub/deeper/c.txt", "c");
	Put("src/other/d.txt", "d");
	const auto source = Snapshot("src");
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		if (row.boundInTarget)
			Put("dest/src/old.txt", "old");
		const std::string point = fRoot + (row.boundInTarget ? "dest/src/mnt" : "bound");
		{
			test::StTemporaryVolume volume(point, std::string(), fRoot + row.bound);
			if (!volume.IsMounted())
				GTEST_SKIP() << "mounting a file system is refused here";
			const auto before = Snapshot(row.boundInTarget ? "dest" : "bound");
			StErrorContextInstaller errors(false);
			EXPECT_EQ(Folder("src")->CopyTo(*Folder(row.destination), nullptr, row.options), kCopyIntoItself);
			EXPECT_NE(errors.Find(kCopyIntoItself), nullptr);
			EXPECT_EQ(Snapshot(row.boundInTarget ? "dest" : "bound"), before);
			if (row.boundInTarget)
			{
				EXPECT_EQ(Names("dest"), std::vector<std::string>{ "src" });
			}
			// Contents copied into a folder bound from the source are refused the same way.
			if (!row.boundInTarget)
			{
				EXPECT_EQ(Folder("src")->CopyContentsTo(*Folder(row.destination), row.options), kCopyIntoItself);
			}
		}
		EXPECT_EQ(Snapshot("src"), source);
		std::error_code ignored;
		fs::remove_all(fRoot + "dest", ignored);
	}
}

}  // namespace
}  // namespace velk
