// The international manager's locale texts and dates: separators, clock and date order of a few dialects
// as the locale library gives them, the platform's date, time and duration styles in UTC and in local
// zones, calendar names and their ranges, and the toolbox's own pattern formatter.
#include "kernel/intl/VIntlMgr.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VTime.h"
#include "common/VScopedSystemZone.h"
#include "platform/ScopedTimeZone.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(reinterpret_cast<const char16_t*>(s.GetCPointer()), size_t(s.GetLength()));
}

VTime UTC(int16 y, int16 m, int16 d, int16 h = 0, int16 mi = 0, int16 s = 0)
{
	VTime t;
	t.FromUTCTime(y, m, d, h, mi, s, 0);
	return t;
}

// A manager of the dialect, released with the scope.
struct StManager
{
	explicit StManager(uint32 dialect) : fManager(VIntlMgr::Create(dialect, dialect, 1)) {}
	~StManager()
	{
		if (fManager != nullptr)
			fManager->Release();
	}
	VIntlMgr* operator->() const { return fManager; }
	VIntlMgr* fManager;
};

using test::ScopedSystemZone;

TEST(VIntlMgrDatesTest, LocaleTextsOfDialectsAndTheirCopies)
{
	struct Row
	{
		uint32 dialect;
		bool twelveHours;
		const char16_t* timeSeparator;
		const char16_t* dateSeparator;
		EDateOrder order;
		const char16_t* decimal;
		const char16_t* thousands;
	};
	const Row rows[] = {
		{1033, true, u":", u"/", DO_MONTH_DAY_YEAR, u".", u","},    // "h:mm a", "M/d/yy"
		{1036, false, u":", u"/", DO_DAY_MONTH_YEAR, u",", u"\u202F"},  // "HH:mm", "dd/MM/y"
		{1031, false, u":", u".", DO_DAY_MONTH_YEAR, u",", u"."},    // "HH:mm", "dd.MM.yy"
		{1041, false, u":", u"/", DO_YEAR_MONTH_DAY, u".", u","},    // "H:mm", "y/MM/dd"
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.dialect);
		StManager intl(row.dialect);
		ASSERT_NE(intl.fManager, nullptr);
		VIntlMgr* copy = intl->Clone();
		ASSERT_NE(copy, nullptr);
		for (const VIntlMgr* m : {intl.fManager, copy})
		{
			EXPECT_EQ(m->Use12HourClock(), row.twelveHours);
			EXPECT_EQ(Text(m->GetTimeSeparator()), row.timeSeparator);
			EXPECT_EQ(Text(m->GetDateSeparator()), row.dateSeparator);
			EXPECT_EQ(m->GetDateOrder(), row.order);
			EXPECT_EQ(Text(m->GetDecimalSeparator()), row.decimal);
			EXPECT_EQ(Text(m->GetThousandsSeparator()), row.thousands);
			EXPECT_EQ(Text(m->GetAMString()), row.dialect == 1041 ? u"午前" : u"AM");
			EXPECT_FALSE(m->GetShortDatePattern().IsEmpty());
			EXPECT_FALSE(m->GetFullTimePattern().IsEmpty());
		}
		copy->Release();
	}
	// A locale without a region has the generic currency sign, which becomes the euro.
	EXPECT_EQ(Text(StManager(1042)->GetCurrency()), u"\u20AC");
	EXPECT_EQ(Text(StManager(1036)->GetCurrency()), u"\u20AC");
}

TEST(VIntlMgrDatesTest, PlatformStylesInUTCAndLocalZones)
{
	StManager en(1033);
	StManager fr(1036);
	const VTime t = UTC(2024, 3, 5, 14, 7, 9);
	struct Row
	{
		VIntlMgr* intl;
		bool date;
		int32 style;
		const char16_t* text;
	};
	const Row rows[] = {
		{en.fManager, true, 0, u"3/5/24"},
		{en.fManager, true, 1, u"Mar 5, 2024"},
		{en.fManager, true, 2, u"Tuesday, March 5, 2024"},  // the full style, not the long one
		{en.fManager, false, 0, u"2:07\u202FPM"},
		{en.fManager, false, 1, u"2:07:09\u202FPM"},
		{fr.fManager, true, 2, u"mardi 5 mars 2024"},
		{fr.fManager, false, 0, u"14:07"},
		{fr.fManager, true, 3, u"untouched"},
		{fr.fManager, false, -1, u"untouched"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << (row.date ? "date " : "time ") << row.style);
		VString out(u"untouched");
		if (row.date)
			row.intl->FormatDate(t, out, EOSFormats(row.style), true);
		else
			row.intl->FormatTime(t, out, EOSFormats(row.style), true);
		EXPECT_EQ(Text(out), row.text);
	}

	// Local time follows TZ when it changes, whether it names a zone or holds a POSIX rule.
	if (::access("/usr/share/zoneinfo/Europe/Paris", R_OK) != 0)
		GTEST_SKIP() << "tzdata is not installed";
	VString out;
	{
		ScopedSystemZone zone("Europe/Paris");
		fr->FormatTime(t, out, eOS_SHORT_FORMAT, false);
		EXPECT_EQ(Text(out), u"15:07");
		fr->FormatTime(UTC(2024, 7, 5, 14, 7, 9), out, eOS_SHORT_FORMAT, false);
		EXPECT_EQ(Text(out), u"16:07");
		// A duration is a span, not an instant: an hour reads 1:00 in every zone.
		fr->FormatDuration(VDuration(3600000), out, eOS_SHORT_FORMAT);
		EXPECT_EQ(Text(out), u"01:00");
		en->FormatDuration(VDuration(90061001), out, eOS_MEDIUM_FORMAT);
		EXPECT_EQ(Text(out), u"1:01:01\u202FAM");
	}
	{
		ScopedSystemZone zone(kZoneUSEast);
		fr->FormatTime(t, out, eOS_SHORT_FORMAT, false);
		EXPECT_EQ(Text(out), u"09:07");
		fr->FormatDate(UTC(2024, 3, 5, 2, 0, 0), out, eOS_SHORT_FORMAT, false);
		EXPECT_EQ(Text(out), u"04/03/2024");
	}
	// The platform's template stands for the best pattern of the locale.
	fr->GetMacIntlMgr().FormatVTimeWithTemplate(t, out, VString(u"yMMMd"), true);
	EXPECT_EQ(Text(out), u"5 mars 2024");
}

