// A folder as the toolbox sees it: its path and times, and the files and folders named relative to it.
// Reference-counted; what a call retains the caller releases.
#pragma once

#include "kernel/VExport.h"

#include <functional>
#include <vector>

#include "files/IFileAttributeAccessor.h"
#include "files/IFileSystemObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class IFile;
class VFileSystem;
class VTime;

class VELK_API IFolder : public IFileSystemObject
{
public:
	// The file system confining the folder, not retained; null for none.
	virtual VFileSystem* GetFileSystem() const = 0;
	// The path as text in the style, ending with '/'; any other style gives an empty text.
	virtual void GetPlatformPath(VString& path, FilePathStyle style) const = 0;
	virtual VString GetPathWithFileSystem() const = 0;
	// The folder holding this one, retained; null for the root.
	virtual IFolder* RetainParentFolder(bool sandboxed) const = 0;
	// Whether a folder is at the path, following symbolic links.
	virtual bool Exists() const = 0;
	// The folder's last name without its extension (a volume root: its whole native text).
	virtual void GetNameWithoutExtension(VString& name) const;
	// As IFile::GetTimeAttributes.
	virtual VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const = 0;
	// The folder at a path relative to this one ("sub" or "sub/deeper/"), whether or not it exists,
	// retained, carrying fileSystem (null: this folder's). Null when the path names no folder or the file
	// system does not authorize it.
	virtual IFolder* RetainRelativeFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem = nullptr) const = 0;
	// Appends the files and sub-folders (hidden ones with includeHidden) to the non-null vectors.
	virtual void GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders,
		bool includeHidden) const = 0;
	// Calls back for each file (bit 1: and those of the sub-folders when bit 2 is set too) until the
	// callback answers false; answers the last callback's answer, true when there was none.
	virtual bool IterateFiles(const std::function<bool(IFile*, IFileAttributeAccessor*)>& callback,
		uint32 options) const = 0;
	// The same for the sub-folders (bit 1: depth first into each).
	virtual bool IterateFolders(const std::function<bool(IFolder*, IFileAttributeAccessor*)>& callback,
		uint32 options) const = 0;
	// The file at a path relative to this one ("name.json", "sub/name.json"), whether or not it exists,
	// retained. Null, with velk 3 raised, for an empty or absolute path or one that ends with '/'.
	virtual IFile* _RetainRelativeIFile(const VString& path, FilePathStyle style) const = 0;

	// Whether other names this folder: both native path texts equal unit for unit, since names that differ
	// only in case are other folders on disk here. False for null.
	bool IsSameFolder(const IFolder* other) const;
};

}  // namespace velk
