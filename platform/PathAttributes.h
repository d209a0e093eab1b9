// What the file layer asks of an entry beyond its kind: the locked and hidden attributes, the permission
// the process has on it, its times, the space left on its volume, whether a folder is a package, and the
// forced deletion of a tree. Paths are UTF-8; every call answers 0 or the errno of the failed call.
#pragma once

#include <cstdint>

#include "platform/TreeRemoval.h"

namespace plat {

// Attribute bits. Locked is the file system's immutable flag, carried only by files and folders: a
// symbolic link, a FIFO, a socket or a device is never locked. Hidden is a name beginning with '.'.
constexpr unsigned kPathLocked = 1;
constexpr unsigned kPathHidden = 2;

// attrs := the entry's bits; follow says whether a final symbolic link is followed. Where the flags cannot
// be read (a file system without them, a file the process may not open) the entry is not locked.
int GetPathAttributes(const char* path, bool follow, unsigned& attrs);

// Sets or clears the lock as attrs says; hidden follows the name and is not changed. Nothing is called
// when the lock is already as asked; a link (not followed) and other entries that cannot be locked answer
// 0 unchanged. EPERM when the process may not change the flag.
int SetPathAttributes(const char* path, bool follow, unsigned attrs);

// Effective permission bits: 4 read, 2 write, 1 execute or search. perm := 0, then, for the entry itself
// (a link is not followed): 7 for root; 0 for a locked entry; the owner's bits for its owner; the group's
// bits when the entry's group is among the user's groups; else the others' bits.
int GetEffectivePermission(const char* path, unsigned& perm);

// Clears the lock, then, when the process is root or the owner, adds the owner's read and write bits
// (and search for a folder). A link (not followed) has neither: 0 without a change.
int UnlockPath(const char* path, bool follow);
// The same for the entry name of the folder open at folder.
int UnlockPathAt(int folder, const char* name, bool follow);

// A time as seconds since 1970-01-01 UTC and nanoseconds.
struct PathTime
{
	int64_t seconds = 0;
	int32_t nanoseconds = 0;
};

// Each non-null output receives its time. The creation time is the birth time where the file system
// records one, else the modification time. Outputs are written only on success.
int GetTimeAttributes(const char* path, bool follow, PathTime* modified, PathTime* created, PathTime* accessed);

// Sets the given times of the entry itself (a link is not followed), to the nanosecond; null times are
// left as they are. A creation time cannot be set on Linux and is ignored.
int SetTimeAttributes(const char* path, const PathTime* modified, const PathTime* created, const PathTime* accessed);

// The volume of the open descriptor when it is not negative, else of path (not following a final link),
// else of path's parent folder when path cannot be opened. free := the bytes available to the process
// (withQuotas) or all free bytes; total := the volume's size. Null outputs are skipped; outputs are written
// only on success.
int GetVolumeFreeSpace(const char* path, int descriptor, bool withQuotas, int64_t* free, int64_t* total);

// Whether path (following links) is a folder that shows as one document: it holds Contents/Info.plist or
// its name ends with ".app", ".bundle" or ".plugin".
bool IsPackage(const char* path);

// Removes the entry at path and, for a folder, everything in it, whatever their locks and permissions.
// The walk goes as RemoveTree's (platform/TreeRemoval.h): it never follows a symbolic link (links are
// removed as links, and what they point to is neither unlocked, nor changed, nor removed), never enters
// another mount, and removes nothing when a mount stands at or under path (EBUSY, failure naming the
// mount). FIFOs, sockets and devices are removed as well. The parent folder is unlocked and given its
// owner's bits for the walk when needed, and put back as it was afterwards, even when the walk fails.
// Answers the walk's result: EINVAL for a path without a name ("/", ".."), else the errno of the first
// entry that could not be removed (the walk stops there, the rest stays), which failure, when given,
// names. restoreError, when not null, receives 0 or the errno of putting the parent back.
int DeleteForced(const char* path, int* restoreError, RemovalFailure* failure = nullptr);

}  // namespace plat
