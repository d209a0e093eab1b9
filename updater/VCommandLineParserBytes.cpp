// Process arguments as the system hands them, bytes, made text; and that text shown back on one line.
#include <cstring>

#include "kernel/intl/VTextConverters.h"
#include "updater/VCommandLineParser.h"

namespace velk {

namespace {

// The first unit and the last of the carried bytes 0x80-0xFF (an ASCII byte is always UTF-8).
constexpr UniChar kFirstCarried = 0xDC80;
constexpr UniChar kLastCarried = 0xDCFF;

bool IsContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF)
{
	return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at bytes (at least one byte, below end), its code point in
// codePoint; 0 when no well-formed sequence starts there (no overlong form, surrogate or value past
// U+10FFFF).
size_t WellFormedSequence(const unsigned char* bytes, const unsigned char* end, uint32& codePoint)
{
	const unsigned char lead = bytes[0];
	size_t length;
	unsigned char low = 0x80;
	unsigned char high = 0xBF;
	if (lead < 0x80)
		length = 1;
	else if (lead >= 0xC2 && lead <= 0xDF)
		length = 2;
	else if (lead >= 0xE0 && lead <= 0xEF)
	{
		length = 3;
		low = lead == 0xE0 ? 0xA0 : 0x80;
		high = lead == 0xED ? 0x9F : 0xBF;
	}
	else if (lead >= 0xF0 && lead <= 0xF4)
	{
		length = 4;
		low = lead == 0xF0 ? 0x90 : 0x80;
		high = lead == 0xF4 ? 0x8F : 0xBF;
	}
	else
		return 0;
	if (size_t(end - bytes) < length)
		return 0;
	if (length > 1 && !IsContinuation(bytes[1], low, high))
		return 0;
	for (size_t i = 2; i < length; ++i)
	{
		if (!IsContinuation(bytes[i]))
			return 0;
	}
	static constexpr unsigned char kLeadMasks[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
	codePoint = lead & kLeadMasks[length];
	for (size_t i = 1; i < length; ++i)
		codePoint = (codePoint << 6) | (bytes[i] & 0x3F);
	return length;
}

bool IsCarried(UniChar unit)
{
	return unit >= kFirstCarried && unit <= kLastCarried;
}

// Whether the unit at pos begins a surrogate pair, a character whose low half is no carried byte.
bool StartsPair(const VString& text, int32 pos)
{
	const UniChar unit = text.GetUniChar(pos);
	if (unit < 0xD800 || unit > 0xDBFF || pos >= text.GetLength())
		return false;
	const UniChar next = text.GetUniChar(pos + 1);
	return next >= 0xDC00 && next <= 0xDFFF;
}

}  // namespace

VString VCommandLineParser::ArgumentFromBytes(const char* bytes)
{
	VString text;
	const size_t count = std::strlen(bytes);
	const auto* at = reinterpret_cast<const unsigned char*>(bytes);
	if (count <= size_t(INT32_MAX) && VTextConverters::DetectUTF8(at, int32(count)))
	{
		text.FromBlock(bytes, count, kCharSet_UTF8);
		return text;
	}
	const unsigned char* end = at + count;
	while (at < end)
	{
		uint32 codePoint = 0;
		const size_t length = WellFormedSequence(at, end, codePoint);
		if (length == 0)
		{
			text.AppendUniChar(UniChar(kFirstCarried - 0x80 + *at));
			++at;
			continue;
		}
		if (codePoint >= 0x10000)
		{
			text.AppendUniChar(UniChar(0xD800 + ((codePoint - 0x10000) >> 10)));
			text.AppendUniChar(UniChar(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
		}
		else
			text.AppendUniChar(UniChar(codePoint));
		at += length;
	}
	return text;
}

bool VCommandLineParser::IsUTF8Argument(const VString& argument)
{
	const int32 length = argument.GetLength();
	for (int32 pos = 1; pos <= length; ++pos)
	{
		if (StartsPair(argument, pos))
			++pos;
		else if (IsCarried(argument.GetUniChar(pos)))
			return false;
	}
	return true;
}

VString VCommandLineParser::ShownArgument(const VString& argument)
{
	static constexpr char kDigits[] = "0123456789abcdef";
	VString shown;
	const int32 length = argument.GetLength();
	for (int32 pos = 1; pos <= length; ++pos)
	{
		const UniChar unit = argument.GetUniChar(pos);
		if (StartsPair(argument, pos))
		{
			shown.AppendUniChar(unit);
			shown.AppendUniChar(argument.GetUniChar(++pos));
			continue;
		}
		const bool carried = IsCarried(unit);
		if (!carried && unit >= 0x20 && unit != 0x7F)
		{
			shown.AppendUniChar(unit);
			continue;
		}
		const unsigned byte = carried ? unsigned(unit - kFirstCarried + 0x80) : unsigned(unit);
		shown.AppendCString("\\x");
		shown.AppendUniChar(UniChar(kDigits[byte >> 4]));
		shown.AppendUniChar(UniChar(kDigits[byte & 0xF]));
	}
	return shown;
}

}  // namespace velk
