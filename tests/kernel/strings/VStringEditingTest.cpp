// String editing: appending text and numbers, replacing, removing, truncating, exchanging and trimming,
// with copy on write, aliasing and counts at the top of the range; searching and exchanging through the
// collator, sub-strings, insertion, swapping, case mapping and reading a leading integer.
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
#include <thread>

#include "common/VTestEnvironment.h"
#include "kernel/intl/VCollator.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/memory/VCppMemMgr.h"
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

TEST(VStringEditingTest, ParseIntFollowsJavaScript)
{
	const double nan = std::numeric_limits<double>::quiet_NaN();
	const struct
	{
		const char16_t* text;
		int32 radix;
		double value;  // NaN when none
	} rows[] = {
		{u" 0x1F ", 0, 31}, {u"12px", 0, 12}, {u"-7", 0, -7}, {u"z", 0, nan}, {u"Zz", 36, 35 * 36 + 35},
		{u"1", 1, nan}, {u"1", 37, nan}, {u"-0X1f", 16, -31}, {u"0x1F", 10, 0}, {u"0x", 0, nan}, {u"102", 2, 2},
		{u"", 0, nan}, {u"- 1", 0, nan}, {u"\u00A0\u3000\uFEFF\t\n42", 0, 42}, {u"\u200B42", 0, nan},
		{u"\uFF11", 0, nan}, {u"100000000000000000000000", 0, 1e23},
	};
	for (const auto& r : rows)
	{
		const double value = VString(r.text).ParseInt(r.radix);
		EXPECT_TRUE(std::isnan(r.value) ? std::isnan(value) : value == r.value) << "row " << (&r - rows) << ": " << value;
	}
}

// Matches every pattern with length 0 at the start of any text, as a collator does an ignorable pattern;
// it stops matching after a budget of searches, so that a walk that does not advance ends all the same.
class VZeroLengthCollator : public VCollator
{
public:
	VZeroLengthCollator() : VCollator(0x0409) {}
	CompareResult CompareString(const UniChar*, int32, const UniChar*, int32, bool) const override { return CR_EQUAL; }
	bool EqualString(const UniChar*, int32, const UniChar*, int32, bool) const override { return true; }
	int32 FindString(const UniChar*, int32 textSize, const UniChar*, int32, bool, int32* outLength) const override
	{
		*outLength = 0;
		return (textSize > 0 && ++fSearches <= 100) ? 1 : 0;
	}
	int32 ReversedFindString(const UniChar* t, int32 n, const UniChar* p, int32 m, bool d, int32* l) const override { return FindString(t, n, p, m, d, l); }
	VCollator* Clone() const override { return nullptr; }
	void GetStringComparisonAlgorithmSignature(VString& s) const override { s.Clear(); }

	mutable int32 fSearches = 0;
};

TEST(VStringEditingTest, ExchangeThroughTheCollator)
{
	const struct
	{
		const char16_t* text;
		const char16_t* pattern;
		const char16_t* replacement;
		int32 start;
		int32 count;
		bool diacritical;
		const char16_t* expected;
	} rows[] = {
		{u"aXbXc", u"X", u"--", 1, INT32_MAX, true, u"a--b--c"},
		{u"aXbXc", u"X", u"--", 1, 1, true, u"a--bXc"},
		{u"aXbXc", u"X", u"--", 3, INT32_MAX, true, u"aXb--c"},
		{u"aXbXc", u"X", u"--", 0, INT32_MAX, true, u"aXbXc"},
		{u"aXbXc", u"", u"--", 1, 3, true, u"aXbXc"},
		{u"aXbxc", u"x", u"", 1, INT32_MAX, false, u"abc"},
		{u"aXbxc", u"x", u"", 1, INT32_MAX, true, u"aXbc"},
		{u"ab", u"ab", u"xabx", 1, INT32_MAX, true, u"xabx"},
		// Matched texts longer and shorter than the pattern are replaced whole.
		{u"cafe\u0301s", u"\u00E9", u"e", 1, INT32_MAX, true, u"cafes"},
		{u"\u00E9t\u00C9", u"e\u0301", u"E", 1, INT32_MAX, false, u"EtE"},
		// A pattern the collation ignores whole (a soft hyphen) is an empty one: nothing changes.
		{u"abc", u"\u00AD", u"-", 1, 5, true, u"abc"},
		{u"a\u00ADb", u"\u00AD\u00AD", u"-", 1, INT32_MAX, false, u"a\u00ADb"},
	};
	for (const auto& r : rows)
	{
		VString s(r.text);
		const VString copy(s);
		EXPECT_EQ(Text(s.Exchange(VString(r.pattern), VString(r.replacement), r.start, r.count, r.diacritical)), r.expected) << "row " << (&r - rows);
		EXPECT_EQ(Text(copy), r.text);
	}
	VZeroLengthCollator collator;
	VString s(u"abc");
	EXPECT_EQ(Text(s.Exchange(VString(u"-"), VString(u"+"), 1, INT32_MAX, true, &collator)), u"abc");

	VString units(u"XXX");
	EXPECT_EQ(Text(units.Exchange(u'X', u'Y', 1, 2)), u"YYX");
	EXPECT_EQ(Text(units.Exchange(u'X', u'Z', 2)), u"YYZ");
	EXPECT_EQ(Text(units.Exchange(u'Y', u'Z', 0)), u"YYZ");
}

