// The trash: names and info files in the home trash, the trashes of other volumes, and failures that must
// leave the item where it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/MountTable.h"
#include "platform/Trash.h"
#include "platform/TemporaryHomeTest.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether text has the shape of shape, where '9' stands for any digit.
bool HasShape(const std::string& text, const std::string& shape)
{
	if (text.size() != shape.size())
		return false;
	for (size_t i = 0; i < text.size(); ++i)
	{
		if (shape[i] == '9' ? text[i] < '0' || text[i] > '9' : text[i] != shape[i])
			return false;
	}
	return true;
}

bool IsEmptyOrMissing(const std::string& folder)
{
	std::error_code error;
	return !fs::exists(folder, error) || fs::is_empty(folder, error);
}

class TrashTest : public TemporaryHomeTest
{
protected:
	void TearDown() override
	{
		plat::SetMountInfoTextForTesting(std::nullopt);
		TemporaryHomeTest::TearDown();
	}

	// Checks the trashed entry and its info file: the recorded path and a local date and time.
	static void ExpectTrashed(const std::string& trash, const std::string& name, const std::string& recordedPath)
	{
		std::error_code error;
		EXPECT_TRUE(fs::exists(fs::symlink_status(trash + "/files/" + name, error))) << name;
		const std::string info = ReadFile(trash + "/info/" + name + ".trashinfo");
		const std::string head = "[Trash Info]\nPath=" + recordedPath + "\nDeletionDate=";
		EXPECT_EQ(info.substr(0, head.size()), head);
		EXPECT_TRUE(HasShape(info.substr(std::min(head.size(), info.size())), "9999-99-99T99:99:99\n")) << info;
	}
};

TEST_F(TrashTest, HomeTrashKeepsNamesAndRecordsTheOriginalPath)
{
	enum Kind
	{
		kFile,
		kFolder,
		kDanglingLink
	};
	std::string accented;  // 240 bytes: with ".txt", the longest name whose info file's name fits
	std::string encoded;
	for (int i = 0; i < 120; ++i)
	{
		accented += "\xC3\xA9";
		encoded += "%C3%A9";
	}
	struct
	{
		std::string name;
		Kind kind;
		std::string trashName;
		std::string encoded;
	} const cases[] = {
		{ "a.txt", kFile, "a.txt", "a.txt" },
		{ "a.txt", kFile, "a.2.txt", "a.txt" },
		{ "a.txt", kFolder, "a.3.txt", "a.txt" },
		{ "notes", kFile, "notes", "notes" },
		{ ".profile", kFile, ".profile", ".profile" },
		{ ".profile", kFile, ".profile.2", ".profile" },
		// A file left in files/ without its info file holds its name.
		{ "orphan.txt", kFile, "orphan.2.txt", "orphan.txt" },
		{ "100% \xC3\xA9.txt", kFile, "100% \xC3\xA9.txt", "100%25%20%C3%A9.txt" },
		{ "link", kDanglingLink, "link", "link" },
		// Longer names are cut, never inside a character.
		{ accented + ".txt", kFile, accented + ".txt", encoded + ".txt" },
		{ accented + ".txt", kFile, accented.substr(0, 238) + ".2.txt", encoded + ".txt" },
	};
	const std::string trash = fHome + "/.local/share/Trash";
	fs::create_directories(trash + "/files");
	std::ofstream(trash + "/files/orphan.txt") << "older";
	const std::string folder = fRoot + "/my docs";
	fs::create_directory(folder);
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.trashName);
		const std::string item = folder + "/" + testCase.name;
		if (testCase.kind == kFile)
			std::ofstream(item) << testCase.trashName;
		else if (testCase.kind == kFolder)
			fs::create_directories(item + "/inside");
		else
			fs::create_symlink("nowhere/at all", item);
		ASSERT_EQ(plat::MoveToTrash(item.c_str()), 0);
		std::error_code error;
		EXPECT_FALSE(fs::exists(fs::symlink_status(item, error)));
		ExpectTrashed(trash, testCase.trashName, fRoot + "/my%20docs/" + testCase.encoded);
		const std::string trashed = trash + "/files/" + testCase.trashName;
		if (testCase.kind == kFile)
			EXPECT_EQ(ReadFile(trashed), testCase.trashName);
		else if (testCase.kind == kFolder)
			EXPECT_TRUE(fs::is_directory(trashed + "/inside"));
		else
			EXPECT_EQ(fs::read_symlink(trashed, error), "nowhere/at all");
	}
	EXPECT_EQ(ReadFile(trash + "/files/orphan.txt"), "older");
}

