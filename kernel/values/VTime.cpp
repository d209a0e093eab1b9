// A point in time in UTC with its calendar arithmetic.
#include "kernel/values/VTime.h"
#include "kernel/values/VFlatDatum.h"

#include <cstring>
#include <limits>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"

namespace velk {

const VValueInfo_scalar<VTime, VK_TIME, uint64> VTime::sInfo;

namespace {

// Indexed by month 0 to 12 (0 is the zero date's month). February counts 29 days; the leap rule is
// applied apart.
constexpr int16 kDaysInMonth[13] = { 0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
// Days before the month in a year that begins on March 1.
constexpr int16 kDaysBefore[13] = { 0, 306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275 };

constexpr int64 kMS_PER_HOUR = 3600000;
constexpr int64 kMS_PER_MINUTE = 60000;
constexpr int64 kMS_PER_SECOND = 1000;
constexpr int64 kMaxYear = 32767;
// Day number of 1970-01-01.
constexpr int64 kUnixEpochDay = 2440587;

constexpr int64 FloorDiv(int64 a, int64 b)
{
	const int64 q = a / b;
	return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr int64 FloorMod(int64 a, int64 b)
{
	return a - FloorDiv(a, b) * b;
}

// month must be 0 to 12.
constexpr int64 DayNumber(int64 year, int32 month, int64 day)
{
	const int64 y = month < 3 ? year - 1 : year;
	return kDaysBefore[month] + day + 365 * y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400) + 1721118;
}

constexpr int64 kFirstDay = DayNumber(0, 1, 1);
constexpr int64 kLastDay = DayNumber(kMaxYear, 12, 31);
static_assert(DayNumber(2000, 1, 1) == 2451544);
static_assert(DayNumber(1970, 1, 1) == kUnixEpochDay);

// The end of the inverse once the March-based year c and the day e of that year are known.
void MonthAndDay(int64 c, int64 e, int64& year, int64& month, int64& day)
{
	const int64 m = (5 * e + 456) / 153;
	day = e - (153 * m - 457) / 5;
	if (m >= 13)
	{
		year = c + 1;
		month = m - 12;
	}
	else
	{
		year = c;
		month = m;
	}
}

// The Gregorian date of a day number; the products in 64 bits so any day number of the years kept fits.
void DateOfDayNumber(int64 dayNumber, int64& year, int64& month, int64& day)
{
	const int64 a = FloorDiv(dayNumber * 100 - 172111825, 3652425);
	const int64 b = dayNumber + a - FloorDiv(a, 4);
	const int64 c = FloorDiv(b * 100 - 172111825, 36525);
	const int64 e = b - 365 * c - 1721118 - FloorDiv(c, 4);
	MonthAndDay(c, e, year, month, day);
}

int64 SatAdd(int64 a, int64 b)
{
	int64 sum;
	if (__builtin_add_overflow(a, b, &sum))
		return b > 0 ? std::numeric_limits<int64>::max() : std::numeric_limits<int64>::min();
	return sum;
}

bool TimeOfDayIsValid(int16 hour, int16 minute, int16 second, int16 ms)
{
	return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 && ms >= 0 && ms <= 999;
}

bool FitsInt16(int64 value)
{
	return value >= std::numeric_limits<int16>::min() && value <= std::numeric_limits<int16>::max();
}

CompareResult Order(int64 a, int64 b)
{
	if (a < b)
		return CR_SMALLER;
	if (a > b)
		return CR_BIGGER;
	return CR_EQUAL;
}

struct Fields
{
	int16 fYear;
	uint8 fMonth;
	uint8 fDay;
	uint32 fMilliseconds;
};

Fields FieldsOfStamp(uint64 stamp)
{
	return Fields { int16(uint16(stamp >> 48)), uint8(stamp >> 40), uint8(stamp >> 32), uint32(stamp) };
}

CompareResult CompareFields(const Fields& a, const Fields& b)
{
	if (a.fYear != b.fYear)
		return Order(a.fYear, b.fYear);
	if (a.fMonth != b.fMonth)
		return Order(a.fMonth, b.fMonth);
	if (a.fDay != b.fDay)
		return Order(a.fDay, b.fDay);
	return Order(int32(a.fMilliseconds), int32(b.fMilliseconds));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Construction

VTime::VTime(VTimeInitParam init)
{
	fFlags = kFLAG_DIRTY;
	if (init == eInitWithCurrentTime)
		Now(*this);
}

VTime::VTime(uint64 stamp)
{
	fFlags = kFLAG_DIRTY;
	FromStamp(stamp);
}

VTime::VTime(const uint64* data, bool init)
{
	fFlags = kFLAG_DIRTY;
	if (!init)
		FromStamp(ReadFlatDatum<uint64>(data));
}

VTime::VTime(const VTime& other)
	: VValueSingle(), fYear(other.fYear), fMonth(other.fMonth), fDay(other.fDay), fMilliseconds(other.fMilliseconds)
{
	fFlags = uint8((other.fFlags & kFLAG_NULL) | kFLAG_DIRTY);
}

VTime& VTime::operator=(const VTime& other)
{
	fYear = other.fYear;
	fMonth = other.fMonth;
	fDay = other.fDay;
	fMilliseconds = other.fMilliseconds;
	SetNull(other.IsNull());
	fFlags |= kFLAG_DIRTY;
	return *this;
}

VValue* VTime::Clone() const
{
	return new VTime(*this);
}

void VTime::Clear()
{
	fYear = 0;
	fMonth = 0;
	fDay = 0;
	fMilliseconds = 0;
	_SetNotNullDirty();
}

void VTime::DoNullChanged()
{
	if (IsNull())
	{
		fYear = 0;
		fMonth = 0;
		fDay = 0;
		fMilliseconds = 0;
	}
}

void VTime::FromStamp(uint64 stamp)
{
	fYear = uint16(stamp >> 48);
	fMonth = uint8(stamp >> 40);
	fDay = uint8(stamp >> 32);
	fMilliseconds = uint32(stamp);
	_SetNotNullDirty();
}

uint64 VTime::GetStamp() const
{
	return (uint64(fYear) << 48) | (uint64(fMonth) << 40) | (uint64(fDay) << 32) | uint64(fMilliseconds);
}

// ---------------------------------------------------------------------------------------------------------
// Fields in UTC

void VTime::FromUTCTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms)
{
	const int64 msOfDay = int64(hour) * kMS_PER_HOUR + int64(minute) * kMS_PER_MINUTE + int64(second) * kMS_PER_SECOND + ms;
	if (year == 0 && month == 0 && day == 0)
	{
		fYear = 0;
		fMonth = 0;
		fDay = 0;
		fMilliseconds = uint32(msOfDay);
		_SetNotNullDirty();
		return;
	}
	if (!CheckDate(year, month, day) || !TimeOfDayIsValid(hour, minute, second, ms))
	{
		Clear();
		SetNull(true);
		return;
	}
	fYear = uint16(year);
	fMonth = uint8(month);
	fDay = uint8(day);
	fMilliseconds = uint32(msOfDay);
	_SetNotNullDirty();
}

void VTime::GetUTCTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second, int16& ms) const
{
	year = int16(fYear);
	month = int16(fMonth);
	day = int16(fDay);
	hour = int16(fMilliseconds / kMS_PER_HOUR);
	minute = int16((fMilliseconds / kMS_PER_MINUTE) % 60);
	second = int16((fMilliseconds / kMS_PER_SECOND) % 60);
	ms = int16(fMilliseconds % kMS_PER_SECOND);
}

void VTime::Now(VTime& time)
{
	int16 f[7];
	VSystem::GetSystemUTCTime(f);
	time.FromUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

void VTime::FromSystemTime()
{
	int16 f[7];
	VSystem::GetSystemUTCTime(f);
	fYear = uint16(f[0]);
	fMonth = uint8(f[1]);
	fDay = uint8(f[2]);
	fMilliseconds = uint32(int64(f[3]) * kMS_PER_HOUR + int64(f[4]) * kMS_PER_MINUTE + int64(f[5]) * kMS_PER_SECOND + f[6]);
	_SetNotNullDirty();
}

// ---------------------------------------------------------------------------------------------------------
// Fields in local time

void VTime::_GetLocalFields(int16* f) const
{
	if (IsNull() || !_HasCalendarMonth())
	{
		std::memset(f, 0, 7 * sizeof(int16));
		return;
	}
	GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	if (!_IsZeroDate())
		VSystem::UTCToLocalTime(f);
}

int16 VTime::_GetLocalField(int32 index) const
{
	int16 f[7];
	_GetLocalFields(f);
	return f[index];
}

void VTime::_SetLocalTimeField(int32 index, int32 value)
{
	int16 f[7];
	_GetLocalFields(f);
	int64 parts[4] = { f[3], f[4], f[5], f[6] };
	parts[index - 3] = value;
	_FromLocalDateAndMs(f, parts[0] * kMS_PER_HOUR + parts[1] * kMS_PER_MINUTE + parts[2] * kMS_PER_SECOND + parts[3]);
}

void VTime::_FromLocalFields(int16* f)
{
	const bool zeroDate = f[0] == 0 && f[1] == 0 && f[2] == 0;
	if (!zeroDate)
	{
		// The conversion would roll an impossible date over into the next month: refuse it first.
		if (!CheckDate(f[0], f[1], f[2]) || !TimeOfDayIsValid(f[3], f[4], f[5], f[6]))
		{
			Clear();
			SetNull(true);
			return;
		}
		VSystem::LocalToUTCTime(f);
	}
	FromUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

void VTime::_FromLocalDateAndMs(const int16* local, int64 msFromMidnight)
{
	if (local[0] == 0 && local[1] == 0 && local[2] == 0)
	{
		// No date to run into: the time of day alone changes.
		if (msFromMidnight < 0 || msFromMidnight > int64(std::numeric_limits<uint32>::max()))
		{
			Clear();
			SetNull(true);
			return;
		}
		fYear = 0;
		fMonth = 0;
		fDay = 0;
		fMilliseconds = uint32(msFromMidnight);
		_SetNotNullDirty();
		return;
	}
	if (local[1] < 1 || local[1] > 12)
	{
		Clear();
		SetNull(true);
		return;
	}
	const int64 dayNumber = DayNumber(local[0], local[1], local[2]) + FloorDiv(msFromMidnight, kMS_PER_DAY);
	if (dayNumber < kFirstDay || dayNumber > kLastDay)
	{
		Clear();
		SetNull(true);
		return;
	}
	const int64 ms = FloorMod(msFromMidnight, kMS_PER_DAY);
	int64 year, month, day;
	DateOfDayNumber(dayNumber, year, month, day);
	int16 f[7] = { int16(year), int16(month), int16(day), int16(ms / kMS_PER_HOUR), int16((ms / kMS_PER_MINUTE) % 60),
		int16((ms / kMS_PER_SECOND) % 60), int16(ms % kMS_PER_SECOND) };
	_FromLocalFields(f);
}

void VTime::GetLocalTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second, int16& ms) const
{
	int16 f[7];
	_GetLocalFields(f);
	year = f[0];
	month = f[1];
	day = f[2];
	hour = f[3];
	minute = f[4];
	second = f[5];
	ms = f[6];
}

int32 VTime::GetLocalYear() const
{
	return _GetLocalField(0);
}

int32 VTime::GetLocalMonth() const
{
	return _GetLocalField(1);
}

int32 VTime::GetLocalDay() const
{
	return _GetLocalField(2);
}

int32 VTime::GetLocalHour() const
{
	return _GetLocalField(3);
}

int32 VTime::GetLocalMinute() const
{
	return _GetLocalField(4);
}

int32 VTime::GetLocalSecond() const
{
	return _GetLocalField(5);
}

int32 VTime::GetLocalMillisecond() const
{
	return _GetLocalField(6);
}

VDuration VTime::GetLocalDurationSinceMidnight() const
{
	int16 f[7];
	_GetLocalFields(f);
	VDuration duration;
	duration.SetDuration(0, f[3], f[4], f[5], f[6]);
	return duration;
}

void VTime::FromLocalTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms)
{
	int16 f[7] = { year, month, day, hour, minute, second, ms };
	_FromLocalFields(f);
}

void VTime::SetLocalYear(int32 year)
{
	int16 f[7];
	_GetLocalFields(f);
	if (!FitsInt16(year))
	{
		Clear();
		SetNull(true);
		return;
	}
	f[0] = int16(year);
	_FromLocalFields(f);
}

void VTime::SetLocalMonth(int32 month)
{
	int16 f[7];
	_GetLocalFields(f);
	const int64 k = int64(month) - 1;
	const int64 year = int64(f[0]) + k / 12;
	if (!FitsInt16(year))
	{
		Clear();
		SetNull(true);
		return;
	}
	f[0] = int16(year);
	// A negative month leaves a month of 0 or below, which the validation refuses.
	f[1] = int16(k % 12 + 1);
	_FromLocalFields(f);
}

void VTime::SetLocalDay(int32 day)
{
	int16 f[7];
	_GetLocalFields(f);
	if (f[1] < 1 || f[1] > 12)
	{
		Clear();
		SetNull(true);
		return;
	}
	const int64 msOfDay = int64(f[3]) * kMS_PER_HOUR + int64(f[4]) * kMS_PER_MINUTE + int64(f[5]) * kMS_PER_SECOND + f[6];
	// Day 1 of the month plus (day - 1) days, moved along the calendar.
	const int16 first[3] = { f[0], f[1], 1 };
	_FromLocalDateAndMs(first, (int64(day) - 1) * kMS_PER_DAY + msOfDay);
}

void VTime::SetLocalHour(int32 hour)
{
	_SetLocalTimeField(3, hour);
}

void VTime::SetLocalMinute(int32 minute)
{
	_SetLocalTimeField(4, minute);
}

void VTime::SetLocalSecond(int32 second)
{
	_SetLocalTimeField(5, second);
}

void VTime::SetLocalMillisecond(int32 ms)
{
	_SetLocalTimeField(6, ms);
}

int64 VTime::GetLocalUnixTime(bool inMilliseconds) const
{
	if (IsNull() || fMonth < 1 || fMonth > 12)
		return 0;
	int16 f[7];
	_GetLocalFields(f);
	// Read back through the zone's own rule for repeated and skipped hours.
	VSystem::LocalToUTCTime(f);
	if (f[1] < 1 || f[1] > 12)
		return 0;
	const int64 seconds = (DayNumber(f[0], f[1], f[2]) - kUnixEpochDay) * 86400 + int64(f[3]) * 3600 + int64(f[4]) * 60 + f[5];
	return inMilliseconds ? seconds * 1000 + f[6] : seconds;
}

void VTime::FromToday(int32 ms)
{
	int16 f[7];
	VSystem::GetSystemLocalTime(f);
	f[3] = f[4] = f[5] = f[6] = 0;
	_FromLocalFields(f);
	_AddToCount(ms);
}

// ---------------------------------------------------------------------------------------------------------
// Calendar

int32 VTime::GetJulianDay() const
{
	if (IsNull() || !_HasCalendarMonth())
		return -1;
	return int32(DayNumber(int16(fYear), fMonth, fDay));
}

void VTime::FromJulianDay(int32 dayNumber)
{
	_FromDayNumber(dayNumber, 0);
}

int32 VTime::ComputeJulianDay(int32 year, int32 month, int32 day)
{
	if (month < 0 || month > 12)
		return -1;
	return int32(DayNumber(year, month, day));
}

int32 VTime::GetWeekDay() const
{
	if (IsNull() || !_HasCalendarMonth())
		return -1;
	return ComputeWeekDay(int16(fYear), fMonth, fDay);
}

int32 VTime::ComputeWeekDay(int32 year, int32 month, int32 day)
{
	if (month < 0 || month > 12)
		return -1;
	return int32(FloorMod(DayNumber(year, month, day) + 2, 7));
}

int32 VTime::GetYearDay() const
{
	if (IsNull() || !_HasCalendarMonth())
		return -1;
	return ComputeYearDay(int16(fYear), fMonth, fDay);
}

int32 VTime::ComputeYearDay(int32 year, int32 month, int32 day)
{
	if (month < 0 || month > 12)
		return -1;
	return int32(DayNumber(year, month, day) - DayNumber(year, 1, 1) + 1);
}

bool VTime::IsLeapYear(int16 year)
{
	return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool VTime::CheckDate(int16 year, int16 month, int16 day)
{
	if (year < 0 || month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month])
		return false;
	return !(month == 2 && day == 29 && !IsLeapYear(year));
}

void VTime::GetJulianDate(int16& year, int16& month, int16& day) const
{
	if (IsNull() || !_HasCalendarMonth())
	{
		year = month = day = 0;
		return;
	}
	const int64 dayNumber = DayNumber(int16(fYear), fMonth, fDay);
	const int64 c = FloorDiv(dayNumber * 100 - 172111625, 36525);
	const int64 e = dayNumber - 365 * c - 1721116 - FloorDiv(c, 4);
	int64 y, m, d;
	MonthAndDay(c, e, y, m, d);
	year = int16(y);
	month = int16(m);
	day = int16(d);
}

void VTime::FromJulianDate(int16 year, int16 month, int16 day)
{
	if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month] || (month == 2 && day == 29 && year % 4 != 0))
	{
		Clear();
		SetNull(true);
		return;
	}
	_FromDayNumber(DayNumber(year, month, day), 0);
}

