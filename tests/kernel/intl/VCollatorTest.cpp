// The system collator: the guards for empty texts, case, accent and width under both strengths, searches and
// their matched lengths, the like algorithms and the like fast path.
#include "kernel/intl/VCollator_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

constexpr uint32 kENGLISH_US = 0x0409;
constexpr uint32 kGERMAN = 0x0407;
constexpr uint32 kSWEDISH = 0x041D;

using Text = std::u16string;

VRefPtr<VCollator> MakeCollator(uint32 inDialect = kENGLISH_US)
{
	VRefPtr<VCollator> collator(VCollator_system::Create(inDialect, nullptr), true);
	if (collator)
		collator->SetWildChar(u'*');
	return collator;
}

// A collator whose wild chars inside a like pattern are ordinary characters: the system collator's
// primitives under an options byte with the ignore-middle bit.
class VIgnoreMiddleCollator : public VCollator
{
public:
	explicit VIgnoreMiddleCollator(VRefPtr<VCollator> inInner) : VCollator(inInner->GetDialectCode()), fInner(std::move(inInner))
	{
		fOptions |= kOPTION_IGNORE_WILDCHAR_IN_MIDDLE;
		SetWildChar(u'*');
	}
	CompareResult CompareString(const UniChar* a, int32 na, const UniChar* b, int32 nb, bool d) const override { return fInner->CompareString(a, na, b, nb, d); }
	bool EqualString(const UniChar* a, int32 na, const UniChar* b, int32 nb, bool d) const override { return fInner->EqualString(a, na, b, nb, d); }
	int32 FindString(const UniChar* a, int32 na, const UniChar* b, int32 nb, bool d, int32* l) const override { return fInner->FindString(a, na, b, nb, d, l); }
	int32 ReversedFindString(const UniChar* a, int32 na, const UniChar* b, int32 nb, bool d, int32* l) const override { return fInner->ReversedFindString(a, na, b, nb, d, l); }
	VCollator* Clone() const override { return nullptr; }
	void GetStringComparisonAlgorithmSignature(VString& s) const override { fInner->GetStringComparisonAlgorithmSignature(s); }

private:
	VRefPtr<VCollator> fInner;
};

class VCollatorTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		fCollator = MakeCollator();
		ASSERT_TRUE(fCollator);
	}

	int32 Compare(const Text& a, const Text& b, bool d) const { return fCollator->CompareString(a.data(), int32(a.size()), b.data(), int32(b.size()), d); }
	int32 Find(const Text& t, const Text& p, bool d, int32* len) const { return fCollator->FindString(t.data(), int32(t.size()), p.data(), int32(p.size()), d, len); }
	int32 RFind(const Text& t, const Text& p, bool d, int32* len) const { return fCollator->ReversedFindString(t.data(), int32(t.size()), p.data(), int32(p.size()), d, len); }
	int32 Like(const VCollator& c, const Text& t, const Text& p, bool d = true) const { return c.CompareString_Like(t.data(), int32(t.size()), p.data(), int32(p.size()), d); }
	bool EqualLike(const VCollator& c, const Text& t, const Text& p, bool d) const { return c.EqualString_Like(t.data(), int32(t.size()), p.data(), int32(p.size()), d); }

	VRefPtr<VCollator> fCollator;
};

