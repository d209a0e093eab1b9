// The real kind: comparisons within an epsilon (instances and descriptor), and its number texts: the
// XML and JSON forms both ways and the radix conversion.
#include "kernel/values/VReal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VLong.h"

namespace velk {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Narrow(const VString& text)
{
	std::string narrow;
	for (int32 i = 0; i < text.GetLength(); ++i)
		narrow += char(text.GetCPointer()[i]);
	return narrow;
}

std::string XML(double value)
{
	VString text;
	VReal::RealToXMLString(value, text);
	return Narrow(text);
}

std::string JSON(double value)
{
	VString text;
	VReal::RealToJSONString(value, text);
	return Narrow(text);
}

TEST(VRealTest, ComparisonsWithinEpsilon)
{
	const VReal one(1.0);
	const VReal near(1.0000005);
	const VReal far(1.000002);
	EXPECT_EQ(one.CompareToSameKind(&near), CR_EQUAL);
	EXPECT_TRUE(one.EqualToSameKind(&near));
	EXPECT_EQ(one.CompareToSameKind(&far), CR_SMALLER);
	EXPECT_EQ(far.CompareToSameKind(&one), CR_BIGGER);
	EXPECT_EQ(one.CompareTo(near), CR_EQUAL);
	EXPECT_EQ(one.CompareTo(VLong(1)), CR_EQUAL);
	EXPECT_EQ(VReal(1.5).CompareTo(VLong(1)), CR_BIGGER);

	uint8 flat[9];
	const double flatNear = 1.0000005;
	std::memcpy(flat + 1, &flatNear, 8);
	EXPECT_EQ(one.CompareToSameKindPtr(flat + 1), CR_EQUAL);

	// The options' epsilon replaces 1e-6 in the instance forms, whatever the diacritical flag.
	VCompareOptions options;
	options.SetEpsilon(0.1);
	const VReal close(1.05);
	EXPECT_EQ(one.CompareToSameKindWithOptions(&close, options), CR_EQUAL);
	options.SetDiacritical(true);
	EXPECT_EQ(one.CompareToSameKindWithOptions(&close, options), CR_EQUAL);
	EXPECT_TRUE(one.EqualToSameKindPtrWithOptions(flat + 1, options));
	options.SetEpsilon(0.0);
	EXPECT_EQ(one.CompareToSameKindWithOptions(&near, options), CR_SMALLER);
	EXPECT_EQ(one.CompareToSameKindPtrWithOptions(flat + 1, options), CR_SMALLER);

	// The descriptor: 1e-6 unless its flag asks for exactness; with options, exact when diacritical.
	const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_REAL);
	const double a = 1.0;
	const double b = 1.0000005;
	EXPECT_EQ(info->CompareTwoPtrToData(&a, &b, false), CR_EQUAL);
	EXPECT_EQ(info->CompareTwoPtrToData(&a, &b, true), CR_SMALLER);
	EXPECT_EQ(info->CompareTwoPtrToDataBegining(&b, &a, true), CR_BIGGER);
	VCompareOptions loose;
	loose.SetEpsilon(0.5);
	const double c = 1.4;
	EXPECT_EQ(info->CompareTwoPtrToDataWithOptions(&a, &c, loose), CR_EQUAL);
	loose.SetDiacritical(true);
	EXPECT_EQ(info->CompareTwoPtrToDataWithOptions(&a, &c, loose), CR_SMALLER);
}

