// VString transcoding: XML and JSON escaping, hexadecimal text, line-end conventions (in strings and in
// encoded byte buffers), script identifiers and date shapes.
#include "kernel/strings/VString.h"
#include "kernel/values/VNumberText.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <utility>

#include "kernel/memory/VMemoryBuffer.h"

namespace velk {

namespace {

constexpr UniChar kCR = 0x0D;
constexpr UniChar kLF = 0x0A;

inline bool IsDigit(UniChar unit)
{
	return unit >= '0' && unit <= '9';
}

// A string of exactly length units to write into, built aside so that the receiver (which may be the
// source) keeps its text until the result is complete. Null when memory is short (velk 107 raised).
UniChar* PrepareResult(VString& result, int64 length)
{
	if (length > INT32_MAX)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return nullptr;
	}
	return result.GetCPointerForWrite(int32(length));
}

// ---------------------------------------------------------------------------------------------------------
// XML

// Units the escaped form of unit takes: 1 when it is kept.
inline int32 XMLEscapedLength(UniChar unit, bool escapeControls)
{
	switch (unit)
	{
		case '&':
			return 5;
		case '<':
		case '>':
			return 4;
		case '"':
		case '\'':
			return 6;
		default:
			break;
	}
	if (escapeControls && ((unit >= 0x01 && unit <= 0x1F && unit != 0x09 && unit != 0x0A && unit != 0x0D) || unit == 0x7F))
		return 6;
	return 1;
}

UniChar* WriteASCII(UniChar* out, const char* text)
{
	while (*text != 0)
		*out++ = UniChar(uint8(*text++));
	return out;
}

UniChar* WriteXMLEscape(UniChar* out, UniChar unit)
{
	switch (unit)
	{
		case '&':
			return WriteASCII(out, "&amp;");
		case '<':
			return WriteASCII(out, "&lt;");
		case '>':
			return WriteASCII(out, "&gt;");
		case '"':
			return WriteASCII(out, "&quot;");
		case '\'':
			return WriteASCII(out, "&apos;");
		default:
			break;
	}
	out = WriteASCII(out, "&#x");
	*out++ = UniChar(VNumberText::kUpperHexDigits[(unit >> 4) & 0xF]);
	*out++ = UniChar(VNumberText::kUpperHexDigits[unit & 0xF]);
	*out++ = ';';
	return out;
}

struct NamedEntity
{
	const char* fText;
	int32 fLength;
	UniChar fUnit;
};

// Tried in this order at each '&'.
constexpr NamedEntity kNAMED_ENTITIES[] = {
	{"&amp;", 5, '&'},
	{"&gt;", 4, '>'},
	{"&quot;", 6, '"'},
	{"&lt;", 4, '<'},
	{"&apos;", 6, '\''},
};

bool MatchesASCII(const UniChar* units, int32 available, const char* text, int32 length)
{
	if (available < length)
		return false;
	for (int32 i = 0; i < length; ++i)
	{
		if (units[i] != UniChar(uint8(text[i])))
			return false;
	}
	return true;
}

// The entity or character reference at units[0] ('&'): its length and the one or two units it stands
// for, or 0 when it stays as text.
int32 DecodeXMLEntity(const UniChar* units, int32 available, UniChar out[2], int32& outCount)
{
	for (const NamedEntity& entity : kNAMED_ENTITIES)
	{
		if (MatchesASCII(units, available, entity.fText, entity.fLength))
		{
			out[0] = entity.fUnit;
			outCount = 1;
			return entity.fLength;
		}
	}
	if (!MatchesASCII(units, available, "&#x", 3))
		return 0;
	uint32 value = 0;
	bool tooBig = false;
	int32 i = 3;
	for (; i < available; ++i)
	{
		const int digit = VNumberText::HexDigitValue(units[i]);
		if (digit < 0)
			break;
		// Leading zeros may be many; only the value's size matters.
		if (!tooBig)
		{
			value = value * 16 + uint32(digit);
			tooBig = value > 0x10FFFF;
		}
	}
	if (i == 3 || i >= available || units[i] != ';' || tooBig || value == 0)
		return 0;
	if (value >= 0x10000)
	{
		value -= 0x10000;
		out[0] = UniChar(0xD800 + (value >> 10));
		out[1] = UniChar(0xDC00 + (value & 0x3FF));
		outCount = 2;
	}
	else
	{
		out[0] = UniChar(value);
		outCount = 1;
	}
	return i + 1;
}

// ---------------------------------------------------------------------------------------------------------
// JSON

// Units the JSON form of unit takes.
inline int32 JSONEscapedLength(UniChar unit, bool escapeAmpApos)
{
	switch (unit)
	{
		case 0x08:
		case 0x09:
		case 0x0A:
		case 0x0C:
		case 0x0D:
		case '"':
		case '\\':
			return 2;
		case '&':
		case '\'':
			return escapeAmpApos ? 6 : 1;
		default:
			return (unit < 0x20 || unit == 0x7F) ? 6 : 1;
	}
}

UniChar* WriteJSONUnit(UniChar* out, UniChar unit, bool escapeAmpApos)
{
	UniChar shortForm = 0;
	switch (unit)
	{
		case 0x08:
			shortForm = 'b';
			break;
		case 0x09:
			shortForm = 't';
			break;
		case 0x0A:
			shortForm = 'n';
			break;
		case 0x0C:
			shortForm = 'f';
			break;
		case 0x0D:
			shortForm = 'r';
			break;
		case '"':
		case '\\':
			shortForm = unit;
			break;
		default:
			break;
	}
	if (shortForm != 0)
	{
		*out++ = '\\';
		*out++ = shortForm;
		return out;
	}
	if (unit < 0x20 || unit == 0x7F || (escapeAmpApos && (unit == '&' || unit == '\'')))
	{
		out = WriteASCII(out, "\\u00");
		*out++ = UniChar(VNumberText::kUpperHexDigits[(unit >> 4) & 0xF]);
		*out++ = UniChar(VNumberText::kUpperHexDigits[unit & 0xF]);
		return out;
	}
	*out++ = unit;
	return out;
}

// ---------------------------------------------------------------------------------------------------------
// Line ends, for 8-, 16- and 32-bit units. cr and lf are given as they lie in memory, so byte-swapped
// units are handled without swapping the text.

template <typename T>
struct LineEnds
{
	T fCR;
	T fLF;
};

template <typename T>
constexpr T ByteSwapped(T unit)
{
	if constexpr (sizeof(T) == 1)
		return unit;
	else if constexpr (sizeof(T) == 2)
		return T(((unit & 0xFF) << 8) | (unit >> 8));
	else
		return T(((unit & 0xFF) << 24) | ((unit & 0xFF00) << 8) | ((unit >> 8) & 0xFF00) | (unit >> 24));
}

template <typename T>
LineEnds<T> MakeLineEnds(bool bigEndian)
{
	const bool swap = sizeof(T) > 1 && bigEndian != (std::endian::native == std::endian::big);
	return swap ? LineEnds<T>{ByteSwapped(T(kCR)), ByteSwapped(T(kLF))} : LineEnds<T>{T(kCR), T(kLF)};
}

// The converted length; hasChange tells whether any unit would change at all.
template <typename T>
size_t ConvertedLength(const T* units, size_t count, ECarriageReturnMode mode, LineEnds<T> ends, bool& hasChange)
{
	size_t length = count;
	hasChange = false;
	for (size_t i = 0; i < count; ++i)
	{
		const T unit = units[i];
		if (unit == ends.fCR)
		{
			if (i + 1 < count && units[i + 1] == ends.fLF)
			{
				if (mode != eCRM_CRLF)
				{
					--length;
					hasChange = true;
				}
				++i;
			}
			else if (mode != eCRM_CR)
			{
				if (mode == eCRM_CRLF)
					++length;
				hasChange = true;
			}
		}
		else if (unit == ends.fLF && mode != eCRM_LF)
		{
			if (mode == eCRM_CRLF)
				++length;
			hasChange = true;
		}
	}
	return length;
}

// Hands the converted text, run by run, to emit(const T* units, size_t count). A destination that is the
// source itself works for the modes that never grow (eCRM_CR, eCRM_LF), as every run lies behind what
// was written.
template <typename T, typename Emit>
void EmitConverted(const T* units, size_t count, ECarriageReturnMode mode, LineEnds<T> ends, Emit&& emit)
{
	const T crlf[2] = {ends.fCR, ends.fLF};
	size_t run = 0;
	for (size_t i = 0; i < count; ++i)
	{
		const T unit = units[i];
		if (unit != ends.fCR && unit != ends.fLF)
			continue;
		const bool pair = unit == ends.fCR && i + 1 < count && units[i + 1] == ends.fLF;
		const T* replacement = nullptr;
		size_t replacementLength = 0;
		switch (mode)
		{
			case eCRM_CRLF:
				if (!pair)
				{
					replacement = crlf;
					replacementLength = 2;
				}
				break;
			case eCRM_CR:
				if (pair || unit == ends.fLF)
				{
					replacement = &crlf[0];
					replacementLength = 1;
				}
				break;
			case eCRM_LF:
				if (pair || unit == ends.fCR)
				{
					replacement = &crlf[1];
					replacementLength = 1;
				}
				break;
			default:
				break;
		}
		if (replacement == nullptr)
		{
			if (pair)
				++i;
			continue;
		}
		if (i > run)
			emit(units + run, i - run);
		emit(replacement, replacementLength);
		if (pair)
			++i;
		run = i + 1;
	}
	if (count > run)
		emit(units + run, count - run);
}

// eCRM_CRLF in place: the storage holds count units and has room for needed. Works from the end so that
// every unit moves once; the unit after a CR is read before anything is written over it.
template <typename T>
void WidenInPlace(T* units, size_t count, size_t needed, LineEnds<T> ends)
{
	size_t read = count;
	size_t write = needed;
	while (write > read)
	{
		--read;
		const T unit = units[read];
		const bool lone = (unit == ends.fLF && (read == 0 || units[read - 1] != ends.fCR)) ||
			(unit == ends.fCR && (read + 1 >= count || units[read + 1] != ends.fLF));
		if (lone)
		{
			units[--write] = ends.fLF;
			units[--write] = ends.fCR;
		}
		else
		{
			units[--write] = unit;
		}
	}
}

// Compacts in place for eCRM_CR and eCRM_LF; answers the new count.
template <typename T>
size_t CompactInPlace(T* units, size_t count, ECarriageReturnMode mode, LineEnds<T> ends)
{
	size_t write = 0;
	EmitConverted(units, count, mode, ends, [&](const T* run, size_t length) {
		std::memmove(units + write, run, length * sizeof(T));
		write += length;
	});
	return write;
}

// The buffer's text converted into a buffer of the same allocator that then replaces it. The buffer class
// has no way to set its used size, so the result reaches it through assignment, which moves it into a
// block of exactly its size or leaves the buffer as it was when memory is short.
template <typename T>
void ConvertBufferUnits(VMemoryBuffer<1024, 2, 1048576>& buffer, ECarriageReturnMode mode, bool bigEndian)
{
	const LineEnds<T> ends = MakeLineEnds<T>(bigEndian);
	const uint64 size = buffer.GetDataSize();
	const size_t count = size_t(size / sizeof(T));
	const size_t tail = size_t(size % sizeof(T));
	T* units = reinterpret_cast<T*>(buffer.GetDataPtr());
	if (count == 0)
		return;
	bool hasChange = false;
	const size_t needed = ConvertedLength(units, count, mode, ends, hasChange);
	if (!hasChange)
		return;
	if (needed == count)
	{
		// Same length (LF to CR, lone CR to LF): no room needed, nothing to resize.
		CompactInPlace(units, count, mode, ends);
		return;
	}
	VMemoryBuffer<1024, 2, 1048576> converted(buffer.GetAllocator());
	if (!converted._EnlargeAmortized(uint64(needed) * sizeof(T) + tail))
		return;
	EmitConverted(static_cast<const T*>(units), count, mode, ends, [&](const T* run, size_t length) {
		converted.AddData(run, uint64(length) * sizeof(T));
	});
	converted.AddData(buffer.GetDataPtr() + count * sizeof(T), tail);
	buffer = converted;
}

bool HasDateShape(const UniChar* units)
{
	for (int32 i = 0; i < 10; ++i)
	{
		const bool dash = i == 4 || i == 7;
		if (dash ? units[i] != '-' : !IsDigit(units[i]))
			return false;
	}
	return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// XML

void VString::TranscodeToXML(bool escapeControls)
{
	int32 first = 0;
	while (first < fLength && XMLEscapedLength(fString[first], escapeControls) == 1)
		++first;
	if (first == fLength)
		return;

	int64 length = first;
	for (int32 i = first; i < fLength; ++i)
		length += XMLEscapedLength(fString[i], escapeControls);
	VString result;
	UniChar* out = PrepareResult(result, length);
	if (out == nullptr)
		return;
	std::memcpy(out, fString, size_t(first) * sizeof(UniChar));
	out += first;
	int32 run = first;
	for (int32 i = first; i < fLength; ++i)
	{
		if (XMLEscapedLength(fString[i], escapeControls) == 1)
			continue;
		std::memcpy(out, fString + run, size_t(i - run) * sizeof(UniChar));
		out += i - run;
		out = WriteXMLEscape(out, fString[i]);
		run = i + 1;
	}
	std::memcpy(out, fString + run, size_t(fLength - run) * sizeof(UniChar));
	result.Validate(int32(length));
	FromString(result);
}

void VString::TranscodeFromXML()
{
	VString result;
	UniChar* out = nullptr;
	int32 run = 0;
	int32 i = 0;
	while (i < fLength)
	{
		if (fString[i] != '&')
		{
			++i;
			continue;
		}
		UniChar decoded[2];
		int32 decodedCount = 0;
		const int32 entityLength = DecodeXMLEntity(fString + i, fLength - i, decoded, decodedCount);
		if (entityLength == 0)
		{
			++i;
			continue;
		}
		if (out == nullptr)
		{
			// Every replacement is shorter than its entity: the source's length is enough.
			out = PrepareResult(result, fLength);
			if (out == nullptr)
				return;
		}
		std::memcpy(out, fString + run, size_t(i - run) * sizeof(UniChar));
		out += i - run;
		for (int32 k = 0; k < decodedCount; ++k)
			*out++ = decoded[k];
		i += entityLength;
		run = i;
	}
	if (out == nullptr)
		return;
	std::memcpy(out, fString + run, size_t(fLength - run) * sizeof(UniChar));
	out += fLength - run;
	result.Validate(int32(out - result.fString));
	FromString(result);
}

void VString::GetXMLString(VString& out, uint32 /*options*/) const
{
	out.FromString(*this);
	out.TranscodeToXML(false);
}

bool VString::FromXMLString(const VString& text)
{
	FromString(text);
	TranscodeFromXML();
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// JSON

VError VString::GetJSONString(VString& out, uint32 options) const
{
	const bool quotes = (options & kJSON_WITH_QUOTES) != 0;
	const bool escapeAmpApos = (options & kJSON_ESCAPE_AMP_APOS) != 0;
	const bool raw = (options & kJSON_RAW) != 0;

	int64 length = fLength + (quotes ? 2 : 0);
	if (!raw)
	{
		for (int32 i = 0; i < fLength; ++i)
			length += JSONEscapedLength(fString[i], escapeAmpApos) - 1;
	}
	if (raw && !quotes)
	{
		out.FromString(*this);
		return VE_OK;
	}
	VString result;
	UniChar* write = PrepareResult(result, length);
	if (write == nullptr)
		return VE_STRING_ALLOC_FAILED;
	if (quotes)
		*write++ = '"';
	if (raw)
	{
		std::memcpy(write, fString, size_t(fLength) * sizeof(UniChar));
		write += fLength;
	}
	else
	{
		for (int32 i = 0; i < fLength; ++i)
			write = WriteJSONUnit(write, fString[i], escapeAmpApos);
	}
	if (quotes)
		*write++ = '"';
	result.Validate(int32(length));
	out = std::move(result);
	return VE_OK;
}

VError VString::FromJSONString(const VString& json, uint32 options)
{
	if ((options & kJSON_RAW) != 0 || json.IsNull())
	{
		FromString(json);
		return VE_OK;
	}
	const UniChar* in = json.fString;
	const int32 count = json.fLength;
	VString result;
	// Unescaping never lengthens the text.
	UniChar* out = PrepareResult(result, count);
	if (out == nullptr)
		return VE_STRING_ALLOC_FAILED;
	UniChar* const begin = out;
	for (int32 i = 0; i < count; ++i)
	{
		const UniChar unit = in[i];
		if (unit != '\\')
		{
			*out++ = unit;
			continue;
		}
		if (++i >= count)
			break;
		const UniChar escaped = in[i];
		switch (escaped)
		{
			case 'b':
				*out++ = 0x08;
				break;
			case 'f':
				*out++ = 0x0C;
				break;
			case 'n':
				*out++ = kLF;
				break;
			case 'r':
				*out++ = kCR;
				break;
			case 't':
				*out++ = 0x09;
				break;
			case 'u':
				if (count - (i + 1) < 4)
				{
					*out++ = 'u';
					i = count;
					break;
				}
				else
				{
					uint32 value = 0;
					for (int32 k = 1; k <= 4; ++k)
					{
						const int digit = VNumberText::HexDigitValue(in[i + k]);
						if (digit >= 0)
							value = value * 16 + uint32(digit);
					}
					*out++ = UniChar(value);
					i += 4;
				}
				break;
			default:
				*out++ = escaped;
				break;
		}
	}
	result.Validate(int32(out - begin));
	*this = std::move(result);
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// Hexadecimal

int64 VString::GetHexLong() const
{
	uint64 value = 0;
	for (int32 i = 0; i < fLength; ++i)
	{
		const int digit = VNumberText::HexDigitValue(fString[i]);
		if (digit >= 0)
			value = (value << 4) | uint64(digit);
	}
	return int64(value);
}

namespace {

// The digits of value; with cStyle padded to the width's rule and behind "0x". bits is 8, 32 or 64.
void WriteHex(VString& text, uint64 value, int bits, bool cStyle)
{
	char digits[16];
	int count = 0;
	do
	{
		digits[count++] = VNumberText::kUpperHexDigits[value & 0xF];
		value >>= 4;
	} while (value != 0);

	int width = count;
	if (cStyle)
	{
		if (bits == 8)
			width = 2;
		else if (count <= 4)
			width = 4;
		else
			width = (count + 7) / 8 * 8;
	}
	const int32 length = width + (cStyle ? 2 : 0);
	UniChar* out = text.GetCPointerForWrite(length);
	if (out == nullptr)
	{
		text.Clear();
		return;
	}
	if (cStyle)
	{
		*out++ = '0';
		*out++ = 'x';
	}
	for (int i = width - 1; i >= 0; --i)
		*out++ = i < count ? UniChar(digits[i]) : UniChar('0');
	text.Validate(length);
}

}  // namespace

void VString::FromHexLong(int64 value, bool cStyle)
{
	WriteHex(*this, uint64(value), 64, cStyle);
}

void VString::FromHexLong(int32 value, bool cStyle)
{
	WriteHex(*this, uint32(value), 32, cStyle);
}

void VString::FromHexLong(uint8 value, bool cStyle)
{
	WriteHex(*this, value, 8, cStyle);
}

void VString::FromHexLong(char value, bool cStyle)
{
	WriteHex(*this, uint8(value), 8, cStyle);
}

// ---------------------------------------------------------------------------------------------------------
// Line ends

ECarriageReturnMode VString::GetCarriageReturnMode(ECarriageReturnMode defaultMode) const
{
	for (int32 i = 0; i < fLength; ++i)
	{
		if (fString[i] == kLF)
			return eCRM_LF;
		if (fString[i] == kCR)
			return (i + 1 < fLength && fString[i + 1] == kLF) ? eCRM_CRLF : eCRM_CR;
	}
	return defaultMode;
}

void VString::ConvertCarriageReturns(ECarriageReturnMode mode)
{
	if (mode != eCRM_CRLF && mode != eCRM_CR && mode != eCRM_LF)
		return;
	const LineEnds<UniChar> ends{kCR, kLF};
	bool hasChange = false;
	const size_t needed = ConvertedLength(fString, size_t(fLength), mode, ends, hasChange);
	if (!hasChange)
		return;
	if (needed > size_t(INT32_MAX))
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}
	// Unshares, and for CR LF makes room for the whole result at once, keeping the text.
	if (!_PrepareWrite(std::max(fLength, int32(needed))))
		return;
	if (mode == eCRM_CRLF)
		WidenInPlace(fString, size_t(fLength), needed, ends);
	else
		CompactInPlace(fString, size_t(fLength), mode, ends);
	fLength = int32(needed);
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::ConvertCarriageReturns(VMemoryBuffer<1024, 2, 1048576>& buffer, CharSet charSet, ECarriageReturnMode mode)
{
	if (charSet == 0 || (mode != eCRM_CRLF && mode != eCRM_CR && mode != eCRM_LF) || buffer.GetDataPtr() == nullptr)
		return;
	switch (charSet)
	{
		case 1:
			ConvertBufferUnits<uint16>(buffer, mode, true);
			break;
		case 2:
			ConvertBufferUnits<uint16>(buffer, mode, false);
			break;
		case 3:
		case 5:
			ConvertBufferUnits<uint32>(buffer, mode, true);
			break;
		case 4:
		case 6:
			ConvertBufferUnits<uint32>(buffer, mode, false);
			break;
		default:
			ConvertBufferUnits<uint8>(buffer, mode, false);
			break;
	}
}

// ---------------------------------------------------------------------------------------------------------
// Identifiers and date shapes

void VString::GetCleanJSName(VString& out) const
{
	VString result;
	if (fLength > 0)
	{
		UniChar* write = PrepareResult(result, int64(fLength) + 1);
		if (write == nullptr)
			return;
		UniChar* const begin = write;
		if (IsDigit(fString[0]))
			*write++ = '_';
		for (int32 i = 0; i < fLength; ++i)
		{
			const UniChar unit = fString[i];
			if ((unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z') || IsDigit(unit) || unit == '_' || unit == '$')
				*write++ = unit;
		}
		result.Validate(int32(write - begin));
	}
	out = std::move(result);
}

bool VString::IsISODate() const
{
	return fLength == 10 && HasDateShape(fString);
}

bool VString::IsNonAmbigousDate() const
{
	return fLength == 14 && fString[0] == '!' && fString[1] == '!' && fString[12] == '!' && fString[13] == '!' && HasDateShape(fString + 2);
}

}  // namespace velk
