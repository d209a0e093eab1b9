// Times: the day numbering against an independent civil calendar for every day of years 0 to 9999, validation,
// arithmetic (months backward, null and out-of-range results, months above 12 from outside), local-time
// setters across both daylight-saving changes of a European zone, order, flat form and descriptor.
#include "kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "common/VScopedSystemZone.h"
#include "platform/ScopedTimeZone.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

using Fields = std::array<int16, 7>;

// Days since 1970-01-01 of a proleptic Gregorian date, and back: an era-based count that shares nothing with
// the day numbering under test.
int64 DaysFromCivil(int64 y, int64 m, int64 d)
{
	y -= m <= 2 ? 1 : 0;
	const int64 era = (y >= 0 ? y : y - 399) / 400;
	const int64 yoe = y - era * 400;
	const int64 doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
	const int64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
	return era * 146097 + doe - 719468;
}

void CivilFromDays(int64 z, int64& y, int64& m, int64& d)
{
	z += 719468;
	const int64 era = (z >= 0 ? z : z - 146096) / 146097;
	const int64 doe = z - era * 146097;
	const int64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
	const int64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
	const int64 mp = (5 * doy + 2) / 153;
	d = doy - (153 * mp + 2) / 5 + 1;
	m = mp < 10 ? mp + 3 : mp - 9;
	y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

// The day numbering counts 1970-01-01 as 2440587.
constexpr int64 kEpochDayNumber = 2440587;

VTime UTC(int16 y, int16 m, int16 d, int16 h = 0, int16 mi = 0, int16 s = 0, int16 ms = 0)
{
	VTime t;
	t.FromUTCTime(y, m, d, h, mi, s, ms);
	return t;
}

Fields UTCFields(const VTime& t)
{
	Fields f;
	t.GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	return f;
}

Fields LocalFields(const VTime& t)
{
	Fields f;
	t.GetLocalTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	return f;
}

VTime NullTime()
{
	VTime t;
	t.SetNull(true);
	return t;
}

uint64 Stamp(uint64 y, uint64 m, uint64 d, uint64 ms)
{
	return (y << 48) | (m << 40) | (d << 32) | ms;
}

using test::ScopedSystemZone;

TEST(VTimeTest, DayNumbersMatchTheCivilCalendarForEveryDayOfYears0To9999)
{
	int64 days = DaysFromCivil(0, 1, 1);
	int64 mismatches = 0;
	std::string first;
	auto mismatch = [&](const char* what, int64 y, int64 m, int64 d) {
		if (mismatches++ == 0)
			first = std::string(what) + " at " + std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d);
	};
	for (int16 y = 0; y <= 9999; ++y)
	{
		int32 yearDay = 0;
		for (int16 m = 1; m <= 12; ++m)
		{
			for (int16 d = 1; d <= 31; ++d)
			{
				if (!VTime::CheckDate(y, m, d))
					continue;
				++yearDay;
				int64 cy, cm, cd;
				CivilFromDays(days, cy, cm, cd);
				if (cy != y || cm != m || cd != d)
					mismatch("calendar walk", y, m, d);

				const VTime t = UTC(y, m, d);
				const int64 dayNumber = days + kEpochDayNumber;
				if (t.IsNull() || t.GetJulianDay() != dayNumber)
					mismatch("day number", y, m, d);
				if (VTime::ComputeWeekDay(y, m, d) != ((days % 7 + 7 + 4) % 7))
					mismatch("week day", y, m, d);
				if (t.GetYearDay() != yearDay)
					mismatch("year day", y, m, d);

				VTime back;
				back.FromJulianDay(int32(dayNumber));
				if (back != t || back.IsNull())
					mismatch("from day number", y, m, d);

				// The millisecond count round trip at a time of day that varies from day to day.
				const uint32 msOfDay = uint32((days * 7919 % 86400000 + 86400000) % 86400000);
				const VTime stamped(Stamp(uint64(y), uint64(m), uint64(d), msOfDay));
				VTime counted;
				counted.FromMilliseconds(stamped.GetMilliseconds());
				if (counted != stamped || stamped.GetMilliseconds() != dayNumber * 86400000 + msOfDay)
					mismatch("millisecond count", y, m, d);
				++days;
			}
		}
	}
	EXPECT_EQ(mismatches, 0) << first;
	EXPECT_EQ(days, DaysFromCivil(10000, 1, 1));
}

