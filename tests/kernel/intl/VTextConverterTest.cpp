// The built-in converters and the helpers every converter shares: chunked input, counting, room for
// surrogate pairs, in-place widening, malformed input, and the string and buffer helpers.
#include "kernel/intl/VTextConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernel/intl/VTextConverters.h"
#include "kernel/intl/VUnicodeConverters.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

using Bytes = std::vector<uint8>;

std::u16string ToU16(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VRefPtr<VToUnicodeConverter> ToUnicode(CharSet charSet)
{
	return VRefPtr<VToUnicodeConverter>(VTextConverters::Get()->RetainToUnicodeConverter(charSet), true);
}

VRefPtr<VFromUnicodeConverter> FromUnicode(CharSet charSet)
{
	return VRefPtr<VFromUnicodeConverter>(VTextConverters::Get()->RetainFromUnicodeConverter(charSet), true);
}

// The whole text through ConvertRealloc.
Bytes Encode(const VFromUnicodeConverter& converter, const std::u16string& text)
{
	void* block = nullptr;
	size_t bytes = 0;
	EXPECT_TRUE(converter.ConvertRealloc(text.data(), int32(text.size()), block, bytes, 0));
	Bytes result(static_cast<uint8*>(block), static_cast<uint8*>(block) + bytes);
	VObject::sCppMemMgr->Free(block);
	return result;
}

// Text with ASCII, Latin, CJK and supplementary characters; no lone surrogates.
std::u16string RandomText(std::mt19937& random, size_t units)
{
	static const std::u16string kPieces[] = {u"a", u"Z", u" ", u"\u00E9", u"\u00FC", u"\u20AC", u"\u65E5", u"\u672C", u"\U0001F600", u"\U00010348"};
	std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
	std::u16string text;
	while (text.size() < units)
		text += kPieces[pick(random)];
	return text;
}

TEST(VTextConverterTest, ChunkedInputGivesTheSameTextAsOneCall)
{
	struct Case
	{
		CharSet charSet;
		bool fullUnicode;  // else only ASCII, Latin-1 and the euro sign
	};
	// The raw UTF-32 sets have no surrogate handling: every unit stands alone and still round-trips.
	const Case cases[] = {{7, true}, {2, true}, {1, true}, {4, true}, {3, true}, {6, true}, {5, true}, {101, false}, {-2, false}};
	std::mt19937 random(7);
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.charSet);
		std::u16string text = RandomText(random, 300);
		if (!c.fullUnicode)
			text = u"caf\u00E9 \u20AC 100 na\u00EFve";
		const Bytes bytes = Encode(*FromUnicode(c.charSet), text);
		VRefPtr<VToUnicodeConverter> converter = ToUnicode(c.charSet);

		std::u16string whole(bytes.size() + 1, u'\0');
		size_t consumed = 0;
		int32 produced = 0;
		ASSERT_TRUE(converter->Convert(bytes.data(), bytes.size(), &consumed, whole.data(), int32(whole.size()), &produced));
		EXPECT_EQ(consumed, bytes.size());
		whole.resize(size_t(produced));
		EXPECT_EQ(whole, text);

		for (int round = 0; round < 20; ++round)
		{
			std::uniform_int_distribution<size_t> chunk(1, 9);
			std::u16string pieces;
			Bytes pending;
			size_t pos = 0;
			while (pos < bytes.size())
			{
				const size_t take = std::min(chunk(random), bytes.size() - pos);
				pending.insert(pending.end(), bytes.begin() + long(pos), bytes.begin() + long(pos + take));
				pos += take;
				std::u16string out(pending.size() + 2, u'\0');
				ASSERT_TRUE(converter->Convert(pending.data(), pending.size(), &consumed, out.data(), int32(out.size()), &produced));
				pieces.append(out, 0, size_t(produced));
				pending.erase(pending.begin(), pending.begin() + long(consumed));
			}
			EXPECT_TRUE(pending.empty());
			EXPECT_EQ(pieces, text);
		}
	}
}

