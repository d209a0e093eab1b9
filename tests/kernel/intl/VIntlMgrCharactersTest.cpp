// Character classes, the word scanner, word and string searches, bidirectional runs and Mac byte classes
// of the international manager.
#include "kernel/intl/VIntlMgr.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "kernel/memory/VMemory.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"

namespace velk {
namespace {

using Ranges = std::vector<std::pair<int32, int32>>;

VString Text(const std::u16string& text)
{
	return VString(text.data(), int32(text.size()));
}

class VIntlMgrCharactersTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		fIntl = VIntlMgr::Create(1033, 1033, 1);
		ASSERT_NE(fIntl, nullptr);
	}
	void TearDown() override
	{
		if (fIntl != nullptr)
			fIntl->Release();
	}

	VIntlMgr* fIntl = nullptr;
};

// Membership by a plain walk over every range, to hold the pivoted lookup against.
bool InTableByWalk(const uint16* table, UniChar c)
{
	for (int32 i = 0; i < table[0]; ++i)
	{
		if (c >= table[2 + 2 * i] && c <= table[3 + 2 * i])
			return true;
	}
	return false;
}

TEST_F(VIntlMgrCharactersTest, ClassesAtRangeEdgesAndPivots)
{
	struct Row
	{
		UniChar c;
		bool alpha, digit, punctuation, space;
	};
	const Row rows[] = {
		{0x0009, false, false, false, false}, {0x0020, false, false, false, true}, {0x0024, false, false, false, false},
		{0x003F, false, false, true, false}, {0x00B2, false, true, false, false}, {0x0100, true, false, false, false},
		{0x0C8D, false, false, false, false}, {0x0C8E, true, false, false, false}, {0x0D66, false, true, false, false},
		{0x0E5A, false, false, true, false}, {0x200B, false, false, false, true}, {0x200C, false, false, false, false},
		{0x4E00, true, false, false, false}, {0x4E01, false, false, false, false}, {0x9FA5, true, false, false, false},
		{0xAC01, false, false, false, false}, {0xFF21, true, false, false, false}, {0xFFFF, false, false, false, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << std::hex << "U+" << int(row.c));
		EXPECT_EQ(fIntl->IsAlpha(row.c), row.alpha);
		EXPECT_EQ(fIntl->IsDigit(row.c), row.digit);
		EXPECT_EQ(fIntl->IsPunctuation(row.c), row.punctuation);
		EXPECT_EQ(fIntl->IsSpace(row.c), row.space);
	}

	// Every range edge of every table, and the units just outside, as the plain walk answers.
	const struct
	{
		const uint16* table;
		int32 count;
		uint16 pivot;
	} tables[] = {{VIntlMgr::sLetterRanges, 202, 3214}, {VIntlMgr::sDigitRanges, 32, 3430},
		{VIntlMgr::sPunctuationRanges, 67, 3674}, {VIntlMgr::sSpaceRanges, 4, 160}};
	for (const auto& t : tables)
	{
		EXPECT_EQ(t.table[0], t.count);
		EXPECT_EQ(t.table[1], t.pivot);
		for (int32 i = 0; i < t.count; ++i)
		{
			for (int32 c : {t.table[2 + 2 * i] - 1, int32(t.table[2 + 2 * i]), int32(t.table[3 + 2 * i]), t.table[3 + 2 * i] + 1})
			{
				if (c >= 0 && c <= 0xFFFF)
				{
					EXPECT_EQ(VIntlMgr::_IsInRanges(t.table, UniChar(c)), InTableByWalk(t.table, UniChar(c))) << std::hex << c;
				}
			}
		}
	}

	EXPECT_EQ(fIntl->CharDigitValue(u'0'), 0);
	EXPECT_EQ(fIntl->CharDigitValue(u'7'), 7);
	EXPECT_EQ(fIntl->CharDigitValue(u'a'), -1);
	EXPECT_EQ(fIntl->CharDigitValue(0x0661), -1);  // an Arabic-Indic one: a digit, with no value here
}

