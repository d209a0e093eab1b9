#include "files/mac/XMacFileDesc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

// At most this much per system call, so that long transfers let other tasks run between calls.
constexpr size_t kMaxChunk = 524288000;

// Moves count bytes through transfer(done, chunk, offset) (a pread or pwrite) from start on; count becomes
// the bytes moved. Stops at a call that moves nothing. Answers 0 or the errno of a failed call.
template <typename Transfer>
int TransferAt(Transfer transfer, size_t& count, int64 start)
{
	size_t done = 0;
	while (done < count)
	{
		const size_t chunk = std::min(count - done, kMaxChunk);
		const ssize_t moved = transfer(done, chunk, start + int64(done));
		if (moved < 0)
		{
			const int error = errno;
			if (error != EINTR)
			{
				count = done;
				return error;
			}
			VTaskMgr::YieldNow();
			done = 0;
			continue;
		}
		if (moved == 0)
			break;
		done += size_t(moved);
		if (done < count)
			VTaskMgr::YieldNow();
	}
	count = done;
	return 0;
}

}  // namespace

XMacFileDesc::~XMacFileDesc()
{
	// Not retried on EINTR: Linux has released the descriptor by then, and its number may be reused.
	if (fDescriptor >= 0)
		::close(fDescriptor);
}

VError XMacFileDesc::GetSize(int64* size) const
{
	struct stat info;
	if (::fstat(fDescriptor, &info) != 0)
	{
		const int error = errno;
		*size = 0;
		return MakePosixError(error);
	}
	*size = int64(info.st_size);
	return VE_OK;
}

VError XMacFileDesc::SetSize(int64 size) const
{
	return ::ftruncate(fDescriptor, off_t(size)) == 0 ? VE_OK : MakePosixError(errno);
}

VError XMacFileDesc::GetData(void* buffer, size_t& count, int64 offset, bool absolute) const
{
	int64 start = offset;
	if (!absolute && __builtin_add_overflow(fPosition, offset, &start))
	{
		count = 0;
		return MakePosixError(EINVAL);
	}
	const size_t asked = count;
	const int error = TransferAt(
		[this, buffer](size_t done, size_t chunk, int64 at)
		{ return ::pread(fDescriptor, static_cast<char*>(buffer) + done, chunk, off_t(at)); },
		count, start);
	if (!absolute)
		fPosition += int64(count);
	if (error != 0)
		return MakePosixError(error);
	return count < asked ? VE_STREAM_EOF : VE_OK;
}

VError XMacFileDesc::PutData(const void* buffer, size_t& count, int64 offset, bool absolute) const
{
	int64 start = offset;
	if (!absolute && __builtin_add_overflow(fPosition, offset, &start))
	{
		count = 0;
		return MakePosixError(EINVAL);
	}
	const size_t asked = count;
	const int error = TransferAt(
		[this, buffer](size_t done, size_t chunk, int64 at)
		{ return ::pwrite(fDescriptor, static_cast<const char*>(buffer) + done, chunk, off_t(at)); },
		count, start);
	if (!absolute)
		fPosition += int64(count);
	if (error != 0)
		return MakePosixError(error);
	return count < asked ? MakePosixError(EINVAL) : VE_OK;
}

VError XMacFileDesc::GetPos(int64* position) const
{
	*position = fPosition;
	return VE_OK;
}

VError XMacFileDesc::SetPos(int64 offset, bool absolute) const
{
	int64 position = offset;
	if (!absolute && __builtin_add_overflow(fPosition, offset, &position))
		return MakePosixError(EINVAL);
	fPosition = position;
	return VE_OK;
}

VError XMacFileDesc::Flush() const
{
	return ::fsync(fDescriptor) == 0 ? VE_OK : MakePosixError(errno);
}

}  // namespace velk
