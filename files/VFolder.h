// One folder on disk, named by its POSIX path ending with '/': the toolbox's portable folder object, and
// the base from which relative files and folders are named. It need not exist.
#pragma once

#include "kernel/VExport.h"

#include "files/IFolder.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFolder.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VELK_API VFolder : public VObject, public IFolder
{
public:
	// The folder at a full path in the style (both styles are POSIX text here); '/' is appended when
	// missing.
	VFolder(const VString& path, FilePathStyle style);
	VFolder(const VFolder& other);
	VFolder& operator=(const VFolder&) = delete;
	~VFolder() override;

	// The POSIX path as a native one.
	VFilePath GetPath() const override;
	void GetPlatformPath(VString& path, FilePathStyle style) const override;
	// No file systems yet: the POSIX path.
	VString GetPathWithFileSystem() const override;
	IFolder* RetainParentFolder(bool sandboxed) const override;
	bool Exists() const override;
	// Failures push velk 608 unless the native code maps to a code of its own (velk 600 missing folder).
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const override;
	IFolder* RetainRelativeFolder(const VString& path, FilePathStyle style) const override;
	IFile* _RetainRelativeIFile(const VString& path, FilePathStyle style) const override;

	const VString& _GetPosixPath() const { return fPath; }

private:
	XMacFolder fPlatform;
	VString fPath;
};

}  // namespace velk