TEST_F(VIntlMgrCharactersTest, RangeTableBuilderReproducesTheClassTables)
{
	std::vector<uint8> flags(0x10000, 0);
	for (int32 c = 0; c <= 0xFFFF; ++c)
	{
		const UniChar u = UniChar(c);
		flags[size_t(c)] = uint8((fIntl->IsSpace(u) ? VIntlMgr::kCLASS_SPACE : 0) | (fIntl->IsDigit(u) ? VIntlMgr::kCLASS_DIGIT : 0)
			| (fIntl->IsPunctuation(u) ? VIntlMgr::kCLASS_PUNCTUATION : 0) | (fIntl->IsAlpha(u) ? VIntlMgr::kCLASS_LETTER : 0));
	}
	const struct
	{
		uint8 mask;
		const uint16* table;
	} cases[] = {{VIntlMgr::kCLASS_LETTER, VIntlMgr::sLetterRanges}, {VIntlMgr::kCLASS_DIGIT, VIntlMgr::sDigitRanges},
		{VIntlMgr::kCLASS_PUNCTUATION, VIntlMgr::sPunctuationRanges}, {VIntlMgr::kCLASS_SPACE, VIntlMgr::sSpaceRanges}};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(int(c.mask));
		// The constant ranges, with touching ones joined (the letters' 03D0-03FF and 0400-0482 make one run).
		Ranges expected;
		uint64 sumOfStarts = 0;
		for (int32 i = 0; i < c.table[0]; ++i)
		{
			const int32 first = c.table[2 + 2 * i];
			const int32 last = c.table[3 + 2 * i];
			if (!expected.empty() && expected.back().second + 1 == first)
				expected.back().second = last;
			else
				expected.emplace_back(first, last);
		}
		for (const auto& r : expected)
			sumOfStarts += uint64(r.first);

		uint16* built = VIntlMgr::_FillOneRangesArray(flags.data(), c.mask);
		ASSERT_NE(built, nullptr);
		Ranges got;
		for (int32 i = 0; i < built[0]; ++i)
			got.emplace_back(built[2 + 2 * i], built[3 + 2 * i]);
		EXPECT_EQ(got, expected);
		EXPECT_EQ(built[1], sumOfStarts / expected.size());
		for (int32 u = 0; u <= 0xFFFF; ++u)
			ASSERT_EQ(VIntlMgr::_IsInRanges(built, UniChar(u)), VIntlMgr::_IsInRanges(c.table, UniChar(u))) << std::hex << u;
		VMemory::DisposePtr(built);
	}

	uint16* none = VIntlMgr::_FillOneRangesArray(flags.data(), 0);
	ASSERT_NE(none, nullptr);
	EXPECT_EQ(none[0], 0);
	EXPECT_FALSE(VIntlMgr::_IsInRanges(none, u'a'));
	VMemory::DisposePtr(none);
}

TEST_F(VIntlMgrCharactersTest, WordScannerAndDotSplitting)
{
	const struct
	{
		std::u16string text;
		uint32 options;
		Ranges words;
		bool result;
	} scans[] = {
		{u"l'amico \u00E8 qui", 1, {{1, 1}, {3, 5}, {9, 1}, {11, 3}}, true},
		{u"l'amico \u00E8 qui", 2, {}, false},
		{u"", 0, {}, true},
		{u"  x2.y\u0001z  ", 1, {{3, 2}, {6, 1}, {8, 1}}, true},
		{u"\u4E00\u4E01\u4E00", 1, {{1, 1}, {3, 1}}, true},
	};
	for (const auto& s : scans)
	{
		SCOPED_TRACE(testing::Message() << "row " << (&s - scans));
		Ranges words = {{99, 99}};
		EXPECT_EQ(fIntl->GetWordBoundariesWithOptions(Text(s.text), words, s.options), s.result);
		EXPECT_EQ(words, s.words);
	}

	const struct
	{
		std::u16string text;
		int32 pos;
		size_t length;
		bool keepDots;
		Ranges pieces;
		bool result;
	} splits[] = {
		{u"ab.cd", 1, 5, true, {{1, 2}, {3, 1}, {4, 2}}, true},
		{u"ab.cd", 1, 5, false, {{1, 2}, {4, 2}}, true},
		{u"abc", 1, 3, true, {}, false},
		{u"a..b.", 1, 5, false, {{1, 1}, {4, 1}}, true},
		{u"x.ab.cd", 3, 5, true, {{3, 2}, {5, 1}, {6, 2}}, true},
		{u"ab.c", 3, 100, false, {{4, 1}}, true},  // the range is cut at the text's end
		{u"ab.c", 9, 2, true, {}, false},
	};
	for (const auto& s : splits)
	{
		SCOPED_TRACE(testing::Message() << s.pos << "," << s.length << "," << s.keepDots);
		Ranges pieces = {{7, 7}};  // appended to, not replaced
		EXPECT_EQ(fIntl->_SplitWordRangeOnDot(Text(s.text), s.pos, s.length, pieces, s.keepDots), s.result);
		Ranges expected = {{7, 7}};
		expected.insert(expected.end(), s.pieces.begin(), s.pieces.end());
		EXPECT_EQ(pieces, expected);
	}
}

