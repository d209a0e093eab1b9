// Whole-content writes and copies onto volumes without Unix rights (FAT and exFAT, through FUSE and the
// kernel), which refuse a change of mode, owner or extended attribute (ENOSYS, EPERM, ENOTSUP): those go as
// far as the volume has them, and the write or copy goes on as a plain write does.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "common/StFatVolume.h"
#include "platform/FileOperations.h"
#include "platform/TreeCopy.h"

namespace {

namespace fs = std::filesystem;
using velk::test::EFatVolumeKind;

std::string ReadFile(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry of the tree by its path inside it: a file's bytes, "folder" for a folder.
std::map<std::string, std::string> Contents(const std::string& root)
{
	std::map<std::string, std::string> entries;
	for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
	{
		const std::string name = entry.path().lexically_relative(root).string();
		entries[name] = entry.is_directory() ? "folder" : ReadFile(entry.path().string());
	}
	return entries;
}

class FatVolumesTest : public ::testing::TestWithParam<EFatVolumeKind>
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-fat-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
	}

	void TearDown() override
	{
		std::error_code error;
		fs::permissions(fRoot + "/source/sub", fs::perms::owner_all, fs::perm_options::add, error);
		fs::remove_all(fRoot, error);
	}

	// A source on the test's own file system with what a FAT volume cannot keep: set-id bits, a read-only
	// file and folder, a user attribute, and (as root) another owner and group.
	std::string MakeSource()
	{
		const std::string source = fRoot + "/source";
		fs::create_directories(source + "/sub");
		fs::create_directories(source + "/empty");
		std::ofstream(source + "/program", std::ios::binary) << "#!/bin/sh\nexit 0\n";
		std::ofstream(source + "/sub/notes.txt", std::ios::binary) << std::string(70000, 'n');
		chmod((source + "/program").c_str(), 04755);
		chmod((source + "/sub/notes.txt").c_str(), 0444);
		// Where the test's own file system has no user attributes, the copy has none to lose.
		setxattr((source + "/program").c_str(), "user.velk.tag", "kept", 4, 0);
		setxattr((source + "/sub").c_str(), "user.velk.tag", "kept", 4, 0);
		if (geteuid() == 0)
		{
			for (const char* entry : {"", "/program", "/sub", "/sub/notes.txt", "/empty"})
				lchown((source + entry).c_str(), 1234, 2345);
		}
		chmod((source + "/sub").c_str(), 0555);
		return source;
	}

	std::string fRoot;
};

TEST_P(FatVolumesTest, WholeContentWritesGoOn)
{
	velk::test::StFatVolume volume(GetParam(), fRoot);
	if (!volume.GetRefusal().empty())
		GTEST_SKIP() << volume.GetRefusal();
	const std::string on = volume.GetMountPoint();
	std::ofstream(on + "/old.txt", std::ios::binary) << "former content, longer than the new";

	EXPECT_EQ(plat::ReplaceFileContent((on + "/old.txt").c_str(), "new", 3), 0);
	EXPECT_EQ(ReadFile(on + "/old.txt"), "new");
	EXPECT_EQ(plat::ReplaceFileContent((on + "/made.txt").c_str(), "made", 4), 0);
	EXPECT_EQ(ReadFile(on + "/made.txt"), "made");
	// No hidden sibling is left beside them.
	EXPECT_EQ(Contents(on), (std::map<std::string, std::string>{{"made.txt", "made"}, {"old.txt", "new"}}));
}

TEST_P(FatVolumesTest, CopiesGoOn)
{
	velk::test::StFatVolume volume(GetParam(), fRoot);
	if (!volume.GetRefusal().empty())
		GTEST_SKIP() << volume.GetRefusal();
	const std::string on = volume.GetMountPoint();
	const std::string source = MakeSource();
	const std::map<std::string, std::string> expected = Contents(source);

	std::string failedPath;
	EXPECT_EQ(plat::CopyFile((source + "/program").c_str(), (on + "/program").c_str(), false, &failedPath), 0) << failedPath;
	EXPECT_TRUE(ReadFile(on + "/program") == expected.at("program"));
	fs::create_directory(on + "/built");
	EXPECT_EQ(plat::CopyTreeInPlace(source.c_str(), (on + "/built").c_str(), &failedPath), 0) << failedPath;
	EXPECT_TRUE(Contents(on + "/built") == expected);
	size_t made = 2 + expected.size();
	// fusefat loses the entries of a folder it renames (as `mv` shows): a copy renamed into place is tried
	// where folders rename whole.
	if (GetParam() != EFatVolumeKind::kFuseFat)
	{
		EXPECT_EQ(plat::CopyTree(source.c_str(), (on + "/tree").c_str(), &failedPath), 0) << failedPath;
		EXPECT_TRUE(Contents(on + "/tree") == expected);
		made += 1 + expected.size();
	}
	EXPECT_EQ(Contents(on).size(), made);  // nothing left aside
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatVolumesTest,
	::testing::Values(EFatVolumeKind::kFuseFat, EFatVolumeKind::kFuseExFat, EFatVolumeKind::kKernelVfat),
	[](const ::testing::TestParamInfo<EFatVolumeKind>& info) {
		switch (info.param)
		{
		case EFatVolumeKind::kFuseFat:
			return "FuseFat";
		case EFatVolumeKind::kFuseExFat:
			return "FuseExFat";
		case EFatVolumeKind::kKernelVfat:
			return "KernelVfat";
		}
		return "Unknown";
	});

}  // namespace