void VTime::NullIfZero()
{
	if (_IsZeroDate())
		SetNull(true);
}

void VTime::_FromDayNumber(int64 dayNumber, uint32 msOfDay)
{
	if (dayNumber < kFirstDay || dayNumber > kLastDay)
	{
		Clear();
		SetNull(true);
		return;
	}
	int64 year, month, day;
	DateOfDayNumber(dayNumber, year, month, day);
	fYear = uint16(year);
	fMonth = uint8(month);
	fDay = uint8(day);
	fMilliseconds = msOfDay;
	_SetNotNullDirty();
}

// ---------------------------------------------------------------------------------------------------------
// Millisecond count and arithmetic

int64 VTime::_Count() const
{
	if (IsNull() || !_HasCalendarMonth())
		return -1;
	if (_IsZeroDate())
		return 0;
	return DayNumber(int16(fYear), fMonth, fDay) * kMS_PER_DAY + fMilliseconds;
}

int64 VTime::GetMilliseconds() const
{
	return _Count();
}

void VTime::FromMilliseconds(int64 count)
{
	if (count == 0)
	{
		Clear();
		return;
	}
	if (count < 0)
	{
		// -1 is the null time's count; other negative counts lie before the years kept.
		Clear();
		SetNull(true);
		return;
	}
	_FromDayNumber(count / kMS_PER_DAY, uint32(count % kMS_PER_DAY));
}