TEST(VTextConverterTest, CountingWithoutDestinationMatchesRealOutput)
{
	VFromUnicodeConverter_UTF8 utf8;
	std::mt19937 random(11);
	for (int round = 0; round < 30; ++round)
	{
		std::u16string text = RandomText(random, 100);
		// Lone surrogates of both kinds, also a high one just before a letter.
		text.insert(text.begin() + 10, char16_t(0xDC00));
		text.insert(text.begin() + 20, char16_t(0xD83D));

		std::vector<uint8> out(text.size() * 3);
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(utf8.Convert(text.data(), int32(text.size()), &consumed, out.data(), out.size(), &produced));
		int32 countedUnits = 0;
		size_t counted = 0;
		ASSERT_TRUE(utf8.Convert(text.data(), int32(text.size()), &countedUnits, nullptr, 0, &counted));
		EXPECT_EQ(counted, produced);
		EXPECT_EQ(countedUnits, consumed);
		// The lone surrogates are written like any other unit: the whole text goes, and comes back.
		ASSERT_EQ(consumed, int32(text.size()));
		VString back;
		ASSERT_TRUE(VTextConverters::Get()->ConvertToVString(out.data(), produced, kCharSet_UTF8, back));
		EXPECT_EQ(ToU16(back), text);

		std::wstring wide;
		for (char16_t unit : text)
			wide += wchar_t(unit);
		out.assign(wide.size() * 6, 0);
		ASSERT_TRUE(utf8.ConvertFrom_wchar(wide.data(), int32(wide.size()), &consumed, out.data(), out.size(), &produced));
		ASSERT_TRUE(utf8.ConvertFrom_wchar(wide.data(), int32(wide.size()), &countedUnits, nullptr, 0, &counted));
		EXPECT_EQ(counted, produced);
		EXPECT_EQ(countedUnits, consumed);
	}
}

TEST(VTextConverterTest, SupplementaryCharactersNeedTwoUnitsOfRoom)
{
	const uint8 utf8[] = {'a', 0xF0, 0x9F, 0x98, 0x80};
	const uint32 utf32[] = {'a', 0x1F600};
	struct Case
	{
		CharSet charSet;
		const void* bytes;
		size_t count;
		bool resultWhenShort;
	};
	const Case cases[] = {{7, utf8, sizeof(utf8), true}, {4, utf32, sizeof(utf32), false}};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.charSet);
		VRefPtr<VToUnicodeConverter> converter = ToUnicode(c.charSet);
		UniChar out[4] = {};
		size_t consumed = 0;
		int32 produced = 0;
		EXPECT_EQ(converter->Convert(c.bytes, c.count, &consumed, out, 2, &produced), c.resultWhenShort);
		EXPECT_EQ(produced, 1);
		EXPECT_EQ(out[0], u'a');
		EXPECT_EQ(consumed, c.count == sizeof(utf8) ? 1u : 4u);

		EXPECT_TRUE(converter->Convert(c.bytes, c.count, &consumed, out, 3, &produced));
		EXPECT_EQ(consumed, c.count);
		ASSERT_EQ(produced, 3);
		EXPECT_EQ(out[1], 0xD83D);
		EXPECT_EQ(out[2], 0xDE00);
	}
}

TEST(VTextConverterTest, RawUTF32WidensInPlaceAndNarrowsBack)
{
	for (bool swap : {false, true})
	{
		SCOPED_TRACE(swap);
		const std::u16string text = u"ab\u00E9\xD83D\xDE00\xFFFF\x0001z";
		const size_t count = text.size();
		std::vector<uint8> block(count * 4);
		std::memcpy(block.data(), text.data(), count * 2);

		VFromUnicodeConverter_UTF32_Raw widen(swap);
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(widen.Convert(reinterpret_cast<const UniChar*>(block.data()), int32(count), &consumed, block.data(), block.size(), &produced));
		EXPECT_EQ(consumed, int32(count));
		EXPECT_EQ(produced, count * 4);
		for (size_t i = 0; i < count; ++i)
		{
			uint32 value;
			std::memcpy(&value, block.data() + 4 * i, 4);
			EXPECT_EQ(swap ? __builtin_bswap32(value) : value, uint32(text[i])) << i;
		}

		VToUnicodeConverter_UTF32_Raw narrow(swap);
		VString back("x");
		size_t bytes = 0;
		ASSERT_TRUE(narrow.ConvertString(block.data(), block.size() + 0, &bytes, back));
		EXPECT_EQ(bytes, block.size());
		EXPECT_EQ(ToU16(back), u"x" + text);

		// Room for fewer values than the text: only whole values are written.
		ASSERT_TRUE(widen.Convert(text.data(), int32(count), &consumed, block.data(), 7, &produced));
		EXPECT_EQ(consumed, 1);
		EXPECT_EQ(produced, 4u);
	}
}

