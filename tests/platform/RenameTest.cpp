// Renames that must not replace, that swap and that replace in one step, with and without the file system's
// rename flags, and the hooks that make renames busy or refuse the flags.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Rename.h"

namespace {

namespace fs = std::filesystem;

enum class Kind
{
	kNothing,
	kFile,
	kEmptyFolder,
	kFolder,
	kLink
};

class RenameTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-rename-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = std::string(pattern) + "/";
	}

	void TearDown() override
	{
		plat::SetRenameBusyForTesting(0);
		plat::SetRenameFlagsRefusedForTesting(false);
		unsetenv("VELK_RENAME_BUSY");
		unsetenv("VELK_RENAME_FLAGS_REFUSED");
		fs::remove_all(fRoot);
	}

	// Makes an entry of that kind whose content shows its tag.
	void Make(Kind kind, const std::string& name, const std::string& tag) const
	{
		const std::string path = fRoot + name;
		if (kind == Kind::kFile)
			std::ofstream(path) << tag;
		else if (kind == Kind::kEmptyFolder)
			fs::create_directory(path);
		else if (kind == Kind::kFolder)
		{
			fs::create_directory(path);
			std::ofstream(path + "/" + tag) << tag;
		}
		else if (kind == Kind::kLink)
			fs::create_symlink("missing-" + tag, path);
	}

	// What is at the name: "file:<bytes>", "folder:<names>", "link:<text>" or "none".
	std::string Describe(const std::string& name) const
	{
		const std::string path = fRoot + name;
		const fs::file_status status = fs::symlink_status(path);
		if (fs::is_symlink(status))
			return "link:" + fs::read_symlink(path).string();
		if (fs::is_directory(status))
		{
			std::vector<std::string> names;
			for (const fs::directory_entry& entry : fs::directory_iterator(path))
				names.push_back(entry.path().filename().string());
			std::sort(names.begin(), names.end());
			std::string text = "folder:";
			for (const std::string& child : names)
				text += child + ";";
			return text;
		}
		if (fs::is_regular_file(status))
		{
			std::ifstream in(path);
			return "file:" + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
		}
		return "none";
	}

	std::string Path(const std::string& name) const
	{
		return fRoot + name;
	}

	std::string fRoot;
};

TEST_F(RenameTest, ExclusiveRenameNeverReplacesWithOrWithoutTheFlag)
{
	struct
	{
		Kind source;
		Kind target;
		int result;
	} const cases[] = {
		{ Kind::kFile, Kind::kNothing, 0 },
		{ Kind::kFolder, Kind::kNothing, 0 },
		{ Kind::kLink, Kind::kNothing, 0 },
		{ Kind::kFile, Kind::kFile, EEXIST },
		// A plain rename would replace the empty folder without a word.
		{ Kind::kFile, Kind::kEmptyFolder, EEXIST },
		{ Kind::kFolder, Kind::kEmptyFolder, EEXIST },
		{ Kind::kFolder, Kind::kFile, EEXIST },
		{ Kind::kFile, Kind::kLink, EEXIST },
		{ Kind::kLink, Kind::kFile, EEXIST },
		{ Kind::kNothing, Kind::kNothing, ENOENT },
	};
	for (const bool flagsRefused : { false, true })
	{
		plat::SetRenameFlagsRefusedForTesting(flagsRefused);
		int index = 0;
		for (const auto& testCase : cases)
		{
			SCOPED_TRACE(testing::Message() << "case " << index << (flagsRefused ? " without the flag" : " with the flag"));
			const std::string from = "from" + std::to_string(index) + (flagsRefused ? "f" : "");
			const std::string to = "to" + std::to_string(index++) + (flagsRefused ? "f" : "");
			Make(testCase.source, from, "source");
			Make(testCase.target, to, "target");
			const std::string source = Describe(from);
			const std::string target = Describe(to);
			EXPECT_EQ(plat::RenameExclusive(Path(from).c_str(), Path(to).c_str()), testCase.result);
			EXPECT_EQ(Describe(from), testCase.result == 0 ? "none" : source);
			EXPECT_EQ(Describe(to), testCase.result == 0 ? source : target);
		}
	}
}

