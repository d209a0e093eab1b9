// The platform half of the staged bundle swap: the identity of an entry on disk, the exchange of two folders
// in one step, renames that never replace, the flush of a file system, whether a process still runs, and
// the lock file beside a bundle that also holds the swap's journal. Pushes nothing: codes are answered.
#pragma once

#include <map>
#include <string>

#include "kernel/VExport.h"
#include "kernel/VKernelTypes.h"
#include "runtime/VError.h"

namespace velk {

class VFilePath;
class VString;

class VELK_API XPosixBundleSwap
{
public:
	XPosixBundleSwap() = delete;

	// Device and inode of the entry itself (a link is not followed): what a folder is, whatever its name.
	struct Identity
	{
		uint64 fDevice = 0;
		uint64 fInode = 0;
		bool IsNone() const { return fDevice == 0 && fInode == 0; }
		bool operator==(const Identity& other) const { return fDevice == other.fDevice && fInode == other.fInode; }
		bool operator!=(const Identity& other) const { return !(*this == other); }
	};
	// None when nothing stands at the path.
	static Identity GetIdentity(const VFilePath& path);

	// Swaps the two folders in one step. 'POSX' EINVAL when the file system cannot: nothing is changed.
	static VError Exchange(const VFilePath& first, const VFilePath& second);
	// Renames, failing with 'POSX' EEXIST when anything is at to.
	static VError RenameExclusive(const VFilePath& from, const VFilePath& to);
	// Writes the file system's dirty data out (syncfs on the file system holding the folder).
	static VError SyncFileSystem(const VFilePath& folder);

	// Copies the folder tree from into the new folder to, built there directly (to is a staging folder only
	// the swap knows of); on failure nothing of to is left and failedPath holds the POSIX path of the entry
	// at which the copy failed.
	static VError CopyTreeInPlace(const VFilePath& from, const VFilePath& to, VString& failedPath);
	// Removes the Trash records of the entry at path whose trashed item never arrived (a kill between the
	// record and the move).
	static VError RemoveOrphanTrashInfo(const VFilePath& path);

	// The count of entries in the folder's tree, the folder itself included; 0 when nothing is there.
	static int64 CountEntries(const VFilePath& folder);
	// Whether a regular file (links followed) stands at the POSIX path with an execute bit that this
	// process may use, and begins as a program the system can start: an ELF header or "#!". An empty file,
	// one that cannot be read and one that begins otherwise are refused.
	static bool IsExecutableFile(const VString& posixPath);

	// This process's id and start time (clock ticks since boot), which name it even once its id is reused.
	static int32 GetCurrentProcessID();
	static uint64 GetProcessStartTime(int32 pid);
	// Whether the process pid runs and started at startTime.
	static bool IsProcessRunning(int32 pid, uint64 startTime);
};

// A lock file held with flock for as long as the object holds it, its content a small record of named
// texts. A record is written in place with one write and flushed to the disk before Write returns, so a
// process killed at any moment leaves the previous record or the new one whole.
class VELK_API XPosixSwapLockFile
{
public:
	explicit XPosixSwapLockFile(const VFilePath& path);
	// Unlocks, leaving the file.
	~XPosixSwapLockFile();
	XPosixSwapLockFile(const XPosixSwapLockFile&) = delete;
	XPosixSwapLockFile& operator=(const XPosixSwapLockFile&) = delete;

	// Makes the file when missing and locks it, waiting at most waitMs for another holder to let it go;
	// waited tells whether another process held it. 'POSX' EWOULDBLOCK when it is still held then.
	VError Lock(int32 waitMs, bool& waited);
	bool IsLocked() const { return fDescriptor >= 0; }
	// The record last written, empty when the file is empty or its record is not whole.
	std::map<std::string, std::string> Read() const;
	VError Write(const std::map<std::string, std::string>& record);
	// Removes the file while it is still locked, then unlocks it.
	VError Remove();

private:
	std::string fPath;
	int fDescriptor = -1;
};

}  // namespace velk
