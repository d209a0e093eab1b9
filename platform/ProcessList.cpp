#include "platform/ProcessList.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

std::string ProcFolder(const std::string& root)
{
	return JoinRoot(root, "/proc");
}

std::string ProcessFile(const std::string& root, int pid, const char* name)
{
	return ProcFolder(root) + "/" + std::to_string(pid) + "/" + name;
}

// The state letter follows the last ')' of stat, since the command name between parentheses may hold any
// character, ')' and blanks included.
bool IsEnded(std::string_view stat)
{
	const size_t close = stat.rfind(')');
	if (close == std::string_view::npos || close + 2 >= stat.size())
		return false;
	const char state = stat[close + 2];
	return state == 'Z' || state == 'X';
}

}  // namespace

bool ListProcesses(const std::string& root, std::vector<int>& pids)
{
	const std::string folder = ProcFolder(root);
	DIR* directory = ::opendir(folder.c_str());
	if (directory == nullptr)
		return false;
	const int folderFd = ::dirfd(directory);
	std::vector<int> found;
	while (const dirent* entry = ::readdir(directory))
	{
		char* end = nullptr;
		const long pid = std::strtol(entry->d_name, &end, 10);
		if (end == entry->d_name || *end != 0 || pid <= 0 || pid > INT32_MAX)
			continue;
		// The kernel writes stat in one read; a process that ended during the walk has none any more.
		char path[32];
		std::snprintf(path, sizeof(path), "%ld/stat", pid);
		const int fd = ::openat(folderFd, path, O_RDONLY | O_CLOEXEC);
		if (fd < 0)
			continue;
		char stat[4096];
		ssize_t count;
		do
			count = ::read(fd, stat, sizeof(stat));
		while (count < 0 && errno == EINTR);
		::close(fd);
		if (count <= 0 || IsEnded(std::string_view(stat, size_t(count))))
			continue;
		found.push_back(int(pid));
	}
	::closedir(directory);
	pids.insert(pids.end(), found.begin(), found.end());
	return true;
}

bool CanReadProcesses(const std::string& root)
{
	return ::access(ProcFolder(root).c_str(), R_OK | X_OK) == 0;
}

bool ReadProcessName(const std::string& root, int pid, std::string& name)
{
	if (pid <= 0)
		return false;
	std::string comm = ReadTextFile(ProcessFile(root, pid, "comm"), 64);
	if (comm.empty())
		return false;
	if (comm.back() == '\n')
		comm.pop_back();
	name = comm;
	return true;
}

bool ReadProcessPath(const std::string& root, int pid, std::string& path)
{
	if (pid <= 0)
		return false;
	char target[4096];
	const ssize_t length = ::readlink(ProcessFile(root, pid, "exe").c_str(), target, sizeof(target));
	if (length > 0 && size_t(length) < sizeof(target))
	{
		path.assign(target, size_t(length));
		return true;
	}
	const std::string commandLine = ReadTextFile(ProcessFile(root, pid, "cmdline"), 65536);
	if (commandLine.empty())
		return false;
	path = commandLine.substr(0, std::strlen(commandLine.c_str()));
	return true;
}

bool KillProcess(int pid)
{
	return pid > 0 && ::kill(pid, SIGKILL) == 0;
}

WaitOutcome WaitForProcess(int pid, bool block)
{
	// Ids below 1 stand for groups of children, or any child: not one process.
	if (pid <= 0)
		return WaitOutcome::kNoProcess;
	int status = 0;
	pid_t done;
	do
		done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
	while (done < 0 && errno == EINTR);
	if (done == pid)
		return WaitOutcome::kExited;
	if (done == 0)
		return WaitOutcome::kRunning;
	if (errno != ECHILD)
		return WaitOutcome::kFailed;
	const int descriptor = int(::syscall(SYS_pidfd_open, pid, 0));
	if (descriptor < 0)
		return errno == ESRCH ? WaitOutcome::kNoProcess : WaitOutcome::kFailed;
	pollfd watch {descriptor, POLLIN, 0};
	int ready;
	do
		ready = ::poll(&watch, 1, block ? -1 : 0);
	while (ready < 0 && errno == EINTR);
	::close(descriptor);
	if (ready < 0)
		return WaitOutcome::kFailed;
	return ready > 0 ? WaitOutcome::kExited : WaitOutcome::kRunning;
}

}  // namespace plat
