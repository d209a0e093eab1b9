// Splitting at a unit into a vector and into a string array: empty pieces, trimming, separators at the ends,
// empty and null strings, and what was in the output before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "containers/VArrayString.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

struct Case
{
	const char16_t* text;
	char16_t separator;
	bool keepEmpty;
	bool trimBlanks;
	std::vector<std::u16string> pieces;
	bool found;
};

const Case kCases[] = {
	{ u"a,,b,", u',', false, false, { u"a", u"b" }, true },
	{ u"a,,b,", u',', true, false, { u"a", u"", u"b", u"" }, true },
	{ u"abc", u',', false, false, { u"abc" }, false },
	{ u"abc", u',', true, true, { u"abc" }, false },
	{ u"", u',', true, false, { u"" }, false },
	{ u"", u',', false, false, {}, false },
	{ u",", u',', true, false, { u"", u"" }, true },
	{ u",", u',', false, false, {}, true },
	{ u",a", u',', true, false, { u"", u"a" }, true },
	{ u" a , b ,  ", u',', true, true, { u"a", u"b", u"" }, true },
	{ u" a , b ,  ", u',', false, true, { u"a", u"b" }, true },
	{ u" a , b ,  ", u',', false, false, { u" a ", u" b ", u"  " }, true },
	// Only U+0020 is trimmed.
	{ u"\ta\t: b\u00A0", u':', false, true, { u"\ta\t", u"b\u00A0" }, true },
	{ u"1:00:00", u':', true, true, { u"1", u"00", u"00" }, true },
	// Units are matched exactly: no folding of case or accents.
	{ u"aEbe\u00E9c", u'e', false, false, { u"aEb", u"\u00E9c" }, true },
	// A lone surrogate unit is a separator like any other.
	{ u"x\U0001F600y", char16_t(0xD83D), true, false, { u"x", u"\xDE00y" }, true },
	{ u"  ", u' ', true, false, { u"", u"", u"" }, true },
};

TEST(VStringSplittingTest, SplitsIntoAVector)
{
	for (const Case& c : kCases)
	{
		SCOPED_TRACE(testing::Message() << "case " << (&c - kCases));
		std::vector<VString> out { VString("left over") };
		EXPECT_EQ(VString(c.text).GetSubStrings(c.separator, out, c.keepEmpty, c.trimBlanks), c.found);
		std::vector<std::u16string> pieces;
		for (const VString& piece : out)
		{
			EXPECT_FALSE(piece.IsNull());
			pieces.push_back(Units(piece));
		}
		EXPECT_EQ(pieces, c.pieces);
	}
}

TEST(VStringSplittingTest, SplitsIntoAStringArray)
{
	for (const Case& c : kCases)
	{
		SCOPED_TRACE(testing::Message() << "case " << (&c - kCases));
		VArrayString out;
		out.AppendString(VString("left over"));
		EXPECT_EQ(VString(c.text).GetSubStrings(c.separator, out, c.keepEmpty, c.trimBlanks), c.found);
		std::vector<std::u16string> pieces;
		for (int32 pos = 1; pos <= out.GetCount(); ++pos)
		{
			VString piece;
			out.GetString(piece, pos);
			pieces.push_back(Units(piece));
		}
		EXPECT_EQ(pieces, c.pieces);
	}
}

TEST(VStringSplittingTest, NullStringGivesItselfOnlyWhenEmptyPiecesAreKept)
{
	const VString null(true);
	std::vector<VString> out;
	EXPECT_FALSE(null.GetSubStrings(u',', out, true, false));
	ASSERT_EQ(out.size(), 1u);
	EXPECT_TRUE(out[0].IsNull());
	EXPECT_FALSE(null.GetSubStrings(u',', out, false, true));
	EXPECT_TRUE(out.empty());

	VArrayString array;
	EXPECT_FALSE(null.GetSubStrings(u',', array, false, false));
	EXPECT_EQ(array.GetCount(), 0);
}

