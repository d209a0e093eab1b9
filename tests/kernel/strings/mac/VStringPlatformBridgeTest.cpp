// Strings to and from the platform's string object: round trips, null on either side, and texts without
// storage of their own read in chunks.
#include "kernel/strings/mac/XMacPlatformString.h"

#include <gtest/gtest.h>

#include <string>

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

TEST(VStringPlatformBridgeTest, TextsMakeTheRoundTrip)
{
	const std::u16string texts[] = {u"", u"name", u"pair \U0001F600 and \u00E9", std::u16string(3000, u'\u4E2D')};
	for (const std::u16string& units : texts)
	{
		const VString source(units.data(), int32(units.size()));
		VPlatformString* copy = source.MAC_RetainCFStringCopy();
		ASSERT_NE(copy, nullptr) << units.size();
		VString back(true);
		back.MAC_FromCFString(copy);
		EXPECT_EQ(Text(back), units);
		EXPECT_FALSE(back.IsNull());
		EXPECT_TRUE(back.IsDirty());
		ToSharedText(copy)->Release();
	}
}

// A null string has no units: its platform string is an empty one, which reads back as an empty string.
TEST(VStringPlatformBridgeTest, NullStringGivesAnEmptyPlatformString)
{
	VString null("text");
	null.SetNull(true);
	VPlatformString* copy = null.MAC_RetainCFStringCopy();
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(ToSharedText(copy)->GetLength(), 0u);
	VString back("before");
	back.MAC_FromCFString(copy);
	EXPECT_TRUE(back.IsEmpty());
	EXPECT_FALSE(back.IsNull());
	ToSharedText(copy)->Release();
}

TEST(VStringPlatformBridgeTest, NullPlatformStringLeavesTheStringAsItWas)
{
	for (const bool null : {false, true})
	{
		VString target("kept");
		if (null)
			target.SetNull(true);
		target.SetDirty(false);
		const std::u16string before = Text(target);
		target.MAC_FromCFString(nullptr);
		EXPECT_EQ(target.IsNull(), null);
		EXPECT_FALSE(target.IsDirty());
		EXPECT_EQ(Text(target), before);
	}
}

// A UTF-8 platform string has no UTF-16 storage: it is read in chunks of at most 1024 units, and a pair
// cut by a chunk's end is joined again in the string.
TEST(VStringPlatformBridgeTest, TextsWithoutStorageAreReadInChunks)
{
	struct Row
	{
		size_t asciiBefore;	 // ASCII units before the one character above U+FFFF
		size_t asciiAfter;
		size_t reads;
	};
	const Row rows[] = {
		{1023, 1475, 3},  // 2,500 units, the pair cut by the first chunk's end
		{1022, 1476, 3},
		{0, 1022, 1},
		{1000, 1023, 2},
		{0, 0, 1},
	};
	for (const Row& row : rows)
	{
		const std::string bytes = std::string(row.asciiBefore, 'a') + "\xF0\x9F\x98\x80" + std::string(row.asciiAfter, 'z');
		const std::u16string units = std::u16string(row.asciiBefore, u'a') + u"\U0001F600" + std::u16string(row.asciiAfter, u'z');
		plat::SharedText* text = plat::SharedText::CreateWithUTF8(bytes.data(), bytes.size());
		ASSERT_NE(text, nullptr);
		ASSERT_EQ(text->GetLength(), units.size());

		VString target(true);
		target.SetDirty(false);
		target.MAC_FromCFString(ToPlatformString(text));
		EXPECT_EQ(Text(target), units) << units.size();
		EXPECT_EQ(text->CountRangeReads(), row.reads) << units.size();
		EXPECT_FALSE(target.IsNull());
		EXPECT_TRUE(target.IsDirty());
		text->Release();
	}
}

}  // namespace
}  // namespace velk
