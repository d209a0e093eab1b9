// The opener, what "open -a" is to the updater here: `opener -a <bundle> [--args <argument>...]` starts the
// bundle's executable with those arguments, fully detached from whoever started the opener (its own session,
// standard streams on /dev/null, working folder "/", default signal handling, no inherited descriptor).
// Exits 0 once the executable runs; else 126 when the bundle has none or the system could not execute it
// (its format, its interpreter, its permissions), 1 for any other reason, with the reason on standard error.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/Bundle.h"

namespace {

constexpr char kUsage[] = "usage: opener -a <application bundle> [--args <argument>...]\n";
constexpr int kStarted = 0;
constexpr int kCouldNotStart = 1;
constexpr int kCouldNotExecute = 126;

// What the started side reports through the status pipe when it could not go on: the step, then errno.
enum EStartStep : int
{
	eStartStepNewSession = 1,
	eStartStepFork,
	eStartStepNullDevice,
	eStartStepWorkingFolder,
	eStartStepExec
};

struct StartFailure
{
	int fStep;
	int fError;
};

const char* DescribeStep(int step)
{
	switch (step)
	{
		case eStartStepNewSession:
			return "cannot start a new session";
		case eStartStepFork:
			return "cannot fork";
		case eStartStepNullDevice:
			return "cannot open /dev/null";
		case eStartStepWorkingFolder:
			return "cannot change to the folder /";
		case eStartStepExec:
			return "cannot execute";
	}
	return "cannot start";
}

// Whether an exec failed for want of what the system lends (memory, descriptors, room for the arguments)
// rather than because of the executable itself.
bool IsShortOfResources(int error)
{
	return error == ENOMEM || error == E2BIG || error == EMFILE || error == ENFILE || error == EAGAIN;
}

// Only async-signal-safe calls from here on: the report, then the end of this side.
[[noreturn]] void ReportAndExit(int statusDescriptor, int step)
{
	const StartFailure failure {step, errno};
	ssize_t written;
	do
		written = ::write(statusDescriptor, &failure, sizeof(failure));
	while (written < 0 && errno == EINTR);
	::_exit(127);
}

// The started side, in the grandchild: a clean process image for the executable. The status pipe's write end
// is close-on-exec, so a successful exec closes it without a word.
[[noreturn]] void BecomeExecutable(const std::string& executable, char* const* arguments, int statusDescriptor)
{
	struct sigaction defaultAction {};
	defaultAction.sa_handler = SIG_DFL;
	for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
		::sigaction(signalNumber, &defaultAction, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
	sigset_t emptyMask;
	::sigemptyset(&emptyMask);
	::sigprocmask(SIG_SETMASK, &emptyMask, nullptr);

	const int nullDevice = ::open("/dev/null", O_RDWR);
	if (nullDevice < 0)
		ReportAndExit(statusDescriptor, eStartStepNullDevice);
	for (int standard = 0; standard <= 2; ++standard)
		if (::dup2(nullDevice, standard) < 0)
			ReportAndExit(statusDescriptor, eStartStepNullDevice);
	if (::chdir("/") != 0)
		ReportAndExit(statusDescriptor, eStartStepWorkingFolder);

	// Every descriptor but the standard three and the status pipe.
	if (statusDescriptor > 3)
		::close_range(3, unsigned(statusDescriptor) - 1, 0);
	::close_range(unsigned(statusDescriptor) + 1, UINT_MAX, 0);

	::execv(executable.c_str(), arguments);
	ReportAndExit(statusDescriptor, eStartStepExec);
}

// Starts the executable two forks away, in a session of its own, so that it is nobody's child here and no
// terminal can become its own. kStarted once it runs; else the exit code, with the reason on standard error.
int StartDetached(const std::string& executable, const std::vector<std::string>& arguments)
{
	// Built before forking: the forked sides only make async-signal-safe calls.
	std::vector<char*> argumentArray;
	argumentArray.push_back(const_cast<char*>(executable.c_str()));
	for (const std::string& argument : arguments)
		argumentArray.push_back(const_cast<char*>(argument.c_str()));
	argumentArray.push_back(nullptr);

	int status[2];
	if (::pipe2(status, O_CLOEXEC) != 0)
	{
		::fprintf(stderr, "opener: cannot create a pipe: %s\n", ::strerror(errno));
		return kCouldNotStart;
	}
	const pid_t child = ::fork();
	if (child < 0)
	{
		::fprintf(stderr, "opener: cannot fork: %s\n", ::strerror(errno));
		::close(status[0]);
		::close(status[1]);
		return kCouldNotStart;
	}
	if (child == 0)
	{
		::close(status[0]);
		if (::setsid() < 0)
			ReportAndExit(status[1], eStartStepNewSession);
		const pid_t grandchild = ::fork();
		if (grandchild < 0)
			ReportAndExit(status[1], eStartStepFork);
		if (grandchild == 0)
			BecomeExecutable(executable, argumentArray.data(), status[1]);
		::_exit(0);
	}

	::close(status[1]);
	// End of stream without a report: both forked sides have let go of the pipe, the last one by its exec.
	StartFailure failure {};
	ssize_t received;
	do
		received = ::read(status[0], &failure, sizeof(failure));
	while (received < 0 && errno == EINTR);
	::close(status[0]);
	int childStatus = 0;
	while (::waitpid(child, &childStatus, 0) < 0 && errno == EINTR)
		;
	if (received == ssize_t(sizeof(failure)))
	{
		::fprintf(stderr, "opener: %s %s: %s\n", DescribeStep(failure.fStep), executable.c_str(),
			::strerror(failure.fError));
		return failure.fStep == eStartStepExec && !IsShortOfResources(failure.fError) ? kCouldNotExecute : kCouldNotStart;
	}
	if (received != 0 || !WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0)
	{
		::fprintf(stderr, "opener: cannot start %s\n", executable.c_str());
		return kCouldNotStart;
	}
	return kStarted;
}

}  // namespace

int main(int argc, char** argv)
{
	// Standard descriptors left closed by the starter are taken first, so that the status pipe is never one
	// of the three that the started side puts /dev/null on.
	int spare;
	while ((spare = ::open("/dev/null", O_RDWR)) >= 0 && spare <= 2)
		;
	if (spare > 2)
		::close(spare);

	if (argc < 3 || ::strcmp(argv[1], "-a") != 0 || (argc > 3 && ::strcmp(argv[3], "--args") != 0))
	{
		::fputs(kUsage, stderr);
		return kCouldNotStart;
	}
	const std::string bundlePath = argv[2];
	const std::vector<std::string> arguments(argv + (argc > 3 ? 4 : 3), argv + argc);

	struct stat bundleStatus;
	int error = 0;
	if (::stat(bundlePath.c_str(), &bundleStatus) != 0)
		error = errno;
	else if (!S_ISDIR(bundleStatus.st_mode))
		error = ENOTDIR;
	if (error != 0)
	{
		::fprintf(stderr, "opener: cannot open the application bundle %s: %s\n", bundlePath.c_str(),
			::strerror(error));
		return kCouldNotStart;
	}
	const std::string executable = plat::Bundle(bundlePath).GetExecutablePath();
	if (executable.empty())
	{
		// The bundle is at fault, as with an executable the system cannot execute.
		::fprintf(stderr, "opener: the application bundle %s has no executable\n", bundlePath.c_str());
		return kCouldNotExecute;
	}
	return StartDetached(executable, arguments);
}
