// The platform half of the staged bundle swap: the identity of an entry on disk, the exchange of two folders
// in one step, renames that never replace, the flushes of a file system and of folders, whether a process
// still runs, and the lock file beside a bundle that also holds the swap's journal. Pushes nothing: codes
// are answered.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "kernel/VExport.h"
#include "kernel/VKernelTypes.h"
#include "runtime/VError.h"

namespace plat {
class JournalFile;
}

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
	// The inode of the entry at path (a link is not followed) when it lies on the file system of the folder
	// that holds it, as mounted now: what names one entry of a folder across a reboot, whatever number the
	// system then gives the device. 0 when nothing stands there or another file system is mounted there.
	static uint64 GetInodeInFolder(const VFilePath& path);

	// Swaps the two folders in one step. 'POSX' EINVAL when the file system cannot: nothing is changed.
	static VError Exchange(const VFilePath& first, const VFilePath& second);
	// Renames, failing with 'POSX' EEXIST when anything is at to.
	static VError RenameExclusive(const VFilePath& from, const VFilePath& to);
	// Makes the folder, for this user only; 'POSX' EEXIST when anything is there.
	static VError MakeFolder(const VFilePath& folder);
	// Writes the file system's dirty data out (syncfs on the file system holding the folder).
	static VError SyncFileSystem(const VFilePath& folder);
	// Flushes the folder's entries (fsync on the folder): what was renamed, made or removed in it is durable.
	static VError SyncFolder(const VFilePath& folder);
	// Flushes the files/ and info/ folders of the Trash that the entry at path goes to (nothing need stand at
	// path, and no Trash is made).
	static VError SyncTrashFor(const VFilePath& path);
	// The pause between two attempts at a refused step: milliseconds, except where a test build shortens it.
	static int32 GetRetryDelay(int32 milliseconds);

	// Copies the folder tree from into the empty folder to, made beforehand (to is a staging folder only the
	// swap knows of); on failure nothing of to is left and failedPath holds the POSIX path of the entry at
	// which the copy failed.
	static VError CopyTreeInPlace(const VFilePath& from, const VFilePath& to, VString& failedPath);
	// Removes the Trash records of the entry at path whose trashed item never arrived (a kill between the
	// record and the move).
	static VError RemoveOrphanTrashInfo(const VFilePath& path);

	// The count of entries in the folder's tree, the folder itself included; 0 when nothing is there.
	static int64 CountEntries(const VFilePath& folder);
	// The names of the folder's entries (UTF-8), in directory order; empty when it cannot be read.
	static std::vector<std::string> ListNames(const VFilePath& folder);
	// Whether a regular file (links followed) stands at the POSIX path with an execute bit that this
	// process may use, and begins as a program the system can start: an ELF header or "#!". An empty file,
	// one that cannot be read and one that begins otherwise are refused.
	static bool IsExecutableFile(const VString& posixPath);

	// This process's id and start time (clock ticks since boot), which name it even once its id is reused,
	// and the boot it runs in (the kernel's boot id), without which a start time means nothing.
	static int32 GetCurrentProcessID();
	static uint64 GetProcessStartTime(int32 pid);
	static std::string GetBootID();
	// Whether the process pid runs and started at startTime in this boot; a bootID of another boot never
	// names a running process (an empty one is not compared).
	static bool IsProcessRunning(int32 pid, uint64 startTime, const std::string& bootID);
	// Whether the process pid runs the same program as this one (by its command name).
	static bool IsRunningUpdater(int32 pid);
	// Whether the process pid is a running updater that already ran when the entry at path was last changed
	// (renamed, made): a folder older than the process now bearing its pid is an earlier process's.
	static bool IsRunningUpdaterOf(int32 pid, const VFilePath& path);

	// Whether the entry at path is a folder itself (not a link), belongs to this process's user and is the
	// root of no mount: what the updater may delete as a leftover of its own.
	static bool IsOwnPlainFolder(const VFilePath& path);
	// Whether the entry at path is a folder itself (not a link).
	static bool IsPlainFolder(const VFilePath& path);
	// The last change of the entry itself (a link is not followed), in nanoseconds since 1970; 0 when
	// nothing is there.
	static int64 GetChangeTime(const VFilePath& path);
};

// A lock file held with flock for as long as the object holds it, its content a small record of named
// texts. A record is written into the slot that does not hold the last one and flushed before Write
// returns, so a process killed, or a power lost, at any moment leaves the previous record or the new one
// whole (platform/JournalFile.h).
class VELK_API XPosixSwapLockFile
{
public:
	explicit XPosixSwapLockFile(const VFilePath& path);
	// Unlocks, leaving the file.
	~XPosixSwapLockFile();
	XPosixSwapLockFile(const XPosixSwapLockFile&) = delete;
	XPosixSwapLockFile& operator=(const XPosixSwapLockFile&) = delete;

	// Makes the file when missing (flushed with its folder) and locks it, waiting at most waitMs for
	// another holder to let it go; waited tells whether another process held it. 'POSX' EWOULDBLOCK when
	// it is still held then.
	VError Lock(int32 waitMs, bool& waited);
	bool IsLocked() const;
	// The record last written whole, empty when there is none; torn, when given, tells whether the file
	// also held bytes that are no whole record, and unreadable whether a file this lock found (it did not
	// make it) holds no whole record at all (cut short, zeroed, overwritten).
	std::map<std::string, std::string> Read(bool* torn = nullptr, bool* unreadable = nullptr) const;
	VError Write(const std::map<std::string, std::string>& record);
	// Removes the file while it is still locked, then unlocks it.
	VError Remove();

private:
	plat::JournalFile* fFile;  // owned
};

}  // namespace velk