void VTime::_AddToCount(int64 delta)
{
	if (IsNull() || !_HasCalendarMonth())
		return;
	FromMilliseconds(SatAdd(_Count(), delta));
}

void VTime::Add(const VDuration& duration)
{
	_AddToCount(duration.ConvertToMilliseconds());
}

void VTime::Substract(const VDuration& duration)
{
	const int64 ms = duration.ConvertToMilliseconds();
	_AddToCount(ms == std::numeric_limits<int64>::min() ? std::numeric_limits<int64>::max() : -ms);
}

void VTime::AddMilliseconds(int64 ms)
{
	_AddToCount(ms);
}

void VTime::AddSeconds(int32 seconds)
{
	_AddToCount(int64(seconds) * kMS_PER_SECOND);
}

void VTime::AddMinutes(int32 minutes)
{
	_AddToCount(int64(minutes) * kMS_PER_MINUTE);
}

void VTime::AddHours(int32 hours)
{
	_AddToCount(int64(hours) * kMS_PER_HOUR);
}

void VTime::AddDays(int32 days)
{
	_AddToCount(int64(days) * kMS_PER_DAY);
}

void VTime::Substract(const VTime& other, VDuration& result) const
{
	const int64 mine = _Count();
	const int64 theirs = other._Count();
	if (mine < 0 || theirs < 0)
	{
		result.Clear();
		result.SetNull(true);
		return;
	}
	// Both counts are small (below 2^51): the difference fits.
	result.FromNbMilliseconds(mine - theirs);
}

