// The operations of XMacFolder on its own folder: create, delete, rename, move, copy, trash, owner, modes,
// attributes, forced deletion and the system folders.
#include "files/mac/XMacFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"
#include "platform/PathAttributes.h"
#include "platform/Trash.h"
#include "platform/TreeCopy.h"
#include "platform/TreeRemoval.h"
#include "platform/UserFolders.h"

namespace velk {

namespace {

constexpr VError kRestoreFailed = MakeVError(kVELK_SIGNATURE, 655);

}  // namespace

void TakeRemovalStop(const plat::RemovalFailure& failure, XMacRemovalStop* stop)
{
	if (stop == nullptr || failure.error == 0)
		return;
	stop->fPath = failure.path;
	stop->fAtFolder = failure.atFolder;
	stop->fAtMount = failure.atMount;
}

VError XMacFolder::Create() const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return MakePosixError(::mkdir(path.c_str(), 0755) == 0 ? 0 : errno);
}

VError XMacFolder::Delete() const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return MakePosixError(::rmdir(path.c_str()) == 0 ? 0 : errno);
}

VError XMacFolder::MoveToTrash() const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return MakePosixError(plat::MoveToTrash(path.c_str()));
}

VError XMacFolder::IsHidden(bool& hidden) const
{
	hidden = false;
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	uint32 attrs = 0;
	const VError result = XMacFile::GetPathAttributes(path.c_str(), true, attrs);
	hidden = (attrs & plat::kPathHidden) != 0;
	return result;
}

VError XMacFolder::Rename(const VString& newName, VFilePath* out) const
{
	VFilePath renamed(_GetFilePath());
	if (!renamed.SetName(newName))
	{
		XMacFile::_SetResultPath(out, VE_INVALID_PARAMETER, renamed);
		return MakeVError(kVELK_SIGNATURE, 614);
	}
	std::string path;
	const VError result = _SystemPath(path) ? XMacFile::RenamePath(path.c_str(), renamed) : VE_STRING_ALLOC_FAILED;
	XMacFile::_SetResultPath(out, result, renamed);
	return result;
}

VError XMacFolder::Move(const VFilePath& dest, const VString* newName, VFilePath* out) const
{
	VString name;
	if (newName != nullptr && !newName->IsEmpty())
		name = *newName;
	else
		_GetFilePath().GetName(name);
	VFilePath target(dest);
	target.ToSubFolder(name);
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	const std::string to = XMacFilePath::ToSystemFolderPath(target);
	const VError result = to.empty() || !target.IsFolder() ? MakePosixError(EINVAL) : MakePosixError(XMacFile::_RunCopyOrMove([&]() { return plat::MovePath(path.c_str(), to.c_str(), false); }));
	XMacFile::_SetResultPath(out, result, target);
	return result;
}

VError XMacFolder::CopyToNonExistingFolder(const VFilePath& dest, const VString& name) const
{
	VFilePath target(dest);
	target.ToSubFolder(name);
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	const std::string to = XMacFilePath::ToSystemFolderPath(target);
	if (to.empty() || !target.IsFolder() || name.IsEmpty())
		return MakePosixError(EINVAL);
	return MakePosixError(XMacFile::_RunCopyOrMove([&]() { return plat::CopyTree(path.c_str(), to.c_str()); }));
}

VError XMacFolder::CreateBeside(const VFilePath& target, VFilePath* staging)
{
	if (staging != nullptr)
		staging->Clear();
	const std::string to = XMacFilePath::ToSystemFolderPath(target);
	if (to.empty() || !target.IsFolder())
		return MakePosixError(EINVAL);
	std::string made;
	const int error = plat::MakeFolderBeside(to.c_str(), made);
	if (error == 0 && staging != nullptr)
		XMacFile::GetFilePathFromPosixPath(made.c_str(), true, *staging);
	return MakePosixError(error);
}

VError XMacFolder::PutInPlace(const VFilePath& staging, const VFilePath& target, VFilePath* old)
{
	if (old != nullptr)
		old->Clear();
	const std::string from = XMacFilePath::ToSystemFolderPath(staging);
	const std::string to = XMacFilePath::ToSystemFolderPath(target);
	if (from.empty() || to.empty())
		return MakePosixError(EINVAL);
	std::string aside;
	const int error = plat::PutInPlace(from.c_str(), to.c_str(), aside);
	if (error == 0 && old != nullptr)
		XMacFile::GetFilePathFromPosixPath(aside.c_str(), true, *old);
	return MakePosixError(error);
}

bool XMacFolder::IsSameOrInside(const VFilePath& folder) const
{
	std::string path;
	const std::string other = XMacFilePath::ToSystemFolderPath(folder);
	return _SystemPath(path) && !other.empty() && plat::IsSameOrInsideFolder(path.c_str(), other.c_str());
}

