#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "common/VChildProcess.h"

namespace velk {

namespace {

constexpr int kBound = 60000;  // generous: only there so that a broken frame fails instead of hanging

// ThreadSanitizer runs a signal's handler only when the receiving thread passes through its runtime, which
// a waiting thread may never do again: the signalled child then hangs for reasons of the checker's own.
#if defined(__SANITIZE_THREAD__)
#define VELK_SKIP_UNDER_THREAD_SANITIZER() GTEST_SKIP() << "signal handlers are deferred by ThreadSanitizer"
#else
#define VELK_SKIP_UNDER_THREAD_SANITIZER() (void) 0
#endif

int CountOf(const std::string& text, const std::string& part)
{
	int count = 0;
	for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
		++count;
	return count;
}

}  // namespace

// Each of the three signals ends the default run loop in order, and the process exits 0; only SIGINT
// writes its line. Arguments are handed to the application whole, save the system's serial number.
TEST(VProcessIPC, SignalsEndTheRunInOrder)
{
	VELK_SKIP_UNDER_THREAD_SANITIZER();
	struct Case
	{
		int fSignal;
		int fInterruptLines;
	};
	const Case cases[] = {{SIGTERM, 0}, {SIGINT, 1}, {SIGQUIT, 0}};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.fSignal);
		test::VChildProcess child(VELK_PROCESS_PROBE_FILE, {"idle", "-psn_0_4711", "-ps", "-psn_"});
		ASSERT_TRUE(child.Start());
		ASSERT_TRUE(child.WaitForOutput("running\n", kBound));
		child.Signal(c.fSignal);
		const int status = child.Wait(kBound);
		ASSERT_TRUE(WIFEXITED(status)) << status;
		EXPECT_EQ(WEXITSTATUS(status), 0);
		const std::string& output = child.GetOutput();
		EXPECT_EQ(CountOf(output, "\n (ctrl-c has been received - quit)\n\n"), c.fInterruptLines) << output;
		EXPECT_NE(output.find("stopped\n"), std::string::npos) << output;
		EXPECT_NE(output.find("argument idle\nargument -ps\nrunning\n"), std::string::npos) << output;
		EXPECT_EQ(output.find("-psn_"), std::string::npos) << output;
	}
}

// SIGQUIT is handled once: a second one takes the system's default action.
TEST(VProcessIPC, SecondQuitSignalEndsTheProcess)
{
	VELK_SKIP_UNDER_THREAD_SANITIZER();
	const rlimit noCore = {0, 0};
	ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);
	test::VChildProcess child(VELK_PROCESS_PROBE_FILE, {"linger"});
	ASSERT_TRUE(child.Start());
	ASSERT_TRUE(child.WaitForOutput("running\n", kBound));
	child.Signal(SIGQUIT);
	ASSERT_TRUE(child.WaitForOutput("quitting\n", kBound));
	child.Signal(SIGQUIT);
	const int status = child.Wait(kBound);
	ASSERT_TRUE(WIFSIGNALED(status)) << status;
	EXPECT_EQ(WTERMSIG(status), SIGQUIT);
}

// Signals landing while the main thread keeps taking the logger's locks never deadlock the frame.
TEST(VProcessIPC, SignalStormWhileLoggingEnds)
{
	VELK_SKIP_UNDER_THREAD_SANITIZER();
	test::VChildProcess child(VELK_PROCESS_PROBE_FILE, {"log"});
	ASSERT_TRUE(child.Start());
	ASSERT_TRUE(child.WaitForOutput("running\n", kBound));
	for (int i = 0; i < 300; ++i)
		child.Signal(i % 2 == 0 ? SIGINT : SIGTERM);
	const int status = child.Wait(kBound);
	ASSERT_TRUE(WIFEXITED(status)) << status << child.GetErrors();
	EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace velk
