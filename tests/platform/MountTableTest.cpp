// The mount table: mountinfo texts parsed line by line, the hooks that stand in for the process's table and
// clock, and the mount that holds a path.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/MountTable.h"

namespace {

// An entry as "id parent root mountPoint source type options".
std::string Describe(const plat::MountEntry& e)
{
	return std::to_string(e.mountId) + " " + std::to_string(e.parentId) + " " + e.root + " " + e.mountPoint + " " + e.source + " " +
		e.fileSystemType + " " + e.options;
}

std::string Line(int id, const std::string& mountPoint, const char* type)
{
	return std::to_string(id) + " 1 0:" + std::to_string(id) + " / " + mountPoint + " rw - " + type + " none rw\n";
}

TEST(MountTableTest, ParsesMountInfoLines)
{
	const std::string root = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n";
	const std::string rootEntry = "22 1 / / /dev/sda1 ext4 rw,relatime,errors=remount-ro";
	struct
	{
		std::string text;
		int result;
		std::vector<std::string> entries;
	} const cases[] = {
		{ "", 0, {} },
		{ root + "41 22 0:5 / /proc rw,nosuid - proc proc rw\n", 0, { rootEntry, "41 22 / /proc proc proc rw,nosuid" } },
		{ "50 22 0:40 / /mnt/a rw shared:2 master:3 propagate_from:4 - tmpfs tmpfs rw\n", 0, { "50 22 / /mnt/a tmpfs tmpfs rw" } },
		{ "60 22 8:2 / /mnt/my\\040disk\\011x\\134y rw - ext4 /dev/sdb\\0401 rw\n", 0, { "60 22 / /mnt/my disk\tx\\y /dev/sdb 1 ext4 rw" } },
		// A bind mount shows a folder of a file system already mounted.
		{ root + "70 22 8:1 /srv/data /mnt/bound rw shared:1 - ext4 /dev/sda1 rw\n", 0, { rootEntry, "70 22 /srv/data /mnt/bound /dev/sda1 ext4 rw" } },
		{ root + "not a mount\n", EINVAL, {} },
		{ "22 1 8:1 / / rw shared:1 ext4 /dev/sda1 rw\n", EINVAL, {} },
		{ "22 1 8:1 / / rw - ext4\n", EINVAL, {} },
		{ "/dev/sda1 / ext4 defaults 0 1\n", EINVAL, {} },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testCase.text);
		std::vector<plat::MountEntry> entries(1);
		EXPECT_EQ(plat::ParseMountInfo(testCase.text, entries), testCase.result);
		std::vector<std::string> described;
		for (const plat::MountEntry& entry : entries)
			described.push_back(Describe(entry));
		EXPECT_EQ(described, testCase.entries);
	}
}

TEST(MountTableTest, HooksStandInForTheTableAndTheClock)
{
	const std::string file = testing::TempDir() + "velk-mountinfo";
	std::ofstream(file) << Line(7, "/from/file", "ext4");
	setenv("VELK_MOUNTINFO_FILE", file.c_str(), 1);
	setenv("VELK_MOUNT_TABLE_CLOCK", "4294967295", 1);
	std::vector<plat::MountEntry> entries;
	EXPECT_EQ(plat::ReadMountTable(entries), 0);
	EXPECT_EQ(entries.size() == 1 ? entries[0].mountPoint : "", "/from/file");
	EXPECT_EQ(plat::GetMountTableClock(), 4294967295u);

	// A call wins over the environment.
	plat::SetMountInfoTextForTesting(Line(8, "/from/call", "xfs"));
	plat::SetMountTableClockForTesting(12);
	EXPECT_EQ(plat::ReadMountTable(entries), 0);
	EXPECT_EQ(entries.size() == 1 ? entries[0].mountPoint : "", "/from/call");
	EXPECT_EQ(plat::GetMountTableClock(), 12u);

	plat::SetMountInfoTextForTesting(std::nullopt);
	plat::SetMountTableClockForTesting(std::nullopt);
	std::filesystem::remove(file);
	EXPECT_EQ(plat::ReadMountTable(entries), ENOENT);
	unsetenv("VELK_MOUNTINFO_FILE");
	unsetenv("VELK_MOUNT_TABLE_CLOCK");
	EXPECT_EQ(plat::ReadMountTable(entries), 0);
	EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const plat::MountEntry& e) { return e.mountPoint == "/"; }));
}

TEST(MountTableTest, FindsTheMountHoldingAPath)
{
	char pattern[] = "/tmp/velk-mounts-XXXXXX";
	char resolved[PATH_MAX];
	ASSERT_NE(mkdtemp(pattern), nullptr);
	ASSERT_NE(realpath(pattern, resolved), nullptr);
	const std::string root = resolved;
	std::filesystem::create_directories(root + "/disk/folder");
	std::filesystem::create_directories(root + "/disk2");
	std::filesystem::create_symlink(root + "/disk/folder", root + "/link");
	// root + "/disk" is mounted twice: the later mount hides the first.
	plat::SetMountInfoTextForTesting(Line(1, "/", "ext4") + Line(2, root + "/disk", "tmpfs") + Line(3, root + "/disk", "xfs") + Line(4, root + "/dis", "btrfs"));
	struct
	{
		const char* path;
		int result;
		const char* fileSystemType;
	} const cases[] = {
		{ "/disk/folder", 0, "xfs" },
		{ "/link", 0, "xfs" },
		{ "/disk2", 0, "ext4" },
		{ "/absent", ENOENT, "unchanged" },
	};
	for (const auto& testCase : cases)
	{
		plat::MountEntry entry;
		entry.fileSystemType = "unchanged";
		EXPECT_EQ(plat::FindMountOfPath((root + testCase.path).c_str(), entry), testCase.result) << testCase.path;
		EXPECT_EQ(entry.fileSystemType, testCase.fileSystemType) << testCase.path;
	}
	plat::SetMountInfoTextForTesting(Line(2, root + "/disk", "tmpfs"));
	plat::MountEntry entry;
	EXPECT_EQ(plat::FindMountOfPath((root + "/disk2").c_str(), entry), ENOENT);
	plat::SetMountInfoTextForTesting(std::nullopt);
	std::filesystem::remove_all(root);
}

}  // namespace
