// Time texts: RFC 3339 output options and offsets taken at the date, the parser's edge list, round trips
// across daylight-saving changes of real zones, RFC 822, the XML and JSON forms, the numeric and "!" forms
// and the compiler's date.
#include "kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <unistd.h>

#include "files/VSystem.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "common/VScopedSystemZone.h"
#include "platform/ScopedTimeZone.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

using Fields = std::array<int16, 7>;

VTime UTC(int16 y, int16 m, int16 d, int16 h = 0, int16 mi = 0, int16 s = 0, int16 ms = 0)
{
	VTime t;
	t.FromUTCTime(y, m, d, h, mi, s, ms);
	return t;
}

VTime NullTime()
{
	VTime t;
	t.SetNull(true);
	return t;
}

Fields UTCFields(const VTime& t)
{
	Fields f;
	t.GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
	return f;
}

std::string Text(const VString& s)
{
	std::string out;
	for (int32 i = 1; i <= s.GetLength(); ++i)
		out += char(s.GetUniChar(i));
	return out;
}

using test::ScopedSystemZone;

bool HasZoneFile(const char* name)
{
	return ::access((std::string("/usr/share/zoneinfo/") + name).c_str(), R_OK) == 0;
}

// Two hours ahead of UTC all year.
constexpr const char* kZonePlusTwo = "<+02>-2";

TEST(VTimeTextTest, Rfc3339OutputOptionsAndTheOffsetInForceAtTheDate)
{
	struct Row
	{
		const char* zone;
		VTime time;
		uint32 options;
		const char* expected;
	};
	const VTime sample = UTC(2024, 3, 5, 7, 8, 9, 10);
	const Row rows[] = {
		// A null time writes the same text whatever the options.
		{kZonePlusTwo, NullTime(), 0, "0000-00-00T00:00:00Z"},
		{kZonePlusTwo, NullTime(), 1 | 4, "0000-00-00T00:00:00Z"},
		{kZonePlusTwo, NullTime(), 2 | 8, "0000-00-00T00:00:00Z"},
		// UTC.
		{kZonePlusTwo, sample, 1, "2024-03-05T07:08:09.010Z"},
		{kZonePlusTwo, sample, 1 | 32, "2024-03-05T07:08:09Z"},
		{kZonePlusTwo, sample, 1 | 4, "07:08:09Z"},
		{kZonePlusTwo, sample, 1 | 8, "2024-03-05"},
		{kZonePlusTwo, sample, 1 | 16, "0000-00-00T07:08:09.010Z"},
		{kZonePlusTwo, sample, 1 | 4 | 8, "07:08:09Z"},
		{kZonePlusTwo, sample, 1 | 2, "2024-03-05T07:08:09.010Z"},
		// Local without offset.
		{kZonePlusTwo, sample, 2, "2024-03-05T09:08:09.010"},
		{kZonePlusTwo, sample, 2 | 32, "2024-03-05T09:08:09"},
		{kZonePlusTwo, sample, 2 | 4, "09:08:09"},
		{kZonePlusTwo, sample, 2 | 8, "2024-03-05"},
		// Local with offset, never with milliseconds.
		{kZonePlusTwo, sample, 0, "2024-03-05T09:08:09+02:00"},
		{kZonePlusTwo, sample, 4, "09:08:09+02:00"},
		{kZonePlusTwo, sample, 8, "2024-03-05+02:00"},
		{kZonePlusTwo, sample, 16, "0000-00-00T09:08:09+02:00"},
		{kZonePlusTwo, UTC(2024, 12, 31, 23, 0, 0), 0, "2025-01-01T01:00:00+02:00"},
		{"<-0330>3:30", sample, 0, "2024-03-05T03:38:09-03:30"},
		// The offset is the one in force at the time written, on either side of a change.
		{"CET-1CEST,M3.5.0,M10.5.0/3", UTC(2024, 3, 31, 0, 59, 59), 0, "2024-03-31T01:59:59+01:00"},
		{"CET-1CEST,M3.5.0,M10.5.0/3", UTC(2024, 3, 31, 1, 0, 0), 0, "2024-03-31T03:00:00+02:00"},
		{"CET-1CEST,M3.5.0,M10.5.0/3", UTC(2024, 10, 27, 0, 59, 59), 0, "2024-10-27T02:59:59+02:00"},
		{"CET-1CEST,M3.5.0,M10.5.0/3", UTC(2024, 10, 27, 1, 0, 0), 0, "2024-10-27T02:00:00+01:00"},
		{"CET-1CEST,M3.5.0,M10.5.0/3", UTC(2024, 1, 15, 12, 0, 0), 0, "2024-01-15T13:00:00+01:00"},
		{"CET-1CEST,M3.5.0,M10.5.0/3", UTC(2024, 7, 15, 12, 0, 0), 0, "2024-07-15T14:00:00+02:00"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.zone) + " options " + std::to_string(row.options) + " " + row.expected);
		ScopedSystemZone zone(row.zone);
		VString text("old");
		row.time.GetRfc3339String(text, row.options);
		EXPECT_EQ(Text(text), row.expected);
		VString xml;
		row.time.GetXMLString(xml, row.options);
		EXPECT_EQ(Text(xml), row.expected);
	}
}

