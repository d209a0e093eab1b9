// The international manager's locale texts and dates: the texts read from the platform when a manager is
// made, the forwarding of date, time and duration formats to the platform half, and the toolbox's own
// pattern formatter.
#include "kernel/intl/VIntlMgr.h"

#include <algorithm>
#include <string_view>

#include "kernel/values/VDuration.h"
#include "kernel/values/VTime.h"

namespace velk {

namespace {

constexpr UniChar kGENERIC_CURRENCY_SIGN = 0x00A4;
constexpr UniChar kEURO_SIGN = 0x20AC;

bool IsASCIILetter(UniChar inUnit)
{
	return (inUnit >= u'a' && inUnit <= u'z') || (inUnit >= u'A' && inUnit <= u'Z');
}

// Reads a platform pattern: text between two apostrophes or two quotation marks is skipped, each ASCII
// letter goes to inLetter, and the first other unit becomes the separator.
template <typename OnLetter>
void ScanPattern(const VString& inPattern, VString& outSeparator, OnLetter inLetter)
{
	const UniChar* units = inPattern.GetCPointer();
	const int32 length = inPattern.GetLength();
	bool separatorFound = false;
	for (int32 i = 0; i < length; ++i)
	{
		const UniChar unit = units[i];
		if (unit == u'\'' || unit == u'"')
		{
			while (i + 1 < length && units[i + 1] != unit)
				++i;
			++i;
		}
		else if (IsASCIILetter(unit))
		{
			inLetter(unit);
		}
		else if (!separatorFound)
		{
			outSeparator.FromUniString(&unit, 1);
			separatorFound = true;
		}
	}
}

EDateOrder DateOrderOf(const char* inOrder)
{
	struct Row
	{
		const char* order;
		EDateOrder dateOrder;
	};
	static constexpr Row kOrders[] = {
		{"Mdy", DO_MONTH_DAY_YEAR}, {"dMy", DO_DAY_MONTH_YEAR}, {"yMd", DO_YEAR_MONTH_DAY},
		{"Myd", DO_MONTH_YEAR_DAY}, {"dyM", DO_DAY_YEAR_MONTH}, {"ydM", DO_YEAR_DAY_MONTH},
	};
	for (const Row& row : kOrders)
	{
		if (std::string_view(row.order) == inOrder)
			return row.dateOrder;
	}
	return DO_MONTH_DAY_YEAR;
}

// "%0*d": the number zero-padded to the width, which may be any size.
void AppendPadded(VString& ioText, int64 inValue, int32 inWidth)
{
	const bool negative = inValue < 0;
	uint64 magnitude = negative ? 0 - uint64(inValue) : uint64(inValue);
	UniChar digits[20];
	int32 count = 0;
	do
	{
		digits[count++] = UniChar(u'0' + magnitude % 10);
		magnitude /= 10;
	} while (magnitude != 0);
	if (negative)
		ioText.AppendUniChar(u'-');
	for (int32 zeros = inWidth - count - (negative ? 1 : 0); zeros > 0; --zeros)
		ioText.AppendUniChar(u'0');
	while (count > 0)
		ioText.AppendUniChar(digits[--count]);
}

// The first inCount characters of a name (a surrogate pair counts as one).
void AppendFirstCharacters(VString& ioText, const VString& inName, int32 inCount)
{
	const UniChar* units = inName.GetCPointer();
	int32 end = 0;
	for (int32 character = 0; character < inCount && end < inName.GetLength(); ++character)
	{
		const bool pair = units[end] >= 0xD800 && units[end] <= 0xDBFF && end + 1 < inName.GetLength();
		end += pair ? 2 : 1;
	}
	ioText.AppendUniChars(units, end);
}

}  // namespace

bool VIntlMgr::_InitLocaleVariables()
{
	fMacIntlMgr.GetNumberTexts(fDecimalSeparator, fThousandsSeparator, fCurrency);
	// A locale without a region has the generic currency sign, which no user writes.
	if (fCurrency.GetLength() == 1 && fCurrency.GetUniChar(1) == kGENERIC_CURRENCY_SIGN)
		fCurrency.FromUniString(&kEURO_SIGN, 1);

	VString pattern;
	if (fMacIntlMgr.GetFormatterTexts(XMacIntlMgr::eStyleNone, XMacIntlMgr::eStyleShort, pattern, &fAMString, &fPMString))
	{
		ScanPattern(pattern, fTimeSeparator, [this](UniChar letter) {
			if (letter == u'a')
				fUse12HourClock = true;
		});
	}
	if (fMacIntlMgr.GetFormatterTexts(XMacIntlMgr::eStyleShort, XMacIntlMgr::eStyleNone, pattern, nullptr, nullptr))
	{
		char order[4] = {};
		size_t found = 0;
		ScanPattern(pattern, fDateSeparator, [&](UniChar letter) {
			if ((letter == u'M' || letter == u'd' || letter == u'y') && std::find(order, order + found, char(letter)) == order + found)
				order[found++] = char(letter);
		});
		fDateOrder = DateOrderOf(order);
	}

	struct Format
	{
		XMacIntlMgr::EFormatterStyle date;
		XMacIntlMgr::EFormatterStyle time;
		VString* pattern;
	};
	const Format formats[] = {
		{XMacIntlMgr::eStyleNone, XMacIntlMgr::eStyleShort, &fShortTimePattern},
		{XMacIntlMgr::eStyleNone, XMacIntlMgr::eStyleMedium, &fMediumTimePattern},
		{XMacIntlMgr::eStyleNone, XMacIntlMgr::eStyleLong, &fLongTimePattern},
		{XMacIntlMgr::eStyleNone, XMacIntlMgr::eStyleFull, &fFullTimePattern},
		{XMacIntlMgr::eStyleShort, XMacIntlMgr::eStyleNone, &fShortDatePattern},
		{XMacIntlMgr::eStyleMedium, XMacIntlMgr::eStyleNone, &fMediumDatePattern},
		{XMacIntlMgr::eStyleLong, XMacIntlMgr::eStyleNone, &fLongDatePattern},
		{XMacIntlMgr::eStyleFull, XMacIntlMgr::eStyleNone, &fFullDatePattern},
	};
	for (const Format& format : formats)
		fMacIntlMgr.GetFormatterTexts(format.date, format.time, *format.pattern, nullptr, nullptr);
	return true;
}

void VIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC)
{
	fMacIntlMgr.FormatDate(inTime, outText, inFormat, inUTC);
}

void VIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC)
{
	fMacIntlMgr.FormatTime(inTime, outText, inFormat, inUTC);
}

void VIntlMgr::FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat)
{
	fMacIntlMgr.FormatDuration(inDuration, outText, inFormat);
}

void VIntlMgr::GetMonthName(int32 inMonth, bool inShort, VString& outName)
{
	if (inMonth >= 1 && inMonth <= 12)
		fMacIntlMgr.GetMonthName(inMonth, inShort, outName);
	else
		outName.Clear();
}

void VIntlMgr::GetWeekDayName(int32 inDay, bool inShort, VString& outName)
{
	if (inDay >= 0 && inDay <= 6)
		fMacIntlMgr.GetWeekDayName(inDay, inShort, outName);
	else
		outName.Clear();
}

void VIntlMgr::FormatDateTimeWithPattern(const VTime& inTime, const VString& inPattern, bool inUTC, const VString* inMonthText, VString& outText)
{
	int16 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
	if (inUTC)
		inTime.GetUTCTime(year, month, day, hour, minute, second, ms);
	else
		inTime.GetLocalTime(year, month, day, hour, minute, second, ms);

	// Fields are written as they are read, so a run of any width costs no buffer of its own.
	VString text;
	VString name;
	const UniChar* units = inPattern.GetCPointer();
	const int32 length = inPattern.GetLength();
	for (int32 i = 0; i < length;)
	{
		const UniChar letter = units[i];
		int32 run = 1;
		while (i + run < length && units[i + run] == letter)
			++run;
		// The letters one field takes; the rest of the run starts the next field.
		auto take = [run](int32 inMost) { return std::min(run, inMost); };
		int32 used = run;
		switch (letter)
		{
			case u'G':
				used = take(5);
				text.AppendCString(used <= 3 ? "AD" : (used == 4 ? "Anno Domini" : "A"));
				break;
			case u'y':
			case u'Y':
				used = take(999);
				AppendPadded(text, year, used);
				break;
			case u'M':
			case u'L':
				used = take(5);
				if (used <= 2)
				{
					AppendPadded(text, month, used);
					break;
				}
				if (inMonthText != nullptr)
					name = *inMonthText;
				else
					GetMonthName(month, used == 3, name);
				if (used == 5)
					AppendFirstCharacters(text, name, 1);
				else
					text.AppendUniChars(name.GetCPointer(), name.GetLength());
				break;
			case u'd':
				used = take(2);
				AppendPadded(text, day, used);
				break;
			case u'D':
				used = take(3);
				AppendPadded(text, VTime::ComputeYearDay(year, month, day), used);
				break;
			case u'E':
				used = take(6);
				GetWeekDayName(VTime::ComputeWeekDay(year, month, day), used <= 3, name);
				if (used <= 4)
					text.AppendUniChars(name.GetCPointer(), name.GetLength());
				else
					AppendFirstCharacters(text, name, used - 4);
				break;
			case u'g':
				used = take(999);
				AppendPadded(text, VTime::ComputeJulianDay(year, month, day), used);
				break;
			case u'H':
				used = take(2);
				AppendPadded(text, hour, used);
				break;
			case u'k':
				used = take(2);
				AppendPadded(text, hour == 0 ? 24 : hour, used);
				break;
			case u'K':
				used = take(2);
				AppendPadded(text, hour % 12, used);
				break;
			case u'h':
				used = take(2);
				AppendPadded(text, hour % 12 == 0 ? 12 : hour % 12, used);
				break;
			case u'm':
				used = take(2);
				AppendPadded(text, minute, used);
				break;
			case u's':
				used = take(2);
				AppendPadded(text, second, used);
				break;
			case u'a':
				used = 1;
				text.AppendCString(hour >= 12 ? "PM" : "AM");
				break;
			case u'A':
			case u'F':
			case u'Q':
			case u'S':
			case u'V':
			case u'W':
			case u'Z':
			case u'c':
			case u'e':
			case u'q':
			case u'u':
			case u'v':
			case u'w':
			case u'z':
				break;
			default:
				used = 1;
				text.AppendUniChar(letter);
				break;
		}
		i += used;
	}
	outText = text;
}

bool VIntlMgr::CustomFormatTime(const VTime& /*inTime*/, bool /*inUTC*/, const VString& /*inFormat*/, VString& outText) const
{
	outText.Clear();
	return false;
}

}  // namespace velk
