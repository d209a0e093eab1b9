// The read-only memory stream.
#include "kernel/values/VConstPtrStream.h"

#include <cstring>

namespace velk {

namespace {

VError Report(VError error)
{
	_ThrowError(error);
	return error;
}

}  // namespace

VConstPtrStream::VConstPtrStream(const void* data, int64 size)
	: fData(static_cast<const uint8*>(data)), fSize(data != nullptr && size > 0 ? size : 0)
{
}

VError VConstPtrStream::DoOpenWriting()
{
	return Report(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoPutData(const void*, size_t)
{
	return Report(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoSetSize(int64)
{
	return Report(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoGetData(void* buffer, size_t* ioCount)
{
	const int64 pos = GetPos();
	const uint64 left = pos < fSize ? uint64(fSize - pos) : 0;
	VError error = VE_OK;
	if (*ioCount > left)
	{
		error = Report(VE_STREAM_EOF);
		*ioCount = size_t(left);
	}
	if (*ioCount > 0)
		std::memcpy(buffer, fData + pos, *ioCount);
	return error;
}

VError VConstPtrStream::DoSetPos(int64 pos)
{
	if (pos < 0)
		return Report(VE_INVALID_PARAMETER);
	return pos > fSize ? Report(VE_STREAM_EOF) : VE_OK;
}

}  // namespace velk
