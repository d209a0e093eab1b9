#include "files/VFolder.h"

#include <new>

#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileSystem.h"
#include "files/VURL.h"

namespace velk {

namespace {

constexpr VError kSetInfoFailed = MakeVError(kVELK_SIGNATURE, 608);
constexpr VError kCreateFailed = MakeVError(kVELK_SIGNATURE, 652);
constexpr VError kInfoFailed = MakeVError(kVELK_SIGNATURE, 654);
constexpr VError kSetFailed = MakeVError(kVELK_SIGNATURE, 655);
constexpr VError kMoveFailed = MakeVError(kVELK_SIGNATURE, 657);
constexpr VError kTrashFailed = MakeVError(kVELK_SIGNATURE, 661);

template <class T>
T* Made(T* object)
{
	if (object == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return object;
}

// A relative folder text names a folder only with its style's separator at the end.
VString WithSeparator(const VString& path, FilePathStyle style)
{
	const UniChar separator = style == FPS_POSIX ? u'/' : u':';
	VString text(path);
	if (!text.IsEmpty() && text.GetUniChar(text.GetLength()) != separator)
		text.AppendUniChar(separator);
	return text;
}

}  // namespace

VFolder::VFolder(const VFilePath& path, VFileSystem* fileSystem) : fPlatform(*this), fPath(path)
{
	_SetFileSystem(fileSystem);
	_InitPlatform();
}

VFolder::VFolder(const VFolder& other) : VObject(), IFolder(), fPlatform(*this), fPath(other.GetPath())
{
	_SetFileSystem(other.fFileSystem);
	_InitPlatform();
}

VFolder::VFolder(const VString& fullPath, FilePathStyle style) : fPlatform(*this)
{
	fPath.FromFullPath(WithSeparator(fullPath, style), style);
	_InitPlatform();
}

VFolder::VFolder(const VFolder& base, const VString& relativePath, FilePathStyle style) : fPlatform(*this)
{
	_SetFileSystem(base.fFileSystem);
	fPath.FromRelativePath(base.fPath, WithSeparator(relativePath, style), style, fFileSystem != nullptr);
	if (fFileSystem != nullptr && !fPath.IsSameOrChildOf(fFileSystem->GetRoot()))
		_SetFileSystem(nullptr);
	_InitPlatform();
}

VFolder::VFolder(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem) : fPlatform(*this), fPath(path)
{
	_SetFileSystem(fileSystem);
	_InitPlatform(posixPath);
}

VFolder::~VFolder()
{
	_SetFileSystem(nullptr);
}

void VFolder::_SetFileSystem(VFileSystem* fileSystem)
{
	if (fileSystem != nullptr)
		fileSystem->Retain();
	if (fFileSystem != nullptr)
		fFileSystem->Release();
	fFileSystem = fileSystem;
}

void VFolder::_InitPlatform(const char* posixPath)
{
	if (posixPath != nullptr)
	{
		fPosixPath = VString(posixPath);
		if (!fPosixPath.IsEmpty() && fPosixPath.GetUniChar(fPosixPath.GetLength()) != u'/')
			fPosixPath.AppendUniChar(u'/');
	}
	else
	{
		fPath.GetPosixPath(fPosixPath);
	}
}

VFilePath VFolder::GetPath() const
{
	return fPath;
}

void VFolder::GetPlatformPath(VString& path, FilePathStyle style) const
{
	if (style == FPS_POSIX)
	{
		path = fPosixPath;
		if (path.IsEmpty())
			fPath.GetPosixPath(path);
	}
	else if (style == FPS_SYSTEM)
	{
		fPath.GetPath(path);
	}
	else
	{
		path.Clear();
	}
}

VString VFolder::GetPathWithFileSystem() const
{
	VString path;
	if (fFileSystem != nullptr && fFileSystem->GetPathWithFileSystem(fPath, path))
		return path;
	GetPlatformPath(path, FPS_POSIX);
	return path;
}

bool VFolder::Exists() const
{
	return fPath.IsFolder() && fPlatform.Exists(true);
}

void VFolder::GetURL(VString& url, bool encoded) const
{
	VURL(fPath).GetAbsoluteURL(url, encoded);
}

VError VFolder::GetRelativeURL(const VFolder* base, VString& url, bool encoded) const
{
	GetURL(url, encoded);
	if (base != nullptr)
	{
		VString prefix;
		base->GetURL(prefix, encoded);
		// Exactly: names that differ only in case are other folders on disk.
		if (!prefix.IsEmpty() && url.BeginsWithRawString(prefix))
			url.Remove(1, prefix.GetLength());
	}
	return VE_OK;
}

VError VFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	return VFileError::Wrap(fPath, fPlatform.GetTimeAttributes(modified, created, accessed), kInfoFailed);
}

VError VFolder::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
	return VFileError::Wrap(fPath, fPlatform.SetTimeAttributes(modified, created, accessed), kSetInfoFailed);
}

VError VFolder::GetVolumeCapacity(int64* bytes) const
{
	return VFileError::Wrap(fPath, fPlatform.GetVolumeCapacity(bytes), kInfoFailed);
}

VError VFolder::GetVolumeFreeSpace(int64* bytes, bool withQuotas) const
{
	return VFileError::Wrap(fPath, fPlatform.GetVolumeFreeSpace(bytes, withQuotas), kInfoFailed);
}

VError VFolder::GetFolderAttributes(uint32& attributes) const
{
	return fPlatform.GetFolderAttributes(attributes);
}