TEST(VTimeTextTest, Rfc3339ParserEdgeList)
{
	struct Row
	{
		const char* text;
		bool answer;
		std::optional<Fields> utc;  // none: the time is null
	};
	const Row rows[] = {
		{"", false, std::nullopt},
		{"2024-03-05T07:08:09.5Z", true, Fields{2024, 3, 5, 7, 8, 9, 500}},
		// The milliseconds are the fraction's first three digits, never a binary double truncated.
		{"2024-03-05T07:08:09.010Z", true, Fields{2024, 3, 5, 7, 8, 9, 10}},
		{"2024-03-05T07:08:09.0109Z", true, Fields{2024, 3, 5, 7, 8, 9, 10}},
		{"2024-03-05T07:08:09.290Z", true, Fields{2024, 3, 5, 7, 8, 9, 290}},
		{"2024-03-05T07:08:09.999Z", true, Fields{2024, 3, 5, 7, 8, 9, 999}},
		{"2024-03-05", true, Fields{2024, 3, 5, 0, 0, 0, 0}},
		{"2024-02-30", true, Fields{0, 0, 0, 0, 0, 0, 0}},
		{"2024-03-05T07:08Z", false, std::nullopt},
		{"12:30:15", true, Fields{0, 0, 0, 12, 30, 15, 0}},
		{"12:30", true, Fields{0, 0, 0, 12, 30, 0, 0}},
		{"12:30:15.010Z", true, Fields{0, 0, 0, 12, 30, 15, 10}},
		{"3725", true, Fields{0, 0, 0, 1, 2, 0, 0}},
		{"hello", false, std::nullopt},
		{"0000-00-00T00:00:00Z", true, std::nullopt},
		{"0000-00-00T07:08:09.010Z", true, Fields{0, 0, 0, 7, 8, 9, 10}},
		{"0000-00-00T07:08Z", false, std::nullopt},
		{"2024-03-05T07:08:60Z", true, std::nullopt},
		{"2024-13-05T07:08:09Z", true, std::nullopt},
		{"2023-02-29T07:08:09Z", true, std::nullopt},
		// Offsets are subtracted from the fields, whatever the local zone.
		{"2024-03-05T07:08:09+05:30", true, Fields{2024, 3, 5, 1, 38, 9, 0}},
		{"2024-03-05T07:08:09-03:30", true, Fields{2024, 3, 5, 10, 38, 9, 0}},
		{"2024-03-05T23:30:00-01:00", true, Fields{2024, 3, 6, 0, 30, 0, 0}},
		{"2000-01-01T00:29:59.999+00:30", true, Fields{1999, 12, 31, 23, 59, 59, 999}},
		{"2024-03-05T07:08:09+0530", false, std::nullopt},
		// Without "Z" or an offset the fields are local time (two hours ahead here); a short text is UTC.
		{"2024-03-05T07:08:09", true, Fields{2024, 3, 5, 5, 8, 9, 0}},
		{"2024-03-05T07:08:09.250", true, Fields{2024, 3, 5, 5, 8, 9, 250}},
		{"2024-03-05+05:00", true, Fields{2024, 3, 4, 22, 0, 0, 0}},
	};
	ScopedSystemZone zone(kZonePlusTwo);
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		VTime t = UTC(2001, 1, 1, 1, 1, 1);
		EXPECT_EQ(t.FromRfc3339String(VString(row.text)), row.answer);
		ASSERT_EQ(t.IsNull(), !row.utc.has_value());
		if (row.utc)
		{
			EXPECT_EQ(UTCFields(t), *row.utc);
		}
	}
	VTime fromNull = UTC(2001, 1, 1);
	VString nullText;
	nullText.SetNull(true);
	EXPECT_FALSE(fromNull.FromRfc3339String(nullText));
	EXPECT_TRUE(fromNull.IsNull());
}