TEST_F(VCollatorTest, CaseAccentAndWidthUnderBothStrengths)
{
	// Every pair of "a", "A", "á", fullwidth "ａ", "b": which are equal with and without diacritics.
	const Text letters[] = {u"a", u"A", u"\u00E1", u"\uFF41", u"b"};
	const char* const equalWith[] = {"10010", "01000", "00100", "10010", "00001"};
	const char* const equalWithout[] = {"11110", "11110", "11110", "11110", "00001"};
	for (int i = 0; i < 5; ++i)
	{
		for (int j = 0; j < 5; ++j)
		{
			SCOPED_TRACE(testing::Message() << i << "," << j);
			const Text& a = letters[i];
			const Text& b = letters[j];
			EXPECT_EQ(equalWith[i][j] == '1', Compare(a, b, true) == 0);
			EXPECT_EQ(equalWithout[i][j] == '1', Compare(a, b, false) == 0);
			EXPECT_EQ(equalWith[i][j] == '1', fCollator->EqualString(a.data(), 1, b.data(), 1, true));
			EXPECT_EQ(equalWithout[i][j] == '1', fCollator->EqualString(a.data(), 1, b.data(), 1, false));
			EXPECT_EQ(-Compare(a, b, true), Compare(b, a, true));
			if (j == 4 && i != 4)
			{
				EXPECT_EQ(-1, Compare(a, b, true));
				EXPECT_EQ(-1, Compare(a, b, false));
			}
			// Searches follow the same strengths.
			const Text text = u"x" + a + u"x";
			EXPECT_EQ(equalWith[i][j] == '1' ? 2 : 0, Find(text, b, true, nullptr));
			EXPECT_EQ(equalWithout[i][j] == '1' ? 2 : 0, Find(text, b, false, nullptr));
		}
	}
}

TEST_F(VCollatorTest, EmptyTextsAndSearches)
{
	struct Row
	{
		Text fText;
		Text fPattern;
		int32 fCompare, fFind, fFindLength, fReversed, fReversedLength;
	};
	const Row rows[] = {
		{u"", u"", 0, 0, 0, 0, 0},
		{u"", u"a", -1, 0, 0, 0, 0},
		{u"abc", u"", 1, 1, 0, 1, 0},
		{u"aaa", u"aa", 1, 1, 2, 2, 2},  // overlapping matches: the last starts at 2
		{u"abab", u"ab", 1, 1, 2, 3, 2},
		{u"abc", u"x", -1, 0, 0, 0, 0},
		{u"xAax", u"aA", 1, 0, 0, 0, 0},
		{u"aAa", u"Aa", 1, 2, 2, 2, 2},  // the case-blind candidate at 1 overlaps the real match
		{u"caf\u00E9", u"e\u0301", -1, 4, 1, 4, 1},  // canonically equivalent, shorter match
		{u"cafe\u0301", u"\u00E9", -1, 4, 2, 4, 2},   // longer match
		// A pattern the collation ignores whole (soft hyphens) is searched as an empty one.
		{u"abc", u"\u00AD", 1, 1, 0, 1, 0},
		{u"a\u00ADb", u"\u00AD\u00AD", 1, 1, 0, 1, 0},
		{u"", u"\u00AD", -1, 0, 0, 0, 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.fText.begin(), row.fText.end()));
		EXPECT_EQ(row.fCompare, Compare(row.fText, row.fPattern, true));
		int32 length = -1;
		EXPECT_EQ(row.fFind, Find(row.fText, row.fPattern, true, &length));
		EXPECT_EQ(row.fFindLength, length);
		length = -1;
		EXPECT_EQ(row.fReversed, RFind(row.fText, row.fPattern, true, &length));
		EXPECT_EQ(row.fReversedLength, length);
	}
	// Without diacritics an accented letter is found by its base letter, whole.
	int32 length = 0;
	EXPECT_EQ(4, Find(u"caf\u00E9s", u"e", false, &length));
	EXPECT_EQ(1, length);
	EXPECT_EQ(4, Find(u"caf\u00E9s", u"E\u0301", false, &length));
	EXPECT_EQ(1, length);
	EXPECT_EQ(0, Find(u"caf\u00E9s", u"e", true, &length));
	// A base letter never matches the start of a combining sequence with diacritics; without, the whole
	// sequence is the match.
	EXPECT_EQ(0, Find(u"cafe\u0301s", u"e", true, &length));
	EXPECT_EQ(4, Find(u"cafe\u0301s", u"e", false, &length));
	EXPECT_EQ(2, length);
}

