// Faults armed from the environment, so that a test can break a child process (the bundled updater's test
// build) at a named platform operation. Read once, at first use; present in test builds only.
//   VELK_TEST_COPY_FAULT="<entry name>:<errno>"  copying the entry of that name fails with errno
//   VELK_TEST_WRITE_FAULT="<errno>"              every write of file contents fails (ENOSPC: a full disk)
//   VELK_TEST_RENAME_BUSY="<count>"              that many renames fail with EBUSY
//   VELK_TEST_KILL_AT="<operation>:<name>"       the process is killed (SIGKILL) at the operation on the
//                                                entry of that name: "rename", "copy" or "trash"
//   VELK_TEST_PAUSE_AT="<operation>:<name>"      the process pauses there once: it makes the file named by
//   VELK_TEST_PAUSE_FILE="<path>"                VELK_TEST_PAUSE_FILE and goes on once that file is gone
//                                                (after 60 s at the most), so a test can act mid-operation
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

// Kills the process at once, with no clean-up, or pauses it, when the operation on the entry at path is
// the one armed; returns otherwise. The name compared is path's last component.
void StopIfArmed(const char* operation, const std::string& path);

}  // namespace plat

#endif