// Every millisecond, in each zone, over six hours around both changes of its year.
TEST(VTimeTextTest, Rfc3339RoundTripsAcrossDaylightSavingChanges)
{
	struct Zone
	{
		const char* name;
		VTime changes[2];  // in UTC
	};
	const Zone zones[] = {
		{"Europe/Paris", {UTC(2024, 3, 31, 1), UTC(2024, 10, 27, 1)}},
		{"Asia/Kolkata", {UTC(2024, 3, 31, 1), UTC(2024, 10, 27, 1)}},
		{"America/St_Johns", {UTC(2024, 3, 10, 5, 30), UTC(2024, 11, 3, 4, 30)}},
	};
	for (const Zone& zone : zones)
	{
		if (!HasZoneFile(zone.name))
			GTEST_SKIP() << "tzdata is not installed (/usr/share/zoneinfo/" << zone.name << " is missing)";
	}
	for (const Zone& zone : zones)
	{
		SCOPED_TRACE(zone.name);
		ScopedSystemZone scoped(zone.name);
		for (const VTime& change : zone.changes)
		{
			int32 failures = 0;
			for (int32 i = 0; i < 1000 && failures < 5; ++i)
			{
				// 21601 ms apart: six hours in all, each millisecond of the second met once.
				VTime t = change;
				t.AddMilliseconds(int64(i) * 21601 - 3 * 3600000);
				VTime wholeSeconds = t;
				wholeSeconds.AddMilliseconds(-(t.GetMilliseconds() % 1000));
				const struct
				{
					uint32 options;
					const VTime& expected;
				} forms[] = { {VTime::kRFC3339_UTC, t}, {0, wholeSeconds} };
				for (const auto& form : forms)
				{
					VString text;
					t.GetRfc3339String(text, form.options);
					VTime back = NullTime();
					const bool read = back.FromRfc3339String(text);
					if (!read || back != form.expected)
					{
						++failures;
						ADD_FAILURE() << Text(text) << " read back as " << back.GetStamp();
					}
				}
				// The JSON text, marked and quoted as JSON text holds it, comes back whole.
				VString json;
				EXPECT_EQ(t.GetJSONString(json, VTime::kJSON_DATE_MARKS), VE_OK);
				VTime back;
				EXPECT_EQ(back.FromJSONString(json), VE_OK);
				if (back != t)
				{
					++failures;
					ADD_FAILURE() << Text(json) << " read back as " << back.GetStamp();
				}
			}
		}
	}
}

