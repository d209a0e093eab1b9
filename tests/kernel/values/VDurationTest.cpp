// Durations: components of negative spans, the text and ISO 8601 forms and their round trips, arithmetic at
// the edges (zero divisors, saturation, null spans), flat form and descriptor.
#include "kernel/values/VDuration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VValueInfo.h"

namespace velk {
namespace {

constexpr int64 kMax = std::numeric_limits<int64>::max();
constexpr int64 kMin = std::numeric_limits<int64>::min();

std::string Utf8(const VString& text)
{
	std::string out;
	for (int32 i = 1; i <= text.GetLength(); ++i)
		out.push_back(char(text.GetUniChar(i)));
	return out;
}

VDuration NullDuration(int64 ms)
{
	VDuration duration(ms);
	duration.SetNull(true);
	return duration;
}

TEST(VDurationTest, ComponentsTruncateTowardZero)
{
	struct Row
	{
		int64 ms;
		int64 day;
		int32 hour, minute, second, millisecond;
		int8 byte;
		const char* formatted;
	};
	const Row rows[] = {
		{ 90061001, 1, 1, 1, 1, 1, int8(90061), "1:1:1:1:1" },
		{ -1500, 0, 0, 0, -1, -500, -1, "0:0:0:-1:-500" },
		{ -90061001, -1, -1, -1, -1, -1, int8(-90061), "-1:-1:-1:-1:-1" },
		{ 86399999, 0, 23, 59, 59, 999, int8(86399), "0:23:59:59:999" },
		{ 0, 0, 0, 0, 0, 0, 0, "0:0:0:0:0" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.ms);
		const VDuration d(row.ms);
		EXPECT_EQ(d.GetDay(), row.day);
		EXPECT_EQ(d.GetHour(), row.hour);
		EXPECT_EQ(d.GetMinute(), row.minute);
		EXPECT_EQ(d.GetSecond(), row.second);
		EXPECT_EQ(d.GetMillisecond(), row.millisecond);
		EXPECT_EQ(d.GetByte(), row.byte);
		EXPECT_EQ(d.ConvertToSeconds(), row.ms / 1000);
		// The formatted form appends.
		VString text("x");
		d.GetFormattedString(text);
		EXPECT_EQ(Utf8(text), std::string("x") + row.formatted);
	}

	VString text;
	NullDuration(5).GetFormattedString(text);
	EXPECT_EQ(Utf8(text), "-1:-1:-1:-1:-1");
	int32 parts[5] = { 0, 0, 0, 0, 0 };
	NullDuration(5).GetDuration(parts[0], parts[1], parts[2], parts[3], parts[4]);
	for (int32 part : parts)
		EXPECT_EQ(part, -1);
}

TEST(VDurationTest, SettersAddersAndAdjusters)
{
	VDuration d;
	d.AddDays(30);
	EXPECT_EQ(d.ConvertToMilliseconds(), 2592000000);
	d.SetDuration(1, 2, 3, 4, 5);
	EXPECT_EQ(d.ConvertToMilliseconds(), 93784005);
	d.AddDuration(-1, 0, 0, 0, -5);
	EXPECT_EQ(d.ConvertToMilliseconds(), 7384000);
	d.AdjustDay(3);
	EXPECT_EQ(d.ConvertToMilliseconds(), 3 * 86400000 + 7384000);
	d.AdjustHour(0);
	EXPECT_EQ(d.GetHour(), 0);
	EXPECT_EQ(d.GetMinute(), 3);
	d.AdjustMinute(59);
	d.AdjustSecond(7);
	d.AdjustMillisecond(123);
	EXPECT_EQ(d.ConvertToMilliseconds(), 3 * 86400000 + 59 * 60000 + 7123);

	// Whole seconds from integers, a second from a true boolean.
	d.FromLong(-3);
	EXPECT_EQ(d.ConvertToMilliseconds(), -3000);
	d.FromBoolean(7);
	EXPECT_EQ(d.ConvertToMilliseconds(), 1000);
	d.FromNbHours(2);
	EXPECT_EQ(d.GetDecimalHour(), 2.0);

	// Setters revive a null duration.
	VDuration revived = NullDuration(9);
	revived.SetDirty(false);
	revived.AddSeconds(1);
	EXPECT_FALSE(revived.IsNull());
	EXPECT_TRUE(revived.IsDirty());
}

TEST(VDurationTest, DecimalHoursTruncateAndRealSecondsRound)
{
	VDuration d;
	// 1.0000001 h is 3600000.36 ms, -0.5000001 h is -1800000.36 ms: both cut toward zero.
	d.FromDecimalHour(1.0000001);
	EXPECT_EQ(d.ConvertToMilliseconds(), 3600000);
	d.FromDecimalHour(-0.5000001);
	EXPECT_EQ(d.ConvertToMilliseconds(), -1800000);
	d.FromNbMilliseconds(10);
	d.AddDecimalHour(0.00000099);  // 3.564 ms
	EXPECT_EQ(d.ConvertToMilliseconds(), 13);

	// Seconds as a real round to the nearest millisecond: every span survives GetReal and FromReal.
	for (int64 ms : { 1001LL, -1001LL, 4005LL, 1LL, 999LL, 123456789LL, -7LL })
	{
		VDuration back;
		back.FromReal(VDuration(ms).GetReal());
		EXPECT_EQ(back.ConvertToMilliseconds(), ms);
	}
	for (int64 ms = 0; ms < 5000; ++ms)
		ASSERT_EQ(VDuration::MillisecondsFromSeconds(double(ms) / 1000.0), ms);
}

TEST(VDurationTest, RealResultsSaturateAndNaNGivesZero)
{
	const double inf = std::numeric_limits<double>::infinity();
	struct Row
	{
		int64 start;
		void (*op)(VDuration&);
		int64 expected;
	};
	const Row rows[] = {
		{ 1000, [](VDuration& d) { d.Multiply(1e300); }, kMax },
		{ 1000, [](VDuration& d) { d.Multiply(-1e300); }, kMin },
		{ 1000, [](VDuration& d) { d.Multiply(std::numeric_limits<double>::quiet_NaN()); }, 0 },
		{ 1000, [](VDuration& d) { d.Divide(0.0); }, kMax },
		{ -1000, [](VDuration& d) { d.Divide(0.0); }, kMin },
		{ 0, [](VDuration& d) { d.Divide(0.0); }, 0 },
		{ 7, [](VDuration& d) { d.Multiply(2.5); }, 17 },
		{ -7, [](VDuration& d) { d.Divide(2.0); }, -3 },
		{ 0, [](VDuration& d) { d.FromDecimalHour(1e300); }, kMax },
		{ 0, [](VDuration& d) { d.FromReal(-std::numeric_limits<double>::infinity()); }, kMin },
		{ 5, [](VDuration& d) { d.FromReal(std::numeric_limits<double>::quiet_NaN()); }, 0 },
		{ kMax - 5, [](VDuration& d) { d.AddDecimalHour(1.0); }, kMax },
		{ kMax, [](VDuration& d) { d.Add(VDuration(1)); }, kMax },
		{ kMin, [](VDuration& d) { d.Substract(VDuration(1)); }, kMin },
		{ 0, [](VDuration& d) { d.FromNbDays(kMax / 1000); }, kMax },
		{ 0, [](VDuration& d) { d.FromNbSeconds(kMin / 10); }, kMin },
		{ kMin + 1, [](VDuration& d) { d.AddDays(-1); }, kMin },
	};
	for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
	{
		SCOPED_TRACE(i);
		VDuration d(rows[i].start);
		rows[i].op(d);
		EXPECT_EQ(d.ConvertToMilliseconds(), rows[i].expected);
	}

	// The ratio of two spans keeps IEEE answers.
	EXPECT_EQ(VDuration(5).Divide(VDuration(0)), inf);
	EXPECT_TRUE(std::isnan(VDuration(0).Divide(VDuration(0))));
	EXPECT_EQ(VDuration(3).Divide(VDuration(2)), 1.5);
}

TEST(VDurationTest, RemainderRefusesWhatCannotBeDivided)
{
	struct Row
	{
		int64 dividend;
		int64 divisor;
		int64 quotient;
		int64 remainder;
	};
	const Row rows[] = {
		{ 7, 3, 2, 1 },
		{ -7, 3, -2, -1 },
		{ 7, -3, -2, 1 },
		{ 90061001, 86400000, 1, 3661001 },
		// No divisor, and the one quotient that does not fit: nothing changes.
		{ 12345, 0, 0, 12345 },
		{ kMin, -1, 0, kMin },
		{ kMin, 1, kMin, 0 },
		{ kMax, -1, -kMax, 0 },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.dividend);
		VDuration d(row.dividend);
		EXPECT_EQ(d.Remainder(VDuration(row.divisor)), row.quotient);
		EXPECT_EQ(d.ConvertToMilliseconds(), row.remainder);
	}
}

TEST(VDurationTest, ArithmeticKeepsTheNullState)
{
	VDuration d = NullDuration(100);
	d.Add(VDuration(5));
	d.Substract(VDuration(1));
	d.Multiply(2.0);
	d.Divide(4.0);
	EXPECT_TRUE(d.IsNull());
	EXPECT_EQ(d.ConvertToMilliseconds(), 52);

	// Copies are not null; assignment revives.
	const VDuration null = NullDuration(3);
	EXPECT_FALSE(VDuration(null).IsNull());
	VDuration assigned = NullDuration(1);
	assigned = null;
	EXPECT_FALSE(assigned.IsNull());
	std::unique_ptr<VValue> clone(null.Clone());
	EXPECT_FALSE(clone->IsNull());

	// The null state follows the source of a value conversion.
	VDuration target(7);
	target.FromValue(null);
	EXPECT_TRUE(target.IsNull());
	EXPECT_EQ(target.ConvertToMilliseconds(), 3);
	EXPECT_TRUE(target.FromValueSameKind(&assigned));
	EXPECT_FALSE(target.IsNull());
	const VEmpty empty;
	EXPECT_FALSE(target.FromValueSameKind(&empty));

	// GetDuration hands over the span only.
	VDuration receiver = NullDuration(0);
	VDuration(42).GetDuration(receiver);
	EXPECT_TRUE(receiver.IsNull());
	EXPECT_EQ(receiver.ConvertToMilliseconds(), 42);
}

TEST(VDurationTest, TextForms)
{
	struct Row
	{
		const char* text;
		int64 ms;
	};
	const Row fromString[] = {
		{ "90", 90000 },
		{ "1:30", 90000 },
		{ "1:00:00", 3600000 },
		{ "0:0:1:5", 1005 },
		{ " 2 : 03 ", 123000 },
		{ "1::5", 3605000 },
		{ "1:2:3:4:5", 3723004 },
		{ "-5", -5000 },
		{ "abc", 0 },
		{ "", 0 },
	};
	for (const Row& row : fromString)
	{
		SCOPED_TRACE(row.text);
		VDuration d(77);
		d.SetNull(true);
		d.FromString(VString(row.text));
		EXPECT_FALSE(d.IsNull());
		EXPECT_EQ(d.ConvertToMilliseconds(), row.ms);
	}

	VString text("junk");
	VDuration(-1500).GetString(text);
	EXPECT_EQ(Utf8(text), "-1500");
	NullDuration(5).GetString(text);
	EXPECT_TRUE(text.IsEmpty());
	EXPECT_FALSE(text.IsNull());

	// JSON text counts milliseconds, whatever the null state.
	EXPECT_EQ(NullDuration(1500).GetJSONString(text), VE_OK);
	EXPECT_EQ(Utf8(text), "1500");
	VDuration d;
	EXPECT_EQ(d.FromJSONString(VString("-250")), VE_OK);
	EXPECT_EQ(d.ConvertToMilliseconds(), -250);
}

TEST(VDurationTest, JSONSecondsGiveBackTheMillisecondsWritten)
{
	// Seconds as a JSON value and as JSON text, in both directions of the truncation.
	const int64 rows[] = {1001, -1001, 1, 999, 4097, 86400001, 123456789, -70368744177663, 9007199254740, 0};
	for (const int64 ms : rows)
	{
		SCOPED_TRACE(ms);
		VJSONValue json;
		ASSERT_EQ(VDuration(ms).GetJSONValue(json, 0), VE_OK);
		VDuration back(5);
		EXPECT_EQ(back.FromJSONValue(json), VE_OK);
		EXPECT_EQ(back.ConvertToMilliseconds(), ms);

		VString text;
		ASSERT_EQ(json.Stringify(text), VE_OK);
		VJSONValue parsed;
		ASSERT_EQ(VJSONImporter::ParseString(text, parsed, 0), VE_OK);
		VDuration fromText(5);
		EXPECT_EQ(fromText.FromJSONValue(parsed), VE_OK);
		EXPECT_EQ(fromText.ConvertToMilliseconds(), ms);
	}
	// Past what a double tells from a whole millisecond, seconds still truncate.
	VDuration d;
	d.FromJSONValue(VJSONValue(1.0019));
	EXPECT_EQ(d.ConvertToMilliseconds(), 1001);
	d.FromJSONValue(VJSONValue(-0.0009999));
	EXPECT_EQ(d.ConvertToMilliseconds(), 0);
}

TEST(VDurationTest, XMLFormsAndISO8601)
{
	struct Written
	{
		int64 ms;
		uint32 options;
		const char* text;
	};
	const Written written[] = {
		{ 93784500, 1, "P1DT2H3M4.50000000000000S" },
		{ 3723000, 1, "PT1H2M3S" },
		{ 86400000, 1, "P1DT0H0M0S" },
		{ 1001, 1, "PT0H0M1.00100000000000S" },
		{ -1500, 1, "PT0H0M-1.50000000000000S" },
		{ 93784500, 0, "93784" },
		{ -1500, 0, "-1" },
	};
	for (const Written& row : written)
	{
		SCOPED_TRACE(row.text);
		VString text;
		VDuration(row.ms).GetXMLString(text, row.options);
		EXPECT_EQ(Utf8(text), row.text);
	}
	VString text;
	NullDuration(0).GetXMLString(text, 1);
	EXPECT_EQ(Utf8(text), "P-1DT-1H-1M-1.00100000000000S");

	struct Read
	{
		const char* text;
		int64 ms;
	};
	const Read read[] = {
		{ "P1DT2H3M4.5S", 93784500 },
		{ "P1Y2M", int64(420) * 86400000 },
		{ "PT90S", 90000 },
		{ "PT0.001S", 1 },
		{ "P2W", 0 },
		{ "PT2D", 0 },
		{ "P1DT1M", 86460000 },
		{ "45", 45000 },
		{ "1:30", 90000 },
		{ "", 0 },
	};
	for (const Read& row : read)
	{
		SCOPED_TRACE(row.text);
		VDuration d(5);
		EXPECT_TRUE(d.FromXMLString(VString(row.text)));
		EXPECT_EQ(d.ConvertToMilliseconds(), row.ms);
	}

	// Every span written as ISO 8601 reads back to the millisecond, negative ones and those with days too.
	for (int64 ms : { 1001LL, 1LL, 999LL, 59999LL, 93784001LL, -1001LL, -93784501LL, 86399999LL * 40 })
	{
		SCOPED_TRACE(ms);
		VString iso;
		VDuration(ms).GetXMLString(iso, 1);
		VDuration back;
		back.FromXMLString(iso);
		EXPECT_EQ(back.ConvertToMilliseconds(), ms);
	}
	for (int64 ms = 0; ms < 3000; ms += 7)
	{
		VString iso;
		VDuration(ms).GetXMLString(iso, 1);
		VDuration back;
		back.FromXMLString(iso);
		ASSERT_EQ(back.ConvertToMilliseconds(), ms) << Utf8(iso);
	}
}

TEST(VDurationTest, OrderFlatFormAndDescriptor)
{
	EXPECT_EQ(VDuration(-5).CompareTo(VDuration(3)), CR_SMALLER);
	EXPECT_EQ(VDuration(5).CompareTo(VDuration(3)), CR_BIGGER);
	EXPECT_TRUE(VDuration(3) == NullDuration(3));
	EXPECT_TRUE(VDuration(-1) < VDuration(0));
	const VDuration other(10);
	EXPECT_EQ(VDuration(2).CompareTo(static_cast<const VValueSingle&>(other)), CR_SMALLER);
	EXPECT_EQ(VDuration(20).CompareToSameKind(&other), CR_BIGGER);

	// Flat form, unaligned, compared signed.
	unsigned char buffer[1 + 8 + 8] = {};
	void* behind = VDuration(-42).WriteToPtr(buffer + 1);
	EXPECT_EQ(behind, buffer + 9);
	uint64 extra = 0;
	EXPECT_EQ(VDuration().GetSpace(extra), 8u);
	EXPECT_EQ(VDuration(7).WriteToPtr(buffer + 9, 0, 4), buffer + 9);
	VDuration loaded = NullDuration(0);
	EXPECT_EQ(loaded.LoadFromPtr(buffer + 1), buffer + 9);
	EXPECT_EQ(loaded.ConvertToMilliseconds(), -42);
	EXPECT_FALSE(loaded.IsNull());
	EXPECT_EQ(VDuration(0).CompareToSameKindPtr(buffer + 1), CR_BIGGER);
	EXPECT_TRUE(VDuration(-42).EqualToSameKindPtr(buffer + 1));

	const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_DURATION);
	ASSERT_EQ(info, VDuration(0).GetValueInfo());
	VDuration(1).WriteToPtr(buffer + 9);
	EXPECT_EQ(info->CompareTwoPtrToData(buffer + 1, buffer + 9), CR_SMALLER);
	std::unique_ptr<VValue> made(info->LoadFromPtr(buffer + 1));
	ASSERT_NE(dynamic_cast<VDuration*>(made.get()), nullptr);
	EXPECT_EQ(static_cast<VDuration*>(made.get())->ConvertToMilliseconds(), -42);
	std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_DURATION));
	ASSERT_NE(dynamic_cast<VDuration*>(generated.get()), nullptr);
	EXPECT_FALSE(generated->IsNull());
}

}  // namespace
}  // namespace velk
