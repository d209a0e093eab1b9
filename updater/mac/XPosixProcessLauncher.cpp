#include "updater/mac/XPosixProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/ChildProcess.h"
#include "runtime/VTaskMgr.h"
#include "updater/mac/XPosixOutputReader.h"
#include "updater/mac/XPosixWaitLimit.h"

extern char** environ;

namespace velk {

namespace {

constexpr size_t kREAD_BLOCK = 4096;
constexpr size_t kWRITE_BLOCK = 65536;
constexpr int kSIGNAL_WAIT_MILLISECONDS = 5000;
constexpr int kCHECK_MILLISECONDS = 30;

// The children shut down while still running, collected once they end so they do not stay zombies.
std::mutex sWatchLock;
std::set<int>& WatchedChildren()
{
	static std::set<int> sWatched;
	return sWatched;
}

// A write to a pipe whose reader is gone fails with EPIPE here instead of killing this process.
ssize_t WriteWithoutPipeSignal(int fd, const void* bytes, size_t length)
{
	sigset_t pipeSignal;
	sigset_t previous;
	::sigemptyset(&pipeSignal);
	::sigaddset(&pipeSignal, SIGPIPE);
	::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
	sigset_t pending;
	::sigpending(&pending);
	const bool alreadyPending = ::sigismember(&pending, SIGPIPE) == 1;
	const ssize_t written = ::write(fd, bytes, length);
	const int error = errno;
	if (written < 0 && error == EPIPE && !alreadyPending)
	{
		const timespec now {0, 0};
		while (::sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR)
			;
	}
	::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
	errno = error;
	return written;
}

bool IsRetryable(int error)
{
	return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

bool SetNonBlocking(int fd)
{
	const int flags = ::fcntl(fd, F_GETFL);
	return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// One non-blocking read: the count, 0 when nothing is there now, -1 at the end or on error.
int32 ReadNow(int fd, char* buffer, uint32 length)
{
	if (buffer == nullptr || length == 0 || fd < 0)
		return -1;
	const ssize_t count = ::read(fd, buffer, length);
	if (count > 0)
		return int32(count);
	if (count < 0 && IsRetryable(errno))
		return 0;
	return -1;
}

}  // namespace

XPosixProcessLauncher::XPosixProcessLauncher()
{
	std::fill(&fPipes[0][0], &fPipes[0][0] + 2 * kPIPE_COUNT, -1);
}

XPosixProcessLauncher::~XPosixProcessLauncher()
{
	if (fRunning)
		Shutdown(false, false);
	_StopReader();
	if (fTimer != nullptr)
		fTimer->Cancel();
	_CloseDescriptor(fExitWatch);
	_ClosePipes();
}

void XPosixProcessLauncher::SetDefaultDirectory(const VString& posixPath)
{
	fDefaultDirectory = to_string(posixPath);
}

void XPosixProcessLauncher::SetEnvironmentVariable(const VString& name, const VString& value)
{
	fEnvironment[name] = value;
}

void XPosixProcessLauncher::SetEnvironmentVariables(const VEnvironmentVariables& variables)
{
	for (const auto& [name, value] : variables)
		fEnvironment[name] = value;
}

void XPosixProcessLauncher::SetBinaryPath(const VString& path)
{
	fBinaryPath = to_string(path);
	if (fArguments.empty())
		fArguments.push_back(path);
	else
		fArguments.front() = path;
}

int32 XPosixProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& commandLine)
{
	fArguments.clear();
	fBinaryPath.clear();
	std::vector<std::string> pieces;
	SplitCommandLine(to_string(commandLine), pieces);
	for (const std::string& piece : pieces)
		fArguments.push_back(VString(piece.c_str()));
	if (!pieces.empty())
		fBinaryPath = pieces.front();
	return int32(pieces.size());
}

void XPosixProcessLauncher::AddArgument(const VString& argument)
{
	if (argument.GetLength() > 0)
		fArguments.push_back(argument);
}

void XPosixProcessLauncher::ClearArguments()
{
	fArguments.clear();
	if (!fBinaryPath.empty())
		fArguments.push_back(VString(fBinaryPath.c_str()));
}

void XPosixProcessLauncher::_CloseDescriptor(int& descriptor)
{
	if (descriptor >= 0)
		::close(descriptor);
	descriptor = -1;
}

int XPosixProcessLauncher::_OpenPipes()
{
	_ClosePipes();
	// Close-on-exec everywhere: a child spawned meanwhile by another thread must not hold our ends, or the
	// ends of stream would never come. The child gets its own through the dup2 actions.
	bool opened = ::pipe2(fPipes[kSTART_STATUS], O_CLOEXEC) == 0;
	if (opened && fRedirectInput)
		opened = ::pipe2(fPipes[kINPUT], O_CLOEXEC) == 0;
	if (opened && fRedirectOutput)
		opened = ::pipe2(fPipes[kOUTPUT], O_CLOEXEC) == 0 && ::pipe2(fPipes[kERROR], O_CLOEXEC) == 0
			&& SetNonBlocking(fPipes[kOUTPUT][0]) && SetNonBlocking(fPipes[kERROR][0]);
	if (opened)
		return 0;
	_ClosePipes();
	return -1;
}

void XPosixProcessLauncher::_ClosePipes()
{
	for (auto& pipe : fPipes)
	{
		_CloseDescriptor(pipe[0]);
		_CloseDescriptor(pipe[1]);
	}
}

int32 XPosixProcessLauncher::Start(const VEnvironmentVariables* extraVariables)
{
	if (fRunning)
		return -1;
	fExitStatus = 0;
	fTimer.reset();
	const char* pathList = std::getenv("PATH");
	if (pathList == nullptr)
		pathList = std::getenv("path");
	std::string binary;
	const int lookup = FindBinary(fBinaryPath, pathList != nullptr ? pathList : "", binary);
	if (lookup != 0)
		return lookup;
	if (_OpenPipes() != 0)
		return -1;

	posix_spawn_file_actions_t actions;
	posix_spawnattr_t attributes;
	int error = ::posix_spawn_file_actions_init(&actions);
	const bool actionsMade = error == 0;
	if (error == 0)
		error = ::posix_spawnattr_init(&attributes);
	const bool attributesMade = actionsMade && error == 0;
	if (error == 0 && fRedirectInput)
		error = ::posix_spawn_file_actions_adddup2(&actions, fPipes[kINPUT][0], STDIN_FILENO);
	if (error == 0 && fRedirectOutput)
		error = ::posix_spawn_file_actions_adddup2(&actions, fPipes[kOUTPUT][1], STDOUT_FILENO);
	if (error == 0 && fRedirectOutput)
		error = ::posix_spawn_file_actions_adddup2(&actions, fPipes[kERROR][1], STDERR_FILENO);
	if (error == 0 && !fDefaultDirectory.empty())
		error = plat::AddChangeFolderAction(&actions, fDefaultDirectory.c_str());
	// Last, so the pipes' own descriptors go too: the child keeps only 0 to 2.
	if (error == 0)
		error = plat::AddCloseFromAction(&actions, STDERR_FILENO + 1);
	sigset_t signals;
	::sigemptyset(&signals);
	if (error == 0)
		error = ::posix_spawnattr_setsigmask(&attributes, &signals);
	// This process ignores SIGPIPE; its children must not inherit that.
	::sigaddset(&signals, SIGPIPE);
	if (error == 0)
		error = ::posix_spawnattr_setsigdefault(&attributes, &signals);
	if (error == 0)
		error = ::posix_spawnattr_setpgroup(&attributes, 0);
	if (error == 0)
		error = ::posix_spawnattr_setflags(&attributes,
			short(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));
	if (error != 0)
	{
		::syslog(LOG_ERR, "init_pipes error");
		if (attributesMade)
			::posix_spawnattr_destroy(&attributes);
		if (actionsMade)
			::posix_spawn_file_actions_destroy(&actions);
		_ClosePipes();
		return error;
	}

	std::vector<std::string> arguments;
	for (const VString& argument : fArguments)
		arguments.push_back(to_string(argument));
	if (arguments.empty())
		arguments.push_back(fBinaryPath);
	std::vector<char*> argumentArray;
	for (std::string& argument : arguments)
		argumentArray.push_back(argument.data());
	argumentArray.push_back(nullptr);

	_ReapWatchedChildren();

	VEnvironmentVariables variables = fEnvironment;
	if (extraVariables != nullptr)
	{
		for (const auto& [name, value] : *extraVariables)
			variables[name] = value;
	}
	std::vector<std::string> entries;
	for (const auto& [name, value] : variables)
	{
		if (name.GetLength() > 0)
			entries.push_back(to_string(name) + "=" + to_string(value));
	}
	std::vector<char*> environmentArray;
	for (std::string& entry : entries)
		environmentArray.push_back(entry.data());
	environmentArray.push_back(nullptr);

	fRunning = true;
	pid_t pid = 0;
	error = ::posix_spawn(&pid, binary.c_str(), &actions, &attributes, argumentArray.data(),
		entries.empty() ? environ : environmentArray.data());
	::posix_spawnattr_destroy(&attributes);
	::posix_spawn_file_actions_destroy(&actions);
	if (error != 0)
	{
		fRunning = false;
		_ClosePipes();
		return error;
	}
	fPid = pid;
	fGroupToKill = -pid;
	fExitWatch = plat::OpenExitWatch(pid);

	_CloseDescriptor(fPipes[kINPUT][0]);
	_CloseDescriptor(fPipes[kOUTPUT][1]);
	_CloseDescriptor(fPipes[kERROR][1]);
	_CloseDescriptor(fPipes[kSTART_STATUS][1]);
	char status[4];
	ssize_t count;
	do
		count = ::read(fPipes[kSTART_STATUS][0], status, sizeof(status));
	while (count < 0 && errno == EINTR);
	_CloseDescriptor(fPipes[kSTART_STATUS][0]);
	const int32 result = count == 0 ? 0 : -1;

	if (fWaitLimit > 0 && fWaitLimit < VProcessLauncher::kWAIT_WITHOUT_LIMIT)
	{
		fTimer = std::make_unique<XPosixWaitLimit>();
		if (!fTimer->Start(pid, fWaitLimit))
		{
			// A limit that cannot be kept is no start: the child goes at once.
			::syslog(LOG_ERR, "Group creation failed");
			::kill(fGroupToKill, SIGKILL);
			int ignored;
			while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR)
				;
			fRunning = false;
			_ForgetChild();
			_ClosePipes();
			return -1;
		}
	}
	return result;
}

bool XPosixProcessLauncher::_PollChild()
{
	int status = 0;
	pid_t result;
	do
		result = ::waitpid(fPid, &status, WNOHANG | WUNTRACED | WCONTINUED);
	while (result < 0 && errno == EINTR);
	if (result == 0)
		return false;
	if (result > 0)
	{
		if (WIFEXITED(status))
			fExitStatus = WEXITSTATUS(status);
		else if (WIFSIGNALED(status))
			fExitStatus = -127;
		else
			return false;  // only stopped or continued: it has not ended, and must not be lost
	}
	else
	{
		fExitStatus = 0;
	}
	fRunning = false;
	_ForgetChild();
	return true;
}

void XPosixProcessLauncher::_ForgetChild()
{
	// Its end was seen: the timer must never kill a group whose id may be reused.
	if (fTimer != nullptr)
		fTimer->Cancel();
	_CloseDescriptor(fExitWatch);
	fPid = 0;
}

bool XPosixProcessLauncher::IsRunning()
{
	if (!fRunning)
		return false;
	if (fPid <= 0)
		return true;
	return !_PollChild();
}

bool XPosixProcessLauncher::KillProcess(int32 pid)
{
	return pid > 0 && ::kill(pid, SIGTERM) == 0;
}

void XPosixProcessLauncher::_KillGroupIfAsked(bool processTreeKill)
{
	// A group of 0 or -1 would name this process's own group or every process.
	if (processTreeKill && fProcessTreeKill && fGroupToKill < -1)
		::kill(fGroupToKill, SIGKILL);
}

void XPosixProcessLauncher::_StopReader()
{
	if (fReader != nullptr)
	{
		fReader->Stop();
		fReader.reset();
	}
}

int32 XPosixProcessLauncher::Shutdown(bool kill, bool processTreeKill)
{
	_ReapWatchedChildren();
	if (fWaitLimit > 0 && fRunning && fPid > 0)
		plat::WaitForChildEnd(fExitWatch, fPid, -1);
	// Whatever comes next, no handler runs once Shutdown has returned.
	_StopReader();

	int32 result = 0;
	if (fTimer != nullptr && fTimer->HasTimedOut())
	{
		_ThrowError(VE_TIMEOUT);
		result = -1;
		fTimer.reset();  // reported once
	}
	if (!fRunning || (fPid > 0 && _PollChild()))
	{
		_KillGroupIfAsked(processTreeKill);
		return result;
	}

	_CloseDescriptor(fPipes[kOUTPUT][0]);
	_CloseDescriptor(fPipes[kERROR][0]);
	_CloseDescriptor(fPipes[kINPUT][1]);

	if (fPid > 0)
	{
		if (kill)
		{
			if (!_PollChild())
				_TerminateIndependantChildProcess();
		}
		else
		{
			int status = 0;
			pid_t ended;
			do
				ended = ::waitpid(fPid, &status, WNOHANG);
			while (ended < 0 && errno == EINTR);
			if (ended == fPid)
				fExitStatus = (status >> 8) & 0xFF;
			else if (ended == 0)
				_WatchChild(fPid);
		}
	}
	if (fPid > 0)
		_ForgetChild();
	fRunning = false;
	_KillGroupIfAsked(processTreeKill);
	return result;
}

void XPosixProcessLauncher::_TerminateIndependantChildProcess()
{
	int status = 0;
	bool collected = _SignalAndWait(SIGTERM, status) || _SignalAndWait(SIGQUIT, status)
		|| _SignalAndWait(SIGKILL, status);
	if (!collected)
	{
		pid_t ended;
		do
			ended = ::waitpid(fPid, &status, WNOHANG);
		while (ended < 0 && errno == EINTR);
		collected = ended == fPid;
	}
	// Bits 8 to 15 of the wait status: 0 for a child that a signal ended.
	if (collected)
		fExitStatus = (status >> 8) & 0xFF;
}

bool XPosixProcessLauncher::_SignalAndWait(int signalNumber, int& status)
{
	if (::kill(fPid, signalNumber) != 0 && errno == ESRCH)
		return true;
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSIGNAL_WAIT_MILLISECONDS);
	do
	{
		// A pause of one check, cut short by the child's end.
		plat::WaitForChildEnd(fExitWatch, fPid, kCHECK_MILLISECONDS);
		const pid_t ended = ::waitpid(fPid, &status, WNOHANG);
		if (ended == fPid)
			return true;
		if (ended < 0 && errno == ECHILD)
		{
			status = 0;
			return true;
		}
		VTaskMgr::Yield();
	} while (std::chrono::steady_clock::now() < deadline);
	return false;
}

