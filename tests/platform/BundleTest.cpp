// Bundles on disk: the information dictionary in both forms, where the executable is found (the dictionary's
// name, else the bundle's own name, never outside the code folder) and the layout of frameworks.
#include "platform/Bundle.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class BundleTest : public ::testing::Test
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
		std::error_code ignored;
		fs::remove_all(fFolder, ignored);
	}

	void MakeFile(const fs::path& path, const std::string& bytes = "x")
	{
		fs::create_directories(path.parent_path());
		std::ofstream(path, std::ios::binary) << bytes;
	}

	fs::path fFolder;
};

struct ExecutableCase
{
	const char* fBundle;
	const char* fExecutableKey;  // null: no CFBundleExecutable
	bool fBinary;
	std::vector<std::string> fFiles;  // relative to the bundle
	const char* fExpected;  // relative to the bundle; "" for none
};

TEST_F(BundleTest, ExecutableTable)
{
	const ExecutableCase cases[] = {
		{"App.app", "Tool", false, {"Contents/MacOS/Tool", "Contents/MacOS/App"}, "Contents/MacOS/Tool"},
		{"App.app", "Tool", true, {"Contents/MacOS/Tool"}, "Contents/MacOS/Tool"},
		{"App.app", nullptr, false, {"Contents/MacOS/App"}, "Contents/MacOS/App"},
		{"App.app", "Missing", true, {"Contents/MacOS/App"}, "Contents/MacOS/App"},
		{"App.app", "../../../escape", false, {"escape", "Contents/MacOS/App"}, "Contents/MacOS/App"},
		{"App.app", "Tool", false, {"Contents/MacOS/Other"}, ""},
		{"Plain", nullptr, false, {"Contents/MacOS/Plain"}, "Contents/MacOS/Plain"},
		{"Kit.framework", "Kit", true, {"Versions/Current/Kit", "Contents/MacOS/Kit"}, "Versions/Current/Kit"},
		{"Kit.Framework", nullptr, false, {"Versions/Current/Kit"}, "Versions/Current/Kit"},
		{"Kit.framework", nullptr, false, {"Contents/MacOS/Kit"}, ""},
	};
	int index = 0;
	for (const ExecutableCase& each : cases)
	{
		const fs::path bundle = fFolder / std::to_string(index++) / each.fBundle;
		for (const std::string& file : each.fFiles)
			MakeFile(bundle / file);
		const bool framework = std::string(each.fBundle).ends_with("ramework");
		const fs::path plist = bundle / (framework ? "Versions/Current/Resources/Info.plist" : "Contents/Info.plist");
		fs::create_directories(plist.parent_path());
		plat::InfoStrings strings{{"CFBundleName", "Name"}};
		if (each.fExecutableKey != nullptr)
			strings["CFBundleExecutable"] = each.fExecutableKey;
		ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(plist.string(), strings, each.fBinary));

		plat::Bundle reader(bundle.string() + "/");
		const std::string label = std::string(each.fBundle) + " key " + (each.fExecutableKey ? each.fExecutableKey : "none");
		EXPECT_EQ(reader.GetPath(), bundle.string()) << label;
		EXPECT_EQ(reader.IsFramework(), framework) << label;
		EXPECT_EQ(reader.GetInfoDictionaryPath(), plist.string()) << label;
		EXPECT_TRUE(reader.HasInfoDictionary()) << label;
		std::string name;
		EXPECT_TRUE(reader.GetInfoString("CFBundleName", name)) << label;
		EXPECT_EQ(name, "Name") << label;
		const std::string expected = *each.fExpected ? (bundle / each.fExpected).string() : std::string();
		EXPECT_EQ(reader.GetExecutablePath(), expected) << label;
	}
}