TEST(VStringSplittingTest, LongTextOnTheHeap)
{
	// Many pieces from a string whose buffer lives on the heap; each piece owns its text.
	VString text;
	for (int32 i = 0; i < 500; ++i)
	{
		text.AppendLong(i);
		text.AppendUniChar(u';');
	}
	std::vector<VString> out;
	EXPECT_TRUE(text.GetSubStrings(u';', out, false, false));
	ASSERT_EQ(out.size(), 500u);
	text.Clear();
	for (int32 i = 0; i < 500; i += 97)
	{
		VString expected;
		expected.AppendLong(i);
		EXPECT_TRUE(out[size_t(i)].EqualToStringRaw(expected));
	}
}

// Short of memory the split stops where it failed: it answers false and keeps, in order, the pieces made
// before; no exception leaves it. Every allocation of operator new on the way is refused in turn: the
// vector's growth, and the string objects of the array's elements.
TEST(VStringSplittingTest, ShortageOfMemoryStopsTheSplit)
{
	VString text;
	std::vector<VString> expected;
	for (int32 i = 0; i < 40; ++i)
	{
		VString piece(u"piece ");
		piece.AppendLong(i);
		text.AppendUniChars(piece.GetCPointer(), piece.GetLength()).AppendUniChar(u',');
		expected.push_back(piece);
	}

	struct Tally
	{
		bool consistent = true;  // out is a prefix of the pieces, whole exactly when the answer is true
		long stopped = 0;
		long whole = 0;
	};
	auto check = [&expected](Tally& tally, bool found, size_t count, const auto& pieceAt) {
		bool prefix = count <= expected.size();
		for (size_t i = 0; prefix && i < count; ++i)
			prefix = pieceAt(i).EqualToStringRaw(expected[i]);
		tally.consistent = tally.consistent && prefix && found == (count == expected.size());
		++(found ? tally.whole : tally.stopped);
	};

	Tally vectorTally;
	const long vectorRuns = test::ForEachAllocationFailure([&](long) {
		std::vector<VString> out;
		const bool found = text.GetSubStrings(u',', out, false, false);
		check(vectorTally, found, out.size(), [&out](size_t i) -> const VString& { return out[i]; });
	});
	EXPECT_TRUE(vectorTally.consistent);
	EXPECT_GT(vectorTally.stopped, 0);
	EXPECT_EQ(vectorTally.whole, 1);
	EXPECT_GT(vectorRuns, 1);

	Tally arrayTally;
	const long arrayRuns = test::ForEachAllocationFailure([&](long) {
		VArrayString out;
		const bool found = text.GetSubStrings(u',', out, false, false);
		VString piece;
		check(arrayTally, found, size_t(out.GetCount()), [&out, &piece](size_t i) -> const VString& {
			out.GetString(piece, int32(i) + 1);
			return piece;
		});
	});
	EXPECT_TRUE(arrayTally.consistent);
	EXPECT_GT(arrayTally.stopped, 0);
	EXPECT_EQ(arrayTally.whole, 1);
	EXPECT_GT(arrayRuns, 1);
	VTask::FlushErrors();
}

// Pieces whose buffers the memory manager refuses: velk 107 and false, into a vector or an array alike.
TEST(VStringSplittingTest, RefusedPieceRaisesAndAnswersFalse)
{
	const VString text(u"a,b");
	std::vector<VString> pieces;
	VArrayString array;
	bool intoVector = true;
	bool intoArray = true;
	VError vectorError = VE_OK;
	VError arrayError = VE_OK;

	VTask::FlushErrors();
	VCppMemMgr* previous = VObject::sCppMemMgr;
	// A manager with no backend refuses every block.
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	intoVector = text.GetSubStrings(u',', pieces, false, false);
	vectorError = VTask::GetLastError();
	VTask::FlushErrors();
	intoArray = text.GetSubStrings(u',', array, false, false);
	arrayError = VTask::GetLastError();
	VTask::FlushErrors();
	VObject::sCppMemMgr = previous;
	delete refusing;

	EXPECT_FALSE(intoVector);
	EXPECT_EQ(vectorError, VE_STRING_ALLOC_FAILED);
	EXPECT_TRUE(pieces.empty());
	EXPECT_FALSE(intoArray);
	EXPECT_EQ(arrayError, VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(array.GetCount(), 0);
}

}  // namespace
}  // namespace velk
