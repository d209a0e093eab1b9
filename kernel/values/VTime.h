// A point in time (value kind 8): a Gregorian date and a time of day in UTC to the millisecond, with its
// calendar arithmetic, local-time access through VSystem, comparisons, flat form and text forms.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VDuration.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

// Argument of the VTime constructor: the current time or the zero date.
enum VTimeInitParam : int32
{
	eInitWithZero = 0,
	eInitWithCurrentTime = 1
};

// Three states: null; the zero date (year, month and day all 0: no date, the time of day alone); an ordinary
// date. Fields that came from outside (stamps, flat forms) are kept as stored, but a month above 12 makes
// every calendar calculation answer as for a null time. Arithmetic never revives a null time, and a result
// outside the years 0 to 32767 makes the time null.
class VELK_API VTime : public VValueSingle
{
public:
	static constexpr int64 kMS_PER_DAY = 86400000;

	// The kind's descriptor, registered by the library's static initialisers.
	static const VValueInfo_scalar<VTime, VK_TIME, uint64> sInfo;

	// eInitWithCurrentTime: now, in UTC. Otherwise the zero date at time 0. Not null, dirty.
	explicit VTime(VTimeInitParam init = eInitWithZero);
	// Fields from the stamp (year << 48 | month << 40 | day << 32 | milliseconds of the day), stored as
	// they are; not null, dirty.
	explicit VTime(uint64 stamp);
	// init: the zero date at time 0; otherwise the stamp at data (which need not be aligned). Not null,
	// dirty.
	VTime(const uint64* data, bool init);
	// Copies the fields and the null state; the copy is dirty.
	VTime(const VTime& other);
	~VTime() override = default;

	VTime& operator=(const VTime& other);

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	VValue* Clone() const override;
	bool CanBeEvaluated() const override { return true; }
	// The zero date at time 0, not null, dirty.
	void Clear() override;

	// Stamps: the fields are stored unchecked.
	void FromStamp(uint64 stamp);
	uint64 GetStamp() const;

	// ---------------------------------------------------------------------------------------------------
	// Fields in UTC