// NaN equals NaN and sorts first; equal infinities are equal: every form agrees and stays antisymmetric.
TEST(VRealTest, NaNAndInfinitiesOrderConsistently)
{
	struct Row
	{
		double a;
		double b;
		CompareResult expected;
	};
	const Row rows[] = {
		{kNaN, kNaN, CR_EQUAL},
		{kNaN, -kInf, CR_SMALLER},
		{kNaN, 0.0, CR_SMALLER},
		{-kNaN, 1.0, CR_SMALLER},
		{kInf, kInf, CR_EQUAL},
		{-kInf, -kInf, CR_EQUAL},
		{-kInf, kInf, CR_SMALLER},
		{kInf, std::numeric_limits<double>::max(), CR_BIGGER},
		{0.0, -0.0, CR_EQUAL},
	};
	const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_REAL);
	VCompareOptions options;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.a << " vs " << row.b);
		for (int side = 0; side < 2; ++side)
		{
			const double x = side == 0 ? row.a : row.b;
			const double y = side == 0 ? row.b : row.a;
			const CompareResult expected = side == 0 ? row.expected : VValue::InvertCompResult(row.expected);
			const VReal vx(x);
			const VReal vy(y);
			EXPECT_EQ(vx.CompareToSameKind(&vy), expected);
			EXPECT_EQ(vx.CompareTo(vy), expected);
			EXPECT_EQ(vx.CompareToSameKindPtr(&y), expected);
			EXPECT_EQ(vx.CompareToSameKindWithOptions(&vy, options), expected);
			EXPECT_EQ(info->CompareTwoPtrToData(&x, &y, false), expected);
			EXPECT_EQ(info->CompareTwoPtrToData(&x, &y, true), expected);
			EXPECT_EQ(info->CompareTwoPtrToDataWithOptions(&x, &y, options), expected);
		}
	}
}

TEST(VRealTest, XMLAndJSONTexts)
{
	struct Row
	{
		double value;
		const char* xml;
		const char* json;
	};
	const Row rows[] = {
		{2.0, "2", "2"},
		{3.0, "3", "3"},
		{-12.0, "-12", "-12"},
		{-7.0, "-7", "-7"},
		{-0.0, "0", "0"},
		{9007199254740991.0, "9007199254740991", "9007199254740991"},
		{-9007199254740991.0, "-9007199254740991", "-9007199254740991"},
		{9007199254740992.0, "9.007199254741E+15", "9.007199254741E+15"},
		{0.1, "0.1", "0.1"},
		{-2.5, "-2.5", "-2.5"},
		{1.0 / 3.0, "0.33333333333333", "0.33333333333333"},
		{123456.789, "123456.789", "123456.789"},
		{1e300, "1E+300", "1E+300"},
		{1.5e-7, "1.5E-07", "1.5E-07"},
		{1e15 + 0.5, "1E+15", "1E+15"},
		{kNaN, "NaN", "null"},
		{-kNaN, "NaN", "null"},
		{kInf, "INF", "null"},
		{-kInf, "-INF", "null"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.xml);
		EXPECT_EQ(XML(row.value), row.xml);
		EXPECT_EQ(JSON(row.value), row.json);
		VReal value(row.value);
		value.SetNull(true);
		VString text;
		value.GetXMLString(text);
		EXPECT_EQ(Narrow(text), row.xml);
		EXPECT_EQ(value.GetJSONString(text), VE_OK);
		EXPECT_EQ(Narrow(text), row.json);
	}
}

TEST(VRealTest, ReadingTextNeedsTheWholeText)
{
	struct Row
	{
		const char16_t* text;
		bool accepted;
		double value;
	};
	const Row rows[] = {
		{u"3,5", true, 3.5},
		{u"1e3", true, 1000.0},
		{u"-0.5", true, -0.5},
		{u"+4", true, 4.0},
		{u"  2.5", true, 2.5},
		{u"0x10", true, 16.0},
		{u"INF", true, kInf},
		{u"-inf", true, -kInf},
		{u"1e999", true, kInf},
		{u"9007199254740991", true, 9007199254740991.0},
		{u"3.5 ", false, 0},
		{u"", false, 0},
		{u"abc", false, 0},
		{u"1.5e3xyz", false, 0},
		{u"1,5,5", false, 0},
		{u"5-3", false, 0},
		{u"\u0661", false, 0},
		{u"1\u00A0", false, 0},
	};
	for (const Row& row : rows)
	{
		const VString text(row.text);
		SCOPED_TRACE(&row - rows);
		VReal value(-99.0);
		value.SetNull(true);
		value.SetDirty(false);
		EXPECT_EQ(value.FromXMLString(text), row.accepted);
		if (row.accepted)
		{
			EXPECT_EQ(value.Get(), row.value);
			EXPECT_FALSE(value.IsNull());
			EXPECT_TRUE(value.IsDirty());
		}
		else
		{
			EXPECT_EQ(value.Get(), -99.0);
			EXPECT_TRUE(value.IsNull());
			EXPECT_FALSE(value.IsDirty());
		}
		// The JSON form falls back to a non-null 0.
		VReal json(-99.0);
		json.SetNull(true);
		EXPECT_EQ(json.FromJSONString(text), VE_OK);
		EXPECT_EQ(json.Get(), row.accepted ? row.value : 0.0);
		EXPECT_FALSE(json.IsNull());
	}

	VReal value;
	EXPECT_TRUE(value.FromXMLString(VString("nan")));
	EXPECT_TRUE(std::isnan(value.Get()));

	// 254 characters are read, 255 are too many even for a valid number.
	EXPECT_TRUE(value.FromXMLString(VString((std::string(253, '0') + "7").c_str())));
	EXPECT_EQ(value.Get(), 7.0);
	EXPECT_FALSE(value.FromXMLString(VString((std::string(254, '0') + "8").c_str())));
	EXPECT_FALSE(value.FromXMLString(VString(std::string(300, '1').c_str())));
	EXPECT_EQ(value.Get(), 7.0);
}

