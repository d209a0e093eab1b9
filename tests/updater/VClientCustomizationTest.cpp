#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "containers/VValueBag.h"
#include "documents/xml/VXMLBagFunctions.h"
#include "files/VFileError.h"
#include "platform/MainBundle.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProcess.h"
#include "updater/VCommandLineParser.h"
#include "updater/StSideEngine.h"
#include "updater/VUpdateEngine.h"
#include "updater/VUpdaterErrors.h"

namespace velk {

namespace {

using namespace test;

const std::string kLinkFile = "New.app/Contents/Database/RiduzovOduziz.Rylink";
const std::string kExecutable = "New.app/Contents/MacOS/Client";

class VClientCustomizationTest : public test::VTemporaryFolderTest
{
protected:
	// A fresh up-to-date bundle New.app whose dictionary names its executable, present with that mode (not
	// for 0).
	void MakeBundle(mode_t executableMode)
	{
		std::filesystem::remove_all(fRoot + "New.app");
		std::filesystem::create_directories(fRoot + "New.app/Contents/MacOS");
		Write("New.app/Contents/Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
											 "<key>CFBundleExecutable</key><string>Client</string></dict></plist>");
		if (executableMode == 0)
			return;
		Write(kExecutable, "#!/bin/sh\n");
		::chmod((fRoot + kExecutable).c_str(), executableMode);
	}

	// The engine's customization of New.app by client.json holding json (none when empty).
	bool Customize(const std::string& json)
	{
		std::filesystem::remove(fRoot + "client.json");
		if (!json.empty())
			Write("client.json", json);
		std::vector<VString> arguments;
		for (const std::string& argument :
			{std::string("updater"), std::string("--client-info"), fRoot + "client.json", fRoot + "Old.app", fRoot + "New.app"})
			arguments.emplace_back(argument.c_str());
		StSideEngine engine;
		VCommandLineParser parser(arguments);
		EXPECT_EQ(engine->DoParseCommandLine(parser), 0);
		return engine->_FinishClientCustomization();
	}

	// The link file's five attributes as read back, in the order written; empty when there is no such file.
	std::vector<std::string> ReadLinkFile()
	{
		std::vector<std::string> values;
		VRefPtr<VValueBag> bag(new VValueBag, true);
		if (!std::filesystem::exists(fRoot + kLinkFile)
			|| LoadBagFromXML(File(kLinkFile).Get(), VString("database_shortcut"), *bag, 0) != VE_OK)
			return values;
		const std::string text = Read(kLinkFile);
		size_t last = 0;
		for (const char* name : {"is_remote", "server_database_name", "server_path", "cache_folder_name", "remote_shared_resources"})
		{
			VString value;
			bag->GetString(StPackedDictionaryKey(name), value);
			const size_t at = text.find(std::string(" ") + name + "=");
			values.push_back(at != std::string::npos && at >= last ? to_string(value) : "out of order");
			last = at;
		}
		return values;
	}
};

}  // namespace

// What a customization file gives: the link file, replacing an earlier one, or the file refused; never a
// link file without a server address.
TEST_F(VClientCustomizationTest, LinkFile)
{
	const std::string ok = "{\"ServerPlatform\": \"mac\", ";
	const struct
	{
		std::string fJSON;  // empty: no file
		VError fError;
		std::vector<std::string> fLink;
	} cases[] = {
		{"", VE_UPDATER_CLIENT_INFO_INVALID, {}},
		{ok + "\"BuildIPAdress\": \"h\"", VE_UPDATER_CLIENT_INFO_INVALID, {}},
		{"[\"ServerPlatform\", \"mac\"]", VE_UPDATER_CLIENT_INFO_INVALID, {}},
		{"{\"BuildIPAdress\": \"h\"}", VE_UPDATER_CLIENT_INFO_INVALID, {}},
		{"{\"ServerPlatform\": 1, \"BuildIPAdress\": \"h\"}", VE_UPDATER_CLIENT_INFO_INVALID, {}},
		{ok + "\"BuildIPAdress\": \"10.0.0.1\", \"PublishName\": \"Sales\", \"BuildCacheFolderNameClient\": \"C\"}", VE_OK,
			{"true", "Sales", "10.0.0.1", "C", "false"}},
		{ok + "\"BuildIPAdress\": \"10.0.0.1\", \"BuildIPPort\": \"8081\"}", VE_OK, {"true", "", "10.0.0.1:8081", "", "false"}},
		{ok + "\"BuildIPAdress\": \"srv\", \"BuildIPPort\": 8081}", VE_OK, {"true", "", "srv", "", "false"}},
		{ok + "\"BuildIPAdress\": 10}", VE_OK, {}},
		{ok + "\"BuildIPAdress\": \"a<b>&\\\"c'\", \"BuildIPPort\": \"1&2\", \"PublishName\": \"Q&A \\\"<db>\\\"\"}", VE_OK,
			{"true", "Q&A \"<db>\"", "a<b>&\"c':1&2", "", "false"}},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.fJSON);
		MakeBundle(0755);
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(Customize(c.fJSON), c.fError == VE_OK);
		EXPECT_EQ(scope.GetLastError(), c.fError);
		EXPECT_EQ(ReadLinkFile(), c.fLink);
	}