// A bundle about to be installed under another name: without a dictionary's name, its executable is the
// one named as the place, not as the bundle's folder.
TEST_F(BundleTest, ExecutableUnderTheNameOfItsPlace)
{
	struct Case
	{
		const char* fExecutableKey;  // null: no CFBundleExecutable
		std::vector<std::string> fFiles;  // relative to the bundle "Sample 2.0.app"
		const char* fPlace;
		const char* fExpected;  // relative to the bundle; "" for none
		const char* fExpectedWhereMissing;  // where it belongs, relative to the bundle
	};
	const Case cases[] = {
		{nullptr, {"Contents/MacOS/Sample 2.0"}, "/apps/Sample.app", "", "Contents/MacOS/Sample"},
		{nullptr, {"Contents/MacOS/Sample"}, "/apps/Sample.app/", "Contents/MacOS/Sample", "Contents/MacOS/Sample"},
		{nullptr, {"Contents/MacOS/Sample 2.0"}, "Sample 2.0.app", "Contents/MacOS/Sample 2.0", "Contents/MacOS/Sample 2.0"},
		{"Tool", {"Contents/MacOS/Tool", "Contents/MacOS/Sample"}, "/apps/Sample.app", "Contents/MacOS/Tool", "Contents/MacOS/Tool"},
		{"Missing", {"Contents/MacOS/Sample"}, "/apps/Sample.app", "Contents/MacOS/Sample", "Contents/MacOS/Missing"},
		{"../Tool", {"Contents/MacOS/Plain"}, "/apps/Plain", "Contents/MacOS/Plain", "Contents/MacOS/Plain"},
	};
	int index = 0;
	for (const Case& each : cases)
	{
		const fs::path bundle = fFolder / std::to_string(index++) / "Sample 2.0.app";
		for (const std::string& file : each.fFiles)
			MakeFile(bundle / file);
		plat::InfoStrings strings{{"CFBundleName", "Sample"}};
		if (each.fExecutableKey != nullptr)
			strings["CFBundleExecutable"] = each.fExecutableKey;
		ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting((bundle / "Contents/Info.plist").string(), strings, false));

		const plat::Bundle reader(bundle.string());
		const std::string label = std::string(each.fPlace) + " key " + (each.fExecutableKey ? each.fExecutableKey : "none");
		const std::string expected = *each.fExpected ? (bundle / each.fExpected).string() : std::string();
		EXPECT_EQ(reader.GetExecutablePath(each.fPlace), expected) << label;
		EXPECT_EQ(reader.GetExpectedExecutablePath(each.fPlace), (bundle / each.fExpectedWhereMissing).string()) << label;
	}
}

TEST_F(BundleTest, FoldersAndMissingDictionary)
{
	const fs::path app = fFolder / "App.app";
	fs::create_directories(app);
	plat::Bundle application(app.string());
	EXPECT_FALSE(application.HasInfoDictionary());
	std::string value = "kept";
	EXPECT_FALSE(application.GetInfoString("CFBundleName", value));
	EXPECT_EQ(value, "kept");
	EXPECT_EQ(application.GetFolderPath(plat::BundleFolder::kResources), (app / "Contents/Resources").string());
	EXPECT_EQ(application.GetFolderPath(plat::BundleFolder::kPlugIns), (app / "Contents/PlugIns").string());
	EXPECT_EQ(application.GetFolderPath(plat::BundleFolder::kFrameworks), (app / "Contents/Frameworks").string());
	EXPECT_EQ(application.GetFolderPath(plat::BundleFolder::kSharedSupport), (app / "Contents/SharedSupport").string());
	EXPECT_EQ(application.GetExecutablePath(), "");

	// A dictionary that is no dictionary gives no strings.
	MakeFile(app / "Contents/Info.plist", "not a property list");
	EXPECT_FALSE(plat::Bundle(app.string()).HasInfoDictionary());

	const fs::path framework = fFolder / "Kit.framework";
	plat::Bundle kit(framework.string());
	EXPECT_EQ(kit.GetFolderPath(plat::BundleFolder::kResources), (framework / "Versions/Current/Resources").string());
	EXPECT_EQ(kit.GetFolderPath(plat::BundleFolder::kFrameworks), (framework / "Versions/Current/Frameworks").string());
}

}  // namespace