void XPosixProcessLauncher::_ReapWatchedChildren()
{
	std::lock_guard<std::mutex> lock(sWatchLock);
	std::set<int>& watched = WatchedChildren();
	for (auto child = watched.begin(); child != watched.end();)
	{
		const pid_t ended = ::waitpid(*child, nullptr, WNOHANG);
		if (ended == *child || (ended < 0 && errno == ECHILD))
			child = watched.erase(child);
		else
			++child;
	}
}

void XPosixProcessLauncher::_WatchChild(int pid)
{
	std::lock_guard<std::mutex> lock(sWatchLock);
	WatchedChildren().insert(pid);
}

void XPosixProcessLauncher::CloseStandardInput()
{
	_CloseDescriptor(fPipes[kINPUT][1]);
}

int32 XPosixProcessLauncher::WriteToChild(const void* data, uint32 length, bool closeAfter)
{
	const int fd = fPipes[kINPUT][1];
	if (data == nullptr || !fRunning || fd < 0)
		return -1;
	const char* bytes = static_cast<const char*>(data);
	uint32 done = 0;
	bool failed = false;
	while (done < length && !failed)
	{
		const ssize_t written = WriteWithoutPipeSignal(fd, bytes + done, length - done);
		if (written > 0)
			done += uint32(written);
		else if (written < 0 && errno == EAGAIN)
		{
			pollfd writable {fd, POLLOUT, 0};
			::poll(&writable, 1, -1);
		}
		else if (written < 0 && errno != EINTR)
			failed = true;
	}
	if (closeAfter)
		CloseStandardInput();
	return failed ? -1 : int32(done);
}

