// Copies of files and of whole folder trees, and moves that copy when the target lies on another file system.
// A copy keeps the bytes, the mode, the owner (when the process is root), the access and modification times
// to the nanosecond and the extended attributes. It is built aside under a temporary name beside the target
// and renamed into place only when complete, so a failed copy leaves nothing half-made and the target as it
// was. Every call answers 0 or the errno of the system call that failed, and names in failedPath, when
// given, the path at which it failed; paths are UTF-8. No call throws.
#pragma once

#include <string>

namespace plat {

// Copies the file at from to to. A symbolic link at from is copied as a link with the same text. Without
// replace, EEXIST when anything is at to; with replace, the copy is renamed over to in one step, so the old
// file stays whole until the new one is complete (a link at to is itself replaced, not followed). EISDIR
// for a folder at from; ENOTSUP for a FIFO, socket or device, which are never copied.
int CopyFile(const char* from, const char* to, bool replace, std::string* failedPath = nullptr);

// Copies the folder at from, and everything in it, to the new folder to: EEXIST when anything is at to,
// ENOTDIR when from is not a folder. A symbolic link at from is followed; links inside the tree are copied as
// links with their text unchanged, even when they point outside it. Folders get their modes and times after
// their contents, so read-only folders copy. A FIFO, socket or device in the tree fails the copy with
// ENOTSUP. Hard links are copied as separate files. File contents are copied on a few threads.
int CopyTree(const char* from, const char* to, std::string* failedPath = nullptr);

// Copies as CopyTree does, but builds the tree at to itself rather than aside: for a target only its caller
// knows of (a hidden staging folder), which is then incomplete until the call returns 0. On failure
// everything it made at to is removed.
int CopyTreeInPlace(const char* from, const char* to, std::string* failedPath = nullptr);

// Moves the entry at from (a link is moved as a link) to to by renaming it: exclusively (EEXIST when
// anything is at to) or, with replace, over to in one step (rename's rules: a folder replaces only an empty
// folder). Across file systems the entry is copied as above and from is removed only once the copy is
// complete and in place; when that removal fails, its error is answered and the whole copy stays at to.
int MovePath(const char* from, const char* to, bool replace, std::string* failedPath = nullptr);

#ifdef VELK_TEST_HOOKS
// From now on, copying the entry at the source path path fails with errorNumber (EIO or ENOSPC, say) after
// its copy was begun; an empty path restores normal work. Without a path set here, the environment variable
// VELK_COPY_FAULT, "errno:path" with the errno as a number or as EIO or ENOSPC, arms the same. The variables
// of platform/TestFaults.h fail or kill a copy at an entry's name, and fail its contents' writes. Process-wide.
void SetCopyFaultForTesting(const std::string& path, int errorNumber);
#endif

}  // namespace plat
