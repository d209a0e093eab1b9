// String editing: appending text and numbers, replacing, removing, truncating, exchanging and trimming,
// with copy on write, aliasing and counts at the top of the range.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "kernel/intl/VIntlMgr.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

const char16_t* const kLong = u"a string long enough to live in a heap buffer of its own";

TEST(VStringEditingTest, AppendNumbersAndCodes)
{
	EXPECT_EQ(Text(VString().AppendLong(0)), u"0");
	EXPECT_EQ(Text(VString().AppendLong(-42)), u"-42");
	EXPECT_EQ(Text(VString().AppendLong(INT32_MIN)), u"-2147483648");
	EXPECT_EQ(Text(VString().AppendLong8(INT64_MIN)), u"-9223372036854775808");
	EXPECT_EQ(Text(VString().AppendLong8(INT64_MAX)), u"9223372036854775807");
	EXPECT_EQ(Text(VString().AppendULong8(UINT64_MAX)), u"18446744073709551615");
	EXPECT_EQ(Text(VString().AppendOsType(FourCharCode("TEXT"))), u"TEXT");
	// Bytes outside 0x20..0x7E (a zero, DEL, a high byte) are skipped.
	EXPECT_EQ(Text(VString().AppendOsType(0x54004558)), u"TEX");
	EXPECT_EQ(Text(VString().AppendOsType(0x7F80415A)), u"AZ");
	EXPECT_EQ(Text(VString(u"x=").AppendLong(7).AppendUniChar(u';')), u"x=7;");
}

TEST(VStringEditingTest, AppendRealMatchesPrintfAndWritesNanUnsigned)
{
	struct Row
	{
		double value;
		const char16_t* text;
	};
	const Row rows[] = {
		{0.1, u"0.1"},
		{1e20, u"1E+20"},
		{1e-5, u"1E-05"},
		{100000000000000.0, u"1E+14"},
		{12345678901234.0, u"12345678901234"},
		{1.0 / 3.0, u"0.33333333333333"},
		{-0.0, u"-0"},
		{DBL_MAX, u"1.7976931348623E+308"},
		{std::numeric_limits<double>::infinity(), u"INF"},
		{-std::numeric_limits<double>::infinity(), u"-INF"},
		{std::numeric_limits<double>::quiet_NaN(), u"NAN"},
		{-std::numeric_limits<double>::quiet_NaN(), u"NAN"},
		{std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0), u"NAN"},
	};
	for (const Row& r : rows)
		EXPECT_EQ(Text(VString().AppendReal(r.value)), r.text) << r.value;

	// Any finite real gives what "%.14G" gives in the "C" locale.
	std::mt19937_64 random(7);
	for (int i = 0; i < 3000; ++i)
	{
		const uint64 bits = random();
		double value;
		std::memcpy(&value, &bits, sizeof(value));
		if (!std::isfinite(value))
			continue;
		if (i % 2 == 0)
			value = double(int64(bits % 2000000001) - 1000000000) / double(1 + bits % 977);
		char expected[300];
		std::snprintf(expected, sizeof(expected), "%.14G", value);
		VString text;
		text.AppendReal(value);
		EXPECT_TRUE(text.EqualToUSASCIICString(expected)) << expected;
	}
}

TEST(VStringEditingTest, AppendTextAndBlocks)
{
	VString s(u"ab");
	s.AppendCString("cd").AppendCString("\xC3\xA9").AppendUniCString(u"\u20AC").AppendUniChars(u"xyz", 2);
	EXPECT_EQ(Text(s), u"abcd\u00E9\u20ACxy");

	const char16_t native[] = u"hi";
	EXPECT_EQ(Text(VString(u">").AppendBlock(native, 5, 2)), u">hi");  // the odd byte is dropped
	const uint8 bigEndian[] = {0x00, 0x41, 0x20, 0xAC};
	EXPECT_EQ(Text(VString(u">").AppendBlock(bigEndian, sizeof(bigEndian), 1)), u">A\u20AC");
	EXPECT_EQ(Text(VString(u">").AppendBlock("caf\xC3\xA9", 5, 7)), u">caf\u00E9");
	EXPECT_EQ(Text(VString(u">").AppendBlock("abc", 3, 0)), u">");  // no character set: nothing

	// Appending makes a null string a value.
	VString null(true);
	null.AppendUniChars(u"", 0);
	EXPECT_FALSE(null.IsNull());
}

