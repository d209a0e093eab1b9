// Transcoding core: UTF-8 and UTF-32 decoding, UTF-8 encoding, and the whole-text convenience.
#include "kernel/intl/VUTFCodec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velk {
namespace {

using Bytes = std::vector<uint8>;

struct DecodeCase
{
	const char* name;
	Bytes input;
	int32 room;
	std::u16string expected;
	size_t consumed;
	bool result;
};

TEST(VUTFCodecTest, DecodeUTF8Cases)
{
	const std::vector<DecodeCase> cases = {
		{"ascii", {'a', 'b', 'c'}, 10, u"abc", 3, true},
		{"two-byte", {0xC3, 0xA9}, 10, u"\u00E9", 2, true},
		{"three-byte", {0xE2, 0x82, 0xAC}, 10, u"\u20AC", 3, true},
		{"four-byte pair", {0xF0, 0x9F, 0x98, 0x80}, 10, u"\U0001F600", 4, true},
		{"stray continuation stands for itself", {0x80}, 10, u"\u0080", 1, true},
		{"C0 80 is U+0000", {0xC0, 0x80}, 10, std::u16string(1, u'\0'), 2, true},
		{"overlong three-byte accepted", {0xE0, 0x80, 0x80}, 10, std::u16string(1, u'\0'), 3, true},
		{"surrogate value kept", {0xED, 0xA0, 0x80}, 10, u"\xD800", 3, true},
		{"latin-1 e-acute keeps the quote", {0xE9, '"', 'x'}, 10, u"\u00E9\"x", 3, true},
		{"bad third byte: lead alone, then resume", {0xE2, 0x82, 'A'}, 10, u"\u00E2\u0082A", 3, true},
		{"bad byte in a sequence running past the end", {0xE2, 'A'}, 10, u"\u00E2A", 2, true},
		{"truncated three-byte left unconsumed", {'a', 0xE2, 0x82}, 10, u"a", 1, true},
		{"lone lead at the end left unconsumed", {'c', 'a', 'f', 0xE9}, 10, u"caf", 3, true},
		{"truncated four-byte left unconsumed", {0xF0, 0x9F, 0x98}, 10, u"", 0, true},
		{"five-byte above U+10FFFF gives ?", {0xF8, 0x88, 0x80, 0x80, 0x80, 'z'}, 10, u"?z", 6, false},
		{"four-byte above U+10FFFF gives ?", {0xF4, 0x90, 0x80, 0x80}, 10, u"?", 4, false},
		{"pair needs two units of room", {'a', 0xF0, 0x9F, 0x98, 0x80}, 2, u"a", 1, true},
		{"? needs two units of room", {0xF8, 0x88, 0x80, 0x80, 0x80}, 1, u"", 0, true},
		{"room limits ascii", {'a', 'b', 'c'}, 2, u"ab", 2, true},
		{"no room", {'a'}, 0, u"", 0, true},
		{"empty input", {}, 10, u"", 0, true},
		{"long ascii run then a sequence", {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 0xC3, 0xA9, 'z'}, 15, u"0123456789a\u00E9z", 14, true},
		{"long ascii run cut by room", {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a'}, 9, u"012345678", 9, true},
		{"sequence inside an eight-byte window", {'a', 'b', 'c', 0xE2, 0x82, 0xAC, 'd', 'e', 'f', 'g'}, 15, u"abc\u20ACdefg", 10, true},
	};
	for (const DecodeCase& c : cases)
	{
		SCOPED_TRACE(c.name);
		std::u16string out(16, u'#');
		size_t consumed = 99;
		int32 produced = 99;
		const bool result = DecodeUTF8(c.input.data(), c.input.size(), &consumed, out.data(), c.room, &produced);
		EXPECT_EQ(result, c.result);
		EXPECT_EQ(consumed, c.consumed);
		ASSERT_EQ(produced, int32(c.expected.size()));
		EXPECT_EQ(out.substr(0, size_t(produced)), c.expected);
		EXPECT_EQ(out[size_t(produced)], u'#');  // nothing written past what was produced
	}
}

// Random UTF-16 text with valid pairs, lone surrogates excluded, so that UTF-8 round trips exactly.
std::u16string RandomText(std::mt19937& random, size_t units)
{
	std::uniform_int_distribution<int> kind(0, 4);
	std::uniform_int_distribution<uint32> ascii(0x20, 0x7E), two(0x80, 0x7FF), three(0x800, 0xFFFF), four(0x10000, 0x10FFFF);
	std::u16string text;
	while (text.size() < units)
	{
		uint32 cp;
		switch (kind(random))
		{
			case 0:
			case 1:
				cp = ascii(random);
				break;
			case 2:
				cp = two(random);
				break;
			case 3:
				do
					cp = three(random);
				while (cp >= 0xD800 && cp <= 0xDFFF);
				break;
			default:
				cp = four(random) - 0x10000;
				text += char16_t(0xD800 + (cp >> 10));
				text += char16_t(0xDC00 + (cp & 0x3FF));
				continue;
		}
		text += char16_t(cp);
	}
	return text;
}

TEST(VUTFCodecTest, RoundTripAndChunkedDecodingMatchOneCall)
{
	std::mt19937 random(20240601);
	for (int round = 0; round < 50; ++round)
	{
		const std::u16string text = RandomText(random, 200);
		const std::string utf8 = ToUTF8String(text.data(), int32(text.size()));

		std::u16string whole(utf8.size(), u'\0');
		size_t consumed = 0;
		int32 produced = 0;
		ASSERT_TRUE(DecodeUTF8(utf8.data(), utf8.size(), &consumed, whole.data(), int32(whole.size()), &produced));
		ASSERT_EQ(consumed, utf8.size());
		whole.resize(size_t(produced));
		ASSERT_EQ(whole, text);

		// Fed in arbitrary chunks, carrying the unconsumed tail into the next call.
		std::uniform_int_distribution<size_t> chunk(1, 7);
		std::u16string pieces;
		std::string pending;
		size_t pos = 0;
		while (pos < utf8.size())
		{
			const size_t take = std::min(chunk(random), utf8.size() - pos);
			pending.append(utf8, pos, take);
			pos += take;
			std::u16string out(pending.size() + 1, u'\0');
			DecodeUTF8(pending.data(), pending.size(), &consumed, out.data(), int32(out.size()), &produced);
			pieces.append(out, 0, size_t(produced));
			pending.erase(0, consumed);
			ASSERT_LT(pending.size(), 4u);
		}
		EXPECT_TRUE(pending.empty());
		EXPECT_EQ(pieces, text);
	}
}

struct EncodeCase
{
	const char* name;
	std::u16string input;
	size_t room;
	Bytes expected;
	int32 consumed;
};

// The writer always answers true; a lone surrogate is written like any other unit, in three bytes, so that
// stored texts keep every unit and the reader gives them back.
TEST(VUTFCodecTest, EncodeUTF8Cases)
{
	const Bytes abc(std::begin("abcdefghij"), std::end("abcdefghij") - 1);
	const Bytes klm(std::begin("klmnopqrstuvwxyz"), std::end("klmnopqrstuvwxyz") - 1);
	const auto around = [&](Bytes middle) {
		Bytes bytes = abc;
		bytes.insert(bytes.end(), middle.begin(), middle.end());
		bytes.insert(bytes.end(), klm.begin(), klm.end());
		return bytes;
	};
	const std::vector<EncodeCase> cases = {
		{"ascii", u"abc", 10, {'a', 'b', 'c'}, 3},
		{"two-byte", u"\u00E9", 10, {0xC3, 0xA9}, 1},
		{"three-byte", u"\u20AC", 10, {0xE2, 0x82, 0xAC}, 1},
		{"pair", u"\U0001F600", 10, {0xF0, 0x9F, 0x98, 0x80}, 2},
		{"lowest and highest pairs", u"\U00010000\U0010FFFF", 10, {0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF}, 4},
		{"lone low surrogate", u"\xDE00", 10, {0xED, 0xB8, 0x80}, 1},
		{"lone high surrogate before a letter", u"\xD800" u"A", 10, {0xED, 0xA0, 0x80, 'A'}, 2},
		{"lone high surrogate before a pair", u"\xD83D\xD83D\xDE00", 10, {0xED, 0xA0, 0xBD, 0xF0, 0x9F, 0x98, 0x80}, 3},
		{"low surrogate before a high one", u"\xDC00\xD800" u"a", 10, {0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80, 'a'}, 3},
		{"two high surrogates, the last at the end", u"\xDBFF\xDBFF", 10, {0xED, 0xAF, 0xBF}, 1},
		{"high surrogate at the end left unconsumed", u"a\xD83D", 10, {'a'}, 1},
		{"high surrogate alone left unconsumed", u"\xD800", 10, {}, 0},
		{"lone surrogate that does not fit", u"a\xDC00", 3, {'a'}, 1},
		{"sequence that does not fit", u"a\u00E9", 2, {'a'}, 1},
		{"pair that does not fit", u"\U0001F600", 3, {}, 0},
		{"empty", u"", 10, {}, 0},
		// Texts of 8 units or more take the fast path first.
		{"lone low surrogate in a long text", u"abcdefghij\xDC00klmnopqrstuvwxyz", 40, around({0xED, 0xB0, 0x80}), 27},
		{"lone high surrogate in a long text", u"abcdefghij\xD800klmnopqrstuvwxyz", 40, around({0xED, 0xA0, 0x80}), 27},
		{"pair in a long text", u"abcdefghij\U0001F600klmnopqrstuvwxyz", 40, around({0xF0, 0x9F, 0x98, 0x80}), 28},
		{"lone surrogates among three-byte characters", u"\u65E5\u672C\xDC00\u65E5\u672C\xD800\u65E5\u672C\u65E5\u672C", 40,
			{0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xED, 0xB0, 0x80, 0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xED, 0xA0, 0x80,
			 0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC}, 10},
		{"long text ending in a high surrogate", u"abcdefghijklmnop\xD800", 60,
			Bytes(std::begin("abcdefghijklmnop"), std::end("abcdefghijklmnop") - 1), 16},
	};
	for (const EncodeCase& c : cases)
	{
		SCOPED_TRACE(c.name);
		Bytes out(64, 0xEE);
		int32 consumed = 99;
		size_t produced = 99;
		EXPECT_TRUE(EncodeUTF8(c.input.data(), int32(c.input.size()), &consumed, out.data(), c.room, &produced));
		EXPECT_EQ(consumed, c.consumed);
		ASSERT_EQ(produced, c.expected.size());
		EXPECT_EQ(Bytes(out.begin(), out.begin() + long(produced)), c.expected);
		// Short texts take the careful path, which writes nothing past what it produces.
		if (c.input.size() < 8)
		{
			EXPECT_EQ(out[produced], 0xEE);
		}

		// Counting with no destination gives the real output's size, without a room limit.
		if (c.room >= 10)
		{
			int32 countedUnits = 0;
			size_t counted = 0;
			EXPECT_TRUE(EncodeUTF8(c.input.data(), int32(c.input.size()), &countedUnits, nullptr, 0, &counted));
			EXPECT_EQ(counted, produced);
			EXPECT_EQ(countedUnits, consumed);
		}

		// The reader takes back exactly the units written, lone surrogates included.
		std::u16string back(c.input.size() + 1, u'?');
		size_t read = 0;
		int32 units = 0;
		EXPECT_TRUE(DecodeUTF8(c.expected.data(), c.expected.size(), &read, back.data(), int32(back.size()), &units));
		EXPECT_EQ(read, c.expected.size());
		EXPECT_EQ(back.substr(0, size_t(units)), c.input.substr(0, size_t(c.consumed)));
	}
}

TEST(VUTFCodecTest, ToUTF8StringLosesNothing)
{
	EXPECT_EQ(ToUTF8String(nullptr, 5), "");
	const std::u16string text = u"h\u00E9\U0001F600";
	EXPECT_EQ(ToUTF8String(text.data(), 0), "");
	EXPECT_EQ(ToUTF8String(text.data(), -1), "");
	EXPECT_EQ(ToUTF8String(text.data(), int32(text.size())), "h\xC3\xA9\xF0\x9F\x98\x80");
	// A high surrogate with nothing after it still comes out, on its own.
	const std::u16string trailing = u"ab\xD83D";
	EXPECT_EQ(ToUTF8String(trailing.data(), int32(trailing.size())), "ab\xED\xA0\xBD");
	// Lone surrogates anywhere come out on their own too, with everything around them.
	const std::u16string lone = u"abcdefghij\xDC00klmnopqrstuvwxyz\xD800" u"1";
	EXPECT_EQ(ToUTF8String(lone.data(), int32(lone.size())), "abcdefghij\xED\xB0\x80klmnopqrstuvwxyz\xED\xA0\x80" "1");
	// Only three units of a longer text.
	EXPECT_EQ(ToUTF8String(u"xyzw", 3), "xyz");
}

// The system form, for paths and names, refuses what the writer and the reader let through: a name with a
// lone surrogate would reach the system as bytes that no name there comes back as.
TEST(VUTFCodecTest, StrictFormsRefuseLoneSurrogates)
{
	struct Row
	{
		const char* name;
		std::u16string units;
		bool accepted;
		std::string bytes;
	};
	const Row rows[] = {
		{"pair", u"a\U0001F600", true, "a\xF0\x9F\x98\x80"},
		{"empty", u"", true, ""},
		{"lone high", u"a\xD800" u"b", false, ""},
		{"lone low", u"\xDE00", false, ""},
		{"high at the end", u"ab\xD83D", false, ""},
		{"low before high", u"\xDC00\xD800", false, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::string out = "left over";
		EXPECT_EQ(ToStrictUTF8(row.units.data(), int32(row.units.size()), out), row.accepted);
		EXPECT_EQ(out, row.bytes);
		// What the lenient writer makes of it is refused on the way back.
		const std::string lenient = ToUTF8String(row.units.data(), int32(row.units.size()));
		std::u16string back = u"left over";
		EXPECT_EQ(FromStrictUTF8(lenient.data(), lenient.size(), back), row.accepted);
		EXPECT_EQ(back, row.accepted ? row.units : std::u16string());
	}
}

struct Decode32Case
{
	const char* name;
	std::vector<uint32> values;
	size_t extraBytes;  // a partial value at the end
	int32 room;
	std::u16string expected;
	size_t consumed;
	bool result;
};

TEST(VUTFCodecTest, DecodeUTF32Cases)
{
	const std::vector<Decode32Case> cases = {
		{"bmp", {'a', 0xE9, 0x20AC}, 0, 10, u"a\u00E9\u20AC", 12, true},
		{"supplementary", {0x1F600}, 0, 10, u"\U0001F600", 4, true},
		{"surrogate value stops", {'a', 0xD800, 'b'}, 0, 10, u"a", 4, false},
		{"above U+10FFFF skipped", {'a', 0x110000, 'b'}, 0, 10, u"ab", 12, false},
		{"pair without room stops", {'a', 0x1F600}, 0, 2, u"a", 4, false},
		{"room runs out", {'a', 'b', 'c'}, 0, 2, u"ab", 8, false},
		{"partial value left", {'a'}, 3, 10, u"a", 4, true},
	};
	for (bool swap : {false, true})
	{
		for (const Decode32Case& c : cases)
		{
			SCOPED_TRACE(std::string(c.name) + (swap ? " (swapped)" : ""));
			Bytes input;
			for (uint32 v : c.values)
			{
				const uint32 stored = swap ? __builtin_bswap32(v) : v;
				const uint8* b = reinterpret_cast<const uint8*>(&stored);
				input.insert(input.end(), b, b + 4);
			}
			input.insert(input.end(), c.extraBytes, 0);
			std::u16string out(16, u'#');
			size_t consumed = 0;
			int32 produced = 0;
			EXPECT_EQ(DecodeUTF32(input.data(), input.size(), swap, &consumed, out.data(), c.room, &produced), c.result);
			EXPECT_EQ(consumed, c.consumed);
			EXPECT_EQ(out.substr(0, size_t(produced)), c.expected);
		}
	}
}


// Long inputs take the unchecked paths; pieces shorter than their margins take the careful ones. Both must
// read any bytes, and any units, alike.
TEST(VUTFCodecTest, LongAndShortPathsAgreeOnAnyInput)
{
	std::mt19937 random(99);
	const uint8 interesting[] = {'a', '"', ' ', 0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xDF, 0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xF8, 0xFC, 0xFF};
	std::uniform_int_distribution<size_t> pick(0, std::size(interesting) - 1);
	std::uniform_int_distribution<int> any(0, 255);
	for (int round = 0; round < 200; ++round)
	{
		Bytes input(300);
		for (uint8& byte : input)
			byte = (round % 2 == 0) ? interesting[pick(random)] : uint8(any(random));

		std::u16string whole(input.size() + 1, u'\0');
		size_t consumed = 0;
		int32 produced = 0;
		const bool wholeResult = DecodeUTF8(input.data(), input.size(), &consumed, whole.data(), int32(whole.size()), &produced);
		whole.resize(size_t(produced));
		const size_t wholeConsumed = consumed;

		std::u16string pieces;
		bool piecesResult = true;
		size_t pos = 0;
		while (pos < input.size())
		{
			const size_t take = std::min<size_t>(15, input.size() - pos);
			std::u16string out(16, u'\0');
			piecesResult &= DecodeUTF8(input.data() + pos, take, &consumed, out.data(), int32(out.size()), &produced);
			pieces.append(out, 0, size_t(produced));
			if (consumed == 0)
				break;
			pos += consumed;
		}
		EXPECT_EQ(wholeConsumed, pos);
		EXPECT_EQ(pieces, whole);
		EXPECT_EQ(piecesResult, wholeResult);
	}

	std::uniform_int_distribution<int> unitKind(0, 5);
	for (int round = 0; round < 200; ++round)
	{
		std::u16string text;
		while (text.size() < 300)
		{
			switch (unitKind(random))
			{
				case 0:
				case 1:
					text += char16_t('a' + any(random) % 26);
					break;
				case 2:
					text += char16_t(0x80 + any(random) * 7);
					break;
				case 3:
					text += char16_t(0x800 + any(random) * 200);
					break;
				case 4:
					text += char16_t(0xD800 + any(random) * 4);  // high, low, or a pair by chance
					break;
				default:
					text += u"\U0001F600";
					break;
			}
		}
		Bytes whole(text.size() * 3);
		int32 consumed = 0;
		size_t produced = 0;
		EncodeUTF8(text.data(), int32(text.size()), &consumed, whole.data(), whole.size(), &produced);
		whole.resize(produced);
		const int32 wholeConsumed = consumed;

		Bytes pieces;
		int32 pos = 0;
		while (pos < int32(text.size()))
		{
			const int32 take = std::min<int32>(7, int32(text.size()) - pos);
			Bytes out(21);
			EncodeUTF8(text.data() + pos, take, &consumed, out.data(), out.size(), &produced);
			pieces.insert(pieces.end(), out.begin(), out.begin() + long(produced));
			if (consumed == 0)
				break;
			pos += consumed;
		}
		EXPECT_EQ(wholeConsumed, pos);
		EXPECT_EQ(pieces, whole);
	}
}

}  // namespace
}  // namespace velk