TEST_F(TrashTest, FailuresLeaveTheItemAndNoInfoFile)
{
	fs::create_directory(fRoot + "/kept");
	struct
	{
		std::string path;
		int error;
	} const cases[] = {
		{ fRoot + "/missing", ENOENT },
		{ "/", EINVAL },
		{ fRoot + "/kept/..", EINVAL },
		// The home folder holds the trash: it cannot move into it.
		{ fHome, EINVAL },
		{ fHome + "/", EINVAL },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.path);
		EXPECT_EQ(plat::MoveToTrash(testCase.path.c_str()), testCase.error);
		EXPECT_TRUE(IsEmptyOrMissing(fHome + "/.local/share/Trash/info"));
		EXPECT_TRUE(IsEmptyOrMissing(fHome + "/.local/share/Trash/files"));
	}
	EXPECT_TRUE(fs::is_directory(fHome));
	EXPECT_TRUE(fs::is_directory(fRoot + "/kept"));
}

TEST_F(TrashTest, OtherVolumesUseTheirOwnTrash)
{
	// The mount table says the folder "volume" is a mount point of its own.
	const std::string volume = fRoot + "/volume";
	plat::SetMountInfoTextForTesting("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 8:2 / " + volume + " rw - ext4 /dev/sdb1 rw\n");
	const std::string uid = std::to_string(geteuid());
	enum Setup
	{
		kNothing,
		kSharedSticky,
		kSharedNotSticky,
		kSharedIsLink,
		kOwnIsLink
	};
	struct
	{
		Setup setup;
		int error;
		std::string trash;  // under the volume
	} const cases[] = {
		{ kNothing, 0, ".Trash-" + uid },
		{ kSharedSticky, 0, ".Trash/" + uid },
		{ kSharedNotSticky, 0, ".Trash-" + uid },
		{ kSharedIsLink, 0, ".Trash-" + uid },
		{ kOwnIsLink, ENOTDIR, "" },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.setup);
		fs::remove_all(volume);
		fs::remove_all(fRoot + "/elsewhere");
		fs::create_directories(volume + "/dir");
		fs::create_directories(fRoot + "/elsewhere");
		fs::permissions(fRoot + "/elsewhere", fs::perms(01777));
		if (testCase.setup == kSharedSticky || testCase.setup == kSharedNotSticky)
		{
			fs::create_directory(volume + "/.Trash");
			fs::permissions(volume + "/.Trash", fs::perms(testCase.setup == kSharedSticky ? 01777 : 0777));
		}
		else if (testCase.setup == kSharedIsLink)
			fs::create_directory_symlink(fRoot + "/elsewhere", volume + "/.Trash");
		else if (testCase.setup == kOwnIsLink)
			fs::create_directory_symlink(fRoot + "/elsewhere", volume + "/.Trash-" + uid);
		const std::string item = volume + "/dir/x.txt";
		std::ofstream(item) << "x";

		EXPECT_EQ(plat::MoveToTrash(item.c_str()), testCase.error);
		// Whatever happens, nothing reaches a folder a link names.
		EXPECT_TRUE(fs::is_empty(fRoot + "/elsewhere"));
		if (testCase.error != 0)
		{
			EXPECT_EQ(ReadFile(item), "x");
			continue;
		}
		ExpectTrashed(volume + "/" + testCase.trash, "x.txt", "dir/x.txt");
		struct stat status;
		ASSERT_EQ(lstat((volume + "/" + testCase.trash).c_str(), &status), 0);
		EXPECT_EQ(status.st_mode & 07777, 0700u);
		EXPECT_TRUE(IsEmptyOrMissing(fHome + "/.local/share/Trash/files"));
	}
}