TEST(VTimeTest, KnownDates)
{
	const VTime y2k = UTC(2000, 1, 1);
	EXPECT_EQ(y2k.GetJulianDay(), 2451544);
	EXPECT_EQ(y2k.GetMilliseconds(), 211813401600000);
	EXPECT_EQ(y2k.GetWeekDay(), 6);
	VTime back;
	back.FromMilliseconds(211813401600000);
	EXPECT_EQ(UTCFields(back), (Fields { 2000, 1, 1, 0, 0, 0, 0 }));
	EXPECT_EQ(UTC(2024, 12, 31).GetYearDay(), 366);
	EXPECT_EQ(UTC(2024, 1, 2, 3, 4, 5, 6).GetStamp(), Stamp(2024, 1, 2, 11045006));

	int16 y, m, d;
	y2k.GetJulianDate(y, m, d);
	EXPECT_EQ((Fields { y, m, d, 0, 0, 0, 0 }), (Fields { 1999, 12, 19, 0, 0, 0, 0 }));
	UTC(1582, 10, 15).GetJulianDate(y, m, d);
	EXPECT_EQ((Fields { y, m, d, 0, 0, 0, 0 }), (Fields { 1582, 10, 5, 0, 0, 0, 0 }));

	VTime julian;
	julian.FromJulianDate(2024, 2, 29);
	EXPECT_EQ(UTCFields(julian), (Fields { 2024, 2, 29, 0, 0, 0, 0 }));
	julian.FromJulianDate(2023, 2, 29);
	EXPECT_TRUE(julian.IsNull());
	julian.FromJulianDate(2023, 13, 1);
	EXPECT_TRUE(julian.IsNull());
}

TEST(VTimeTest, ValidationOfUTCFields)
{
	struct Row
	{
		Fields in;
		bool valid;
	};
	const Row rows[] = {
		{ { 2024, 2, 29, 0, 0, 0, 0 }, true },
		{ { 2000, 2, 29, 0, 0, 0, 0 }, true },
		{ { 1900, 2, 29, 0, 0, 0, 0 }, false },
		{ { 2023, 2, 29, 0, 0, 0, 0 }, false },
		{ { 2024, 4, 31, 0, 0, 0, 0 }, false },
		{ { 2024, 1, 1, 24, 0, 0, 0 }, false },
		{ { 2024, 1, 1, 0, 60, 0, 0 }, false },
		{ { 2024, 1, 1, 0, 0, 60, 0 }, false },
		{ { 2024, 1, 1, 0, 0, 0, 1000 }, false },
		{ { 2024, 1, 1, -1, 0, 0, 0 }, false },
		{ { 2024, 0, 1, 0, 0, 0, 0 }, false },
		{ { 2024, 13, 1, 0, 0, 0, 0 }, false },
		{ { -1, 1, 1, 0, 0, 0, 0 }, false },
		{ { 0, 1, 1, 0, 0, 0, 0 }, true },
		{ { 32767, 12, 31, 23, 59, 59, 999 }, true },
		{ { 2024, 12, 31, 23, 59, 59, 999 }, true },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::PrintToString(row.in));
		const VTime t = UTC(row.in[0], row.in[1], row.in[2], row.in[3], row.in[4], row.in[5], row.in[6]);
		EXPECT_EQ(!t.IsNull(), row.valid);
		EXPECT_EQ(UTCFields(t), row.valid ? row.in : Fields {});
	}

	// The zero date keeps any time of day, unchecked.
	const VTime timeOnly = UTC(0, 0, 0, 25, 0, 0, 0);
	EXPECT_FALSE(timeOnly.IsNull());
	EXPECT_EQ(timeOnly.GetStamp(), 90000000u);
	EXPECT_EQ(timeOnly.GetMilliseconds(), 0);
}