// Malformed and boundary input of the UTF decoders and encoders, through the converters.
TEST(VTextConverterTest, UTF8DecodingEdgeCases)
{
	struct Case
	{
		const char* name;
		Bytes input;
		int32 room;
		std::u16string expected;
		size_t consumed;
		bool result;
	};
	const Case cases[] = {
		{"incomplete sequence left for the next call", {0xE2, 0x82}, 10, u"", 0, true},
		{"stray continuation byte", {0x80}, 10, u"\u0080", 1, true},
		{"C0 80", {0xC0, 0x80}, 10, std::u16string(1, u'\0'), 2, true},
		{"pair", {0xF0, 0x9F, 0x98, 0x80}, 10, u"\U0001F600", 4, true},
		{"pair without room", {0xF0, 0x9F, 0x98, 0x80}, 1, u"", 0, true},
		{"above U+10FFFF", {0xF8, 0x88, 0x80, 0x80, 0x80}, 10, u"?", 5, false},
		{"Latin-1 e-acute keeps the quote", {'"', 0xE9, '"', '}'}, 10, u"\"\u00E9\"}", 4, true},
		{"cut lead before ASCII at the end", {0xF0, 0x9F, '>'}, 10, u"\u00F0\u009F>", 3, true},
	};
	VToUnicodeConverter_UTF8 converter;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		std::u16string out(12, u'#');
		size_t consumed = 99;
		int32 produced = 99;
		EXPECT_EQ(converter.Convert(c.input.data(), c.input.size(), &consumed, out.data(), c.room, &produced), c.result);
		EXPECT_EQ(consumed, c.consumed);
		EXPECT_EQ(out.substr(0, size_t(produced)), c.expected);
	}
}

TEST(VTextConverterTest, FromUTF16EdgeCases)
{
	struct Case
	{
		const char* name;
		CharSet charSet;
		std::u16string input;
		Bytes expected;
		int32 consumed;
		bool result;
	};
	const Case cases[] = {
		{"pair to UTF-8", 7, u"\xD83D\xDE00", {0xF0, 0x9F, 0x98, 0x80}, 2, true},
		{"high surrogate at the end waits", 7, u"a\xD83D", {'a'}, 1, true},
		// UTF-8 writes a lone surrogate in three bytes; UTF-32 has no form for it and stops before it.
		{"lone low surrogate to UTF-8", 7, u"\xDE00", {0xED, 0xB8, 0x80}, 1, true},
		{"lone high surrogate keeps the letter after it", 7, u"\xD800" u"A", {0xED, 0xA0, 0x80, 'A'}, 2, true},
		{"lone high surrogate keeps the quote after it", 7, u"\xD83D\"", {0xED, 0xA0, 0xBD, '"'}, 2, true},
		{"pair to UTF-32", 4, u"\xD83D\xDE00", {0x00, 0xF6, 0x01, 0x00}, 2, true},
		{"lone low surrogate stops UTF-32", 4, u"ab\xDC00" u"c", {'a', 0, 0, 0, 'b', 0, 0, 0}, 2, false},
		{"high surrogate at the end stops UTF-32", 4, u"a\xD800", {'a', 0, 0, 0}, 1, false},
		{"empty to UTF-32", 4, u"", {}, 0, true},
		{"big-endian UTF-32", 3, u"\u20AC", {0x00, 0x00, 0x20, 0xAC}, 1, true},
		{"big-endian UTF-16", 1, u"\u20ACa", {0x20, 0xAC, 0x00, 'a'}, 2, true},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		VRefPtr<VFromUnicodeConverter> converter = FromUnicode(c.charSet);
		Bytes out(16, 0xEE);
		int32 consumed = 99;
		size_t produced = 99;
		EXPECT_EQ(converter->Convert(c.input.data(), int32(c.input.size()), &consumed, out.data(), out.size(), &produced), c.result);
		EXPECT_EQ(consumed, c.consumed);
		EXPECT_EQ(Bytes(out.begin(), out.begin() + long(produced)), c.expected);
	}
}