TEST(VStringEditingTest, AppendOwnTextWhileGrowing)
{
	VString s(kLong);
	const std::u16string once = Text(s);
	for (int i = 0; i < 6; ++i)
		s.AppendUniChars(s.GetCPointer(), s.GetLength());
	std::u16string expected;
	for (int i = 0; i < 64; ++i)
		expected += once;
	EXPECT_EQ(Text(s), expected);

	VString t(u"ab");
	t.AppendValue(t);
	EXPECT_EQ(Text(t), u"abab");
}

TEST(VStringEditingTest, FromBlockReportsBytesConsumed)
{
	VString s(kLong);
	EXPECT_EQ(s.FromBlock("ab\xE2\x82", 4, 7), 2u);  // a partial character stays for the next block
	EXPECT_EQ(Text(s), u"ab");
	const char16_t native[] = u"xyz";
	EXPECT_EQ(s.FromBlock(native, 5, 2), 5u);
	EXPECT_EQ(Text(s), u"xy");
	EXPECT_EQ(s.FromBlock("abc", 3, 0), 0u);
	EXPECT_TRUE(s.IsEmpty());
	EXPECT_EQ(Text(VString("\xC3\xA9t\xC3\xA9", 5, 7)), u"\u00E9t\u00E9");

	VString null(true);
	null.FromUniString(u"q", 1);
	EXPECT_FALSE(null.IsNull());
	EXPECT_EQ(Text(null), u"q");
}

TEST(VStringEditingTest, ReplaceAndRemoveRanges)
{
	struct Row
	{
		const char16_t* source;
		const char16_t* text;
		int32 pos;
		int32 count;
		const char16_t* replaced;
	};
	const Row replaceRows[] = {
		{u"abcdef", u"XYZ", 3, 2, u"abXYZef"},
		{u"abcdef", u"Q", 5, 9, u"abcdQ"},
		{u"abcdef", u"", 2, 3, u"aef"},
		{u"abcdef", u"Q", 6, 1, u"abcdeQ"},
		{u"abcdef", u"Q", 3, INT32_MAX, u"abQ"},
		{u"abcdef", u"Q", 6, INT32_MAX, u"abcdeQ"},
		{u"abcdef", u"Q", 5, INT32_MAX - 3, u"abcdQ"},
		{u"abcdef", u"Q", 0, 1, u"abcdef"},
		{u"abcdef", u"Q", 7, 1, u"abcdef"},
		{u"abcdef", u"Q", 2, 0, u"abcdef"},
	};
	for (const Row& r : replaceRows)
	{
		VString s(r.source);
		s.Replace(VString(r.text), r.pos, r.count);
		EXPECT_EQ(Text(s), r.replaced) << r.pos << ", " << r.count;
	}

	const Row removeRows[] = {
		{u"abc", nullptr, 2, 100, u"a"},
		{u"abc", nullptr, 4, 1, u"abc"},
		{u"abcdef", nullptr, 2, 2, u"adef"},
		{u"abcdef", nullptr, 1, 6, u""},
		{u"abcdef", nullptr, 3, INT32_MAX, u"ab"},
		{u"abcdef", nullptr, 6, INT32_MAX - 1, u"abcde"},
		{u"abcdef", nullptr, 3, 0, u"abcdef"},
		{u"abcdef", nullptr, 3, -1, u"abcdef"},
		{u"abcdef", nullptr, 0, 2, u"abcdef"},
	};
	for (const Row& r : removeRows)
	{
		VString s(r.source);
		s.Remove(r.pos, r.count);
		EXPECT_EQ(Text(s), r.replaced) << r.pos << ", " << r.count;
	}

	VString self(u"abc");
	self.Replace(self, 2, 1);
	EXPECT_EQ(Text(self), u"aabcc");
}