TEST(VTimeTest, ArithmeticOnTheMillisecondCount)
{
	VTime t = UTC(2024, 2, 28, 12);
	t.AddDays(1);
	EXPECT_EQ(UTCFields(t), (Fields { 2024, 2, 29, 12, 0, 0, 0 }));
	t = UTC(2024, 3, 1, 12);
	t.AddHours(-13);
	EXPECT_EQ(UTCFields(t), (Fields { 2024, 2, 29, 23, 0, 0, 0 }));
	t.AddMilliseconds(3600000 + 1);
	EXPECT_EQ(UTCFields(t), (Fields { 2024, 3, 1, 0, 0, 0, 1 }));
	t.Substract(VDuration(2));
	EXPECT_EQ(UTCFields(t), (Fields { 2024, 2, 29, 23, 59, 59, 999 }));
	t.Add(VDuration(int64(365) * 86400000));
	EXPECT_EQ(UTCFields(t), (Fields { 2025, 2, 28, 23, 59, 59, 999 }));
	t.AddMinutes(-1);
	t.AddSeconds(61);
	EXPECT_EQ(UTCFields(t), (Fields { 2025, 3, 1, 0, 0, 0, 999 }));

	VDuration difference(5);
	difference.SetNull(true);
	UTC(2024, 1, 2).Substract(UTC(2024, 1, 1, 23), difference);
	EXPECT_EQ(difference.ConvertToMilliseconds(), 3600000);
	EXPECT_FALSE(difference.IsNull());

	// Results outside the years 0 to 32767 are null rather than a wrapped year.
	VTime last = UTC(32767, 12, 31, 23);
	last.AddHours(1);
	EXPECT_TRUE(last.IsNull());
	VTime first = UTC(0, 1, 1);
	first.AddMilliseconds(-1);
	EXPECT_TRUE(first.IsNull());
	VTime huge = UTC(2024, 1, 1);
	huge.AddMilliseconds(std::numeric_limits<int64>::max());
	EXPECT_TRUE(huge.IsNull());
	VTime early;
	early.FromMilliseconds(5000);
	EXPECT_TRUE(early.IsNull());
	early.FromJulianDay(0);
	EXPECT_TRUE(early.IsNull());
	early.FromMilliseconds(0);
	EXPECT_FALSE(early.IsNull());
	EXPECT_EQ(early.GetStamp(), 0u);
	early.FromMilliseconds(-1);
	EXPECT_TRUE(early.IsNull());
}

TEST(VTimeTest, AddMonthsGoesBackwardByWholeYears)
{
	struct Row
	{
		int32 months;
		int16 year, month;
	};
	const Row rows[] = {
		{ -1, 2023, 12 }, { -12, 2023, 1 }, { -13, 2022, 12 }, { -25, 2021, 12 }, { 0, 2024, 1 },
		{ 11, 2024, 12 }, { 12, 2025, 1 }, { 23, 2025, 12 }, { -24, 2022, 1 },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.months);
		VTime t = UTC(2024, 1, 15, 8);
		t.AddMonths(row.months);
		EXPECT_EQ(UTCFields(t), (Fields { row.year, row.month, 15, 8, 0, 0, 0 }));
	}

	// The day is not adjusted; nothing is validated.
	VTime t = UTC(2024, 1, 31);
	t.AddMonths(1);
	EXPECT_EQ(UTCFields(t), (Fields { 2024, 2, 31, 0, 0, 0, 0 }));
	t = UTC(2024, 2, 29);
	t.AddYears(-1);
	EXPECT_EQ(UTCFields(t), (Fields { 2023, 2, 29, 0, 0, 0, 0 }));

	// The zero date has no month to move.
	VTime timeOnly = UTC(0, 0, 0, 5);
	timeOnly.AddMonths(-1);
	timeOnly.AddYears(3);
	EXPECT_EQ(timeOnly.GetStamp(), 5u * 3600000u);
}