	// Year 0, month 0, day 0 stores the zero date with the time fields summed unchecked. Otherwise the date
	// must exist (year 0 to 32767) and the time lie within a day; when not, the time becomes null.
	void FromUTCTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms);
	// The stored fields, the time of day split; all 0 when null.
	void GetUTCTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second, int16& ms) const;
	// The current time in UTC.
	static void Now(VTime& time);
	// The current time in UTC stored without validation.
	void FromSystemTime();

	// ---------------------------------------------------------------------------------------------------
	// Fields in local time, converted by VSystem (a time skipped by a daylight-saving change moves forward
	// by the shift, a time that happens twice reads as the later occurrence).

	// The UTC fields in local time; all 0 for a null time (a zero date is not converted).
	void GetLocalTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second, int16& ms) const;
	int32 GetLocalYear() const;
	int32 GetLocalMonth() const;
	int32 GetLocalDay() const;
	int32 GetLocalHour() const;
	int32 GetLocalMinute() const;
	int32 GetLocalSecond() const;
	int32 GetLocalMillisecond() const;
	// The local time of day as a duration, not null.
	VDuration GetLocalDurationSinceMidnight() const;

	// Validated as FromUTCTime (a date that does not exist makes the time null, it is not rolled over),
	// then converted to UTC and stored.
	void FromLocalTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms);
	// Replace one local field and store the result. SetLocalYear and SetLocalMonth make the time null when
	// the date does not exist (February 29 of a common year); months above 12 run into the next years.
	// SetLocalDay moves along the calendar, so 0 is the last day of the month before and days past the
	// month's end run into the next months. The time setters count from the start of the field above, so
	// values past the field's range run into the next fields and days. A time with no local date (null or
	// zero date) keeps no date: SetLocalDay makes it null, the time setters change its time of day only.
	void SetLocalYear(int32 year);
	void SetLocalMonth(int32 month);
	void SetLocalDay(int32 day);
	void SetLocalHour(int32 hour);
	void SetLocalMinute(int32 minute);
	void SetLocalSecond(int32 second);
	void SetLocalMillisecond(int32 ms);
	// Seconds (or milliseconds) since 1970-01-01 UTC of the local fields read back through the local zone;
	// 0 for a time without a date.
	int64 GetLocalUnixTime(bool inMilliseconds) const;
	// Today's local midnight in UTC, then moved forward by ms.
	void FromToday(int32 ms);

	// ---------------------------------------------------------------------------------------------------
	// Calendar. The day number counts days on the proleptic Gregorian calendar, 2000-01-01 being 2451544.

	// -1 for a null time or one whose month is above 12.
	int32 GetJulianDay() const;
	// The date of a day number at time 0, not null; null when the date falls outside the years 0 to 32767.
	void FromJulianDay(int32 dayNumber);
	// The static forms answer -1 for a month outside 0 to 12 (0 is the zero date's month, counted before
	// March).
	static int32 ComputeJulianDay(int32 year, int32 month, int32 day);
	// 0 Sunday to 6 Saturday; -1 for a null time or a month above 12.
	int32 GetWeekDay() const;
	static int32 ComputeWeekDay(int32 year, int32 month, int32 day);
	// 1 to 366; -1 for a null time or a month above 12.
	int32 GetYearDay() const;
	static int32 ComputeYearDay(int32 year, int32 month, int32 day);
	static bool IsLeapYear(int16 year);
	// Year 0 or above, month 1 to 12, day within the month (February 29 only in leap years).
	static bool CheckDate(int16 year, int16 month, int16 day);
	// The date on the Julian calendar; 0, 0, 0 for a null time or a month above 12.
	void GetJulianDate(int16& year, int16& month, int16& day) const;
	// A month 1 to 12 and a day within it (February 29 when the year divides by 4) give that date at time
	// 0, not null; anything else makes the time null.
	void FromJulianDate(int16 year, int16 month, int16 day);
	// The zero date becomes null.
	void NullIfZero();

	// ---------------------------------------------------------------------------------------------------
	// Millisecond count: day number * 86400000 + milliseconds of the day.

	// -1 for a null time or a month above 12; 0 for the zero date whatever its time of day.
	int64 GetMilliseconds() const;
	int64 GetLong8OrMilliSeconds() const override { return GetMilliseconds(); }
	// 0: the zero date at time 0; -1: null; any other count gives its date and time of day, or null when it
	// falls outside the years 0 to 32767. Not null (but for -1) and dirty.
	void FromMilliseconds(int64 count);

	// ---------------------------------------------------------------------------------------------------
	// Arithmetic on the millisecond count (the zero date counts 0). A null time, or one whose month is above
	// 12, is left as it is; a result outside the years 0 to 32767 makes the time null.
	void Add(const VDuration& duration);
	void Substract(const VDuration& duration);
	void AddMilliseconds(int64 ms);
	void AddSeconds(int32 seconds);
	void AddMinutes(int32 minutes);
	void AddHours(int32 hours);
	void AddDays(int32 days);
	// This count minus the other's, not null and dirty; null when either time is null or its month is
	// above 12.
	void Substract(const VTime& other, VDuration& result) const;
	// Move the month (negative counts go back: January minus one month is December of the year before) or
	// the year; the day is not adjusted (January 31 plus one month is February 31) and nothing is
	// validated; the flags do not change. A time without a date (null, zero date, month outside 1 to 12)
	// is left as it is. The year wraps at 16 bits.
	void AddMonths(int32 months);
	void AddYears(int32 years);

	// ---------------------------------------------------------------------------------------------------
	// Order: year (signed), month, day, milliseconds of the day; the null flag is not consulted.
	CompareResult CompareTo(const VTime& other) const;
	bool operator==(const VTime& other) const;
	bool operator!=(const VTime& other) const { return !(*this == other); }
	bool operator<(const VTime& other) const { return CompareTo(other) == CR_SMALLER; }
	bool operator<=(const VTime& other) const { return CompareTo(other) != CR_BIGGER; }
	bool operator>(const VTime& other) const { return CompareTo(other) == CR_BIGGER; }
	bool operator>=(const VTime& other) const { return CompareTo(other) != CR_SMALLER; }

	// Comparisons with another time or with its flat form (a stamp); options and the diacritical flag play
	// no part. other must be a time.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	bool EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	bool EqualToSameKindPtr(const void* other, bool diacritical = false) const override;
	// other's time (GetTime) against this one.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
	// Copies another time and its null state; false (nothing done) when other is not a time.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the stamp, 8 bytes in host order, unaligned allowed. A limit from 1 to 7 writes nothing.
	// Loading stores the fields unchecked and makes the value not null and dirty.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, value unchanged, when available is below 8.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Stream form: year (2 bytes), month, day, milliseconds of the day (4 bytes), each swapped as the
	// stream says; reading stores the fields and leaves the flags alone. Both answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	// Conversions: the target's FromTime with this time; the stamp as a real; the integers stay 0.
	void GetTime(VTime& time) const override;
	void GetValue(VValueSingle& value) const override;
	double GetReal() const override { return double(GetStamp()); }
	// Copies the fields, then takes the other's null state.
	void FromTime(const VTime& time) override;
	// The value's GetTime into this time, then its null state; dirty.
	void FromValue(const VValueSingle& value) override;

	// ---------------------------------------------------------------------------------------------------
	// Text forms. Parsing never raises: text that cannot be read makes the time null.

	// Options of GetRfc3339String (and GetXMLString). Without kRFC3339_UTC and kRFC3339_LOCAL the text is
	// local time followed by the offset from UTC in force at that instant, never with milliseconds.
	static constexpr uint32 kRFC3339_UTC = 1;              // UTC, marked "Z"
	static constexpr uint32 kRFC3339_LOCAL = 2;            // local time without an offset
	static constexpr uint32 kRFC3339_TIME_ONLY = 4;        // "07:08:09Z"
	static constexpr uint32 kRFC3339_DATE_ONLY = 8;        // "2024-03-05" (ignored with kRFC3339_TIME_ONLY)
	static constexpr uint32 kRFC3339_ZERO_DATE = 16;       // year, month and day written as 0
	static constexpr uint32 kRFC3339_NO_MILLISECONDS = 32;
	// "2024-03-05T07:08:09.010Z" and its variants; a null time gives "0000-00-00T00:00:00Z" whatever the
	// options.
	void GetRfc3339String(VString& text, uint32 options) const;
	// Date-time, date, time ("12:30:15") or a whole number of seconds (the time of day, minutes kept).
	// Milliseconds are the first three digits of the fraction. A date-time's offset is subtracted from its
	// fields (whatever the local zone); a date with an offset, or a text of 11 characters or more without
	// "Z" or an offset, is local time; shorter texts are UTC. Times alone give the zero date, their zone
	// unread. A date that does not exist
	// reads as the zero date, and an all-zero date-time as a null time (both answer true). False, time
	// null, for a null or empty text and a text of no known shape.
	bool FromRfc3339String(const VString& text);

	// GetRfc3339String.
	void GetXMLString(VString& text, uint32 options = 0) const override;
	// "!!" RFC 3339 "!!", RFC 3339, or (text holding a '!') the numeric or "!" form of FromString, which
	// answers true.
	bool FromXMLString(const VString& text) override;

	// Options of GetJSONString.
	static constexpr uint32 kJSON_QUOTED = 1;                   // within double quotes
	static constexpr uint32 kJSON_DATE_ONLY_AT_MIDNIGHT = 512;  // "2024-03-05" when the time of day is 0
	static constexpr uint32 kJSON_DATE_MARKS = 4096;            // "!!" before and after, the JSON text's date mark
	// RFC 3339 in UTC with milliseconds (or the date alone); answers 0.
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	// FromXMLString; answers 0.
	VError FromJSONString(const VString& json, uint32 options = 0) override;

	// Option of GetJSONValue: a JSON date (the UTC calendar date) rather than the RFC 3339 string.
	static constexpr uint32 kJSON_AS_DATE = 1;
	// A null time gives JSON null; with kJSON_AS_DATE a JSON date; otherwise the string of GetJSONString.
	// Answers 0.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
	// JSON null makes the time null; a JSON date gives midnight UTC of its day (a date that is not in the
	// calendar makes the time null); any other JSON value is read as text through FromXMLString. Answers 0,
	// or GetString's error (time unchanged) when the JSON value has no text.
	VError FromJSONValue(const VJSONValue& json) override;

	// "Tue, 05 Mar 2024 07:08:09 GMT"; a null time gives ", 00  0000 00:00:00 GMT", the zero date no names.
	void GetRfc822String(VString& text) const;
	// Day, month name, year, hour, minute, second in that order, each after whatever precedes it (a weekday
	// name is skipped); the text may stop anywhere and the fields left are 0; a zone after the time is not
	// read (UTC). Digits and letters are ASCII; month names match in any case.
	void FromRfc822String(const VString& text);

	// Up to seven runs of digits (year, month, day, hour, minute, second, millisecond) in UTC, validated as
	// FromUTCTime. When the text opens with "day!month!year", that date at time 0 ("0!0!0": the zero date;
	// a date that does not exist: null).
	void FromString(const VString& text) override;
	// "8!12!2026"; a null time makes text null.
	void toSimpleDateString(VString& text) const;
	// Local time "2024-03-05 07:08:09:010" for logs; empty for a null time.
	void GetStringLocalTime(VString& text) const;
	// The compiler's texts ("Feb  5 2024", "07:08:09") read as local time, validated as FromLocalTime; no
	// token at all gives the zero date. Null texts count as empty, and only the first 255 bytes of the two
	// are read.
	void FromCompilerDateTime(const char* date, const char* time);

	// Display texts: the short date and the short time of the calling task's international manager, in UTC
	// (utc) or local time, as date " " time or into two strings. A null time, or a thread without a
	// manager, clears the texts.
	void FormatByOS(VString& text, bool utc) const;
	void FormatByOS(VString& date, VString& time, bool utc) const;
	// FormatByOS(text, true): the display text in UTC.
	void GetString(VString& text) const override;

