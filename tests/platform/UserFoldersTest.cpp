// The system folders: each kind under a fake home and XDG environment with a user-dirs file, and the
// creation of what is missing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/TemporaryHomeTest.h"
#include "platform/UserFolders.h"

namespace {

namespace fs = std::filesystem;

using Variables = std::vector<std::pair<const char*, const char*>>;

class UserFoldersTest : public TemporaryHomeTest
{
protected:
	// "~" at the start of text stands for the fake home folder, "@" for the test's folder.
	std::string Expand(const char* text) const
	{
		if (text == nullptr)
			return std::string();
		if (text[0] == '~')
			return fHome + (text + 1);
		if (text[0] == '@')
			return fRoot + (text + 1);
		return text;
	}

	// The fixture's environment, then the given variables.
	void UseVariables(const Variables& variables)
	{
		SetVariable("HOME", fHome.c_str());
		SetVariable("XDG_DATA_HOME", (fHome + "/.local/share").c_str());
		SetVariable("XDG_CONFIG_HOME", (fHome + "/.config").c_str());
		for (const char* name : {"XDG_CACHE_HOME", "XDG_DATA_DIRS", "TMPDIR"})
			SetVariable(name, nullptr);
		for (const auto& [name, value] : variables)
			SetVariable(name, value == nullptr ? nullptr : Expand(value).c_str());
	}

	void WriteUserDirs(const char* text) const
	{
		fs::create_directories(fHome + "/.config");
		if (text != nullptr)
			std::ofstream(fHome + "/.config/user-dirs.dirs") << text;
		else
			fs::remove(fHome + "/.config/user-dirs.dirs");
	}
};

TEST_F(UserFoldersTest, EachKindFollowsTheEnvironment)
{
	const char* dirs = "# written by the desktop\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n  XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n";
	struct
	{
		int kind;
		Variables variables;
		const char* userDirs;
		const char* expected;
	} const cases[] = {
		{ 1, {}, nullptr, "~/Documents" },
		{ 1, {}, "XDG_DOCUMENTS_DIR=\"$HOME/My Papers\"\n", "~/My Papers" },
		{ 1, {}, dirs, "/srv/docs" },
		{ 8, {}, dirs, "~/Bureau" },
		{ 1, {}, "XDG_DOCUMENTS_DIR=\"$HOME/a\\\"b\"\n", "~/a\"b" },
		// A relative value, a look-alike key and a file in another configuration folder are not used.
		{ 1, {}, "XDG_DOCUMENTS_DIR=\"docs\"\nXDG_DOCUMENTS_DIR2=\"/x\"\n", "~/Documents" },
		{ 1, { { "XDG_CONFIG_HOME", "@/other" } }, dirs, "~/Documents" },
		{ 2, {}, nullptr, "/tmp" },
		{ 2, { { "TMPDIR", "/var/tmp/mine/" } }, nullptr, "/var/tmp/mine" },
		{ 3, {}, nullptr, nullptr },
		{ 14, {}, nullptr, nullptr },
		{ 4, {}, nullptr, "/usr/local/share" },
		{ 6, { { "XDG_DATA_DIRS", "relative::/opt/share/:/usr/share" } }, nullptr, "/opt/share" },
		{ 5, {}, nullptr, "~/.local/share" },
		{ 7, { { "XDG_DATA_HOME", "/data/home" } }, nullptr, "/data/home" },
		{ 12, { { "XDG_DATA_HOME", "" } }, nullptr, "~/.local/share" },
		{ 9, {}, nullptr, "/Applications" },
		{ 10, {}, nullptr, "/var/cache" },
		{ 11, { { "XDG_CACHE_HOME", "relative" } }, nullptr, "~/.cache" },
		{ 13, {}, nullptr, "~" },
		{ 13, { { "HOME", "@/other/" } }, nullptr, "@/other" },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(std::to_string(testCase.kind) + " " + (testCase.expected != nullptr ? testCase.expected : "none"));
		UseVariables(testCase.variables);
		WriteUserDirs(testCase.userDirs);
		std::string path = "unchanged";
		EXPECT_EQ(plat::GetSystemFolder(testCase.kind, false, path), 0);
		EXPECT_EQ(path, Expand(testCase.expected));
	}
	// Without create, nothing is made.
	EXPECT_FALSE(fs::exists(fHome + "/Documents"));
	EXPECT_FALSE(fs::exists(fHome + "/.local"));

	std::string path;
	EXPECT_EQ(plat::GetSystemFolder(0, false, path), 0);
	EXPECT_EQ(path, fs::read_symlink("/proc/self/exe").parent_path().string());
}

TEST_F(UserFoldersTest, CreateMakesWhatIsMissing)
{
	const mode_t mask = umask(022);
	umask(mask);
	fs::create_directories(fRoot + "/inside");
	std::ofstream(fRoot + "/plain") << "a file";
	struct
	{
		int kind;
		Variables variables;
		const char* userDirs;
		int error;
		const char* expected;
		std::vector<const char*> made;  // each made with the kind's mode
		mode_t mode;
	} const cases[] = {
		{ 11, { { "XDG_CACHE_HOME", "@/a/b/cache" } }, nullptr, 0, "@/a/b/cache", { "@/a", "@/a/b", "@/a/b/cache" }, 0700 },
		{ 2, { { "TMPDIR", "@/t/tmp" } }, nullptr, 0, "@/t/tmp", { "@/t", "@/t/tmp" }, 0755 },
		{ 1, {}, "XDG_DOCUMENTS_DIR=\"$HOME/Docs/inner\"\n", 0, "~/Docs/inner", { "~/Docs", "~/Docs/inner" }, 0700 },
		{ 5, { { "XDG_DATA_HOME", "@/plain/share" } }, nullptr, ENOTDIR, nullptr, {}, 0 },
		{ 11, { { "XDG_CACHE_HOME", "@/plain" } }, nullptr, ENOTDIR, nullptr, {}, 0 },
	};
	for (const auto& testCase : cases)
	{
		SCOPED_TRACE(std::to_string(testCase.kind) + " " + (testCase.expected != nullptr ? testCase.expected : "none"));
		UseVariables(testCase.variables);
		WriteUserDirs(testCase.userDirs);
		std::string path = "unchanged";
		EXPECT_EQ(plat::GetSystemFolder(testCase.kind, true, path), testCase.error);
		EXPECT_EQ(path, testCase.error == 0 ? Expand(testCase.expected) : std::string("unchanged"));
		for (const char* made : testCase.made)
		{
			struct stat status;
			ASSERT_EQ(stat(Expand(made).c_str(), &status), 0) << made;
			EXPECT_TRUE(S_ISDIR(status.st_mode)) << made;
			EXPECT_EQ(status.st_mode & 0777, testCase.mode & ~mask) << made;
		}
	}
	EXPECT_TRUE(fs::is_regular_file(fRoot + "/plain"));
}

}  // namespace