TEST_F(VCollatorTest, BeginsAndEndsWith)
{
	struct Row
	{
		Text fText;
		Text fPattern;
		bool fWithDiacritics, fBegins;
		int32 fBeginLength;
		bool fEnds;
		int32 fEndLength;
	};
	const Row rows[] = {
		{u"abc", u"", true, true, 0, true, 0},
		{u"", u"", true, true, 0, true, 0},
		{u"", u"a", true, false, 0, false, 0},
		{u"Abc", u"a", false, true, 1, false, 0},
		{u"Abc", u"a", true, false, 0, false, 0},
		{u"abcdcd", u"CD", false, false, 0, true, 2},
		{u"abcdx", u"cd", true, false, 0, false, 0},
		{u"\u00E9t\u00E9", u"e\u0301", true, true, 1, true, 1},
		{u"cafe\u0301", u"\u00C9", false, false, 0, true, 2},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.fText.begin(), row.fText.end()) + "/" + std::string(row.fPattern.begin(), row.fPattern.end()));
		int32 length = -1;
		EXPECT_EQ(row.fBegins, fCollator->BeginsWithString(row.fText.data(), int32(row.fText.size()), row.fPattern.data(), int32(row.fPattern.size()), row.fWithDiacritics, &length));
		EXPECT_EQ(row.fBeginLength, length);
		length = -1;
		EXPECT_EQ(row.fEnds, fCollator->EndsWithString(row.fText.data(), int32(row.fText.size()), row.fPattern.data(), int32(row.fPattern.size()), row.fWithDiacritics, &length));
		EXPECT_EQ(row.fEndLength, length);
	}
}

TEST_F(VCollatorTest, LikeWithWildCharsAnywhere)
{
	struct Row
	{
		Text fText;
		Text fPattern;
		bool fWithDiacritics;
		int32 fResult;
	};
	const Row rows[] = {
		{u"abcdef", u"a*d*f", true, 0},
		{u"abcdef", u"a*x*f", true, -1},
		{u"abc", u"*", true, 0},
		{u"", u"*", true, 0},
		{u"", u"**", true, 0},
		{u"abc", u"ab", true, 1},  // no wild char: plain comparison
		{u"abc", u"", true, 1},
		{u"", u"", true, 0},
		{u"abcdcd", u"*cd", true, 0},
		{u"abcdx", u"*cd", true, -1},
		{u"abc", u"abc*", true, 0},
		{u"ab", u"abc*", true, -1},
		{u"abd", u"abc*", true, 1},
		{u"ABCDEF", u"a**c*F", false, 0},
		{u"ABCDEF", u"a**c*F", true, 1},
		{u"r\u00E9sum\u00E9", u"re*me", false, 0},
		{u"r\u00E9sum\u00E9", u"re*me", true, 1},
		{u"aXbXc", u"*X*X*", true, 0},
		{u"aXbc", u"*X*X*", true, -1},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.fText.begin(), row.fText.end()) + " like " + std::string(row.fPattern.begin(), row.fPattern.end()));
		EXPECT_EQ(row.fResult, Like(*fCollator, row.fText, row.fPattern, row.fWithDiacritics));
	}
	// The wild char is the collator's: with the default one, "*" is an ordinary character.
	fCollator->Reset();
	EXPECT_EQ(VCollator::sDefaultWildChar, fCollator->GetWildChar());
	EXPECT_NE(0, Like(*fCollator, u"abcdef", u"a*d*f"));
	EXPECT_EQ(0, Like(*fCollator, u"abcdef", u"a@d@f"));
}