	// A link file of an earlier run is replaced whole.
	std::filesystem::create_directories(fRoot + "New.app/Contents/Database");
	Write(kLinkFile, std::string(5000, 'x'));
	StErrorContextInstaller scope(false, true);
	EXPECT_TRUE(Customize(ok + "\"BuildIPAdress\": \"new\"}"));
	EXPECT_EQ(ReadLinkFile(), (std::vector<std::string>{"true", "", "new", "", "false"}));
}

// The executable's execute bits: added where missing, a file that has them left alone; a missing one is
// velk 600 at its path, reported after the link file was written.
TEST_F(VClientCustomizationTest, Executable)
{
	const struct
	{
		mode_t fMode;  // 0: no executable
		mode_t fExpected;
	} cases[] = {{0644, 0755}, {0600, 0711}, {0754, 0755}, {0755, 0755}, {0, 0}};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.fMode);
		MakeBundle(c.fMode);
		struct stat before = {};
		::stat((fRoot + kExecutable).c_str(), &before);
		StErrorContextInstaller scope(false, true);
		const bool done = Customize("{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"srv\"}");
		struct stat after = {};
		::stat((fRoot + kExecutable).c_str(), &after);
		EXPECT_EQ(after.st_mode & 07777, c.fExpected);
		// Untouched: not even a change of status time.
		const bool changed = after.st_ctim.tv_sec != before.st_ctim.tv_sec || after.st_ctim.tv_nsec != before.st_ctim.tv_nsec;
		EXPECT_EQ(changed, c.fMode != c.fExpected);
		EXPECT_EQ(ReadLinkFile(), (std::vector<std::string>{"true", "", "srv", "", "false"}));
		EXPECT_EQ(done, c.fMode != 0);
		EXPECT_EQ(scope.GetLastError(), c.fMode != 0 ? VE_OK : MakeVError(kVELK_SIGNATURE, 600));
		if (c.fMode == 0)
		{
			const auto* error = dynamic_cast<const VFileError*>(scope.GetLast());
			ASSERT_NE(error, nullptr);
			EXPECT_EQ(to_string(error->GetFilePath().GetPath(FPS_POSIX)), fRoot + kExecutable);
		}
	}
}

// A writer killed while it wrote the link file (a power loss while the caller unpacked the download, say)
// left its temporary beside it: the next link file written clears it, so the bundle installed never carries
// it. A temporary of a writer that still runs stays.
TEST_F(VClientCustomizationTest, LinkFileClearsAKilledWritersTemporary)
{
	const pid_t child = ::fork();
	if (child == 0)
		::_exit(0);
	::waitpid(child, nullptr, 0);
	MakeBundle(0755);
	std::filesystem::create_directories(fRoot + "New.app/Contents/Database");
	const std::string killed = "New.app/Contents/Database/.velk-write-" + std::to_string(child) + "-0";
	const std::string running = "New.app/Contents/Database/.velk-write-" + std::to_string(::getppid()) + "-0";
	Write(killed, "half a link file");
	Write(running, "a link file being written");
	StErrorContextInstaller scope(false, true);
	EXPECT_TRUE(Customize("{\"ServerPlatform\": \"mac\", \"BuildIPAdress\": \"10.0.0.1\"}"));
	EXPECT_EQ(scope.GetLastError(), VE_OK);
	EXPECT_EQ(ReadLinkFile(), (std::vector<std::string>{"true", "", "10.0.0.1", "", "false"}));
	EXPECT_FALSE(std::filesystem::exists(fRoot + killed));
	EXPECT_TRUE(std::filesystem::exists(fRoot + running));
}

}  // namespace velk