TEST_F(RenameTest, ExchangeSwapsAndReplaceRenamesOver)
{
	struct
	{
		bool exchange;
		Kind source;
		Kind target;
		bool flagsRefused;
		int result;
	} const cases[] = {
		{ true, Kind::kFile, Kind::kFolder, false, 0 },
		{ true, Kind::kFolder, Kind::kNothing, false, ENOENT },
		// No safe exchange in several steps: refused, nothing changed.
		{ true, Kind::kFolder, Kind::kFolder, true, EINVAL },
		{ false, Kind::kFile, Kind::kLink, true, 0 },
		{ false, Kind::kFolder, Kind::kEmptyFolder, false, 0 },
		{ false, Kind::kFolder, Kind::kFolder, false, ENOTEMPTY },
		{ false, Kind::kFile, Kind::kFolder, false, EISDIR },
	};
	int index = 0;
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(testing::Message() << "case " << index);
		plat::SetRenameFlagsRefusedForTesting(testCase.flagsRefused);
		const std::string from = "a" + std::to_string(index);
		const std::string to = "b" + std::to_string(index++);
		Make(testCase.source, from, "source");
		Make(testCase.target, to, "target");
		const std::string source = Describe(from);
		const std::string target = Describe(to);
		EXPECT_EQ(testCase.exchange ? plat::ExchangePaths(Path(from).c_str(), Path(to).c_str()) : plat::RenameReplacing(Path(from).c_str(), Path(to).c_str()),
			testCase.result);
		EXPECT_EQ(Describe(from), testCase.result != 0 ? source : testCase.exchange ? target : "none");
		EXPECT_EQ(Describe(to), testCase.result == 0 ? source : target);
	}
}

TEST_F(RenameTest, BusyAndRefusedFlagsArmedByCallOrEnvironment)
{
	Make(Kind::kFile, "a", "a");
	const std::string a = Path("a");
	const std::string b = Path("b");

	plat::SetRenameBusyForTesting(2);
	EXPECT_EQ(plat::RenameExclusive(a.c_str(), b.c_str()), EBUSY);
	EXPECT_EQ(plat::RenameReplacing(a.c_str(), b.c_str()), EBUSY);
	EXPECT_EQ(Describe("a"), "file:a");
	EXPECT_EQ(plat::RenameExclusive(a.c_str(), b.c_str()), 0);

	// The environment's count is spent once, and armed again only when its text changes.
	setenv("VELK_RENAME_BUSY", "1", 1);
	EXPECT_EQ(plat::ExchangePaths(b.c_str(), b.c_str()), EBUSY);
	EXPECT_EQ(plat::RenameExclusive(b.c_str(), a.c_str()), 0);
	setenv("VELK_RENAME_BUSY", "1", 1);
	EXPECT_EQ(plat::RenameExclusive(a.c_str(), b.c_str()), 0);
	setenv("VELK_RENAME_BUSY", "01", 1);
	EXPECT_EQ(plat::RenameExclusive(b.c_str(), a.c_str()), EBUSY);
	unsetenv("VELK_RENAME_BUSY");

	Make(Kind::kFolder, "c", "c");
	setenv("VELK_RENAME_FLAGS_REFUSED", "1", 1);
	EXPECT_EQ(plat::ExchangePaths(b.c_str(), Path("c").c_str()), EINVAL);
	unsetenv("VELK_RENAME_FLAGS_REFUSED");
	EXPECT_EQ(plat::ExchangePaths(b.c_str(), Path("c").c_str()), 0);
	EXPECT_EQ(Describe("c"), "file:a");
}

}  // namespace
