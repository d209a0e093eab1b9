// The two bundle paths as the updater's test build meets them: compared as the folders they lead to, not as
// texts, so that a symbolic link, a linked ancestor or a ".." never lets the new version replace a folder
// that holds it; and an outdated path that is itself a link updates the bundle it leads to and stays a link.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

const std::string kSameOrNested = "[14] The new version of the application is the application to update itself, or lies inside it ('";
const std::string kInstallFailed = "[100] The new version of the application could not be installed.";

}  // namespace

class VUpdaterBundlePathsTest : public test::VUpdaterFaultsFixture
{
protected:
	struct Refusal
	{
		const char* fName;
		// Prepares the scene; answers the outdated and up-to-date paths as given on the command line.
		std::function<std::pair<std::string, std::string>()> fPaths;
		std::vector<std::string> fLogged;  // "@" stands for the installed bundle's path, "%" for the scene's
	};

	static std::vector<std::string> Nested()
	{
		return {"Up-to-date application install failed", "Update failed - ", kSameOrNested + "@/').", kInstallFailed};
	}

	// Each case in a scene of its own: exit 2 with the texts logged in order, the caller never told to quit,
	// no program looked at, no swap begun; the installed bundle, the links and the up-to-date bundle as they
	// were, nothing beside them and nothing started.
	void ExpectRefused(const std::vector<Refusal>& cases)
	{
		int index = 0;
		for (const Refusal& c : cases)
		{
			SCOPED_TRACE(c.fName);
			MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
			if (HasFatalFailure())
				return;
			const auto [outdated, upToDate] = c.fPaths();
			TakeTrees();
			const std::map<std::string, std::string> links = Links();

			const test::VChildRun run = RunOn(outdated, upToDate);
			const std::vector<std::string> lines = LogLines(fScene + "logs");
			const std::vector<std::string> messages = LogMessages(fScene + "logs");
			EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << Joined(lines);
			std::vector<std::string> logged;
			for (std::string piece : c.fLogged)
			{
				if (const size_t at = piece.find('@'); at != std::string::npos)
					piece.replace(at, 1, fOld);
				if (const size_t at = piece.find('%'); at != std::string::npos)
					piece.replace(at, 1, fScene);
				logged.push_back(piece);
			}
			EXPECT_TRUE(InOrder(messages, logged, true)) << Joined(lines);
			EXPECT_EQ(run.fOutput, "");
			EXPECT_FALSE(InOrder(messages, {"[16]"}, true)) << Joined(lines);
			EXPECT_FALSE(InOrder(messages, {"is missing or cannot be run"}, true)) << Joined(lines);
			EXPECT_FALSE(InOrder(messages, {"Proceeding with up-to-date application install..."})) << Joined(lines);
			EXPECT_EQ(Tree(fOld), fOldTree);
			EXPECT_EQ(Tree(fNew), fNewTree);
			EXPECT_EQ(Links(), links);
			ExpectNoLeftovers();
			ExpectNothingBeside(fScene + "samples");
			EXPECT_FALSE(fs::exists(fScene + "data/Trash/files"));
			EXPECT_EQ(ReadWhole(fScene + "record.txt"), "");
		}
	}

	// The up-to-date version copied inside the installed bundle, as a plug-in would sit there.
	std::string PutNewInsideOld()
	{
		const std::string inside = fOld + "/Contents/PlugIns/New.app";
		fs::create_directories(fs::path(inside).parent_path());
		const test::VChildRun copied = test::RunChild("/bin/cp", {"-a", fNew, inside});
		EXPECT_TRUE(EndedAs(copied.fStatus, 0)) << copied.fErrors;
		return inside;
	}

	test::VChildRun RunOn(const std::string& outdated, const std::string& upToDate)
	{
		return test::RunChild(TestingUpdater(), {"--log-dir", fScene + "logs", "--caller-log", "yes", outdated, upToDate},
			Environment(), kRunBound);
	}

	// Nothing of an update, its lock or an old bundle, in a folder that holds a link or a bundle.
	static void ExpectNothingBeside(const std::string& folder)
	{
		for (const fs::directory_entry& entry : fs::directory_iterator(folder))
		{
			const std::string name = entry.path().filename().string();
			EXPECT_EQ(name.find(".velk"), std::string::npos) << entry.path();
			EXPECT_EQ(name.find("_old"), std::string::npos) << entry.path();
		}
	}

	// The links of the scene's samples folder with their targets, which no run may change.
	std::map<std::string, std::string> Links() const
	{
		std::map<std::string, std::string> links;
		for (const fs::directory_entry& entry : fs::directory_iterator(fScene + "samples"))
		{
			if (entry.is_symlink())
				links[entry.path().filename().string()] = fs::read_symlink(entry.path()).string();
		}
		return links;
	}
};

