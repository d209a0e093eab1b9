// Splitting at a unit into a vector and into a string array: empty pieces, trimming, separators at the ends,
// empty and null strings, and what was in the output before; joining pieces back together; splitting at a
// string through the collator, and templates filled from JSON objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "containers/VArrayString.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
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

struct JoinCase
{
	std::vector<const char16_t*> pieces;  // null stands for a null string
	const char16_t* separator;
	const char16_t* joined;
};

const JoinCase kJoinCases[] = {
	{ { u"a", u"b", u"c" }, u"--", u"a--b--c" },
	{ { u"a" }, u"--", u"a" },
	{ { u"", u"" }, u",", u"," },
	{ { u"", u"x", u"" }, u", ", u", x, " },
	{ { u"a", u"b" }, u"", u"ab" },
	{ { u"a", nullptr, u"b" }, u"/", u"a//b" },
	{ { u"\U0001F600", u"\u00E9" }, u"\u2014", u"\U0001F600\u2014\u00E9" },
	{ { u"a long piece that does not fit any inline buffer", u"and another" }, u" | ",
		u"a long piece that does not fit any inline buffer | and another" },
};

std::vector<VString> Pieces(const JoinCase& c)
{
	std::vector<VString> pieces;
	for (const char16_t* piece : c.pieces)
		pieces.push_back(piece == nullptr ? VString(true) : VString(piece));
	return pieces;
}

TEST(VStringSplittingTest, JoinsPiecesWithASeparator)
{
	for (const JoinCase& c : kJoinCases)
	{
		SCOPED_TRACE(testing::Message() << "case " << (&c - kJoinCases));
		VString out("previous text");
		EXPECT_TRUE(out.Join(Pieces(c), VString(c.separator)));
		EXPECT_FALSE(out.IsNull());
		EXPECT_EQ(Units(out), c.joined);

		// Splitting the result at a one-unit separator, empty pieces kept, gives the pieces back.
		if (std::u16string(c.separator).size() == 1 && c.pieces.size() > 1)
		{
			VString unitJoined(true);
			EXPECT_TRUE(unitJoined.Join(Pieces(c), c.separator[0]));
			EXPECT_EQ(Units(unitJoined), c.joined);
			std::vector<VString> back;
			unitJoined.GetSubStrings(c.separator[0], back, true, false);
			ASSERT_EQ(back.size(), c.pieces.size());
			for (size_t i = 0; i < back.size(); ++i)
				EXPECT_EQ(Units(back[i]), std::u16string(c.pieces[i] == nullptr ? u"" : c.pieces[i]));
		}
	}
}

TEST(VStringSplittingTest, JoinOfNoPiecesClearsAndAPieceMayBeTheTarget)
{
	VString out("not empty");
	EXPECT_TRUE(out.Join({}, u','));
	EXPECT_TRUE(out.IsEmpty());
	VString null(true);
	EXPECT_TRUE(null.Join({}, VString("--")));
	EXPECT_FALSE(null.IsNull());
	EXPECT_TRUE(null.IsEmpty());

	// The target read as its own pieces and separator, on the inline buffer and on the heap.
	for (const char16_t* start : { u"ab", u"a text long enough to live in a buffer on the heap" })
	{
		VString self(start);
		const std::u16string text(start);
		EXPECT_TRUE(self.Join({ self, VString(u"+"), self }, self));
		EXPECT_EQ(Units(self), text + text + u"+" + text + text);
	}
}

