// One file on disk, named by its POSIX path: the toolbox's portable file object. Whether the file exists
// does not matter until an operation needs it. System failures become file errors pushed on the calling
// task (VFileError: the mapped code with the file's name and path, the native error kept beneath it).
#pragma once

#include "kernel/VExport.h"

#include "files/IFile.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VFolder;

class VELK_API VFile : public VObject, public IFile
{
public:
	// The file at a full path in the style (both styles are POSIX text here), taken as given.
	VFile(const VString& path, FilePathStyle style);
	// The file at a path relative to the folder.
	VFile(const VFolder& folder, const VString& relativePath, FilePathStyle style);
	VFile(const VFile& other);
	VFile& operator=(const VFile&) = delete;
	~VFile() override;

	// The POSIX path as a native one.
	VFilePath GetPath() const override;
	void GetPlatformPath(VString& path, FilePathStyle style) const override;
	// No file systems yet: the POSIX path.
	VString GetPathWithFileSystem() const override;
	// Null for a relative path without a folder part.
	IFolder* RetainParentFolder(bool sandboxed) const override;
	bool Exists() const override;
	// Failures push velk 608 unless the native code maps to a code of its own (velk 600 missing file).
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const override;
	// Failures push velk 602 unless mapped (velk 600 missing file, velk 5 access denied, velk 100 memory).
	VError GetContent(VMemoryBuffer<1024, 2, 1048576>& content) const override;
	// The bytes go to a new file beside this one that then replaces it; the folder must exist. Failures
	// push velk 602 unless mapped, and leave the file as it was.
	VError SetContent(const void* bytes, size_t size) const override;

	const VString& _GetPosixPath() const { return fPath; }

private:
	XMacFile fPlatform;
	VString fPath;
};

}  // namespace velk
