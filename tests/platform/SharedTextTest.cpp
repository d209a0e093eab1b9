// The platform's string object: UTF-16 texts read in place, UTF-8 texts decoded range by range (pairs cut
// by a range, ill-formed bytes), and failures to make one.
#include "platform/SharedText.h"

#include <gtest/gtest.h>

#include <string>

#include "common/VFailingAllocations.h"

namespace plat {
namespace {

// Every range of the text, read into a buffer with guard units around it, must give that part of expected;
// each read, refused ones included, is counted.
void ExpectEveryRange(const SharedText& text, const std::u16string& expected, const std::string& label)
{
	const size_t length = expected.size();
	const size_t readsBefore = text.CountRangeReads();
	size_t reads = 3;
	for (size_t start = 0; start <= length; ++start)
	{
		for (size_t count = 0; start + count <= length; ++count)
		{
			++reads;
			std::u16string read(count + 2, u'#');
			ASSERT_TRUE(text.GetUnits(start, count, read.data() + 1)) << label << " at " << start << " for " << count;
			EXPECT_EQ(read, u"#" + expected.substr(start, count) + u"#") << label << " at " << start << " for " << count;
		}
	}
	char16_t unit = u'#';
	EXPECT_FALSE(text.GetUnits(length, 1, &unit)) << label;
	EXPECT_FALSE(text.GetUnits(length + 1, 0, &unit)) << label;
	EXPECT_FALSE(text.GetUnits(1, SIZE_MAX, &unit)) << label;
	EXPECT_EQ(unit, u'#') << label;
	EXPECT_EQ(text.CountRangeReads() - readsBefore, reads) << label;
}

TEST(SharedTextTest, UTF8TextsDecodeInUTF16Units)
{
	struct Row
	{
		const char* label;
		std::string bytes;
		std::u16string units;
	};
	const Row rows[] = {
		{"empty", "", u""},
		{"ascii", "name.txt", u"name.txt"},
		{"two-byte", "caf\xC3\xA9", u"caf\u00E9"},
		{"three-byte", "\xE2\x82\xAC" "5", u"\u20AC" "5"},
		{"pair", "a\xF0\x9F\x98\x80" "b", u"a\U0001F600b"},
		{"zero byte inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
		{"lone continuation", "a\x80" "b", u"a\uFFFDb"},
		{"cut sequence then ascii", "\xE2\x82" "a", u"\uFFFDa"},
		{"cut at the end", "x\xF0\x9F\x98", u"x\uFFFD"},
		{"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
		{"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
		{"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
		{"never a lead", "\xF5\xFF", u"\uFFFD\uFFFD"},
		{"highest", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
	};
	for (const Row& row : rows)
	{
		SharedText* text = SharedText::CreateWithUTF8(row.bytes.data(), row.bytes.size());
		ASSERT_NE(text, nullptr) << row.label;
		EXPECT_EQ(text->GetUnitsPointer(), nullptr) << row.label;
		EXPECT_EQ(text->GetLength(), row.units.size()) << row.label;
		ExpectEveryRange(*text, row.units, row.label);
		text->Release();
	}
}

TEST(SharedTextTest, UnitTextsAreReadInPlaceAndCopied)
{
	std::u16string units = u"x\U0001F600y";
	SharedText* text = SharedText::CreateWithUnits(units.data(), units.size());
	ASSERT_NE(text, nullptr);
	units[0] = u'z';  // the text holds its own copy
	ASSERT_NE(text->GetUnitsPointer(), nullptr);
	EXPECT_EQ(std::u16string(text->GetUnitsPointer(), text->GetLength()), u"x\U0001F600y");
	ExpectEveryRange(*text, u"x\U0001F600y", "units");
	text->Release();
}

TEST(SharedTextTest, RefusedOrInvalidCreationsGiveNull)
{
	EXPECT_EQ(SharedText::CreateWithUnits(nullptr, 3), nullptr);
	EXPECT_EQ(SharedText::CreateWithUTF8(nullptr, 3), nullptr);
	velk::test::StFailingAllocations failing(0);
	EXPECT_EQ(SharedText::CreateWithUnits(u"ab", 2), nullptr);
	EXPECT_EQ(SharedText::CreateWithUTF8("ab", 2), nullptr);
	EXPECT_GT(failing.GetRefusedCount(), 0);
}

}  // namespace
}  // namespace plat
