// File operations on POSIX paths: what a path names and its times, reading a whole file through a
// descriptor, appending to a file that several writers share (and looking at it, and locking it, through its
// descriptor), replacing a file's content in one step, making folders and flushing them to the disk. Every call answers 0 or the errno of the system call that failed;
// paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// The folder holding the entry at path, trailing slashes aside, as text: "." for a bare name, "/" for an
// entry of the root.
std::string ParentFolderOf(std::string path);

// What a path names, after following symbolic links.
struct PathInfo
{
	bool isFolder = false;
	int64_t modifiedSeconds = 0;  // since 1970-01-01 UTC
	int32_t modifiedNanoseconds = 0;
	int64_t accessedSeconds = 0;
	int32_t accessedNanoseconds = 0;
};

// ENOENT (or ENOTDIR) when nothing is there; info is written only on success.
int GetPathInfo(const char* path, PathInfo* info);

// A descriptor for reading, following a final symbolic link; close it with CloseFile.
int OpenFileForReading(const char* path, int* descriptor);
int GetOpenFileSize(int descriptor, uint64_t* size);
// Reads until size bytes are in or the file ends; *bytesRead says how many came.
int ReadOpenFile(int descriptor, void* buffer, size_t size, size_t* bytesRead);
void CloseFile(int descriptor);

// What an open file is now.
struct OpenFileStatus
{
	uint64_t size = 0;
	uint64_t links = 0;  // 0 once every name of the file is removed
	// When the file was made; unknown where the file system keeps no such time.
	bool birthKnown = false;
	int64_t birthSeconds = 0;
	int32_t birthNanoseconds = 0;
};

// status is written only on success.
int GetOpenFileStatus(int descriptor, OpenFileStatus* status);

// Waits for the open file's exclusive advisory lock (flock), held until the descriptor is closed: another
// descriptor of the file, in this process or another, waits meanwhile. Answers 0 or the errno (ENOLCK
// where the file system has no such locks).
int LockOpenFile(int descriptor);
// flock(descriptor, operation), tried again when a signal interrupts it; 0 or the errno (EWOULDBLOCK for a
// lock asked with LOCK_NB that another holds).
int RetryingFlock(int descriptor, int operation);

// A close-on-exec descriptor that writes at the end of the file whoever else appends to it (O_APPEND),
// following a final symbolic link. A missing file is created with 0666 less the process's umask; with
// truncate, an existing one is emptied first.
int OpenFileForAppending(const char* path, bool truncate, int* descriptor);
// Writes all the bytes, retrying an interrupted or partial write. On an appending descriptor the bytes of
// one call that the system takes at once land together at the end, never mixed with another writer's;
// only a disk that fills midway splits them. Test faults do not reach it: a log stays writable while file
// contents are refused.
int AppendToOpenFile(int descriptor, const void* bytes, size_t size);

// Writes the bytes to a new file beside path, flushes it to disk, renames it over path and flushes the
// folder, so that on any failure path keeps its former content (or stays absent) and the new file is removed,
// and a completed write survives a power loss. A symbolic link at path is followed: its target is replaced.
// An existing file the process may not write is refused with the errno a plain open for writing gives
// (EACCES, EPERM, EROFS), nothing changed. A file that is replaced keeps what an in-place write would: its
// permissions, its owner and group where the process may set them (root; else the group, when the process
// belongs to it), and the extended attributes the process may write (its ACL among them), each as far as
// its file system has them (UnixRights.h); a new one gets 0666 less the process's umask. A file with several
// names (hard links) is written in place instead, so that every name shows the new content: its former
// content is first copied to the hidden sibling and put back if the write fails, so every name keeps it
// then. Before writing, the hidden siblings (".velk-write-<pid>-<n>") that this user's writers left beside
// the file when they were stopped midway (their process no longer runs) are removed; never another user's.
// Should the folder's flush fail after the rename (EIO), its errno is answered with the new content in
// place.
int ReplaceFileContent(const char* path, const void* bytes, size_t size);

// Makes the folder at path with mode (less the umask); EEXIST when anything is there.
int MakeFolder(const char* path, unsigned mode);

// Flushes the folder's own entries to the disk (fsync on the folder): the names made, renamed or removed
// in it are durable once this answers 0, whatever the file system writes ahead.
int SyncFolder(const char* path);
// Writes out everything the file system holding the folder at path has not yet written (syncfs).
int SyncFileSystem(const char* path);

#ifdef VELK_TEST_HOOKS
// The steps of ReplaceFileContent that a test can make fail.
enum class WriteStep
{
	kNone,
	kCreate,
	kWrite,
	kRename
};

// From now on, the step fails with errorNumber (the system is not called for it); kNone restores normal
// work. VELK_TEST_WRITE_FAULT in the environment arms kWrite as well (platform/TestFaults.h). Process-wide.
void SetWriteFaultForTesting(WriteStep step, int errorNumber);
#endif

}  // namespace plat
