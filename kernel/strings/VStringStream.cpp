// The string's stream form: minus the length then the units, and the older form (length, character set,
// units with their terminator) that is still read.
#include "kernel/strings/VString.h"

#include <cstdint>

#include "kernel/values/VStream.h"

namespace velk {

namespace {

// A length whose units cannot lie in the stream comes from corrupt data; refusing it keeps a few bad
// bytes from asking for gigabytes.
bool FitsInStream(VStream* stream, int64 bytes)
{
	return bytes <= stream->GetSize();
}

}  // namespace

VError VString::WriteToStream(VStream* stream, int32) const
{
	const int32 length = IsNull() ? 0 : fLength;
	stream->PutLong(-length);
	if (length > 0)
		stream->PutWords(reinterpret_cast<const int16*>(fString), length);
	return stream->GetLastError();
}

uint64 VString::GetSizeInStream() const
{
	return fLength == 0 ? 4 : uint64(fLength) * 2 + 10;
}

VError VString::ReadFromStream(VStream* stream, int32)
{
	int32 first = 0;
	if (stream->GetLong(first) != VE_OK)
		return stream->GetLastError();
	if (first == 0)
	{
		Clear();
		return stream->GetLastError();
	}
	if (first == INT32_MIN)
		return stream->SetError(VE_STREAM_EOF);

	if (first < 0)
	{
		const int32 count = -first;
		if (!FitsInStream(stream, int64(count) * 2))
			return stream->SetError(VE_STREAM_EOF);
		if (!_PrepareReplace(count))
		{
			Clear();
			stream->SetPosByOffset(int64(count) * 2);
			return VE_STRING_ALLOC_FAILED;
		}
		int32 read = count;
		stream->GetWords(reinterpret_cast<int16*>(fString), &read);
		fLength = read;
		fString[read] = 0;
		_SetNotNullDirty();
		return stream->GetLastError();
	}

	// The older form: the length, a character set, then the text with its terminator.
	int32 charSet = 0;
	if (stream->GetLong(charSet) != VE_OK)
		return stream->GetLastError();
	const int64 length = first;
	if (charSet != 1 && charSet != 2)
	{
		if (!FitsInStream(stream, length + 1))
			return stream->SetError(VE_STREAM_EOF);
		return stream->SetPosByOffset(length + 1);
	}
	const int64 units = length + 1;
	if (!FitsInStream(stream, units * 2))
		return stream->SetError(VE_STREAM_EOF);
	if (units > INT32_MAX || !_PrepareReplace(int32(units)))
	{
		stream->SetPosByOffset(units * 2);
		return VE_STRING_ALLOC_FAILED;
	}
	int32 read = int32(units);
	stream->GetWords(reinterpret_cast<int16*>(fString), &read);
	fLength = read < first ? read : first;
	fString[fLength] = 0;
	_SetNotNullDirty();
	return stream->GetLastError();
}

}  // namespace velk