TEST_F(VIntlMgrCharactersTest, ElisionTestStaysInsideTheText)
{
	const struct
	{
		std::u16string text;
		int32 pos;
		int32 length;
		bool expected;
	} cases[] = {
		{u"l'amico", 1, 7, true},      {u"L'HOTEL", 1, 7, true},        {u"l\u2019eau", 1, 5, true},
		{u"xl'ya", 2, 4, true},        {u"l'bcd", 1, 5, false},         {u"l'\u00E9t\u00E9", 1, 5, false},
		{u"la'mi", 1, 5, false},       {u"l'a", 1, 3, false},           {u"l'am", 1, 5, false},
		{u"l'am", 0, 4, false},        {u"ab", 3, 4, false},            {u"l'am", 1, INT_MAX, false},
		{u"l'am", INT_MAX, 4, false},  {u"", 1, 4, false},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(testing::Message() << c.pos << "," << c.length);
		EXPECT_EQ(fIntl->_HasApostropheSecondFollowedByVowel(Text(c.text), c.pos, c.length), c.expected);
	}
}

TEST_F(VIntlMgrCharactersTest, FindWordNeedsWordEdges)
{
	const struct
	{
		std::u16string text;
		std::u16string word;
		bool like;
		bool diacritical;
		bool expected;
	} cases[] = {
		{u"a cat", u"cat", false, false, true},
		{u"concatenate", u"cat", false, false, false},
		{u"cats scat, cat.", u"cat", false, false, true},
		{u"cats scat", u"cat", false, false, false},
		{u"A CAT", u"cat", false, false, true},
		{u"A CAT", u"cat", false, true, false},
		{u"a cot here", u"c@t", true, false, true},
		{u"a cot here", u"c@t", false, false, false},
		{u"a coat", u"c@t", true, false, true},
		{u"cat", u"", false, false, false},
	};
	VCompareOptions options;
	for (const auto& c : cases)
	{
		SCOPED_TRACE(testing::Message() << "row " << (&c - cases));
		options.SetLike(c.like);
		options.SetDiacritical(c.diacritical);
		EXPECT_EQ(fIntl->FindWord(Text(c.text), Text(c.word), options), c.expected);
	}
}