protected:
	// A null time drops its fields.
	void DoNullChanged() override;

private:
	// Whether the month can index the calendar tables (0 to 12), and whether the fields hold a real date.
	bool _HasCalendarMonth() const { return fMonth <= 12; }
	bool _IsZeroDate() const { return fYear == 0 && fMonth == 0 && fDay == 0; }
	// The millisecond count, or -1 when there is none (null, month above 12).
	int64 _Count() const;
	// Stores the date of a day number (64 bits) and the milliseconds of the day; null outside the years 0 to
	// 32767.
	void _FromDayNumber(int64 dayNumber, uint32 msOfDay);
	// Arithmetic on the millisecond count with the rules of the class.
	void _AddToCount(int64 delta);
	void _GetLocalFields(int16* fields) const;
	// One of the seven local fields (year, month, day, hour, minute, second, millisecond: 0 to 6).
	int16 _GetLocalField(int32 index) const;
	// Replaces one local time-of-day field (3 to 6) by a value of any size, then normalises and stores.
	void _SetLocalTimeField(int32 index, int32 value);
	// Local fields in, validated as FromUTCTime; converted and stored.
	void _FromLocalFields(int16* fields);
	// Local date and a count of milliseconds from its midnight (any size) in, normalised, then stored.
	void _FromLocalDateAndMs(const int16* localFields, int64 msFromMidnight);
	void _SetNotNullDirty()
	{
		if (IsNull())
			SetNull(false);
		fFlags |= kFLAG_DIRTY;
	}

	uint16 fYear = 0;
	uint8 fMonth = 0;
	uint8 fDay = 0;
	uint32 fMilliseconds = 0;
};

}  // namespace velk
