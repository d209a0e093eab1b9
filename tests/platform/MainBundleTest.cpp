#include <gtest/gtest.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/MainBundle.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// When this executable is started as a bundle probe, it reports what the bundle reader saw before main and
// leaves at once: the answer file gets the bundle path, then the bundle name.
[[maybe_unused]] const bool sProbed = []
{
	const char* answerPath = std::getenv("VELK_MAIN_BUNDLE_PROBE");
	if (answerPath == nullptr)
		return false;
	std::string name = "<none>";
	plat::GetMainBundleInfoString("CFBundleName", name);
	std::ofstream answer(answerPath);
	answer << plat::GetMainBundlePath() << '\n' << name << '\n';
	answer.close();
	::_exit(answer ? 0 : 3);
}();

class MainBundleTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		std::string pattern = (fs::temp_directory_path() / "velk-bundle-XXXXXX").string();
		ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
		fFolder = pattern;
	}

	void TearDown() override
	{
		plat::ClearMainBundleOverridesForTesting();
		std::error_code ignored;
		fs::remove_all(fFolder, ignored);
	}

	// Makes <folder>/<name>/Contents and returns the bundle path.
	std::string MakeBundle(const std::string& name)
	{
		fs::path bundle = fFolder / name;
		fs::create_directories(bundle / "Contents" / "MacOS");
		return bundle.string();
	}

	std::string WriteText(const std::string& name, const std::string& text)
	{
		std::string path = (fFolder / name).string();
		std::ofstream(path, std::ios::binary) << text;
		return path;
	}

	fs::path fFolder;
};

std::string XMLPropertyList(const std::string& body)
{
	return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
		   "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

TEST(MainBundlePathTest, BundleIsTheFolderAboveContentsMacOS)
{
	struct Row
	{
		const char* executable;
		const char* bundle;
	};
	const Row rows[] = {
		{ "/Applications/Up.app/Contents/MacOS/Up", "/Applications/Up.app" },
		{ "/opt/a b/Tool.app/Contents/MacOS/tool-bin", "/opt/a b/Tool.app" },
		{ "/x/Contents/MacOS/Contents/MacOS/y", "/x/Contents/MacOS" },
		{ "/Contents/MacOS/Up", "/" },
		{ "/Applications/Up.app/Contents/MacOS/", "" },
		{ "/Applications/Up.app/Contents/MacOS/sub/Up", "" },
		{ "/Applications/Up.app/contents/macos/Up", "" },
		{ "/Applications/Up.app/Contents/Up", "" },
		{ "/Applications/UpContents/MacOS/Up", "" },
		{ "Contents/MacOS/Up", "" },
		{ "/usr/bin/up", "" },
		{ "up", "" },
		{ "", "" },
	};
	for (const Row& row : rows)
		EXPECT_EQ(plat::FindBundlePathForExecutable(row.executable), row.bundle) << row.executable;
}

TEST_F(MainBundleTest, ReadsStringsOfXMLAndBinaryPropertyLists)
{
	const plat::InfoStrings written = {
		{ "CFBundleName", "Updater" },
		{ "CFBundleShortVersionString", "20.1.3" },
		{ "MemoryAllocator", "velk" },
		{ "Label", "Caf\xC3\xA9 \xE2\x98\x95 & <tags>" },
		{ "Empty", "" },
	};
	for (bool binary : { false, true })
	{
		SCOPED_TRACE(binary ? "binary" : "XML");
		std::string path = (fFolder / (binary ? "bin.plist" : "xml.plist")).string();
		ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(path, written, binary));
		std::ifstream file(path, std::ios::binary);
		std::string head(8, '\0');
		file.read(head.data(), 8);
		EXPECT_EQ(head == "bplist00", binary) << head;

		plat::InfoStrings read = { { "Stale", "left over" } };
		ASSERT_TRUE(plat::ReadInfoDictionaryStrings(path, read));
		EXPECT_EQ(read, written);
	}
}

TEST_F(MainBundleTest, KeepsOnlyTopLevelStrings)
{
	std::string path = WriteText("Info.plist", XMLPropertyList(
		"<dict>\n"
		"<key>CFBundleName</key><string>A &amp; B</string>\n"
		"<key>Count</key><integer>3</integer>\n"
		"<key>Enabled</key><true/>\n"
		"<key>Nested</key><dict><key>Inner</key><string>no</string></dict>\n"
		"<key>List</key><array><string>no</string></array>\n"
		"</dict>"));
	plat::InfoStrings read;
	ASSERT_TRUE(plat::ReadInfoDictionaryStrings(path, read));
	EXPECT_EQ(read, (plat::InfoStrings { { "CFBundleName", "A & B" } }));
}