TEST(VIntlMgrDatesTest, CalendarNamesAndTheirRanges)
{
	StManager en(1033);
	StManager fr(1036);
	struct Row
	{
		VIntlMgr* intl;
		bool month;
		int32 index;
		bool isShort;
		const char16_t* name;
	};
	const Row rows[] = {
		{en.fManager, true, 1, false, u"January"}, {en.fManager, true, 12, true, u"Dec"},
		{en.fManager, true, 0, false, u""},        {en.fManager, true, 13, false, u""},
		{en.fManager, false, 0, false, u"Sunday"}, {en.fManager, false, 6, true, u"Sat"},
		{en.fManager, false, -1, false, u""},      {en.fManager, false, 7, true, u""},
		{fr.fManager, true, 3, false, u"mars"},    {fr.fManager, false, 0, false, u"dimanche"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.index);
		VString name(u"old");
		if (row.month)
			row.intl->GetMonthName(row.index, row.isShort, name);
		else
			row.intl->GetWeekDayName(row.index, row.isShort, name);
		EXPECT_EQ(Text(name), row.name);
	}
	VString custom(u"old");
	EXPECT_FALSE(en->CustomFormatTime(UTC(2024, 3, 5), true, VString(u"x"), custom));
	EXPECT_TRUE(custom.IsEmpty());
}

TEST(VIntlMgrDatesTest, PatternFormatter)
{
	StManager en(1033);
	const VTime afternoon = UTC(2024, 3, 5, 14, 7, 9);  // a Tuesday
	const VTime midnight = UTC(2024, 12, 31, 0, 5, 3);
	const VString march(u"Mars");
	struct Row
	{
		const VTime* time;
		const char16_t* pattern;
		const VString* monthText;
		const char16_t* text;
	};
	const Row rows[] = {
		{&afternoon, u"yyyy-MM-dd HH:mm:ss", nullptr, u"2024-03-05 14:07:09"},
		{&afternoon, u"d/M/y h a", nullptr, u"5/3/2024 2 PM"},
		{&afternoon, u"[DDD]", nullptr, u"[065]"},
		{&afternoon, u"GGGG|GGG|GGGGG|GGGGGG", nullptr, u"Anno Domini|AD|A|AAD"},
		{&afternoon, u"yy yyyyy gggggggg", nullptr, u"2024 02024 02460374"},
		{&afternoon, u"HHH mmmmm", nullptr, u"1414 07077"},  // hours and minutes take two letters a field
		{&afternoon, u"MMM MMMM MMMMM", nullptr, u"Mar March M"},
		{&afternoon, u"MMMM LLLLL", &march, u"Mars M"},
		{&afternoon, u"EEE EEEE EEEEE EEEEEE", nullptr, u"Tue Tuesday T Tu"},
		{&afternoon, u"Q-x'a'zZ", nullptr, u"-x'PM'"},  // no quoting; silent letters write nothing
		{&midnight, u"k K h H a D", nullptr, u"24 0 12 0 AM 366"},
	};
	VString out;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(to_string(VString(row.pattern)));
		out = VString(u"old");
		en->FormatDateTimeWithPattern(*row.time, VString(row.pattern), true, row.monthText, out);
		EXPECT_EQ(Text(out), row.text);
	}

	// Runs of any width are written without a buffer of their own; a run of more than 999 letters goes
	// on as a new field.
	en->FormatDateTimeWithPattern(afternoon, VString(std::u16string(300, u'y').c_str()), true, nullptr, out);
	EXPECT_EQ(Text(out), std::u16string(296, u'0') + u"2024");
	en->FormatDateTimeWithPattern(afternoon, VString(std::u16string(1000, u'y').c_str()), true, nullptr, out);
	EXPECT_EQ(Text(out), std::u16string(995, u'0') + u"2024" + u"2024");

	// Local mode reads the fields in the zone in force, across the date line.
	ScopedSystemZone zone(kZoneJapan);
	en->FormatDateTimeWithPattern(UTC(2024, 3, 5, 20, 7, 9), VString(u"yyyy-MM-dd HH:mm EEE"), false, nullptr, out);
	EXPECT_EQ(Text(out), u"2024-03-06 05:07 Wed");
	en->FormatDateTimeWithPattern(UTC(2024, 3, 5, 20, 7, 9), VString(u"yyyy-MM-dd HH:mm EEE"), true, nullptr, out);
	EXPECT_EQ(Text(out), u"2024-03-05 20:07 Tue");
}

}  // namespace
}  // namespace velk
