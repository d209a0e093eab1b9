// Notification dialogs through the sink file, through a stand-in dialog helper on PATH, and without either.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "platform/MainBundle.h"

namespace velk {
namespace {

// Sets or unsets environment variables for a scope, restoring them after.
class ScopedEnvironment
{
public:
	~ScopedEnvironment()
	{
		for (auto it = fSaved.rbegin(); it != fSaved.rend(); ++it)
		{
			if (it->second)
				::setenv(it->first.c_str(), it->second->c_str(), 1);
			else
				::unsetenv(it->first.c_str());
		}
	}
	void Set(const char* name, const char* value)
	{
		const char* old = ::getenv(name);
		fSaved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
		if (value != nullptr)
			::setenv(name, value, 1);
		else
			::unsetenv(name);
	}

private:
	std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

class VNotificationTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-dialog-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = std::string(pattern) + "/";
		fEnvironment.Set("VELK_NOTIFICATION_SINK", nullptr);
		fEnvironment.Set("VELK_NOTIFICATION_ANSWER", nullptr);
		fEnvironment.Set("DISPLAY", nullptr);
		fEnvironment.Set("WAYLAND_DISPLAY", nullptr);
	}
	void TearDown() override { std::filesystem::remove_all(fRoot); }

	std::string Read(const std::string& name) const
	{
		std::ifstream in(fRoot + name, std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	}

	std::string fRoot;
	ScopedEnvironment fEnvironment;
};

TEST_F(VNotificationTest, EveryButtonTableThroughTheSink)
{
	fEnvironment.Set("VELK_NOTIFICATION_SINK", (fRoot + "sink").c_str());
	struct Row
	{
		uint32 flags;
		const char* pressed;  // null: no answer set
		const char* buttons;
		ENotificationResponse answer;
		int level;
	};
	const Row rows[] = {
		{1 | 16, "OK", "[\"OK\",\"Cancel\"]", eNR_OK, 3},
		{1, "Cancel", "[\"Cancel\",\"OK\"]", eNR_Cancel, 3},
		{2 | 16, "No", "[\"Yes\",\"No\"]", eNR_No, 3},
		{2, "Yes", "[\"No\",\"Yes\"]", eNR_Yes, 3},
		{4 | 16, "Cancel", "[\"Yes\",\"No\",\"Cancel\"]", eNR_Cancel, 3},
		{4 | 32, "Yes", "[\"No\",\"Yes\",\"Cancel\"]", eNR_Yes, 3},
		{4 | 48, "No", "[\"Cancel\",\"No\",\"Yes\"]", eNR_No, 3},
		{4, "Yes", "[\"Cancel\",\"No\",\"Yes\"]", eNR_Yes, 3},
		{5, "Ignore", "[\"Retry\",\"Ignore\",\"Abort\"]", eNR_Ignore, 3},
		{0 | 512, "OK", "[\"OK\"]", eNR_OK, 2},
		{7, nullptr, "[\"OK\"]", eNR_Dismissed, 3},
		{2, "Maybe", "[\"No\",\"Yes\"]", eNR_Dismissed, 3},
	};
	size_t lines = 0;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.flags);
		fEnvironment.Set("VELK_NOTIFICATION_ANSWER", row.pressed);
		ENotificationResponse answer = eNR_None;
		ASSERT_TRUE(VSystem::DisplayNotification(VString("Update"), VString("It \"failed\"\n"), row.flags, &answer));
		EXPECT_EQ(answer, row.answer);
		const std::string sink = Read("sink");
		const size_t start = sink.rfind('\n', sink.size() - 2) + 1;
		const std::string line = sink.substr(start == std::string::npos ? 0 : start);
		EXPECT_EQ(line, "{\"title\":\"Update\",\"message\":\"It \\\"failed\\\"\\u000a\",\"flags\":" + std::to_string(row.flags)
			+ ",\"level\":" + std::to_string(row.level) + ",\"buttons\":" + row.buttons + ",\"answer\":" + std::to_string(int(row.answer)) + "}\n");
		++lines;
	}
	// A dialog that does not wait writes its line too.
	EXPECT_TRUE(VSystem::DisplayNotification(VString(""), VString("body only"), 1, nullptr));
	const std::string sink = Read("sink");
	EXPECT_EQ(size_t(std::count(sink.begin(), sink.end(), '\n')), lines + 1);
}

TEST_F(VNotificationTest, WithoutSinkOrDisplayNothingShows)
{
	ENotificationResponse answer = eNR_Yes;
	EXPECT_FALSE(VSystem::DisplayNotification(VString("t"), VString("m"), 2, &answer));
	EXPECT_EQ(answer, eNR_None);
	EXPECT_FALSE(VSystem::DisplayNotification(VString("t"), VString("m"), 2, nullptr));
}