TEST(VTimeTextTest, Rfc822BothWays)
{
	struct Written
	{
		VTime time;
		const char* expected;
	};
	const Written written[] = {
		{UTC(2024, 3, 5, 7, 8, 9, 10), "Tue, 05 Mar 2024 07:08:09 GMT"},
		{UTC(2000, 1, 1), "Sat, 01 Jan 2000 00:00:00 GMT"},
		{UTC(1999, 12, 31, 23, 59, 59), "Fri, 31 Dec 1999 23:59:59 GMT"},
		{NullTime(), ", 00  0000 00:00:00 GMT"},
	};
	for (const Written& row : written)
	{
		VString text;
		row.time.GetRfc822String(text);
		EXPECT_EQ(Text(text), row.expected);
	}

	struct Read
	{
		const char* text;
		std::optional<Fields> utc;
	};
	const Read read[] = {
		{"Tue, 05 Mar 2024 07:08:09 GMT", Fields{2024, 3, 5, 7, 8, 9, 0}},
		{"Tue, 05 Mar 2024 07:08:09 +0200", Fields{2024, 3, 5, 7, 8, 9, 0}},
		{"5 Mar 2024", Fields{2024, 3, 5, 0, 0, 0, 0}},
		{"05 mar 2024 07:08", Fields{2024, 3, 5, 7, 8, 0, 0}},
		{"5 DEC 2024", Fields{2024, 12, 5, 0, 0, 0, 0}},
		{"no digits at all", Fields{0, 0, 0, 0, 0, 0, 0}},
		// Letters of any script make the name, compared without accents or case.
		{"5 M\u00E4r 2024", Fields{2024, 3, 5, 0, 0, 0, 0}},
		{"1 J\u00C1N 2024 10:11:12", Fields{2024, 1, 1, 10, 11, 12, 0}},
		{"Mi, 7 D\u00E9c 2022 01:02:03 MEZ", Fields{2022, 12, 7, 1, 2, 3, 0}},
		// A month name that is none of the twelve, and a day past the month's end.
		{"5 March 2024", std::nullopt},
		{"31 Feb 2024", std::nullopt},
		{"5 Mar 2024 24:00:00", std::nullopt},
	};
	for (const Read& row : read)
	{
		SCOPED_TRACE(row.text);
		VTime t = UTC(2001, 1, 1);
		t.FromRfc822String(VString(row.text));
		ASSERT_EQ(t.IsNull(), !row.utc.has_value());
		if (row.utc)
		{
			EXPECT_EQ(UTCFields(t), *row.utc);
		}
	}
}

TEST(VTimeTextTest, XmlAndJsonForms)
{
	struct Row
	{
		VTime time;
		uint32 options;
		const char* expected;
	};
	const Row rows[] = {
		{UTC(2024, 3, 5), 0, "2024-03-05T00:00:00.000Z"},
		{UTC(2024, 3, 5), 512, "2024-03-05"},
		{UTC(2024, 3, 5), 512 | 4096 | 1, "\"!!2024-03-05!!\""},
		{UTC(2024, 3, 5, 0, 0, 0, 1), 512, "2024-03-05T00:00:00.001Z"},
		{UTC(2024, 3, 5, 7, 8, 9, 10), 4096, "!!2024-03-05T07:08:09.010Z!!"},
		{UTC(2024, 3, 5, 7, 8, 9, 10), 1, "\"2024-03-05T07:08:09.010Z\""},
		{NullTime(), 1, "\"0000-00-00T00:00:00Z\""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.expected);
		VString json;
		EXPECT_EQ(row.time.GetJSONString(json, row.options), VE_OK);
		EXPECT_EQ(Text(json), row.expected);
	}

	struct Parsed
	{
		const char* text;
		bool answer;
		std::optional<Fields> utc;
	};
	const Parsed parsed[] = {
		{"!!2024-03-05T07:08:09Z!!", true, Fields{2024, 3, 5, 7, 8, 9, 0}},
		{"2024-03-05T07:08:09Z", true, Fields{2024, 3, 5, 7, 8, 9, 0}},
		{"!!2024-03-05T07:08Z!!", false, std::nullopt},
		{"!!!", false, std::nullopt},
		// A '!' elsewhere: the numeric or "!" form, which answers true.
		{"5!3!2024", true, Fields{2024, 3, 5, 0, 0, 0, 0}},
	};
	for (const Parsed& row : parsed)
	{
		SCOPED_TRACE(row.text);
		VTime t = UTC(2001, 1, 1);
		EXPECT_EQ(t.FromXMLString(VString(row.text)), row.answer);
		ASSERT_EQ(t.IsNull(), !row.utc.has_value());
		if (row.utc)
		{
			EXPECT_EQ(UTCFields(t), *row.utc);
		}
	}

	// JSON values go through the same text.
	const VTime sample = UTC(2024, 3, 5, 7, 8, 9, 10);
	VJSONValue value;
	EXPECT_EQ(sample.GetJSONValue(value, 0), VE_OK);
	ASSERT_TRUE(value.IsString());
	EXPECT_EQ(Text(value.GetString()), "2024-03-05T07:08:09.010Z");
	VTime back;
	EXPECT_EQ(back.FromJSONValue(value), VE_OK);
	EXPECT_EQ(back, sample);
}