// Paths that lead to the installed bundle itself, however they get there, and a link that leads nowhere:
// refused before the caller is told and before anything is read, flushed or moved.
TEST_F(VUpdaterBundlePathsTest, SameBundleTwiceIsRefusedBeforeAnythingMoves)
{
	ExpectRefused({
		{"the same path twice", [&] { return std::make_pair(fOld, fOld); }, Nested()},
		{"the same bundle, once through a link",
			[&] {
				fs::create_directory_symlink("v1/Sample.app", fScene + "samples/Link.app");
				return std::make_pair(fOld, fScene + "samples/Link.app");
			},
			Nested()},
		{"the outdated path a link to the up-to-date bundle",
			[&] {
				fs::create_directory_symlink(fNew, fScene + "samples/Link.app");
				// The bundle the link leads to is the one compared, and the one named by the refusal.
				const std::string outdated = fScene + "samples/Link.app";
				fOld = fNew;
				return std::make_pair(outdated, fNew);
			},
			{"is a symbolic link to ", "Update failed - ", kSameOrNested + "@/').", kInstallFailed}},
		{"the same bundle through a linked folder",
			[&] {
				fs::create_directory_symlink("v1", fScene + "samples/Current");
				return std::make_pair(fScene + "samples/Current/Sample.app", fOld);
			},
			{"Update failed - ", kSameOrNested + "%samples/Current/Sample.app/').", kInstallFailed}},
		{"an outdated link that leads nowhere",
			[&] {
				fs::create_directory_symlink("v1/Missing.app", fScene + "samples/Link.app");
				return std::make_pair(fScene + "samples/Link.app", fNew);
			},
			// The link names the place where the bundle would stand: that place is what is missing.
			{"is a symbolic link to %samples/v1/Missing.app/", "Update failed - ",
				"[3] The application to update was not found at '%samples/v1/Missing.app/'."}},
	});
}

// Up-to-date paths that lead into the installed bundle, however they get there: refused the same way. The
// check of the bundles comes before the check of the new executable, so a folder inside the installed bundle
// that holds no program is refused as nested, not as a program that cannot run.
TEST_F(VUpdaterBundlePathsTest, BundleInsideTheOutdatedOneIsRefusedBeforeAnythingMoves)
{
	ExpectRefused({
		{"inside, reached through a link",
			[&] {
				PutNewInsideOld();
				fs::create_directory_symlink("v1/Sample.app/Contents/PlugIns/New.app", fScene + "samples/Link.app");
				return std::make_pair(fOld, fScene + "samples/Link.app");
			},
			Nested()},
		{"inside, through a linked ancestor",
			[&] {
				PutNewInsideOld();
				fs::create_directory_symlink("v1/Sample.app/Contents", fScene + "samples/Contents");
				return std::make_pair(fOld, fScene + "samples/Contents/PlugIns/New.app");
			},
			Nested()},
		{"inside, spelled through '..'",
			[&] {
				PutNewInsideOld();
				return std::make_pair(fOld, fScene + "samples/v2/../v1/Sample.app/Contents/PlugIns/New.app");
			},
			Nested()},
		{"a folder inside that holds no program", [&] { return std::make_pair(fOld, fOld + "/Contents/Resources"); }, Nested()},
	});
}

// An outdated path that is a symbolic link, however many links lead on: the bundle at its end is updated in
// its own folder, the link stays a link with its target unchanged, the log names both paths, and nothing is
// left beside either.
TEST_F(VUpdaterBundlePathsTest, OutdatedPathThatIsALinkUpdatesTheBundleItLeadsTo)
{
	struct Case
	{
		const char* fName;
		std::vector<std::pair<std::string, std::string>> fLinks;  // name in the samples folder, target
	};
	const Case cases[] = {
		{"a relative link", {{"Current.app", "v1/Sample.app"}}},
		{"an absolute link", {{"Current.app", "@"}}},
		{"a link to a link", {{"Current.app", "Stable.app"}, {"Stable.app", "v1/Sample.app"}}},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fName);
		MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		for (const auto& [name, target] : c.fLinks)
			fs::create_directory_symlink(target == "@" ? fOld : target, fScene + "samples/" + name);
		const std::map<std::string, std::string> links = Links();
		const std::string link = fScene + "samples/" + c.fLinks.front().first;

		const test::VChildRun run = RunOn(link, fNew);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		EXPECT_TRUE(EndedAs(run.fStatus, 0)) << Ending(run.fStatus) << "\n" << Joined(lines);
		EXPECT_TRUE(InOrder(LogMessages(fScene + "logs"),
			{"The outdated application " + link + "/ is a symbolic link to " + fOld + "/: that bundle is updated, the link is kept",
				"Restarting installed application (open -a \"" + fOld + "/\")...", "Update successful - "}, true))
			<< Joined(lines);
		EXPECT_EQ(Links(), links);
		EXPECT_EQ(Tree(link), fNewTree);
		ExpectNothingLost(test::kNewTree);
		ExpectNoLeftovers();
		ExpectNothingBeside(fScene + "samples");
		EXPECT_EQ(Tree(fScene + "data/Trash/files/Sample_old0001.app"), fOldTree);
		EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fScene + "record.txt");
	}
}

// An up-to-date path that is a link is read through it: the place receives a folder, a copy of the bundle
// the link leads to, not a link.
TEST_F(VUpdaterBundlePathsTest, UpToDatePathThatIsALinkIsCopiedAsAFolder)
{
	MakeScene(fRoot);
	const std::string link = fRoot + "samples/Latest.app";
	fs::create_directory_symlink("v2/Sample.app", link);
	const test::VChildRun run = RunOn(fOld, link);
	EXPECT_TRUE(EndedAs(run.fStatus, 0)) << Ending(run.fStatus) << "\n" << Joined(LogLines(fRoot + "logs"));
	EXPECT_FALSE(fs::is_symlink(fOld));
	EXPECT_EQ(Tree(fOld), fNewTree);
	EXPECT_EQ(fs::read_symlink(link), "v2/Sample.app");
	ExpectNoLeftovers();
	EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fRoot + "record.txt");
}

}  // namespace velk
