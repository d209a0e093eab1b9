// The folder operations of the platform half: existence with and without following links, moves and
// renames that never replace, tree copies, writable-by-all, forced deletion that puts the parent back,
// packages and the system folders under a home of the test's own.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFolder.h"

namespace velk {
namespace {

constexpr VError Posix(int errorNumber)
{
	return MakeVError(kPOSIX_SIGNATURE, errorNumber);
}

// Sets an environment variable for the scope, or removes it, and puts back what was there.
class ScopedEnvironment
{
public:
	ScopedEnvironment(const char* name, const char* value) : fName(name)
	{
		if (const char* old = ::getenv(name))
			fOld = old;
		if (value != nullptr)
			::setenv(name, value, 1);
		else
			::unsetenv(name);
	}

	~ScopedEnvironment()
	{
		if (fOld)
			::setenv(fName, fOld->c_str(), 1);
		else
			::unsetenv(fName);
	}

private:
	const char* fName;
	std::optional<std::string> fOld;
};

class XMacFolderTest : public test::VTemporaryFolderTest
{
protected:
	VFilePath Path(const std::string& name) const
	{
		return VFilePath(VString((fRoot + name).c_str()), FPS_POSIX);
	}

	std::string Full(const std::string& name) const
	{
		return fRoot + name;
	}

	mode_t Mode(const std::string& name) const
	{
		struct stat status = {};
		::lstat(Full(name).c_str(), &status);
		return status.st_mode & 07777;
	}
};

TEST_F(XMacFolderTest, ExistsCreateAndDelete)
{
	std::filesystem::create_directories(Full("real"));
	Write("file", "");
	std::filesystem::create_directory_symlink(Full("real"), Full("link"));
	struct Row
	{
		const char* name;
		bool followed;
		bool itself;
	};
	const Row rows[] = {
		{"real/", true, true},
		{"link/", true, false},
		{"file", false, false},
		{"missing/", false, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		XMacFolder folder(Path(row.name));
		EXPECT_EQ(folder.Exists(true), row.followed);
		EXPECT_EQ(folder.Exists(false), row.itself);
	}

	XMacFolder made(Path("made/"));
	EXPECT_EQ(made.Create(), VE_OK);
	EXPECT_EQ(made.Create(), Posix(EEXIST));
	Write("made/inside", "");
	EXPECT_EQ(made.Delete(), Posix(ENOTEMPTY));
	std::filesystem::remove(Full("made/inside"));
	EXPECT_EQ(made.Delete(), VE_OK);
	EXPECT_FALSE(made.Exists());
}

TEST_F(XMacFolderTest, MovesAndRenamesNeverReplaceAFolder)
{
	struct Row
	{
		const char* label;
		bool rename;
		const char* destination;  // the folder moved into, or the new name
		const char* newName;
		bool occupied;  // an empty folder at the target, which a plain rename would replace
		VError expected;
		const char* landed;
	};
	const Row rows[] = {
		{"rename", true, "b", nullptr, false, VE_OK, "b/"},
		{"rename onto an empty folder", true, "b", nullptr, true, Posix(EEXIST), "a/"},
		{"move into a folder", false, "into/", nullptr, false, VE_OK, "into/a/"},
		{"move with a new name", false, "into/", "c", false, VE_OK, "into/c/"},
		{"move onto an empty folder", false, "into/", nullptr, true, Posix(EEXIST), "a/"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.label);
		std::filesystem::remove_all(fRoot);
		std::filesystem::create_directories(Full("a"));
		std::filesystem::create_directories(Full("into"));
		Write("a/content", "kept");
		const std::string target = row.rename ? row.destination : std::string("into/a");
		if (row.occupied)
			std::filesystem::create_directories(Full(target));
		XMacFolder folder(Path("a/"));
		VFilePath out(Path("stale/"));
		VError result = VE_OK;
		if (row.rename)
		{
			result = folder.Rename(VString(row.destination), &out);
		}
		else
		{
			const VString newName(row.newName);
			result = folder.Move(Path(row.destination), row.newName != nullptr ? &newName : nullptr, &out);
		}
		EXPECT_EQ(result, row.expected);
		EXPECT_EQ(Read(std::string(row.landed) + "content"), "kept");
		VString landed;
		out.GetPosixPath(landed);
		EXPECT_EQ(to_string(landed), row.expected == VE_OK ? Full(row.landed) : std::string());
	}
}

TEST_F(XMacFolderTest, CopyToNonExistingFolderCopiesTheTree)
{
	std::filesystem::create_directories(Full("a/deep"));
	Write("a/deep/f", "bytes");
	::chmod(Full("a/deep").c_str(), 0555);
	std::filesystem::create_directories(Full("to"));
	XMacFolder folder(Path("a/"));
	EXPECT_EQ(folder.CopyToNonExistingFolder(Path("to/"), VString("copy")), VE_OK);
	EXPECT_EQ(Read("to/copy/deep/f"), "bytes");
	EXPECT_EQ(Mode("to/copy/deep"), 0555u);
	EXPECT_EQ(folder.CopyToNonExistingFolder(Path("to/"), VString("copy")), Posix(EEXIST));
	::chmod(Full("a/deep").c_str(), 0755);
	::chmod(Full("to/copy/deep").c_str(), 0755);
}

TEST_F(XMacFolderTest, WritableByAllMeansTheOthers)
{
	std::filesystem::create_directories(Full("f"));
	const struct
	{
		mode_t mode;
		bool writable;
	} rows[] = {{0755, false}, {0775, false}, {0757, true}, {0777, true}};
	XMacFolder folder(Path("f/"));
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.mode);
		ASSERT_EQ(folder.SetPermissions(uint16(row.mode)), VE_OK);
		uint16 mode = 0;
		EXPECT_EQ(folder.GetPermissions(&mode), VE_OK);
		EXPECT_EQ(mode, row.mode);
		EXPECT_EQ(folder.IsWritableByAll(), row.writable);
	}
	EXPECT_EQ(folder.MakeWritableByAll(), VE_OK);
	EXPECT_EQ(Mode("f"), 0777u);
}

TEST_F(XMacFolderTest, DeleteForcedPutsTheParentBack)
{
	std::filesystem::create_directories(Full("parent/tree/ro/deeper"));
	std::filesystem::create_directories(Full("outside"));
	Write("parent/tree/ro/deeper/f", "x");
	Write("outside/kept", "kept");
	std::filesystem::create_directory_symlink(Full("outside"), Full("parent/tree/ro/out"));
	::chmod(Full("outside").c_str(), 0555);
	::chmod(Full("parent/tree/ro/deeper").c_str(), 0555);
	::chmod(Full("parent/tree/ro").c_str(), 0500);
	::chmod(Full("parent").c_str(), 0555);

	EXPECT_EQ(XMacFolder(Path("parent/tree/")).DeleteForced(), VE_OK);
	EXPECT_FALSE(std::filesystem::exists(Full("parent/tree")));
	EXPECT_EQ(Mode("parent"), 0555u);
	// What a link in the tree pointed to is neither changed nor removed.
	EXPECT_EQ(Read("outside/kept"), "kept");
	EXPECT_EQ(Mode("outside"), 0555u);
	::chmod(Full("parent").c_str(), 0755);
	::chmod(Full("outside").c_str(), 0755);
}

TEST_F(XMacFolderTest, PackagesAndHiddenFolders)
{
	std::filesystem::create_directories(Full("Tool.app"));
	std::filesystem::create_directories(Full("Bundle/Contents"));
	Write("Bundle/Contents/Info.plist", "");
	std::filesystem::create_directories(Full("Plain"));
	std::filesystem::create_directories(Full(".secret"));
	const struct
	{
		const char* name;
		bool package;
		bool hidden;
	} rows[] = {{"Tool.app/", true, false}, {"Bundle/", true, false}, {"Plain/", false, false}, {".secret/", false, true}};
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.name);
		XMacFolder folder(Path(row.name));
		EXPECT_EQ(folder.IsPackage(), row.package);
		bool hidden = !row.hidden;
		EXPECT_EQ(folder.IsHidden(hidden), VE_OK);
		EXPECT_EQ(hidden, row.hidden);
		EXPECT_TRUE(folder.IsTraversable());
	}
}

