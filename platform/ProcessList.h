// The machine's processes as the kernel lists them under /proc: ids, names, executable paths, and the kill
// signal. The readers take the root /proc hangs from ("/" on a running system), so fixture trees can stand in.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Appends the id of every process that has not ended (zombies, which have released everything, are left
// out), only once the whole of /proc was read; false, pids untouched, when it could not be.
bool ListProcesses(const std::string& root, std::vector<int>& pids);

// Whether root's /proc can be read at all.
bool CanReadProcesses(const std::string& root);

// The short command name of a process (at most 15 bytes here); false when there is no such process.
bool ReadProcessName(const std::string& root, int pid, std::string& name);

// The executable of a process: its exe link, else the first string of its command line; false when neither
// can be read.
bool ReadProcessPath(const std::string& root, int pid, std::string& path);

// How a wait for a process ended.
enum class WaitOutcome
{
	kExited,	  // it ended (a child of ours is collected)
	kNoProcess,	  // no process of that id, or an id below 1
	kRunning,	  // it still runs (only when not blocking)
	kFailed		  // the system refused the wait
};

// Waits for a process to end, blocking or only looking. A child is collected with waitpid; any other
// process is watched through a process descriptor until it ends, since waitpid cannot wait for it.
WaitOutcome WaitForProcess(int pid, bool block);

// Sends the kill signal; false for an id below 1 (those name groups of processes, or all of them) and when
// the signal was not delivered.
bool KillProcess(int pid);

}  // namespace plat