int32 XPosixProcessLauncher::WaitForData()
{
	const int output = fPipes[kOUTPUT][0];
	const int error = fPipes[kERROR][0];
	if (output < 0 && error < 0)
		return 0;
	pollfd watched[3] = {{output, POLLIN, 0}, {error, POLLIN, 0}, {fRunning ? fExitWatch : -1, POLLIN, 0}};
	const int ready = plat::PollLettingChildSignalIn(watched, 3, -1);
	if (ready < 0)
		return errno == EINTR && (!fRunning || fPid <= 0 || _PollChild()) ? 4 : 0;
	int32 result = 0;
	if (watched[0].revents != 0)
		result |= 1;
	if (watched[1].revents != 0)
		result |= 2;
	if (result == 0 && watched[2].revents != 0)
	{
		_PollChild();
		result = 4;
	}
	return result;
}

int32 XPosixProcessLauncher::ReadFromChild(char* buffer, uint32 length)
{
	return ReadNow(fPipes[kOUTPUT][0], buffer, length);
}

int32 XPosixProcessLauncher::ReadErrorFromChild(char* buffer, uint32 length)
{
	return ReadNow(fPipes[kERROR][0], buffer, length);
}

int32 XPosixProcessLauncher::ReadFromChildAndShutdown(const VChildOutputHandler& onOutput,
	const VChildOutputHandler& onError)
{
	if (fRunning && (fPipes[kOUTPUT][0] >= 0 || fPipes[kERROR][0] >= 0))
	{
		_StopReader();
		fReader = std::make_unique<XPosixOutputReader>();
		if (!fReader->Start(fPipes[kOUTPUT][0], fPipes[kERROR][0], onOutput, onError))
		{
			fReader.reset();
			::syslog(LOG_ERR, "Group creation failed");
			return -1;
		}
	}
	return Shutdown(false, false);
}

