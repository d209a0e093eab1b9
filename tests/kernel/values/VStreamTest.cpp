// Byte streams over a vector: the open/close state machine and its sticky error, signatures in both byte
// orders, typed data, progress, character-set guessing, and text read by lines and by counts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "containers/VArrayString.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/values/VVectorStream.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProgressIndicator.h"

namespace velk {
namespace {

using test::Units;
using test::VVectorStream;

std::string Repeat(const std::string& piece, int count)
{
	std::string out;
	for (int i = 0; i < count; ++i)
		out += piece;
	return out;
}

TEST(VStreamTest, StateMachineErrorsAreSticky)
{
	struct Row
	{
		const char* name;
		std::function<VError(VVectorStream&)> action;
		VError result;
		VError sticky;
	};
	const Row rows[] = {
		{"read while closed", [](VVectorStream& s) { uint8 b; return s.GetData(&b, 1); }, VE_STREAM_NOT_OPENED_FOR_READING,
		 VE_STREAM_NOT_OPENED_FOR_READING},
		{"open twice", [](VVectorStream& s) { s.OpenReading(); return s.OpenReading(); }, VE_STREAM_ALREADY_OPENED, VE_OK},
		{"open a write-only stream for reading", [](VVectorStream& s) { s.SetWriteOnly(true); return s.OpenReading(); },
		 VE_STREAM_NOT_OPENED_FOR_READING, VE_OK},
		{"open a read-only stream for writing", [](VVectorStream& s) { s.SetReadOnly(true); return s.OpenWriting(); },
		 VE_STREAM_NOT_OPENED_FOR_WRITING, VE_OK},
		{"write while reading, then a read",
		 [](VVectorStream& s) {
			 s.OpenReading();
			 s.PutByte(1);
			 uint8 b = 0;
			 return s.GetData(&b, 1);
		 },
		 VE_STREAM_NOT_OPENED_FOR_WRITING, VE_STREAM_NOT_OPENED_FOR_WRITING},
		{"read past the end, then again",
		 [](VVectorStream& s) {
			 s.OpenReading();
			 uint8 b[8];
			 s.GetData(b, 8);
			 s.SetPos(0);
			 return s.GetData(b, 1);
		 },
		 VE_STREAM_EOF, VE_STREAM_EOF},
		{"giving back the last bytes clears the end",
		 [](VVectorStream& s) {
			 s.OpenReading();
			 uint8 b[8] = {};
			 s.GetData(b, 8);
			 s.UngetData(b + 2, 2);
			 uint8 again[2] = {};
			 s.GetData(again, 2);
			 return again[0] == 3 && again[1] == 4 ? s.GetLastError() : VE_UNKNOWN_ERROR;
		 },
		 VE_OK, VE_OK},
		{"give back more than was read", [](VVectorStream& s) { s.OpenReading(); uint8 b = 0; return s.UngetData(&b, 1); },
		 VE_STREAM_CANNOT_UNGET_DATA, VE_STREAM_CANNOT_UNGET_DATA},
		{"offset before the start", [](VVectorStream& s) { s.OpenReading(); return s.SetPosByOffset(-1); }, VE_INVALID_PARAMETER,
		 VE_INVALID_PARAMETER},
		{"position while closed", [](VVectorStream& s) { return s.SetPos(1); }, VE_STREAM_NOT_OPENED, VE_STREAM_NOT_OPENED},
		{"close what is not open", [](VVectorStream& s) { return s.CloseWriting(); }, VE_STREAM_NOT_OPENED_FOR_WRITING, VE_OK},
		{"a character set without converter", [](VVectorStream& s) { s.OpenWriting(); return s.SetCharSet(424242); },
		 VE_STREAM_NO_TEXT_CONVERTER, VE_STREAM_NO_TEXT_CONVERTER},
		{"reopening forgets the error",
		 [](VVectorStream& s) {
			 uint8 b;
			 s.GetData(&b, 1);
			 return s.OpenReading();
		 },
		 VE_OK, VE_OK},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VVectorStream stream(std::vector<uint8>{1, 2, 3, 4});
		EXPECT_EQ(row.action(stream), row.result);
		EXPECT_EQ(stream.GetLastError(), row.sticky);
	}
}

TEST(VStreamTest, SignatureIsReadInBothByteOrders)
{
	const uint32 signature = FourCharCode("VBAG");
	struct Row
	{
		std::vector<uint8> bytes;
		VError result;
		bool swapped;
		int32 nextLong;  // the word read after the signature (or from the start after a mismatch)
		VError nextError;
	};
	const Row rows[] = {
		{{0x47, 0x41, 0x42, 0x56, 5, 0, 0, 0}, VE_OK, false, 5, VE_OK},
		{{0x56, 0x42, 0x41, 0x47, 0, 0, 0, 5}, VE_OK, true, 5, VE_OK},
		{{1, 0, 0, 0, 9, 9, 9, 9}, VE_STREAM_BAD_SIGNATURE, false, 1, VE_OK},
		// Shorter than the word: a mismatch, rewound, with no end of data left behind.
		{{0x47, 0x41, 0x42}, VE_STREAM_BAD_SIGNATURE, false, 0, VE_STREAM_EOF},
		{{}, VE_STREAM_BAD_SIGNATURE, false, 0, VE_STREAM_EOF},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.bytes.size());
		VVectorStream stream(row.bytes);
		EXPECT_EQ(stream.OpenReading(signature), row.result);
		EXPECT_EQ(stream.GetLastError(), VE_OK);
		EXPECT_EQ(stream.NeedSwap(), row.swapped);
		EXPECT_EQ(stream.GetPos(), row.result == VE_OK ? 4 : 0);
		int32 next = 0;
		EXPECT_EQ(stream.GetLong(next), row.nextError);
		if (row.nextError == VE_OK)
		{
			EXPECT_EQ(next, row.nextLong);
		}
	}
}

TEST(VStreamTest, TypedDataFollowsTheByteOrder)
{
	for (const bool swap : {false, true})
	{
		SCOPED_TRACE(swap);
		VVectorStream stream;
		stream.SetNeedSwap(swap);
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		const int16 words[2] = {0x0102, -2};
		stream.PutWord(0x0A0B);
		stream.PutLong(0x01020304);
		stream.PutLong8(0x0102030405060708LL);
		stream.PutReal(2.5);
		stream.PutWords(words, 2);
		stream.PutHexBytes("\x0F\xA0", 2);
		EXPECT_EQ(stream.CloseWriting(), VE_OK);
		EXPECT_EQ(words[0], 0x0102);  // the caller's array is never swapped
		EXPECT_EQ(stream.fBytes[0], swap ? 0x0A : 0x0B);
		EXPECT_EQ(stream.fBytes[2], swap ? 0x01 : 0x04);
		EXPECT_EQ(std::string(stream.fBytes.end() - 4, stream.fBytes.end()), "0FA0");

		ASSERT_EQ(stream.OpenReading(), VE_OK);
		uint16 word = 0;
		int32 longValue = 0;
		int64 long8 = 0;
		double real = 0;
		int16 back[3] = {};
		int32 count = 3;  // the two words and the first two hex digits
		stream.GetWord(word);
		stream.GetLong(longValue);
		stream.GetLong8(long8);
		stream.GetReal(real);
		stream.GetWords(back, &count);
		EXPECT_EQ(word, 0x0A0B);
		EXPECT_EQ(longValue, 0x01020304);
		EXPECT_EQ(long8, 0x0102030405060708LL);
		EXPECT_EQ(real, 2.5);
		EXPECT_EQ(back[0], 0x0102);
		EXPECT_EQ(back[1], -2);
		EXPECT_EQ(count, 3);
		count = 3;
		int16 tail[3] = {};
		EXPECT_EQ(stream.GetWords(tail, &count), VE_STREAM_EOF);
		EXPECT_EQ(count, 1);  // 2 of the 6 bytes asked were left: one whole word
	}
}

// The session's value is the position reached, so a stream read to its end leaves its session full.
TEST(VStreamTest, ProgressReportsThePositionAndCancels)
{
	class StopAfter : public VProgressIndicator
	{
	public:
		int64 fLimit = INT64_MAX;
		bool DoProgress() override { return GetCurrentValue() < fLimit; }
	};
	StopAfter* indicator = new StopAfter();
	VVectorStream stream(std::vector<uint8>(12, 7));
	stream.SetProgressIndicator(indicator);
	ASSERT_EQ(stream.OpenReading(), VE_OK);
	EXPECT_EQ(indicator->GetMaxValue(), 12);
	uint8 block[4];
	for (int i = 0; i < 3; ++i)
		stream.GetData(block, 4);
	EXPECT_EQ(indicator->GetCurrentValue(), 12);
	stream.CloseReading();
	EXPECT_EQ(indicator->GetSessionCount(), 0);

	indicator->fLimit = 8;
	ASSERT_EQ(stream.OpenReading(), VE_OK);
	stream.GetData(block, 4);
	EXPECT_EQ(stream.GetData(block, 4), VE_STREAM_USER_ABORTED);
	EXPECT_EQ(stream.GetData(block, 4), VE_STREAM_USER_ABORTED);
	stream.CloseReading();
	indicator->Release();
}

// Marks are skipped, unmarked text is given back whole; a 2048-byte window cut inside a sequence that is
// still well-formed counts as UTF-8 when more text follows, in the stream and in the registry alike.
TEST(VStreamTest, CharSetIsGuessedFromTheLeadingBytes)
{
	const std::string cutWindow = Repeat("a", 2047) + "\xE2\x82\xAC" + "tail";
	struct Row
	{
		const char* name;
		std::string bytes;
		CharSet defaultSet;
		CharSet expected;
		int64 pos;
		bool bom;
	};
	const Row rows[] = {
		{"UTF-8 mark", "\xEF\xBB\xBFxy", 100, kCharSet_UTF8, 3, true},
		{"UTF-16 big-endian mark", "\xFE\xFF\0x", 100, kCharSet_UTF16BE, 2, true},
		{"UTF-32 little-endian mark", std::string("\xFF\xFE\0\0", 4), 100, kCharSet_UTF32, 4, true},
		{"ASCII with a UTF-16 default", "abcd", kCharSet_UTF16, kCharSet_UTF8, 0, false},
		{"zero-byte pattern", std::string("a\0b\0", 4) + "\xFF\xFF", kCharSet_UTF8, kCharSet_UTF16, 0, false},
		{"window cut inside a sequence", cutWindow, 100, kCharSet_UTF8, 0, false},
		{"lone C3 at the end", "\xC3", 100, 100, 0, false},
		{"Latin-1 text", "caf\xE9s", 100, 100, 0, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VVectorStream stream(row.bytes);
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		bool bom = !row.bom;
		EXPECT_EQ(stream.GuessCharSetFromLeadingBytes(row.defaultSet, true, &bom), VE_OK);
		EXPECT_EQ(stream.GetCharSet(), row.expected);
		EXPECT_EQ(stream.GetPos(), row.pos);
		EXPECT_EQ(bom, row.bom);
		if (!row.bom)
		{
			CharSet guess = row.defaultSet;
			VTextConverters::GuessCharsetWithNoBom(row.bytes.data(), int32(row.bytes.size()), &guess, true);
			EXPECT_EQ(guess, row.expected);
		}
	}
}

TEST(VStreamTest, GetTextLineSplitsLinesAcrossBlocks)
{
	const std::string block = Repeat("x", 255);
	const std::string longLine = "a" + Repeat("\xE2\x82\xAC", 999);  // 1000 characters, cut by every block
	const std::u16string longUnits = u"a" + std::u16string(999, u'\u20AC');
	std::string wideCRLF;
	for (char c : Repeat("x", 255) + "\r\ny")
		wideCRLF += std::string{c, '\0'};
	struct Row
	{
		const char* name;
		std::string bytes;
		CharSet charSet;
		bool keepEnd;
		std::vector<std::u16string> lines;
	};
	const Row rows[] = {
		{"CR LF between lines", "a\r\nb", kCharSet_UTF8, false, {u"a", u"b"}},
		{"ends kept as one CR", "a\r\nb\nc", kCharSet_UTF8, true, {u"a\r", u"b\r", u"c\r"}},
		{"CR at a block end, LF in the next", block + "\r\ny", kCharSet_UTF8, false, {std::u16string(255, u'x'), u"y"}},
		{"CR at a block end, text in the next", block + "\rz", kCharSet_UTF8, false, {std::u16string(255, u'x'), u"z"}},
		{"CR at the very end", block + "\r", kCharSet_UTF8, false, {std::u16string(255, u'x')}},
		{"1000-character UTF-8 line", longLine + "\nnext", kCharSet_UTF8, false, {longUnits, u"next"}},
		{"UTF-16 CR LF split across blocks", wideCRLF, kCharSet_UTF16, false, {std::u16string(255, u'x'), u"y"}},
		{"Shift_JIS with an ASCII trail byte", Repeat("\x96\x7B", 200) + "\n", kCharSet_ShiftJIS, false, {std::u16string(200, u'\u672C')}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VVectorStream stream(row.bytes);
		ASSERT_EQ(stream.SetCharSet(row.charSet), VE_OK);
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		VString line;
		for (const std::u16string& expected : row.lines)
		{
			EXPECT_EQ(stream.GetTextLine(line, row.keepEnd), VE_OK);
			EXPECT_EQ(Units(line), expected);
		}
		EXPECT_EQ(stream.GetTextLine(line, row.keepEnd), VE_STREAM_EOF);
		EXPECT_TRUE(line.IsEmpty());
	}

	VVectorStream fields(std::string("a\t\tb\t\nz"));
	fields.OpenReading();
	VArrayString array;
	EXPECT_EQ(fields.GetTTRLine(array), VE_OK);
	ASSERT_EQ(array.GetCount(), 4);
	VString field;
	array.GetString(field, 3);
	EXPECT_EQ(Units(field), u"b");
}

// A count of characters takes exactly the bytes of those characters: the next read starts right after them.
TEST(VStreamTest, GetTextOfACountGivesBackTheRest)
{
	struct Row
	{
		const char* name;
		std::string bytes;
		CharSet charSet;
		int32 count;
		std::u16string text;
		int64 pos;
		VError result;
	};
	const Row rows[] = {
		{"UTF-8", "a\xE2\x82\xAC" "b\xC3\xA9z", kCharSet_UTF8, 3, u"a\u20ACb", 5, VE_OK},
		{"UTF-8 past the end", "a\xC3\xA9", kCharSet_UTF8, 5, u"a\u00E9", 3, VE_STREAM_EOF},
		{"Shift_JIS", "\x93\xFA\x96\x7B\x8C\xEA" "abc", kCharSet_ShiftJIS, 2, u"\u65E5\u672C", 4, VE_OK},
		{"Shift_JIS mixed", "a\x93\xFA" "b\x8C\xEA", kCharSet_ShiftJIS, 3, u"a\u65E5b", 4, VE_OK},
		{"UTF-16 big-endian", std::string("\0a\0b\0c", 6), kCharSet_UTF16BE, 2, u"ab", 4, VE_OK},
		{"UTF-16 odd end", std::string("a\0b", 3), kCharSet_UTF16, 2, u"a", 2, VE_STREAM_EOF},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VVectorStream stream(row.bytes);
		ASSERT_EQ(stream.SetCharSet(row.charSet), VE_OK);
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		VString text(">");
		EXPECT_EQ(stream.GetText(text, row.count, false), row.result);
		EXPECT_EQ(Units(text), u">" + row.text);
		EXPECT_EQ(stream.GetPos(), row.pos);
	}

	VVectorStream rest(std::string("ok\xE2\x82"));
	rest.SetCharSet(kCharSet_UTF8);
	rest.OpenReading();
	VString text;
	EXPECT_EQ(rest.GetText(text), VE_STREAM_TEXT_CONVERSION_FAILURE);
	EXPECT_EQ(Units(text), u"ok");
}

TEST(VStreamTest, PutTextWritesTheCharSetAndLineEnds)
{
	struct Row
	{
		CharSet charSet;
		int32 mode;
		bool bom;
		std::string bytes;
	};
	const Row rows[] = {
		{kCharSet_UTF8, eCRM_LF, true, "\xEF\xBB\xBF" "\xC3\xA9\na\n"},
		{kCharSet_UTF8, eCRM_CRLF, false, "\xC3\xA9\r\na\r\n"},
		{kCharSet_UTF16BE, eCRM_NONE, true, std::string("\xFE\xFF\0\xE9\0\r\0\n\0a\0\n", 12)},
	};
	for (const Row& row : rows)
	{
		VVectorStream stream;
		stream.SetCharSet(row.charSet);
		stream.SetCarriageReturnMode(row.mode);
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		if (row.bom)
			stream.WriteBOM();
		stream.PutText(VString(u"\u00E9\r\na\n"));
		EXPECT_EQ(stream.CloseWriting(), VE_OK);
		EXPECT_EQ(std::string(stream.fBytes.begin(), stream.fBytes.end()), row.bytes);
	}
}

// Lone surrogates: UTF-8 and raw UTF-32 write every unit and the reader gives them back; a unit the set has
// no form for is velk 210, stored, never a success with the rest of the text dropped.
TEST(VStreamTest, PutTextWritesEveryUnitOrFails)
{
	struct Row
	{
		CharSet charSet;
		std::u16string text;
		VError result;
		std::string bytes;
	};
	const std::u16string lone = u"a\xD800" u"b";
	const std::u16string ending = u"ab\xD800";
	const Row rows[] = {
		{kCharSet_UTF8, lone, VE_OK, "a\xED\xA0\x80" "b"},
		{kCharSet_UTF8, u"\xDE00", VE_OK, "\xED\xB8\x80"},
		{kCharSet_UTF32Raw, lone, VE_OK, std::string("a\0\0\0\0\xD8\0\0b\0\0\0", 12)},
		// The set has no form for a lone surrogate; the text before it is written.
		{kCharSet_UTF32, lone, VE_STREAM_TEXT_CONVERSION_FAILURE, std::string("a\0\0\0", 4)},
		{kCharSet_UTF32BE, u"\xDC00" u"b", VE_STREAM_TEXT_CONVERSION_FAILURE, ""},
		// A high surrogate that ends the text waits for a partner that never comes.
		{kCharSet_UTF8, ending, VE_STREAM_TEXT_CONVERSION_FAILURE, "ab"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.charSet << " " << row.text.size());
		VVectorStream stream;
		stream.SetCharSet(row.charSet);
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(stream.PutText(VString(row.text.c_str())), row.result);
		EXPECT_EQ(scope.GetLastError(), row.result);
		// The error is sticky: nothing more is written.
		EXPECT_EQ(stream.PutText(VString(u"z")), row.result);
		EXPECT_EQ(stream.CloseWriting(), row.result);
		const std::string written(stream.fBytes.begin(), stream.fBytes.end());
		if (row.result != VE_OK)
		{
			EXPECT_EQ(written, row.bytes);
			continue;
		}
		EXPECT_EQ(written, row.bytes + (row.charSet == kCharSet_UTF8 ? std::string("z") : std::string("z\0\0\0", 4)));

		VVectorStream reader(written);
		reader.SetCharSet(row.charSet);
		ASSERT_EQ(reader.OpenReading(), VE_OK);
		VString back;
		EXPECT_EQ(reader.GetText(back), VE_OK);
		EXPECT_EQ(Units(back), row.text + u"z");
	}
}

// The whole source goes over in blocks, whatever its position was, and the source ends closed; an error
// stops the copy and is the answer.
TEST(VStreamTest, PutContentIntoCopiesTheWholeStream)
{
	struct Row
	{
		const char* name;
		size_t size;
		bool sourceOpen;
		bool destinationOpen;
		VError result;
		size_t copied;
	};
	const Row rows[] = {
		{"empty", 0, false, true, VE_OK, 0},
		{"one block", 4096, false, true, VE_OK, 4096},
		{"blocks and a rest", 10000, false, true, VE_OK, 10000},
		{"source already open", 100, true, true, VE_STREAM_ALREADY_OPENED, 0},
		{"destination closed", 100, false, false, VE_STREAM_NOT_OPENED_FOR_WRITING, 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::vector<uint8> bytes(row.size);
		for (size_t i = 0; i < bytes.size(); ++i)
			bytes[i] = uint8(i * 7 + i / 251);
		VVectorStream source(bytes);
		if (row.sourceOpen)
		{
			ASSERT_EQ(source.OpenReading(), VE_OK);
		}
		VVectorStream destination;
		if (row.destinationOpen)
		{
			ASSERT_EQ(destination.OpenWriting(), VE_OK);
		}

		EXPECT_EQ(source.PutContentInto(&destination), row.result);
		EXPECT_EQ(destination.fBytes.size(), row.copied);
		if (row.result == VE_OK)
		{
			EXPECT_EQ(destination.fBytes, bytes);
			EXPECT_FALSE(source.IsReading());
			EXPECT_EQ(destination.GetPos(), int64(row.size));
		}
	}
}

}  // namespace
}  // namespace velk
