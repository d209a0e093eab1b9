#include "files/mac/XMacFile.h"

#include <cerrno>
#include <string>

#include "files/VFile.h"
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

}  // namespace velk
