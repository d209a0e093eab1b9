#include "files/mac/XMacFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "files/VFile.h"
#include "files/mac/XMacFileDesc.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"
#include "platform/FileOperations.h"

namespace velk {

namespace {

VError Posix(int errorNumber)
{
	return errorNumber == 0 ? VE_OK : MakeVError(kPOSIX_SIGNATURE, errorNumber);
}

// The path as the system reads it; false when memory is short (velk 107 already raised).
bool ToSystemPath(const VString& posixPath, std::string& systemPath)
{
	systemPath = to_string(posixPath);
	return !systemPath.empty() || posixPath.IsEmpty();
}

void FromUnixTime(int64 seconds, int32 nanoseconds, VTime* time)
{
	if (time == nullptr)
		return;
	static const int64 sUnixEpoch = int64(VTime::ComputeJulianDay(1970, 1, 1)) * VTime::kMS_PER_DAY;
	time->FromMilliseconds(sUnixEpoch + seconds * 1000 + nanoseconds / 1000000);
}

void ClearTime(VTime* time)
{
	if (time != nullptr)
		time->Clear();
}

// Closes a descriptor that failed a step after its open, keeping that step's errno.
int CloseAfterFailure(int descriptor, int error)
{
	::close(descriptor);
	return error;
}

}  // namespace

bool XMacFile::Exists() const
{
	return _ExistsAt(fOwner._GetPosixPath(), false);
}

VError XMacFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	return _GetTimeAttributesAt(fOwner._GetPosixPath(), modified, created, accessed);
}

bool XMacFile::_ExistsAt(const VString& posixPath, bool isFolder)
{
	std::string path;
	plat::PathInfo info;
	return ToSystemPath(posixPath, path) && plat::GetPathInfo(path.c_str(), &info) == 0 && info.isFolder == isFolder;
}

VError XMacFile::_GetTimeAttributesAt(const VString& posixPath, VTime* modified, VTime* created, VTime* accessed)
{
	std::string path;
	plat::PathInfo info;
	VError result = ToSystemPath(posixPath, path) ? Posix(plat::GetPathInfo(path.c_str(), &info)) : VE_STRING_ALLOC_FAILED;
	if (result != VE_OK)
	{
		ClearTime(modified);
		ClearTime(created);
		ClearTime(accessed);
		return result;
	}
	FromUnixTime(info.modifiedSeconds, info.modifiedNanoseconds, modified);
	FromUnixTime(info.accessedSeconds, info.accessedNanoseconds, accessed);
	if (created != nullptr)
		created->SetNull(true);
	return VE_OK;
}

VError XMacFile::GetContent(VMemoryBuffer<>& content) const
{
	std::string path;
	if (!ToSystemPath(fOwner._GetPosixPath(), path))
		return VE_STRING_ALLOC_FAILED;
	int descriptor = -1;
	if (int error = plat::OpenFileForReading(path.c_str(), &descriptor))
		return Posix(error);

	VMemoryBuffer<> read;
	uint64_t expected = 0;
	VError result = Posix(plat::GetOpenFileSize(descriptor, &expected));
	if (result == VE_OK && expected > 0 && !read._EnlargeAmortized(expected))
		result = VE_MEMORY_FULL;
	// Read to the end, whatever the size said: the file may grow meanwhile, and some files have no size.
	char chunk[16384];
	while (result == VE_OK)
	{
		size_t count = 0;
		result = Posix(plat::ReadOpenFile(descriptor, chunk, sizeof(chunk), &count));
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
	if (!ToSystemPath(fOwner._GetPosixPath(), path))
		return VE_STRING_ALLOC_FAILED;
	return Posix(plat::ReplaceFileContent(path.c_str(), bytes, size));
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
		return Posix(error);
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
			flags |= O_RDONLY;
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
	if (!ToSystemPath(fOwner._GetPosixPath(), path))
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
