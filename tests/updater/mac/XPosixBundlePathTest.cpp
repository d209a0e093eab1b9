// Bundle paths compared as folders on disk: one folder however it is reached, a folder inside another
// through links and "..", and neither for texts that merely begin alike or folders that are not there; and
// where a path that is a link leads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFilePath.h"
#include "kernel/strings/VString.h"
#include "updater/mac/XPosixBundlePath.h"

namespace velk {
namespace {

namespace fs = std::filesystem;

class XPosixBundlePathTest : public test::VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		fs::create_directories(fRoot + "A.app/Contents/Inner");
		fs::create_directories(fRoot + "A.app2/Contents");
		Write("file.txt", "a file");
		fs::create_directory_symlink("A.app", fRoot + "LinkA");
		fs::create_directory_symlink("LinkA", fRoot + "LinkLinkA");
		fs::create_directory_symlink("A.app/Contents", fRoot + "LinkContents");
		fs::create_directory_symlink("../../A.app2", fRoot + "A.app/Contents/Out");
		fs::create_directory_symlink("Missing.app", fRoot + "Dangling");
		fs::create_symlink("file.txt", fRoot + "LinkFile");
	}

	VFilePath Folder(const std::string& name) const { return VFilePath(VString((fRoot + name + "/").c_str()), FPS_POSIX); }
};

TEST_F(XPosixBundlePathTest, SameOrInsideComparesFolders)
{
	struct Row
	{
		const char* folder;
		const char* container;
		bool expected;
	};
	const Row rows[] = {
		{"A.app", "A.app", true},
		{"LinkA", "A.app", true},
		{"A.app", "LinkLinkA", true},
		{"A.app/Contents/Inner", "A.app", true},
		{"A.app/Contents/Inner", "LinkA", true},
		{"LinkContents/Inner", "A.app", true},
		{"A.app2/../A.app/Contents", "A.app", true},
		// The container inside the folder is not the folder inside the container.
		{"A.app", "A.app/Contents", false},
		{"LinkA", "LinkContents", false},
		// A name that begins with the container's is another folder.
		{"A.app2", "A.app", false},
		{"A.app2/Contents", "A.app", false},
		// A link inside that leads out reads what it leads to.
		{"A.app/Contents/Out", "A.app", false},
		{"Missing.app", "A.app", false},
		{"A.app", "Missing.app", false},
		{"Dangling", "Dangling", false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.folder) + " in " + row.container);
		EXPECT_EQ(XPosixBundlePath::IsSameOrInside(Folder(row.folder), Folder(row.container)), row.expected);
	}
}

TEST_F(XPosixBundlePathTest, LinkedFolderIsWhereALinkLeads)
{
	const std::string real = fs::canonical(fRoot).string() + "/";
	struct Row
	{
		const char* path;
		std::string expected;
	};
	const Row rows[] = {
		{"LinkA", real + "A.app/"},
		{"LinkLinkA", real + "A.app/"},
		{"LinkContents", real + "A.app/Contents/"},
		{"A.app/Contents/Out", real + "A.app2/"},
		// Only a path whose last name is a link to a folder leads elsewhere.
		{"A.app", ""},
		{"LinkContents/Inner", ""},
		{"Dangling", ""},
		{"LinkFile", ""},
		{"Missing.app", ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.path);
		EXPECT_EQ(to_string(XPosixBundlePath::GetLinkedFolder(Folder(row.path))), row.expected);
	}
}

}  // namespace
}  // namespace velk
