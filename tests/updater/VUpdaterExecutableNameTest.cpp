// Which executable the updater's test build checks before anything moves: the one its opener will start
// once the up-to-date bundle stands at the application's place, so under the place's name when the
// dictionary names none, whatever the download's folder is called. An installed bundle in which the opener
// then finds no executable is swapped back, as one whose executable the system cannot execute.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

// The sample's dictionary at version 2.0, naming its executable only when one is given.
void WriteInfoDictionary(const std::string& bundle, const char* executable)
{
	std::ofstream plist(bundle + "/Contents/Info.plist", std::ios::trunc);
	plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
			 "\t<key>CFBundleName</key>\n\t<string>Sample</string>\n"
			 "\t<key>CFBundleShortVersionString</key>\n\t<string>2.0</string>\n";
	if (executable != nullptr)
		plist << "\t<key>CFBundleExecutable</key>\n\t<string>" << executable << "</string>\n";
	plist << "</dict>\n</plist>\n";
}

}  // namespace

class VUpdaterExecutableNameTest : public test::VUpdaterFaultsFixture
{
};

TEST_F(VUpdaterExecutableNameTest, TheExecutableOfTheBundleAtItsPlace)
{
	struct Case
	{
		const char* fName;
		const char* fFolder;  // the up-to-date bundle's folder name
		const char* fKey;  // its CFBundleExecutable, null for none
		const char* fProgram;  // the name of its program in Contents/MacOS
		bool fOutsideLink;  // the program is a link to a file beside the bundle, which the place lacks
		int fExit;
		std::vector<std::string> fLogged;  // pieces of messages, in this order; "%" stands for the up-to-date bundle
		const char* fError;  // the one error the run ends with, null for a success
	};
	const Case cases[] = {
		{"no name given, the program named as the download", "Sample 2.0.app", nullptr, "Sample 2.0", false, 2,
			{"The up-to-date application's executable %/Contents/MacOS/Sample is missing or cannot be run", "Update failed - "},
			"[16] The program of the new version of the application, '%/Contents/MacOS/Sample'"},
		{"no name given, the program named as the place", "Sample 2.0.app", nullptr, "Sample", false, 0,
			{"Up-to-date application restarted", "Update successful - "}, nullptr},
		{"the dictionary's name", "Sample 2.0.app", "Sample 2.0", "Sample 2.0", false, 0,
			{"Up-to-date application restarted", "Update successful - "}, nullptr},
		{"no program at the place", "Sample.app", "Sample", "Sample", true, 2,
			{"has no executable", "Failed to restart updated application (returned error 0 - exit status 126)",
				"Up-to-date application restart failed", "The outdated application is back at ", "Update failed - "},
			"[120] "},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fName);
		MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const std::string program = fNew + "/Contents/MacOS/Sample";
		const std::string beside = fScene + "samples/v2/Sample-program";
		fs::rename(program, beside);
		const std::string bundle = fScene + "samples/v2/" + c.fFolder;
		if (bundle != fNew)
			fs::rename(fNew, bundle);
		fNew = bundle;
		WriteInfoDictionary(fNew, c.fKey);
		const std::string named = fNew + "/Contents/MacOS/" + c.fProgram;
		if (c.fOutsideLink)
			fs::create_symlink("../../../Sample-program", named);
		else
			fs::rename(beside, named);
		TakeTrees();

		const test::VChildRun run = test::RunChild(TestingUpdater(), Arguments(), Environment(), kRunBound);
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		const std::vector<std::string> messages = LogMessages(fScene + "logs");
		EXPECT_TRUE(EndedAs(run.fStatus, c.fExit)) << Ending(run.fStatus) << "\n" << Joined(lines);
		std::vector<std::string> logged = c.fLogged;
		for (std::string& piece : logged)
		{
			if (const size_t at = piece.find('%'); at != std::string::npos)
				piece.replace(at, 1, fNew);
		}
		EXPECT_TRUE(InOrder(messages, logged, true)) << Joined(lines);
		const std::vector<std::string> errors = ErrorsAfterTheEnd(messages);
		if (c.fError == nullptr)
		{
			EXPECT_TRUE(errors.empty()) << Joined(lines);
			ExpectNothingLost(kNewTree);
			ExpectNoLeftovers();
			EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fScene + "record.txt");
			continue;
		}
		std::string error = c.fError;
		if (const size_t at = error.find('%'); at != std::string::npos)
			error.replace(at, 1, fNew);
		ASSERT_EQ(errors.size(), 1u) << Joined(lines);
		EXPECT_EQ(errors[0].rfind(error, 0), 0u) << errors[0];
		ExpectNothingLost(kOldTree);
		ExpectNoLeftovers();
		EXPECT_FALSE(fs::exists(fScene + "data/Trash/files"));
		EXPECT_EQ(CountRelaunches(), 0);
		// A bundle that was installed and did not start is kept beside the place, as it was received.
		const std::string failed = fScene + "samples/v1/Sample_failed0001.app";
		EXPECT_EQ(fs::exists(failed), c.fOutsideLink);
		if (c.fOutsideLink)
		{
			EXPECT_EQ(Tree(failed), fNewTree);
		}
	}
}

}  // namespace velk
