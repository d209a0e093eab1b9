#include "files/VFile.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "files/VFileDesc.h"
#include "files/VFileError.h"
#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "files/VSystem.h"
#include "files/VURL.h"
#include "files/mac/XMacFileDesc.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VUUID.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

constexpr VError kRenameFailed = MakeVError(kVELK_SIGNATURE, 601);
constexpr VError kOpenFailed = MakeVError(kVELK_SIGNATURE, 602);
constexpr VError kDeleteFailed = MakeVError(kVELK_SIGNATURE, 604);
constexpr VError kCopyFailed = MakeVError(kVELK_SIGNATURE, 605);
constexpr VError kMoveFailed = MakeVError(kVELK_SIGNATURE, 606);
constexpr VError kCreateFailed = MakeVError(kVELK_SIGNATURE, 607);
constexpr VError kGetInfoFailed = MakeVError(kVELK_SIGNATURE, 608);
constexpr VError kSetInfoFailed = MakeVError(kVELK_SIGNATURE, 609);
constexpr VError kCreateAliasFailed = MakeVError(kVELK_SIGNATURE, 610);
constexpr VError kResolveAliasFailed = MakeVError(kVELK_SIGNATURE, 611);
constexpr VError kRevealFailed = MakeVError(kVELK_SIGNATURE, 612);
constexpr VError kAliasNotAFile = MakeVError(kVELK_SIGNATURE, 617);
constexpr VError kGetSizeFailed = MakeVError(kVELK_SIGNATURE, 218);

// The system folder kind of the temporary folder.
constexpr int32 kTemporaryFolderKind = 2;

// Open options of the content operations.
constexpr uint32 kReadOptions = FO_FOLLOW_LINK;
constexpr uint32 kAppendOptions = FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND;

// The parameters of copies and moves.
std::function<void(VFileError&)> DestinationParameters(const VFilePath& destination, uint32 options)
{
	return [&destination, options](VFileError& error) {
		VString text;
		destination.GetPath(text);
		error.SetString(VString("destination"), text);
		error.SetLong8(VString("options"), int64(options));
	};
}

// The size of an open file; the descriptor's own error code when it cannot be read.
VError GetOpenSize(const VFilePath& path, const VFileDesc& desc, int64& size)
{
	size = 0;
	return VFileError::Wrap(path, desc.GetPlatformDesc().GetSize(&size), kGetSizeFailed);
}