TEST_F(VCollatorTest, LikeWithWildCharsAtTheEndsOnly)
{
	const VIgnoreMiddleCollator collator(fCollator);
	struct Row
	{
		Text fText;
		Text fPattern;
		int32 fResult;
	};
	const Row rows[] = {
		{u"a*c", u"a*c", 0},
		{u"abc", u"a*c", 1},
		{u"abc", u"*b*", 0},
		{u"b", u"*b*", 0},
		{u"abcd", u"*x*", 1},  // not found, text longer than the whole pattern
		{u"abc", u"*x*", -1},  // not found, text not longer
		{u"", u"***", -1},
		{u"", u"*", 0},
		{u"xy", u"**", 0},
		{u"abc", u"ab*", 0},
		{u"abc", u"ac*", -1},
		{u"abc", u"*bc", 0},
		{u"abcd", u"*bc", 1},
		{u"bc", u"*bd", -1},
		{u"abc", u"abc", 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.fText.begin(), row.fText.end()) + " like " + std::string(row.fPattern.begin(), row.fPattern.end()));
		EXPECT_EQ(row.fResult, Like(collator, row.fText, row.fPattern));
		EXPECT_EQ(row.fResult == 0, EqualLike(collator, row.fText, row.fPattern, true));
	}
}

TEST_F(VCollatorTest, LikeFastPathAgreesWithTheGeneralPath)
{
	const VIgnoreMiddleCollator ignoreMiddle(fCollator);
	const Text pairs[][2] = {
		{u"Hello", u"HEL*"}, {u"Hello", u"hello"}, {u"Hello", u"Hello"}, {u"Hello", u"Help"}, {u"Hello", u"Hell"},
		{u"Hello", u"*llo"}, {u"Hello", u"H*o"}, {u"Hello", u"H*x"}, {u"abc", u""}, {u"", u""}, {u"", u"*"},
		{u"a-b", u"a_b"}, {u"a b", u"ab"}, {u"a1", u"A1"}, {u"tab\tx", u"tab\tX"}, {u"abc", u"abc**"},
		{u"a*c", u"a*c"}, {u"ABC", u"a*"}, {u"x", u"**x"}, {u"Zz", u"zZ"},
	};
	for (const auto& pair : pairs)
	{
		for (int way = 0; way < 2; ++way)
		{
			const Text& text = pair[way];
			const Text& pattern = pair[1 - way];
			for (const VCollator* collator : {static_cast<const VCollator*>(fCollator.Get()), static_cast<const VCollator*>(&ignoreMiddle)})
			{
				for (bool withDiacritics : {false, true})
				{
					SCOPED_TRACE(std::string(text.begin(), text.end()) + " like " + std::string(pattern.begin(), pattern.end()) + (withDiacritics ? " with" : " without"));
					EXPECT_EQ(Like(*collator, text, pattern, withDiacritics) == 0, EqualLike(*collator, text, pattern, withDiacritics));
				}
			}
		}
	}
	EXPECT_TRUE(EqualLike(*fCollator, u"Hello", u"HEL*", false));
	EXPECT_FALSE(EqualLike(*fCollator, u"Hello", u"HEL*", true));
	// Control characters are skipped in both texts; tab is not.
	EXPECT_TRUE(EqualLike(*fCollator, u"He\u0001llo", u"Hello", true));
	EXPECT_TRUE(EqualLike(*fCollator, u"Hello", u"Hel\u007Flo\u001F", true));
	EXPECT_FALSE(EqualLike(*fCollator, u"He\tllo", u"Hello", true));
	EXPECT_TRUE(EqualLike(*fCollator, u"\u0002", u"*\u0003", true));
	EXPECT_TRUE(EqualLike(*fCollator, u"\u00E9", u"\u00E9*\u0003\u007F", true));  // on the platform path too
	Text longText = u"\u00E9";
	for (int i = 0; i < 70; ++i)
		longText += u"b\u0001";
	EXPECT_TRUE(EqualLike(*fCollator, longText, u"\u00C9*b\u0005b", false));
	EXPECT_FALSE(EqualLike(*fCollator, longText, u"\u00C9*b\u0005c", false));
	// Past the fast path: non-ASCII characters go to the platform.
	EXPECT_TRUE(EqualLike(*fCollator, u"Cr\u00E8me", u"CREME", false));
	EXPECT_FALSE(EqualLike(*fCollator, u"Cr\u00E8me", u"Creme", true));
	EXPECT_TRUE(EqualLike(*fCollator, u"Cr\u00E8me br\u00FBl\u00E9e", u"cr*BRULEE", false));
}