TEST(VStringEditingTest, FindBeginsAndEndsThroughTheCollator)
{
	const struct
	{
		const char16_t* text;
		const char16_t* pattern;
		int32 start;
		bool diacritical;
		int32 found;
		bool begins;
		bool ends;
	} rows[] = {
		{u"hello", u"lo", 1, true, 4, false, true},
		{u"hello", u"lo", 5, true, 0, false, true},
		{u"HeLLo", u"ll", 1, false, 3, false, false},
		{u"HeLLo", u"ll", 1, true, 0, false, false},
		{u"\u00C9t\u00E9", u"e", 2, false, 3, true, true},
		{u"\u00C9t\u00E9", u"e", 1, true, 0, false, false},
		{u"e\u0301t\u00E9", u"\u00E9t", 1, true, 1, true, false},
	};
	for (const auto& r : rows)
	{
		const VString text(r.text);
		const VString pattern(r.pattern);
		EXPECT_EQ(text.Find(pattern, r.start, r.diacritical), r.found) << "row " << (&r - rows);
		EXPECT_EQ(text.BeginsWith(pattern, r.diacritical), r.begins) << "row " << (&r - rows);
		EXPECT_EQ(text.EndsWith(pattern, r.diacritical), r.ends) << "row " << (&r - rows);
	}
}

TEST(VStringEditingTest, CaseMappingWithAndWithoutAManager)
{
	const struct
	{
		const char16_t* text;
		bool upper;
		const char16_t* mapped;
	} rows[] = {
		{u"stra\u00DFe", true, u"STRASSE"},
		// The final sigma depends on its place in the word.
		{u"\u00C0 \u03A3\u039F\u03A3", false, u"\u00E0 \u03C3\u03BF\u03C2"},
	};
	for (const auto& r : rows)
	{
		VString s(r.text);
		const VString copy(s);
		r.upper ? s.ToUpperCase() : s.ToLowerCase();
		EXPECT_EQ(Text(s), r.mapped);
		EXPECT_EQ(Text(copy), r.text);
	}

	// A thread without a task, while no process object exists, has no manager: units are compared and
	// only ASCII letters change case.
	std::u16string upper;
	int32 found = -1;
	bool begins = true;
	size_t pieces = 0;
	{
		StNoProcessInstance noProcess;
		std::thread([&] {
			VString text(u"Stra\u00DFe");
			found = text.Find(VString(u"E"), 1, false);
			begins = text.BeginsWith(VString(u"st"), false) || text.EndsWith(VString(u"E"), false);
			std::vector<VString> out;
			text.GetSubStrings(VString(u"A"), out, false, false, false);
			pieces = out.size();
			text.ToUpperCase();
			upper = Text(text);
		}).join();
	}
	EXPECT_EQ(found, 0);
	EXPECT_FALSE(begins);
	EXPECT_EQ(pieces, 1u);
	EXPECT_EQ(upper, u"STRA\u00DFE");
}

