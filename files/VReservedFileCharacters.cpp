#include "files/VReservedFileCharacters.h"

#include <array>
#include <climits>

#include "kernel/values/VNumberText.h"
#include "runtime/VError.h"

namespace velk {

namespace {

// Indexed by the UTF-16 unit; units above the table are never reserved.
constexpr std::array<bool, 129> MakeReservedTable()
{
	std::array<bool, 129> table{};
	for (int unit = 0; unit < 0x20; ++unit)
		table[size_t(unit)] = true;
	for (char unit : {'"', '%', '*', '/', ':', '<', '>', '?', '\\', '|'})
		table[size_t(unit)] = true;
	return table;
}

constexpr std::array<bool, 129> kReserved = MakeReservedTable();

bool IsReserved(UniChar unit)
{
	return unit < kReserved.size() && kReserved[unit];
}

}  // namespace

VString EncodeReservedFileCharacters(const VString& text)
{
	const UniChar* units = text.GetCPointer();
	const int32 length = text.GetLength();
	int64 reserved = 0;
	for (int32 i = 0; i < length; ++i)
		reserved += IsReserved(units[i]) ? 1 : 0;
	if (reserved == 0)
		return text;

	VString result;
	const int64 size = int64(length) + 2 * reserved;
	UniChar* out = size <= INT32_MAX ? result.GetCPointerForWrite(int32(size)) : nullptr;
	if (out == nullptr)
	{
		// A name that cannot be written whole must not be written in part.
		if (size > INT32_MAX)
			_ThrowError(VE_STRING_ALLOC_FAILED);
		return VString();
	}
	static constexpr char kDigits[] = "0123456789ABCDEF";
	int32 written = 0;
	for (int32 i = 0; i < length; ++i)
	{
		const UniChar unit = units[i];
		if (IsReserved(unit))
		{
			out[written++] = u'%';
			out[written++] = UniChar(kDigits[unit >> 4]);
			out[written++] = UniChar(kDigits[unit & 0xF]);
		}
		else
			out[written++] = unit;
	}
	result.Validate(written);
	return result;
}

VString DecodeReservedFileCharacters(const VString& text)
{
	if (text.FindUniChar(u'%') == 0)
		return text;

	const UniChar* units = text.GetCPointer();
	const int32 length = text.GetLength();
	VString result;
	UniChar* out = result.GetCPointerForWrite(length);
	if (out == nullptr)
		return VString();
	int32 written = 0;
	for (int32 i = 0; i < length; ++i)
	{
		const int high = (units[i] == u'%' && i + 2 < length) ? VNumberText::HexDigitValue(units[i + 1]) : -1;
		const int low = high >= 0 ? VNumberText::HexDigitValue(units[i + 2]) : -1;
		if (low >= 0)
		{
			out[written++] = UniChar(high * 16 + low);
			i += 2;
		}
		else
			out[written++] = units[i];
	}
	result.Validate(written);
	return result;
}

}  // namespace velk
