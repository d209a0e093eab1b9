// Renames within one file system that say what happens to an entry already at the target: never replaced,
// swapped with the source, or replaced in one step. Every call answers 0 or the errno of the system call
// that failed; paths are UTF-8. A rename never follows a symbolic link: a link is renamed as a link.
#pragma once

namespace plat {

// Renames from to to, failing with EEXIST when anything is at to: a file, a link (even a dangling one) or a
// folder, empty or not. EXDEV when the two are on different file systems. When the file system refuses the
// no-replace flag, a file or a link is first linked at to (which fails when to exists) and then unlinked at
// from, so nothing is ever replaced; a folder is checked for with lstat and then renamed, which leaves a
// small window in which an empty folder made at to by another process would be replaced.
int RenameExclusive(const char* from, const char* to);

// Swaps the entries at first and second in one step; both must exist (ENOENT otherwise). EINVAL when the
// file system cannot exchange: there is no safe way to do it in several steps, and nothing is changed.
int ExchangePaths(const char* first, const char* second);

// Renames from over to in one step: an entry at to is replaced, with no moment at which neither exists. A
// file replaces a file or a link; a folder replaces only an empty folder (ENOTEMPTY or EEXIST otherwise);
// a file never replaces a folder (EISDIR), nor a folder a file (ENOTDIR).
int RenameReplacing(const char* from, const char* to);

// The pause, in milliseconds, between two attempts at a step the system refused (a rename, a folder to
// make): milliseconds itself, except in a test build whose VELK_TEST_RETRY_DELAY_MS says otherwise.
int RetryDelayMs(int milliseconds);

#ifdef VELK_TEST_HOOKS
// The next count renames of any kind above, including those that end a copy, fail with EBUSY without
// calling the system. The environment variable VELK_RENAME_BUSY, a decimal count, arms the same once a count
// set here is spent; it is read again whenever its text changes, so a child process can be armed. The
// variables of platform/TestFaults.h make renames busy, or kill the process at the rename of a name, first.
// Process-wide.
void SetRenameBusyForTesting(int count);

// Makes the flags of renameat2 fail with EINVAL, as on a file system without them, so RenameExclusive takes
// its fallback and ExchangePaths fails. VELK_RENAME_FLAGS_REFUSED=1 in the environment arms it too.
// Process-wide.
void SetRenameFlagsRefusedForTesting(bool refused);
#endif

}  // namespace plat
