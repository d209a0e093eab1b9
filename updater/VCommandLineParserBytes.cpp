// Process arguments as the system hands them, bytes, made text; and that text shown back on one line.
#include <cstring>

#include "kernel/intl/VTextConverters.h"
#include "kernel/intl/VUTFCodec.h"
#include "updater/VCommandLineParser.h"

namespace velk {

namespace {

// The first unit and the last of the carried bytes 0x80-0xFF (an ASCII byte is always UTF-8).
constexpr UniChar kFirstCarried = 0xDC80;
constexpr UniChar kLastCarried = 0xDCFF;

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
		const size_t length = DecodeStrictUTF8Sequence(at, size_t(end - at), codePoint);
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