TEST_F(XMacFolderTest, SystemFoldersUnderTheHome)
{
	ScopedEnvironment home("HOME", (fRoot + "home").c_str());
	ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
	ScopedEnvironment data("XDG_DATA_HOME", nullptr);
	ScopedEnvironment cache("XDG_CACHE_HOME", (fRoot + "cache").c_str());
	ScopedEnvironment temporary("TMPDIR", (fRoot + "tmp").c_str());
	struct Row
	{
		int32 kind;
		std::string folder;  // empty: none
	};
	const Row rows[] = {
		{13, fRoot + "home/"},
		{1, fRoot + "home/Documents/"},
		{2, fRoot + "tmp/"},
		{3, ""},
		{5, fRoot + "home/.local/share/"},
		{8, fRoot + "home/Desktop/"},
		{11, fRoot + "cache/"},
		{14, ""},
	};
	for (bool create : {false, true})
	{
		for (const Row& row : rows)
		{
			SCOPED_TRACE(std::to_string(row.kind) + (create ? " made" : ""));
			VFilePath out(Path("stale/"));
			EXPECT_EQ(XMacFolder::RetainSystemFolder(row.kind, create, &out), VE_OK);
			VString text;
			out.GetPosixPath(text);
			EXPECT_EQ(to_string(text), row.folder);
			if (!row.folder.empty())
			{
				EXPECT_EQ(std::filesystem::is_directory(row.folder), create);
			}
		}
	}
}

}  // namespace
}  // namespace velk