// A text that would reach 0x7FFFFFFF units, counting pieces and separators, and a buffer the memory
// manager refuses: velk 107, false, and the string as it was.
TEST(VStringSplittingTest, JoinThatCannotBeMadeLeavesTheString)
{
	VString big;
	ASSERT_NE(big.GetCPointerForWrite(1 << 20), nullptr);
	ASSERT_TRUE(big.Validate(1 << 20));
	// Copies share one buffer: 2048 pieces of 2^20 units, the last one unit short, are 0x7FFFFFFF units.
	std::vector<VString> bigPieces(2048, big);
	bigPieces.back().Truncate((1 << 20) - 1);
	// 2049 empty pieces with the big text between them: 2^31 units of separators alone.
	const std::vector<VString> emptyPieces(2049, VString());

	VString out("kept");
	VTask::FlushErrors();
	EXPECT_FALSE(out.Join(bigPieces, VString()));
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	VTask::FlushErrors();
	EXPECT_FALSE(out.Join(emptyPieces, big));
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	VTask::FlushErrors();
	EXPECT_EQ(Units(out), u"kept");

	const std::vector<VString> pieces { VString(u"a piece long enough for the heap"), VString(u"and one more") };
	VCppMemMgr* previous = VObject::sCppMemMgr;
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	const bool joined = out.Join(pieces, u' ');
	const VError error = VTask::GetLastError();
	VTask::FlushErrors();
	VObject::sCppMemMgr = previous;
	delete refusing;
	EXPECT_FALSE(joined);
	EXPECT_EQ(error, VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(Units(out), u"kept");
}

struct StringCase
{
	const char16_t* text;
	const char16_t* separator;
	bool keepEmpty;
	bool trimBlanks;
	bool diacritical;
	std::vector<std::u16string> pieces;
	bool found;
};

// The collator matches texts that differ in length: a precomposed "é" against "e" and a combining acute.
const StringCase kStringCases[] = {
	{ u"a--b--", u"--", false, false, true, { u"a", u"b" }, true },
	{ u"a--b--", u"--", true, false, true, { u"a", u"b", u"" }, true },
	{ u"----a", u"--", true, false, true, { u"", u"", u"a" }, true },
	{ u"x = 1 ; y = 2", u";", false, true, true, { u"x = 1", u"y = 2" }, true },
	{ u" ; ", u";", true, true, true, { u"", u"" }, true },
	{ u"abc", u";", true, false, true, { u"abc" }, false },
	{ u"", u";", true, false, true, {}, false },
	{ u"abc", u"", false, false, true, { u"abc" }, false },
	{ u"aXbxc", u"x", false, false, false, { u"a", u"b", u"c" }, true },
	{ u"aXbxc", u"x", false, false, true, { u"aXb", u"c" }, true },
	{ u"a\u00E9b\u00E9c", u"e\u0301", false, false, false, { u"a", u"b", u"c" }, true },
	{ u"a\u00E9b\u00E9c", u"e\u0301", true, false, true, { u"a", u"b", u"c" }, true },
	{ u"ae\u0301be\u0301", u"\u00E9", true, false, true, { u"a", u"b", u"" }, true },
	{ u"a\u00E9bec", u"e", false, false, false, { u"a", u"b", u"c" }, true },
	{ u"a\u00E9bec", u"e", false, false, true, { u"a\u00E9b", u"c" }, true },
	// A soft hyphen is ignorable: the collator matches it with length 0 before every unit.
	{ u"abc", u"\u00AD", true, false, true, { u"a", u"b", u"c" }, true },
	{ u"a", u"\u00AD", true, false, false, { u"a" }, false },
};

TEST(VStringSplittingTest, SplitsAtAStringThroughTheCollator)
{
	for (const StringCase& c : kStringCases)
	{
		SCOPED_TRACE(testing::Message() << "case " << (&c - kStringCases));
		std::vector<VString> out { VString("left over") };
		EXPECT_EQ(VString(c.text).GetSubStrings(VString(c.separator), out, c.keepEmpty, c.trimBlanks, c.diacritical), c.found);
		std::vector<std::u16string> pieces;
		for (const VString& piece : out)
			pieces.push_back(Units(piece));
		EXPECT_EQ(pieces, c.pieces);
	}
	std::vector<VString> out;
	EXPECT_FALSE(VString(u"abc").GetSubStrings(VString(true), out, false, false, true));
	ASSERT_EQ(out.size(), 1u);
	EXPECT_EQ(Units(out[0]), u"abc");
}

TEST(VStringSplittingTest, FormatWithTemplate)
{
	VJSONValue json;
	ASSERT_EQ(VJSONImporter::ParseString(VString(R"({"user": {"name": "Ann"}, "n": 3, "none": null, "list": [1, 2]})"), json, 0), VE_OK);
	const VJSONObject* object = json.GetObject();
	ASSERT_NE(object, nullptr);
	struct Row
	{
		const char16_t* text;
		bool withObject;
		const char16_t* expected;
	};
	const Row rows[] = {
		{ u"Hi {{user.name}}!", true, u"Hi Ann!" },
		{ u"{{missing}}x", true, u"x" },
		{ u"a}}b", false, u"b" },
		{ u"{{n}}/{{none}}/{{list[1]}}", true, u"3//2" },
		{ u"{{n}}}}x}}y", true, u"3xy" },
		{ u"no placeholder {here}", true, u"no placeholder {here}" },
		{ u"open {{ and }}", true, u"open " },
		{ u"{{user.name}}", false, u"" },
		{ u"", true, u"" },
	};
	for (const Row& r : rows)
	{
		SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
		VString out("left over");
		VString(r.text).FormatWithTemplate(r.withObject ? object : nullptr, out);
		EXPECT_EQ(Units(out), r.expected);
		// The template may be filled into itself.
		VString self(r.text);
		self.FormatWithTemplate(r.withObject ? object : nullptr, self);
		EXPECT_EQ(Units(self), r.expected);
	}
}

}  // namespace
}  // namespace velk
