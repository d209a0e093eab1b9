#include "files/mac/XMacFileIterator.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/intl/VUTFCodec.h"

namespace velk {

namespace {

// The path the descriptor stands for, as the system resolved it; empty when it cannot say.
std::string DescriptorPath(int descriptor)
{
	char link[64];
	std::snprintf(link, sizeof(link), "/proc/self/fd/%d", descriptor);
	std::string real(PATH_MAX, '\0');
	const ssize_t size = ::readlink(link, real.data(), real.size());
	if (size <= 0 || size_t(size) >= real.size())
		return std::string();
	real.resize(size_t(size));
	return real;
}

bool NameBeginsWithDot(const std::string& path)
{
	const size_t slash = path.find_last_of('/');
	const size_t start = slash == std::string::npos ? 0 : slash + 1;
	return start < path.size() && path[start] == '.';
}

DIR* Stream(void* directory)
{
	return static_cast<DIR*>(directory);
}

unsigned char EntryType(mode_t mode)
{
	switch (mode & S_IFMT)
	{
	case S_IFDIR: return DT_DIR;
	case S_IFREG: return DT_REG;
	case S_IFLNK: return DT_LNK;
	case S_IFIFO: return DT_FIFO;
	case S_IFSOCK: return DT_SOCK;
	case S_IFCHR: return DT_CHR;
	case S_IFBLK: return DT_BLK;
	default: return DT_UNKNOWN;
	}
}

bool IsSpecialEntry(unsigned char type)
{
	return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

}  // namespace

XMacFSObjectIterator_posix::XMacFSObjectIterator_posix(const VFolder& folder, uint32 options)
: fOptions(options), fFileSystem(folder.GetFileSystem())
{
	std::string path;
	if (!XMacFilePath::ToSystemPath(folder._GetPosixPath(), path) || path.empty())
	{
		_Fail(EINVAL);
		return;
	}
	const int descriptor = ::openat(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (descriptor < 0)
	{
		_Fail(errno);
		return;
	}
	struct stat status;
	fBasePath = DescriptorPath(descriptor);
	if (fBasePath.empty() || ::fstat(descriptor, &status) != 0)
	{
		_Fail(fBasePath.empty() ? ENAMETOOLONG : errno);
		::close(descriptor);
		return;
	}
	fIdentity.fDevice = uint64(status.st_dev);
	fIdentity.fInode = uint64(status.st_ino);
	if (fBasePath.back() != '/')
		fBasePath += '/';
	if (!XMacFilePath::PosixFullPathToHFS(fBasePath.c_str(), true, fBaseNative))
	{
		_Fail(EILSEQ);
		::close(descriptor);
		return;
	}

	if (fFileSystem != nullptr)
	{
		fRoot = fFileSystem->GetRoot();
		VString rootPosix;
		fRoot.GetPosixPath(rootPosix);
		std::string rootPath;
		char real[PATH_MAX + 1];
		if (XMacFilePath::ToSystemPath(rootPosix, rootPath) && XMacFile::RealPath(rootPath.c_str(), true, real, sizeof(real)))
		{
			fRootRealPath = real;
			if (!fRootRealPath.empty() && fRootRealPath.back() != '/')
				fRootRealPath += '/';
		}
	}

	fDirectory = ::fdopendir(descriptor);
	if (fDirectory == nullptr)
	{
		_Fail(errno);
		::close(descriptor);
		return;
	}
	fOpened = true;
}

XMacFSObjectIterator_posix::~XMacFSObjectIterator_posix()
{
	if (fDirectory != nullptr)
		::closedir(Stream(fDirectory));
}

void XMacFSObjectIterator_posix::_Fail(int errorNumber)
{
	if (fError == VE_OK)
		fError = MakePosixError(errorNumber);
}

bool XMacFSObjectIterator_posix::GetFolderIdentity(VFolderIdentity& identity) const
{
	identity = fIdentity;
	return fOpened;
}

bool XMacFSObjectIterator_posix::GetNextPath(VFilePath& path, std::string& posixPath)
{
	if (fDirectory == nullptr)
		return false;
	for (;;)
	{
		errno = 0;
		const struct dirent* entry = ::readdir(Stream(fDirectory));
		if (entry == nullptr)
		{
			// The end, or a folder that could not be read further: what follows is not there either.
			if (errno != 0)
				_Fail(errno);
			::closedir(Stream(fDirectory));
			fDirectory = nullptr;
			return false;
		}
		const char* name = entry->d_name;
		if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
			continue;
		fName.assign(name);
		if (!_Accept(entry->d_type) || !_MakePath(path))
			continue;
		posixPath = fCurrentPath;
		if (fCurrentIsFolder && posixPath.back() != '/')
			posixPath += '/';
		return true;
	}
}

bool XMacFSObjectIterator_posix::_Accept(unsigned char type)
{
	const bool keepHidden = (fOptions & 8) != 0;
	const bool keepSpecial = (fOptions & kIterateSpecialEntries) != 0;
	if (!keepHidden && fName[0] == '.')
		return false;
	if (type != DT_UNKNOWN && type != DT_DIR && type != DT_REG && type != DT_LNK && !(keepSpecial && IsSpecialEntry(type)))
		return false;
	fCurrentPath.assign(fBasePath).append(fName);
	fCurrentResolved = false;
	if (type == DT_UNKNOWN)
	{
		struct stat status;
		if (::fstatat(::dirfd(Stream(fDirectory)), fName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
		{
			// Gone since it was listed: nothing to give, nothing lost.
			if (errno != ENOENT)
				_Fail(errno);
			return false;
		}
		type = EntryType(status.st_mode);
		if (type == DT_UNKNOWN || (IsSpecialEntry(type) && !keepSpecial))
			return false;
	}

	if (type == DT_LNK && (fOptions & 16) != 0)
	{
		// Opening follows every link of the chain; a dangling or looping one fails and is left out.
		const int descriptor = ::openat(::dirfd(Stream(fDirectory)), fName.c_str(), O_PATH | O_CLOEXEC);
		if (descriptor < 0)
			return false;
		struct stat status;
		std::string real = DescriptorPath(descriptor);
		const bool known = ::fstat(descriptor, &status) == 0;
		::close(descriptor);
		if (real.empty() || !known)
			return false;
		fCurrentPath = real;
		fCurrentResolved = true;
		type = EntryType(status.st_mode);
		if (!keepHidden && NameBeginsWithDot(fCurrentPath))
			return false;
	}

	fCurrentIsFolder = type == DT_DIR;
	const bool file = type == DT_REG || type == DT_LNK || (keepSpecial && IsSpecialEntry(type));
	if (type == DT_DIR ? (fOptions & 2) == 0 : !file || (fOptions & 4) == 0)
		return false;
	if (!fRootRealPath.empty())
	{
		// Compared as a folder so that the root itself is inside, and "/root-other" is not.
		const size_t length = fRootRealPath.size();
		const bool inside = fCurrentPath.compare(0, length, fRootRealPath) == 0
			|| (fCurrentPath.size() + 1 == length && fRootRealPath.compare(0, length - 1, fCurrentPath) == 0);
		if (!inside)
			return false;
	}
	return true;
}

bool XMacFSObjectIterator_posix::_MakePath(VFilePath& path)
{
	if (fCurrentResolved)
	{
		VString text;
		if (!XMacFilePath::PosixFullPathToHFS(fCurrentPath.c_str(), true, text))
		{
			_Fail(EILSEQ);
			return false;
		}
		if (fCurrentIsFolder && text.GetUniChar(text.GetLength()) != u':')
			text.AppendUniChar(u':');
		path.FromFullPath(text, FPS_SYSTEM);
	}
	else
	{
		std::u16string units;
		if (!FromStrictUTF8(fName.data(), fName.size(), units))
		{
			_Fail(EILSEQ);
			return false;
		}
		const int32 baseLength = fBaseNative.GetLength();
		const int32 length = baseLength + int32(units.size()) + (fCurrentIsFolder ? 1 : 0);
		VString text;
		UniChar* dest = text.GetCPointerForWrite(length);
		if (dest == nullptr)
		{
			_Fail(ENOMEM);
			return false;
		}
		std::memcpy(dest, fBaseNative.GetCPointer(), sizeof(UniChar) * size_t(baseLength));
		UniChar* out = dest + baseLength;
		// A ':' in a POSIX name stands as '/' in a native one.
		for (const char16_t unit : units)
			*out++ = unit == u':' ? u'/' : unit;
		if (fCurrentIsFolder)
			*out = u':';
		text.Validate(length);
		path.FromFullPath(text, FPS_SYSTEM);
	}
	if (!path.IsValid())
	{
		_Fail(EILSEQ);
		return false;
	}
	if (fFileSystem != nullptr && fRootRealPath.empty() && !path.IsChildOf(fRoot))
		return false;
	return true;
}

VError XMacFSObjectIterator_posix::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	if (fCurrentPath.empty())
		return VE_INVALID_PARAMETER;
	return XMacFile::GetTimeAttributes(fCurrentPath.c_str(), fCurrentIsFolder || fCurrentResolved, modified, created, accessed);
}

XMacFolderIterator_posix* XMacFolderIterator_posix::Create(const VFolder& folder, uint32 options)
{
	return new (std::nothrow) XMacFolderIterator_posix(folder, options & ~uint32(4));
}

XMacFolderIterator_posix::XMacFolderIterator_posix(const VFolder& folder, uint32 options)
: XMacFSObjectIterator_posix(folder, options)
{
}

VFolder* XMacFolderIterator_posix::Next()
{
	VFilePath path;
	std::string posixPath;
	if (!GetNextPath(path, posixPath))
		return nullptr;
	VFolder* object = new (std::nothrow) VFolder(posixPath.c_str(), path, GetFileSystem());
	if (object == nullptr)
		_Fail(ENOMEM);
	return object;
}

IMacFileIterator* IMacFileIterator::Create(const VFolder& folder, uint32 options)
{
	// Every volume is read through its directory calls here: there is no other kind.
	return new (std::nothrow) XMacFileIterator_posix(folder, options & ~uint32(2));
}

XMacFileIterator_posix::XMacFileIterator_posix(const VFolder& folder, uint32 options)
: XMacFSObjectIterator_posix(folder, options)
{
}

VFile* XMacFileIterator_posix::Next()
{
	VFilePath path;
	std::string posixPath;
	if (!GetNextPath(path, posixPath))
		return nullptr;
	VFile* object = new (std::nothrow) VFile(posixPath.c_str(), path, GetFileSystem());
	if (object == nullptr)
		_Fail(ENOMEM);
	return object;
}

}  // namespace velk