TEST(VTimeTest, NullTimesStayNull)
{
	void (*const operations[])(VTime&) = {
		[](VTime& t) { t.Add(VDuration(1000)); },
		[](VTime& t) { t.Substract(VDuration(1000)); },
		[](VTime& t) { t.AddMilliseconds(1); },
		[](VTime& t) { t.AddSeconds(1); },
		[](VTime& t) { t.AddMinutes(-1); },
		[](VTime& t) { t.AddHours(1); },
		[](VTime& t) { t.AddDays(1); },
		[](VTime& t) { t.AddMonths(1); },
		[](VTime& t) { t.AddMonths(-1); },
		[](VTime& t) { t.AddYears(1); },
		[](VTime& t) { t.SetLocalDay(3); },
		[](VTime& t) { t.SetLocalYear(2024); },
	};
	for (size_t i = 0; i < std::size(operations); ++i)
	{
		SCOPED_TRACE(i);
		VTime t = NullTime();
		operations[i](t);
		EXPECT_TRUE(t.IsNull());
		EXPECT_EQ(t.GetStamp(), 0u);
	}

	const VTime null = NullTime();
	EXPECT_EQ(null.GetMilliseconds(), -1);
	EXPECT_EQ(null.GetJulianDay(), -1);
	EXPECT_EQ(null.GetWeekDay(), -1);
	EXPECT_EQ(null.GetYearDay(), -1);
	EXPECT_EQ(LocalFields(null), Fields {});
	VDuration difference(7);
	UTC(2024, 1, 1).Substract(null, difference);
	EXPECT_TRUE(difference.IsNull());
	null.Substract(UTC(2024, 1, 1), difference);
	EXPECT_TRUE(difference.IsNull());

	// Copies keep the null state and are dirty.
	VTime copy(null);
	EXPECT_TRUE(copy.IsNull());
	EXPECT_TRUE(copy.IsDirty());
	VTime assigned = UTC(2024, 1, 1);
	assigned.SetDirty(false);
	assigned = null;
	EXPECT_TRUE(assigned.IsNull());
	EXPECT_TRUE(assigned.IsDirty());
	EXPECT_EQ(assigned.GetStamp(), 0u);
	std::unique_ptr<VValue> clone(null.Clone());
	EXPECT_TRUE(clone->IsNull());

	VTime zero;
	zero.NullIfZero();
	EXPECT_TRUE(zero.IsNull());
	VTime dated = UTC(2024, 1, 1);
	dated.NullIfZero();
	EXPECT_FALSE(dated.IsNull());
}

TEST(VTimeTest, MonthsAbove12FromOutsideAreKeptButHaveNoCalendar)
{
	for (uint64 month : { 13u, 200u, 255u })
	{
		SCOPED_TRACE(month);
		const uint64 stamp = Stamp(2024, month, 10, 5000);
		unsigned char flat[9];
		std::memcpy(flat + 1, &stamp, sizeof(stamp));
		VTime t;
		t.LoadFromPtr(flat + 1);
		EXPECT_FALSE(t.IsNull());
		EXPECT_EQ(t.GetStamp(), stamp);
		EXPECT_EQ(t.GetJulianDay(), -1);
		EXPECT_EQ(t.GetWeekDay(), -1);
		EXPECT_EQ(t.GetYearDay(), -1);
		EXPECT_EQ(t.GetMilliseconds(), -1);
		EXPECT_EQ(LocalFields(t), Fields {});
		EXPECT_EQ(t.GetLocalUnixTime(true), 0);
		int16 y = 1, m = 1, d = 1;
		t.GetJulianDate(y, m, d);
		EXPECT_EQ(y + m + d, 0);

		t.AddDays(1);
		t.AddMonths(-3);
		t.AddYears(1);
		EXPECT_EQ(t.GetStamp(), stamp);
		VDuration difference;
		t.Substract(UTC(2024, 1, 1), difference);
		EXPECT_TRUE(difference.IsNull());
	}
	EXPECT_EQ(VTime::ComputeJulianDay(2024, 13, 1), -1);
	EXPECT_EQ(VTime::ComputeWeekDay(2024, -1, 1), -1);
	EXPECT_EQ(VTime::ComputeYearDay(2024, 99, 1), -1);
	EXPECT_FALSE(VTime::CheckDate(2024, 13, 1));
}

