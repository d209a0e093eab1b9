#include "platform/Clock.h"

#include <cerrno>
#include <ctime>
#include <limits>

namespace plat {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

timespec ReadClock(clockid_t clock)
{
	timespec now {};
	::clock_gettime(clock, &now);
	return now;
}

void FieldsToTm(const int16_t* fields, tm& out)
{
	out = tm {};
	out.tm_year = int(fields[0]) - 1900;
	out.tm_mon = int(fields[1]) - 1;
	out.tm_mday = fields[2];
	out.tm_hour = fields[3];
	out.tm_min = fields[4];
	out.tm_sec = fields[5];
	out.tm_isdst = 0;
}

bool TmToFields(const tm& broken, int16_t* fields)
{
	long year = long(broken.tm_year) + 1900;
	if (year < std::numeric_limits<int16_t>::min() || year > std::numeric_limits<int16_t>::max())
		return false;
	fields[0] = int16_t(year);
	fields[1] = int16_t(broken.tm_mon + 1);
	fields[2] = int16_t(broken.tm_mday);
	fields[3] = int16_t(broken.tm_hour);
	fields[4] = int16_t(broken.tm_min);
	fields[5] = int16_t(broken.tm_sec);
	return true;
}

// The six fields read as a UTC date; false when timegm cannot represent them.
bool FieldsAsUTCSeconds(const int16_t* fields, int64_t& seconds)
{
	tm broken;
	FieldsToTm(fields, broken);
	// timegm's result -1 is also a valid second; it fills tm_wday only on success.
	broken.tm_wday = -1;
	time_t result = ::timegm(&broken);
	if (broken.tm_wday < 0)
		return false;
	seconds = int64_t(result);
	return true;
}

bool BreakDown(int64_t seconds, bool local, tm& broken)
{
	time_t value = time_t(seconds);
	return (local ? ::localtime_r(&value, &broken) : ::gmtime_r(&value, &broken)) != nullptr;
}

}  // namespace

// By the proleptic Gregorian calendar, as gmtime_r: threads stamping log lines would contend for its lock.
bool UTCSecondsToFields(int64_t seconds, int16_t* fields)
{
	int64_t days = seconds / kSecondsPerDay;
	int64_t secondOfDay = seconds % kSecondsPerDay;
	if (secondOfDay < 0)
	{
		secondOfDay += kSecondsPerDay;
		--days;
	}
	// Days since 0000-03-01, counted in eras of 400 years (146097 days).
	const int64_t shifted = days + 719468;
	const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
	const int64_t dayOfEra = shifted - era * 146097;
	const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
	const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
	const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
	const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
	const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
	const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
	if (year < std::numeric_limits<int16_t>::min() || year > std::numeric_limits<int16_t>::max())
		return false;
	fields[0] = int16_t(year);
	fields[1] = int16_t(month);
	fields[2] = int16_t(day);
	fields[3] = int16_t(secondOfDay / 3600);
	fields[4] = int16_t(secondOfDay / 60 % 60);
	fields[5] = int16_t(secondOfDay % 60);
	return true;
}

namespace {

void NowFields(bool local, int16_t* fields)
{
	timespec now = ReadClock(CLOCK_REALTIME);
	tm broken;
	const bool made = local ? BreakDown(int64_t(now.tv_sec), true, broken) && TmToFields(broken, fields) : UTCSecondsToFields(int64_t(now.tv_sec), fields);
	if (made)
		fields[6] = int16_t((now.tv_nsec / 1000000) % 1000);
}

}  // namespace

uint64_t GetMonotonicMilliseconds()
{
	timespec now = ReadClock(CLOCK_MONOTONIC);
	return uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
}

uint64_t GetCoarseMonotonicMilliseconds()
{
	timespec now = ReadClock(CLOCK_MONOTONIC_COARSE);
	return uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
}

uint32_t GetMonotonicTicks()
{
	timespec now = ReadClock(CLOCK_MONOTONIC);
	return uint32_t(uint64_t(now.tv_sec) * 60u + uint64_t(now.tv_nsec) * 60u / 1000000000u);
}