TEST_F(VCollatorTest, PatternsAnOrderedIndexMayServe)
{
	const std::pair<Text, bool> rows[] = {
		{u"", true}, {u"abc", true}, {u"abc*", true}, {u"a*c", false}, {u"*abc", false}, {u"ab**", false},
		{u"\u304B*", false}, {u"\u30AB*", false}, {u"\uFF76*", false}, {u"\u4E00*", true}, {u"\u304B", true},
	};
	for (const auto& [pattern, compatible] : rows)
	{
		SCOPED_TRACE(std::string(pattern.begin(), pattern.end()));
		EXPECT_EQ(compatible, fCollator->IsPatternCompatibleWithDichotomyAndDiacritics(pattern.data(), int32(pattern.size())));
	}
}

TEST_F(VCollatorTest, DialectsCloneAndSignature)
{
	// The dialect's rules reach the comparison: "ä" sorts with "a" in German, after "z" in Swedish.
	const Text aUmlaut = u"\u00E4";
	const Text z = u"z";
	VRefPtr<VCollator> german = MakeCollator(kGERMAN);
	VRefPtr<VCollator> swedish = MakeCollator(kSWEDISH);
	ASSERT_TRUE(german && swedish);
	EXPECT_EQ(-1, german->CompareString(aUmlaut.data(), 1, z.data(), 1, true));
	EXPECT_EQ(1, swedish->CompareString(aUmlaut.data(), 1, z.data(), 1, true));

	swedish->SetWildChar(u'%');
	VRefPtr<VCollator> clone(swedish->Clone(), true);
	ASSERT_TRUE(clone);
	EXPECT_EQ(kSWEDISH, clone->GetDialectCode());
	EXPECT_EQ(u'%', clone->GetWildChar());
	EXPECT_EQ(swedish->GetOptions(), clone->GetOptions());
	EXPECT_EQ(1, clone->CompareString(aUmlaut.data(), 1, z.data(), 1, true));
	swedish = nullptr;  // the clone keeps its own locale
	EXPECT_EQ(1, clone->CompareString(aUmlaut.data(), 1, z.data(), 1, true));

	VString signature;
	fCollator->GetStringComparisonAlgorithmSignature(signature);
	const Text text(signature.GetCPointer(), size_t(signature.GetLength()));
	EXPECT_EQ(0u, text.rfind(u"system:", 0));
	EXPECT_GT(text.size(), 7u);
}

TEST_F(VCollatorTest, CreateWithAManagerUsesItsLocale)
{
	VRefPtr<VIntlMgr> manager(VIntlMgr::Create(kSWEDISH, kSWEDISH, 1), true);
	ASSERT_TRUE(manager);
	VRefPtr<VCollator> collator(VCollator_system::Create(kSWEDISH, manager.Get()), true);
	ASSERT_TRUE(collator);
	const Text aUmlaut = u"\u00E4";
	EXPECT_EQ(1, collator->CompareString(aUmlaut.data(), 1, u"z", 1, true));
}

TEST_F(VCollatorTest, CreateWhenMemoryIsShort)
{
	const Text a = u"\u00E1";
	const long runs = test::ForEachAllocationFailure([&](long) {
		VRefPtr<VCollator> collator(VCollator_system::Create(kGERMAN, nullptr), true);
		if (collator)
		{
			EXPECT_TRUE(collator->EqualString(a.data(), 1, u"A", 1, false));
			VRefPtr<VCollator> clone(collator->Clone(), true);
			if (clone)
			{
				EXPECT_FALSE(clone->EqualString(a.data(), 1, u"A", 1, true));
			}
		}
	});
	EXPECT_GT(runs, 1);
}

}  // namespace
}  // namespace velk