TEST(VTimeTest, LocalSettersAcrossDaylightSavingChanges)
{
	ScopedSystemZone zone(kZoneCentralEurope);

	struct Read
	{
		Fields utc;
		Fields local;
	};
	const Read reads[] = {
		{ { 2024, 1, 1, 12, 0, 0, 0 }, { 2024, 1, 1, 13, 0, 0, 0 } },
		{ { 2024, 3, 31, 0, 59, 59, 500 }, { 2024, 3, 31, 1, 59, 59, 500 } },
		{ { 2024, 3, 31, 1, 0, 0, 0 }, { 2024, 3, 31, 3, 0, 0, 0 } },
		{ { 2024, 10, 27, 0, 30, 0, 0 }, { 2024, 10, 27, 2, 30, 0, 0 } },
		{ { 2024, 10, 27, 1, 30, 0, 0 }, { 2024, 10, 27, 2, 30, 0, 0 } },
		{ { 2023, 12, 31, 23, 0, 0, 0 }, { 2024, 1, 1, 0, 0, 0, 0 } },
	};
	for (const Read& row : reads)
	{
		SCOPED_TRACE(testing::PrintToString(row.utc));
		const VTime t = UTC(row.utc[0], row.utc[1], row.utc[2], row.utc[3], row.utc[4], row.utc[5], row.utc[6]);
		EXPECT_EQ(LocalFields(t), row.local);
		EXPECT_EQ(t.GetLocalHour(), row.local[3]);
		EXPECT_EQ(t.GetLocalDurationSinceMidnight().ConvertToMilliseconds(),
			row.local[3] * 3600000 + row.local[4] * 60000 + row.local[5] * 1000 + row.local[6]);
	}

	struct Set
	{
		const char* what;
		Fields start;
		void (*set)(VTime&);
		std::optional<Fields> utc;  // null expected when absent
	};
	const Set sets[] = {
		// 02:30 does not exist on March 31: it moves forward by the hour skipped.
		{ "hour into the spring gap", { 2024, 3, 31, 0, 30, 0, 0 }, [](VTime& t) { t.SetLocalHour(2); }, Fields { 2024, 3, 31, 1, 30, 0, 0 } },
		{ "hour 25 runs into the next day", { 2024, 3, 30, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalHour(25); }, Fields { 2024, 3, 31, 0, 0, 0, 0 } },
		{ "hour 26 lands in the gap", { 2024, 3, 30, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalHour(26); }, Fields { 2024, 3, 31, 1, 0, 0, 0 } },
		// 02:30 happens twice on October 27: the later one (standard time) is taken.
		{ "minute in the repeated hour", { 2024, 10, 27, 0, 0, 0, 0 }, [](VTime& t) { t.SetLocalMinute(30); }, Fields { 2024, 10, 27, 1, 30, 0, 0 } },
		{ "seconds past the autumn change", { 2024, 10, 27, 0, 0, 0, 0 }, [](VTime& t) { t.SetLocalSecond(3600); }, Fields { 2024, 10, 27, 2, 0, 0, 0 } },
		{ "day across the autumn change", { 2024, 10, 26, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalDay(27); }, Fields { 2024, 10, 27, 13, 0, 0, 0 } },
		{ "day across the spring change", { 2024, 3, 15, 10, 0, 0, 0 }, [](VTime& t) { t.SetLocalDay(31); }, Fields { 2024, 3, 31, 9, 0, 0, 0 } },
		{ "day 0 is the last of the month before", { 2024, 3, 15, 10, 0, 0, 0 }, [](VTime& t) { t.SetLocalDay(0); }, Fields { 2024, 2, 29, 10, 0, 0, 0 } },
		{ "day past the month's end", { 2024, 1, 10, 10, 0, 0, 0 }, [](VTime& t) { t.SetLocalDay(32); }, Fields { 2024, 2, 1, 10, 0, 0, 0 } },
		{ "month 13 is January of the next year", { 2024, 5, 10, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalMonth(13); }, Fields { 2025, 1, 10, 13, 0, 0, 0 } },
		{ "month into summer time", { 2024, 1, 10, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalMonth(7); }, Fields { 2024, 7, 10, 11, 0, 0, 0 } },
		{ "February 30 does not exist", { 2024, 3, 30, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalMonth(2); }, std::nullopt },
		{ "month 0 does not exist", { 2024, 3, 30, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalMonth(0); }, std::nullopt },
		{ "February 29 of a common year", { 2024, 2, 29, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalYear(2023); }, std::nullopt },
		{ "February 29 of a leap year", { 2024, 2, 29, 12, 0, 0, 0 }, [](VTime& t) { t.SetLocalYear(2028); }, Fields { 2028, 2, 29, 12, 0, 0, 0 } },
		{ "millisecond -1 goes back a day", { 2023, 12, 31, 23, 0, 0, 0 }, [](VTime& t) { t.SetLocalMillisecond(-1); }, Fields { 2023, 12, 31, 22, 59, 59, 999 } },
		{ "local date before year 0", { 0, 1, 1, 1, 30, 0, 0 }, [](VTime& t) { t.SetLocalHour(-1); }, std::nullopt },
	};
	for (const Set& row : sets)
	{
		SCOPED_TRACE(row.what);
		VTime t = UTC(row.start[0], row.start[1], row.start[2], row.start[3], row.start[4], row.start[5], row.start[6]);
		ASSERT_FALSE(t.IsNull());
		row.set(t);
		if (row.utc)
		{
			EXPECT_FALSE(t.IsNull());
			EXPECT_EQ(UTCFields(t), *row.utc);
		}
		else
		{
			EXPECT_TRUE(t.IsNull());
		}
	}

	// Local fields are validated, not rolled over.
	VTime t;
	t.FromLocalTime(2023, 2, 29, 12, 0, 0, 0);
	EXPECT_TRUE(t.IsNull());
	t.FromLocalTime(2024, 7, 1, 14, 0, 0, 0);
	EXPECT_EQ(UTCFields(t), (Fields { 2024, 7, 1, 12, 0, 0, 0 }));
	t.FromLocalTime(2024, 7, 1, 24, 0, 0, 0);
	EXPECT_TRUE(t.IsNull());

	EXPECT_EQ(UTC(2024, 1, 1, 0, 0, 0, 250).GetLocalUnixTime(false), 1704067200);
	EXPECT_EQ(UTC(2024, 1, 1, 0, 0, 0, 250).GetLocalUnixTime(true), 1704067200250);
	EXPECT_EQ(UTC(2024, 7, 1).GetLocalUnixTime(false), 1719792000);
	EXPECT_EQ(VTime().GetLocalUnixTime(false), 0);

	// A time without a date is not converted; its time setters move the time of day only.
	VTime timeOnly = UTC(0, 0, 0, 5);
	EXPECT_EQ(timeOnly.GetLocalHour(), 5);
	timeOnly.SetLocalHour(25);
	EXPECT_EQ(timeOnly.GetStamp(), 90000000u);
	timeOnly.SetLocalDay(2);
	EXPECT_TRUE(timeOnly.IsNull());
}

