// The leak checker: the report file beside the main bundle (its name, date line and count line), and the
// counting of blocks registered with a stack crawl.
#include "kernel/memory/VLeaksChecker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "platform/MainBundle.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {
namespace {

class VLeaksCheckerTest : public test::VTemporaryFolderTest
{
protected:
	void TearDown() override
	{
		plat::SetMainBundlePathForTesting(std::nullopt);
		VTemporaryFolderTest::TearDown();
	}
};

TEST_F(VLeaksCheckerTest, DumpFileHoldsTheDateAndTheLeakCount)
{
	// A point in a folder above the bundle must survive: only the bundle's own extension goes.
	const std::string bundle = fRoot + "a.b/Some.app";
	std::filesystem::create_directories(bundle);
	plat::SetMainBundlePathForTesting(bundle);
	const char* const dateLine =
		"(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday), (January|February|March|April|May|June|July|"
		"August|September|October|November|December) [0-3][0-9], [0-9]{4} (0[1-9]|1[0-2]):[0-5][0-9]:[0-6][0-9] "
		"(AM|PM)\n";
	const struct
	{
		int leaks;
		const char* suffix;
		const char* countLine;
	} rows[] = {
		{0, "main", "No memory leaks.\n"},
		{1, "main", "You have one leak:\n\n"},
		{3, "other", "You have 3 leaks:\n\n"},
	};
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.leaks);
		VLeaksChecker checker;
		checker.SetLeaksCheck(true);
		XMacStackCrawl crawls[3];
		for (int i = 0; i < row.leaks; ++i)
			checker.RegisterBlock(crawls[i]);
		ASSERT_EQ(checker.GetLeaksCount(), row.leaks);

		FILE* file = checker.OpenDumpFile(row.suffix);
		ASSERT_NE(file, nullptr);
		std::fputs("rest of the report\n", file);
		std::fclose(file);

		const std::string name = std::string("a.b/Some.") + row.suffix + ".leaks";
		const std::string text = Read(name);
		const size_t end = text.find('\n');
		ASSERT_NE(end, std::string::npos);
		EXPECT_THAT(text.substr(0, end + 1), testing::MatchesRegex(dateLine));
		EXPECT_EQ(text.substr(end + 1), std::string(row.countLine) + "rest of the report\n");
		std::filesystem::remove(fRoot + name);
	}
}

TEST_F(VLeaksCheckerTest, DumpFileIsNullWhenItCannotBeMade)
{
	const struct
	{
		std::string bundle;
		const char* suffix;
	} rows[] = {
		{"", "main"},  // not inside a bundle
		{fRoot + "missing/Some.app", "main"},  // the folder to write in does not exist
		{fRoot + "Some.app", nullptr},
	};
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.bundle.substr(0, 64));
		plat::SetMainBundlePathForTesting(row.bundle);
		VLeaksChecker checker;
		EXPECT_EQ(checker.OpenDumpFile(row.suffix), nullptr);
	}
	EXPECT_TRUE(std::filesystem::is_empty(fRoot));
}

TEST(VLeaksCheckerPathTest, OnlyTheBundlesOwnExtensionGoes)
{
	const struct
	{
		const char* bundle;
		const char* path;
	} rows[] = {
		{"/a.b/App.app", "/a.b/App.x.leaks"},
		{"/a.b/App", "/a.b/App.x.leaks"},
		{"/Apps/App.app/", "/Apps/App.x.leaks"},
		{"/Apps/.app", "/Apps/.app.x.leaks"},
		{"/", "/.x.leaks"},
	};
	for (const auto& row : rows)
		EXPECT_EQ(VLeaksChecker::ComputeDumpFilePath(row.bundle, "x"), row.path) << row.bundle;
	// No path at all rather than one the system would cut or refuse.
	EXPECT_EQ(VLeaksChecker::ComputeDumpFilePath("", "x"), "");
	EXPECT_EQ(VLeaksChecker::ComputeDumpFilePath("/" + std::string(4095, 'x'), "x"), "");
	EXPECT_EQ(VLeaksChecker::ComputeDumpFilePath("/a/App.app", nullptr), "");
}

TEST(VLeaksCheckerCountTest, CountsOnlyCrawledBlocksWhileOn)
{
	VLeaksChecker checker;
	XMacStackCrawl kept;
	kept.LoadFrames(0, 8);
	ASSERT_GT(kept.GetCount(), 0);
	const void* firstFrame = kept.GetFrame(0);

	// Off: the crawl is neither refilled nor cleared, and nothing is counted.
	XMacStackCrawl empty;
	checker.RegisterBlock(empty);
	checker.RegisterBlock(kept);
	EXPECT_EQ(empty.GetCount(), 0);
	EXPECT_EQ(kept.GetFrame(0), firstFrame);
	EXPECT_EQ(checker.GetLeaksCount(), 0);

	EXPECT_FALSE(checker.SetLeaksCheck(true));
	XMacStackCrawl first;
	XMacStackCrawl second;
	checker.RegisterBlock(first);
	checker.RegisterBlock(second);
	EXPECT_GT(first.GetCount(), 0);
	EXPECT_LE(first.GetCount(), 8);
	EXPECT_EQ(checker.GetLeaksCount(), 2);

	// A crawl that kept no frame is no leak, registered or not.
	checker.SetStackFramesToSkip(1000);
	XMacStackCrawl shallow;
	checker.RegisterBlock(shallow);
	EXPECT_EQ(shallow.GetCount(), 0);
	checker.UnregisterBlock(shallow);
	EXPECT_EQ(checker.GetLeaksCount(), 2);

	checker.UnregisterBlock(first);
	checker.UnregisterBlock(second);
	EXPECT_EQ(checker.GetLeaksCount(), 0);
	EXPECT_TRUE(checker.SetLeaksCheck(false));
}

}  // namespace
}  // namespace velk