TEST(VStringEditingTest, EditsNeverReachASharedCopy)
{
	const VString original(u"  a string long enough to live in a heap buffer  ");
	const std::u16string text = Text(original);
	auto check = [&](void (*edit)(VString&)) {
		VString copy(original);
		ASSERT_EQ(copy.GetCPointer(), original.GetCPointer());  // shared until written
		edit(copy);
		EXPECT_NE(Text(copy), text);
		EXPECT_EQ(Text(original), text);
	};
	check([](VString& s) { s.AppendUniChar(u'!'); });
	check([](VString& s) { s.Replace(VString(u"X"), 1, 1); });
	check([](VString& s) { s.Remove(1, 3); });
	check([](VString& s) { s.Truncate(4); });
	check([](VString& s) { s.ExchangeRawString(VString(u"a"), VString(u"A")); });
	check([](VString& s) { s.ExchangeRawString(VString(u"a "), VString(u"")); });
	check([](VString& s) { s.ExchangeRawString(VString(u"a"), VString(u"AAA")); });
	check([](VString& s) { s.Trim(); });
	check([](VString& s) { s.RemoveWhiteSpaces(false, true); });
}

TEST(VStringEditingTest, TruncateKeepsPairsAndFlags)
{
	VString s(u"ab\xD83D\xDE00");
	s.Truncate(3, true);
	EXPECT_EQ(Text(s), u"ab");
	VString t(u"ab\xD83D\xDE00");
	t.Truncate(3, false);
	EXPECT_EQ(Text(t), u"ab\xD83D");

	// A big buffer cut short still holds the kept text; the flags are left alone.
	std::u16string big(5000, u'x');
	VString u(big.data(), int32(big.size()));
	u.SetDirty(false);
	u.Truncate(3);
	EXPECT_EQ(Text(u), u"xxx");
	EXPECT_FALSE(u.IsDirty());
	u.Truncate(10);
	u.Truncate(-1);
	EXPECT_EQ(Text(u), u"");
}

TEST(VStringEditingTest, BeforeAndAfter)
{
	const VString s(u"abcdef");
	EXPECT_EQ(Text(s.Before(3)), u"ab");
	EXPECT_EQ(Text(s.Before(0)), u"");
	EXPECT_EQ(Text(s.Before(7)), u"abcdef");
	EXPECT_EQ(Text(s.After(4)), u"ef");
	EXPECT_EQ(Text(s.After(0)), u"abcdef");
	EXPECT_EQ(Text(s.After(6)), u"");
	EXPECT_TRUE(VString(true).Before(1).IsNull());
}

// Replaces non-overlapping occurrences from left to right, the search going on behind each replacement.
std::u16string ExchangeOracle(std::u16string text, const std::u16string& find, const std::u16string& by, int32 start, int32 maxCount, int32& count)
{
	count = 0;
	if (find.empty() || start < 1 || maxCount < 1 || size_t(start) > text.size() + 1)
		return text;
	size_t at = size_t(start) - 1;
	while (count < maxCount && (at = text.find(find, at)) != std::u16string::npos)
	{
		text.replace(at, find.size(), by);
		at += by.size();
		++count;
	}
	return text;
}

TEST(VStringEditingTest, ExchangeRawString)
{
	struct Row
	{
		const char16_t* text;
		const char16_t* find;
		const char16_t* by;
		int32 start;
		int32 maxCount;
		const char16_t* result;
		int32 count;
	};
	const Row rows[] = {
		{u"aXa", u"a", u"bb", 1, INT32_MAX, u"bbXbb", 2},
		{u"aXa", u"a", u"bb", 1, 1, u"bbXa", 1},
		{u"aaaa", u"aa", u"b", 1, INT32_MAX, u"bb", 2},    // overlapping candidates: not searched again
		{u"aaa", u"aa", u"aaa", 1, INT32_MAX, u"aaaa", 1},  // the replacement is never searched again
		{u"abab", u"ab", u"ba", 1, INT32_MAX, u"baba", 2},
		{u"abab", u"ab", u"", 2, INT32_MAX, u"ab", 1},
		{u"abc", u"", u"x", 1, INT32_MAX, u"abc", 0},      // an empty pattern changes nothing
		{u"abc", u"b", u"x", 1, 0, u"abc", 0},
		{u"abc", u"b", u"x", 0, 5, u"abc", 0},
		{u"abc", u"d", u"x", 1, 5, u"abc", 0},
	};
	for (const Row& r : rows)
	{
		VString s(r.text);
		int32 count = -1;
		s.ExchangeRawString(VString(r.find), VString(r.by), r.start, r.maxCount, &count);
		EXPECT_EQ(Text(s), r.result) << static_cast<const void*>(r.text);
		EXPECT_EQ(count, r.count);
	}

	// More than the first room of places, growing the text.
	std::u16string many(3000, u'a');
	VString s(many.data(), int32(many.size()));
	int32 count = 0;
	s.ExchangeRawString(VString(u"a"), VString(u"<>"), 1, INT32_MAX, &count);
	EXPECT_EQ(count, 3000);
	EXPECT_EQ(s.GetLength(), 6000);
	EXPECT_EQ(s.GetUniChar(5999), u'<');

	VString self(u"xx");
	self.ExchangeRawString(self, VString(u"y"));
	EXPECT_EQ(Text(self), u"y");
}

