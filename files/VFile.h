// One file on disk, named by its native path (VFilePath): the toolbox's portable file object. Whether the
// file exists does not matter until an operation needs it. It may carry a file system, which then confines
// the files made from it. System failures become file errors pushed on the calling task (VFileError: the
// mapped code with the file's name, path and the operation's parameters, the native error kept beneath).
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "files/IFile.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

class VFileDesc;
class VFileKind;
class VFileSystem;
class VFolder;
class VURL;

// The last answer about a volume's space, kept by a file so that frequent callers need not ask the system.
class VELK_API VVolumeInfo : public VObject, public IRefCountable
{
public:
	VVolumeInfo(uint32 timeMs, bool withQuotas, int64 freeBytes, int64 totalBytes)
	: fTime(timeMs), fWithQuotas(withQuotas), fFree(freeBytes), fTotal(totalBytes)
	{
	}

	uint32 fTime;
	bool fWithQuotas;
	int64 fFree;
	int64 fTotal;
};

class VELK_API VFile : public VObject, public IFile
{
public:
	explicit VFile(const VFilePath& path, VFileSystem* fileSystem = nullptr);
	// From a full path in the style (VFilePath::FromFullPath); no file system.
	VFile(const VString& path, FilePathStyle style);
	// From a path relative to a folder path; no file system.
	VFile(const VFilePath& folder, const VString& relativePath, FilePathStyle style);
	// Relative to the folder, with its file system unless the path leaves the file system's root.
	VFile(const VFolder& folder, const VString& relativePath, FilePathStyle style);
	explicit VFile(const VURL& url);
	// The platform half keeps posixPath as given (the iterators, which have it at hand).
	VFile(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem);
	VFile(const VFile& other);
	VFile& operator=(const VFile&) = delete;
	~VFile() override;

	// Nothing to prepare: true.
	static bool Init();

	VFilePath GetPath() const override;
	VFileSystem* GetFileSystem() const override { return fFileSystem; }
	void GetPlatformPath(VString& path, FilePathStyle style) const override;
	VString GetPathWithFileSystem() const override;
	// Null without a parent, or, when sandboxed, when the file system does not authorize it.
	IFolder* RetainParentFolder(bool sandboxed) const override;
	VFolder* RetainParentVFolder(bool sandboxed) const;
	bool Exists() const override;
	bool IsWritable() const override;
	// The native texts are equal unit for unit: names that differ by case are other files here.
	bool IsSameFile(const VFile* other) const;
	bool IsAliasFile() const;
	bool HasResourceFork() const;
	bool MAC_IsSymbolicLink() const;
	bool MAC_IsWritableByAll() const;
	bool ConformsTo(const VFileKind& kind) const;
	bool ConformsTo(const VString& kindID) const;
	void GetURL(VString& url, bool encoded) const;
	void GetRelativeURL(const VFolder* base, VString& url, bool encoded) const;

