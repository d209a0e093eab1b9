#include "kernel/values/VStream.h"

#include <algorithm>
#include <cstring>

#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VMemory.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VNumberText.h"
#include "kernel/values/VValue.h"
#include "kernel/values/VValueInfo.h"
#include "runtime/VProgressIndicator.h"

namespace velk {

namespace {

constexpr int32 kStreamTag = FourCharCode("stm ");

// Kept out of line: inlined into a caller with a small fixed variable, the compiler cannot see that count
// is bounded by the caller's buffer and warns about writes past it.
[[gnu::noinline]] void SwapWords(void* data, size_t count, size_t width)
{
	uint8* bytes = static_cast<uint8*>(data);
	for (size_t i = 0; i < count; ++i, bytes += width)
		std::reverse(bytes, bytes + width);
}

}  // namespace

VStream::VStream() = default;

VStream::~VStream()
{
	if (fProgress != nullptr)
		fProgress->Release();
	_ReleaseConverters();
}

VError VStream::DoCloseWriting(bool)
{
	return VE_OK;
}

VError VStream::DoUngetData(const void*, size_t)
{
	return VE_OK;
}

VError VStream::DoSetPos(int64)
{
	return VE_OK;
}

VError VStream::_Fail(VError code)
{
	_ThrowError(code);
	fError = code;
	return code;
}

VError VStream::SetError(VError code)
{
	if (fError == VE_OK && code != VE_OK)
		_Fail(code);
	return fError;
}

int64 VStream::GetRemaining()
{
	const int64 remaining = DoGetSize() - fPosition;
	return remaining > 0 ? remaining : 0;
}

void VStream::SetProgressIndicator(VProgressIndicator* indicator)
{
	if (indicator != nullptr)
		indicator->Retain();
	if (fProgress != nullptr)
		fProgress->Release();
	fProgress = indicator;
}

// ---------------------------------------------------------------------------------------------------------
// State and position

bool VStream::_RetainConverter(bool forReading)
{
	VTextConverters* registry = VTextConverters::Get();
	if (forReading)
	{
		if (fToUnicode == nullptr)
			fToUnicode = registry->RetainToUnicodeConverter(fCharSet);
		return fToUnicode->IsValid();
	}
	if (fFromUnicode == nullptr)
		fFromUnicode = registry->RetainFromUnicodeConverter(fCharSet);
	return fFromUnicode->IsValid();
}

void VStream::_ReleaseConverters()
{
	if (fToUnicode != nullptr)
		fToUnicode->Release();
	if (fFromUnicode != nullptr)
		fFromUnicode->Release();
	fToUnicode = nullptr;
	fFromUnicode = nullptr;
}

VError VStream::OpenReading()
{
	VError code = VE_OK;
	if (fIsReading || fIsWriting)
		code = VE_STREAM_ALREADY_OPENED;
	else if (fIsWriteOnly)
		code = VE_STREAM_NOT_OPENED_FOR_READING;
	else if (!_RetainConverter(true))
		code = VE_STREAM_NO_TEXT_CONVERTER;
	if (code != VE_OK)
	{
		_ThrowError(code);
		return code;
	}
	fPosition = 0;
	fError = DoOpenReading();
	if (fError != VE_OK)
		return fError;
	fIsReading = true;
	if (fProgress != nullptr)
		fProgress->BeginSession(DoGetSize(), VString("Reading From Stream"));
	return fError;
}

VError VStream::OpenReading(uint32 signature)
{
	if (OpenReading() != VE_OK || fError != VE_OK)
		return fError;
	uint32 word = 0;
	GetLong(word);
	// Data shorter than the word holds no signature: a mismatch like any other, whose rewind clears the
	// end of data.
	const bool shortData = fError == VE_STREAM_EOF;
	if (fError != VE_OK && !shortData)
		return fError;
	if (!shortData && word == signature)
		return fError;
	if (!shortData && word == __builtin_bswap32(signature))
	{
		fNeedSwap = true;
		return fError;
	}
	fError = DoSetPos(0);
	if (fError == VE_OK)
		fPosition = 0;
	_ThrowError(VE_STREAM_BAD_SIGNATURE);
	return VE_STREAM_BAD_SIGNATURE;
}

VError VStream::CloseReading()
{
	if (!fIsReading)
	{
		_ThrowError(VE_STREAM_NOT_OPENED_FOR_READING);
		return VE_STREAM_NOT_OPENED_FOR_READING;
	}
	return _CloseReadingAlways();
}

VError VStream::_CloseReadingAlways()
{
	DoCloseReading();
	if (fProgress != nullptr)
		fProgress->EndSession();
	fIsReading = false;
	return fError;
}

VError VStream::OpenWriting()
{
	if (fIsReading || fIsWriting || fIsReadOnly)
	{
		const VError code = fIsReadOnly && !fIsReading && !fIsWriting ? VE_STREAM_NOT_OPENED_FOR_WRITING : VE_STREAM_ALREADY_OPENED;
		_ThrowError(code);
		return code;
	}
	if (!_RetainConverter(false))
		return _Fail(VE_STREAM_NO_TEXT_CONVERTER);
	fPosition = 0;
	fError = DoOpenWriting();
	if (fError != VE_OK)
		return fError;
	fIsWriting = true;
	if (fProgress != nullptr)
		fProgress->BeginSession(-1, VString("Writing to Stream"));
	return fError;
}

VError VStream::CloseWriting(bool setSize)
{
	if (!fIsWriting)
	{
		_ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
		return VE_STREAM_NOT_OPENED_FOR_WRITING;
	}
	if (fError == VE_OK)
		fError = DoFlush();
	DoCloseWriting(setSize);
	if (fProgress != nullptr)
		fProgress->EndSession();
	fIsWriting = false;
	return fError;
}

VError VStream::SetPos(int64 pos)
{
	if (fError != VE_OK)
		return fError;
	if (!fIsReading && !fIsWriting)
		return _Fail(VE_STREAM_NOT_OPENED);
	fError = DoSetPos(pos);
	if (fError == VE_OK)
		fPosition = pos;
	return fError;
}

VError VStream::SetPosByOffset(int64 offset)
{
	if (fError != VE_OK)
		return fError;
	if (offset < 0 && -offset > fPosition)
		return _Fail(VE_INVALID_PARAMETER);
	return SetPos(fPosition + offset);
}

VError VStream::SetSize(int64 size)
{
	if (fError != VE_OK)
		return fError;
	if (!fIsWriting)
		return _Fail(VE_STREAM_NOT_OPENED_FOR_WRITING);
	fError = DoSetSize(size);
	if (fError == VE_OK && fPosition > size)
		fPosition = size;
	return fError;
}

VError VStream::Flush()
{
	if (!fIsWriting)
	{
		_ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
		return VE_STREAM_NOT_OPENED_FOR_WRITING;
	}
	fError = DoFlush();
	return fError;
}

VError VStream::SetReadOnly(bool readOnly)
{
	fIsReadOnly = readOnly;
	return VE_OK;
}

VError VStream::SetWriteOnly(bool writeOnly)
{
	fIsWriteOnly = writeOnly;
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// Raw and typed data

// The session's value is absolute: the position reached, so that a session sized by the stream ends full.
bool VStream::_Progress()
{
	if (fProgress == nullptr || fProgress->Progress(fPosition))
		return true;
	if (fError == VE_OK)
		_Fail(VE_STREAM_USER_ABORTED);
	return false;
}

VError VStream::_ReadFrame(void* buffer, size_t* ioCount)
{
	const size_t asked = *ioCount;
	*ioCount = 0;
	if (fError != VE_OK)
		return fError;
	if (!fIsReading)
		return _Fail(VE_STREAM_NOT_OPENED_FOR_READING);
	size_t delivered = asked;
	fError = DoGetData(buffer, &delivered);
	delivered = std::min(delivered, asked);
	fPosition += int64(delivered);
	*ioCount = delivered;
	if (asked > 0)
		_Progress();
	return fError;
}

VError VStream::_WriteFrame(const void* data, size_t count)
{
	if (fError != VE_OK)
		return fError;
	if (!fIsWriting)
		return _Fail(VE_STREAM_NOT_OPENED_FOR_WRITING);
	fError = DoPutData(data, count);
	if (fError == VE_OK)
	{
		fPosition += int64(count);
		if (count > 0)
			_Progress();
	}
	return fError;
}

VError VStream::GetData(void* buffer, size_t count, size_t* outCount)
{
	size_t delivered = count;
	_ReadFrame(buffer, &delivered);
	if (outCount != nullptr)
		*outCount = delivered;
	return fError;
}

VError VStream::GetData(void* buffer, size_t* ioCount)
{
	return _ReadFrame(buffer, ioCount);
}

VError VStream::PutData(const void* data, size_t count)
{
	return _WriteFrame(data, count);
}

VError VStream::UngetData(const void* data, size_t count)
{
	if (fError != VE_OK && !(fError == VE_STREAM_EOF && count > 0))
		return fError;
	if (count == 0)
		return VE_OK;
	if (!fIsReading)
		return _Fail(VE_STREAM_NOT_OPENED_FOR_READING);
	if (fPosition < int64(count))
		return _Fail(VE_STREAM_CANNOT_UNGET_DATA);
	fError = DoUngetData(data, count);
	if (fError != VE_OK)
		return fError;
	fPosition -= int64(count);
	return VE_OK;
}

void VStream::_GetSwapped(void* buffer, size_t* ioCount, size_t width)
{
	_ReadFrame(buffer, ioCount);
	if (fNeedSwap && width > 1)
		SwapWords(buffer, *ioCount / width, width);
}

VError VStream::_GetArray(void* buffer, int32* ioCount, size_t width)
{
	size_t count = *ioCount > 0 ? size_t(*ioCount) * width : 0;
	_GetSwapped(buffer, &count, width);
	*ioCount = int32(count / width);
	return fError;
}

VError VStream::_PutSwapped(const void* data, int32 count, size_t width)
{
	if (count < 0)
		count = 0;
	const size_t bytes = size_t(count) * width;
	if (!fNeedSwap || width < 2 || fError != VE_OK || !fIsWriting)
		return _WriteFrame(data, bytes);
	// The caller's data is never changed: a swapped copy is written.
	uint8 local[16];
	void* copy = bytes <= sizeof(local) ? local : VMemory::NewPtr(bytes, kStreamTag);
	if (copy == nullptr)
		return _Fail(VE_MEMORY_FULL);
	std::memcpy(copy, data, bytes);
	SwapWords(copy, size_t(count), width);
	_WriteFrame(copy, bytes);
	if (copy != local)
		VMemory::DisposePtr(copy);
	return fError;
}

VError VStream::PutHexBytes(const char* bytes, size_t count)
{
	for (size_t i = 0; i < count && fError == VE_OK; ++i)
	{
		const uint8 byte = uint8(bytes[i]);
		Put(uint8(VNumberText::kUpperHexDigits[byte >> 4]));
		Put(uint8(VNumberText::kUpperHexDigits[byte & 0x0F]));
	}
	return fError;
}

VError VStream::PutValue(const VValue& value, bool withKind)
{
	if (withKind)
	{
		// A kind without a descriptor could not be made again on reading.
		const VValueInfo* info = value.GetValueInfo();
		if (info == nullptr)
		{
			_ThrowError(VE_UNIMPLEMENTED);
			return VE_UNIMPLEMENTED;
		}
		PutWord(int16(info->GetKind()));
	}
	return value.WriteToStream(this, 0);
}

VValue* VStream::GetValue()
{
	uint16 kind = 0;
	if (GetWord(kind) != VE_OK)
		return nullptr;
	VValue* value = VValue::NewValueFromValueKind(kind);
	if (value != nullptr)
		value->ReadFromStream(this, 0);
	return value;
}

VError VStream::PutContentInto(VStream* destination)
{
	const VError opened = OpenReading();
	if (opened != VE_OK)
		return opened;
	VError result = SetPos(0);
	const int64 size = DoGetSize();
	uint8 block[4096];
	for (int64 done = 0; result == VE_OK && done < size;)
	{
		size_t count = size_t(std::min<int64>(size - done, int64(sizeof(block))));
		result = _ReadFrame(block, &count);
		if (result == VE_OK)
			result = destination->PutData(block, count);
		done += int64(count);
		if (count == 0)
			break;
	}
	_CloseReadingAlways();
	return result;
}

// ---------------------------------------------------------------------------------------------------------
// Character set

VError VStream::SetCharSet(CharSet charSet)
{
	if (fError != VE_OK)
		return fError;
	_ReleaseConverters();
	fCharSet = charSet;
	if ((fIsReading && !_RetainConverter(true)) || (fIsWriting && !_RetainConverter(false)))
		return _Fail(VE_STREAM_NO_TEXT_CONVERTER);
	return VE_OK;
}

bool VStream::_Convert(const void* bytes, size_t count, size_t* outConsumed, VString& text) const
{
	*outConsumed = 0;
	if (count == 0)
		return true;
	return fToUnicode != nullptr && fToUnicode->ConvertString(bytes, count, outConsumed, text);
}

}  // namespace velk
