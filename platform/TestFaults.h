// Faults armed from the environment, so that a test can break a child process (the bundled updater's test
// build) at a named platform operation. Read once, at first use; present in test builds only (elsewhere
// the calls below do nothing).
//   VELK_TEST_COPY_FAULT="<entry name>:<errno>"  copying the entry of that name fails with errno
//   VELK_TEST_WRITE_FAULT="<errno>"              every write of file contents fails (ENOSPC: a full disk)
//   VELK_TEST_RENAME_BUSY="<count>"              that many renames fail with EBUSY
//   VELK_TEST_KILL_AT="<operation>:<name>[#<n>]" the process is killed (SIGKILL) at the operation on the
//                                                entry of that name: "rename", "copy", "trash", "sync" (a
//                                                folder's flush) or "journal" (a journal record's write);
//                                                or at a moment of its start, "start" with "unhandled" (just
//                                                before the quit signals get their handlers) or "handled"
//                                                (just after); a name ending in '*' stands for every name it
//                                                begins, and #n kills at the n-th operation that matches
//                                                (else the first)
//   VELK_TEST_KILL_SIGNAL="<signal>"             the signal sent there instead of SIGKILL (a number, or a
//                                                name among SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1):
//                                                raised on the thread at the operation, so that its handler
//                                                has run, or its default action ended the process, before
//                                                the operation goes on
//   VELK_TEST_PAUSE_AT="<operation>:<name>"      the process pauses there once (the name matched as for a
//   VELK_TEST_PAUSE_FILE="<path>"                kill): it makes the file named by VELK_TEST_PAUSE_FILE
//                                                and goes on once that file is gone (after 60 s at the
//                                                most), so a test can act mid-operation
//   VELK_TEST_POINT_LOG="<path>"                 each operation that VELK_TEST_KILL_AT can stop at is
//                                                appended to that file as "<operation> <name>", in the
//                                                order reached, so that a test can stop at each in turn
//   VELK_TEST_CALL_LOG="<path>"                  each change and flush that the bundle swap relies on is
//                                                appended to that file as one line, in the order made (see
//                                                RecordCall)
//   VELK_TEST_RETRY_DELAY_MS="<ms>"              the pause between attempts at a refused step (Rename.h)
// An errno is a number or a name among EIO, ENOSPC, EACCES, EPERM, EBUSY, EROFS, EDQUOT.
#pragma once

#ifdef VELK_TEST_HOOKS

#include <string>

namespace plat {

// The errno the copy of the entry at path must fail with, 0 when none is armed for its name.
int EnvironmentCopyFault(const std::string& path);

// The errno every content write fails with, 0 when none is armed.
int EnvironmentWriteFault();

// Whether this rename must fail busy: true while the armed count lasts. Thread-safe.
bool TakeEnvironmentRenameBusy();

// Kills the process at once, with no clean-up (or sends it the armed signal), or pauses it, when the
// operation on the entry at path is the one armed; returns otherwise. The name compared is path's last
// component. Thread-safe.
void StopIfArmed(const char* operation, const std::string& path);

// Appends "<operation> <first>[ <second>]" as a line to the call log, when one is armed. The flush of a
// folder ("sync") records the folder's names after a ':', sorted, so that a test sees what it made durable.
void RecordCall(const char* operation, const std::string& first, const std::string& second = std::string());

// The pause the armed VELK_TEST_RETRY_DELAY_MS asks for, else milliseconds.
int ArmedRetryDelayMs(int milliseconds);

}  // namespace plat

#else

#include <string>

namespace plat {

// Without the hooks nothing is ever armed.
inline void StopIfArmed(const char*, const std::string&)
{
}

inline void RecordCall(const char*, const std::string&, const std::string& = std::string())
{
}

}  // namespace plat

#endif
