// The updater's test build signalled at fixed moments of its start and of its update, the signal raised by
// the test hooks at that moment: before the quit signals are handled the process dies of the signal; once
// they are, and before the run begins, the run ends at once as a failed update, logged and shown; once the
// update runs it is finished. A run never reports success for an update it did not make.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;

// The four signals that ask the updater to quit get their default action in the children started meanwhile,
// even when the test itself was started with some of them ignored (as a shell's background job is).
class StDefaultQuitSignals
{
public:
	StDefaultQuitSignals()
	{
		struct sigaction defaultAction = {};
		defaultAction.sa_handler = SIG_DFL;
		for (size_t i = 0; i < std::size(kSignals); ++i)
			::sigaction(kSignals[i], &defaultAction, &fFormer[i]);
	}
	~StDefaultQuitSignals()
	{
		for (size_t i = 0; i < std::size(kSignals); ++i)
			::sigaction(kSignals[i], &fFormer[i], nullptr);
	}
	StDefaultQuitSignals(const StDefaultQuitSignals&) = delete;
	StDefaultQuitSignals& operator=(const StDefaultQuitSignals&) = delete;

private:
	static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
	struct sigaction fFormer[std::size(kSignals)] = {};
};

}  // namespace

class VUpdaterStartSignalsTest : public test::VUpdaterFaultsFixture
{
};

TEST_F(VUpdaterStartSignalsTest, SignalsAtEachMoment)
{
	// A SIGQUIT that takes its default action writes no core file.
	const rlimit noCore = {0, 0};
	ASSERT_EQ(::setrlimit(RLIMIT_CORE, &noCore), 0);
	enum EOutcome
	{
		kDies,  // of the signal, before anything was logged or touched
		kStopped,  // exit 2 before the update began, logged and shown, nothing touched
		kUpdated  // the update under way is finished: exit 0, the new version in place
	};
	struct Case
	{
		const char* fMoment;  // where the test hook raises the signal
		int fSignal;
		EOutcome fOutcome;
	};
	const Case cases[] = {
		{"start:unhandled", SIGTERM, kDies},
		{"start:unhandled", SIGINT, kDies},
		{"start:unhandled", SIGHUP, kDies},
		{"start:unhandled", SIGQUIT, kDies},
		{"start:handled", SIGTERM, kStopped},
		{"start:handled", SIGINT, kStopped},
		{"start:handled", SIGHUP, kStopped},
		{"start:handled", SIGQUIT, kStopped},
		{"copy:Pages", SIGTERM, kUpdated},
		{"copy:index.txt", SIGHUP, kUpdated},
	};
	int index = 0;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(std::string(c.fMoment) + " signal " + std::to_string(c.fSignal));
		MakeScene(fRoot + "scene" + std::to_string(++index) + "/");
		if (HasFatalFailure())
			return;
		test::VChildRun run;
		{
			StDefaultQuitSignals defaults;
			run = test::RunChild(TestingUpdater(), Arguments(),
				Environment({std::string("VELK_TEST_KILL_AT=") + c.fMoment, "VELK_TEST_KILL_SIGNAL=" + std::to_string(c.fSignal)}),
				kRunBound);
		}
		const std::vector<std::string> lines = LogLines(fScene + "logs");
		const std::vector<std::string> messages = LogMessages(fScene + "logs");
		// Whatever the moment, success is never reported for an update that was not made.
		EXPECT_FALSE(EndedAs(run.fStatus, 0) && Tree(fOld) == fOldTree) << Joined(lines);
		switch (c.fOutcome)
		{
			case kDies:
				EXPECT_TRUE(WIFSIGNALED(run.fStatus) && WTERMSIG(run.fStatus) == c.fSignal) << Ending(run.fStatus);
				EXPECT_TRUE(lines.empty()) << Joined(lines);
				break;
			case kStopped:
				EXPECT_TRUE(EndedAs(run.fStatus, 2)) << Ending(run.fStatus) << "\n" << Joined(lines);
				EXPECT_TRUE(InOrder(messages, {"Updater starting - ",
					"The updater was asked to quit (signal " + std::to_string(c.fSignal) +
						") before the update began: nothing was changed",
					"Update failed - ", "[100] The new version of the application could not be installed."}, true))
					<< Joined(lines);
				EXPECT_EQ(Dialogs().size(), 1u) << ReadWhole(fScene + "sink");
				break;
			case kUpdated:
				EXPECT_TRUE(EndedAs(run.fStatus, 0)) << Ending(run.fStatus) << "\n" << Joined(lines);
				EXPECT_TRUE(InOrder(messages, {"Up-to-date application restarted", "Update successful - "}, true)) << Joined(lines);
				EXPECT_TRUE(WaitForRecord("version 2.0\n")) << ReadWhole(fScene + "record.txt");
				break;
		}
		ExpectNothingLost(c.fOutcome == kUpdated ? kNewTree : kOldTree);
		ExpectNoLeftovers();
		if (c.fOutcome != kUpdated)
		{
			EXPECT_FALSE(fs::exists(fScene + "data/Trash"));
			EXPECT_EQ(CountRelaunches(), 0);
		}
	}
}

}  // namespace velk
