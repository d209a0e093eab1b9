#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/VChildProcess.h"
#include "common/VTemporaryFolderTest.h"
#include "kernel/json/VJSONValue.h"
#include "platform/Bundle.h"

namespace velk::test {

namespace {

const std::string kGenerator = std::string(VELK_SOURCE_DIR) + "/tools/make-sample-bundles";

}  // namespace

// The sample application that the demo and the end-to-end runs update.
class VSampleBundlesTest : public VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		fFolder = fRoot + "samples";
		const VChildRun run = RunChild(kGenerator, {fFolder});
		ASSERT_EQ(run.fStatus, 0) << run.fErrors;
	}

	// A stand-in updater: records its arguments, then prints lines as a caller would read them.
	std::string MakeUpdater(const std::string& lines) const
	{
		const std::string path = fRoot + "updater";
		std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + fRoot + "updater-arguments'\n"
							<< "printf '" << lines << "'\n";
		EXPECT_EQ(::chmod(path.c_str(), 0755), 0);
		return path;
	}

	std::string fFolder;
};

TEST_F(VSampleBundlesTest, MakesTwoVersionsOfOneApplication)
{
	for (const char* versionText : {"1.0", "2.0"})
	{
		const std::string version = versionText;
		SCOPED_TRACE(version);
		const std::string app = fFolder + "/v" + version.substr(0, 1) + "/Sample.app";
		const plat::Bundle bundle(app);
		std::string value;
		EXPECT_TRUE(bundle.GetInfoString("CFBundleShortVersionString", value) && value == version) << value;
		EXPECT_TRUE(bundle.GetInfoString("CFBundleName", value) && value == "Sample") << value;
		EXPECT_EQ(bundle.GetExecutablePath(), app + "/Contents/MacOS/Sample");
		EXPECT_EQ(::access((app + "/Contents/MacOS/Sample").c_str(), X_OK), 0);
		EXPECT_TRUE(std::filesystem::is_regular_file(app + "/Contents/Resources/ReadMe.txt"));
		EXPECT_TRUE(std::filesystem::is_regular_file(app + "/Contents/Resources/Help/Pages/index.txt"));

		// The framework is read through its version links.
		const std::string kit = app + "/Contents/Frameworks/Kit.framework";
		EXPECT_EQ(std::filesystem::read_symlink(kit + "/Versions/Current"), "A");
		EXPECT_EQ(std::filesystem::read_symlink(kit + "/Kit"), "Versions/Current/Kit");
		EXPECT_EQ(std::filesystem::read_symlink(kit + "/Resources"), "Versions/Current/Resources");
		const plat::Bundle framework(kit);
		EXPECT_TRUE(framework.IsFramework());
		EXPECT_TRUE(framework.GetInfoString("CFBundleShortVersionString", value) && value == version) << value;
		EXPECT_EQ(framework.GetExecutablePath(), kit + "/Versions/Current/Kit");
	}

	VJSONValue client;
	ASSERT_EQ(client.LoadFromFile(File("samples/client.json").Get()), VE_OK);
	ASSERT_TRUE(client.IsObject());
	EXPECT_EQ(to_string(client.GetProperty(VString("ServerPlatform")).GetString()), "linux");
	EXPECT_EQ(to_string(client.GetProperty(VString("BuildIPAdress")).GetString()), "192.0.2.10");
	EXPECT_EQ(to_string(client.GetProperty(VString("BuildIPPort")).GetString()), "8080");
	EXPECT_EQ(to_string(client.GetProperty(VString("PublishName")).GetString()), "Sample Server");
	EXPECT_EQ(to_string(client.GetProperty(VString("BuildCacheFolderNameClient")).GetString()), "SampleCache");
}

TEST_F(VSampleBundlesTest, RecordsStartsAndActsAsTheCaller)
{
	const std::string record = "SAMPLE_RECORD=" + fRoot + "record";
	const std::string v1 = fFolder + "/v1/Sample.app";
	const std::string v2 = fFolder + "/v2/Sample.app";
	struct Row
	{
		const char* name;
		std::string version;
		std::vector<std::string> arguments;
		std::string updaterLines;  // none: no updater named
		int exitStatus;
		std::vector<std::string> recordTail;  // the record's lines after the start's own block
	};
	const Row rows[] = {
		{"2.0 with arguments", "2.0", {"/a link/file.Rylink", "--headless", ""}, "", 0, {}},
		{"2.0 ignores an updater", "2.0", {}, "waitquit,-1\\n", 0, {}},
		{"1.0 as the caller", "1.0", {}, "starting\\nwaitquit,-1\\nlater\\n", 0,
			{"updater", "caller waitquit,-1"}},
		{"1.0 left without the line", "1.0", {}, "failed\\n", 1,
			{"updater", "caller no waitquit"}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::filesystem::remove(fRoot + "record");
		std::filesystem::remove(fRoot + "updater-arguments");
		std::vector<std::string> environment = {record};
		if (!row.updaterLines.empty())
			environment.push_back("SAMPLE_UPDATER=" + MakeUpdater(row.updaterLines));
		const std::string& app = row.version == "1.0" ? v1 : v2;
		VChildProcess sample(app + "/Contents/MacOS/Sample", row.arguments, environment);
		ASSERT_TRUE(sample.Start());
		const pid_t pid = sample.GetPid();
		const int status = sample.Wait(60000);
		ASSERT_TRUE(WIFEXITED(status)) << status;
		EXPECT_EQ(WEXITSTATUS(status), row.exitStatus) << sample.GetErrors();

		std::string expected = "version " + row.version + "\n";
		for (const std::string& argument : row.arguments)
			expected += "argument " + argument + "\n";
		expected += "pid " + std::to_string(pid) + "\n";
		const std::string text = Read("record");
		ASSERT_EQ(text.substr(0, expected.size()), expected);
		std::vector<std::string> tail;
		std::istringstream lines(text.substr(expected.size()));
		for (std::string line; std::getline(lines, line);)
			tail.push_back(line.rfind("updater ", 0) == 0 ? "updater" : line);
		EXPECT_EQ(tail, row.recordTail);

		if (row.recordTail.empty())
		{
			EXPECT_FALSE(std::filesystem::exists(fRoot + "updater-arguments"));
			continue;
		}
		// The caller names itself, its log folder, the customization, the link file the installed copy will
		// hold, and the two bundles.
		EXPECT_EQ(Read("updater-arguments"),
			"--pid\n" + std::to_string(pid) + "\n--caller-log\nyes\n--log-dir\n" + fFolder + "/logs\n--client-info\n"
				+ fFolder + "/client.json\n--restart-params\n" + v1 + "/Contents/Database/RiduzovOduziz.Rylink\n" + v1
				+ "\n" + v2 + "\n");
	}
}

}  // namespace velk::test