TEST(VTimeTest, TodayAndNowInTheLocalZone)
{
	ScopedSystemZone zone(kZoneUSEast);
	int16 before[7], after[7];
	VSystem::GetSystemLocalTime(before);
	VTime today;
	today.FromToday(90 * 60000);
	VSystem::GetSystemLocalTime(after);
	const Fields local = LocalFields(today);
	const bool sameDate = (local[0] == before[0] && local[1] == before[1] && local[2] == before[2]) ||
		(local[0] == after[0] && local[1] == after[1] && local[2] == after[2]);
	EXPECT_TRUE(sameDate) << testing::PrintToString(local);
	// 01:30 local, except on a day whose first hours hold a daylight-saving change (none in this zone).
	EXPECT_EQ(local[3], 1);
	EXPECT_EQ(local[4], 30);

	VTime now(eInitWithCurrentTime);
	EXPECT_FALSE(now.IsNull());
	EXPECT_GT(now.GetJulianDay(), UTC(2024, 1, 1).GetJulianDay());
}

TEST(VTimeTest, OrderComparesFieldsAndTheDescriptorComparesStamps)
{
	EXPECT_EQ(UTC(2024, 1, 1).CompareTo(UTC(2023, 12, 31, 23, 59, 59, 999)), CR_BIGGER);
	EXPECT_EQ(UTC(2024, 1, 1, 0, 0, 0, 1).CompareTo(UTC(2024, 1, 1)), CR_BIGGER);
	EXPECT_EQ(UTC(2024, 2, 1).CompareTo(UTC(2024, 3, 1)), CR_SMALLER);
	EXPECT_TRUE(UTC(2024, 2, 1) < UTC(2024, 2, 2));
	EXPECT_TRUE(UTC(2024, 2, 1) == UTC(2024, 2, 1));
	EXPECT_TRUE(NullTime() == VTime());

	// The year is compared as a signed 16-bit number by the value, the stamp unsigned by the descriptor.
	const VTime negativeYear(Stamp(0x8000, 1, 1, 0));
	const VTime yearZero(Stamp(0, 1, 1, 0));
	EXPECT_EQ(negativeYear.CompareTo(yearZero), CR_SMALLER);
	uint64 stamps[2] = { negativeYear.GetStamp(), yearZero.GetStamp() };
	const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_TIME);
	ASSERT_EQ(info, VTime().GetValueInfo());
	EXPECT_EQ(info->CompareTwoPtrToData(&stamps[0], &stamps[1]), CR_BIGGER);
	EXPECT_EQ(negativeYear.CompareToSameKindPtr(&stamps[1]), CR_SMALLER);
	EXPECT_TRUE(yearZero.EqualToSameKindPtr(&stamps[1]));

	const VTime other = UTC(2024, 5, 5);
	EXPECT_EQ(UTC(2024, 5, 6).CompareTo(static_cast<const VValueSingle&>(other)), CR_BIGGER);
	EXPECT_EQ(UTC(2024, 5, 4).CompareToSameKind(&other), CR_SMALLER);
}