void VTime::AddMonths(int32 months)
{
	if (IsNull() || fMonth < 1 || fMonth > 12)
		return;
	const int64 k = int64(fMonth) - 1 + months;
	fYear = uint16(int64(fYear) + FloorDiv(k, 12));
	fMonth = uint8(FloorMod(k, 12) + 1);
}

void VTime::AddYears(int32 years)
{
	if (IsNull() || fMonth < 1 || fMonth > 12)
		return;
	fYear = uint16(int64(fYear) + years);
}

// ---------------------------------------------------------------------------------------------------------
// Comparison

CompareResult VTime::CompareTo(const VTime& other) const
{
	return CompareFields(FieldsOfStamp(GetStamp()), FieldsOfStamp(other.GetStamp()));
}

bool VTime::operator==(const VTime& other) const
{
	return fYear == other.fYear && fMonth == other.fMonth && fDay == other.fDay && fMilliseconds == other.fMilliseconds;
}

CompareResult VTime::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return CompareTo(*static_cast<const VTime*>(other));
}

bool VTime::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return *this == *static_cast<const VTime*>(other);
}

CompareResult VTime::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return CompareFields(FieldsOfStamp(GetStamp()), FieldsOfStamp(ReadFlatDatum<uint64>(other)));
}

bool VTime::EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return GetStamp() == ReadFlatDatum<uint64>(other);
}

