#include "runtime/mac/XMacLogFile.h"

#include "platform/FileOperations.h"

namespace velk {

namespace {

// A file stamp is taken from a coarser clock than Now reads: a change made just after a look at Now may
// carry a stamp a little before it.
constexpr time_t kStampSlack = 1;

}  // namespace

int XMacLogFile::Open(const std::string& path, bool truncate, int* descriptor)
{
	return plat::OpenFileForAppending(path.c_str(), truncate, descriptor);
}

int XMacLogFile::OpenEmptyingLeftover(const std::string& path, time_t since, int* descriptor)
{
	plat::PathInfo info;
	const bool another = plat::GetPathInfo(path.c_str(), &info) == 0 && info.modifiedSeconds >= since - kStampSlack;
	return Open(path, !another, descriptor);
}

int XMacLogFile::Append(int descriptor, const void* bytes, size_t size)
{
	return plat::AppendToOpenFile(descriptor, bytes, size);
}

int XMacLogFile::GetSize(int descriptor, uint64_t* size)
{
	return plat::GetOpenFileSize(descriptor, size);
}

void XMacLogFile::Close(int descriptor)
{
	plat::CloseFile(descriptor);
}

time_t XMacLogFile::Now()
{
	return time(nullptr);
}

}  // namespace velk
