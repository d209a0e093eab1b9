// Which refusals of a change of mode, owner, group or extended attribute mean that the file system keeps no
// such thing (a FAT, exFAT or NTFS volume, most FUSE ones) rather than that the process may not: copies and
// whole-content writes keep those as far as the file system has them, and go on without them.
#pragma once

namespace plat {

// Whether error, answered by a chmod, chown or setxattr on the entry, says that its file system has no such
// metadata: ENOSYS and ENOTSUP (EOPNOTSUPP) anywhere; EPERM only on a volume without Unix ownership (FAT,
// exFAT, NTFS, HFS, SMB and FUSE volumes, told by statfs), where a Unix one answers EPERM for a real refusal.
// The file system is the one of descriptor (>= 0), else of the folder holding path. False when it cannot
// be told.
bool FileSystemLacks(int error, int descriptor, const char* path);

// The answer of such a change, result (0, or -1 with errno set), as an errno: 0 also when FileSystemLacks
// excuses the refusal.
int IgnoringWhatFileSystemLacks(int result, int descriptor, const char* path);

}  // namespace plat