VError XMacFolder::GetOwner(uint32& uid, uint32& gid) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return XMacFile::_GetOwnerAt(path.c_str(), uid, gid);
}

VError XMacFolder::GetPermissions(uint16* mode) const
{
	*mode = 0;
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return XMacFile::_GetPermissionsAt(path.c_str(), true, mode);
}

VError XMacFolder::SetPermissions(uint16 mode) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return MakePosixError(::chmod(path.c_str(), mode & 0777) == 0 ? 0 : errno);
}

VError XMacFolder::MakeWritableByAll() const
{
	return SetPermissions(0777);
}

bool XMacFolder::IsWritableByAll() const
{
	// Writable by all means by the others too: an owner-writable folder is not.
	std::string path;
	struct stat status;
	return _SystemPath(path) && ::stat(path.c_str(), &status) == 0 && (status.st_mode & 0002) != 0;
}

bool XMacFolder::IsTraversable() const
{
	std::string path;
	uint32 perm = 0;
	return _SystemPath(path) && XMacFile::GetEffectivePermission(path.c_str(), perm) == VE_OK && (perm & 1) != 0;
}

VError XMacFolder::GetFolderAttributes(uint32& attrs) const
{
	attrs = 0;
	std::string path;
	return _SystemPath(path) ? XMacFile::GetPathAttributes(path.c_str(), true, attrs) : VE_STRING_ALLOC_FAILED;
}

VError XMacFolder::SetFolderAttributes(uint32 attrs) const
{
	std::string path;
	return _SystemPath(path) ? XMacFile::SetPathAttributes(path.c_str(), true, attrs) : VE_STRING_ALLOC_FAILED;
}

bool XMacFolder::IsPackage() const
{
	std::string path;
	return _SystemPath(path) && plat::IsPackage(path.c_str());
}

VError XMacFolder::GetVolumeFreeSpace(int64* free, bool withQuotas) const
{
	std::string path;
	return _SystemPath(path) ? XMacFile::GetVolumeFreeSpace(path.c_str(), free, nullptr, withQuotas) : VE_STRING_ALLOC_FAILED;
}

VError XMacFolder::GetVolumeCapacity(int64* total) const
{
	std::string path;
	return _SystemPath(path) ? XMacFile::GetVolumeFreeSpace(path.c_str(), nullptr, total, false) : VE_STRING_ALLOC_FAILED;
}

VError XMacFolder::DeleteTree(bool contentsOnly, bool recursive, const std::function<void()>& betweenFolders, XMacRemovalStop& stop) const
{
	stop = XMacRemovalStop();
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	plat::RemovalOptions options;
	options.contentsOnly = contentsOnly;
	options.recursive = recursive;
	options.betweenFolders = betweenFolders;
	plat::RemovalFailure failure;
	const VError result = MakePosixError(plat::RemoveTree(path.c_str(), options, &failure));
	TakeRemovalStop(failure, &stop);
	return result;
}

void XMacFolder::FindMountInside(const VFilePath& folder, VFilePath& mount)
{
	mount.Clear();
	const std::string path = XMacFilePath::ToSystemFolderPath(folder);
	const int descriptor = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (descriptor < 0)
		return;
	std::string mountPoint;
	if (plat::FindMountInside(descriptor, path, false, mountPoint) != 0 && !mountPoint.empty())
		XMacFile::GetFilePathFromPosixPath(mountPoint.c_str(), true, mount);
	::close(descriptor);
}

VError XMacFolder::DeleteForced(XMacRemovalStop* stop) const
{
	if (stop != nullptr)
		*stop = XMacRemovalStop();
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	int restoreError = 0;
	plat::RemovalFailure failure;
	const VError result = MakePosixError(plat::DeleteForced(path.c_str(), &restoreError, &failure));
	TakeRemovalStop(failure, stop);
	if (restoreError != 0)
	{
		VString posixPath;
		GetPosixPath(posixPath);
		VFileError::Throw(posixPath, MakePosixError(restoreError), kRestoreFailed);
	}
	return result;
}

VError XMacFolder::RevealInFinder() const
{
	std::string path;
	if (_SystemPath(path))
		XMacFile::_RevealFolder(path);
	return VE_OK;
}

VError XMacFolder::RetainSystemFolder(int32 kind, bool create, VFilePath* out)
{
	std::string path;
	const int error = plat::GetSystemFolder(kind, create, path);
	if (error != 0 || path.empty())
	{
		if (out != nullptr)
			out->Clear();
		return MakePosixError(error);
	}
	if (out != nullptr)
		XMacFile::GetFilePathFromPosixPath(path.c_str(), true, *out);
	return VE_OK;
}

}  // namespace velk
