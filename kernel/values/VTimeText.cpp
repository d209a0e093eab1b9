// The text forms of a time: RFC 3339 (also its XML and JSON forms), RFC 822, the numeric and "!" forms and
// the compiler's date and time.
#include "kernel/values/VTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "files/VSystem.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr int64 kMS_PER_HOUR = 3600000;
constexpr int64 kMS_PER_MINUTE = 60000;
constexpr int64 kMS_PER_SECOND = 1000;
// Beyond this length a time text is not read further (the fields all stand at its start).
constexpr int32 kMaxScannedUnits = 255;
// The last year a parsed date may name.
constexpr int32 kMaxParsedYear = 22000;

constexpr char kMonthNames[12][4] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
constexpr char kWeekDayNames[7][4] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };

bool IsDigit(UniChar c)
{
	return c >= u'0' && c <= u'9';
}

bool IsAsciiLetter(UniChar c)
{
	return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

int16 ClampInt16(int64 value)
{
	if (value < std::numeric_limits<int16>::min())
		return std::numeric_limits<int16>::min();
	if (value > std::numeric_limits<int16>::max())
		return std::numeric_limits<int16>::max();
	return int16(value);
}

// Builds ASCII text in place, then hands it to a string in one go.
class TextBuilder
{
public:
	void Char(char c) { fUnits[fLength++] = UniChar(uint8(c)); }
	void Text(const char* text)
	{
		while (*text != 0)
			Char(*text++);
	}
	// At least width digits, zero-padded; a negative number gets a leading '-' within the width, as printf.
	void Number(int64 value, int32 width)
	{
		char digits[24];
		int32 count = 0;
		const bool negative = value < 0;
		uint64 magnitude = negative ? uint64(0) - uint64(value) : uint64(value);
		do
		{
			digits[count++] = char('0' + magnitude % 10);
			magnitude /= 10;
		} while (magnitude != 0);
		if (negative)
			Char('-');
		for (int32 pad = width - count - (negative ? 1 : 0); pad > 0; --pad)
			Char('0');
		while (count > 0)
			Char(digits[--count]);
	}
	// "yyyy-mm-dd" and "hh:mm:ss".
	void IsoDate(int64 year, int64 month, int64 day)
	{
		Number(year, 4);
		Char('-');
		Number(month, 2);
		Char('-');
		Number(day, 2);
	}
	void ClockTime(int64 hour, int64 minute, int64 second)
	{
		Number(hour, 2);
		Char(':');
		Number(minute, 2);
		Char(':');
		Number(second, 2);
	}
	void Store(VString& text) const { text.FromUniString(fUnits, fLength); }
	void Append(VString& text) const { text.AppendUniChars(fUnits, fLength); }

private:
	// The longest texts (RFC 822 of a far year, RFC 3339 with an offset) stay well under this.
	UniChar fUnits[80];
	int32 fLength = 0;
};

// Reads a text the way the C library's formatted input would, field by field, without its locale: "." is
// always the decimal point.
class Scanner
{
public:
	Scanner(const UniChar* units, int32 length) : fUnits(units), fLength(length) {}

	// A literal character of the pattern.
	bool Literal(UniChar c)
	{
		if (fPos < fLength && fUnits[fPos] == c)
		{
			++fPos;
			return true;
		}
		return false;
	}

	// A decimal integer of at most width characters (0: unbounded), sign included, after white space.
	bool Integer(int32 width, int32& value)
	{
		SkipSpace();
		int32 limit = width > 0 ? std::min(fLength, fPos + width) : fLength;
		int32 pos = fPos;
		bool negative = false;
		if (pos < limit && (fUnits[pos] == u'+' || fUnits[pos] == u'-'))
			negative = fUnits[pos++] == u'-';
		const int32 firstDigit = pos;
		int64 magnitude = 0;
		while (pos < limit && IsDigit(fUnits[pos]))
		{
			magnitude = std::min<int64>(magnitude * 10 + (fUnits[pos] - u'0'), int64(std::numeric_limits<int32>::max()) + 1);
			++pos;
		}
		if (pos == firstDigit)
			return false;
		fPos = pos;
		const int64 signedValue = negative ? -magnitude : magnitude;
		value = int32(std::clamp<int64>(signedValue, std::numeric_limits<int32>::min(), std::numeric_limits<int32>::max()));
		return true;
	}

	// A real number of seconds, split into whole seconds and milliseconds. The milliseconds are the first
	// three digits of the fraction, so ".010" is 10 and not what a binary double would truncate to.
	bool Seconds(int32& whole, int32& ms)
	{
		SkipSpace();
		int32 pos = fPos;
		bool negative = false;
		if (pos < fLength && (fUnits[pos] == u'+' || fUnits[pos] == u'-'))
			negative = fUnits[pos++] == u'-';
		int64 integer = 0;
		int32 digits = 0;
		while (pos < fLength && IsDigit(fUnits[pos]))
		{
			integer = std::min<int64>(integer * 10 + (fUnits[pos] - u'0'), std::numeric_limits<int32>::max());
			++pos;
			++digits;
		}
		int32 fraction = 0;
		if (pos < fLength && fUnits[pos] == u'.')
		{
			++pos;
			int32 fractionDigits = 0;
			while (pos < fLength && IsDigit(fUnits[pos]))
			{
				if (fractionDigits < 3)
					fraction = fraction * 10 + (fUnits[pos] - u'0');
				++fractionDigits;
				++pos;
			}
			for (int32 i = fractionDigits; i < 3; ++i)
				fraction *= 10;
			digits += fractionDigits;
		}
		if (digits == 0)
			return false;
		const int32 mantissaEnd = pos;
		// An exponent is rare enough in a time to be read through a double.
		if (pos < fLength && (fUnits[pos] == u'e' || fUnits[pos] == u'E'))
		{
			int32 after = pos + 1;
			if (after < fLength && (fUnits[after] == u'+' || fUnits[after] == u'-'))
				++after;
			if (after < fLength && IsDigit(fUnits[after]))
			{
				while (after < fLength && IsDigit(fUnits[after]))
					++after;
				char ascii[kMaxScannedUnits + 1];
				int32 n = 0;
				for (int32 i = fPos; i < after; ++i)
					ascii[n++] = char(fUnits[i]);
				ascii[n] = 0;
				const double value = std::strtod(ascii, nullptr);
				fPos = after;
				return SplitReal(value, whole, ms);
			}
		}
		fPos = mantissaEnd;
		whole = negative ? -int32(integer) : int32(integer);
		ms = negative ? -fraction : fraction;
		return true;
	}

private:
	static bool SplitReal(double value, int32& whole, int32& ms)
	{
		if (!std::isfinite(value) || std::fabs(value) > 1e9)
		{
			// Far outside a minute: whatever the fields, the validation refuses them.
			whole = value < 0 ? -1 : 1000000000;
			ms = 0;
			return true;
		}
		const double truncated = std::trunc(value);
		whole = int32(truncated);
		ms = int32(std::trunc((value - truncated) * 1000.0 + (value < 0 ? -1e-6 : 1e-6)));
		return true;
	}

	void SkipSpace()
	{
		while (fPos < fLength && (fUnits[fPos] == u' ' || (fUnits[fPos] >= u'\t' && fUnits[fPos] <= u'\r')))
			++fPos;
	}

	const UniChar* fUnits;
	int32 fLength;
	int32 fPos = 0;
};

// 1-based position of the first (or last) occurrence of a unit; 0 when absent.
int32 FirstPosition(const UniChar* units, int32 length, UniChar c)
{
	for (int32 i = 0; i < length; ++i)
		if (units[i] == c)
			return i + 1;
	return 0;
}

int32 LastPosition(const UniChar* units, int32 length, UniChar c)
{
	for (int32 i = length; i > 0; --i)
		if (units[i - 1] == c)
			return i;
	return 0;
}

bool ParsedDateExists(int32 year, int32 month, int32 day)
{
	return year >= 0 && year <= kMaxParsedYear && VTime::CheckDate(int16(year), int16(month), int16(day));
}

// The month of a three-letter name in any case; 0 for none.
int32 MonthOfName(const UniChar* name, int32 length)
{
	if (length != 3)
		return 0;
	for (int32 m = 0; m < 12; ++m)
	{
		bool same = true;
		for (int32 i = 0; i < 3 && same; ++i)
		{
			const UniChar c = name[i];
			const UniChar folded = (c >= u'A' && c <= u'Z') ? UniChar(c + 32) : c;
			const char expected = kMonthNames[m][i];
			same = folded == UniChar(expected >= 'A' && expected <= 'Z' ? expected + 32 : expected);
		}
		if (same)
			return m + 1;
	}
	return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// RFC 3339

void VTime::GetRfc3339String(VString& text, uint32 options) const
{
	TextBuilder out;
	if (IsNull())
	{
		out.Text("0000-00-00T00:00:00Z");
		out.Store(text);
		return;
	}
	int16 f[7];
	const bool utc = (options & kRFC3339_UTC) != 0;
	const bool withOffset = !utc && (options & kRFC3339_LOCAL) == 0;
	int64 offset = 0;
	if (utc)
	{
		GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	}
	else
	{
		_GetLocalFields(f);
		if (withOffset)
		{
			if (_IsZeroDate() || !_HasCalendarMonth() || f[1] < 1 || f[1] > 12)
			{
				// No instant to take the offset at: the one in force now.
				offset = VSystem::GetGMTOffset(true);
			}
			else
			{
				// The offset in force at this instant is the distance between its local and UTC readings.
				int16 u[7];
				GetUTCTime(u[0], u[1], u[2], u[3], u[4], u[5], u[6]);
				const int64 days = int64(ComputeJulianDay(f[0], f[1], f[2])) - ComputeJulianDay(u[0], u[1], u[2]);
				offset = days * 86400 + (f[3] - u[3]) * 3600 + (f[4] - u[4]) * 60 + (f[5] - u[5]);
			}
		}
	}
	const auto writeDate = [&](bool zero) {
		if (zero)
			out.IsoDate(0, 0, 0);
		else
			out.IsoDate(f[0], f[1], f[2]);
	};
	const auto writeTime = [&] { out.ClockTime(f[3], f[4], f[5]); };
	const auto writeZone = [&] {
		if (utc)
		{
			out.Char('Z');
		}
		else if (withOffset)
		{
			const int64 magnitude = offset < 0 ? -offset : offset;
			out.Char(offset >= 0 ? '+' : '-');
			out.Number(magnitude / 3600, 2);
			out.Char(':');
			out.Number((magnitude % 3600) / 60, 2);
		}
	};
	if ((options & kRFC3339_TIME_ONLY) != 0)
	{
		writeTime();
		writeZone();
	}
	else if ((options & kRFC3339_DATE_ONLY) != 0)
	{
		writeDate(false);
		if (withOffset)
			writeZone();
	}
	else
	{
		writeDate((options & kRFC3339_ZERO_DATE) != 0);
		out.Char('T');
		writeTime();
		if (!withOffset && (options & kRFC3339_NO_MILLISECONDS) == 0)
		{
			out.Char('.');
			out.Number(f[6], 3);
		}
		writeZone();
	}
	out.Store(text);
}

bool VTime::FromRfc3339String(const VString& text)
{
	const int32 length = text.GetLength();
	if (text.IsNull() || length == 0)
	{
		SetNull(true);
		return false;
	}
	const UniChar* units = text.GetCPointer();
	enum class Shape
	{
		kDateTime,
		kTime,
		kDate
	};
	int32 year = 0, month = 0, day = 0, hour = 0, minute = 0, seconds = 0, ms = 0;
	int32 n = 0;
	Shape shape;
	Scanner scan(units, std::min(length, kMaxScannedUnits));
	const int32 colon = FirstPosition(units, length, u':');
	if (FirstPosition(units, length, u'T') == 11)
	{
		shape = Shape::kDateTime;
		// n counts the fields read before the first that does not match, as formatted input does.
		if (scan.Integer(4, year) && ++n && scan.Literal(u'-') && scan.Integer(2, month) && ++n && scan.Literal(u'-')
			&& scan.Integer(2, day) && ++n && scan.Literal(u'T') && scan.Integer(2, hour) && ++n && scan.Literal(u':')
			&& scan.Integer(2, minute) && ++n && scan.Literal(u':') && scan.Seconds(seconds, ms))
			++n;
		if (year == 0 && month == 0 && day == 0)
		{
			if (n == 6)
				n = 3;
			else
				shape = Shape::kTime;
		}
	}
	else if (colon >= 3 && colon <= 5)
	{
		shape = Shape::kTime;
		if (scan.Integer(0, hour) && ++n && scan.Literal(u':') && scan.Integer(2, minute) && ++n && scan.Literal(u':')
			&& scan.Seconds(seconds, ms))
			++n;
	}
	else if (FirstPosition(units, length, u'-') == 5)
	{
		shape = Shape::kDate;
		if (scan.Integer(4, year) && ++n && scan.Literal(u'-') && scan.Integer(2, month) && ++n && scan.Literal(u'-')
			&& scan.Integer(2, day))
			++n;
	}
	else
	{
		shape = Shape::kTime;
		int32 number = 0;
		if (scan.Integer(0, number))
		{
			hour = number / 3600;
			minute = (number % 3600) / 60;
			n = 3;
		}
	}

	const bool utc = length < 11 || FirstPosition(units, length, u'Z') != 0;
	int32 sign = LastPosition(units, length, u'+');
	if (sign == 0)
	{
		const int32 minus = LastPosition(units, length, u'-');
		if (minus != 0 && (shape == Shape::kTime || minus >= 11))
			sign = minus;
	}

	if ((year != 0 || month != 0 || day != 0) && !ParsedDateExists(year, month, day))
		year = month = day = hour = minute = seconds = ms = 0;

	const bool accepted = (shape == Shape::kDateTime && (n == 6 || n == 3)) || (shape == Shape::kDate && n == 3)
		|| (shape == Shape::kTime && (n == 2 || n == 3));
	if (!accepted)
	{
		SetNull(true);
		return false;
	}
	const bool zeroDate = year == 0 && month == 0 && day == 0;
	if (shape == Shape::kDateTime && zeroDate && hour == 0 && minute == 0 && seconds == 0 && ms == 0)
	{
		SetNull(true);
		return true;
	}
	if (zeroDate)
	{
		// A time of day alone, kept unchecked as FromUTCTime keeps it; its zone is not read.
		const int64 total = int64(hour) * kMS_PER_HOUR + int64(minute) * kMS_PER_MINUTE + int64(seconds) * kMS_PER_SECOND + ms;
		FromStamp(uint64(uint32(total)));
		return true;
	}

	const bool dateOnly = shape == Shape::kDate;
	const int16 h = dateOnly ? 0 : ClampInt16(hour);
	const int16 mi = dateOnly ? 0 : ClampInt16(minute);
	const int16 s = dateOnly ? 0 : ClampInt16(seconds);
	if (utc)
	{
		FromUTCTime(int16(year), int16(month), int16(day), h, mi, s, 0);
	}
	else if (sign != 0)
	{
		Scanner offsetScan(units + sign, std::min(length - sign, kMaxScannedUnits));
		int32 offsetHours = 0, offsetMinutes = 0;
		if (!offsetScan.Integer(2, offsetHours) || !offsetScan.Literal(u':') || !offsetScan.Integer(2, offsetMinutes))
		{
			SetNull(true);
			return false;
		}
		if (dateOnly)
		{
			FromLocalTime(int16(year), int16(month), int16(day), 0, 0, 0, 0);
		}
		else
		{
			// The fields less the text's own offset are the UTC fields: no zone of this machine plays a part.
			const int64 offsetSeconds = (int64(offsetHours) * 60 + offsetMinutes) * 60 * (units[sign - 1] == u'-' ? -1 : 1);
			FromUTCTime(int16(year), int16(month), int16(day), h, mi, s, 0);
			if (!IsNull())
				_AddToCount(-offsetSeconds * kMS_PER_SECOND);
		}
	}
	else
	{
		FromLocalTime(int16(year), int16(month), int16(day), h, mi, s, 0);
	}
	if (!IsNull() && ms != 0)
		FromMilliseconds(GetMilliseconds() + ms);
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// XML and JSON forms

void VTime::GetXMLString(VString& text, uint32 options) const
{
	GetRfc3339String(text, options);
}

bool VTime::FromXMLString(const VString& text)
{
	const int32 length = text.GetLength();
	if (length >= 3 && text.GetUniChar(1) == u'!' && text.GetUniChar(2) == u'!')
	{
		// The text between the leading and the trailing marks.
		VString inner;
		inner.FromUniString(text.GetCPointer() + 2, length - 4);
		return FromRfc3339String(inner);
	}
	if (text.FindUniChar(u'!') == 0)
		return FromRfc3339String(text);
	FromString(text);
	return true;
}

VError VTime::GetJSONString(VString& json, uint32 options) const
{
	const uint32 rfcOptions =
		((options & kJSON_DATE_ONLY_AT_MIDNIGHT) != 0 && fMilliseconds == 0) ? (kRFC3339_UTC | kRFC3339_DATE_ONLY) : kRFC3339_UTC;
	const bool quoted = (options & kJSON_QUOTED) != 0;
	const bool marked = (options & kJSON_DATE_MARKS) != 0;
	if (!quoted && !marked)
	{
		GetRfc3339String(json, rfcOptions);
		return VE_OK;
	}
	VStr<255> rfc;
	GetRfc3339String(rfc, rfcOptions);
	VStr<255> wrapped;
	if (quoted)
		wrapped.AppendUniChar(u'"');
	if (marked)
		wrapped.AppendCString("!!");
	wrapped.AppendUniChars(rfc.GetCPointer(), rfc.GetLength());
	if (marked)
		wrapped.AppendCString("!!");
	if (quoted)
		wrapped.AppendUniChar(u'"');
	json.FromUniString(wrapped.GetCPointer(), wrapped.GetLength());
	return VE_OK;
}

VError VTime::FromJSONString(const VString& json, uint32)
{
	FromXMLString(json);
	return VE_OK;
}

VError VTime::GetJSONValue(VJSONValue& json, uint32 options) const
{
	if (IsNull())
	{
		json.SetNull();
		return VE_OK;
	}
	if ((options & kJSON_AS_DATE) != 0)
	{
		json.SetTime(*this);
		return VE_OK;
	}
	VString text;
	GetJSONString(text, 0);
	json.SetString(text);
	return VE_OK;
}

VError VTime::FromJSONValue(const VJSONValue& json)
{
	if (json.IsNull())
	{
		SetNull(true);
		return VE_OK;
	}
	if (json.IsDate())
	{
		// What the date's own text ("2024-03-05", UTC) would be read as: midnight UTC of that day.
		json.GetTime(*this);
		return VE_OK;
	}
	VString text;
	const VError error = json.GetString(text);
	if (error != VE_OK)
		return error;
	FromXMLString(text);
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// RFC 822

void VTime::GetRfc822String(VString& text) const
{
	int16 f[7];
	GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	const bool named = !IsNull() && f[1] >= 1 && f[1] <= 12;
	TextBuilder out;
	if (named)
		out.Text(kWeekDayNames[GetWeekDay()]);
	out.Text(", ");
	out.Number(f[2], 2);
	out.Char(' ');
	if (named)
		out.Text(kMonthNames[f[1] - 1]);
	out.Char(' ');
	out.Number(f[0], 4);
	out.Char(' ');
	out.ClockTime(f[3], f[4], f[5]);
	out.Text(" GMT");
	out.Store(text);
}

void VTime::FromRfc822String(const VString& text)
{
	const UniChar* units = text.GetCPointer();
	const int32 length = text.IsNull() ? 0 : text.GetLength();
	// The calling task's manager classes the characters and compares month names without regard to case
	// or accents ("Mär", "JÁN"); without one, ASCII stands in.
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	const auto isDigit = [intl](UniChar c) { return intl != nullptr ? intl->IsDigit(c) : IsDigit(c); };
	const auto isLetter = [intl](UniChar c) { return intl != nullptr ? intl->IsAlpha(c) : IsAsciiLetter(c); };
	int32 pos = 0;
	const auto number = [&]() -> int32 {
		while (pos < length && !isDigit(units[pos]))
			++pos;
		int64 value = 0;
		while (pos < length && isDigit(units[pos]))
		{
			// A digit of another script ends no field but counts for nothing.
			const int64 digit = IsDigit(units[pos]) ? units[pos] - u'0' : 0;
			value = std::min<int64>(value * 10 + digit, std::numeric_limits<int16>::max());
			++pos;
		}
		return int32(value);
	};
	const int32 day = number();
	while (pos < length && !isLetter(units[pos]))
		++pos;
	const int32 nameStart = pos;
	while (pos < length && isLetter(units[pos]))
		++pos;
	int32 month = 0;
	if (intl == nullptr)
	{
		month = MonthOfName(units + nameStart, pos - nameStart);
	}
	else
	{
		for (int32 m = 0; m < 12 && month == 0 && pos > nameStart; ++m)
		{
			const UniChar name[3] = {UniChar(kMonthNames[m][0]), UniChar(kMonthNames[m][1]), UniChar(kMonthNames[m][2])};
			if (intl->EqualString(units + nameStart, pos - nameStart, name, 3, false))
				month = m + 1;
		}
	}
	const int32 year = number();
	const int32 hour = number();
	const int32 minute = number();
	const int32 second = number();
	FromUTCTime(int16(year), int16(month), int16(day), int16(hour), int16(minute), int16(second), 0);
}

// ---------------------------------------------------------------------------------------------------------
// Numeric and "!" forms

void VTime::FromString(const VString& text)
{
	const UniChar* units = text.GetCPointer();
	const int32 length = text.IsNull() ? 0 : text.GetLength();
	int16 fields[7] = {};
	int32 stored = 0;
	bool bangForm = false;
	bool pending = false;
	int64 number = 0;
	const auto flush = [&] {
		if (pending && stored < 7)
			fields[stored++] = int16(number);
		pending = false;
		number = 0;
	};
	for (int32 i = 0; i < length; ++i)
	{
		const UniChar c = units[i];
		if (IsDigit(c))
		{
			// Kept to 32 bits like the number it stands for; only its low 16 bits are read.
			number = (number * 10 + (c - u'0')) & 0xFFFFFFFF;
			pending = true;
			continue;
		}
		if (c == u'!' && !bangForm)
		{
			if (stored == 0)
			{
				bangForm = true;
			}
			else
			{
				pending = false;
				break;
			}
		}
		flush();
	}
	flush();
	if (!bangForm)
	{
		FromUTCTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]);
		return;
	}
	const int16 day = fields[0], month = fields[1], year = fields[2];
	if (day == 0 && month == 0 && year == 0)
	{
		Clear();
		return;
	}
	if (!CheckDate(year, month, day))
	{
		Clear();
		SetNull(true);
		return;
	}
	FromUTCTime(year, month, day, 0, 0, 0, 0);
}

void VTime::toSimpleDateString(VString& text) const
{
	if (IsNull())
	{
		text.Clear();
		text.SetNull(true);
		return;
	}
	TextBuilder out;
	out.Number(fDay, 1);
	out.Char('!');
	out.Number(fMonth, 1);
	out.Char('!');
	out.Number(int16(fYear), 1);
	out.Store(text);
}

void VTime::GetStringLocalTime(VString& text) const
{
	text.Clear();
	if (IsNull())
		return;
	int16 f[7];
	_GetLocalFields(f);
	TextBuilder out;
	out.IsoDate(f[0], f[1], f[2]);
	out.Char(' ');
	out.ClockTime(f[3], f[4], f[5]);
	out.Char(':');
	out.Number(f[6], 3);
	out.Append(text);
}

void VTime::FromCompilerDateTime(const char* date, const char* time)
{
	// The compiler's texts are short; anything longer is cut rather than overrun the buffer.
	char joined[256];
	std::snprintf(joined, sizeof joined, "%s %s", date != nullptr ? date : "", time != nullptr ? time : "");
	int16 fields[6] = {};
	int32 count = 0;
	const char* p = joined;
	while (*p != 0 && count < 6)
	{
		while (*p == ' ' || *p == ',' || *p == ':')
			++p;
		if (*p == 0)
			break;
		const char* start = p;
		while (*p != 0 && *p != ' ' && *p != ',' && *p != ':')
			++p;
		const size_t tokenLength = size_t(p - start);
		if (count == 0)
		{
			int16 month = 0;
			for (int32 m = 0; m < 12 && month == 0; ++m)
			{
				const char* name = kMonthNames[m];
				if (tokenLength == 3 && (start[0] == name[0] || start[0] == name[0] + 32) && start[1] == name[1] && start[2] == name[2])
					month = int16(m + 1);
			}
			fields[0] = month;
		}
		else
		{
			// atoi's reading, kept within 16 bits.
			char token[256];
			std::memcpy(token, start, tokenLength);
			token[tokenLength] = 0;
			fields[count] = ClampInt16(std::strtol(token, nullptr, 10));
		}
		++count;
	}
	// Month, day, year, hour, minute, second.
	FromLocalTime(fields[2], fields[0], fields[1], fields[3], fields[4], fields[5], 0);
}

// ---------------------------------------------------------------------------------------------------------
// Display texts

// Formatted by the calling task's manager; without one (a thread outside the task system, before the
// process's first manager) the texts stay empty.
void VTime::FormatByOS(VString& text, bool utc) const
{
	VString time;
	FormatByOS(text, time, utc);
	if (!text.IsEmpty() || !time.IsEmpty())
		text.AppendUniChar(u' ').AppendUniChars(time.GetCPointer(), time.GetLength());
}

void VTime::FormatByOS(VString& date, VString& time, bool utc) const
{
	date.Clear();
	time.Clear();
	VIntlMgr* intl = VTask::GetCurrentIntlManager();
	if (IsNull() || intl == nullptr)
		return;
	intl->FormatDate(*this, date, eOS_SHORT_FORMAT, utc);
	intl->FormatTime(*this, time, eOS_SHORT_FORMAT, utc);
}

void VTime::GetString(VString& text) const
{
	FormatByOS(text, true);
}

}  // namespace velk
