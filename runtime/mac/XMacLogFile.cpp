#include "runtime/mac/XMacLogFile.h"

#include "platform/Clock.h"
#include "platform/FileOperations.h"

namespace velk {

int XMacLogFile::Open(const std::string& path, bool truncate, int* descriptor)
{
	return plat::OpenFileForAppending(path.c_str(), truncate, descriptor);
}

int XMacLogFile::OpenEmptyingLeftover(const std::string& path, const Status& leaving, int* descriptor)
{
	// Stamps of changes and births come from one clock, so a file written after the other was made never
	// carries an earlier stamp.
	plat::PathInfo info;
	const bool leftover = leaving.bornKnown && plat::GetPathInfo(path.c_str(), &info) == 0
		&& (info.modifiedSeconds < leaving.bornSeconds
			|| (info.modifiedSeconds == leaving.bornSeconds && info.modifiedNanoseconds < leaving.bornNanoseconds));
	return Open(path, leftover, descriptor);
}

int XMacLogFile::GetStatus(int descriptor, Status* status)
{
	plat::OpenFileStatus found;
	if (const int error = plat::GetOpenFileStatus(descriptor, &found))
		return error;
	status->size = found.size;
	status->removed = found.links == 0;
	status->bornKnown = found.birthKnown;
	status->bornSeconds = found.birthSeconds;
	status->bornNanoseconds = found.birthNanoseconds;
	return 0;
}

int XMacLogFile::Lock(int descriptor)
{
	return plat::LockOpenFile(descriptor);
}

int XMacLogFile::Append(int descriptor, const void* bytes, size_t size)
{
	return plat::AppendToOpenFile(descriptor, bytes, size);
}

void XMacLogFile::Close(int descriptor)
{
	plat::CloseFile(descriptor);
}

uint64_t XMacLogFile::NowMilliseconds()
{
	return plat::GetCoarseMonotonicMilliseconds();
}

}  // namespace velk
