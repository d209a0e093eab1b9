#include "files/mac/XMacOpenFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"
#include "platform/FolderWalk.h"
#include "platform/TreeCopy.h"
#include "platform/TreeRemoval.h"

namespace velk {

XMacOpenFolder::~XMacOpenFolder()
{
	if (fDescriptor >= 0)
		::close(fDescriptor);
}

VError XMacOpenFolder::Open(const VFilePath& path)
{
	const std::string text = XMacFilePath::ToSystemPath(path);
	if (text.empty())
		return MakePosixError(EINVAL);
	const int descriptor = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (descriptor < 0)
		return MakePosixError(errno);
	if (fDescriptor >= 0)
		::close(fDescriptor);
	fDescriptor = descriptor;
	return VE_OK;
}

VError XMacOpenFolder::OpenSub(const XMacOpenFolder& parent, const std::string& name, bool follow)
{
	int descriptor = -1;
	int error = 0;
	if (follow)
	{
		descriptor = ::openat(parent.fDescriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		error = descriptor < 0 ? errno : 0;
	}
	else
		error = plat::OpenSubFolder(parent.fDescriptor, name.c_str(), false, descriptor);
	if (error != 0)
		return MakePosixError(error);
	if (fDescriptor >= 0)
		::close(fDescriptor);
	fDescriptor = descriptor;
	return VE_OK;
}

VError XMacOpenFolder::MakeSub(const XMacOpenFolder& parent, const std::string& name)
{
	if (::mkdirat(parent.fDescriptor, name.c_str(), 0755) != 0)
		return MakePosixError(errno);
	return OpenSub(parent, name, false);
}

VFolderIdentity XMacOpenFolder::GetIdentity() const
{
	VFolderIdentity identity;
	struct stat status;
	if (fDescriptor >= 0 && ::fstat(fDescriptor, &status) == 0)
	{
		identity.fDevice = uint64(status.st_dev);
		identity.fInode = uint64(status.st_ino);
	}
	return identity;
}

VError XMacOpenFolder::List(std::vector<std::string>& folders, std::vector<std::string>& others) const
{
	folders.clear();
	others.clear();
	std::vector<plat::FolderEntry> entries;
	const int error = plat::ListFolder(fDescriptor, entries);
	for (plat::FolderEntry& entry : entries)
	{
		bool isFolder = entry.kind == plat::EntryKind::kFolder;
		if (entry.kind == plat::EntryKind::kUnknown && !HasEntry(entry.name, false, isFolder))
			continue;  // gone since it was listed
		(isFolder ? folders : others).push_back(std::move(entry.name));
	}
	return MakePosixError(error);
}

bool XMacOpenFolder::HasEntry(const std::string& name, bool follow, bool& isFolder) const
{
	struct stat status;
	isFolder = false;
	if (::fstatat(fDescriptor, name.c_str(), &status, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
		return false;
	isFolder = S_ISDIR(status.st_mode);
	return true;
}

VError XMacOpenFolder::CopyEntry(const std::string& name, const std::string& from, const std::string& to, bool replace) const
{
	return MakePosixError(XMacFile::_RunCopyOrMove([&]() { return plat::CopyFileFrom(fDescriptor, name.c_str(), from.c_str(), to.c_str(), replace); }));
}

VError XMacOpenFolder::CopyTree(const std::string& from, const std::string& to) const
{
	return MakePosixError(XMacFile::_RunCopyOrMove([&]() { return plat::CopyTreeFrom(fDescriptor, from.c_str(), to.c_str()); }));
}

VError XMacOpenFolder::CopyTreeBeside(const std::string& from, const std::string& to, std::string& staging) const
{
	return MakePosixError(XMacFile::_RunCopyOrMove([&]() { return plat::CopyTreeBesideFrom(fDescriptor, from.c_str(), to.c_str(), staging); }));
}

VError XMacOpenFolder::RemoveSub(const std::string& name, const std::string& path, XMacRemovalStop& stop) const
{
	stop = XMacRemovalStop();
	plat::RemovalFailure failure;
	const int error = plat::RemoveTreeAt(fDescriptor, name.c_str(), path, plat::RemovalOptions(), &failure);
	TakeRemovalStop(failure, &stop);
	return MakePosixError(error);
}

std::string XMacOpenFolder::PathTo(const std::string& name, const std::string& fallback) const
{
	return plat::PathBelow(fDescriptor, name, fallback);
}

}  // namespace velk
