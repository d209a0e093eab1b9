// The string's conversions to and from numbers, booleans, four-character codes, times, durations and
// bytes in a character set, and the free conversion functions.
#include "kernel/strings/VString.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/StStringConverter.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VNumberText.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VUUID.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

// Where an integer's digits stop: the first unit of the calling task's manager's decimal separator, or
// '.' without a manager (or when the locale gave none).
UniChar DecimalSeparator()
{
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	if (intl == nullptr || intl->GetDecimalSeparator().IsEmpty())
		return u'.';
	return intl->GetDecimalSeparator().GetUniChar(1);
}

// Room for any decimal integer and any "%.14G" real.
constexpr size_t kNUMBER_ROOM = 64;

// An unshared heap buffer of more units than this is traded for a smaller one when a number replaces it.
constexpr int32 kSMALL_BUFFER_UNITS = 32;

inline bool IsCBlank(UniChar c)
{
	return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Characters that may belong to a number strtod reads: digits, letters (hexadecimal digits, exponents,
// "inf", "nan(...)"), point, signs, and the parentheses and underscore of a NaN payload.
inline bool MayBelongToNumber(UniChar c)
{
	return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'.' || c == u'+' || c == u'-' ||
		   c == u'(' || c == u')' || c == u'_';
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Text to value

int64 VString::GetLong8() const
{
	uint64 value = 0;
	bool negative = false;
	if (fLength == 0)
		return 0;
	const UniChar separator = DecimalSeparator();
	for (int32 i = 0; i < fLength; ++i)
	{
		const UniChar c = fString[i];
		if (c >= u'0' && c <= u'9')
			value = value * 10 + uint64(c - u'0');
		else if (c == u'-')
			negative = negative || value == 0;
		else if (c == separator)
			break;
	}
	return negative ? int64(0 - value) : int64(value);
}

int32 VString::GetLong() const
{
	const int64 value = GetLong8();
	return (value >= INT32_MIN && value <= INT32_MAX) ? int32(value) : 0;
}

int16 VString::GetWord() const
{
	const int64 value = GetLong8();
	return (value >= INT16_MIN && value <= INT16_MAX) ? int16(value) : 0;
}

double VString::GetReal() const
{
	return GetRealCheckOverflow(nullptr);
}

double VString::GetRealCheckOverflow(bool* overflow) const
{
	if (overflow != nullptr)
		*overflow = false;

	// Only ASCII can be part of a number or of the blanks before it under the "C" rules, so only the run
	// that strtod would read from the UTF-8 text is converted.
	int32 start = 0;
	while (start < fLength && IsCBlank(fString[start]))
		++start;
	int32 stop = start;
	while (stop < fLength && MayBelongToNumber(fString[stop]))
		++stop;
	if (stop == start)
		return 0.0;
	StStringConverter<char> converter(kCharSet_UTF8, eCRM_NONE);
	const char* const text = converter._ConvertString(fString + start, stop - start, 1);
	if (!converter.IsOK())
		return 0.0;

	// Without the locale object (memory too short to make it) the parse fails quietly like any other.
	double value = 0.0;
	bool range = false;
	const locale_t locale = VNumberText::CLocale();
	if (locale != locale_t(0))
	{
		const int savedErrno = errno;
		errno = 0;
		value = ::strtod_l(text, nullptr, locale);
		range = (errno == ERANGE);
		errno = savedErrno;
	}

	// A result that is merely less precise (a subnormal) is not reported.
	if (overflow != nullptr)
		*overflow = range && (value == 0.0 || std::isinf(value));
	return value;
}

bool VString::GetBoolean() const
{
	static constexpr UniChar kTRUE[] = u"true";
	constexpr int32 kTRUE_LENGTH = 4;
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	if (intl == nullptr)
		return fLength == kTRUE_LENGTH && std::memcmp(fString, kTRUE, kTRUE_LENGTH * sizeof(UniChar)) == 0;
	return intl->EqualString(fString, fLength, kTRUE, kTRUE_LENGTH, false);
}

uint32 VString::GetOsType() const
{
	uint8 bytes[4];
	int32 consumed = 0;
	size_t produced = 0;
	VTextConverters::Get()->ConvertFromVString(*this, &consumed, bytes, sizeof(bytes), &produced, kCharSet_UTF8);
	// The converter may have written past what it produced: the padding goes on top.
	for (size_t i = std::min(produced, sizeof(bytes)); i < sizeof(bytes); ++i)
		bytes[i] = 0x20;
	return (uint32(bytes[0]) << 24) | (uint32(bytes[1]) << 16) | (uint32(bytes[2]) << 8) | uint32(bytes[3]);
}

void VString::GetTime(VTime& time) const
{
	time.FromString(*this);
}

void VString::GetDuration(VDuration& duration) const
{
	duration.FromString(*this);
}

void VString::GetVUUID(VUUID& uuid) const
{
	uuid.FromString(*this);
}

VError VString::GetJSONValue(VJSONValue& json, uint32 /*options*/) const
{
	// SetString makes a null string JSON null. A text held inline is copied into a counted buffer; when
	// that copy is refused (velk 107 raised) the JSON string is left without a buffer, which GetBool shows.
	json.SetString(*this);
	if (!IsNull() && GetLength() > 0 && !json.GetBool())
		return VE_STRING_ALLOC_FAILED;
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// Value to text

void VString::_FromASCII(const char* bytes, int32 count)
{
	count = std::max(count, 0);
	// Bytes in this string would be freed with its buffer, or overtaken by the wider units written.
	const StStringSource source(*this, bytes, size_t(count));
	if (!source.IsValid())
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}
	bytes = static_cast<const char*>(source.Get());
	if (_IsShared() || count > fMaxLength)
	{
		// Nothing of the old text is kept; the old buffer goes only once the new one exists.
		if (!_ReallocBuffer(count, false))
			return;
	}
	else if (!_IsInline() && !IsExternal() && fMaxLength > kSMALL_BUFFER_UNITS && count <= kSMALL_BUFFER_UNITS)
	{
		// A large buffer kept for a short text is given back.
		if (!_ReallocBuffer(count, false))
			return;
	}
	for (int32 i = 0; i < count; ++i)
		fString[i] = uint8(bytes[i]);
	fLength = count;
	fString[count] = 0;
	_SetNotNullDirty();
}

void VString::FromLong8(int64 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_FromASCII(text, int32(r.ptr - text));
}

void VString::FromULong8(uint64 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_FromASCII(text, int32(r.ptr - text));
}

void VString::FromLong(int32 value)
{
	FromLong8(value);
}

void VString::FromWord(int16 value)
{
	FromLong8(value);
}

void VString::FromByte(int8 value)
{
	FromLong8(value);
}

void VString::FromReal(double value)
{
	char text[kNUMBER_ROOM];
	_FromASCII(text, VNumberText::FormatReal(value, text));
}

void VString::FromBoolean(uint8 value)
{
	if (value != 0)
		_FromASCII("true", 4);
	else
		_FromASCII("false", 5);
}

void VString::FromOsType(uint32 code)
{
	char text[4];
	const int32 length = _OsTypeText(code, text);
	_FromASCII(text, length);
}

void VString::FromUniChar(UniChar unit)
{
	if (unit == 0)
		Clear();
	else
		FromUniString(&unit, 1);
}

void VString::FromCString(const char* text)
{
	if (text == nullptr)
	{
		Clear();
		return;
	}
	const size_t bytes = std::strlen(text);
	const uint8* p = reinterpret_cast<const uint8*>(text);
	const bool ascii = std::all_of(p, p + bytes, [](uint8 b) { return b < 0x80; });
	if (!ascii)
	{
		FromBlock(text, bytes, kCharSet_UTF8);
		return;
	}
	if (bytes > size_t(INT32_MAX))
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}
	_FromASCII(text, int32(bytes));
}

CharSet VString::FromBlockWithOptionalBOM(const void* bytes, size_t byteCount, CharSet defaultSet)
{
	if (bytes == nullptr || byteCount == 0)
	{
		FromBlock(nullptr, 0, defaultSet);
		return defaultSet;
	}
	size_t bomSize = 0;
	CharSet set = kCharSet_None;
	if (!VTextConverters::ParseBOM(bytes, byteCount, &bomSize, &set))
	{
		bomSize = 0;
		set = defaultSet;
		// UTF-8 is not guessed from the whole text: zero bytes pass its test, which would take unmarked
		// UTF-16 and UTF-32 text for UTF-8.
		VTextConverters::GuessCharsetWithNoBom(bytes, int32(std::min<size_t>(byteCount, INT32_MAX)), &set, false);
	}
	FromBlock(static_cast<const uint8*>(bytes) + bomSize, byteCount - bomSize, set);
	return set;
}

void VString::FromString(const VInlineString& descriptor)
{
	if (descriptor.fString == nullptr)
	{
		Clear();
		return;
	}
	// Counted first: the descriptor may describe this string's own buffer.
	_CountOf(descriptor.fString, descriptor.fMaxLength).fetch_add(1, std::memory_order_relaxed);
	_DropBuffer();
	fString = descriptor.fString;
	fLength = descriptor.fLength;
	fMaxLength = descriptor.fMaxLength;
	fFlags &= uint8(~(kFLAG_EXTERNAL | kFLAG_UNREFCOUNTED));
	_SetNotNullDirty();
}

void VString::FromValue(const VValueSingle& value)
{
	value.GetString(*this);
}

void VString::FromTime(const VTime& time)
{
	time.GetString(*this);
}

void VString::FromDuration(const VDuration& duration)
{
	duration.GetString(*this);
}

void VString::FromVUUID(const VUUID& uuid)
{
	uuid.GetString(*this);
}

VError VString::FromJSONValue(const VJSONValue& json)
{
	if (json.IsNull())
	{
		SetNull(true);
		return VE_OK;
	}
	return json.GetString(*this);
}

// ---------------------------------------------------------------------------------------------------------
// Text to bytes

size_t VString::ToBlock(void* buffer, size_t size, CharSet set, bool zeroTerminate, bool lengthPrefix) const
{
	if (buffer == nullptr)
		return 0;
	const size_t unit = (set == kCharSet_UTF16) ? 2 : 1;
	const size_t overhead = unit * ((zeroTerminate ? 1 : 0) + (lengthPrefix ? 1 : 0));
	uint8* const out = static_cast<uint8*>(buffer);
	if (size < overhead)
	{
		// No room for the text's frame: an empty result as far as it fits (a 0 prefix reads as empty too).
		std::memset(out, 0, size - size % unit);
		return 0;
	}
	uint8* const text = out + (lengthPrefix ? unit : 0);
	const size_t room = (size - overhead) / unit * unit;
	int32 consumed = 0;
	size_t produced = 0;
	VTextConverters::Get()->ConvertFromVString(*this, &consumed, text, room, &produced, set);
	produced = std::min(produced, room);
	if (zeroTerminate)
		std::memset(text + produced, 0, unit);
	if (lengthPrefix)
	{
		if (unit == 1)
		{
			out[0] = produced < 256 ? uint8(produced) : 0;
		}
		else
		{
			const uint16 units = (produced / 2 < 65536) ? uint16(produced / 2) : 0;
			std::memcpy(out, &units, sizeof(units));
		}
	}
	return produced;
}

bool VString::ToBuffer(VMemoryBuffer<1024, 2, 1048576>& out, CharSet set) const
{
	VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(set);
	if (!converter->IsValid())
	{
		converter->Release();
		return false;
	}
	const VMemoryBuffer<1024, 2, 1048576> empty(out.GetAllocator());
	out = empty;
	const bool result = converter->ConvertToBuffer(fString, fLength, out, 0);
	converter->Release();
	return result;
}

// ---------------------------------------------------------------------------------------------------------
// Free functions

VString ToString(int value)
{
	VString text;
	text.FromLong8(value);
	return text;
}

VString ToString(long long value)
{
	VString text;
	text.FromLong8(value);
	return text;
}

VString ToString(unsigned long long value)
{
	VString text;
	text.FromULong8(value);
	return text;
}

VString ToString(unsigned long value)
{
	VString text;
	text.FromULong8(value);
	return text;
}

namespace {

// The UTF-8 form; std::string reports a shortage of memory by throwing, which to_string turns into an error.
std::string UTF8Text(const VString& text)
{
	const int32 length = text.GetLength();
	if (length <= 0)
		return std::string();
	const VFromUnicodeConverter* utf8 = VTextConverters::Get()->GetStdLibFromUnicodeConverter();
	int32 consumed = 0;
	size_t produced = 0;
	if (length <= 255)
	{
		char local[512];
		utf8->Convert(text.GetCPointer(), length, &consumed, local, sizeof(local), &produced);
		if (consumed == length)
			return std::string(local, produced);
	}
	size_t needed = 0;
	utf8->Convert(text.GetCPointer(), length, &consumed, nullptr, 0x7FFFFFFF, &needed);
	// Only a high surrogate at the very end is left, which the writer keeps for a partner: here nothing
	// follows it, so it stands alone, as ToUTF8String writes it.
	if (consumed < length)
		return ToUTF8String(text.GetCPointer(), length);
	std::string result(needed, '\0');
	utf8->Convert(text.GetCPointer(), length, &consumed, result.data(), result.size(), &produced);
	result.resize(std::min(produced, needed));
	return result;
}

}  // namespace

std::string to_string(const VString& text)
{
	try
	{
		return UTF8Text(text);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return std::string();
	}
}

}  // namespace velk