TEST_F(MainBundleTest, UnreadableOrNonDictionaryListsGiveFalseAndNoStrings)
{
	struct Row
	{
		const char* what;
		std::string path;
	};
	const Row rows[] = {
		{ "missing", (fFolder / "missing.plist").string() },
		{ "a folder", fFolder.string() },
		{ "empty", WriteText("empty.plist", "") },
		{ "garbage", WriteText("garbage.plist", "this is not a property list") },
		{ "truncated binary", WriteText("cut.plist", "bplist00\xD1\x01\x02") },
		{ "top-level array", WriteText("array.plist", XMLPropertyList("<array><string>x</string></array>")) },
	};
	for (const Row& row : rows)
	{
		plat::InfoStrings read = { { "Stale", "left over" } };
		EXPECT_FALSE(plat::ReadInfoDictionaryStrings(row.path, read)) << row.what;
		EXPECT_TRUE(read.empty()) << row.what;
	}
}

TEST_F(MainBundleTest, OverridesReplaceAndRemoveKeysUntilCleared)
{
	std::string bundle = MakeBundle("Up.app");
	ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(bundle + "/Contents/Info.plist",
		{ { "CFBundleName", "Up" }, { "MemoryAllocator", "velk" } }, true));
	plat::SetMainBundlePathForTesting(bundle);
	EXPECT_EQ(plat::GetMainBundlePath(), bundle);

	std::string value;
	ASSERT_TRUE(plat::GetMainBundleInfoString("MemoryAllocator", value));
	EXPECT_EQ(value, "velk");
	value = "unchanged";
	EXPECT_FALSE(plat::GetMainBundleInfoString("CFBundleExecutable", value));
	EXPECT_EQ(value, "unchanged");

	plat::SetMainBundleInfoStringForTesting("MemoryAllocator", std::string("stdlib"));
	plat::SetMainBundleInfoStringForTesting("CFBundleName", std::nullopt);
	plat::SetMainBundleInfoStringForTesting("CFBundleExecutable", std::string(""));
	ASSERT_TRUE(plat::GetMainBundleInfoString("MemoryAllocator", value));
	EXPECT_EQ(value, "stdlib");
	EXPECT_FALSE(plat::GetMainBundleInfoString("CFBundleName", value));
	ASSERT_TRUE(plat::GetMainBundleInfoString("CFBundleExecutable", value));
	EXPECT_EQ(value, "");

	// Overrides outlive a change of bundle folder; the file's own values follow the folder.
	plat::SetMainBundlePathForTesting(std::nullopt);
	ASSERT_TRUE(plat::GetMainBundleInfoString("MemoryAllocator", value));
	EXPECT_EQ(value, "stdlib");

	plat::ClearMainBundleOverridesForTesting();
	// This test program does not sit in a bundle.
	EXPECT_EQ(plat::GetMainBundlePath(), "");
	EXPECT_FALSE(plat::GetMainBundleInfoString("MemoryAllocator", value));
	EXPECT_FALSE(plat::GetMainBundleInfoString("CFBundleExecutable", value));
}

TEST_F(MainBundleTest, ExecutableInsideABundleReadsItsDictionaryBeforeMain)
{
	for (bool binary : { false, true })
	{
		SCOPED_TRACE(binary ? "binary" : "XML");
		std::string bundle = MakeBundle(binary ? "Bin Probe.app" : "XMLProbe.app");
		ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(bundle + "/Contents/Info.plist",
			{ { "CFBundleName", binary ? "Binary probe" : "XML probe" } }, binary));
		std::string executable = bundle + "/Contents/MacOS/Probe";
		fs::copy_file("/proc/self/exe", executable);
		fs::permissions(executable, fs::perms::owner_all);

		std::string answerPath = (fFolder / "answer.txt").string();
		std::string probeVariable = "VELK_MAIN_BUNDLE_PROBE=" + answerPath;
		std::vector<char*> environment;
		for (char** entry = environ; *entry != nullptr; ++entry)
			environment.push_back(*entry);
		environment.push_back(probeVariable.data());
		environment.push_back(nullptr);
		char* arguments[] = { executable.data(), nullptr };

		pid_t child = 0;
		ASSERT_EQ(::posix_spawn(&child, executable.c_str(), nullptr, nullptr, arguments, environment.data()), 0);
		int status = 0;
		ASSERT_EQ(::waitpid(child, &status, 0), child);
		ASSERT_TRUE(WIFEXITED(status));
		ASSERT_EQ(WEXITSTATUS(status), 0);

		std::ifstream answer(answerPath);
		std::string path, name;
		std::getline(answer, path);
		std::getline(answer, name);
		EXPECT_EQ(path, bundle);
		EXPECT_EQ(name, binary ? "Binary probe" : "XML probe");
	}
}

}  // namespace
