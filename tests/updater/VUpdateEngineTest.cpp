#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/VChildProcess.h"
#include "common/VTemporaryFolderTest.h"
#include "platform/MainBundle.h"
#include "runtime/VProcess.h"
#include "updater/VCommandLineParser.h"
#include "updater/StSideEngine.h"
#include "updater/VUpdateEngine.h"

namespace velk {

namespace {

std::string PosixOf(const VFilePath& path)
{
	if (path.GetPath(FPS_SYSTEM).IsEmpty())
		return std::string();
	VString text;
	path.GetPosixPath(text);
	return to_string(text);
}

using namespace test;

const std::string kNoUpToDate = "mismatched value for option --uptodate-app\n\n";
const std::string kNoOutdated = "mismatched value for option --outdated-app\n\n";

// Descriptions at column 30, wrapped within 50 units, tabs of the stored texts removed.
const std::string kHelp =
	"Usage: updater [OPTION]... [FILE]...\n"
	"\n"
	"Ry Updater\n"
	"Updates an existing Ry application residing at <path of app to update> using \n"
	"newer versions tored <path of update>\n"
	"\n"
	"      --pid=VALUE            Wait for the caller's pid\n"
	"      --silent               ensure that no message is displayed in case of \n"
	"                             error. Errors are still logged though\n"
	"      --install-path=VALUE   indicates where the updated app should be \n"
	"                             installed instead of <path of app to update>.\n"
	"      --restart-params=VALUE indicates the full path to the RyLink file that \n"
	"                             will be passed back to the restarted application. \n"
	"                             This does not apply if the application is started \n"
	"                             as a service\n"
	"      --caller-log=VALUE     Restart params\n"
	"      --log-dir=VALUE        specifies a folder for the updater where log file \n"
	"                             should be written\n"
	"      --client-info=VALUE    path of the client customization file. Using this \n"
	"                             option IMPLIES that application is a Ry-based \n"
	"                             client, which incurs special processing.\n"
	"      --outdated-app=VALUE   Outdated application bundle path\n"
	"      --uptodate-app=VALUE   Up-to-date application bundle path\n"
	"      --restart-headless     Restart the application in headless mode.\n"
	"\n"
	"Help:\n"
	"      --version              Print the version and exits\n"
	"  -h, --help                 Display the help and exit\n";

std::string Updater()
{
	return std::string(VELK_UPDATER_BUNDLE) + "/Contents/MacOS/updater";
}

}  // namespace

// The updater's command lines: the result, what reached standard output and error, and the fields.
TEST(VUpdateEngine, CommandLines)
{
	struct Case
	{
		std::vector<std::string> fArguments;
		int fResult;
		std::string fOutput;
		std::string fErrors;
		std::string fOutdated = "";
		std::string fUpToDate = "";
		int32 fPid = -1;
	};
	const Case cases[] = {
		{{}, 1, "", kNoUpToDate + kNoOutdated},
		{{"/old.app", "/new.app"}, 0, "", "", "/old.app/", "/new.app/"},
		{{"--outdated-app", "/old.app/", "--uptodate-app=/new.app"}, 0, "", "", "/old.app/", "/new.app/"},
		{{"/old.app", "/new.app", "--pid", "5"}, 0, "", "", "/old.app/", "/new.app/", 5},
		{{"--pid", "12", "/old.app", "/new.app"}, 0, "", "", "/old.app/", "/new.app/", 12},
		{{"/old.app"}, 1, "", "not enough arguments from the command line (required <dest> <src>)\n\n"},
		{{"/a", "/b", "/c"}, 1, "", "two many arguments from the command line\n"},
		{{"/old.app", "/new.app", "--outdated-app=/third.app"}, 1, "", kNoOutdated},
		{{"/old.app", "/new.app", "--outdated-app=/third.app", "--uptodate-app=/x.app"}, 1, "", kNoOutdated + kNoUpToDate},
		{{"/old.app", "/new.app", "--outdated-app=/OLD.app"}, 0, "", "", "/OLD.app/", "/new.app/"},
		{{"/old.app", "/new.app", "--uptodate-app=/x.app"}, 1, "", kNoUpToDate},
		{{"--uptodate-app=/new.app"}, 1, "", kNoOutdated},
		{{"--outdated-app=/old.app"}, 1, "", kNoUpToDate},
		{{"--pid", "abc", "/a", "/b"}, 1, "", "invalid value for argument '--pid' got \"abc\" expected a signed integral\n"},
		{{"--pid", "4294967297", "/a", "/b"}, 1, "",
			"invalid value for argument '--pid' got \"4294967297\" expected a signed integral\n"},
		{{"--version", "/bogus"}, 2, "9.8.7\n", ""},
		{{"--install-path", "/x", "/a", "/b"}, 0, "", "", "/a/", "/b/"},
		{{"--silent=1", "/a", "/b"}, 1, "", "error: a value for option `silent` is not required\n"},
	};
	for (const Case& c : cases)
	{
		std::vector<VString> arguments{VString("updater")};
		std::string trace;
		for (const std::string& argument : c.fArguments)
		{
			arguments.emplace_back(argument.c_str());
			trace += argument + " ";
		}
		SCOPED_TRACE(trace);
		StSideEngine engine;
		VCommandLineParser parser(arguments);
		testing::internal::CaptureStdout();
		testing::internal::CaptureStderr();
		const int result = engine->DoParseCommandLine(parser);
		const std::string output = testing::internal::GetCapturedStdout();
		const std::string errors = testing::internal::GetCapturedStderr();
		EXPECT_EQ(result, c.fResult);
		EXPECT_EQ(output, c.fOutput);
		EXPECT_EQ(errors, c.fErrors);
		if (c.fResult != 0)
			continue;
		EXPECT_EQ(PosixOf(engine->GetOutdatedApplication()), c.fOutdated);
		EXPECT_EQ(PosixOf(engine->GetUpToDateApplication()), c.fUpToDate);
		EXPECT_EQ(PosixOf(engine->GetInstallDestination()), c.fOutdated);
		EXPECT_EQ(engine->GetCallerPID(), c.fPid);
	}
}

// Every option reaches its field; the folders are folder paths whatever the text's end.
TEST(VUpdateEngine, OptionsFillTheFields)
{
	std::vector<VString> arguments;
	for (const char* argument : {"updater", "--log-dir", "/tmp/logs", "--restart-params", "/tmp/link.Rylink", "--caller-log",
			 "yes", "--client-info", "/tmp/client.json", "--silent", "--restart-headless", "/a.app/", "/b.app"})
		arguments.emplace_back(argument);
	StSideEngine engine;
	VCommandLineParser parser(arguments);
	ASSERT_EQ(engine->DoParseCommandLine(parser), 0);
	EXPECT_EQ(PosixOf(engine->GetLogFolder()), "/tmp/logs/");
	EXPECT_EQ(PosixOf(engine->GetLinkFile()), "/tmp/link.Rylink");
	EXPECT_EQ(PosixOf(engine->GetClientCustomizationFile()), "/tmp/client.json");
	EXPECT_TRUE(engine->GetReportToCaller());
	EXPECT_TRUE(engine->IsSilent());
	EXPECT_TRUE(engine->GetRestartHeadless());
	EXPECT_EQ(PosixOf(engine->GetOutdatedApplication()), "/a.app/");
	EXPECT_EQ(PosixOf(engine->GetUpToDateApplication()), "/b.app/");

	VFilePath path;
	VUpdateEngine::FixFolderPathSpec(VString(""), FPS_POSIX, path);
	EXPECT_EQ(PosixOf(path), "");
}

// The bundled program: its exit codes, and what it prints before any bundle is touched.
TEST(VUpdateEngine, BundledProgram)
{
	struct Case
	{
		std::vector<std::string> fArguments;
		int fExitCode;
		std::string fOutput;
		std::string fErrors;
	};
	const Case cases[] = {
		{{}, 1, "", kNoUpToDate + kNoOutdated},
		{{"--help"}, 0, kHelp, ""},
		{{"/a.app", "-h", "/b.app"}, 0, kHelp, ""},
		{{"--version", "/bogus.app"}, 0, std::string(VELK_PROJECT_VERSION) + "\n", ""},
		// The update run is not built yet: a complete command line ends as a failed update.
		{{"/no/old.app", "/no/new.app"}, 2, "", ""},
		{{"--pid"}, 1, "", "error: missing value for option --pid\n"},
	};
	for (const Case& c : cases)
	{
		const test::VChildRun run = test::RunChild(Updater(), c.fArguments);
		ASSERT_TRUE(WIFEXITED(run.fStatus)) << run.fStatus << run.fErrors;
		EXPECT_EQ(WEXITSTATUS(run.fStatus), c.fExitCode) << run.fErrors;
		EXPECT_EQ(run.fOutput, c.fOutput);
		EXPECT_EQ(run.fErrors, c.fErrors);
	}
}

class VUpdaterBundleTest : public test::VTemporaryFolderTest
{
};

// A start-up step that fails stops everything after it: the command line is never read.
TEST_F(VUpdaterBundleTest, FailedStartUpStepStopsTheRest)
{
	const std::string copy = fRoot + "Updater.app";
	std::filesystem::copy(VELK_UPDATER_BUNDLE, copy, std::filesystem::copy_options::recursive);
	Write("Updater.app/Contents/Resources/fileSystems.json", "{ not json");
	const test::VChildRun run = test::RunChild(copy + "/Contents/MacOS/updater", {});
	ASSERT_TRUE(WIFEXITED(run.fStatus)) << run.fStatus << run.fErrors;
	EXPECT_EQ(WEXITSTATUS(run.fStatus), 1);
	EXPECT_EQ(run.fErrors.find("mismatched"), std::string::npos) << run.fErrors;

	// The same copy without the broken definitions starts and reads its command line.
	std::filesystem::remove(copy + "/Contents/Resources/fileSystems.json");
	const test::VChildRun fixed = test::RunChild(copy + "/Contents/MacOS/updater", {"--version"});
	ASSERT_TRUE(WIFEXITED(fixed.fStatus)) << fixed.fStatus << fixed.fErrors;
	EXPECT_EQ(WEXITSTATUS(fixed.fStatus), 0);
	EXPECT_EQ(fixed.fOutput, std::string(VELK_PROJECT_VERSION) + "\n");
}

}  // namespace velk