void SleepMilliseconds(int32_t ms)
{
	if (ms <= 0)
		return;
	timespec remaining { time_t(ms / 1000), long(ms % 1000) * 1000000L };
	while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR)
	{
	}
}

int64_t GetCalendarSeconds()
{
	return int64_t(ReadClock(CLOCK_REALTIME).tv_sec);
}

int64_t GetCalendarNanoseconds()
{
	const timespec now = ReadClock(CLOCK_REALTIME);
	return int64_t(now.tv_sec) * 1000000000 + int64_t(now.tv_nsec);
}

void GetUTCNowFields(int16_t* fields)
{
	NowFields(false, fields);
}

void GetLocalNowFields(int16_t* fields)
{
	NowFields(true, fields);
}

bool UTCFieldsToLocal(int16_t* fields)
{
	int64_t seconds = 0;
	tm broken;
	if (!FieldsAsUTCSeconds(fields, seconds) || !BreakDown(seconds, true, broken))
		return false;
	return TmToFields(broken, fields);
}

bool LocalFieldsToUTC(int16_t* fields)
{
	// mktime's answer for a repeated or skipped local time depends on what it was asked before, so the instant
	// is found from the offsets in force a day before and a day after instead.
	int64_t wall = 0;
	if (!FieldsAsUTCSeconds(fields, wall))
		return false;
	int32_t offsetBefore = 0, offsetAfter = 0, offset = 0;
	bool daylight = false;
	if (!GetUTCOffsetAt(wall - kSecondsPerDay, &offsetBefore, &daylight) || !GetUTCOffsetAt(wall + kSecondsPerDay, &offsetAfter, &daylight))
		return false;
	int64_t withBefore = wall - offsetBefore;
	int64_t withAfter = wall - offsetAfter;
	bool beforeFits = GetUTCOffsetAt(withBefore, &offset, &daylight) && offset == offsetBefore;
	bool afterFits = GetUTCOffsetAt(withAfter, &offset, &daylight) && offset == offsetAfter;
	int64_t instant = withBefore;
	if (beforeFits && afterFits)
		instant = withBefore > withAfter ? withBefore : withAfter;
	else if (afterFits)
		instant = withAfter;

	tm broken;
	if (!BreakDown(instant, false, broken))
		return false;
	return TmToFields(broken, fields);
}

bool GetUTCOffsetAt(int64_t seconds, int32_t* offset, bool* daylight)
{
	tm broken;
	if (!BreakDown(seconds, true, broken))
		return false;
	if (offset != nullptr)
		*offset = int32_t(broken.tm_gmtoff);
	if (daylight != nullptr)
		*daylight = broken.tm_isdst > 0;
	return true;
}

int64_t FindNextUTCOffsetChange(int64_t fromSeconds, int64_t limitSeconds)
{
	int32_t startOffset = 0, offset = 0;
	bool startDaylight = false, daylight = false;
	if (fromSeconds >= limitSeconds || !GetUTCOffsetAt(fromSeconds, &startOffset, &startDaylight))
		return limitSeconds;
	auto differs = [&](int64_t at)
	{
		return GetUTCOffsetAt(at, &offset, &daylight) && (offset != startOffset || daylight != startDaylight);
	};

	// A day at a time to the first differing day, then halve the step down to the second.
	int64_t same = fromSeconds;
	for (;;)
	{
		int64_t next = (limitSeconds - same > kSecondsPerDay) ? same + kSecondsPerDay : limitSeconds;
		if (differs(next))
		{
			int64_t different = next;
			while (different - same > 1)
			{
				int64_t middle = same + (different - same) / 2;
				if (differs(middle))
					different = middle;
				else
					same = middle;
			}
			return different;
		}
		if (next == limitSeconds)
			return limitSeconds;
		same = next;
	}
}

void ReloadTimeZone()
{
	::tzset();
}

uint64_t GetMonotonicNanoseconds()
{
	timespec now {};
	::clock_gettime(CLOCK_MONOTONIC, &now);
	return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

int64_t GetSecondsSinceBoot()
{
	timespec now {};
	if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
		return -1;
	return int64_t(now.tv_sec);
}

int32_t GetStandardUTCOffset()
{
	::tzset();
	return int32_t(-::timezone);
}

}  // namespace plat
