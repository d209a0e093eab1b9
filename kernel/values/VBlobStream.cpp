// The stream over a blob value.
#include "kernel/values/VBlobStream.h"

#include <cstdint>

#include "kernel/values/VBlob.h"

namespace velk {

namespace {

VError Refuse()
{
	_ThrowError(VE_INVALID_PARAMETER);
	return VE_INVALID_PARAMETER;
}

// Positions the blob's 32-bit offsets can reach.
bool IsOffset(int64 pos)
{
	return pos >= 0 && pos <= INT32_MAX;
}

}  // namespace

VBlobStream::VBlobStream(VBlob* blob) : fBlob(blob), fOwnsBlob(blob == nullptr)
{
	if (fOwnsBlob)
		fBlob = new VBlobWithPtr();
}

VBlobStream::~VBlobStream()
{
	if (fOwnsBlob)
		delete fBlob;
}

VError VBlobStream::DoPutData(const void* data, size_t count)
{
	const int64 pos = GetPos();
	// The written bytes must stay within reach of the offsets as well.
	if (!IsOffset(pos) || count > uint64(INT32_MAX - pos))
		return Refuse();
	return fBlob->PutData(data, count, int(pos));
}

VError VBlobStream::DoGetData(void* buffer, size_t* ioCount)
{
	const int64 pos = GetPos();
	if (!IsOffset(pos))
	{
		*ioCount = 0;
		return Refuse();
	}
	return fBlob->GetData(buffer, *ioCount, int(pos), ioCount);
}

int64 VBlobStream::DoGetSize()
{
	return int64(fBlob->GetSize());
}

VError VBlobStream::DoSetSize(int64 size)
{
	if (size < 0)
		return Refuse();
	return fBlob->SetSize(size_t(size));
}

VError VBlobStream::DoSetPos(int64 pos)
{
	if (!IsOffset(pos))
		return Refuse();
	return uint64(pos) <= fBlob->GetSize() ? VE_OK : fBlob->SetSize(size_t(pos));
}

}  // namespace velk
