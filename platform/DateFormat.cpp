#include "platform/DateFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <new>

#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/udatpg.h>

#include "platform/Locale.h"

namespace plat {

namespace {

// A text the library writes into a buffer the caller sizes: read into a small one, again into one of the
// size asked for when that is too small. Empty on failure.
template <typename Read>
std::u16string ReadText(Read read)
try
{
	UChar local[128];
	UErrorCode status = U_ZERO_ERROR;
	const int32_t length = read(local, int32_t(std::size(local)), &status);
	if (status == U_BUFFER_OVERFLOW_ERROR)
	{
		std::u16string text(size_t(length), u'\0');
		status = U_ZERO_ERROR;
		read(reinterpret_cast<UChar*>(text.data()), length, &status);
		return U_SUCCESS(status) ? text : std::u16string();
	}
	if (U_FAILURE(status) || length <= 0)
		return std::u16string();
	return std::u16string(reinterpret_cast<const char16_t*>(local), size_t(length));
}
catch (const std::bad_alloc&)
{
	return std::u16string();
}

UDateFormatStyle LibraryStyle(DateStyle style)
{
	switch (style)
	{
		case DateStyle::kShort:
			return UDAT_SHORT;
		case DateStyle::kMedium:
			return UDAT_MEDIUM;
		case DateStyle::kLong:
			return UDAT_LONG;
		case DateStyle::kFull:
			return UDAT_FULL;
		case DateStyle::kNone:
			break;
	}
	return UDAT_NONE;
}

// Formatters are opened in GMT and given their zone at each Format, so the library's own default zone,
// read once per process, never plays a part.
constexpr UChar kGMT[] = u"GMT";

// The zone of the C library at an instant, as a zone of the formatting library: the host's zone when the
// library knows it and agrees on the offset at that instant, else a fixed offset ("GMT+01:00"). A POSIX
// rule in TZ ("CET-1CEST,M3.5.0,M10.5.0/3") names no zone the library knows.
std::u16string LocalZoneAt(double msSince1970)
{
	const time_t seconds = time_t(std::floor(msSince1970 / 1000.0));
	struct tm local = {};
	if (localtime_r(&seconds, &local) == nullptr)
		return std::u16string(kGMT);
	const long offsetMs = local.tm_gmtoff * 1000L;

	std::u16string host = ReadText([](UChar* out, int32_t room, UErrorCode* status) { return ucal_getHostTimeZone(out, room, status); });
	if (!host.empty() && host != u"Etc/Unknown")
	{
		UErrorCode status = U_ZERO_ERROR;
		UCalendar* calendar = ucal_open(reinterpret_cast<const UChar*>(host.data()), int32_t(host.size()), "", UCAL_GREGORIAN, &status);
		if (U_SUCCESS(status))
		{
			ucal_setMillis(calendar, msSince1970, &status);
			const int32_t offset = ucal_get(calendar, UCAL_ZONE_OFFSET, &status) + ucal_get(calendar, UCAL_DST_OFFSET, &status);
			if (U_SUCCESS(status) && offset == offsetMs)
			{
				ucal_close(calendar);
				return host;
			}
		}
		ucal_close(calendar);
	}
	const long minutes = std::labs(offsetMs) / 60000L;
	char text[24];
	std::snprintf(text, sizeof(text), "GMT%c%02ld:%02ld", offsetMs < 0 ? '-' : '+', minutes / 60, minutes % 60);
	std::u16string zone;
	for (const char* c = text; *c != 0; ++c)
		zone.push_back(char16_t(*c));
	return zone;
}

UDateFormatSymbolType LibrarySymbols(CalendarNames which)
{
	switch (which)
	{
		case CalendarNames::kWeekdays:
			return UDAT_WEEKDAYS;
		case CalendarNames::kMonths:
			return UDAT_MONTHS;
		case CalendarNames::kShortWeekdays:
			return UDAT_SHORT_WEEKDAYS;
		case CalendarNames::kShortMonths:
			break;
	}
	return UDAT_SHORT_MONTHS;
}

}  // namespace

std::unique_ptr<DateFormatter> DateFormatter::Create(const Locale& locale, DateStyle dateStyle, DateStyle timeStyle)
{
	UErrorCode status = U_ZERO_ERROR;
	UDateFormat* format = nullptr;
	if (dateStyle == DateStyle::kNone && timeStyle == DateStyle::kNone)
		format = udat_open(UDAT_PATTERN, UDAT_PATTERN, locale.GetName(), kGMT, -1, u"", 0, &status);
	else
		format = udat_open(LibraryStyle(timeStyle), LibraryStyle(dateStyle), locale.GetName(), kGMT, -1, nullptr, 0, &status);
	if (U_FAILURE(status))
		return nullptr;
	std::unique_ptr<DateFormatter> formatter(new (std::nothrow) DateFormatter(format));
	if (formatter == nullptr)
		udat_close(format);
	return formatter;
}

std::unique_ptr<DateFormatter> DateFormatter::CreateFromTemplate(const Locale& locale, const char16_t* text, int32_t length)
{
	if (text == nullptr || length <= 0)
		return nullptr;
	UErrorCode status = U_ZERO_ERROR;
	UDateTimePatternGenerator* generator = udatpg_open(locale.GetName(), &status);
	if (U_FAILURE(status))
		return nullptr;
	const std::u16string pattern = ReadText([&](UChar* out, int32_t room, UErrorCode* error) {
		return udatpg_getBestPattern(generator, reinterpret_cast<const UChar*>(text), length, out, room, error);
	});
	udatpg_close(generator);
	if (pattern.empty())
		return nullptr;
	UDateFormat* format = udat_open(UDAT_PATTERN, UDAT_PATTERN, locale.GetName(), kGMT, -1,
		reinterpret_cast<const UChar*>(pattern.data()), int32_t(pattern.size()), &status);
	if (U_FAILURE(status))
		return nullptr;
	std::unique_ptr<DateFormatter> formatter(new (std::nothrow) DateFormatter(format));
	if (formatter == nullptr)
		udat_close(format);
	return formatter;
}

DateFormatter::~DateFormatter()
{
	udat_close(static_cast<UDateFormat*>(fFormat));
}

std::u16string DateFormatter::GetPattern() const
{
	return ReadText([this](UChar* out, int32_t room, UErrorCode* status) {
		return udat_toPattern(static_cast<const UDateFormat*>(fFormat), false, out, room, status);
	});
}

bool DateFormatter::Format(double msSince1970, bool inGMT, std::u16string& out)
{
	out.clear();
	UDateFormat* format = static_cast<UDateFormat*>(fFormat);
	const std::u16string zone = inGMT ? std::u16string(kGMT) : LocalZoneAt(msSince1970);
	if (zone.empty())
		return false;
	// The formatter's own calendar (Buddhist for Thai, ...) keeps its kind and takes the zone.
	UErrorCode status = U_ZERO_ERROR;
	UCalendar* calendar = ucal_clone(udat_getCalendar(format), &status);
	if (U_FAILURE(status))
		return false;
	ucal_setTimeZone(calendar, reinterpret_cast<const UChar*>(zone.data()), int32_t(zone.size()), &status);
	if (U_SUCCESS(status))
		udat_setCalendar(format, calendar);
	ucal_close(calendar);
	if (U_FAILURE(status))
		return false;
	out = ReadText([&](UChar* text, int32_t room, UErrorCode* error) { return udat_format(format, msSince1970, text, room, nullptr, error); });
	return !out.empty();
}

bool DateFormatter::GetCalendarNames(CalendarNames which, std::vector<std::u16string>& out) const
try
{
	out.clear();
	const UDateFormat* format = static_cast<const UDateFormat*>(fFormat);
	const UDateFormatSymbolType type = LibrarySymbols(which);
	const int32_t count = udat_countSymbols(format, type);
	// The library's weekday lists are numbered from 1 (Sunday), slot 0 being empty.
	const int32_t first = (which == CalendarNames::kWeekdays || which == CalendarNames::kShortWeekdays) ? 1 : 0;
	for (int32_t i = first; i < count; ++i)
		out.push_back(ReadText([&](UChar* text, int32_t room, UErrorCode* status) { return udat_getSymbols(format, type, i, text, room, status); }));
	return !out.empty();
}
catch (const std::bad_alloc&)
{
	out.clear();
	return false;
}

std::u16string DateFormatter::GetAMSymbol() const
{
	return ReadText([this](UChar* out, int32_t room, UErrorCode* status) {
		return udat_getSymbols(static_cast<const UDateFormat*>(fFormat), UDAT_AM_PMS, 0, out, room, status);
	});
}

std::u16string DateFormatter::GetPMSymbol() const
{
	return ReadText([this](UChar* out, int32_t room, UErrorCode* status) {
		return udat_getSymbols(static_cast<const UDateFormat*>(fFormat), UDAT_AM_PMS, 1, out, room, status);
	});
}

}  // namespace plat