TEST(VStringEditingTest, ExchangeRawStringAgainstOracle)
{
	std::mt19937 random(11);
	auto make = [&](int maxLength) {
		std::u16string s(random() % (maxLength + 1), u'a');
		for (char16_t& c : s)
			c = char16_t(u'a' + random() % 2);
		return s;
	};
	for (int i = 0; i < 3000; ++i)
	{
		const std::u16string text = make(40);
		std::u16string find = make(4);
		if (find.empty())
			find = u"a";
		const std::u16string by = make(6);
		const int32 start = int32(random() % 45);
		const int32 maxCount = (i % 3 == 0) ? INT32_MAX : int32(random() % 5);
		int32 expectedCount = 0;
		const std::u16string expected = ExchangeOracle(text, find, by, start, maxCount, expectedCount);

		VString s(text.data(), int32(text.size()));
		const VString shared(s);
		int32 count = -1;
		s.ExchangeRawString(VString(find.data(), int32(find.size())), VString(by.data(), int32(by.size())), start, maxCount, &count);
		ASSERT_EQ(Text(s), expected) << i;
		ASSERT_EQ(count, expectedCount) << i;
		ASSERT_EQ(Text(shared), text);
	}
}

TEST(VStringEditingTest, Trim)
{
	struct Row
	{
		const char16_t* text;
		bool leading;
		bool trailing;
		const char16_t* trimmed;
	};
	const Row rows[] = {
		{u"\uFEFFabc\r\n", true, true, u"abc"},
		{u" \t\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u3000\v\f", true, true, u""},
		{u"  a b  ", true, false, u"a b  "},
		{u"  a b  ", false, true, u"  a b"},
		{u"\u200Bx\u200B", true, true, u"\u200Bx\u200B"},  // zero width space is not in the set
		{u"ab\xD83D ", true, true, u"ab"},                 // no lone high surrogate left at the end
		{u"ab\xD83D\xDE00 ", true, true, u"ab\xD83D\xDE00"},
		{u" \xD83D", true, true, u""},
		{u"\xD83D ", true, false, u"\xD83D "},
	};
	for (const Row& r : rows)
	{
		VString s(r.text);
		s.Trim(r.leading, r.trailing);
		EXPECT_EQ(Text(s), r.trimmed) << static_cast<const void*>(r.text);
	}
}

TEST(VStringEditingTest, RemoveWhiteSpaces)
{
	// Without a manager only blanks and tabs are white space.
	VString s(u" \t\u00A0x\u00A0\t ");
	int32 leading = -1;
	int32 trailing = -1;
	s.RemoveWhiteSpaces(true, true, &leading, &trailing, nullptr, false);
	EXPECT_EQ(Text(s), u"\u00A0x\u00A0");
	EXPECT_EQ(leading, 2);
	EXPECT_EQ(trailing, 2);

	// The manager's white space: no-break space yes, tab no.
	VIntlMgr* intl = VIntlMgr::Create(0, 0, 1);
	VString t(u"\u00A0 \tx\t\u3000\u2000");
	t.RemoveWhiteSpaces(true, true, &leading, &trailing, intl, false);
	EXPECT_EQ(Text(t), u"\tx\t");
	EXPECT_EQ(leading, 2);
	EXPECT_EQ(trailing, 2);

	VString u(u"x\xD83D ");
	u.RemoveWhiteSpaces(false, true, &leading, &trailing, intl, false);
	EXPECT_EQ(Text(u), u"x");
	EXPECT_EQ(trailing, 2);

	VString v(u"x");
	leading = trailing = -1;
	v.RemoveWhiteSpaces(true, true, &leading, &trailing);
	EXPECT_EQ(leading, 0);
	EXPECT_EQ(trailing, 0);
	intl->Release();
}

}  // namespace
}  // namespace velk