// A new file for an operation's result; velk 100 raised when memory is short.
VError MakeResult(const VFilePath& path, VFileSystem* fileSystem, VFile** out)
{
	*out = new (std::nothrow) VFile(path, fileSystem);
	if (*out != nullptr)
		return VE_OK;
	_ThrowError(VE_MEMORY_FULL);
	return VE_MEMORY_FULL;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Construction

VFile::VFile(const VFilePath& path, VFileSystem* fileSystem) : fPlatform(*this), fPath(path)
{
	_SetFileSystem(fileSystem);
	_InitPlatform();
}

VFile::VFile(const VString& path, FilePathStyle style) : fPlatform(*this), fPath(path, style)
{
	_InitPlatform();
}

VFile::VFile(const VFilePath& folder, const VString& relativePath, FilePathStyle style)
: fPlatform(*this), fPath(folder, relativePath, style, false)
{
	_InitPlatform();
}

VFile::VFile(const VFolder& folder, const VString& relativePath, FilePathStyle style)
: fPlatform(*this), fPath(folder.GetPath(), relativePath, style, false)
{
	// A relative path may climb out of the folder: it then leaves the file system that confines the folder.
	VFileSystem* fileSystem = folder.GetFileSystem();
	if (fileSystem != nullptr && fPath.IsChildOf(fileSystem->GetRoot()))
		_SetFileSystem(fileSystem);
	_InitPlatform();
}

VFile::VFile(const VURL& url) : fPlatform(*this)
{
	url.GetFilePath(fPath);
	_InitPlatform();
}

VFile::VFile(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem) : fPlatform(*this), fPath(path)
{
	_SetFileSystem(fileSystem);
	_InitPlatform(posixPath);
}

VFile::VFile(const VFile& other)
: VObject(), IFile(), fPlatform(*this), fPath(other.fPath), fPosixPath(other.fPosixPath)
{
	_SetFileSystem(other.fFileSystem);
}

VFile::~VFile()
{
	if (VVolumeInfo* info = fVolumeInfo.exchange(nullptr))
		info->Release();
	if (fFileSystem != nullptr)
		fFileSystem->Release();
}

void VFile::_SetFileSystem(VFileSystem* fileSystem)
{
	if (fileSystem != nullptr)
		fileSystem->Retain();
	if (fFileSystem != nullptr)
		fFileSystem->Release();
	fFileSystem = fileSystem;
}

void VFile::_InitPlatform(const char* posixPath)
{
	if (posixPath != nullptr)
		fPosixPath = VString(posixPath);
	else
		fPath.GetPosixPath(fPosixPath);
}

bool VFile::Init()
{
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// Queries

VFilePath VFile::GetPath() const
{
	return fPath;
}

void VFile::GetPlatformPath(VString& path, FilePathStyle style) const
{
	if (style == FPS_POSIX)
		fPlatform.GetPosixPath(path);
	else if (style == FPS_SYSTEM)
		fPath.GetPath(path);
	else
		path.Clear();
}

VString VFile::GetPathWithFileSystem() const
{
	VString text;
	if (fFileSystem != nullptr && fFileSystem->GetPathWithFileSystem(fPath, text))
		return text;
	VString posixPath;
	fPlatform.GetPosixPath(posixPath);
	return posixPath;
}

IFolder* VFile::RetainParentFolder(bool sandboxed) const
{
	return RetainParentVFolder(sandboxed);
}

VFolder* VFile::RetainParentVFolder(bool sandboxed) const
{
	VFilePath parent;
	if (!fPath.GetParent(parent))
		return nullptr;
	if (sandboxed && fFileSystem != nullptr && !fFileSystem->IsAuthorized(parent))
		return nullptr;
	VFolder* folder = new (std::nothrow) VFolder(parent, fFileSystem);
	if (folder == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return folder;
}

bool VFile::Exists() const
{
	if (!fPath.IsFile())
		return false;
	VFileAttributesCache* cache = fFileSystem != nullptr ? fFileSystem->GetAttributesCache() : nullptr;
	if (cache != nullptr && cache->FileExists(fPath))
		return true;
	return fPlatform.Exists();
}

bool VFile::IsWritable() const
{
	StErrorContextInstaller scope(false, true);
	VFileDesc* desc = nullptr;
	const VError result = Open(FA_READ_WRITE, &desc, FO_FOLLOW_LINK);
	delete desc;
	return result == VE_OK;
}

bool VFile::IsSameFile(const VFile* other) const
{
	if (other == nullptr)
		return false;
	// Names that differ only by case are two files on disk here.
	VString mine;
	VString theirs;
	fPath.GetPath(mine);
	other->fPath.GetPath(theirs);
	return mine.EqualToStringRaw(theirs);
}

bool VFile::IsAliasFile() const
{
	return fPlatform.IsAliasFile();
}

bool VFile::HasResourceFork() const
{
	return fPlatform.HasResourceFork();
}

bool VFile::MAC_IsSymbolicLink() const
{
	return fPlatform.IsSymbolicLink();
}

bool VFile::MAC_IsWritableByAll() const
{
	return fPlatform.IsWritableByAll();
}

bool VFile::ConformsTo(const VFileKind& kind) const
{
	VString extension;
	GetExtension(extension);
	if (!kind.IsPublic())
		return kind.MatchExtension(extension);
	VString identifier;
	if (fPlatform.GetUTIString(identifier) != VE_OK)
		return false;
	VRefPtr<VFileKind> own(XMacFile::CreatePublicFileKind(identifier), true);
	if (own != nullptr && XMacFile::IsFileKindConformsTo(*own, kind))
		return true;
	return !extension.IsEmpty() && kind.MatchExtension(extension);
}

bool VFile::ConformsTo(const VString& kindID) const
{
	if (VFileKindManager::sManager == nullptr)
		return false;
	VRefPtr<VFileKind> kind(VFileKindManager::sManager->RetainFileKind(kindID), true);
	return kind != nullptr && ConformsTo(*kind);
}

void VFile::GetURL(VString& url, bool encoded) const
{
	VURL(fPath).GetAbsoluteURL(url, encoded);
}

void VFile::GetRelativeURL(const VFolder* base, VString& url, bool encoded) const
{
	GetURL(url, encoded);
	if (base == nullptr)
		return;
	VString prefix;
	base->GetURL(prefix, encoded);
	// Compared unit for unit: names that differ by case are other entries on disk here.
	if (!prefix.IsEmpty() && url.BeginsWithRawString(prefix))
		url.Remove(1, prefix.GetLength());
}

// ---------------------------------------------------------------------------------------------------------
// Operations

VError VFile::Open(FileAccess access, VFileDesc** out, uint32 options) const
{
	*out = nullptr;
	int descriptor = -1;
	FileAccess opened = access;
	int error = 0;
	if (access == FA_READ_WRITE_OR_READ)
	{
		opened = FA_READ_WRITE;
		error = fPlatform._Open(FA_READ_WRITE, options, &descriptor);
		if (error != 0)
		{
			opened = FA_READ;
			error = fPlatform._Open(FA_READ, options, &descriptor);
		}
	}
	else
	{
		error = fPlatform._Open(access, options, &descriptor);
	}
	const VError result = VFileError::Wrap(fPath, MakePosixError(error), kOpenFailed, [access, options](VFileError& e) {
		e.SetLong8(VString("access"), int64(access));
		e.SetLong8(VString("options"), int64(options));
	});
	if (result != VE_OK)
		return result;
	*out = new (std::nothrow) VFileDesc(this, descriptor, opened);
	if (*out == nullptr)
	{
		// The platform half owns the descriptor from here and closes it.
		XMacFileDesc closing(descriptor);
		return VFileError::Push(fPath, VE_MEMORY_FULL);
	}
	return VE_OK;
}

VError VFile::Create(uint32 options) const
{
	return VFileError::Wrap(fPath, fPlatform.Create(options), kCreateFailed,
		[options](VFileError& e) { e.SetLong8(VString("options"), int64(options)); });
}

VError VFile::_Copy(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, uint32 options) const
{
	if (out != nullptr)
		*out = nullptr;
	// Refused before the disk is touched: an invalid path names nothing to copy from or to.
	if (!fPath.IsValid() || !destination.IsValid())
		return VFileError::Push(fPath, kCopyFailed, DestinationParameters(destination, options));
	VFilePath made;
	const VError result = VFileError::Wrap(fPath, fPlatform.Copy(destination, &made, options), kCopyFailed,
		DestinationParameters(destination, options));
	if (result != VE_OK || out == nullptr)
		return result;
	return MakeResult(made, fileSystem, out);
}

VError VFile::_Move(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, uint32 options) const
{
	if (out != nullptr)
		*out = nullptr;
	if (!destination.IsValid())
		return VFileError::Push(fPath, kMoveFailed, DestinationParameters(destination, options));
	VFilePath made;
	const VError result = VFileError::Wrap(fPath, fPlatform.Move(destination, &made, options), kMoveFailed,
		DestinationParameters(destination, options));
	if (result != VE_OK || out == nullptr)
		return result;
	return MakeResult(made, fileSystem, out);
}

VFileSystem* VFile::_FileSystemHolding(const VFilePath& path) const
{
	return fFileSystem != nullptr && path.IsSameOrChildOf(fFileSystem->GetRoot()) ? fFileSystem : nullptr;
}

VError VFile::CopyTo(const VFilePath& destination, VFile** out, uint32 options) const
{
	return _Copy(destination, _FileSystemHolding(destination), out, options);
}

VError VFile::CopyTo(const VFile& destination, uint32 options) const
{
	return _Copy(destination.fPath, nullptr, nullptr, options);
}

VError VFile::CopyTo(const VFolder& destination, VFile** out, uint32 options) const
{
	return _Copy(destination.GetPath(), destination.GetFileSystem(), out, options);
}

VError VFile::CopyFrom(const VFile& source, uint32 options) const
{
	return source._Copy(fPath, nullptr, nullptr, options);
}

VError VFile::Rename(const VString& newName, VFile** out) const
{
	if (out != nullptr)
		*out = nullptr;
	VFilePath renamed;
	const VError result = VFileError::Wrap(fPath, fPlatform.Rename(newName, &renamed), kRenameFailed,
		[&newName](VFileError& e) { e.SetString(VString("newname"), newName); });
	if (result != VE_OK || out == nullptr)
		return result;
	return MakeResult(renamed, fFileSystem, out);
}

VError VFile::Move(const VFilePath& destination, VFile** out, uint32 options) const
{
	return _Move(destination, _FileSystemHolding(destination), out, options);
}

VError VFile::Move(const VFile& destination, uint32 options) const
{
	return _Move(destination.fPath, destination.fFileSystem, nullptr, options);
}

VError VFile::Move(const VFolder& destination, VFile** out, uint32 options) const
{
	return _Move(destination.GetPath(), destination.GetFileSystem(), out, options);
}

VError VFile::_Remove(VError (XMacFile::*operation)() const) const
{
	if (!fPath.IsValid())
		return VFileError::Push(fPath, kDeleteFailed);
	// Asked of the system rather than tested first: a folder at the path is no missing file, and its
	// failure must show. Only nothing at the path (or a file where a folder should be) is success.
	const VError result = (fPlatform.*operation)();
	if (result == MakePosixError(ENOENT) || result == MakePosixError(ENOTDIR))
		return VE_OK;
	return VFileError::Wrap(fPath, result, kDeleteFailed);
}

VError VFile::Delete() const
{
	return _Remove(&XMacFile::Delete);
}

VError VFile::MoveToTrash() const
{
	if (!fPath.IsValid())
		return VFileError::Push(fPath, kDeleteFailed);
	// Only a missing file is success: the trash's failures, ENOTDIR among them, are failures.
	const VError result = fPlatform.MoveToTrash();
	if (result == MakePosixError(ENOENT))
		return VE_OK;
	return VFileError::Wrap(fPath, result, kDeleteFailed);
}

VError VFile::GetSize(int64* size) const
{
	int64 count = 0;
	const VError result = VFileError::Wrap(fPath, fPlatform.GetSize(&count), kGetInfoFailed);
	if (size != nullptr)
		*size = result == VE_OK ? count : 0;
	return result;
}

VError VFile::GetResourceForkSize(int64* size) const
{
	int64 count = 0;
	const VError result = VFileError::Wrap(fPath, fPlatform.GetResourceForkSize(&count), kGetInfoFailed);
	if (size != nullptr)
		*size = result == VE_OK ? count : 0;
	return result;
}

VError VFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	VFileAttributesCache* cache = fFileSystem != nullptr ? fFileSystem->GetAttributesCache() : nullptr;
	if (cache != nullptr && cache->GetTimeAttributes(fPath, modified, created, accessed))
		return VE_OK;
	const VError result = VFileError::Wrap(fPath, fPlatform.GetTimeAttributes(modified, created, accessed), kGetInfoFailed);
	if (result != VE_OK)
	{
		for (VTime* time : {modified, created, accessed})
		{
			if (time != nullptr)
				time->Clear();
		}
	}
	return result;
}

VError VFile::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
	return VFileError::Wrap(fPath, fPlatform.SetTimeAttributes(modified, created, accessed), kGetInfoFailed);
}

VError VFile::GetFileAttributes(uint32& attributes) const
{
	return VFileError::Wrap(fPath, fPlatform.GetFileAttributes(attributes), kGetInfoFailed);
}

VError VFile::SetFileAttributes(uint32 attributes) const
{
	return VFileError::Wrap(fPath, fPlatform.SetFileAttributes(attributes), kGetInfoFailed);
}

VError VFile::MAC_GetKind(uint32* kind) const
{
	return VFileError::Wrap(fPath, fPlatform.GetKind(kind), kGetInfoFailed);
}

VError VFile::MAC_GetCreator(uint32* creator) const
{
	if (creator != nullptr)
		*creator = 0;
	return VE_OK;
}

VError VFile::MAC_SetKind(uint32) const
{
	return VE_OK;
}

VError VFile::MAC_SetCreator(uint32) const
{
	return VE_OK;
}

VError VFile::Mac_GetOwner(uint32& user, uint32& group) const
{
	return VFileError::Wrap(fPath, fPlatform.GetOwner(user, group), kGetInfoFailed);
}

VError VFile::MAC_GetPermissions(uint16* mode) const
{
	return VFileError::Wrap(fPath, fPlatform.GetPermissions(mode), kGetInfoFailed);
}

VError VFile::MAC_SetPermissions(uint16 mode) const
{
	return VFileError::Wrap(fPath, fPlatform.SetPermissions(mode), kSetInfoFailed);
}

VError VFile::MAC_MakeWritableByAll() const
{
	return VFileError::Wrap(fPath, fPlatform.MakeWritableByAll(), kSetInfoFailed);
}

void VFile::MAC_SetExtensionVisible(bool visible) const
{
	fPlatform.SetExtensionVisible(visible);
}

VError VFile::MAC_CreateSymbolicLink(const VFilePath& target, bool absolute) const
{
	const VError result = fPlatform.CreateSymbolicLink(target, absolute);
	if (result != VE_OK)
		_ThrowError(result);
	return result;
}

VError VFile::CreateAlias(const VFilePath& target, const VFilePath* relativeTo) const
{
	return VFileError::Wrap(fPath, fPlatform.CreateAlias(target, relativeTo), kCreateAliasFailed);
}

VError VFile::ResolveAlias(VFilePath& target) const
{
	const VError result = VFileError::Wrap(fPath, fPlatform.ResolveAlias(target), kResolveAliasFailed);
	if (result != VE_OK)
		target.Clear();
	return result;
}

VError VFile::Unlock() const
{
	return VFileError::Wrap(fPath, fPlatform.Unlock(), kSetInfoFailed);
}

bool VFile::RevealInFinder() const
{
	return VFileError::Wrap(fPath, fPlatform.RevealInFinder(), kRevealFailed) == VE_OK;
}

VError VFile::GetVolumeFreeSpace(int64* freeBytes, int64* totalBytes, bool withQuotas, uint32 maxAgeMs,
	const VFileDesc*) const
{
	if (maxAgeMs != 0)
	{
		// Taken out while in use, so that a thread storing a newer answer meanwhile never frees this one.
		if (VVolumeInfo* info = fVolumeInfo.exchange(nullptr))
		{
			const uint32 now = uint32(VSystem::GetCurrentTime());
			if (uint32(now - info->fTime) <= maxAgeMs && info->fWithQuotas == withQuotas)
			{
				if (freeBytes != nullptr)
					*freeBytes = info->fFree;
				if (totalBytes != nullptr)
					*totalBytes = info->fTotal;
				if (VVolumeInfo* other = fVolumeInfo.exchange(info))
					other->Release();
				return VE_OK;
			}
			info->Release();
		}
	}

	int64 available = 0;
	int64 total = 0;
	const VError result = VFileError::Wrap(fPath, fPlatform.GetVolumeFreeSpace(&available, &total, withQuotas), kGetInfoFailed);
	if (result != VE_OK)
	{
		available = 0;
		total = 0;
		if (VVolumeInfo* stale = fVolumeInfo.exchange(nullptr))
			stale->Release();
	}
	else if (maxAgeMs != 0)
	{
		// Short of memory nothing is kept: the next call asks again.
		VVolumeInfo* info = new (std::nothrow) VVolumeInfo(uint32(VSystem::GetCurrentTime()), withQuotas, available, total);
		if (info != nullptr)
		{
			if (VVolumeInfo* other = fVolumeInfo.exchange(info))
				other->Release();
		}
	}
	if (freeBytes != nullptr)
		*freeBytes = available;
	if (totalBytes != nullptr)
		*totalBytes = total;
	return result;
}

// ---------------------------------------------------------------------------------------------------------
// Content in one call

VError VFile::GetData(void* buffer, size_t size, size_t* read) const
{
	if (read != nullptr)
		*read = 0;
	VFileDesc* desc = nullptr;
	VError result = Open(FA_READ, &desc, kReadOptions);
	if (result == VE_OK)
	{
		size_t count = 0;
		// At most size bytes: a shorter file is read whole, and that is no error.
		result = desc->GetDataAtPos(buffer, size, 0, &count);
		if (result == VE_STREAM_EOF)
			result = VE_OK;
		if (read != nullptr)
			*read = count;
	}
	delete desc;
	return result;
}

VError VFile::GetContent(VMemoryBuffer<1024, 2, 1048576>& content) const
{
	VFileDesc* desc = nullptr;
	VError result = Open(FA_READ, &desc, kReadOptions);
	int64 size = 0;
	if (result == VE_OK)
		result = GetOpenSize(fPath, *desc, size);
	if (result == VE_OK)
	{
		// An empty buffer is read into directly and emptied again on failure; one holding data gets the
		// content only once it is whole, so that a failure leaves it as it was.
		const bool direct = content.GetDataSize() == 0;
		VMemoryBuffer<1024, 2, 1048576> aside(content.GetAllocator());
		VMemoryBuffer<1024, 2, 1048576>& target = direct ? content : aside;
		if (!target.SetDataSizeExactly(uint64(size), int32(FourCharCode("mblb"))))
			result = VFileError::Push(fPath, VE_MEMORY_FULL);
		else if (size > 0)
			result = desc->GetData(target.GetDataPtr(), size_t(size), 0, nullptr);
		if (result != VE_OK && direct)
			content.SetDataSizeExactly(0);
		else if (result == VE_OK && !direct)
		{
			if (!content.SetDataSizeExactly(uint64(size)))
				result = VFileError::Push(fPath, VE_MEMORY_FULL);
			else if (size > 0)
				std::memcpy(content.GetDataPtr(), aside.GetDataPtr(), size_t(size));
		}
	}
	delete desc;
	return result;
}

VError VFile::_CreateParentFolders() const
{
	VRefPtr<VFolder> parent(RetainParentVFolder(false), true);
	return parent != nullptr ? parent->CreateRecursive(false) : VE_OK;
}

VError VFile::SetContent(const void* bytes, size_t size) const
{
	if (const VError made = _CreateParentFolders())
		return made;
	// Written beside the file and renamed over it, so that a failed write (a full disk) leaves the former
	// content whole rather than cut short.
	return VFileError::Wrap(fPath, fPlatform.SetContent(bytes, size), kOpenFailed);
}

VError VFile::AppendContent(const void* bytes, size_t size) const
{
	if (const VError made = _CreateParentFolders())
		return made;
	VFileDesc* desc = nullptr;
	VError result = Open(FA_READ_WRITE, &desc, kAppendOptions);
	int64 position = 0;
	if (result == VE_OK)
		result = GetOpenSize(fPath, *desc, position);
	if (result == VE_OK && size > 0)
		result = desc->PutData(bytes, size, position, nullptr);
	delete desc;
	return result;
}

// ---------------------------------------------------------------------------------------------------------
// Aliases and temporary files

VError VFile::ResolveAliasFile(VFile** file, bool deleteIfUnresolved)
{
	if (file == nullptr || *file == nullptr || !(*file)->IsAliasFile())
		return VE_OK;
	VFile* alias = *file;
	VFilePath target;
	const VError result = alias->fPlatform.ResolveAlias(target);
	if (result == VE_OK && target.IsFile())
	{
		VFile* resolved = nullptr;
		const VError made = MakeResult(target, nullptr, &resolved);
		if (made != VE_OK)
			return made;
		alias->Release();
		*file = resolved;
		return VE_OK;
	}
	if (deleteIfUnresolved)
		return alias->Delete();
	if (result == VE_OK)
		return VFileError::Push(alias->fPath, kAliasNotAFile);
	return VFileError::Wrap(alias->fPath, result, kResolveAliasFailed);
}

VError VFile::ResolveAliasFile(VRefPtr<VFile>& file, bool deleteIfUnresolved)
{
	VFile* raw = file.Retain();
	const VError result = ResolveAliasFile(&raw, deleteIfUnresolved);
	file.Adopt(raw);
	return result;
}

VFile* VFile::CreateAndResolveAlias(const VFolder& folder, const VString& name, FilePathStyle style)
{
	VFile* file = new (std::nothrow) VFile(folder, name, style);
	if (file == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (ResolveAliasFile(&file, true) != VE_OK)
	{
		file->Release();
		return nullptr;
	}
	return file;
}

VFile* VFile::CreateTemporaryFile()
{
	VRefPtr<VFolder> folder(VFolder::RetainSystemFolder(kTemporaryFolderKind, true), true);
	if (folder == nullptr)
		return nullptr;
	VUUID uuid(true, VUUID::eVersion_Random);
	VString digits;
	uuid.GetString(digits);
	VString name("vlk_");
	name.AppendUniChars(digits.GetCPointer(), digits.GetLength());
	VFile* file = new (std::nothrow) VFile(folder->GetPath(), name, FPS_SYSTEM);
	if (file == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (file->Create(0) != VE_OK)
	{
		file->Release();
		return nullptr;
	}
	return file;
}

}  // namespace velk
