// The debug manager: handler answers for assertions and errors, re-entry, the assert file and its path, the
// dialog handler's answers, and an abort's exit status.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "files/VSystem.h"
#include "platform/MainBundle.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VDebugContext.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VNotificationDebugMessageHandler.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// Answers with a fixed value and counts its calls; may raise an error while it handles one.
class CountingHandler : public IDebugMessageHandler
{
public:
	explicit CountingHandler(int32 answer) : fAnswer(answer) {}
	int32 AssertFailed(VDebugContext&, const char*, const char*, int32) override
	{
		++fAsserts;
		return fAnswer;
	}
	int32 ErrorThrown(VDebugContext&, const VErrorBase*) override
	{
		++fErrors;
		if (fRaiseInside)
			_ThrowError(VE_ACCESS_DENIED);
		return fAnswer;
	}
	int32 fAnswer;
	int fAsserts = 0;
	int fErrors = 0;
	bool fRaiseInside = false;
};

// The manager enabled with a handler for the test, and put back as it was after.
class VDebugMgrTest : public ::testing::Test
{
protected:
	void SetUp() override { fEnabled = VDebugMgr::Get()->SetMessagesEnabled(true); }
	void TearDown() override
	{
		VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
		VDebugMgr::Get()->SetWriteToAssertFile(false);
		VDebugMgr::Get()->SetMessagesEnabled(fEnabled);
	}

	bool fEnabled = false;
};

TEST_F(VDebugMgrTest, AssertionAnswers)
{
	CountingHandler ignore(eDebugAnswer_Ignore);
	VDebugMgr::Get()->SetDebugMessageHandler(&ignore);
	EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("x > 0", "a.cpp", 10));
	EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("x > 0", "a.cpp", 10));  // ignored from now on
	EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("x > 0", "a.cpp", 11));  // another line is asked again
	EXPECT_EQ(ignore.fAsserts, 2);

	CountingHandler breaks(eDebugAnswer_Break);
	VDebugMgr::Get()->SetDebugMessageHandler(&breaks);
	EXPECT_TRUE(VDebugMgr::Get()->AssertFailed("y", "b.cpp", 1));
	// Without a task's attention (low-level mode) the default answer stands and the handler is not asked.
	VDebugMgr::Get()->StartLowLevelMode();
	EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("y", "b.cpp", 1));
	VDebugMgr::Get()->StopLowLevelMode();
	EXPECT_EQ(breaks.fAsserts, 1);
	VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
	EXPECT_EQ(breaks.GetRefCount(), 1);
}

TEST_F(VDebugMgrTest, ThrownErrorsReachTheHandlerOnce)
{
	CountingHandler handler(eDebugAnswer_Continue);
	handler.fRaiseInside = true;
	VDebugMgr::Get()->SetDebugMessageHandler(&handler);
	{
		StErrorContextInstaller loud(false, false);
		_ThrowError(VE_MEMORY_FULL);
	}
	// The error raised inside the handler was not handed back to it.
	EXPECT_EQ(handler.fErrors, 1);
	{
		StErrorContextInstaller silent(false, true);
		_ThrowError(VE_MEMORY_FULL);
	}
	EXPECT_EQ(handler.fErrors, 1);

	CountingHandler ignore(eDebugAnswer_Ignore);
	VDebugMgr::Get()->SetDebugMessageHandler(&ignore);
	{
		StErrorContextInstaller loud(false, false);
		_ThrowError(VE_INVALID_PARAMETER);
		_ThrowError(VE_INVALID_PARAMETER);
		_ThrowError(VE_USER_ABORT);
	}
	EXPECT_EQ(ignore.fErrors, 2);
	VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
}

TEST(VDebugMgrPathTest, AssertFileBesideTheBundle)
{
	struct Row
	{
		const char* bundle;
		const char* file;
	};
	const Row rows[] = {
		{"/home/a.b/App.app", "/home/a.b/App_asserts.txt"},
		{"/home/a.b/App", "/home/a.b/App_asserts.txt"},
		{"/opt/Tool.app/", "/opt/Tool_asserts.txt"},
		{"/x/.hidden", "/x/.hidden_asserts.txt"},
		{"", ""},
	};
	for (const Row& row : rows)
		EXPECT_EQ(VDebugMgr::ComputeAssertFilePath(row.bundle), row.file) << row.bundle;
}

TEST_F(VDebugMgrTest, AssertFileHeaderStampAndText)
{
	char pattern[] = "/tmp/velk-asserts-XXXXXX";
	ASSERT_NE(mkdtemp(pattern), nullptr);
	const std::string folder = pattern;
	plat::SetMainBundlePathForTesting(folder + "/Updater.app");
	VDebugMgr::Get()->SetWriteToAssertFile(true);
	VDebugMgr::Get()->AssertFailed("count > 0", "engine.cpp", 42);
	plat::ClearMainBundleOverridesForTesting();

	std::ifstream in(folder + "/Updater_asserts.txt");
	const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	EXPECT_EQ(text.rfind("Ry log file opened on ", 0), 0u);
	EXPECT_NE(text.find("Assert Failed: count > 0, engine.cpp, 42\n"), std::string::npos);
	EXPECT_NE(text.find("  :: frame "), std::string::npos);
	std::filesystem::remove_all(folder);
}

TEST(VDebugMgrAnswersTest, DialogAnswersAndAbort)
{
	struct Row
	{
		int32 answer;
		bool debugger;
		int32 expected;
	};
	const Row rows[] = {
		{eNR_Abort, true, eDebugAnswer_Break},
		{eNR_Abort, false, eDebugAnswer_Abort},
		{eNR_Retry, false, eDebugAnswer_Continue},
		{eNR_Ignore, true, eDebugAnswer_Ignore},
		{eNR_Dismissed, true, eDebugAnswer_Ignore},
	};
	for (const Row& row : rows)
		EXPECT_EQ(VNotificationDebugMessageHandler::_TranslateNotificationResponse(row.answer, row.debugger), row.expected);

	// An abort is never a success.
	EXPECT_EXIT(VDebugMgr::Get()->Abort(), ::testing::ExitedWithCode(2), "");
}

}  // namespace
}  // namespace velk
