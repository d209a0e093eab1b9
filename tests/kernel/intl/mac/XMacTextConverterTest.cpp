// The platform converters' factories: which sets they make, and the Unicode forms they also cover.
#include "kernel/intl/mac/XMacIntlMgr.h"
#include "kernel/intl/mac/XMacTextConverter.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {
namespace {

TEST(XMacTextConverterTest, FactoriesMakeOnlyConvertibleSets)
{
	for (CharSet charSet : {50, 0, -1, 121, 1020})
	{
		SCOPED_TRACE(charSet);
		EXPECT_EQ(XMacIntlMgr::NewToUnicodeConverter(charSet), nullptr);
		EXPECT_EQ(XMacIntlMgr::NewFromUnicodeConverter(charSet), nullptr);
		EXPECT_EQ(XMacToUnicodeConverter::CharSetToTextEncoding(charSet), nullptr);
	}
	// The platform default is Mac Roman, the same set as 100.
	EXPECT_STREQ(XMacToUnicodeConverter::CharSetToTextEncoding(-2), XMacToUnicodeConverter::CharSetToTextEncoding(100));
}

TEST(XMacTextConverterTest, UnicodeFormsRoundTrip)
{
	const std::u16string text = u"a\u20AC\U0001F600";
	struct Case
	{
		CharSet charSet;
		int32 minCharSize;
	};
	const Case cases[] = {{2, 2}, {4, 4}, {7, 3}, {8, 1}};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.charSet);
		VRefPtr<VFromUnicodeConverter> from(XMacIntlMgr::NewFromUnicodeConverter(c.charSet), true);
		VRefPtr<VToUnicodeConverter> to(XMacIntlMgr::NewToUnicodeConverter(c.charSet), true);
		ASSERT_TRUE(from && to);
		EXPECT_GE(from->GetCharSize(), c.minCharSize);
		char bytes[64];
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(from->Convert(text.data(), int32(text.size()), &consumed, bytes, sizeof(bytes), &produced));
		EXPECT_EQ(consumed, int32(text.size()));
		UniChar back[16];
		size_t read = 0;
		int32 units = 0;
		ASSERT_TRUE(to->Convert(bytes, produced, &read, back, 16, &units));
		EXPECT_EQ(read, produced);
		EXPECT_EQ(std::u16string(back, size_t(units)), text);
	}
}

// A shifted set counts one unit as a character with the escapes around it, so that a single character fits
// in the room the conversion helpers give it (the unit count plus two, times this size): a kanji in
// ISO-2022-JP takes 8 bytes, a letter past ASCII in UTF-7 5.
TEST(XMacTextConverterTest, ShiftedSetsCountACharacterWithItsEscapes)
{
	struct Case
	{
		CharSet charSet;
		int32 charSize;
		char16_t unit;
		std::string bytes;
	};
	const Case cases[] = {
		{kCharSet_ISO2022JP, 6, u'\u4E2D', "\x1B$BCf\x1B(B"},
		{kCharSet_UTF7, 4, u'\u00E9', "+AOk-"},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.charSet);
		VRefPtr<VFromUnicodeConverter> from(XMacIntlMgr::NewFromUnicodeConverter(c.charSet), true);
		ASSERT_TRUE(from);
		EXPECT_EQ(from->GetCharSize(), c.charSize);
		char bytes[64];
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(from->Convert(reinterpret_cast<const UniChar*>(&c.unit), 1, &consumed, bytes, size_t(from->GetCharSize()) * 3, &produced));
		EXPECT_EQ(consumed, 1);
		EXPECT_EQ(std::string(bytes, produced), c.bytes);
	}
}

}  // namespace
}  // namespace velk
