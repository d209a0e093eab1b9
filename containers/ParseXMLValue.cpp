// Attribute texts read as typed values.
#include "containers/ParseXMLValue.h"

#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VNumberText.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VUUID.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr UniChar kMINUS_SIGN = 0x2212;

bool IsBlank(UniChar unit, const VIntlMgr* intl)
{
	if (intl != nullptr)
		return intl->IsSpace(unit);
	return unit == ' ' || unit == '\t' || unit == '\r' || unit == '\n';
}

bool IsDigit(UniChar unit)
{
	return unit >= '0' && unit <= '9';
}

bool Equals(const UniChar* units, size_t count, const char* literal)
{
	for (size_t i = 0; i < count; ++i)
	{
		if (literal[i] == 0 || units[i] != UniChar(uint8(literal[i])))
			return false;
	}
	return literal[count] == 0;
}

VValueSingle* Made(VValueSingle* value)
{
	if (value == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return value;
}

// The number the units (behind the sign) spell, or null when they spell none.
VValueSingle* ParseNumber(const UniChar* units, size_t count, bool negative)
{
	size_t i = 0;
	while (i < count && IsDigit(units[i]))
		++i;
	const size_t integerDigits = i;
	if (integerDigits == 0)
		return nullptr;
	bool isReal = false;
	if (i < count && units[i] == '.')
	{
		isReal = true;
		++i;
		while (i < count && IsDigit(units[i]))
			++i;
	}
	if (i < count && (units[i] == 'e' || units[i] == 'E'))
	{
		isReal = true;
		++i;
		if (i < count && (units[i] == '+' || units[i] == '-' || units[i] == kMINUS_SIGN))
			++i;
		const size_t exponentStart = i;
		while (i < count && IsDigit(units[i]))
			++i;
		if (i == exponentStart)
			return nullptr;
	}
	if (i != count)
		return nullptr;

	if (isReal)
	{
		// Every unit is ASCII now but the minus sign, which strtod does not know. The whole text is read,
		// however long: a cut could drop the exponent.
		std::string ascii;
		try
		{
			ascii.reserve(count + 1);
			if (negative)
				ascii.push_back('-');
			for (size_t j = 0; j < count; ++j)
				ascii.push_back(units[j] == kMINUS_SIGN ? '-' : char(units[j]));
		}
		catch (const std::bad_alloc&)
		{
			return Made(nullptr);
		}
		double value = 0;
		if (!VNumberText::ParseWhole(ascii.c_str(), ascii.size(), value) || std::isinf(value))
			return nullptr;
		return Made(new (std::nothrow) VReal(value));
	}

	// Leading zeros cost nothing; 19 significant digits or fewer fit 64 bits unsigned.
	size_t first = 0;
	while (first + 1 < count && units[first] == '0')
		++first;
	if (count - first > 19)
		return nullptr;
	uint64 magnitude = 0;
	for (size_t j = first; j < count; ++j)
		magnitude = magnitude * 10 + uint64(units[j] - '0');
	if (magnitude < (uint64(1) << 31))
		return Made(new (std::nothrow) VLong(negative ? -int32(magnitude) : int32(magnitude)));
	const uint64 limit = negative ? uint64(1) << 63 : uint64(std::numeric_limits<int64>::max());
	if (magnitude > limit)
		return nullptr;
	VLong8* value = new (std::nothrow) VLong8();
	if (value != nullptr)
		value->FromLong8(negative ? int64(0 - magnitude) : int64(magnitude));
	return Made(value);
}

// The UUID the units spell: 32 hexadecimal digits, hyphens or minus signs between them, optionally in
// braces. Null when they spell none.
VValueSingle* ParseUUID(const UniChar* units, size_t count)
{
	if (count < 32)
		return nullptr;
	if (units[0] == '{')
	{
		if (units[count - 1] != '}')
			return nullptr;
		++units;
		count -= 2;
	}
	VUUIDBuffer buffer;
	size_t digits = 0;
	for (size_t i = 0; i < count; ++i)
	{
		const int digit = VNumberText::HexDigitValue(units[i]);
		if (digit >= 0)
		{
			if (digits == 32)
				return nullptr;
			buffer.fBytes[digits / 2] = uint8(buffer.fBytes[digits / 2] | (digits % 2 == 0 ? digit << 4 : digit));
			++digits;
			continue;
		}
		const bool hyphen = units[i] == '-' || units[i] == kMINUS_SIGN;
		// Hyphens go between digits only.
		if (!hyphen || digits == 0 || i + 1 == count)
			return nullptr;
	}
	if (digits != 32)
		return nullptr;
	return Made(new (std::nothrow) VUUID(buffer));
}

}  // namespace

VValueSingle* ParseXMLValue(const VString& text)
{
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	const UniChar* units = text.GetCPointer();
	size_t begin = 0;
	size_t end = size_t(text.GetLength());
	while (begin < end && IsBlank(units[begin], intl))
		++begin;
	while (end > begin && IsBlank(units[end - 1], intl))
		--end;

	const UniChar* rest = units + begin;
	size_t count = end - begin;
	bool signedText = false;
	bool negative = false;
	if (count > 0 && (rest[0] == '+' || rest[0] == '-' || rest[0] == kMINUS_SIGN))
	{
		signedText = true;
		negative = rest[0] != '+';
		++rest;
		--count;
	}

	if (Equals(rest, count, "INF") && (!signedText || negative))
		return Made(new (std::nothrow) VReal(negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity()));
	if (!signedText)
	{
		if (Equals(rest, count, "NaN"))
			return Made(new (std::nothrow) VReal(std::numeric_limits<double>::quiet_NaN()));
		if (Equals(rest, count, "true") || Equals(rest, count, "false"))
			return Made(new (std::nothrow) VBoolean(uint8(rest[0] == 't' ? 1 : 0)));
	}
	if (VValueSingle* number = ParseNumber(rest, count, negative))
		return number;
	if (!signedText && count > 0 && (IsDigit(rest[0]) || rest[0] == 'f' || rest[0] == '{'))
	{
		if (VValueSingle* uuid = ParseUUID(rest, count))
			return uuid;
	}
	VString* copy = new (std::nothrow) VString(text);
	return Made(copy);
}

}  // namespace velk
