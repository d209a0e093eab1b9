// Raw comparisons and searches: FindRawString against a naive search on random texts (short and long
// patterns, periodic texts), unit search, prefixes and suffixes, ASCII equality and similarity.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace velk {
namespace {

VString Make(const std::u16string& text)
{
	return VString(text.data(), int32(text.size()));
}

// 1-based place of the first occurrence at or after start, 0 when none.
int32 NaiveFind(const std::u16string& text, const std::u16string& pattern, int32 start)
{
	if (start < 1)
		return 0;
	for (size_t at = size_t(start) - 1; at + pattern.size() <= text.size(); ++at)
	{
		size_t i = 0;
		while (i < pattern.size() && text[at + i] == pattern[i])
			++i;
		if (i == pattern.size())
			return int32(at) + 1;
	}
	return 0;
}

TEST(VStringSearchTest, FindRawStringEdgeCases)
{
	const VString abc(u"abc");
	EXPECT_EQ(abc.FindRawString(VString(), 1), 1);
	EXPECT_EQ(abc.FindRawString(VString(u"c"), 4), 0);
	EXPECT_EQ(abc.FindRawString(VString(u"c"), 3), 3);
	EXPECT_EQ(abc.FindRawString(VString(u"a"), 0), 0);
	EXPECT_EQ(abc.FindRawString(VString(u"abcd"), 1), 0);
	EXPECT_EQ(VString().FindRawString(VString(u"a"), 1), 0);
	EXPECT_EQ(VString::FindRawString(u"", 0, u"", 0), 1);
	EXPECT_EQ(VString(u"aab\xD800\xDC00").FindRawString(VString(u"\xDC00"), 1), 5);
}

TEST(VStringSearchTest, FindRawStringAgainstNaiveSearch)
{
	std::mt19937 random(3);
	struct Shape
	{
		int alphabet;
		int textLength;
		int minPattern;
		int maxPattern;
	};
	// Small alphabets make many partial matches; long patterns take the table off the stack.
	const Shape shapes[] = {{2, 64, 1, 8}, {3, 500, 1, 30}, {2, 3000, 250, 600}, {4, 4000, 255, 1200}};
	for (const Shape& shape : shapes)
	{
		for (int i = 0; i < 300; ++i)
		{
			std::u16string text(size_t(random() % (shape.textLength + 1)), u'a');
			for (char16_t& c : text)
				c = char16_t(u'a' + random() % shape.alphabet);
			const size_t length = shape.minPattern + random() % (shape.maxPattern - shape.minPattern + 1);
			std::u16string pattern;
			if (text.size() >= length && random() % 3 != 0)
			{
				// Taken from the text, sometimes with one unit changed.
				pattern = text.substr(random() % (text.size() - length + 1), length);
				if (random() % 2 == 0)
					pattern[random() % length] = char16_t(u'a' + random() % shape.alphabet);
			}
			else
			{
				pattern.assign(length, u'a');
				for (char16_t& c : pattern)
					c = char16_t(u'a' + random() % shape.alphabet);
			}
			const int32 start = int32(random() % 4 == 0 ? random() % (text.size() + 3) : 1);
			ASSERT_EQ(Make(text).FindRawString(Make(pattern), start), NaiveFind(text, pattern, start))
				<< "text " << text.size() << " pattern " << pattern.size() << " start " << start;
		}
	}
}

TEST(VStringSearchTest, FindRawStringInPeriodicText)
{
	// Long runs of one unit followed by a mismatch at the very end stress the failure table.
	for (int32 length : {2, 255, 256, 257, 1000})
	{
		std::u16string text(4000, u'a');
		text[3000] = u'b';
		std::u16string pattern(size_t(length - 1), u'a');
		pattern += u'b';
		EXPECT_EQ(Make(text).FindRawString(Make(pattern), 1), 3000 - length + 2) << length;
		std::u16string absent(size_t(length), u'a');
		absent[size_t(length) / 2] = u'b';
		absent += u'b';
		EXPECT_EQ(Make(text).FindRawString(Make(absent), 1), NaiveFind(text, absent, 1)) << length;
		std::u16string pairs;
		while (pairs.size() < 3000)
			pairs += u"ab";
		const std::u16string periodic = pairs.substr(0, size_t(length)) + u"c";
		EXPECT_EQ(Make(pairs + periodic).FindRawString(Make(periodic), 1), int32(pairs.size()) + 1) << length;
	}
}

TEST(VStringSearchTest, FindUniChar)
{
	const VString s(u"abcabc");
	struct Row
	{
		int32 start;
		bool backward;
		UniChar unit;
		int32 found;
	};
	const Row rows[] = {
		{1, false, u'c', 3}, {4, false, u'c', 6}, {-5, false, u'a', 1}, {7, false, u'a', 0},
		{6, true, u'b', 5}, {4, true, u'b', 2}, {1, true, u'b', 0}, {0, true, u'a', 1}, {2, false, u'x', 0},
	};
	for (const Row& r : rows)
		EXPECT_EQ(s.FindUniChar(r.unit, r.start, r.backward), r.found) << r.start << (r.backward ? " back" : "");
	EXPECT_EQ(VString().FindUniChar(0, 1, false), 0);
}

TEST(VStringSearchTest, RawComparisons)
{
	EXPECT_EQ(VString(u"ab").CompareToStringRaw(VString(u"abc")), CR_SMALLER);
	EXPECT_EQ(VString(u"abd").CompareToStringRaw(VString(u"abc")), CR_BIGGER);
	EXPECT_EQ(VString(u"\xFFFF").CompareToStringRaw(VString(u"a")), CR_BIGGER);  // units compare unsigned
	EXPECT_EQ(VString(u"ABC").CompareToStringRaw(VString(u"abc")), CR_SMALLER);
	EXPECT_EQ(VString(u"ABC").CompareToStringRawCase(VString(u"abc")), CR_EQUAL);
	EXPECT_EQ(VString(u"[").CompareToStringRawCase(VString(u"a")), CR_SMALLER);  // only letters fold
	EXPECT_EQ(VString(u"Z").CompareToStringRawCase(VString(u"a")), CR_BIGGER);
	EXPECT_EQ(VString(u"\u00C9").CompareToStringRawCase(VString(u"\u00E9")), CR_SMALLER);
	EXPECT_EQ(VString().CompareToStringRaw(VString(true)), CR_EQUAL);

	EXPECT_TRUE(VString(u"abc").BeginsWithRawString(VString(u"ab")));
	EXPECT_TRUE(VString(u"abc").BeginsWithRawString(VString()));
	EXPECT_FALSE(VString(u"abc").BeginsWithRawString(VString(u"abcd")));
	EXPECT_TRUE(VString(u"abc").EndsWithRawString(VString(u"bc")));
	EXPECT_FALSE(VString(u"abc").EndsWithRawString(VString(u"Bc")));
	EXPECT_TRUE(VString(u"abc").EndsWithRawString(VString()));
	EXPECT_FALSE(VString(u"bc").EndsWithRawString(VString(u"abc")));

	struct Row
	{
		const char16_t* text;
		const char* ascii;
		bool equal;
	};
	const Row rows[] = {
		{u"abc", "abc", true},     {u"abc", "ab", false},      {u"ab", "abc", false}, {u"", "", true},
		{u"", nullptr, true},       {u"\u00E9", "\xE9", false},  {u"aBc", "abc", false},
	};
	for (const Row& r : rows)
		EXPECT_EQ(VString(r.text).EqualToUSASCIICString(r.ascii), r.equal) << (r.ascii ? r.ascii : "(null)");
}

size_t LongestCommonSubsequence(const std::u16string& a, const std::u16string& b)
{
	std::vector<std::vector<size_t>> table(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
	for (size_t i = a.size(); i-- > 0;)
	{
		for (size_t j = b.size(); j-- > 0;)
			table[i][j] = (a[i] == b[j]) ? table[i + 1][j + 1] + 1 : std::max(table[i + 1][j], table[i][j + 1]);
	}
	return table[0][0];
}

TEST(VStringSearchTest, SimilarToString)
{
	EXPECT_DOUBLE_EQ(VString(u"abc").SimilarToString(VString(u"axc")), 2.0 / 3.0);
	EXPECT_DOUBLE_EQ(VString(u"abc").SimilarToString(VString(u"cba")), 1.0 / 3.0);
	EXPECT_DOUBLE_EQ(VString(u"ab").SimilarToString(VString(u"xxaxxbxx")), 1.0);
	EXPECT_DOUBLE_EQ(VString(u"abc").SimilarToString(VString()), 0.0);
	EXPECT_DOUBLE_EQ(VString().SimilarToString(VString(u"abc")), 0.0);
	std::mt19937 random(5);
	for (int i = 0; i < 200; ++i)
	{
		std::u16string a(1 + random() % 20, u'a');
		std::u16string b(1 + random() % 20, u'a');
		for (char16_t& c : a)
			c = char16_t(u'a' + random() % 3);
		for (char16_t& c : b)
			c = char16_t(u'a' + random() % 3);
		EXPECT_DOUBLE_EQ(Make(a).SimilarToString(Make(b)), double(LongestCommonSubsequence(a, b)) / double(a.size()));
	}
}

}  // namespace
}  // namespace velk