TEST(VTextConverterTest, WideCharactersToUTF8)
{
	struct Case
	{
		const char* name;
		std::wstring input;
		Bytes expected;
		int32 consumed;
		bool result;
	};
	const Case cases[] = {
		{"code points", L"a\u00E9\U0001F600", {'a', 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}, 3, true},
		{"surrogate pair joined", {wchar_t(0xD83D), wchar_t(0xDE00)}, {0xF0, 0x9F, 0x98, 0x80}, 2, true},
		{"high surrogate keeps the letter after it", {wchar_t(0xD83D), L'A'}, {0xED, 0xA0, 0xBD, 'A'}, 2, true},
		{"high surrogate at the end waits", {L'a', wchar_t(0xD83D)}, {'a'}, 1, true},
		{"five-byte form", {wchar_t(0x200000)}, {0xF8, 0x88, 0x80, 0x80, 0x80}, 1, true},
		{"six-byte form", {wchar_t(0x7FFFFFFF)}, {0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}, 1, true},
		{"0x80000000 stops", {L'a', wchar_t(0x80000000u)}, {'a'}, 1, false},
		{"empty", L"", {}, 0, true},
	};
	VFromUnicodeConverter_UTF8 converter;
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		Bytes out(16, 0xEE);
		int32 consumed = 99;
		size_t produced = 99;
		EXPECT_EQ(converter.ConvertFrom_wchar(c.input.data(), int32(c.input.size()), &consumed, out.data(), out.size(), &produced), c.result);
		EXPECT_EQ(consumed, c.consumed);
		EXPECT_EQ(Bytes(out.begin(), out.begin() + long(produced)), c.expected);
	}
}

TEST(VTextConverterTest, UTF32DecodingStopsOrSkips)
{
	VToUnicodeConverter_UTF32 converter(false);
	const uint32 skipped[] = {'a', 0x110000, 'b'};
	UniChar out[8] = {};
	size_t consumed = 0;
	int32 produced = 0;
	EXPECT_FALSE(converter.Convert(skipped, sizeof(skipped), &consumed, out, 8, &produced));
	EXPECT_EQ(consumed, sizeof(skipped));
	EXPECT_EQ(std::u16string(out, size_t(produced)), u"ab");

	const uint32 surrogate[] = {'a', 0xD800, 'b'};
	EXPECT_FALSE(converter.Convert(surrogate, sizeof(surrogate), &consumed, out, 8, &produced));
	EXPECT_EQ(consumed, 4u);
	EXPECT_EQ(produced, 1);
}

// Every byte becomes five units, written only whole: a stand-in for sets whose text is longer than their bytes.
class ExpandingConverter : public VToUnicodeConverter
{
public:
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override
	{
		const size_t count = std::min(inSourceBytes, size_t(std::max(inDestMaxUnits, 0)) / 5);
		for (size_t i = 0; i < count * 5; ++i)
			outDest[i] = static_cast<const uint8*>(inSource)[i / 5];
		*outBytesConsumed = count;
		*outUnitsProduced = int32(count * 5);
		return true;
	}
};

TEST(VTextConverterTest, ConvertStringAppendsAndGrows)
{
	VString text("a");
	size_t consumed = 0;
	ASSERT_TRUE(ToUnicode(7)->ConvertString("b", 1, &consumed, text));
	EXPECT_EQ(ToU16(text), u"ab");
	EXPECT_EQ(consumed, 1u);

	// A converter giving more units than bytes makes the string grow as it goes, keeping what came before.
	const std::string input(3000, 'q');
	VString grown("x");
	ASSERT_TRUE(ExpandingConverter().ConvertString(input.data(), input.size(), &consumed, grown));
	EXPECT_EQ(consumed, input.size());
	ASSERT_EQ(grown.GetLength(), 1 + 3000 * 5);
	EXPECT_EQ(grown.GetUniChar(1), u'x');
	EXPECT_EQ(grown.GetUniChar(2), u'q');
	EXPECT_EQ(grown.GetUniChar(grown.GetLength()), u'q');
	// Even one byte alone, whose units need more room than one byte is first given.
	VString single;
	ASSERT_TRUE(ExpandingConverter().ConvertString("w", 1, &consumed, single));
	EXPECT_EQ(ToU16(single), u"wwwww");

	// An odd last byte of UTF-16 waits for the rest of its unit.
	VString units;
	const char16_t pair[] = u"hi";
	ASSERT_TRUE(ToUnicode(2)->ConvertString(pair, 5, &consumed, units));
	EXPECT_EQ(consumed, 4u);
	EXPECT_EQ(ToU16(units), u"hi");

	// The Void converter converts nothing.
	VString none("keep");
	EXPECT_TRUE(ToUnicode(0)->ConvertString("abc", 3, &consumed, none));
	EXPECT_EQ(consumed, 0u);
	EXPECT_EQ(ToU16(none), u"keep");
}

