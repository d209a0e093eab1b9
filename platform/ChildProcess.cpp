#include "platform/ChildProcess.h"

#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace plat {

int AddCloseFromAction(posix_spawn_file_actions_t* actions, int lowest)
{
	return ::posix_spawn_file_actions_addclosefrom_np(actions, lowest);
}

int AddChangeFolderAction(posix_spawn_file_actions_t* actions, const char* folder)
{
	return ::posix_spawn_file_actions_addchdir_np(actions, folder);
}

int OpenExitWatch(int pid)
{
	if (pid <= 0)
	{
		errno = ESRCH;
		return -1;
	}
	return int(::syscall(SYS_pidfd_open, pid, 0));
}

bool WaitForChildEnd(int watch, int pid, int milliseconds)
{
	if (watch < 0)
	{
		if (milliseconds >= 0)
		{
			// Nothing to watch: the wait is only a pause before the caller looks again.
			timespec pause {milliseconds / 1000, long(milliseconds % 1000) * 1000000L};
			while (::nanosleep(&pause, &pause) < 0 && errno == EINTR)
				;
			return false;
		}
		siginfo_t info {};
		int result;
		do
			result = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
		while (result < 0 && errno == EINTR);
		return true;
	}
	pollfd end {watch, POLLIN, 0};
	int ready;
	do
		ready = ::poll(&end, 1, milliseconds);
	while (ready < 0 && errno == EINTR);
	// A watch the system refuses to poll cannot tell; answering "ended" keeps a caller from waiting forever.
	return ready != 0;
}

int PollLettingChildSignalIn(pollfd* fds, size_t count, int milliseconds)
{
	sigset_t mask;
	::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
	::sigdelset(&mask, SIGCHLD);
	timespec limit {milliseconds / 1000, long(milliseconds % 1000) * 1000000L};
	return ::ppoll(fds, nfds_t(count), milliseconds < 0 ? nullptr : &limit, &mask);
}

}  // namespace plat