// Random reals written and read back: whole numbers exactly, others to 14 significant digits.
TEST(VRealTest, TextRoundTrips)
{
	std::mt19937_64 random(20240611);
	std::uniform_real_distribution<double> exponent(-300.0, 300.0);
	std::uniform_int_distribution<int64> whole(-9007199254740991LL, 9007199254740991LL);
	for (int i = 0; i < 2000; ++i)
	{
		const double number = (i % 2 == 0 ? 1 : -1) * std::pow(10.0, exponent(random));
		VReal back;
		ASSERT_TRUE(back.FromXMLString(VString(XML(number).c_str()))) << XML(number);
		EXPECT_NEAR(back.Get() / number, 1.0, 1e-13) << XML(number);
		ASSERT_TRUE(back.FromXMLString(VString(JSON(number).c_str())));
		EXPECT_NEAR(back.Get() / number, 1.0, 1e-13) << JSON(number);

		const double integral = double(whole(random));
		ASSERT_TRUE(back.FromXMLString(VString(XML(integral).c_str())));
		EXPECT_EQ(back.Get(), integral);
		EXPECT_EQ(XML(integral).find_first_of(".E"), std::string::npos) << XML(integral);
	}
}

TEST(VRealTest, RadixText)
{
	struct Row
	{
		double value;
		int radix;
		const char* text;
	};
	const Row rows[] = {
		{255.0, 16, "ff"},
		{-255.5, 16, "-ff.8"},
		{9007199254740992.0, 16, "20000000000000"},
		{0.1, 16, "0.1999999999999a"},
		{0.5, 2, "0.1"},
		{3.75, 2, "11.11"},
		{1024.0, 2, "10000000000"},
		{12345678.0, 36, "7clzi"},
		{0.5, 36, "0.i"},
		{35.0, 36, "z"},
		{-0.25, 10, "-0.25"},
		{123.456, 10, "123.456"},
		{0.1, 10, "0.1"},
		{42.5, 0, "42.5"},
		{1e-7, 10, "1e-7"},
		{0.000001, 10, "0.000001"},
		{1.2345e-8, 10, "1.2345e-8"},
		{-1.5e-7, 10, "-1.5e-7"},
		{1e21, 10, "1e+21"},
		{1.5e21, 10, "1.5e+21"},
		{1e20, 10, "100000000000000000000"},
		{0.007, 10, "0.007"},
		{1e300, 10, "1e+300"},
		{1.23e-18, 10, "1.23e-18"},
		{std::numeric_limits<double>::max(), 10, "1.7976931348623157e+308"},
		{std::numeric_limits<double>::denorm_min(), 10, "5e-324"},
		{5.0, 1, ""},
		{5.0, 37, ""},
		{-5.0, 37, ""},
		{5.0, -2, ""},
		{kNaN, 10, "NaN"},
		{kNaN, 37, "NaN"},
		{kInf, 2, "INF"},
		{-kInf, 16, "-INF"},
		{0.0, 16, "0"},
		{-0.0, 10, "0"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.value << " in radix " << row.radix);
		EXPECT_EQ(Narrow(VReal(row.value).ToString(row.radix)), row.text);
	}
}

}  // namespace
}  // namespace velk
