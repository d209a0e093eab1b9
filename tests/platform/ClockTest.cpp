#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <array>
#include <cstring>
#include <ctime>

#include "platform/Clock.h"
#include "platform/ScopedTimeZone.h"

namespace {

using Fields = std::array<int16_t, 7>;

std::string Show(const Fields& f)
{
	char text[64];
	std::snprintf(text, sizeof(text), "%d-%02d-%02d %02d:%02d:%02d.%03d", f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	return text;
}

int64_t AsUTCSeconds(const Fields& f)
{
	tm broken {};
	broken.tm_year = f[0] - 1900;
	broken.tm_mon = f[1] - 1;
	broken.tm_mday = f[2];
	broken.tm_hour = f[3];
	broken.tm_min = f[4];
	broken.tm_sec = f[5];
	return int64_t(::timegm(&broken));
}

// Instants on both sides of each daylight-saving change, with the local reading of each; every local reading
// here happens once, so the conversion must go back exactly.
struct UniqueRow
{
	const char* zone;
	Fields utc;
	Fields local;
};

const UniqueRow kUniqueRows[] = {
	{ kZoneCentralEurope, { 2024, 1, 15, 12, 0, 0, 0 }, { 2024, 1, 15, 13, 0, 0, 0 } },
	{ kZoneCentralEurope, { 2024, 7, 14, 12, 0, 0, 0 }, { 2024, 7, 14, 14, 0, 0, 0 } },
	{ kZoneCentralEurope, { 2024, 3, 31, 0, 59, 59, 0 }, { 2024, 3, 31, 1, 59, 59, 0 } },
	{ kZoneCentralEurope, { 2024, 3, 31, 1, 0, 0, 0 }, { 2024, 3, 31, 3, 0, 0, 0 } },
	{ kZoneCentralEurope, { 2024, 12, 31, 23, 30, 0, 0 }, { 2025, 1, 1, 0, 30, 0, 0 } },
	{ kZoneUSEast, { 2024, 3, 10, 6, 59, 59, 0 }, { 2024, 3, 10, 1, 59, 59, 0 } },
	{ kZoneUSEast, { 2024, 3, 10, 7, 0, 0, 0 }, { 2024, 3, 10, 3, 0, 0, 0 } },
	{ kZoneUSEast, { 2024, 1, 1, 3, 0, 0, 0 }, { 2023, 12, 31, 22, 0, 0, 0 } },
	{ kZoneCentralAustralia, { 2024, 1, 15, 0, 0, 0, 0 }, { 2024, 1, 15, 10, 30, 0, 0 } },
	{ kZoneCentralAustralia, { 2024, 7, 15, 0, 0, 0, 0 }, { 2024, 7, 15, 9, 30, 0, 0 } },
	{ kZoneUTC, { 1969, 12, 31, 23, 59, 59, 0 }, { 1969, 12, 31, 23, 59, 59, 0 } },
};

TEST(ClockTest, ConvertsBothWaysAcrossDaylightSavingChanges)
{
	for (const UniqueRow& row : kUniqueRows)
	{
		ScopedTimeZone zone(row.zone);
		SCOPED_TRACE(std::string(row.zone) + " " + Show(row.utc));

		Fields fields = row.utc;
		fields[6] = 321;
		ASSERT_TRUE(plat::UTCFieldsToLocal(fields.data()));
		Fields expected = row.local;
		expected[6] = 321;
		EXPECT_EQ(Show(fields), Show(expected));

		ASSERT_TRUE(plat::LocalFieldsToUTC(fields.data()));
		expected = row.utc;
		expected[6] = 321;
		EXPECT_EQ(Show(fields), Show(expected));
	}
}

// Local readings that happen twice (the later occurrence wins) or never (moved forward by the shift).
struct LocalRow
{
	const char* zone;
	Fields local;
	Fields utc;
};

const LocalRow kAmbiguousRows[] = {
	{ kZoneCentralEurope, { 2024, 10, 27, 2, 30, 0, 0 }, { 2024, 10, 27, 1, 30, 0, 0 } },
	{ kZoneCentralEurope, { 2024, 10, 27, 2, 0, 0, 0 }, { 2024, 10, 27, 1, 0, 0, 0 } },
	{ kZoneUSEast, { 2024, 11, 3, 1, 30, 0, 0 }, { 2024, 11, 3, 6, 30, 0, 0 } },
	{ kZoneCentralEurope, { 2024, 3, 31, 2, 30, 0, 0 }, { 2024, 3, 31, 1, 30, 0, 0 } },
	{ kZoneUSEast, { 2024, 3, 10, 2, 15, 0, 0 }, { 2024, 3, 10, 7, 15, 0, 0 } },
	{ kZoneCentralAustralia, { 2024, 10, 6, 2, 45, 0, 0 }, { 2024, 10, 5, 17, 15, 0, 0 } },
};

TEST(ClockTest, RepeatedAndSkippedLocalTimesGiveOneAnswerWhateverCameBefore)
{
	// Summer and winter conversions in between must not sway the answer.
	const Fields others[] = { { 2024, 7, 1, 12, 0, 0, 0 }, { 2024, 1, 1, 12, 0, 0, 0 } };
	for (const LocalRow& row : kAmbiguousRows)
	{
		ScopedTimeZone zone(row.zone);
		for (const Fields& before : others)
		{
			SCOPED_TRACE(std::string(row.zone) + " " + Show(row.local) + " after " + Show(before));
			Fields other = before;
			ASSERT_TRUE(plat::LocalFieldsToUTC(other.data()));
			Fields fields = row.local;
			ASSERT_TRUE(plat::LocalFieldsToUTC(fields.data()));
			EXPECT_EQ(Show(fields), Show(row.utc));
		}
	}
}

TEST(ClockTest, NormalizesFieldsAndRefusesYearsOutsideTheFieldRange)
{
	ScopedTimeZone zone(kZoneCentralEurope);

	Fields fields = { 2023, 13, 1, 0, 0, 0, 5 };
	ASSERT_TRUE(plat::UTCFieldsToLocal(fields.data()));
	EXPECT_EQ(Show(fields), Show({ 2024, 1, 1, 1, 0, 0, 5 }));

	fields = { 2024, 3, 0, 23, 0, 0, 0 };
	ASSERT_TRUE(plat::LocalFieldsToUTC(fields.data()));
	EXPECT_EQ(Show(fields), Show({ 2024, 2, 29, 22, 0, 0, 0 }));

	const Fields overflowing = { 32767, 12, 31, 23, 30, 0, 9 };
	fields = overflowing;
	EXPECT_FALSE(plat::UTCFieldsToLocal(fields.data()));
	EXPECT_EQ(Show(fields), Show(overflowing));

	const Fields underflowing = { -32768, 1, 1, 0, 30, 0, 9 };
	fields = underflowing;
	EXPECT_FALSE(plat::LocalFieldsToUTC(fields.data()));
	EXPECT_EQ(Show(fields), Show(underflowing));
}

// The arithmetic breakdown against gmtime_r: calendar edges (leap days of 2000 and 2024, 1900 and 2100 that
// are not leap years, the turn of 1970 from both sides), then a stride through 1600-2400 that falls on every
// time of day; and years outside the fields refused.
TEST(ClockTest, UTCBreakdownAgreesWithGmtime)
{
	const int64_t edges[] = {0, -1, 86399, 86400, -86400, -86401, 951782400, 951868799, 951868800, 1709164800,
							 1709251199, -2203891200, -2203977601, 4107542400, 4107456000, 253402300799, -62135596800};
	auto check = [](int64_t seconds) {
		const time_t value = time_t(seconds);
		tm broken {};
		ASSERT_NE(::gmtime_r(&value, &broken), nullptr);
		Fields fields {};
		ASSERT_TRUE(plat::UTCSecondsToFields(seconds, fields.data())) << seconds;
		const Fields expected = {int16_t(broken.tm_year + 1900), int16_t(broken.tm_mon + 1), int16_t(broken.tm_mday),
								 int16_t(broken.tm_hour), int16_t(broken.tm_min), int16_t(broken.tm_sec), 0};
		EXPECT_EQ(Show(fields), Show(expected)) << seconds;
	};
	for (int64_t seconds : edges)
		check(seconds);
	for (int64_t seconds = -11676096000; seconds < 13569465600; seconds += 86400 * 7 + 3607)
		check(seconds);

	Fields fields = {1, 2, 3, 4, 5, 6, 7};
	const Fields untouched = fields;
	EXPECT_FALSE(plat::UTCSecondsToFields(int64_t(40000) * 366 * 86400, fields.data()));
	EXPECT_FALSE(plat::UTCSecondsToFields(-int64_t(40000) * 366 * 86400, fields.data()));
	EXPECT_EQ(Show(fields), Show(untouched));
}

TEST(ClockTest, OffsetsArePositiveEastOfUTCAndFlagDaylightSaving)
{
	struct Row
	{
		const char* zone;
		int64_t at;
		int32_t offset;
		bool daylight;
	};
	const Row rows[] = {
		{ kZoneCentralEurope, 1704067200, 3600, false },  // 2024-01-01
		{ kZoneCentralEurope, 1719792000, 7200, true },  // 2024-07-01
		{ kZoneUSEast, 1704067200, -18000, false },
		{ kZoneUSEast, 1719792000, -14400, true },
		{ kZoneCentralAustralia, 1704067200, 37800, true },
		{ kZoneCentralAustralia, 1719792000, 34200, false },
		{ kZoneJapan, 1719792000, 32400, false },
	};
	for (const Row& row : rows)
	{
		ScopedTimeZone zone(row.zone);
		SCOPED_TRACE(std::string(row.zone) + " at " + std::to_string(row.at));
		int32_t offset = 1;
		bool daylight = !row.daylight;
		ASSERT_TRUE(plat::GetUTCOffsetAt(row.at, &offset, &daylight));
		EXPECT_EQ(offset, row.offset);
		EXPECT_EQ(daylight, row.daylight);
	}
}

TEST(ClockTest, FindsTheNextOffsetChangeToTheSecond)
{
	struct Row
	{
		const char* zone;
		int64_t from;
		int64_t limit;
		int64_t expected;
	};
	constexpr int64_t kYear = 366 * 86400;
	const Row rows[] = {
		{ kZoneCentralEurope, 1704067200, 1704067200 + kYear, 1711846800 },  // 2024-03-31 01:00 UTC
		{ kZoneCentralEurope, 1711846800, 1711846800 + kYear, 1729990800 },  // 2024-10-27 01:00 UTC
		{ kZoneCentralEurope, 1711846799, 1711846800 + kYear, 1711846800 },
		{ kZoneUSEast, 1704067200, 1704067200 + kYear, 1710054000 },  // 2024-03-10 07:00 UTC
		{ kZoneCentralAustralia, 1719792000, 1719792000 + kYear, 1728145800 },  // 2024-10-05 16:30 UTC
		{ kZoneCentralEurope, 1704067200, 1704067200 + 86400 * 30, 1704067200 + 86400 * 30 },
		{ kZoneJapan, 1704067200, 1704067200 + kYear, 1704067200 + kYear },
		{ kZoneUTC, 1704067200, 1704067200, 1704067200 },
	};
	for (const Row& row : rows)
	{
		ScopedTimeZone zone(row.zone);
		SCOPED_TRACE(std::string(row.zone) + " from " + std::to_string(row.from));
		EXPECT_EQ(plat::FindNextUTCOffsetChange(row.from, row.limit), row.expected);
	}
}

TEST(ClockTest, NowFieldsAgreeWithTheRealTimeClockInBothZones)
{
	ScopedTimeZone zone(kZoneCentralAustralia);
	int64_t before = plat::GetCalendarSeconds();
	Fields utc = { -1, -1, -1, -1, -1, -1, -1 };
	Fields local = utc;
	plat::GetUTCNowFields(utc.data());
	plat::GetLocalNowFields(local.data());
	int64_t after = plat::GetCalendarSeconds();

	EXPECT_GE(AsUTCSeconds(utc), before);
	EXPECT_LE(AsUTCSeconds(utc), after);
	EXPECT_GE(utc[6], 0);
	EXPECT_LE(utc[6], 999);
	EXPECT_GE(local[6], 0);
	EXPECT_LE(local[6], 999);

	ASSERT_TRUE(plat::LocalFieldsToUTC(local.data()));
	EXPECT_GE(AsUTCSeconds(local), before);
	EXPECT_LE(AsUTCSeconds(local), after);
}

TEST(ClockTest, TicksFollowTheMillisecondClock)
{
	for (int i = 0; i < 50; ++i)
	{
		uint64_t first = plat::GetMonotonicMilliseconds();
		uint32_t ticks = plat::GetMonotonicTicks();
		uint64_t last = plat::GetMonotonicMilliseconds();
		ASSERT_LE(first, last);
		EXPECT_GE(ticks, uint32_t(first * 60 / 1000));
		EXPECT_LE(ticks, uint32_t((last + 1) * 60 / 1000 + 1));
	}
}

volatile sig_atomic_t sAlarmCount = 0;

void CountAlarm(int)
{
	sAlarmCount = sAlarmCount + 1;
}

TEST(ClockTest, SleepLastsItsWholeTimeThroughSignals)
{
	struct sigaction action {};
	struct sigaction previous {};
	action.sa_handler = CountAlarm;
	sigemptyset(&action.sa_mask);
	action.sa_flags = 0;  // no restart: the sleep itself must resume
	ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
	sAlarmCount = 0;
	itimerval timer {};
	timer.it_value.tv_usec = 5000;
	timer.it_interval.tv_usec = 5000;
	ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);

	uint64_t start = plat::GetMonotonicMilliseconds();
	plat::SleepMilliseconds(60);
	uint64_t elapsed = plat::GetMonotonicMilliseconds() - start;

	itimerval off {};
	::setitimer(ITIMER_REAL, &off, nullptr);
	::sigaction(SIGALRM, &previous, nullptr);

	EXPECT_GE(elapsed, 60u);
	EXPECT_GT(sAlarmCount, 0);
}

}  // namespace
