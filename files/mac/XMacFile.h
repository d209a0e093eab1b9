// The platform half of VFile: the system calls behind a file's existence, times, content, opening, and the
// operations on the file itself (create, delete, links, rename, move, copy, trash, modes and attributes).
// Answers native codes ('POSX' with the errno, 0 on success) and pushes nothing, but for ResolveAlias of a
// file that is no alias; VFile turns the codes into file errors.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <functional>
#include <string>

#include "files/IFile.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VFile;
class VFileKind;
class VFilePath;
class VTime;
class XMacFileDesc;
template <uint64 kGranularity, uint64 kGrowthDivisor, uint64 kMaxGrowth>
class VMemoryBuffer;

// Options of Create, Copy and Move.
constexpr uint32 kXMacFileReplace = 4;

class VELK_API XMacFile
{
public:
	// The half of a file: its path is the owner's, read at each call.
	explicit XMacFile(const VFile& owner) : fOwner(&owner) {}
	// A file named by a POSIX path (UTF-8) or by a path, for callers without a VFile.
	explicit XMacFile(const char* posixPath);
	explicit XMacFile(const VFilePath& path);
	XMacFile(const XMacFile&) = delete;
	XMacFile& operator=(const XMacFile&) = delete;

	// A regular file or a symbolic link (not followed, so a dangling link exists).
	bool Exists() const;
	// Times of the entry itself (a link is not followed); the creation time is the birth time where the
	// file system keeps one, else the modification time. On failure every given time is cleared.
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;
	// Sets the given times of the entry itself; a creation time cannot be set here and is ignored.
	VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;
	// velk 100 when the buffer cannot hold the content; the buffer is then as it was.
	VError GetContent(VMemoryBuffer<1024, 2, 1048576>& content) const;
	VError SetContent(const void* bytes, size_t size) const;

	// Opens the file: *out receives the new open file (null on failure), which the caller deletes to close
	// it. Until the portable open file exists, this is the platform one. FA_READ_WRITE_OR_READ tries
	// FA_READ_WRITE, then FA_READ; the last failure is answered. See _Open for the options.
	VError Open(FileAccess access, uint32 options, XMacFileDesc** out) const;
	// One open attempt; answers 0 and sets *descriptor (close-on-exec), or the errno and sets it to -1.
	// - Without FO_FOLLOW_LINK a final symbolic link is refused (ELOOP); FO_CREATE_IF_NOT_FOUND makes a
	//   missing file with mode 0644 less the umask; FO_RESOURCE_FORK gives ENOTSUP: there are no forks.
	// - FA_READ_WRITE and FA_SHARED take an exclusive or shared advisory lock (flock) without waiting: a
	//   lock held elsewhere gives EACCES and leaves the file untouched. FA_READ takes none.
	// - FO_TRUNCATE empties the file only when it is opened read-write and locked; a read-only open leaves
	//   the content.
	// - FO_READ_AHEAD and FO_NO_CACHE are hints to the system; they cannot fail the open.
	// Any other access (FA_READ_WRITE_OR_READ included) gives EINVAL; no memory for the path text, ENOMEM.
	int _Open(FileAccess access, uint32 options, int* descriptor) const;

	// An empty file, mode 0644 less the umask. Without kXMacFileReplace EEXIST when anything is at the path;
	// with it, the new file is made aside and renamed over the old one, which stays whole on failure.
	VError Create(uint32 options) const;
	// Unlinks the entry (a link itself).
	VError Delete() const;
	// Into the user's trash, a link itself; ENOENT when nothing is there, EISDIR for a folder. Any other
	// failure is the trash's, never ENOENT.
	VError MoveToTrash() const;
	bool IsSymbolicLink() const;
	// The link's text as it is stored.
	VError ReadSymbolicLink(VString& text) const;
	// Makes this path a symbolic link to target: its absolute POSIX path, or a path relative to the link's
	// folder ("../" steps as needed). An entry already at the path is replaced in one step, and kept when
	// the link cannot be made.
	VError CreateSymbolicLink(const VFilePath& target, bool absolute) const;
	// Aliases are symbolic links here: relative to the link's folder when relativeTo is given.
	VError CreateAlias(const VFilePath& target, const VFilePath* relativeTo) const;
	// target := the real path of the link's target (a folder path for a folder). A file that is no link
	// pushes a file error velk 611 and answers it; a dangling link answers the 'POSX' error.
	VError ResolveAlias(VFilePath& target) const;
	bool IsAliasFile() const { return IsSymbolicLink(); }
	// Extensions are always visible here: nothing to do.
	void SetExtensionVisible(bool) const {}
	// The entry's size; a link is not followed. There are no resource forks: their size is 0.
	VError GetSize(int64* size) const;
	VError GetResourceForkSize(int64* size) const;
	bool HasResourceFork() const { return false; }

	// The same folder with the name replaced, renamed exclusively (RenamePath). out, when given, receives
	// the new path on success and is cleared on failure.
	VError Rename(const VString& newName, VFilePath* out) const;
	// Renames from to to, failing with EEXIST when anything is at to.
	static VError RenamePath(const char* from, const VFilePath& to);
	// Moves to dest (this file's name appended when dest is a folder path). Without kXMacFileReplace an
	// entry at the target is never replaced (EEXIST); with it, it is replaced in one step. Across file
	// systems the file is copied and removed only once the copy is complete. out as for Rename.
	VError Move(const VFilePath& dest, VFilePath* out, uint32 options) const;
	// Copies to dest (as Move names it); the copy is made aside and renamed into place when complete, so
	// a file replaced with kXMacFileReplace stays whole on failure. out as for Rename.
	VError Copy(const VFilePath& dest, VFilePath* out, uint32 options) const;

