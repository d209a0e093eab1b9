#include "files/mac/XMacFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFileDesc.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/strings/VString.h"
#include "platform/FileOperations.h"

namespace velk {

namespace {

// Closes a descriptor that failed a step after its open, keeping that step's errno.
int CloseAfterFailure(int descriptor, int error)
{
	::close(descriptor);
	return error;
}

}  // namespace

XMacFile::XMacFile(const char* posixPath) : fPosixPath(posixPath != nullptr ? posixPath : "")
{
}

XMacFile::XMacFile(const VFilePath& path)
{
	VString posixPath;
	path.GetPosixPath(posixPath);
	fPosixPath = to_string(posixPath);
}

bool XMacFile::_SystemPath(std::string& path) const
{
	if (fOwner == nullptr)
	{
		path = fPosixPath;
		return true;
	}
	return XMacFilePath::ToSystemPath(fOwner->_GetPosixPath(), path);
}

VFilePath XMacFile::_GetFilePath() const
{
	if (fOwner != nullptr)
		return fOwner->GetPath();
	return VFilePath(VString(fPosixPath.c_str()), FPS_POSIX);
}

void XMacFile::GetPosixPath(VString& path) const
{
	if (fOwner != nullptr)
		path = fOwner->_GetPosixPath();
	else
		path = VString(fPosixPath.c_str());
}

bool XMacFile::Exists() const
{
	std::string path;
	struct stat status;
	return _SystemPath(path) && ::lstat(path.c_str(), &status) == 0 && (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode));
}

VError XMacFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return GetTimeAttributes(path.c_str(), false, modified, created, accessed);
}

VError XMacFile::GetContent(VMemoryBuffer<>& content) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	int descriptor = -1;
	if (int error = plat::OpenFileForReading(path.c_str(), &descriptor))
		return MakePosixError(error);

	VMemoryBuffer<> read;
	uint64_t expected = 0;
	VError result = MakePosixError(plat::GetOpenFileSize(descriptor, &expected));
	if (result == VE_OK && expected > 0 && !read._EnlargeAmortized(expected))
		result = VE_MEMORY_FULL;
	// Read to the end, whatever the size said: the file may grow meanwhile, and some files have no size.
	char chunk[16384];
	while (result == VE_OK)
	{
		size_t count = 0;
		result = MakePosixError(plat::ReadOpenFile(descriptor, chunk, sizeof(chunk), &count));
		if (result == VE_OK && !read.AddData(chunk, count))
			result = VE_MEMORY_FULL;
		if (count < sizeof(chunk))
			break;
	}
	plat::CloseFile(descriptor);
	if (result != VE_OK)
		return result;
	content = read;
	return content.GetDataSize() == read.GetDataSize() ? VE_OK : VE_MEMORY_FULL;
}

VError XMacFile::SetContent(const void* bytes, size_t size) const
{
	std::string path;
	if (!_SystemPath(path))
		return VE_STRING_ALLOC_FAILED;
	return MakePosixError(plat::ReplaceFileContent(path.c_str(), bytes, size));
}

VError XMacFile::Open(FileAccess access, uint32 options, XMacFileDesc** out) const
{
	*out = nullptr;
	int descriptor = -1;
	int error = 0;
	if (access == FA_READ_WRITE_OR_READ)
	{
		error = _Open(FA_READ_WRITE, options, &descriptor);
		if (error != 0)
			error = _Open(FA_READ, options, &descriptor);
	}
	else
	{
		error = _Open(access, options, &descriptor);
	}
	if (error != 0)
		return MakePosixError(error);
	*out = new (std::nothrow) XMacFileDesc(descriptor);
	if (*out == nullptr)
	{
		::close(descriptor);
		return VE_MEMORY_FULL;
	}
	return VE_OK;
}

int XMacFile::_Open(FileAccess access, uint32 options, int* descriptor) const
{
	*descriptor = -1;
	int flags = O_CLOEXEC;
	int lock = 0;
	switch (access)
	{
		case FA_READ:
			// A pipe or a device named as the file must never hold the reader in its open.
			flags |= O_RDONLY | O_NONBLOCK;
			break;
		case FA_READ_WRITE:
			flags |= O_RDWR | O_NONBLOCK;
			lock = LOCK_EX;
			break;
		case FA_SHARED:
			flags |= O_RDWR | O_NONBLOCK;
			lock = LOCK_SH;
			break;
		default:
			return EINVAL;
	}
	if ((options & FO_RESOURCE_FORK) != 0)
		return ENOTSUP;
	if ((options & FO_FOLLOW_LINK) == 0)
		flags |= O_NOFOLLOW;
	mode_t mode = 0;
	if ((options & FO_CREATE_IF_NOT_FOUND) != 0)
	{
		flags |= O_CREAT;
		mode = 0644;
	}

	std::string path;
	if (!_SystemPath(path))
		return ENOMEM;
	int opened = ::open(path.c_str(), flags, mode);
	while (opened < 0 && errno == EINTR)
		opened = ::open(path.c_str(), flags, mode);
	if (opened < 0)
		return errno;

	// Lock before truncating: emptying the file first would destroy the content of whoever holds it.
	if (lock != 0 && ::flock(opened, lock | LOCK_NB) != 0)
		return CloseAfterFailure(opened, errno == EWOULDBLOCK ? EACCES : errno);
	if (lock != 0 && (options & FO_TRUNCATE) != 0 && ::ftruncate(opened, 0) != 0)
		return CloseAfterFailure(opened, errno);

	// Hints only: a file that takes none (a pipe) opens all the same.
	if ((options & FO_READ_AHEAD) != 0)
		::posix_fadvise(opened, 0, 0, POSIX_FADV_SEQUENTIAL);
	if ((options & FO_NO_CACHE) != 0)
		::posix_fadvise(opened, 0, 0, POSIX_FADV_NOREUSE);
	*descriptor = opened;
	return 0;
}

}  // namespace velk
