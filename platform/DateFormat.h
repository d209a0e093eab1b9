// Date and time formats of a locale, standing in for the system's date formatter: formatting by styles or
// by a pattern made from a template, the patterns themselves, calendar names and the AM and PM texts.
// Times are milliseconds since 1970-01-01 UTC. A formatter belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

class Locale;

// The system formatter's styles. The formatting library numbers its styles the other way round (full
// first), so a style never passes to it as a number.
enum class DateStyle
{
	kNone,
	kShort,
	kMedium,
	kLong,
	kFull
};

// The name lists of a formatter's calendar.
enum class CalendarNames
{
	kWeekdays,
	kMonths,
	kShortWeekdays,
	kShortMonths
};

class DateFormatter
{
public:
	// A formatter of the locale with a date and a time style; both kNone give an empty pattern, which
	// formats nothing but still lists the locale's names. Null when the library cannot make it.
	static std::unique_ptr<DateFormatter> Create(const Locale& locale, DateStyle dateStyle, DateStyle timeStyle);
	// A formatter whose pattern is the locale's best pattern for a template of pattern letters ("yMMMd",
	// "jmm"); null when the template gives no pattern or the formatter cannot be made.
	static std::unique_ptr<DateFormatter> CreateFromTemplate(const Locale& locale, const char16_t* text, int32_t length);

	DateFormatter(const DateFormatter&) = delete;
	DateFormatter& operator=(const DateFormatter&) = delete;
	~DateFormatter();

	// The pattern, in the pattern letters of the system formatter ("h:mm a"); empty on failure.
	std::u16string GetPattern() const;
	// The text of a time, in GMT or in the local zone in force at that instant as the C library sees it
	// (TZ honoured, read again at every call). False, with out empty, when the library fails.
	bool Format(double msSince1970, bool inGMT, std::u16string& out);
	// Replaces out by the names, Sunday first for weekdays and January first for months (7 and 12 of them
	// for the Gregorian calendar). False, with out empty, when the library has none.
	bool GetCalendarNames(CalendarNames which, std::vector<std::u16string>& out) const;
	// The texts of the morning and afternoon marker ("AM", "PM"); empty on failure.
	std::u16string GetAMSymbol() const;
	std::u16string GetPMSymbol() const;

private:
	explicit DateFormatter(void* format) : fFormat(format) {}

	void* fFormat;  // the library's formatter (a UDateFormat), owned
};

}  // namespace plat
