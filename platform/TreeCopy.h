// Copies of files and of whole folder trees, and moves that copy when the target lies on another file system.
// A copy keeps what `cp -a` keeps: the bytes, the mode, the owner (when the process is root, set before the
// extended attributes so that a file capability survives), the access and modification times to the
// nanosecond and the extended attributes; FIFOs, sockets and devices are made anew. It is built aside under
// a temporary name beside the target and renamed into place only when complete, so a failed copy leaves
// nothing half-made and the target as it was. Every call answers 0 or the errno of the system call that
// failed, and names in failedPath, when given, the path at which it failed (the entry that was refused);
// paths are UTF-8. No call throws. Mode, owner and extended attributes are kept as far as the target's
// file system has them: a FAT volume has none (UnixRights.h), and the copy goes on without them.
#pragma once

#include <string>

namespace plat {

// Copies the file at from to to. A symbolic link at from is copied as a link with the same text. Without
// replace, EEXIST when anything is at to; with replace, the copy is renamed over to in one step, so the old
// file stays whole until the new one is complete (a link at to is itself replaced, not followed). EISDIR
// for a folder at from. A FIFO or a socket at from is made anew at to (a socket as a name nobody listens
// on); a device is made anew with its numbers where the system allows this process, else the copy fails
// with the system's errno (EPERM) and from in failedPath.
int CopyFile(const char* from, const char* to, bool replace, std::string* failedPath = nullptr);

// Copies as CopyFile does the entry fromName of the folder open at fromFolder, which a walk holds open: the
// entry is read through that folder whatever its path leads to by now. from names it in failures and test
// faults.
int CopyFileFrom(int fromFolder, const char* fromName, const char* from, const char* to, bool replace, std::string* failedPath = nullptr);

// Copies the folder at from, and everything in it, to the new folder to: EEXIST when anything is at to,
// ENOTDIR when from is not a folder. A symbolic link at from is followed; links inside the tree are copied as
// links with their text unchanged, even when they point outside it. Folders get their modes and times after
// their contents, so read-only folders copy. FIFOs, sockets and devices in the tree are made anew as
// CopyFile makes them; a device the system refuses to make fails the whole copy with its errno (EPERM)
// and the device's path in failedPath, never leaving it out. Entries with several names inside the tree
// (hard links) keep them: each further name is linked to the copy of the first. Any other entry type
// fails the copy with ENOTSUP and its path. File contents are copied on a few threads.
// The source is walked relative to the folders the copy opened, never through a link: a folder swapped for
// a link after it was listed is copied as that link (or, when it changes kind again and again, fails the
// copy), a file reached through a folder swapped meanwhile fails the copy (ELOOP) rather than be read from
// elsewhere. The copy is built below its temporary root's own descriptor. EINVAL, with nothing made, when
// the folder the copy would be made in is a folder of the source (a bind mount of one too).
int CopyTree(const char* from, const char* to, std::string* failedPath = nullptr);

// Copies as CopyTree does the folder open at fromFolder, which a walk holds open; from names it in failures
// and test faults.
int CopyTreeFrom(int fromFolder, const char* from, const char* to, std::string* failedPath = nullptr);

// Copies as CopyTree does, but builds the tree in the empty folder at to, which its caller made (a hidden
// staging folder only it knows of) and which is then incomplete until the call returns 0: ENOTEMPTY or
// ENOTDIR, with nothing done, when to is not an empty folder. to gets from's mode and times last. On
// failure to is removed with everything made in it.
int CopyTreeInPlace(const char* from, const char* to, std::string* failedPath = nullptr);

// Copies as CopyTree does, into a new hidden folder beside the entry at to, and leaves the copy there,
// named in staging, for the caller to put in place (PutInPlace): the way to replace a folder that is not
// empty, which a rename cannot do. On failure nothing of the copy is left and staging is empty.
int CopyTreeBeside(const char* from, const char* to, std::string& staging, std::string* failedPath = nullptr);
// The same from the folder open at fromFolder, as CopyTreeFrom.
int CopyTreeBesideFrom(int fromFolder, const char* from, const char* to, std::string& staging, std::string* failedPath = nullptr);

// Makes an empty folder (0755 less the umask) beside the entry at to, under a hidden name no other copy
// picks, named in staging; empty on failure.
int MakeFolderBeside(const char* to, std::string& staging);

// Puts the entry at staging in the place of the entry at to (a link at to is itself moved, not followed):
// both are exchanged in one step where the file system can. Where it cannot, to is first renamed aside under
// a hidden name and staging then renamed in, so for a moment nothing stands at to; should the second rename
// fail, to is renamed back. old receives where the former entry now stands, for the caller to remove; on
// failure it is empty and nothing was changed.
int PutInPlace(const char* staging, const char* to, std::string& old);

// Whether the entry path names, or would name once made, is the folder at folder or lies inside it. path's
// nearest existing ancestor is resolved (links followed), and it and every folder above it are compared with
// the folder (a final link followed) by device and inode, so that links and bind mounts are seen through.
// False when folder is no folder, or the question cannot be answered (a folder that cannot be searched).
bool IsSameOrInsideFolder(const char* path, const char* folder);

// Moves the entry at from (a link is moved as a link) to to by renaming it: exclusively (EEXIST when
// anything is at to) or, with replace, over to in one step (rename's rules: a folder replaces only an empty
// folder). Across file systems the entry is copied as above and from is removed only once the copy is
// complete and in place, by the walk of RemoveTree (platform/TreeRemoval.h); when that removal fails, its
// error is answered and the whole copy stays at to.
int MovePath(const char* from, const char* to, bool replace, std::string* failedPath = nullptr);

#ifdef VELK_TEST_HOOKS
// From now on, copying the entry at the source path path fails with errorNumber (EIO or ENOSPC, say) after
// its copy was begun; an empty path restores normal work. Without a path set here, the environment variable
// VELK_COPY_FAULT, "errno:path" with the errno as a number or as EIO or ENOSPC, arms the same. The variables
// of platform/TestFaults.h fail or kill a copy at an entry's name, and fail its contents' writes. Process-wide.
void SetCopyFaultForTesting(const std::string& path, int errorNumber);
#endif

}  // namespace plat