TEST(VTimeTextTest, NumericBangAndCompilerForms)
{
	struct Row
	{
		const char* text;
		std::optional<Fields> utc;
	};
	const Row rows[] = {
		{"2024-03-05 07:08:09:010", Fields{2024, 3, 5, 7, 8, 9, 10}},
		{"2024/3/5", Fields{2024, 3, 5, 0, 0, 0, 0}},
		{"5!3!2024", Fields{2024, 3, 5, 0, 0, 0, 0}},
		{"0!0!0", Fields{0, 0, 0, 0, 0, 0, 0}},
		{"31!2!2024", std::nullopt},
		// After the first field a '!' ends the numeric form, dropping what it interrupts.
		{"2024-03!05", std::nullopt},
		{"", Fields{0, 0, 0, 0, 0, 0, 0}},
		{"2024-02-30", std::nullopt},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		VTime t = UTC(2001, 1, 1);
		t.FromString(VString(row.text));
		ASSERT_EQ(t.IsNull(), !row.utc.has_value());
		if (row.utc)
		{
			EXPECT_EQ(UTCFields(t), *row.utc);
		}
	}

	VString simple;
	UTC(2026, 12, 8, 10).toSimpleDateString(simple);
	EXPECT_EQ(Text(simple), "8!12!2026");
	NullTime().toSimpleDateString(simple);
	EXPECT_TRUE(simple.IsNull());

	ScopedSystemZone zone(kZonePlusTwo);
	VString log("old");
	UTC(2024, 3, 5, 23, 8, 9, 10).GetStringLocalTime(log);
	EXPECT_EQ(Text(log), "2024-03-06 01:08:09:010");
	NullTime().GetStringLocalTime(log);
	EXPECT_EQ(Text(log), "");

	VTime compiled;
	compiled.FromCompilerDateTime("Feb  5 2024", "07:08:09");
	EXPECT_EQ(UTCFields(compiled), (Fields{2024, 2, 5, 5, 8, 9, 0}));
	compiled.FromCompilerDateTime("dec 31 2023", "23:00:00");
	EXPECT_EQ(UTCFields(compiled), (Fields{2023, 12, 31, 21, 0, 0, 0}));
	compiled.FromCompilerDateTime("", "");
	EXPECT_FALSE(compiled.IsNull());
	EXPECT_EQ(compiled.GetStamp(), 0u);
	compiled.FromCompilerDateTime("Foo  5 2024", "07:08:09");
	EXPECT_TRUE(compiled.IsNull());
	// A text longer than the buffer is cut, never overrun: the time that follows is lost.
	const std::string longDate = std::string("Feb  5 2024") + std::string(300, ' ');
	compiled.FromCompilerDateTime(longDate.c_str(), "07:08:09");
	EXPECT_EQ(UTCFields(compiled), (Fields{2024, 2, 4, 22, 0, 0, 0}));
	compiled.FromCompilerDateTime(nullptr, nullptr);
	EXPECT_EQ(compiled.GetStamp(), 0u);
}

// Display texts come from the calling task's manager: its short date and short time.
TEST(VTimeTextTest, DisplayTextsThroughTheTasksManager)
{
	VIntlMgr* previous = VTask::GetCurrentIntlManager();
	previous->Retain();
	VIntlMgr* french = VIntlMgr::Create(1036, 1036, 1);
	ASSERT_NE(french, nullptr);
	VTask::SetCurrentIntlManager(french);

	ScopedSystemZone zone(kZonePlusTwo);
	struct Row
	{
		VTime time;
		bool utc;
		const char* text;
	};
	const Row rows[] = {
		{UTC(2024, 3, 5, 7, 8, 9), true, "05/03/2024 07:08"},
		{UTC(2024, 3, 5, 23, 8, 9), false, "06/03/2024 01:08"},
		{NullTime(), true, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		VString text("old"), date("old"), time("old");
		row.time.FormatByOS(text, row.utc);
		EXPECT_EQ(Text(text), row.text);
		row.time.FormatByOS(date, time, row.utc);
		EXPECT_EQ(Text(date) + (date.IsEmpty() ? "" : " ") + Text(time), row.text);
		if (row.utc)
		{
			row.time.GetString(text);
			EXPECT_EQ(Text(text), row.text);
		}
	}

	VTask::SetCurrentIntlManager(previous);
	previous->Release();
	french->Release();
}

}  // namespace
}  // namespace velk
