// The operations of XMacFile on its own file: create, delete, links, rename, move, copy, trash, owner,
// modes, attributes, free space and type.
#include "files/mac/XMacFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFilePath.h"
#include "files/mac/XMacVolumes.h"
#include "platform/FileTypes.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/TreeCopy.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr VError kNotAnAlias = MakeVError(kVELK_SIGNATURE, 611);
constexpr VError kNameHoldsSeparator = MakeVError(kVELK_SIGNATURE, 614);

int MakeEmptyFile(const std::string& path)
{
	int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
	while (descriptor < 0 && errno == EINTR)
		descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
	if (descriptor < 0)
		return errno;
	::close(descriptor);
	return 0;
}

std::string ParentOf(const std::string& path)
{
	const size_t slash = path.rfind('/');
	return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

VError XMacFile::Create(uint32 options) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	if ((options & kXMacFileReplace) == 0)
		return MakePosixError(MakeEmptyFile(path));
	// Made aside and renamed over: until the new file is in place, the old one stays whole.
	return MakePosixError(_ReplaceFromAside(path, MakeEmptyFile));
}

VError XMacFile::Delete() const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return MakePosixError(::unlink(path.c_str()) == 0 ? 0 : errno);
}

VError XMacFile::MoveToTrash() const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	// Asked first, so that the trash's own failures (a file where its folder should be) are never taken for
	// a missing file; and a folder is no file to trash.
	struct stat status;
	if (::lstat(path.c_str(), &status) != 0)
		return MakePosixError(errno == ENOTDIR ? ENOENT : errno);
	if (S_ISDIR(status.st_mode))
		return MakePosixError(EISDIR);
	const int trashed = plat::MoveToTrash(path.c_str());
	// Gone meanwhile: what was asked is done.
	if (trashed == ENOENT && ::lstat(path.c_str(), &status) != 0 && errno == ENOENT)
		return VE_OK;
	return MakePosixError(trashed == ENOENT ? EIO : trashed);
}

bool XMacFile::IsSymbolicLink() const
{
	std::string path;
	struct stat status;
	return _SystemPath(path) && ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

VError XMacFile::ReadSymbolicLink(VString& text) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	struct stat status;
	if (::lstat(path.c_str(), &status) != 0)
		return MakePosixError(errno);
	// The size lstat gives may be 0 (some file systems) or stale: grow until the text fits.
	std::vector<char> buffer(size_t(status.st_size) * 2 + 10);
	for (;;)
	{
		const ssize_t count = ::readlink(path.c_str(), buffer.data(), buffer.size());
		if (count < 0)
			return MakePosixError(errno);
		if (size_t(count) < buffer.size())
		{
			buffer[size_t(count)] = 0;
			break;
		}
		buffer.resize(buffer.size() * 2);
	}
	text = VString(buffer.data());
	return VE_OK;
}

VError XMacFile::CreateSymbolicLink(const VFilePath& target, bool absolute) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	VString linkText;
	if (!absolute)
	{
		VFilePath base;
		_GetFilePath().GetFolder(base);
		VString relative;
		VString climb;
		while (base.IsValid() && !target.GetRelativePosixPath(base, relative))
		{
			base.ToParent();
			climb.AppendCString("../");
		}
		if (base.IsValid())
		{
			linkText = climb;
			linkText.AppendUniChars(relative.GetCPointer(), relative.GetLength());
		}
	}
	if (linkText.IsEmpty())
		target.GetPosixPath(linkText);
	const std::string text = to_string(linkText);
	if (text.empty())
		return MakePosixError(EINVAL);
	return MakePosixError(_ReplaceFromAside(path, [&text](const std::string& aside) {
		return ::symlink(text.c_str(), aside.c_str()) == 0 ? 0 : errno;
	}));
}

VError XMacFile::CreateAlias(const VFilePath& target, const VFilePath* relativeTo) const
{
	return CreateSymbolicLink(target, relativeTo == nullptr);
}

