// The platform half of VFolder: the system calls behind a folder's existence, times and the operations on
// the folder itself (create, delete, rename, move, copy, trash, modes, attributes, forced deletion, system
// folders). Answers native codes ('POSX' with the errno, 0 on success) and pushes nothing, but for the
// restore failure of DeleteForced; VFolder turns the codes into file errors.
#pragma once

#include "kernel/VExport.h"

#include <functional>
#include <string>

#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace plat {
struct RemovalFailure;
}

namespace velk {

class VFilePath;
class VFolder;
class VTime;

// Where a walk that removes a tree stopped: the entry's POSIX path (empty when the walk did not begin),
// whether it names a folder, and whether it is a mount, which such a walk never enters.
struct XMacRemovalStop
{
	std::string fPath;
	bool fAtFolder = false;
	bool fAtMount = false;
};

// Where the platform's removal stopped, as a stop (nothing when it did not fail or stop is null).
void TakeRemovalStop(const plat::RemovalFailure& failure, XMacRemovalStop* stop);

class VELK_API XMacFolder
{
public:
	// The half of a folder: its path is the owner's, read at each call.
	explicit XMacFolder(const VFolder& owner) : fOwner(&owner) {}
	// A folder named by a POSIX path (UTF-8) or by a path, for callers without a VFolder.
	explicit XMacFolder(const char* posixPath);
	explicit XMacFolder(const VFilePath& path);
	XMacFolder(const XMacFolder&) = delete;
	XMacFolder& operator=(const XMacFolder&) = delete;

	// A folder at the path; follow says whether a final symbolic link is followed.
	bool Exists(bool follow = true) const;
	// Times following links; the creation time is the birth time, else the modification time.
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;
	VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;

	// mkdir with mode 0755 less the umask.
	VError Create() const;
	// rmdir: only an empty folder.
	VError Delete() const;
	VError MoveToTrash() const;
	// A name beginning with '.'.
	VError IsHidden(bool& hidden) const;
	// The folder renamed exclusively beside itself; out receives the new path on success, cleared on
	// failure.
	VError Rename(const VString& newName, VFilePath* out) const;
	// Moves the folder into dest under newName (the own name when null or empty), never over an existing
	// entry. Across file systems the tree is copied and removed only once the copy is complete. out as for
	// Rename.
	VError Move(const VFilePath& dest, const VString* newName, VFilePath* out) const;
	// Copies the whole tree to the new folder name inside dest (EEXIST when anything is there); a failed
	// copy leaves nothing behind.
	VError CopyToNonExistingFolder(const VFilePath& dest, const VString& name) const;
	// An empty hidden folder beside target, for a copy made there item by item, where it stays for
	// PutInPlace; staging receives its path, cleared on failure.
	static VError CreateBeside(const VFilePath& target, VFilePath* staging);
	// The folder at staging put in the place of the entry at target (a link there is moved, not followed): in
	// one step where the file system exchanges entries, else target is renamed aside first. old receives where
	// the former target now stands, for the caller to remove; on failure it is cleared and nothing changed.
	static VError PutInPlace(const VFilePath& staging, const VFilePath& target, VFilePath* old);
	// Whether this folder, or what it would be once made, is folder or lies inside it as the system resolves
	// both: links and bind mounts on the way are seen through (plat::IsSameOrInsideFolder).
	bool IsSameOrInside(const VFilePath& folder) const;

	VError GetOwner(uint32& uid, uint32& gid) const;
	// The low 9 bits of the mode, following links; 0 on failure.
	VError GetPermissions(uint16* mode) const;
	VError SetPermissions(uint16 mode) const;
	VError MakeWritableByAll() const;
	// The others-write bit, as for files.
	bool IsWritableByAll() const;
	// The process may search the folder.
	bool IsTraversable() const;
	// Path attribute bits following links (XMacFile::GetPathAttributes).
	VError GetFolderAttributes(uint32& attrs) const;
	VError SetFolderAttributes(uint32 attrs) const;
	// Holds Contents/Info.plist, or its name ends with ".app", ".bundle" or ".plugin".
	bool IsPackage() const;
	VError GetVolumeFreeSpace(int64* free, bool withQuotas) const;
	VError GetVolumeCapacity(int64* total) const;
	// Removes the folder and everything in it (plat::RemoveTree), walking relative to the folders it opened:
	// links are removed as links, never followed, no other mount is entered, and nothing is removed when a
	// mount stands at or under the folder ('POSX' EBUSY, stop naming the mount). With contentsOnly the
	// folder stays (a link at its path is then followed, as listings follow it); without recursive only its
	// entries that are no folders go. stop says where a failure stopped the walk; betweenFolders is called
	// after each folder inside the tree was emptied.
	VError DeleteTree(bool contentsOnly, bool recursive, const std::function<void()>& betweenFolders, XMacRemovalStop& stop) const;
	// Removes the folder and everything in it whatever their locks and modes, as DeleteTree walks. The
	// parent is unlocked and opened for the walk when needed and put back after; failing to put it back
	// pushes a file error (velk 655 unless the native code maps) and leaves the walk's answer. stop, when
	// given, says where a failure stopped the walk.
	VError DeleteForced(XMacRemovalStop* stop = nullptr) const;
	// A mount whose mount point is the folder at path (a final link followed) or lies under it, from the
	// process's mount table; mount is cleared when there is none (or the table cannot be read).
	static void FindMountInside(const VFilePath& folder, VFilePath& mount);
	// Opens the folder in the desktop's file manager when there is a display; always answers 0.
	VError RevealInFinder() const;
	void GetPosixPath(VString& path) const;

	// The folder of a system kind (plat::GetSystemFolder's numbering); with create, what is missing is
	// made. Kinds without a folder answer 0 with out cleared; out is cleared on failure too.
	static VError RetainSystemFolder(int32 kind, bool create, VFilePath* out);

private:
	// The path as the system reads it, without its final '/' (but for "/"); false when memory is short.
	bool _SystemPath(std::string& path) const;
	VFilePath _GetFilePath() const;

	const VFolder* fOwner = nullptr;
	std::string fPosixPath;  // when there is no owner
};

}  // namespace velk