TEST(VStringEditingTest, SubStringsInsertionTrimmingAndConcatenation)
{
	VString s(u"hello");
	EXPECT_EQ(Text(s.GetSubString(2, 100)), u"ello");
	EXPECT_EQ(Text(s.GetSubString(0, 2)), u"");
	const VString shared(s);
	s.SubString(2, 3);
	EXPECT_EQ(Text(s), u"ell");
	EXPECT_EQ(Text(shared), u"hello");

	VString t(kLong);
	t.Insert(u'<', 1);
	t.Insert(u'>', 1000);
	t.Insert(u'x', 0);
	t.Insert(VString(u"[]"), 3);
	EXPECT_EQ(Text(t), u"<a[] " + std::u16string(kLong + 2) + u">");
	VString self(u"ab");
	self.Insert(self, 2);
	EXPECT_EQ(Text(self), u"aabb");

	VString stars(u"**a*b**");
	stars.TrimUniChar(u'*');
	EXPECT_EQ(Text(stars), u"a*b");
	stars = VString(u"***");
	stars.TrimUniChar(u'*');
	EXPECT_TRUE(stars.IsEmpty());

	EXPECT_EQ(Text(VString(true) + VString(kLong)), kLong);
}

// Every pair of a plain string and a string with inline room, holding nothing, null, short or long text:
// after the swap each has the other's text and null state, and neither a copy taken before nor an edit
// made after reaches the other.
TEST(VStringEditingTest, SwapAcrossInlineAndHeapBuffers)
{
	const char16_t* const texts[] = {nullptr, u"", u"short", kLong};
	for (int32 i = 0; i < 8; ++i)
	{
		for (int32 j = 0; j < 8; ++j)
		{
			SCOPED_TRACE(testing::Message() << i << "," << j);
			VStr<8> inlineA;
			VStr<8> inlineB;
			VString plainA;
			VString plainB;
			VString& a = (i < 4) ? static_cast<VString&>(plainA) : inlineA;
			VString& b = (j < 4) ? static_cast<VString&>(plainB) : inlineB;
			const char16_t* textA = texts[i % 4];
			const char16_t* textB = texts[j % 4];
			a = (textA == nullptr) ? VString(true) : VString(textA);
			b = (textB == nullptr) ? VString(true) : VString(textB);
			const VString copyA(a);
			const VString copyB(b);

			a.Swap(b);
			EXPECT_EQ(a.IsNull(), textB == nullptr);
			EXPECT_EQ(b.IsNull(), textA == nullptr);
			EXPECT_EQ(Text(a), textB == nullptr ? u"" : textB);
			EXPECT_EQ(Text(b), textA == nullptr ? u"" : textA);
			a.AppendUniChar(u'!');
			b.AppendUniChar(u'?');
			EXPECT_EQ(Text(copyA), textA == nullptr ? u"" : textA);
			EXPECT_EQ(Text(copyB), textB == nullptr ? u"" : textB);
		}
	}
}

// A memory manager that refuses every block: each edit that must grow raises velk 107 and leaves the
// strings whole.
TEST(VStringEditingTest, EditsThatCannotGrowLeaveTheStrings)
{
	VString exchanged(kLong);
	VString inserted(kLong);
	const std::u16string sharpS(20, u'\u00DF');  // twice as long in upper case
	VString mapped(sharpS.data(), int32(sharpS.size()));
	VStr<8> inlineText(u"short");
	VString plain;
	VError errors[4] = {};
	VTask::FlushErrors();
	VCppMemMgr* previous = VObject::sCppMemMgr;
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	exchanged.Exchange(VString(u"a"), VString(u"A"));
	errors[0] = VTask::GetLastError();
	inserted.Insert(exchanged, 2);
	errors[1] = VTask::GetLastError();
	mapped.ToUpperCase();
	errors[2] = VTask::GetLastError();
	inlineText.Swap(plain);
	errors[3] = VTask::GetLastError();
	VObject::sCppMemMgr = previous;
	delete refusing;
	VTask::FlushErrors();

	for (VError error : errors)
		EXPECT_EQ(error, VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(Text(exchanged), kLong);
	EXPECT_EQ(Text(inserted), kLong);
	EXPECT_EQ(Text(mapped), sharpS);
	EXPECT_EQ(Text(inlineText), u"short");
	EXPECT_TRUE(plain.IsEmpty());
}

}  // namespace
}  // namespace velk