TEST_F(TrashTest, AnItemOnAnotherFileSystemIsNeverCopied)
{
	char pattern[] = "/dev/shm/velk-trash-XXXXXX";
	if (mkdtemp(pattern) == nullptr)
		GTEST_SKIP() << "no second writable file system at /dev/shm";
	const std::string other = pattern;
	struct stat otherStatus;
	struct stat homeStatus;
	if (stat(other.c_str(), &otherStatus) != 0 || stat(fHome.c_str(), &homeStatus) != 0 || otherStatus.st_dev == homeStatus.st_dev)
	{
		fs::remove_all(other);
		GTEST_SKIP() << "/dev/shm is on the home folder's file system";
	}
	// A table that puts everything on one mount sends the item to the home trash: the rename must fail
	// rather than copy.
	plat::SetMountInfoTextForTesting(std::string("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"));
	const std::string item = other + "/x.txt";
	std::ofstream(item) << "content";
	EXPECT_EQ(plat::MoveToTrash(item.c_str()), EXDEV);
	EXPECT_EQ(ReadFile(item), "content");
	EXPECT_TRUE(IsEmptyOrMissing(fHome + "/.local/share/Trash/info"));
	EXPECT_TRUE(IsEmptyOrMissing(fHome + "/.local/share/Trash/files"));
	fs::remove_all(other);
}

// A file where the home trash should be makes the Trash unusable: the item stays where it is, and no other
// trash (the volume's top) takes it instead.
TEST_F(TrashTest, AFileInPlaceOfTheHomeTrashRefusesTheItem)
{
	fs::create_directories(fHome + "/.local/share");
	std::ofstream(fHome + "/.local/share/Trash") << "not a folder";
	const std::string item = fRoot + "/item.txt";
	std::ofstream(item) << "kept";
	EXPECT_EQ(plat::MoveToTrash(item.c_str()), ENOTDIR);
	EXPECT_TRUE(fs::is_regular_file(item));
	EXPECT_TRUE(fs::is_regular_file(fHome + "/.local/share/Trash"));
}

// Records left by a trash that was cut short go, and only they: a record of the same path whose item
// arrived, another path's record and a record without its item of another path all stay.
TEST_F(TrashTest, OrphanRecordsOfAPathAreRemoved)
{
	const std::string trash = fHome + "/.local/share/Trash";
	const std::string item = fRoot + "/App_old0001.app";
	struct Record
	{
		std::string name;
		std::string path;  // as recorded
		bool itemThere;
		bool removed;
	};
	const Record records[] = {
		{ "App_old0001.app", item, false, true },
		{ "App_old0001.2.app", item, false, true },
		{ "App_old0001.3.app", item, true, false },
		{ "Other.app", fRoot + "/Other.app", false, false },
		{ "App_old0001.4.app", item + "x", false, false },
	};
	for (const bool itemStands : { false, true })
	{
		SCOPED_TRACE(itemStands ? "the item still stands" : "the item is gone");
		fs::remove_all(trash);
		fs::create_directories(trash + "/info");
		fs::create_directories(trash + "/files");
		for (const Record& record : records)
		{
			std::ofstream(trash + "/info/" + record.name + ".trashinfo")
				<< "[Trash Info]\nPath=" << record.path << "\nDeletionDate=2026-01-01T00:00:00\n";
			if (record.itemThere)
				fs::create_directory(trash + "/files/" + record.name);
		}
		if (itemStands)
			fs::create_directory(item);
		EXPECT_EQ(plat::RemoveOrphanTrashRecords(item.c_str()), 0);
		for (const Record& record : records)
			EXPECT_EQ(fs::exists(trash + "/info/" + record.name + ".trashinfo"), !record.removed) << record.name;
		EXPECT_EQ(fs::is_directory(item), itemStands);
		// The item then goes to the trash under its first name again.
		if (itemStands)
		{
			EXPECT_EQ(plat::MoveToTrash(item.c_str()), 0);
			ExpectTrashed(trash, "App_old0001.app", item);
		}
		fs::remove_all(item);
	}
	// No trash at all: nothing to do, and nothing made.
	fs::remove_all(trash);
	EXPECT_EQ(plat::RemoveOrphanTrashRecords(item.c_str()), 0);
	EXPECT_FALSE(fs::exists(trash));
}

}  // namespace
