// The platform half of the international manager over the platform locale, its date formatter and ICU's
// case mapping.
#include "kernel/intl/mac/XMacIntlMgr.h"

#include <strings.h>

#include <algorithm>
#include <iterator>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <unicode/ustring.h>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VTime.h"
#include "platform/DateFormat.h"
#include "platform/Locale.h"

namespace velk {

namespace {

// The day number (VTime's calendar) of 1970-01-01, where the formatter counts from.
constexpr int64 kDAY_NUMBER_OF_1970 = 2440587;
constexpr int64 kMS_PER_DAY = 86400000;

void AssignText(VString& outText, const std::u16string& inText)
{
	outText.FromUniString(reinterpret_cast<const UniChar*>(inText.data()), int32(inText.size()));
}

plat::DateStyle PlatformStyle(XMacIntlMgr::EFormatterStyle inStyle)
{
	switch (inStyle)
	{
		case XMacIntlMgr::eStyleShort:
			return plat::DateStyle::kShort;
		case XMacIntlMgr::eStyleMedium:
			return plat::DateStyle::kMedium;
		case XMacIntlMgr::eStyleLong:
			return plat::DateStyle::kLong;
		case XMacIntlMgr::eStyleFull:
			return plat::DateStyle::kFull;
		case XMacIntlMgr::eStyleNone:
			break;
	}
	return plat::DateStyle::kNone;
}

// Milliseconds since 1970 of a date and time of day, both counted in GMT.
double MsSince1970(int32 inYear, int32 inMonth, int32 inDay, int64 inMsOfDay)
{
	return double((VTime::ComputeJulianDay(inYear, inMonth, inDay) - kDAY_NUMBER_OF_1970) * kMS_PER_DAY + inMsOfDay);
}

}  // namespace

XMacIntlMgr::XMacIntlMgr(uint32 inDialect) : fDialect(inDialect)
{
}

// The caches are the source's: a copy makes its own on first use.
XMacIntlMgr::XMacIntlMgr(const XMacIntlMgr& inOther) : fDialect(inOther.fDialect)
{
}

XMacIntlMgr::~XMacIntlMgr()
{
	if (fLocale != nullptr)
		fLocale->Release();
}

plat::Locale* XMacIntlMgr::CreateCFLocaleRef(uint32 inDialect)
{
	VString code;
	if (!VIntlMgr::GetBCP47LanguageCode(inDialect, code))
		return nullptr;
	char tag[80];
	code.ToBlock(tag, sizeof(tag), kCharSet_UTF8, true, false);
	return plat::Locale::Create(tag);
}

plat::Locale* XMacIntlMgr::GetCFLocaleRef()
{
	if (fLocale != nullptr)
		return fLocale;
	if (fDialect == VIntlMgr::ResolveDialectCode(0))
	{
		// Linux has no locale object of the user's: the locale of the first preferred language stands for
		// it, so that its region (a "de" user in Austria) still reaches the formats.
		plat::Locale* current = plat::Locale::CopyCurrent();
		const char* language = VIntlMgr::GetISO6391LanguageCode(fDialect);
		if (current != nullptr && language != nullptr && strcasecmp(current->GetLanguageCode().c_str(), language) == 0)
		{
			fLocale = current;
			return fLocale;
		}
		if (current != nullptr)
			current->Release();
	}
	fLocale = CreateCFLocaleRef(fDialect);
	return fLocale;
}

plat::Locale* XMacIntlMgr::RetainCFLocaleRef()
{
	plat::Locale* locale = GetCFLocaleRef();
	if (locale != nullptr)
		locale->Retain();
	return locale;
}

bool XMacIntlMgr::ToUpperLowerCase(const UniChar* inText, int32 inLength, UniChar* outText, int32& ioLength, bool inUpper)
{
	if (inLength <= 0)
	{
		ioLength = 0;
		return true;
	}
	const int32 room = std::max(ioLength, 0);
	auto map = [&](UniChar* dest, int32 capacity, UErrorCode& status) {
		// The root locale: the mapping must not depend on the dialect (no Turkish dotted i, no Lithuanian
		// dot), as the platform's locale-less mapping.
		return inUpper ? u_strToUpper(reinterpret_cast<UChar*>(dest), capacity, reinterpret_cast<const UChar*>(inText), inLength, "", &status)
					   : u_strToLower(reinterpret_cast<UChar*>(dest), capacity, reinterpret_cast<const UChar*>(inText), inLength, "", &status);
	};
	UErrorCode status = U_ZERO_ERROR;
	const int32 needed = map(outText, room, status);
	if (status == U_BUFFER_OVERFLOW_ERROR)
	{
		// ICU leaves the room's content unspecified on overflow: map again in full and copy what fits.
		std::unique_ptr<UniChar[]> full(new (std::nothrow) UniChar[size_t(needed)]);
		if (full == nullptr)
			return false;
		status = U_ZERO_ERROR;
		map(full.get(), needed, status);
		if (U_FAILURE(status))
			return false;
		std::memcpy(outText, full.get(), size_t(room) * sizeof(UniChar));
	}
	else if (U_FAILURE(status))
	{
		return false;
	}
	ioLength = needed;
	return needed > 0;
}

// ---------------------------------------------------------------------------------------------------------
// Dates and times

void XMacIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC)
{
	// The long style of the manager's dates is the platform's full one, with the weekday.
	static constexpr EFormatterStyle kStyles[] = {eStyleShort, eStyleMedium, eStyleFull};
	if (inFormat >= 0 && inFormat < int32(std::size(kStyles)))
		FormatVTime(inTime, outText, kStyles[inFormat], eStyleNone, inUTC);
}

void XMacIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC)
{
	static constexpr EFormatterStyle kStyles[] = {eStyleShort, eStyleMedium, eStyleLong};
	if (inFormat >= 0 && inFormat < int32(std::size(kStyles)))
		FormatVTime(inTime, outText, eStyleNone, kStyles[inFormat], inUTC);
}

void XMacIntlMgr::FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat)
{
	static constexpr EFormatterStyle kStyles[] = {eStyleShort, eStyleMedium, eStyleLong};
	if (inFormat >= 0 && inFormat < int32(std::size(kStyles)))
		FormatVDuration(inDuration, outText, eStyleNone, kStyles[inFormat]);
}

void XMacIntlMgr::FormatVTime(const VTime& inTime, VString& outText, plat::DateFormatter& inFormatter, bool inUTC)
{
	outText.Clear();
	int16 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
	inTime.GetUTCTime(year, month, day, hour, minute, second, ms);
	const double when = MsSince1970(year, month, day, (int64(hour) * 3600 + int64(minute) * 60 + second) * 1000);
	std::u16string text;
	if (inFormatter.Format(when, inUTC, text))
		AssignText(outText, text);
}

void XMacIntlMgr::FormatVTime(const VTime& inTime, VString& outText, EFormatterStyle inDateStyle, EFormatterStyle inTimeStyle, bool inUTC)
{
	outText.Clear();
	const plat::Locale* locale = GetCFLocaleRef();
	if (locale == nullptr)
		return;
	std::unique_ptr<plat::DateFormatter> formatter = plat::DateFormatter::Create(*locale, PlatformStyle(inDateStyle), PlatformStyle(inTimeStyle));
	if (formatter != nullptr)
		FormatVTime(inTime, outText, *formatter, inUTC);
}

void XMacIntlMgr::FormatVTimeWithTemplate(const VTime& inTime, VString& outText, const VString& inTemplate, bool inUTC)
{
	outText.Clear();
	const plat::Locale* locale = GetCFLocaleRef();
	if (locale == nullptr)
		return;
	std::unique_ptr<plat::DateFormatter> formatter = plat::DateFormatter::CreateFromTemplate(
		*locale, reinterpret_cast<const char16_t*>(inTemplate.GetCPointer()), inTemplate.GetLength());
	if (formatter != nullptr)
		FormatVTime(inTime, outText, *formatter, inUTC);
}