TEST_F(VNotificationTest, AHelperOnThePathShowsTheDialog)
{
	// The stand-in records its arguments and prints the label it is told to, or nothing (a closed window).
	std::filesystem::create_directories(fRoot + "bin");
	std::ofstream(fRoot + "bin/zenity") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$FAKE_DIALOG_ARGS\"\n"
		"[ -n \"$FAKE_DIALOG_SLEEP\" ] && sleep \"$FAKE_DIALOG_SLEEP\"\n[ -n \"$FAKE_DIALOG_LABEL\" ] && echo \"$FAKE_DIALOG_LABEL\"\nexit 1\n";
	::chmod((fRoot + "bin/zenity").c_str(), 0755);
	fEnvironment.Set("PATH", (fRoot + "bin:/usr/bin:/bin").c_str());
	fEnvironment.Set("DISPLAY", ":99");
	fEnvironment.Set("FAKE_DIALOG_ARGS", (fRoot + "args").c_str());

	struct Row
	{
		const char* label;
		ENotificationResponse answer;
	};
	const Row rows[] = {{"Yes", eNR_Yes}, {"No", eNR_No}, {nullptr, eNR_Dismissed}};
	for (const Row& row : rows)
	{
		fEnvironment.Set("FAKE_DIALOG_LABEL", row.label);
		ENotificationResponse answer = eNR_None;
		ASSERT_TRUE(VSystem::DisplayNotification(VString("Title"), VString("Body"), 2 | 512, &answer));
		EXPECT_EQ(answer, row.answer);
	}
	EXPECT_EQ(Read("args"), "--question\n--switch\n--no-markup\n--title=Title\n--text=Body\n--icon-name=dialog-warning\n"
		"--extra-button=No\n--extra-button=Yes\n");

	// A dialog that does not wait is ended by the cancel, which returns once its helper is gone.
	fEnvironment.Set("FAKE_DIALOG_SLEEP", "30");
	ASSERT_TRUE(VSystem::DisplayNotification(VString(""), VString("Header"), 0, nullptr));
	VSystem::CancelAllPendingUserNotifications();
	VSystem::CancelAllPendingUserNotifications();
}

TEST_F(VNotificationTest, TheMainBundlesIconIsTheDialogsIcon)
{
	const std::string bundle = fRoot + "App.app";
	std::filesystem::create_directories(bundle + "/Contents/Resources");
	std::ofstream(bundle + "/Contents/Resources/AppIcon.icns") << "icns";
	std::ofstream(bundle + "/Contents/Resources/Logo.png") << "png";
	std::filesystem::create_directories(fRoot + "bin");
	std::ofstream(fRoot + "bin/zenity") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$FAKE_DIALOG_ARGS\"\necho OK\n";
	::chmod((fRoot + "bin/zenity").c_str(), 0755);
	fEnvironment.Set("PATH", (fRoot + "bin:/usr/bin:/bin").c_str());
	fEnvironment.Set("DISPLAY", ":99");
	fEnvironment.Set("FAKE_DIALOG_ARGS", (fRoot + "args").c_str());

	struct Row
	{
		const char* iconFile;  // the dictionary's "CFBundleIconFile"; null: none
		std::string icon;	   // the file given to the dialog; empty: none
	};
	const Row rows[] = {
		{"AppIcon", bundle + "/Contents/Resources/AppIcon.icns"},  // the extension may be left out
		{"Logo.png", bundle + "/Contents/Resources/Logo.png"},
		{"Missing", ""},
		{"../App.app/Contents/Resources/Logo.png", ""},
		{nullptr, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.iconFile != nullptr ? row.iconFile : "none");
		plat::InfoStrings strings{{"CFBundleName", "App"}};
		if (row.iconFile != nullptr)
			strings["CFBundleIconFile"] = row.iconFile;
		ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(bundle + "/Contents/Info.plist", strings, false));
		plat::SetMainBundlePathForTesting(bundle);
		ENotificationResponse answer = eNR_None;
		EXPECT_TRUE(VSystem::DisplayNotification(VString("Title"), VString("Body"), 0, &answer));
		plat::ClearMainBundleOverridesForTesting();
		EXPECT_EQ(answer, eNR_OK);
		const std::string args = Read("args");
		const size_t at = args.find("--window-icon=");
		if (row.icon.empty())
		{
			EXPECT_EQ(at, std::string::npos) << args;
		}
		else
		{
			EXPECT_NE(args.find("--window-icon=" + row.icon + "\n"), std::string::npos) << args;
		}
	}

	// The sink records it too.
	fEnvironment.Set("VELK_NOTIFICATION_SINK", (fRoot + "sink").c_str());
	ASSERT_TRUE(plat::WriteInfoDictionaryStringsForTesting(bundle + "/Contents/Info.plist", {{"CFBundleIconFile", "AppIcon"}}, true));
	plat::SetMainBundlePathForTesting(bundle);
	EXPECT_TRUE(VSystem::DisplayNotification(VString("Title"), VString("Body"), 0, nullptr));
	plat::ClearMainBundleOverridesForTesting();
	EXPECT_NE(Read("sink").find(",\"icon\":\"" + bundle + "/Contents/Resources/AppIcon.icns\","), std::string::npos) << Read("sink");
}

}  // namespace
}  // namespace velk
