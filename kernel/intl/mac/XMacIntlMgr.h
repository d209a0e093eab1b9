// The platform half of the international manager: the dialect's platform locale, made on first use, and
// the services that come from the platform (case mapping, date formats, converter factories).
#pragma once

#include "kernel/VExport.h"

#include <string>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace plat {
class Locale;
class DateFormatter;
}

// Members whose signatures name platform types stay out of the library's binary interface.
#define VELK_PLATFORM_ONLY __attribute__((visibility("hidden")))

namespace velk {

class VToUnicodeConverter;
class VFromUnicodeConverter;
class VDuration;
class VString;
class VTime;
// The manager's display styles (VIntlMgr.h): 0 short, 1 medium, 2 long.
enum EOSFormats : int32;

class VELK_API XMacIntlMgr
{
public:
	explicit XMacIntlMgr(uint32 inDialect);
	// A copy takes only the dialect; its caches start empty.
	XMacIntlMgr(const XMacIntlMgr& inOther);
	XMacIntlMgr& operator=(const XMacIntlMgr&) = delete;
	virtual ~XMacIntlMgr();

	// A new platform locale (one reference) for the dialect's BCP 47 code; null when it cannot be made.
	static plat::Locale* CreateCFLocaleRef(uint32 inDialect);
	// The dialect's locale, made on first use and cached; not retained. Null when it cannot be made. For
	// the system dialect the user's current locale serves when its language is the dialect's. The cache is
	// filled without a lock: a manager belongs to one task.
	plat::Locale* GetCFLocaleRef();
	// The same, with a reference for the caller.
	plat::Locale* RetainCFLocaleRef();

	// Full, locale-independent upper-casing (inUpper) or lower-casing of inLength units into outText, which
	// has room for ioLength units: min(mapped length, ioLength) units are written and ioLength receives the
	// mapped length, which may exceed the room ("ß" becomes "SS"); the caller then asks again with more
	// room. False when the source is not empty and nothing could be mapped (memory short, ill-formed
	// arguments).
	static bool ToUpperLowerCase(const UniChar* inText, int32 inLength, UniChar* outText, int32& ioLength, bool inUpper);

	// The factories the converter registry asks for every character set without a built-in converter: a
	// new converter carrying one reference, or null when the set cannot be converted here.
	static VToUnicodeConverter* NewToUnicodeConverter(CharSet inCharSet);
	static VFromUnicodeConverter* NewFromUnicodeConverter(CharSet inCharSet);

	// ---- Dates and times. Texts are cleared first unless said otherwise; a formatter or a locale that
	// cannot be made gives an empty text. inUTC formats in GMT, else in the local zone in force at the
	// time. ----

	// The styles of the platform's date formatter.
	enum EFormatterStyle : int32
	{
		eStyleNone,
		eStyleShort,
		eStyleMedium,
		eStyleLong,
		eStyleFull
	};

	// The date alone: 0 short, 1 medium, 2 the platform's full style (with the weekday). Other values leave
	// the text untouched.
	void FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC);
	// The time alone: 0 short, 1 medium, 2 long. Other values leave the text untouched.
	void FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC);
	// A duration's days, hours, minutes and seconds as a time of day in the style of FormatTime (a day or
	// more wraps). Other values leave the text untouched.
	void FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat);
	// The time's UTC fields to the second (milliseconds are not used) through the formatter.
	static void FormatVTime(const VTime& inTime, VString& outText, plat::DateFormatter& inFormatter, bool inUTC) VELK_PLATFORM_ONLY;
	void FormatVTime(const VTime& inTime, VString& outText, EFormatterStyle inDateStyle, EFormatterStyle inTimeStyle, bool inUTC);
	// Through the locale's best pattern for a template of pattern letters ("yMMMd").
	void FormatVTimeWithTemplate(const VTime& inTime, VString& outText, const VString& inTemplate, bool inUTC);
	// The duration's days, hours, minutes and seconds as a date and time in GMT, so that a duration of one
	// hour reads 1:00 in every zone; milliseconds are dropped.
	void FormatVDuration(const VDuration& inDuration, VString& outText, EFormatterStyle inDateStyle, EFormatterStyle inTimeStyle);

	// The locale's name of a month (1-12) or a weekday (0-6, 0 Sunday), short or in full. False, with the
	// text cleared, outside those ranges or when the names cannot be had.
	bool GetMonthName(int32 inMonth, bool inShort, VString& outName);
	bool GetWeekDayName(int32 inDay, bool inShort, VString& outName);
	// Loads whichever of the four name lists is missing; true when all four are there.
	bool LoadCalendarSymbols();

	// ---- Locale texts, for the manager's own fields; each is cleared first and stays empty when the
	// platform cannot give it. ----
	void GetNumberTexts(VString& outDecimal, VString& outThousands, VString& outCurrency);
	// The AM and PM texts and the pattern of a formatter with these styles; false when it cannot be made.
	bool GetFormatterTexts(EFormatterStyle inDateStyle, EFormatterStyle inTimeStyle, VString& outPattern, VString* outAM, VString* outPM);

	uint32 GetDialect() const { return fDialect; }

private:
	uint32 fDialect;
	plat::Locale* fLocale = nullptr;
	// Calendar names, filled on first use; an empty list is not loaded yet.
	std::vector<std::u16string> fWeekdayNames;
	std::vector<std::u16string> fMonthNames;
	std::vector<std::u16string> fShortWeekdayNames;
	std::vector<std::u16string> fShortMonthNames;
};

}  // namespace velk
