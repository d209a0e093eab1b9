// Appending to a string: units, char text, bytes in a character set, numbers, four-character codes and
// values; and replacing its content with units or with bytes in a character set.
#include "kernel/strings/VString.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "kernel/intl/VTextConverters.h"
#include "kernel/values/VNumberText.h"
#include "runtime/VError.h"

namespace velk {

namespace {

void RaiseAllocFailed()
{
	_ThrowError(VE_STRING_ALLOC_FAILED);
}

constexpr CharSet kSET_UTF16_NATIVE = 2;

}  // namespace


void VString::_AppendUnits(const UniChar* units, int32 count)
{
	if (units == nullptr || count <= 0)
	{
		_SetNotNullDirty();
		return;
	}
	const int64 newLength = int64(fLength) + count;
	if (newLength > INT32_MAX)
	{
		RaiseAllocFailed();
		return;
	}
	// Units from this string's own buffer must be found again once the buffer has moved (counted in bytes:
	// a block appended as UTF-16 need not be aligned).
	const char* const from = reinterpret_cast<const char*>(units);
	const bool own = from >= reinterpret_cast<const char*>(fString) && from <= reinterpret_cast<const char*>(fString + fMaxLength);
	const ptrdiff_t offset = from - reinterpret_cast<const char*>(fString);
	if (!_PrepareWrite(int32(newLength)))
		return;
	if (own)
		units = reinterpret_cast<const UniChar*>(reinterpret_cast<const char*>(fString) + offset);
	std::memmove(fString + fLength, units, size_t(count) * sizeof(UniChar));
	fLength = int32(newLength);
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::_AppendASCII(const char* bytes, int32 count)
{
	const int64 newLength = int64(fLength) + count;
	if (newLength > INT32_MAX)
	{
		RaiseAllocFailed();
		return;
	}
	// Bytes in this string would be freed by a move of its buffer, or overtaken by the wider units written.
	const StStringSource source(*this, bytes, size_t(count));
	if (!source.IsValid())
	{
		RaiseAllocFailed();
		return;
	}
	bytes = static_cast<const char*>(source.Get());
	if (!_PrepareWrite(int32(newLength)))
		return;
	UniChar* dest = fString + fLength;
	for (int32 i = 0; i < count; ++i)
		dest[i] = uint8(bytes[i]);
	fLength = int32(newLength);
	fString[fLength] = 0;
	_SetNotNullDirty();
}

VString& VString::AppendUniChar(UniChar unit)
{
	if (fLength < fMaxLength && !_IsShared())
	{
		fString[fLength++] = unit;
		fString[fLength] = 0;
		_SetNotNullDirty();
		return *this;
	}
	_AppendUnits(&unit, 1);
	return *this;
}

VString& VString::AppendUniChars(const UniChar* units, int32 count)
{
	_AppendUnits(units, count);
	return *this;
}

VString& VString::AppendUniCString(const UniChar* text)
{
	_AppendUnits(text, UniCStringLength(text));
	return *this;
}

VString& VString::AppendCString(const char* text)
{
	if (text == nullptr)
	{
		_SetNotNullDirty();
		return *this;
	}
	const size_t bytes = std::strlen(text);
	const uint8* p = reinterpret_cast<const uint8*>(text);
	size_t i = 0;
	while (i < bytes && p[i] < 0x80)
		++i;
	if (i < bytes)
	{
		VTextConverters::Get()->GetStdLibToUnicodeConverter()->ConvertString(text, bytes, nullptr, *this);
		_SetNotNullDirty();
		return *this;
	}
	if (bytes > size_t(INT32_MAX))
	{
		RaiseAllocFailed();
		return *this;
	}
	_AppendASCII(text, int32(bytes));
	return *this;
}

VString& VString::AppendBlock(const void* bytes, size_t byteCount, CharSet charSet)
{
	if (bytes == nullptr || byteCount == 0)
	{
		_SetNotNullDirty();
		return *this;
	}
	if (charSet == kSET_UTF16_NATIVE)
	{
		if (byteCount / 2 > size_t(INT32_MAX))
		{
			RaiseAllocFailed();
			return *this;
		}
		_AppendUnits(static_cast<const UniChar*>(bytes), int32(byteCount / 2));
		return *this;
	}
	VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
	converter->ConvertString(bytes, byteCount, nullptr, *this);
	converter->Release();
	_SetNotNullDirty();
	return *this;
}

namespace {

// Room for any decimal integer and any "%.14G" real.
constexpr size_t kNUMBER_ROOM = 64;

}  // namespace

VString& VString::AppendLong(int32 value)
{
	return AppendLong8(value);
}

VString& VString::AppendLong8(int64 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_AppendASCII(text, int32(r.ptr - text));
	return *this;
}

VString& VString::AppendULong8(uint64 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_AppendASCII(text, int32(r.ptr - text));
	return *this;
}

VString& VString::AppendReal(double value)
{
	// The "C" locale's "%.14G", independent of the process locale.
	char text[32];
	_AppendASCII(text, VNumberText::FormatReal(value, text));
	return *this;
}

int32 VString::_OsTypeText(uint32 code, char (&text)[4])
{
	// Only printable ASCII characters of the code are kept.
	int32 length = 0;
	for (int shift = 24; shift >= 0; shift -= 8)
	{
		const uint8 byte = uint8(code >> shift);
		if (byte >= 0x20 && byte <= 0x7E)
			text[length++] = char(byte);
	}
	return length;
}

VString& VString::AppendOsType(uint32 code)
{
	char text[4];
	const int32 length = _OsTypeText(code, text);
	_AppendASCII(text, length);
	return *this;
}

VString& VString::AppendValue(const VValueSingle& value)
{
	VString text;
	value.GetString(text);
	_AppendUnits(text.fString, text.fLength);
	return *this;
}

// ---------------------------------------------------------------------------------------------------------
// Replacing the content

void VString::FromUniString(const UniChar* units, int32 count)
{
	_InitFromUniChars(units, count);
	_SetNotNullDirty();
}

size_t VString::FromBlock(const void* bytes, size_t byteCount, CharSet charSet)
{
	if (bytes == nullptr || byteCount == 0)
	{
		_InitFromUniChars(nullptr, 0);
		_SetNotNullDirty();
		return 0;
	}
	// Bytes in this string would be freed or written over before they are read: they are read from a copy.
	const StStringSource source(*this, bytes, byteCount);
	if (!source.IsValid())
	{
		RaiseAllocFailed();
		return 0;
	}
	bytes = source.Get();
	if (charSet == kSET_UTF16_NATIVE)
	{
		const size_t units = byteCount / 2;
		if (units > size_t(INT32_MAX))
		{
			RaiseAllocFailed();
			return 0;
		}
		if (units == 0)
		{
			_InitFromUniChars(nullptr, 0);
		}
		else
		{
			if (!_PrepareReplace(int32(units)))
				return 0;
			std::memmove(fString, bytes, units * sizeof(UniChar));
			fLength = int32(units);
			fString[fLength] = 0;
		}
		_SetNotNullDirty();
		return byteCount;
	}
	_Clear();
	size_t consumed = 0;
	VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
	converter->ConvertString(bytes, byteCount, &consumed, *this);
	converter->Release();
	_SetNotNullDirty();
	return consumed;
}

}  // namespace velk