CompareResult VTime::CompareToSameKind(const VValue* other, bool) const
{
	return CompareTo(*static_cast<const VTime*>(other));
}

bool VTime::EqualToSameKind(const VValue* other, bool) const
{
	return *this == *static_cast<const VTime*>(other);
}

CompareResult VTime::CompareToSameKindPtr(const void* other, bool) const
{
	return CompareFields(FieldsOfStamp(GetStamp()), FieldsOfStamp(ReadFlatDatum<uint64>(other)));
}

bool VTime::EqualToSameKindPtr(const void* other, bool) const
{
	return GetStamp() == ReadFlatDatum<uint64>(other);
}

CompareResult VTime::CompareTo(const VValueSingle& other, bool) const
{
	VTime converted;
	other.GetTime(converted);
	converted.SetNull(other.IsNull());
	return CompareTo(converted);
}

bool VTime::FromValueSameKind(const VValue* other)
{
	const VTime* time = dynamic_cast<const VTime*>(other);
	if (time == nullptr)
		return false;
	FromTime(*time);
	SetNull(time->IsNull());
	fFlags |= kFLAG_DIRTY;
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// Flat and stream forms

const void* VTime::LoadFromPtr(const void* data, uint8)
{
	FromStamp(ReadFlatDatum<uint64>(data));
	return static_cast<const uint8*>(data) + sizeof(uint64);
}

const void* VTime::LoadFromPtrBounded(const void* data, uint64 available, uint8)
{
	uint64 stamp;
	if (!ReadFlatDatum(data, available, stamp))
		return nullptr;
	FromStamp(stamp);
	return static_cast<const uint8*>(data) + sizeof(uint64);
}

void* VTime::WriteToPtr(void* data, uint8, uint64 limit) const
{
	return WriteFlatDatum(data, GetStamp(), limit);
}

uint64 VTime::GetSpace(uint64&, uint64) const
{
	return sizeof(uint64);
}

VError VTime::ReadFromStream(VStream* stream, int32)
{
	uint16 year = 0;
	uint8 month = 0;
	uint8 day = 0;
	uint32 milliseconds = 0;
	stream->Get(year);
	stream->Get(month);
	stream->Get(day);
	stream->Get(milliseconds);
	fYear = year;
	fMonth = month;
	fDay = day;
	fMilliseconds = milliseconds;
	return stream->GetLastError();
}

VError VTime::WriteToStream(VStream* stream, int32) const
{
	stream->Put(fYear);
	stream->Put(fMonth);
	stream->Put(fDay);
	stream->Put(fMilliseconds);
	return stream->GetLastError();
}

// ---------------------------------------------------------------------------------------------------------
// Conversions

void VTime::GetTime(VTime& time) const
{
	time.FromTime(*this);
}

void VTime::GetValue(VValueSingle& value) const
{
	value.FromTime(*this);
}

void VTime::FromTime(const VTime& time)
{
	fYear = time.fYear;
	fMonth = time.fMonth;
	fDay = time.fDay;
	fMilliseconds = time.fMilliseconds;
	SetNull(time.IsNull());
}

void VTime::FromValue(const VValueSingle& value)
{
	value.GetTime(*this);
	SetNull(value.IsNull());
	fFlags |= kFLAG_DIRTY;
}

}  // namespace velk