TEST_F(VIntlMgrCharactersTest, FindStringsByMode)
{
	const struct
	{
		std::u16string text;
		int32 mode;
		bool all;
		Ranges found;
	} cases[] = {
		{u"the cat scattered", 3, true, {{5, 3}}},
		{u"the cat scattered", 4, true, {{5, 3}, {10, 3}}},
		{u"the cat scattered", 5, true, {{5, 3}}},
		{u"the cat scattered", 6, true, {{5, 3}}},
		{u"the cat scattered", 0, true, {{5, 3}, {10, 3}}},
		{u"the cat scattered", 4, false, {{5, 3}}},
		{u"scattered cat", 3, false, {{11, 3}}},  // a rejected match does not stop the search
		{u"concat cats", 3, true, {}},
		{u"concat cats", 5, true, {{8, 3}}},
		{u"concat cats", 6, true, {{4, 3}}},
		{u"catcatcat", 4, true, {{1, 3}, {4, 3}, {7, 3}}},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(testing::Message() << "mode " << c.mode << " all " << c.all);
		Ranges found = {{99, 99}};
		fIntl->FindStrings(Text(c.text), VString("cat"), EFindStringMode(c.mode), true, found, c.all);
		EXPECT_EQ(found, c.found);
	}
	Ranges found = {{99, 99}};
	fIntl->FindStrings(VString("cat"), VString(), eFSM_ANYWHERE, true, found, true);
	EXPECT_TRUE(found.empty());

	// A pattern the collation ignores whole (soft hyphens) is an empty one: it finds nothing.
	for (const bool all : {true, false})
	{
		found = {{99, 99}};
		fIntl->FindStrings(VString("a\u00ADbc"), VString(u"\u00AD\u00AD"), eFSM_ANYWHERE, true, found, all);
		EXPECT_TRUE(found.empty());
	}
}

TEST_F(VIntlMgrCharactersTest, BidiRunsAndLogicalToVisual)
{
	const struct
	{
		std::u16string text;
		int32 direction;
		bool ignoreCR;
		int32 runLength;
	} cases[] = {
		{u"abc\r", 0, true, 3}, {u"abc\r", 0, false, 4}, {u"abc\r", 1, true, 3},
		{u"abc", 3, true, 3},   {u"\r", 0, true, 0},     {u"", 1, false, 0},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(testing::Message() << c.runLength << "," << c.direction << "," << c.ignoreCR);
		std::vector<VBidiRun> runs(2);
		std::vector<int32> levels = {5, 6};
		const bool rightToLeft = (c.direction & 1) != 0;
		EXPECT_EQ(fIntl->GetBidiRuns(c.text.data(), int32(c.text.size()), runs, levels, c.direction, c.ignoreCR), rightToLeft);
		ASSERT_EQ(runs.size(), 1u);
		EXPECT_EQ(runs[0].fStart, 0);
		EXPECT_EQ(runs[0].fLength, c.runLength);
		EXPECT_EQ(runs[0].fRightToLeft, rightToLeft);
		EXPECT_EQ(levels, std::vector<int32>{0});
	}

	for (const auto& [text, expected] : std::vector<std::pair<std::u16string, bool>>{{u"", true}, {u"\r", true}, {u"a", false}, {u"\r\r", false}})
	{
		VString s = Text(text);
		EXPECT_EQ(fIntl->TextLogicalToVisual(s, 1), expected);
		EXPECT_TRUE(s.EqualToStringRaw(Text(text)));
	}
}

TEST(VIntlMgrCharacters, MacByteClasses)
{
	// One bit per kind 0-5: printable, identifier part, identifier start, ASCII part, ASCII start, digit.
	const struct
	{
		uint8 byte;
		uint8 kinds;
	} rows[] = {
		{'\t', 0x01}, {'\r', 0x01}, {'\n', 0x00}, {0x1F, 0x00}, {' ', 0x01}, {0x7F, 0x00}, {'$', 0x01},
		{'0', 0x2B},  {'9', 0x2B},  {'A', 0x1F},  {'z', 0x1F},  {'_', 0x1F}, {0x80, 0x07}, {0x9F, 0x07},
		{0xA0, 0x01}, {0xAE, 0x07}, {0xBE, 0x07}, {0xCF, 0x07}, {0xD0, 0x01}, {0xFF, 0x01},
	};
	for (const auto& row : rows)
	{
		for (uint8 kind = 0; kind <= 6; ++kind)
			EXPECT_EQ(VIntlMgr::IsAMacCharacter(row.byte, kind), ((row.kinds >> kind) & 1) != 0) << int(row.byte) << " kind " << int(kind);
	}
}

}  // namespace
}  // namespace velk
