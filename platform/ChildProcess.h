// What starting and watching a child process needs beyond plain POSIX here: closing every other descriptor
// and changing folder as spawn actions, an exit watch that leaves the child uncollected, and a poll that lets
// SIGCHLD in only while it waits.
#pragma once

#include <poll.h>
#include <spawn.h>

#include <cstddef>

namespace plat {

// Adds to actions the closing of every descriptor from lowest up; 0, else an errno.
int AddCloseFromAction(posix_spawn_file_actions_t* actions, int lowest);

// Adds to actions a change to folder (made before the program starts); 0, else an errno.
int AddChangeFolderAction(posix_spawn_file_actions_t* actions, const char* folder);

// A descriptor that turns readable once the process has ended, whether or not it was collected; the process
// is never collected through it. -1 with errno set when there is no such process or no such watch here.
int OpenExitWatch(int pid);

// Waits at most milliseconds (negative: without limit) for the end of child pid, leaving it uncollected: on
// its watch when there is one, else with waitid and WNOWAIT (a limited wait without a watch only pauses).
// True when it has ended or when there is no such child to wait for.
bool WaitForChildEnd(int watch, int pid, int milliseconds);

// poll over fds, with SIGCHLD let in for the time of the wait only (the other signals blocked as before);
// what ppoll answers, errno set on -1.
int PollLettingChildSignalIn(pollfd* fds, size_t count, int milliseconds);

}  // namespace plat
