// The growable memory stream.
#include "kernel/values/VPtrStream.h"

#include <cstring>

namespace velk {

VPtrStream::VPtrStream() : fBuffer(VObject::sCppMemMgr)
{
}

VError VPtrStream::DoPutData(const void* data, size_t count)
{
	const uint64 pos = uint64(GetPos());
	const uint64 size = fBuffer.GetDataSize();
	if (count > UINT64_MAX - pos)
		return VE_MEMORY_FULL;
	const uint64 end = pos + count;
	if (end > fBuffer.GetAllocatedSize() && !fBuffer._EnlargeAmortized(end))
		return VE_MEMORY_FULL;
	uint8* bytes = fBuffer.GetDataPtr();
	if (pos > size)
		std::memset(bytes + size, 0, size_t(pos - size));
	if (count > 0)
		std::memcpy(bytes + pos, data, count);
	if (end > size)
		fBuffer.SetDataSize(end);
	return VE_OK;
}

VError VPtrStream::DoGetData(void* buffer, size_t* ioCount)
{
	const uint64 pos = uint64(GetPos());
	const uint64 size = fBuffer.GetDataSize();
	const uint64 left = pos < size ? size - pos : 0;
	const size_t asked = *ioCount;
	if (asked > left)
		*ioCount = size_t(left);
	if (*ioCount > 0)
		std::memcpy(buffer, fBuffer.GetDataPtr() + pos, *ioCount);
	if (*ioCount == asked)
		return VE_OK;
	_ThrowError(VE_STREAM_EOF);
	return VE_STREAM_EOF;
}

VError VPtrStream::DoSetSize(int64 size)
{
	if (size < 0)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	const uint64 old = fBuffer.GetDataSize();
	if (!fBuffer.SetDataSizeExactly(uint64(size)))
		return VE_MEMORY_FULL;
	if (uint64(size) > old)
		std::memset(fBuffer.GetDataPtr() + old, 0, size_t(uint64(size) - old));
	return VE_OK;
}

VError VPtrStream::DoSetPos(int64 pos)
{
	if (pos < 0)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	return uint64(pos) <= fBuffer.GetDataSize() ? VE_OK : DoSetSize(pos);
}

}  // namespace velk