VError XMacFile::ResolveAlias(VFilePath& target) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	struct stat status;
	if (::lstat(path.c_str(), &status) != 0)
		return MakePosixError(errno);
	if (!S_ISLNK(status.st_mode))
	{
		VString posixPath;
		GetPosixPath(posixPath);
		VTask::PushRetainedError(new VFileError(posixPath, kNotAnAlias));
		return kNotAnAlias;
	}
	char real[PATH_MAX];
	if (::realpath(path.c_str(), real) == nullptr || ::stat(real, &status) != 0)
		return MakePosixError(errno);
	GetFilePathFromPosixPath(real, S_ISDIR(status.st_mode), target);
	return VE_OK;
}

VError XMacFile::GetSize(int64* size) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	struct stat status;
	if (::lstat(path.c_str(), &status) != 0)
		return MakePosixError(errno);
	*size = status.st_size;
	return VE_OK;
}

VError XMacFile::GetResourceForkSize(int64* size) const
{
	*size = 0;
	return VE_OK;
}

VError XMacFile::Rename(const VString& newName, VFilePath* out) const
{
	VFilePath renamed(_GetFilePath());
	if (!renamed.SetName(newName))
	{
		XMacFile::_SetResultPath(out, kNameHoldsSeparator, renamed);
		return renamed.IsValid() ? kNameHoldsSeparator : MakePosixError(EINVAL);
	}
	std::string path;
	const VError result = _SystemPath(path) ? RenamePath(path.c_str(), renamed) : VE_STRING_ALLOC_FAILED;
	XMacFile::_SetResultPath(out, result, renamed);
	return result;
}

VError XMacFile::RenamePath(const char* from, const VFilePath& to)
{
	const std::string target = XMacFilePath::ToSystemPath(to);
	if (target.empty())
		return MakePosixError(EINVAL);
	return MakePosixError(plat::RenameExclusive(from, target.c_str()));
}

void XMacFile::_SetResultPath(VFilePath* out, VError result, const VFilePath& path)
{
	if (out == nullptr)
		return;
	if (result == VE_OK)
		out->FromFilePath(path);
	else
		out->Clear();
}

VFilePath XMacFile::_TargetOf(const VFilePath& dest) const
{
	// A folder destination keeps the file's own name.
	VFilePath target(dest);
	if (target.IsFolder())
	{
		VString name;
		_GetFilePath().GetName(name);
		target.ToSubFile(name);
	}
	return target;
}

VError XMacFile::Move(const VFilePath& dest, VFilePath* out, uint32 options) const
{
	const VFilePath target = _TargetOf(dest);
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	const std::string to = XMacFilePath::ToSystemPath(target);
	const bool replace = (options & kXMacFileReplace) != 0;
	VError result = VE_OK;
	if (to.empty())
		result = MakePosixError(EINVAL);
	else if (ParentOf(path) == ParentOf(to))
		// Within one folder a rename does it all: never over an existing entry unless asked, and then in one step.
		result = MakePosixError(replace ? plat::RenameReplacing(path.c_str(), to.c_str()) : plat::RenameExclusive(path.c_str(), to.c_str()));
	else
		result = MakePosixError(_RunCopyOrMove([&]() { return plat::MovePath(path.c_str(), to.c_str(), replace); }));
	XMacFile::_SetResultPath(out, result, target);
	return result;
}

VError XMacFile::Copy(const VFilePath& dest, VFilePath* out, uint32 options) const
{
	const VFilePath target = _TargetOf(dest);
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	const std::string to = XMacFilePath::ToSystemPath(target);
	const bool replace = (options & kXMacFileReplace) != 0;
	const VError result = to.empty() ? MakePosixError(EINVAL) : MakePosixError(_RunCopyOrMove([&]() { return plat::CopyFile(path.c_str(), to.c_str(), replace); }));
	XMacFile::_SetResultPath(out, result, target);
	return result;
}