	// The owner and group of the entry, following links.
	VError GetOwner(uint32& uid, uint32& gid) const;
	// The low 9 bits of the entry's mode (a link itself); 0 on failure.
	VError GetPermissions(uint16* mode) const;
	// A link has no mode of its own: the setters leave it and answer 0.
	VError SetPermissions(uint16 mode) const;
	VError MakeWritableByAll() const;
	bool IsWritableByAll() const;
	// Path attribute bits (kPathLocked 1, kPathHidden 2) of the entry itself.
	VError GetFileAttributes(uint32& attrs) const;
	VError SetFileAttributes(uint32 attrs) const;
	// Clears the lock and gives the owner read and write, following a link.
	VError Unlock() const;
	VError GetVolumeFreeSpace(int64* free, int64* total, bool withQuotas) const;
	// The type identifier of the file: the MIME type of its name's extension, "inode/directory" for a
	// folder, "application/octet-stream" when no type claims it. Cleared on failure.
	VError GetUTIString(VString& identifier) const;
	// Shows the file's folder in the desktop's file manager when there is a display; always answers 0.
	VError RevealInFinder() const;
	// This platform has no file kind codes: kind is 0 and the answer 0.
	VError GetKind(uint32* kind) const;
	void GetPosixPath(VString& path) const;

	// Path conversions, forwarded to XMacFilePath.
	static bool PosixFullPathToHFS(const char* posixPath, bool pathExists, VString& out);
	static bool HFSFullPathToPosix(const VString& native, VString& out);
	// Null clears path; '/' is appended for a folder.
	// Null or a name that is not UTF-8 clears path.
	static void GetFilePathFromPosixPath(const char* posixPath, bool isFolder, VFilePath& path);
	// A new NUL-terminated UTF-8 copy from the memory manager (VMemory::DisposePtr), empty when the text
	// has an unpaired surrogate; null when memory is short.
	static char* AllocatePosixPathFromString(const VString& path);
	static char* AllocatePosixPathFromFilePath(const VFilePath& path);
	// The real path of the entry at path, a final link not followed (its folder resolved, its own name
	// kept), with a trailing '/' kept; with allowMissingLeaf a missing last name is appended to its resolved
	// folder. False when outSize is below 1025, a pointer is null, or the result and its NUL do not fit.
	static bool RealPath(const char* path, bool allowMissingLeaf, char* out, size_t outSize);
	// The last component (one trailing '/' ignored) begins with '.'; shorter texts than 2 give false.
	static bool PosixNameBeginsWithDot(const char* posixPath);
	// The name of the volume mounted at mountPath, from the volume cache; false when none is mounted there
	// or the name does not fit.
	static bool GetVolumeNameFromMountPath(const char* mountPath, char* out, size_t outSize);

	// The path services shared with the folder's half; follow says whether a final link is followed.
	static VError GetPathAttributes(const char* path, bool follow, uint32& attrs);
	static VError SetPathAttributes(const char* path, bool follow, uint32 attrs);
	static VError GetEffectivePermission(const char* path, uint32& perm);
	static VError UnlockPath(const char* path, bool follow);
	static VError GetTimeAttributes(const char* path, bool follow, VTime* modified, VTime* created, VTime* accessed);
	static VError SetTimeAttributes(const char* path, const VTime* modified, const VTime* created, const VTime* accessed);
	static VError GetVolumeFreeSpace(const char* path, int64* free, int64* total, bool withQuotas);
	// Owner and the low nine mode bits of the entry at path (a final link followed or not); mode is 0 on
	// failure.
	static VError _GetOwnerAt(const char* path, uint32& uid, uint32& gid);
	static VError _GetPermissionsAt(const char* path, bool follow, uint16* mode);
	// Gives out the path of what an operation made: path on success, cleared on failure; null is ignored.
	static void _SetResultPath(VFilePath* out, VError result, const VFilePath& path);

	// Runs a copy or a move (work answers an errno): on a fiber task on a thread of its own while the fiber
	// waits on an event, so that other fibers run meanwhile; on any other thread directly.
	static int _RunCopyOrMove(const std::function<int()>& work);
	// Makes an entry under a new temporary name beside path (make answers an errno, EEXIST to try another
	// name), then renames it over path in one step; the aside entry is removed on failure.
	static int _ReplaceFromAside(const std::string& path, const std::function<int(const std::string& aside)>& make);
	// Opens the desktop's file manager on folder, detached, when a display is set.
	static void _RevealFolder(const std::string& folder);

	// File kinds of the system, from the shared MIME-info database: MIME types are the identifiers, their
	// sub-class-of entries the kinds they conform to. The new public kind of an identifier (the database's
	// own spelling), with one reference; null when the database does not know it or memory is short.
	static VFileKind* CreatePublicFileKind(const VString& id);
	// Linux has no type codes: always null.
	static VFileKind* CreatePublicFileKindFromOsKind(const VString& osType);
	// The kind of the type that prefers the extension (given without the '.'); null when none claims it.
	static VFileKind* CreatePublicFileKindFromExtension(const VString& extension);
	// Whether a is b, or conforms to it through the database; a kind the database does not know (a private
	// one) conforms through its declared parents, each taken from the kind manager. A cycle ends the walk.
	static bool IsFileKindConformsTo(const VFileKind& a, const VFileKind& b);

private:
	// The path as the system reads it; false when memory is short.
	bool _SystemPath(std::string& path) const;
	VFilePath _GetFilePath() const;
	// dest, or the file's own name inside it when dest is a folder path.
	VFilePath _TargetOf(const VFilePath& dest) const;

	const VFile* fOwner = nullptr;
	std::string fPosixPath;  // when there is no owner
};

}  // namespace velk