VError VFolder::SetFolderAttributes(uint32 attributes) const
{
	return fPlatform.SetFolderAttributes(attributes);
}

VError VFolder::IsHidden(bool& hidden) const
{
	return fPlatform.IsHidden(hidden);
}

bool VFolder::IsWritableByAll() const
{
	return fPlatform.IsWritableByAll();
}

bool VFolder::MAC_IsPackage() const
{
	return fPlatform.IsPackage();
}

VError VFolder::MAC_GetPermissions(uint16* mode) const
{
	return VFileError::Wrap(fPath, fPlatform.GetPermissions(mode), kInfoFailed);
}

VError VFolder::MAC_SetPermissions(uint16 mode) const
{
	return VFileError::Wrap(fPath, fPlatform.SetPermissions(mode), kSetFailed);
}

VError VFolder::Mac_GetOwner(uint32& uid, uint32& gid) const
{
	return VFileError::Wrap(fPath, fPlatform.GetOwner(uid, gid), kInfoFailed);
}

VError VFolder::Create() const
{
	if (fPlatform.Exists(true))
		return VE_OK;
	return VFileError::Wrap(fPath, fPlatform.Create(), kCreateFailed);
}

VError VFolder::CreateRecursive(bool makeWritableByAll) const
{
	if (fPlatform.Exists(true))
		return VE_OK;
	if (VFolder* parent = RetainParentVFolder(false))
	{
		const VError result = parent->CreateRecursive(makeWritableByAll);
		parent->Release();
		if (result != VE_OK)
			return result;
	}
	const VError result = Create();
	if (result == VE_OK && makeWritableByAll)
		return MakeWritableByAll();
	return result;
}

VError VFolder::MakeWritableByAll() const
{
	return VFileError::Wrap(fPath, fPlatform.MakeWritableByAll(), kSetFailed);
}

VError VFolder::Rename(const VString& newName, VFolder** out) const
{
	if (out != nullptr)
		*out = nullptr;
	VFilePath renamed;
	const VError result = VFileError::Wrap(fPath, fPlatform.Rename(newName, &renamed), kMoveFailed,
		[&](VFileError& error) { error.SetString(VString("newname"), newName); });
	if (result == VE_OK && out != nullptr)
	{
		VFileSystem* fileSystem = fFileSystem != nullptr && fFileSystem->IsAuthorized(renamed) ? fFileSystem : nullptr;
		*out = Made(new (std::nothrow) VFolder(renamed, fileSystem));
	}
	return result;
}

VError VFolder::Move(const VFolder& destination, VFolder** out) const
{
	return Move(destination, VString(), out);
}

VError VFolder::Move(const VFolder& destination, const VString& newName, VFolder** out) const
{
	if (out != nullptr)
		*out = nullptr;
	VFilePath moved;
	const VError result = VFileError::Wrap(fPath,
		fPlatform.Move(destination.GetPath(), newName.IsEmpty() ? nullptr : &newName, &moved), kMoveFailed);
	if (result == VE_OK && out != nullptr)
		*out = Made(new (std::nothrow) VFolder(moved, destination.fFileSystem));
	return result;
}

VError VFolder::MoveToTrash() const
{
	if (!fPlatform.Exists(true))
		return VE_OK;
	return VFileError::Wrap(fPath, fPlatform.MoveToTrash(), kTrashFailed);
}

IFolder* VFolder::RetainParentFolder(bool sandboxed) const
{
	return RetainParentVFolder(sandboxed);
}

VFolder* VFolder::RetainParentVFolder(bool sandboxed) const
{
	VFilePath parent;
	if (!fPath.GetParent(parent))
		return nullptr;
	if (fFileSystem != nullptr && fFileSystem->IsAuthorized(parent))
		return Made(new (std::nothrow) VFolder(parent, fFileSystem));
	if (!sandboxed || fFileSystem == nullptr)
		return Made(new (std::nothrow) VFolder(parent));
	return nullptr;
}

IFolder* VFolder::RetainRelativeFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem) const
{
	return RetainRelativeVFolder(path, style, fileSystem);
}

VFolder* VFolder::RetainRelativeVFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem) const
{
	if (fileSystem == nullptr)
		fileSystem = fFileSystem;
	const VFilePath relative(fPath, WithSeparator(path, style), style, fileSystem != nullptr);
	if (!relative.IsFolder())
		return nullptr;
	if (fileSystem != nullptr && !fileSystem->IsAuthorized(relative))
		return nullptr;
	return Made(new (std::nothrow) VFolder(relative, fileSystem));
}

VFile* VFolder::RetainRelativeFile(const VString& path, FilePathStyle style) const
{
	const VFilePath relative(fPath, path, style, fFileSystem != nullptr);
	if (!relative.IsFile())
		return nullptr;
	if (fFileSystem != nullptr && !fFileSystem->IsAuthorized(relative))
		return nullptr;
	return Made(new (std::nothrow) VFile(relative, fFileSystem));
}

IFile* VFolder::_RetainRelativeIFile(const VString& path, FilePathStyle style) const
{
	return RetainRelativeFile(path, style);
}

VFolder* VFolder::RetainSystemFolder(int32 kind, bool create)
{
	VFilePath path;
	if (XMacFolder::RetainSystemFolder(kind, create, &path) != VE_OK || !path.IsFolder())
		return nullptr;
	return Made(new (std::nothrow) VFolder(path));
}

}  // namespace velk