	// Operations answering 0 or the code of the file error pushed.
	VError Open(FileAccess access, VFileDesc** out, uint32 options = FO_FOLLOW_LINK) const;
	VError Create(uint32 options = 0) const;
	VError CopyTo(const VFilePath& destination, VFile** out, uint32 options = 0) const;
	VError CopyTo(const VFile& destination, uint32 options = 0) const override;
	VError CopyTo(const VFolder& destination, VFile** out, uint32 options = 0) const override;
	VError CopyFrom(const VFile& source, uint32 options = 0) const;
	VError Rename(const VString& newName, VFile** out) const;
	VError Move(const VFilePath& destination, VFile** out, uint32 options = 0) const;
	VError Move(const VFile& destination, uint32 options = 0) const;
	VError Move(const VFolder& destination, VFile** out, uint32 options = 0) const;
	// Nothing at the path is success and pushes nothing; a folder at the path is a failure (velk 604).
	VError Delete() const override;
	// Nothing at the path is success; a folder at the path, or a trash that cannot take the file, is a
	// failure (velk 604) and the file stays.
	VError MoveToTrash() const;
	VError GetSize(int64* size) const override;
	VError GetResourceForkSize(int64* size) const;
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const override;
	VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;
	VError GetFileAttributes(uint32& attributes) const;
	VError SetFileAttributes(uint32 attributes) const;
	// No type codes here: 0.
	VError MAC_GetKind(uint32* kind) const;
	VError MAC_GetCreator(uint32* creator) const;
	VError MAC_SetKind(uint32 kind) const;
	VError MAC_SetCreator(uint32 creator) const;
	VError Mac_GetOwner(uint32& user, uint32& group) const;
	VError MAC_GetPermissions(uint16* mode) const;
	VError MAC_SetPermissions(uint16 mode) const;
	VError MAC_MakeWritableByAll() const;
	void MAC_SetExtensionVisible(bool visible) const;
	VError MAC_CreateSymbolicLink(const VFilePath& target, bool absolute) const;
	VError CreateAlias(const VFilePath& target, const VFilePath* relativeTo) const;
	VError ResolveAlias(VFilePath& target) const;
	VError Unlock() const;
	bool RevealInFinder() const;
	// Free and total bytes of the volume; an answer younger than maxAgeMs with the same quota flag is
	// reused (maxAgeMs 0 always asks). Either pointer may be null; both get 0 on failure. The volume is the
	// path's: desc names the same one and is not consulted.
	VError GetVolumeFreeSpace(int64* freeBytes, int64* totalBytes, bool withQuotas, uint32 maxAgeMs,
		const VFileDesc* desc = nullptr) const;

	// Whole content in one call; the open file is closed whatever the outcome. GetContent pushes velk 100
	// as a file error, reading nothing, when the buffer cannot hold the file. GetData reads at most size
	// bytes: a shorter file is no error. SetContent writes a new file beside this one and renames it over
	// this one, whose mode it keeps.
	VError GetContent(VMemoryBuffer<1024, 2, 1048576>& content) const override;
	VError GetData(void* buffer, size_t size, size_t* read) const override;
	VError SetContent(const void* bytes, size_t size) const override;
	VError AppendContent(const void* bytes, size_t size) const override;

	// An alias file replaced by a new file of its target; see the definition for the failures.
	static VError ResolveAliasFile(VFile** file, bool deleteIfUnresolved);
	static VError ResolveAliasFile(VRefPtr<VFile>& file, bool deleteIfUnresolved);
	static VFile* CreateAndResolveAlias(const VFolder& folder, const VString& name, FilePathStyle style);
	// An empty new file "vlk_" + a new UUID's 32 hex digits in the temporary folder; null on failure.
	static VFile* CreateTemporaryFile();

	// The POSIX text the platform half works on.
	const VString& _GetPosixPath() const { return fPosixPath; }
	const XMacFile& GetMacFile() const { return fPlatform; }

private:
	void _SetFileSystem(VFileSystem* fileSystem);
	// The folders the file goes in, made when missing.
	VError _CreateParentFolders() const;
	void _InitPlatform(const char* posixPath = nullptr);
	// fFileSystem when path lies in it, else null.
	VFileSystem* _FileSystemHolding(const VFilePath& path) const;
	// A copy or move to destination; *out (when given) receives the new file carrying fileSystem.
	VError _Copy(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, uint32 options) const;
	VError _Move(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, uint32 options) const;
	// Delete or MoveToTrash by operation; a missing file is success.
	VError _Remove(VError (XMacFile::*operation)() const) const;
	// Opens with options (creating the parent folders first) and writes the bytes over the content
	// (its size set first) or at its end.

	XMacFile fPlatform;
	VFilePath fPath;
	VFileSystem* fFileSystem = nullptr;
	mutable std::atomic<VVolumeInfo*> fVolumeInfo{nullptr};
	VString fPosixPath;
};

}  // namespace velk