void XMacIntlMgr::FormatVDuration(const VDuration& inDuration, VString& outText, EFormatterStyle inDateStyle, EFormatterStyle inTimeStyle)
{
	outText.Clear();
	const plat::Locale* locale = GetCFLocaleRef();
	if (locale == nullptr)
		return;
	std::unique_ptr<plat::DateFormatter> formatter = plat::DateFormatter::Create(*locale, PlatformStyle(inDateStyle), PlatformStyle(inTimeStyle));
	if (formatter == nullptr)
		return;
	int32 days = 0, hours = 0, minutes = 0, seconds = 0, ms = 0;
	inDuration.GetDuration(days, hours, minutes, seconds, ms);
	// The fields are a date of year 0, month 0 and a time of day, read and shown in GMT: in the local zone
	// an hour's duration would read 2:00 an hour east of Greenwich.
	const double when = MsSince1970(0, 0, days, (int64(hours) * 3600 + int64(minutes) * 60 + seconds) * 1000);
	std::u16string text;
	if (formatter->Format(when, true, text))
		AssignText(outText, text);
}

bool XMacIntlMgr::GetMonthName(int32 inMonth, bool inShort, VString& outName)
{
	outName.Clear();
	if (inMonth < 1 || inMonth > 12 || !LoadCalendarSymbols())
		return false;
	const std::vector<std::u16string>& names = inShort ? fShortMonthNames : fMonthNames;
	if (size_t(inMonth) > names.size())
		return false;
	AssignText(outName, names[size_t(inMonth) - 1]);
	return true;
}

bool XMacIntlMgr::GetWeekDayName(int32 inDay, bool inShort, VString& outName)
{
	outName.Clear();
	if (inDay < 0 || inDay > 6 || !LoadCalendarSymbols())
		return false;
	const std::vector<std::u16string>& names = inShort ? fShortWeekdayNames : fWeekdayNames;
	if (size_t(inDay) >= names.size())
		return false;
	AssignText(outName, names[size_t(inDay)]);
	return true;
}

bool XMacIntlMgr::LoadCalendarSymbols()
{
	struct List
	{
		std::vector<std::u16string>* names;
		plat::CalendarNames which;
	};
	const List lists[] = {
		{&fWeekdayNames, plat::CalendarNames::kWeekdays},
		{&fMonthNames, plat::CalendarNames::kMonths},
		{&fShortWeekdayNames, plat::CalendarNames::kShortWeekdays},
		{&fShortMonthNames, plat::CalendarNames::kShortMonths},
	};
	bool complete = true;
	for (const List& list : lists)
		complete = complete && !list.names->empty();
	if (complete)
		return true;
	const plat::Locale* locale = GetCFLocaleRef();
	if (locale == nullptr)
		return false;
	std::unique_ptr<plat::DateFormatter> formatter = plat::DateFormatter::Create(*locale, plat::DateStyle::kNone, plat::DateStyle::kNone);
	if (formatter == nullptr)
		return false;
	complete = true;
	for (const List& list : lists)
	{
		if (list.names->empty())
			formatter->GetCalendarNames(list.which, *list.names);
		complete = complete && !list.names->empty();
	}
	return complete;
}

// ---------------------------------------------------------------------------------------------------------
// Locale texts

void XMacIntlMgr::GetNumberTexts(VString& outDecimal, VString& outThousands, VString& outCurrency)
{
	outDecimal.Clear();
	outThousands.Clear();
	outCurrency.Clear();
	const plat::Locale* locale = GetCFLocaleRef();
	if (locale == nullptr)
		return;
	AssignText(outDecimal, locale->GetNumberSymbol(plat::NumberSymbol::kDecimalSeparator));
	AssignText(outThousands, locale->GetNumberSymbol(plat::NumberSymbol::kGroupingSeparator));
	AssignText(outCurrency, locale->GetNumberSymbol(plat::NumberSymbol::kCurrencySymbol));
}

bool XMacIntlMgr::GetFormatterTexts(EFormatterStyle inDateStyle, EFormatterStyle inTimeStyle, VString& outPattern, VString* outAM, VString* outPM)
{
	outPattern.Clear();
	const plat::Locale* locale = GetCFLocaleRef();
	if (locale == nullptr)
		return false;
	std::unique_ptr<plat::DateFormatter> formatter = plat::DateFormatter::Create(*locale, PlatformStyle(inDateStyle), PlatformStyle(inTimeStyle));
	if (formatter == nullptr)
		return false;
	AssignText(outPattern, formatter->GetPattern());
	if (outAM != nullptr)
		AssignText(*outAM, formatter->GetAMSymbol());
	if (outPM != nullptr)
		AssignText(*outPM, formatter->GetPMSymbol());
	return true;
}

}  // namespace velk
