// Path arguments that are not UTF-8, given to the updater's test build: each is refused before anything
// starts, with the argument named and its bytes shown escaped, and no bundle is touched, neither one of that
// very name nor a look-alike whose name reads the same once the bytes are taken for Latin-1.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

}  // namespace

class VUpdaterPathBytesTest : public test::VUpdaterFaultsFixture
{
protected:
	// A copy of a sample bundle under another name beside it.
	void CopyBundle(const std::string& from, const std::string& to)
	{
		const test::VChildRun copied = test::RunChild("/bin/cp", {"-a", from, to});
		ASSERT_TRUE(EndedAs(copied.fStatus, 0)) << copied.fErrors;
	}
};

TEST_F(VUpdaterPathBytesTest, NonUTF8PathsAreRefused)
{
	enum EBundles : unsigned
	{
		kNone = 0,
		kTheName = 1,  // a bundle whose name holds the very byte
		kLookAlike = 2,  // a bundle whose name holds U+00FF, which the byte reads as in Latin-1
	};
	struct Case
	{
		const char* fName;
		const char* fArgument;  // as the message names it
		unsigned fBundles;
	};
	const Case cases[] = {
		{"outdated, a look-alike beside", "<outdated bundle>", kLookAlike},
		{"outdated, the bundle of that name", "<outdated bundle>", kTheName},
		{"outdated, both", "<outdated bundle>", kTheName | kLookAlike},
		{"outdated as an option", "--outdated-app", kTheName | kLookAlike},
		{"up-to-date, a look-alike beside", "<up-to-date bundle>", kLookAlike},
		{"up-to-date as an option", "--uptodate-app", kTheName | kLookAlike},
		{"log folder", "--log-dir", kNone},
		{"client customization", "--client-info", kNone},
		{"link file", "--restart-params", kNone},
		{"install path", "--install-path", kNone},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fName);
		MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		const std::string argument = c.fArgument;
		const bool bundle = argument.find("bundle>") != std::string::npos || argument.ends_with("-app");
		const bool upToDate = argument == "<up-to-date bundle>" || argument == "--uptodate-app";
		const std::string folder = fScene + (upToDate ? "samples/v2/" : "samples/v1/");
		const std::string bad = bundle ? folder + "Bad\xff" "Byte.app"
			: fScene + (argument == "--log-dir" ? "logs\xff" : "samples/client\xff.json");
		if ((c.fBundles & kTheName) != 0)
			CopyBundle(upToDate ? fNew : fOld, bad);
		if ((c.fBundles & kLookAlike) != 0)
			CopyBundle(upToDate ? fNew : fOld, folder + "Bad\xc3\xbf" "Byte.app");
		if (HasFatalFailure())
			return;
		std::map<std::string, std::map<std::string, std::string>> before;
		for (const std::string& each : {fScene + "samples/v1", fScene + "samples/v2"})
			before[each] = Tree(each);

		std::vector<std::string> arguments{"--log-dir", fScene + "logs"};
		if (argument == "<outdated bundle>")
			arguments.insert(arguments.end(), {bad, fNew});
		else if (argument == "<up-to-date bundle>")
			arguments.insert(arguments.end(), {fOld, bad});
		else if (argument == "--outdated-app")
			arguments.insert(arguments.end(), {"--outdated-app", bad, "--uptodate-app", fNew});
		else if (argument == "--uptodate-app")
			arguments.insert(arguments.end(), {"--outdated-app", fOld, "--uptodate-app", bad});
		else if (argument == "--log-dir")
			arguments = {"--log-dir", bad, fOld, fNew};
		else
			arguments = {"--log-dir", fScene + "logs", argument, bad, fOld, fNew};
		const test::VChildRun run = test::RunChild(TestingUpdater(), arguments, Environment(), kRunBound);

		EXPECT_TRUE(EndedAs(run.fStatus, 1)) << Ending(run.fStatus) << "\n" << run.fErrors;
		std::string shown = bad;
		shown.replace(shown.find('\xff'), 1, "\\xff");
		EXPECT_NE(run.fErrors.find("invalid value for argument '" + argument + "' got \"" + shown + "\" expected a path in UTF-8"),
			std::string::npos) << run.fErrors;
		// The bytes themselves never reach the message, nor what the text would make of them.
		EXPECT_EQ(run.fErrors.find('\xff'), std::string::npos) << run.fErrors;
		EXPECT_EQ(run.fErrors.find("\xc3\xbf"), std::string::npos) << run.fErrors;
		EXPECT_EQ(run.fErrors.find("\xed\xb3\xbf"), std::string::npos) << run.fErrors;
		EXPECT_EQ(run.fOutput, "");
		for (const auto& [each, tree] : before)
			EXPECT_EQ(Tree(each), tree) << each;
		EXPECT_FALSE(fs::exists(fScene + "logs"));
		EXPECT_FALSE(fs::exists(fScene + "logs\xc3\xbf"));
		EXPECT_FALSE(fs::exists(fScene + "logs\xff"));
		EXPECT_FALSE(fs::exists(fScene + "data/Trash"));
		EXPECT_TRUE(Dialogs().empty());
		EXPECT_EQ(CountRelaunches(), 0);
	}
}

}  // namespace velk