TEST(VTextConverterTest, ConvertReallocAndConvertToBufferAppend)
{
	// UTF-8 counts one byte per unit for sizing: CJK text needs further rounds with a larger block.
	std::u16string text;
	for (int i = 0; i < 500; ++i)
		text += u"\u65E5\u672Ca";
	VRefPtr<VFromUnicodeConverter> utf8 = FromUnicode(7);
	void* block = VObject::sCppMemMgr->Malloc(3, false, 0);
	std::memcpy(block, "pre", 3);
	size_t bytes = 3;
	ASSERT_TRUE(utf8->ConvertRealloc(text.data(), int32(text.size()), block, bytes, 1));
	ASSERT_EQ(bytes, 3 + 500 * 7u);
	EXPECT_EQ(std::memcmp(block, "pre\xE6\x97\xA5\xE6\x9C\xAC" "a", 10), 0);
	VString back;
	ASSERT_TRUE(VTextConverters::Get()->ConvertToVString(static_cast<uint8*>(block) + 3, bytes - 3, 7, back));
	EXPECT_EQ(ToU16(back), text);
	VObject::sCppMemMgr->Free(block);

	VMemoryBuffer<> buffer;
	ASSERT_TRUE(buffer.AddData("<", 1));
	const std::u16string abc = u"abc";
	ASSERT_TRUE(utf8->ConvertToBuffer(abc.data(), 3, buffer, 1));
	EXPECT_EQ(buffer.GetDataSize(), 5u);
	EXPECT_EQ(std::memcmp(buffer.GetDataPtr(), "<abc", 4), 0);

	VMemoryBuffer<> fresh;
	ASSERT_TRUE(utf8->ConvertToBuffer(abc.data(), 3, fresh, 1));
	EXPECT_EQ(fresh.GetDataSize(), 4u);
}

// A whole text converts whole or fails: UTF-8 writes lone surrogates inside the text, but a high surrogate
// that ends it waits for a partner that never comes; UTF-32 stops at any lone surrogate.
TEST(VTextConverterTest, WholeTextsWithLoneSurrogates)
{
	struct Row
	{
		CharSet charSet;
		std::u16string text;
		bool converted;
		Bytes bytes;  // when converted
	};
	const Row rows[] = {
		{kCharSet_UTF8, u"\xDC00" u"ab", true, {0xED, 0xB0, 0x80, 'a', 'b'}},
		{kCharSet_UTF8, u"a\xD800" u"b", true, {'a', 0xED, 0xA0, 0x80, 'b'}},
		{kCharSet_UTF8, u"\xD800", false, {}},
		{kCharSet_UTF8, u"ab\xD800", false, {}},
		{kCharSet_UTF32, u"\xDC00" u"ab", false, {}},
		{kCharSet_UTF32, u"a\xD800" u"b", false, {}},
		{kCharSet_UTF32, u"ab\xD800", false, {}},
		{kCharSet_UTF32Raw, u"a\xD800" u"b", true, {'a', 0, 0, 0, 0x00, 0xD8, 0, 0, 'b', 0, 0, 0}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.charSet << " " << row.text.size());
		VRefPtr<VFromUnicodeConverter> converter = FromUnicode(row.charSet);
		VMemoryBuffer<> buffer;
		ASSERT_TRUE(buffer.AddData("<", 1));
		EXPECT_EQ(converter->ConvertToBuffer(row.text.data(), int32(row.text.size()), buffer, 0), row.converted);
		if (!row.converted)
			continue;
		const uint8* data = static_cast<const uint8*>(buffer.GetDataPtr());
		EXPECT_EQ(Bytes(data + 1, data + buffer.GetDataSize()), row.bytes);
		VString back;
		ASSERT_TRUE(VTextConverters::Get()->ConvertToVString(data + 1, size_t(buffer.GetDataSize()) - 1, row.charSet, back));
		EXPECT_EQ(ToU16(back), row.text);
	}
}

TEST(VTextConverterTest, VoidConvertersConvertNothing)
{
	VToUnicodeConverter_Void to;
	VFromUnicodeConverter_Void from;
	EXPECT_FALSE(to.IsValid());
	EXPECT_FALSE(from.IsValid());
	size_t bytes = 9;
	int32 units = 9;
	UniChar out[4];
	EXPECT_FALSE(to.Convert("ab", 2, &bytes, out, 4, &units));
	EXPECT_EQ(bytes, 0u);
	EXPECT_EQ(units, 0);
	uint8 raw[4];
	EXPECT_FALSE(from.Convert(u"ab", 2, &units, raw, 4, &bytes));
	EXPECT_EQ(bytes, 0u);
	EXPECT_EQ(units, 0);
}

}  // namespace
}  // namespace velk
