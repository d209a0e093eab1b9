// Attribute texts read as typed values: every kind, the integer limits, the minus sign U+2212 in both
// places, long texts, UUID texts, and blanks and decimal points that do not depend on the user's settings.
#include "containers/ParseXMLValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"
#include "runtime/VTask.h"
#include "common/VTestEnvironment.h"

namespace velk {
namespace {

struct Parsed
{
	ValueKind fKind = VK_UNDEFINED;
	std::u16string fText;
	double fReal = 0;
	int64 fLong8 = 0;
};

Parsed Parse(const std::u16string& text)
{
	Parsed parsed;
	VValueSingle* value = ParseXMLValue(VString(text.c_str()));
	if (value == nullptr)
		return parsed;
	parsed.fKind = value->GetValueInfo()->GetKind();
	VString out;
	value->GetString(out);
	parsed.fText.assign(out.GetCPointer(), size_t(out.GetLength()));
	parsed.fReal = value->GetReal();
	parsed.fLong8 = value->GetLong8();
	delete value;
	return parsed;
}

constexpr double kINF = std::numeric_limits<double>::infinity();

TEST(ParseXMLValueTest, TextsGiveValuesOfTheirKind)
{
	const std::u16string longFraction = u"1." + std::u16string(210, u'0') + u"e5";
	struct Row
	{
		std::u16string fText;
		ValueKind fKind;
		double fNumber;
	};
	const Row rows[] = {
		{u"  42  ", VK_LONG, 42},
		{u"\u00A042\u3000", VK_LONG, 42},
		{u"2147483647", VK_LONG, 2147483647.0},
		{u"-2147483647", VK_LONG, -2147483647.0},
		{u"2147483648", VK_LONG8, 2147483648.0},
		{u"-2147483648", VK_LONG8, -2147483648.0},
		{u"3000000000", VK_LONG8, 3e9},
		{u"+0012", VK_LONG, 12},
		{u"9223372036854775807", VK_LONG8, 9223372036854775807.0},
		{u"-9223372036854775808", VK_LONG8, -9223372036854775808.0},
		{u"9223372036854775808", VK_STRING, 0},
		{u"12345678901234567890", VK_STRING, 0},
		{u"-1.5e3", VK_REAL, -1500},
		{u"\u22121.5", VK_REAL, -1.5},
		{u"1e\u22122", VK_REAL, 0.01},
		{u"2.5E+2", VK_REAL, 250},
		{u"1.", VK_REAL, 1},
		{longFraction, VK_REAL, 1e5},
		{u"1e999", VK_STRING, 0},
		{u".5", VK_STRING, 0},
		{u"1e", VK_STRING, 0},
		{u"1.5.2", VK_STRING, 0},
		{u"INF", VK_REAL, kINF},
		{u"-INF", VK_REAL, -kINF},
		{u"\u2212INF", VK_REAL, -kINF},
		{u"+INF", VK_STRING, 0},
		{u"NaN", VK_REAL, 0},
		{u"-NaN", VK_STRING, 0},
		{u"true", VK_BOOLEAN, 1},
		{u"false", VK_BOOLEAN, 0},
		{u"+true", VK_STRING, 0},
		{u"{01234567-89AB-CDEF-0123-456789abcdef}", VK_UUID, 0},
		{u"fedcba98\u221276543210fedcba9876543210", VK_UUID, 0},
		{u"0123456789abcdef0123456789abcde", VK_STRING, 0},
		{u"0123456789abcdef0123456789abcdef0", VK_STRING, 0},
		{u"abcdef0123456789abcdef0123456789", VK_STRING, 0},
		{u"-0123456789abcdef0123456789abcdef", VK_STRING, 0},
		{u"{0123456789abcdef0123456789abcdef", VK_STRING, 0},
		{u"abc", VK_STRING, 0},
		{u"", VK_STRING, 0},
	};
	for (const Row& row : rows)
	{
		const std::string trace(row.fText.begin(), row.fText.begin() + ptrdiff_t(std::min<size_t>(row.fText.size(), 40)));
		SCOPED_TRACE(trace);
		const Parsed parsed = Parse(row.fText);
		ASSERT_EQ(parsed.fKind, row.fKind);
		switch (row.fKind)
		{
			case VK_STRING:
				EXPECT_EQ(parsed.fText, row.fText) << "the text as it was";
				break;
			case VK_REAL:
				if (row.fText == u"NaN")
				{
					EXPECT_TRUE(std::isnan(parsed.fReal));
				}
				else
				{
					EXPECT_DOUBLE_EQ(parsed.fReal, row.fNumber);
				}
				break;
			case VK_UUID:
				EXPECT_EQ(parsed.fText, row.fText[0] == u'{' ? u"0123456789ABCDEF0123456789ABCDEF" : u"FEDCBA9876543210FEDCBA9876543210");
				break;
			default:
				EXPECT_EQ(double(parsed.fLong8), row.fNumber);
				break;
		}
	}
}

TEST(ParseXMLValueTest, NumbersDoNotFollowTheUsersSettings)
{
	// A manager whose decimal separator is a comma: the point still separates, the comma does not.
	VIntlMgr* previous = VTask::GetCurrentIntlManager();
	ASSERT_NE(previous, nullptr);
	previous->Retain();
	VIntlMgr* german = VIntlMgr::Create(1031, 1031, 1);
	ASSERT_NE(german, nullptr);
	ASSERT_EQ(german->GetDecimalSeparator().GetLength(), 1);
	EXPECT_EQ(german->GetDecimalSeparator().GetCPointer()[0], u',');
	VTask::SetCurrentIntlManager(german);
	const Parsed point = Parse(u"1.5");
	const Parsed comma = Parse(u"1,5");
	VTask::SetCurrentIntlManager(previous);
	previous->Release();
	german->Release();
	EXPECT_EQ(point.fKind, VK_REAL);
	EXPECT_EQ(point.fReal, 1.5);
	EXPECT_EQ(comma.fKind, VK_STRING);

	// Without any manager (no process object, a thread without a task) the blanks are space, tab, CR and
	// LF only.
	Parsed blanks;
	Parsed nonBreaking;
	{
		StNoProcessInstance noProcess;
		std::thread reader([&] {
			blanks = Parse(u" \t12\r\n ");
			nonBreaking = Parse(u"\u00A012");
		});
		reader.join();
	}
	EXPECT_EQ(blanks.fKind, VK_LONG);
	EXPECT_EQ(blanks.fLong8, 12);
	EXPECT_EQ(nonBreaking.fKind, VK_STRING);
}

}  // namespace
}  // namespace velk