VError XMacFile::_GetOwnerAt(const char* path, uint32& uid, uint32& gid)
{
	struct stat status;
	if (::stat(path, &status) != 0)
		return MakePosixError(errno);
	uid = status.st_uid;
	gid = status.st_gid;
	return VE_OK;
}

VError XMacFile::_GetPermissionsAt(const char* path, bool follow, uint16* mode)
{
	*mode = 0;
	struct stat status;
	if ((follow ? ::stat(path, &status) : ::lstat(path, &status)) != 0)
		return MakePosixError(errno);
	*mode = uint16(status.st_mode & 0777);
	return VE_OK;
}

VError XMacFile::GetOwner(uint32& uid, uint32& gid) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return _GetOwnerAt(path.c_str(), uid, gid);
}

VError XMacFile::GetPermissions(uint16* mode) const
{
	*mode = 0;
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return _GetPermissionsAt(path.c_str(), false, mode);
}

VError XMacFile::SetPermissions(uint16 mode) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	struct stat status;
	if (::lstat(path.c_str(), &status) != 0)
		return MakePosixError(errno);
	if (S_ISLNK(status.st_mode))
		return VE_OK;
	return MakePosixError(::chmod(path.c_str(), mode & 0777) == 0 ? 0 : errno);
}

VError XMacFile::MakeWritableByAll() const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	struct stat status;
	if (::lstat(path.c_str(), &status) != 0)
		return MakePosixError(errno);
	if (S_ISLNK(status.st_mode))
		return VE_OK;
	return MakePosixError(::chmod(path.c_str(), (status.st_mode & 07777) | 0666) == 0 ? 0 : errno);
}

bool XMacFile::IsWritableByAll() const
{
	std::string path;
	struct stat status;
	return _SystemPath(path) && ::lstat(path.c_str(), &status) == 0 && (status.st_mode & 0002) != 0;
}

VError XMacFile::GetFileAttributes(uint32& attrs) const
{
	attrs = 0;
	std::string path;
	return _SystemPath(path) ? GetPathAttributes(path.c_str(), false, attrs) : VE_STRING_ALLOC_FAILED;
}

VError XMacFile::SetFileAttributes(uint32 attrs) const
{
	std::string path;
	return _SystemPath(path) ? SetPathAttributes(path.c_str(), false, attrs) : VE_STRING_ALLOC_FAILED;
}

VError XMacFile::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const
{
	std::string path;
	return _SystemPath(path) ? SetTimeAttributes(path.c_str(), modified, created, accessed) : VE_STRING_ALLOC_FAILED;
}

VError XMacFile::Unlock() const
{
	std::string path;
	return _SystemPath(path) ? UnlockPath(path.c_str(), true) : VE_STRING_ALLOC_FAILED;
}

VError XMacFile::GetVolumeFreeSpace(int64* free, int64* total, bool withQuotas) const
{
	std::string path;
	return _SystemPath(path) ? GetVolumeFreeSpace(path.c_str(), free, total, withQuotas) : VE_STRING_ALLOC_FAILED;
}

VError XMacFile::GetUTIString(VString& identifier) const
{
	identifier.Clear();
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	struct stat status;
	if (::stat(path.c_str(), &status) != 0)
		return MakePosixError(errno);
	std::string type;
	if (S_ISDIR(status.st_mode))
		type = "inode/directory";
	else if (!plat::GetFileTypeDatabase().GetIdentifierForFileName(path.substr(path.rfind('/') + 1), type))
		type = "application/octet-stream";
	identifier = VString(type.c_str());
	return VE_OK;
}

VError XMacFile::RevealInFinder() const
{
	std::string path;
	if (_SystemPath(path))
		_RevealFolder(ParentOf(path));
	return VE_OK;
}

VError XMacFile::GetKind(uint32* kind) const
{
	*kind = 0;
	return VE_OK;
}

bool XMacFile::GetVolumeNameFromMountPath(const char* mountPath, char* out, size_t outSize)
{
	return XMacVolumes::fInstance.GetVolumeNameFromMountPath(mountPath, out, outSize);
}

}  // namespace velk