VError XPosixProcessLauncher::ReadStd(VMemoryBuffer<>* output, VMemoryBuffer<>* errors)
{
	return _Exchange(nullptr, 0, false, output, errors);
}

VError XPosixProcessLauncher::FeedAndReadStd(const void* input, size_t length, VMemoryBuffer<>* output,
	VMemoryBuffer<>* errors)
{
	return _Exchange(input, length, true, output, errors);
}

VError XPosixProcessLauncher::_Exchange(const void* input, size_t length, bool feedInput, VMemoryBuffer<>* output,
	VMemoryBuffer<>* errors)
{
	bool feeding = feedInput && input != nullptr && length > 0 && fPipes[kINPUT][1] >= 0
		&& SetNonBlocking(fPipes[kINPUT][1]);
	if (feedInput && !feeding)
		CloseStandardInput();
	const char* bytes = static_cast<const char*>(input);
	size_t written = 0;
	VError result = VE_OK;
	VMemoryBuffer<>* buffers[2] = {output, errors};
	// Both pipes and the input together: a child blocked on a full pipe would otherwise never end.
	pollfd watched[3] = {{fPipes[kOUTPUT][0], POLLIN, 0}, {fPipes[kERROR][0], POLLIN, 0}, {-1, POLLOUT, 0}};
	while (watched[0].fd >= 0 || watched[1].fd >= 0 || feeding)
	{
		watched[2].fd = feeding ? fPipes[kINPUT][1] : -1;
		if (::poll(watched, 3, -1) < 0)
		{
			if (errno == EINTR)
				continue;
			break;
		}
		for (int index = 0; index < 2; ++index)
		{
			if (watched[index].fd < 0 || watched[index].revents == 0)
				continue;
			char block[kREAD_BLOCK];
			const ssize_t count = ::read(watched[index].fd, block, sizeof(block));
			if (count > 0)
			{
				if (buffers[index] != nullptr && !buffers[index]->AddData(block, uint64(count)))
					result = VE_MEMORY_FULL;
			}
			else if (count == 0 || !IsRetryable(errno))
				watched[index].fd = -1;
		}
		if (feeding && watched[2].revents != 0)
		{
			const ssize_t sent = WriteWithoutPipeSignal(fPipes[kINPUT][1], bytes + written,
				std::min(length - written, kWRITE_BLOCK));
			if (sent > 0)
				written += size_t(sent);
			// A child that stopped reading gets no more.
			if (written == length || (sent < 0 && !IsRetryable(errno)))
			{
				feeding = false;
				CloseStandardInput();
			}
		}
	}
	if (feeding)
		CloseStandardInput();
	return result;
}

}  // namespace velk