TEST(VTimeTest, FlatFormConversionsAndDescriptor)
{
	unsigned char buffer[1 + 8] = {};
	const VTime t = UTC(2024, 1, 2, 3, 4, 5, 6);
	EXPECT_EQ(t.WriteToPtr(buffer + 1), buffer + 9);
	EXPECT_EQ(t.WriteToPtr(buffer, 0, 7), buffer);
	uint64 extra = 0;
	EXPECT_EQ(t.GetSpace(extra), 8u);
	VTime loaded = NullTime();
	EXPECT_EQ(loaded.LoadFromPtr(buffer + 1), buffer + 9);
	EXPECT_EQ(loaded, t);
	EXPECT_FALSE(loaded.IsNull());

	std::unique_ptr<VValue> made(VTime::sInfo.LoadFromPtr(buffer + 1));
	ASSERT_NE(dynamic_cast<VTime*>(made.get()), nullptr);
	EXPECT_EQ(*static_cast<VTime*>(made.get()), t);
	std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_TIME));
	ASSERT_NE(dynamic_cast<VTime*>(generated.get()), nullptr);
	EXPECT_FALSE(generated->IsNull());
	EXPECT_EQ(static_cast<VTime*>(generated.get())->GetStamp(), 0u);

	// Conversions carry the null state.
	VTime target = UTC(2020, 1, 1);
	target.FromValue(NullTime());
	EXPECT_TRUE(target.IsNull());
	target.FromTime(t);
	EXPECT_FALSE(target.IsNull());
	EXPECT_EQ(target, t);
	EXPECT_EQ(t.GetLong8OrMilliSeconds(), t.GetMilliseconds());
	EXPECT_EQ(t.GetReal(), double(t.GetStamp()));
	EXPECT_EQ(t.GetLong(), 0);

	// The JSON text carries the whole time; the XML reading of a date alone is UTC midnight.
	VString text("x");
	EXPECT_EQ(t.GetJSONString(text), VE_OK);
	VTime parsed = NullTime();
	EXPECT_EQ(parsed.FromJSONString(text), VE_OK);
	EXPECT_EQ(parsed, t);
	EXPECT_TRUE(parsed.FromXMLString(VString("2024-01-01")));
	EXPECT_EQ(parsed, UTC(2024, 1, 1));
}

}  // namespace
}  // namespace velk
