// One folder on disk, named by its native path (VFilePath, ending with ':'): the toolbox's portable folder
// object, and the base from which relative files and folders are named. It need not exist. It may carry a
// file system, which then confines what is made from it. Composite operations (recursive creation and
// deletion, tree copies, listings) are built here on the platform half and the iterators; system failures
// become file errors pushed on the calling task.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "files/IFolder.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFolder.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

class VFile;
class VFileSystem;

// Option bits of iteration, listings and copies.
enum FolderIterationOptions : uint32
{
	eFI_RECURSIVE = 1,
	eFI_FOLDERS = 2,
	eFI_FILES = 4,
	eFI_HIDDEN = 8,  // names beginning with '.' kept
	eFI_RESOLVE_LINKS = 16
};

// Option bits of copies.
enum FolderCopyOptions : uint32
{
	eFCOPY_REPLACE = 4,  // an existing target is replaced, the whole tree copied natively when possible
	eFCOPY_CONTINUE_ON_ERROR = 8,
	eFCOPY_SKIP_HIDDEN = 16
};

class VELK_API VFolder : public VObject, public IFolder
{
public:
	explicit VFolder(const VFilePath& path, VFileSystem* fileSystem = nullptr);
	VFolder(const VFolder& other);
	// From a full path in the style; '/' (POSIX) or ':' (native) is appended when missing. No file system.
	VFolder(const VString& fullPath, FilePathStyle style);
	// Relative to base, with its file system unless the path leaves the file system's root.
	VFolder(const VFolder& base, const VString& relativePath, FilePathStyle style);
	// The platform half keeps posixPath as given (the iterators, which have it at hand).
	VFolder(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem);
	VFolder& operator=(const VFolder&) = delete;
	~VFolder() override;

	VFilePath GetPath() const override;
	VFileSystem* GetFileSystem() const override { return fFileSystem; }
	void GetPlatformPath(VString& path, FilePathStyle style) const override;
	VString GetPathWithFileSystem() const override;
	bool Exists() const override;
	// True for a missing folder, or one with no entry at all, hidden and special ones included.
	bool IsEmpty() const;
	void GetURL(VString& url, bool encoded) const;
	VError GetRelativeURL(const VFolder* base, VString& url, bool encoded) const;

	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const override;
	VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;
	VError GetVolumeCapacity(int64* bytes) const;
	VError GetVolumeFreeSpace(int64* bytes, bool withQuotas) const;
	VError GetFolderAttributes(uint32& attributes) const;
	VError SetFolderAttributes(uint32 attributes) const;
	VError IsHidden(bool& hidden) const;
	bool IsWritableByAll() const;
	bool MAC_IsPackage() const;
	VError MAC_GetPermissions(uint16* mode) const;
	VError MAC_SetPermissions(uint16 mode) const;
	VError Mac_GetOwner(uint32& uid, uint32& gid) const;

	// Creation and change: 0, or the code of the file error pushed.
	VError Create() const;
	// Missing parents first, outermost inward; each made writable by all when asked.
	VError CreateRecursive(bool makeWritableByAll = false) const;
	VError MakeWritableByAll() const;
	VError Rename(const VString& newName, VFolder** out) const;
	VError Move(const VFolder& destination, VFolder** out) const;
	VError Move(const VFolder& destination, const VString& newName, VFolder** out) const;
	// Copies the folder into destination under its own name or name. A destination that is this folder or
	// lies inside it, by its path or as the system resolves it (through links and bind mounts), is refused
	// (velk 660) before anything is touched. FIFOs and sockets are made anew, devices too where the system
	// allows it (else the copy fails with the device's error). With eFCOPY_REPLACE an existing target stays
	// whole until its copy is: the copy is made beside it under a hidden name, exchanged with it, and only
	// then is the former target deleted (should that deletion fail, its error is returned with the new copy
	// in place). A replacing copy that fails leaves the target as it was and nothing beside it, whatever
	// the options, and needs room for both trees meanwhile. Any other copy that fails deletes the target it
	// made (not one it merged into), unless eFCOPY_CONTINUE_ON_ERROR asked for what could be copied.
	// Whatever the options, a copy that would write into any folder of the source, found by device and inode
	// (a bind mount of one too), is refused with velk 660 before anything is written; so is a replacing copy
	// whose target holds a mount that shows the source, and one whose target holds any other mount fails with
	// 'POSX' EBUSY on the mount's path, nothing touched. The source is walked relative to the folders the copy
	// opened: a sub-folder swapped for a link meanwhile is copied as that link, never entered.
	VError CopyTo(const VFolder& destination, VFolder** out, uint32 options = 0) const;
	VError CopyTo(const VFolder& destination, const VString& name, VFolder** out, uint32 options = 0) const;
	VError CopyContentsTo(const VFolder& destination, uint32 options = 0) const;
	// Deletion walks meet every kind of entry (FIFOs, sockets and devices too) and remove links as links. They
	// go relative to the folders they opened, so a sub-folder swapped for a link meanwhile is removed as the
	// link, never entered, and they never enter another mount: with a mount at or under the tree nothing is
	// removed and 'POSX' EBUSY is pushed on the mount's path. A failure is pushed on the entry it stopped at
	// (velk 604 for a file, 653 for a folder, unless the native code maps).
	VError Delete(bool deleteContents) const;
	VError DeleteContents(bool recursive) const;
	// Removes the tree whatever its locks and modes, walking as Delete does; its failures are pushed on this
	// folder, but for a mount, which the error names.
	VError DeleteForced() const;
	// A missing folder is success.
	VError MoveToTrash() const;
	bool RevealInFinder(bool revealContents = false) const;

	IFolder* RetainParentFolder(bool sandboxed) const override;
	VFolder* RetainParentVFolder(bool sandboxed) const;
	IFolder* RetainRelativeFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem = nullptr) const override;
	VFolder* RetainRelativeVFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem = nullptr) const;
	VFile* RetainRelativeFile(const VString& path, FilePathStyle style) const;
	IFile* _RetainRelativeIFile(const VString& path, FilePathStyle style) const override;
	// The folder of a system kind (plat::GetSystemFolder's numbering), created when asked; null when
	// unavailable.
	static VFolder* RetainSystemFolder(int32 kind, bool create);
	static VError ResolveAliasFolder(VFolder** folder, bool deleteInvalidAlias);
	static VFolder* CreateAndResolveAlias(const VFolder& parent, const VString& name);

	// Listings in directory order, appended to the non-null vectors.
	void GetContents(std::vector<VRefPtr<VFile>>* files, std::vector<VRefPtr<VFolder>>* folders) const;
	void GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders,
		bool includeHidden) const override;
	bool IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
		uint32 options) const override;
	bool IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
		uint32 options) const override;

	// The POSIX text the platform half works on, ending with '/'.
	const VString& _GetPosixPath() const { return fPosixPath; }
	const XMacFolder& GetMacFolder() const { return fPlatform; }

private:
	void _SetFileSystem(VFileSystem* fileSystem);
	void _InitPlatform(const char* posixPath = nullptr);

	XMacFolder fPlatform;
	VFilePath fPath;
	VFileSystem* fFileSystem = nullptr;
	VString fPosixPath;
};

}  // namespace velk
