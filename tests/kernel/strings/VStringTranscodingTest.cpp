// String transcoding: XML and JSON escaping (round trips on random text, inner zeros, references beyond
// U+FFFF, aliasing), hexadecimal text, line ends in strings and in 8-, 16- and 32-bit buffers of either
// byte order, identifiers, date shapes and a result buffer that cannot be made.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files/VSystem.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

VString Make(const std::u16string& text)
{
	return VString(text.data(), int32(text.size()));
}

std::string Narrow(const std::u16string& text)
{
	std::string out;
	for (char16_t c : text)
		out += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
	return out;
}

// Random units weighted towards what escaping touches: markup, quotes, controls, backslashes, zeros and
// surrogates.
std::u16string RandomText(std::mt19937& random, size_t length)
{
	static const char16_t kSpecial[] = u"&<>\"'\\/\b\t\n\f\r\x01\x1F\x7F;#xu0";
	std::u16string text;
	for (size_t i = 0; i < length; ++i)
	{
		switch (random() % 4)
		{
			case 0:
				text += kSpecial[random() % (std::size(kSpecial) - 1)];
				break;
			case 1:
				text += char16_t(random() % 0x80);
				break;
			case 2:
				text += char16_t(random() % 0x10000);
				break;
			default:
				text += char16_t(u'a' + random() % 26);
				break;
		}
	}
	return text;
}

TEST(VStringTranscodingTest, XMLEscaping)
{
	struct Row
	{
		std::u16string text;
		bool escapeControls;
		std::u16string expected;
	};
	const Row rows[] = {
		{u"a<b & 'c'", false, u"a&lt;b &amp; &apos;c&apos;"},
		{u"\"x\" > y", false, u"&quot;x&quot; &gt; y"},
		{u"\x01", true, u"&#x01;"},
		{u"\x7F\x1F\x0B\x0C", true, u"&#x7F;&#x1F;&#x0B;&#x0C;"},
		{u"\x01\x7F", false, u"\x01\x7F"},
		{u"\t\n\r", true, u"\t\n\r"},
		{u"plain \u00E9 text", true, u"plain \u00E9 text"},
		{u"", true, u""},
		// An inner zero neither stops the scan nor drops what follows it.
		{std::u16string(u"a\0<b", 4), false, std::u16string(u"a\0&lt;b", 7)},
		{std::u16string(u"<\0\x01", 3), true, std::u16string(u"&lt;\0&#x01;", 11)},
	};
	for (const Row& r : rows)
	{
		VString s = Make(r.text);
		s.TranscodeToXML(r.escapeControls);
		EXPECT_EQ(Text(s), r.expected) << Narrow(r.text);
	}

	// Nothing to escape: the buffer is not touched, so a sharer keeps sharing it.
	VString heap(u"a text long enough for a heap buffer, without markup");
	VString sharer(heap);
	heap.TranscodeToXML(true);
	EXPECT_EQ(heap.GetCPointer(), sharer.GetCPointer());

	VString self(u"1 < 2");
	self.GetXMLString(self);
	EXPECT_EQ(Text(self), u"1 &lt; 2");
	VString out;
	VString(u"\x01&").GetXMLString(out, 0xFFFFFFFF);
	EXPECT_EQ(Text(out), u"\x01&amp;");
}

TEST(VStringTranscodingTest, XMLUnescaping)
{
	struct Row
	{
		std::u16string text;
		std::u16string expected;
	};
	const Row rows[] = {
		{u"&apos;&quot;", u"'\""},
		{u"&lt;&gt;&amp;", u"<>&"},
		{u"&#x41;&#65;", u"A&#65;"},
		{u"&#x1F600;", u"\U0001F600"},
		{u"&#x10000;", u"\U00010000"},
		{u"&#x10FFFF;", u"\U0010FFFF"},
		{u"&#xe9;&#xE9;", u"\u00E9\u00E9"},
		{u"&#x0000000041;", u"A"},
		{u"&#x110000;", u"&#x110000;"},
		{u"&#xFFFFFFFFF41;", u"&#xFFFFFFFFF41;"},
		{u"&#x0;", u"&#x0;"},
		{u"&#x;", u"&#x;"},
		{u"&#x4G;", u"&#x4G;"},
		{u"&#x41", u"&#x41"},
		{u"&#X41;", u"&#X41;"},
		{u"&amp", u"&amp"},
		{u"&AMP;", u"&AMP;"},
		{u"&nbsp;", u"&nbsp;"},
		{u"&amp;lt;", u"&lt;"},
		{u"&&lt;", u"&<"},
		{u"a & b", u"a & b"},
		{std::u16string(u"x\0&amp;y", 8), std::u16string(u"x\0&y", 4)},
	};
	for (const Row& r : rows)
	{
		VString s = Make(r.text);
		s.TranscodeFromXML();
		EXPECT_EQ(Text(s), r.expected) << Narrow(r.text);
		VString read;
		EXPECT_TRUE(read.FromXMLString(Make(r.text)));
		EXPECT_EQ(Text(read), r.expected) << Narrow(r.text);
	}
}

TEST(VStringTranscodingTest, XMLRoundTripsOnRandomText)
{
	std::mt19937 random(11);
	for (int i = 0; i < 500; ++i)
	{
		const std::u16string text = RandomText(random, random() % 200);
		for (bool escapeControls : {false, true})
		{
			VString s = Make(text);
			s.TranscodeToXML(escapeControls);
			const std::u16string escaped = Text(s);
			ASSERT_EQ(escaped.find_first_of(u"<>\"'"), std::u16string::npos);
			if (escapeControls)
			{
				ASSERT_EQ(escaped.find_first_of(u"\x01\x02\x08\x0B\x1F\x7F"), std::u16string::npos);
			}
			s.TranscodeFromXML();
			ASSERT_EQ(Text(s), text) << i;
		}
	}
}

TEST(VStringTranscodingTest, JSONEscaping)
{
	struct Row
	{
		std::u16string text;
		uint32 options;
		std::u16string expected;
	};
	const Row rows[] = {
		{u"a\"b", 1, u"\"a\\\"b\""},
		{u"a\"b", 0, u"a\\\"b"},
		{u"\b\t\n\f\r\\", 0, u"\\b\\t\\n\\f\\r\\\\"},
		{u"\x01\x1F\x7F", 0, u"\\u0001\\u001F\\u007F"},
		{u"&'", 0, u"&'"},
		{u"&'", 1024, u"\\u0026\\u0027"},
		{u"/\u00E9\U0001F600", 0, u"/\u00E9\U0001F600"},
		{std::u16string(u"a\0b", 3), 0, u"a\\u0000b"},
		{u"", 1, u"\"\""},
		{u"raw \"\n\"", 16, u"raw \"\n\""},
		{u"raw \"", 17, u"\"raw \"\""},
	};
	for (const Row& r : rows)
	{
		VString out(u"previous content");
		EXPECT_EQ(Make(r.text).GetJSONString(out, r.options), VE_OK);
		EXPECT_EQ(Text(out), r.expected) << Narrow(r.text) << " options " << r.options;

		// Into itself.
		VString self = Make(r.text);
		EXPECT_EQ(self.GetJSONString(self, r.options), VE_OK);
		EXPECT_EQ(Text(self), r.expected) << Narrow(r.text) << " options " << r.options;
	}
}

TEST(VStringTranscodingTest, JSONUnescaping)
{
	struct Row
	{
		std::u16string json;
		uint32 options;
		std::u16string expected;
	};
	const Row rows[] = {
		{u"\\u00e9", 0, u"\u00E9"},
		{u"\\uD83D\\uDE00", 0, u"\U0001F600"},
		{u"\\u12", 0, u"u"},
		{u"a\\u1234567", 0, u"a\u1234567"},
		{u"a\\u123 rest", 0, u"a\u0123rest"},
		{u"x\\", 0, u"x"},
		{u"\\b\\f\\n\\r\\t", 0, u"\b\f\n\r\t"},
		{u"\\q\\\"\\\\\\/", 0, u"q\"\\/"},
		{u"\\u0g41", 0, u"A"},
		{u"\"quoted\"", 0, u"\"quoted\""},
		{u"\\n\\u0041", 16, u"\\n\\u0041"},
		{std::u16string(u"a\0\\n", 4), 0, std::u16string(u"a\0\n", 3)},
	};
	for (const Row& r : rows)
	{
		VString s(u"previous");
		EXPECT_EQ(s.FromJSONString(Make(r.json), r.options), VE_OK);
		EXPECT_EQ(Text(s), r.expected) << Narrow(r.json);

		VString self = Make(r.json);
		EXPECT_EQ(self.FromJSONString(self, r.options), VE_OK);
		EXPECT_EQ(Text(self), r.expected) << Narrow(r.json);
	}
}

TEST(VStringTranscodingTest, JSONRoundTripsOnRandomText)
{
	std::mt19937 random(5);
	for (int i = 0; i < 500; ++i)
	{
		const std::u16string text = RandomText(random, random() % 200);
		for (uint32 options : {0u, 1024u})
		{
			VString json;
			ASSERT_EQ(Make(text).GetJSONString(json, options), VE_OK);
			for (char16_t c : Text(json))
				ASSERT_FALSE(c < 0x20 || c == 0x7F) << i;
			VString back;
			ASSERT_EQ(back.FromJSONString(json, options), VE_OK);
			ASSERT_EQ(Text(back), text) << i;
		}
	}
}

TEST(VStringTranscodingTest, HexadecimalText)
{
	struct ParseRow
	{
		const char16_t* text;
		int64 value;
	};
	const ParseRow parses[] = {
		{u"1F", 0x1F},
		{u"0x1f", 0x1F},
		{u"12 34", 0x1234},
		{u"g1", 1},
		{u"", 0},
		{u"xyz", 0},
		{u"FFFFFFFFFFFFFFFF", -1},
		{u"123456789ABCDEF01", int64(0x23456789ABCDEF01)},
	};
	for (const ParseRow& r : parses)
		EXPECT_EQ(VString(r.text).GetHexLong(), r.value) << Narrow(r.text);

	struct TextRow
	{
		int bits;
		int64 value;
		const char16_t* plain;
		const char16_t* cStyle;
	};
	const TextRow texts[] = {
		{64, 0x1F, u"1F", u"0x001F"},
		{64, 0, u"0", u"0x0000"},
		{64, 0xFFFF, u"FFFF", u"0xFFFF"},
		{64, 0x10000, u"10000", u"0x00010000"},
		{64, 0x12345678, u"12345678", u"0x12345678"},
		{64, 0x123456789, u"123456789", u"0x0000000123456789"},
		{64, -1, u"FFFFFFFFFFFFFFFF", u"0xFFFFFFFFFFFFFFFF"},
		{32, 0x12345, u"12345", u"0x00012345"},
		{32, 0xABC, u"ABC", u"0x0ABC"},
		{32, 0, u"0", u"0x0000"},
		{32, -1, u"FFFFFFFF", u"0xFFFFFFFF"},
		{8, 255, u"FF", u"0xFF"},
		{8, 7, u"7", u"0x07"},
		{8, 0, u"0", u"0x00"},
		{0, -1, u"FF", u"0xFF"},  // a char
		{0, 'A', u"41", u"0x41"},
	};
	for (const TextRow& r : texts)
	{
		for (bool cStyle : {false, true})
		{
			VString s(u"previous");
			switch (r.bits)
			{
				case 64:
					s.FromHexLong(int64(r.value), cStyle);
					break;
				case 32:
					s.FromHexLong(int32(r.value), cStyle);
					break;
				case 8:
					s.FromHexLong(uint8(r.value), cStyle);
					break;
				default:
					s.FromHexLong(char(r.value), cStyle);
					break;
			}
			EXPECT_EQ(Text(s), cStyle ? r.cStyle : r.plain) << r.bits << " bits, " << r.value;
			EXPECT_EQ(s.GetHexLong(), r.bits == 64 ? r.value : int64(uint64(r.value) & (r.bits == 32 ? 0xFFFFFFFFu : 0xFFu)));
		}
	}
}

// The line-end cases shared by strings and buffers.
struct LineEndRow
{
	std::u16string text;
	ECarriageReturnMode mode;
	std::u16string expected;
};

const std::vector<LineEndRow>& LineEndRows()
{
	static const std::vector<LineEndRow> rows = {
		{u"a\nb\r\nc\rd", eCRM_CRLF, u"a\r\nb\r\nc\r\nd"},
		{u"a\r\nb\nc", eCRM_CR, u"a\rb\rc"},
		{u"a\r\nb\rc", eCRM_LF, u"a\nb\nc"},
		{u"a\r\nb\rc\n", eCRM_NONE, u"a\r\nb\rc\n"},
		{u"a\r\nb\rc\n", ECarriageReturnMode(9), u"a\r\nb\rc\n"},
		{u"\n\r", eCRM_CRLF, u"\r\n\r\n"},
		{u"\r\r\n\n", eCRM_CRLF, u"\r\n\r\n\r\n"},
		{u"\r\r\n\n", eCRM_LF, u"\n\n\n"},
		{u"\r\r\n\n", eCRM_CR, u"\r\r\r"},
		{u"\n\n\n", eCRM_CR, u"\r\r\r"},
		{u"\r\r", eCRM_LF, u"\n\n"},
		{u"\r", eCRM_CRLF, u"\r\n"},
		{u"no line end", eCRM_CRLF, u"no line end"},
		{u"", eCRM_LF, u""},
		// Units that hold the bytes of CR and LF are not line ends.
		{u"\u0D0A\u0A0D\u010D\u0A00x\n", eCRM_CRLF, u"\u0D0A\u0A0D\u010D\u0A00x\r\n"},
		{u"\u0D0A\u0A0D\u010D\u0A00x\n", eCRM_CR, u"\u0D0A\u0A0D\u010D\u0A00x\r"},
	};
	return rows;
}

TEST(VStringTranscodingTest, LineEndDetectionAndStringConversion)
{
	struct DetectRow
	{
		const char16_t* text;
		ECarriageReturnMode expected;
	};
	const DetectRow detections[] = {
		{u"a\rb\nc", eCRM_CR},
		{u"a\r\n", eCRM_CRLF},
		{u"a\nb\r\n", eCRM_LF},
		{u"a\r", eCRM_CR},
		{u"abc", ECarriageReturnMode(7)},
		{u"", ECarriageReturnMode(7)},
	};
	for (const DetectRow& r : detections)
		EXPECT_EQ(VString(r.text).GetCarriageReturnMode(ECarriageReturnMode(7)), r.expected) << Narrow(r.text);

	for (const LineEndRow& r : LineEndRows())
	{
		VString s = Make(r.text);
		s.ConvertCarriageReturns(r.mode);
		EXPECT_EQ(Text(s), r.expected) << Narrow(r.text) << " mode " << r.mode;
		EXPECT_EQ(s.GetCPointer()[s.GetLength()], 0);
	}

	// A shared buffer is copied before the change; a long text grows in one go.
	VString original(u"first line\nsecond line\nthird line\n");
	VString converted(original);
	converted.ConvertCarriageReturns(eCRM_CRLF);
	EXPECT_EQ(Text(converted), u"first line\r\nsecond line\r\nthird line\r\n");
	EXPECT_EQ(Text(original), u"first line\nsecond line\nthird line\n");
	std::u16string many;
	for (int i = 0; i < 2000; ++i)
		many += u"line\n";
	VString big = Make(many);
	big.ConvertCarriageReturns(eCRM_CRLF);
	EXPECT_EQ(big.GetLength(), 12000);
	big.ConvertCarriageReturns(eCRM_LF);
	EXPECT_EQ(Text(big), many);
}

// The text encoded in units of the character set: bytes (values above 0xFF are not used with them),
// 16- or 32-bit units in big-endian or machine order.
std::vector<uint8> Encode(const std::u16string& text, CharSet set)
{
	std::vector<uint8> bytes;
	const bool big = set == 1 || set == 3 || set == 5;
	const size_t width = (set == 1 || set == 2) ? 2 : (set >= 3 && set <= 6) ? 4 : 1;
	for (char16_t c : text)
	{
		uint8 unit[4];
		for (size_t i = 0; i < width; ++i)
		{
			const size_t shift = big ? 8 * (width - 1 - i) : 8 * i;
			unit[i] = uint8(uint32(c) >> shift);
		}
		if (std::endian::native == std::endian::big && !big && width > 1)
			std::reverse(unit, unit + width);
		bytes.insert(bytes.end(), unit, unit + width);
	}
	return bytes;
}

std::vector<uint8> Bytes(const VMemoryBuffer<>& buffer)
{
	return std::vector<uint8>(buffer.GetDataPtr(), buffer.GetDataPtr() + buffer.GetDataSize());
}

TEST(VStringTranscodingTest, LineEndsInBuffersOfEveryUnitWidth)
{
	for (CharSet set : {1, 2, 3, 4, 5, 6, 7, 100})
	{
		for (const LineEndRow& r : LineEndRows())
		{
			const bool bytesOnly = set == 7 || set == 100;
			if (bytesOnly && r.text.find_first_of(u"\u0D0A\u0A0D\u010D\u0A00") != std::u16string::npos)
				continue;
			VMemoryBuffer<> buffer;
			const std::vector<uint8> input = Encode(r.text, set);
			ASSERT_TRUE(buffer.AddData(input.data(), input.size()));
			VString::ConvertCarriageReturns(buffer, set, r.mode);
			EXPECT_EQ(Bytes(buffer), Encode(r.expected, set)) << "set " << set << " mode " << r.mode << " " << Narrow(r.text);
		}
	}

	// A buffer with no spare room at all grows to the converted size; bytes behind the last whole unit stay.
	VMemoryBuffer<> source;
	std::vector<uint8> input = Encode(u"a\nb\nc\n", 2);
	input.push_back(0xEE);
	ASSERT_TRUE(source.AddData(input.data(), input.size()));
	VMemoryBuffer<> exact;
	exact = source;
	ASSERT_EQ(exact.GetAllocatedSize(), input.size());
	VString::ConvertCarriageReturns(exact, 2, eCRM_CRLF);
	std::vector<uint8> expected = Encode(u"a\r\nb\r\nc\r\n", 2);
	expected.push_back(0xEE);
	EXPECT_EQ(Bytes(exact), expected);

	// Set 0 leaves the buffer alone; an empty buffer stays empty.
	VMemoryBuffer<> none;
	ASSERT_TRUE(none.AddData("a\nb", 3));
	VString::ConvertCarriageReturns(none, 0, eCRM_CRLF);
	EXPECT_EQ(Bytes(none), std::vector<uint8>({'a', '\n', 'b'}));
	VMemoryBuffer<> empty;
	VString::ConvertCarriageReturns(empty, 7, eCRM_CRLF);
	EXPECT_EQ(empty.GetDataSize(), 0u);
}

TEST(VStringTranscodingTest, IdentifiersAndDateShapes)
{
	struct NameRow
	{
		const char16_t* text;
		const char16_t* name;
	};
	const NameRow names[] = {
		{u"2nd item-x", u"_2nditemx"},
		{u"$a_b", u"$a_b"},
		{u"\u00E99", u"9"},
		{u"9", u"_9"},
		{u"", u""},
		{u"- .", u""},
	};
	for (const NameRow& r : names)
	{
		VString out(u"previous");
		VString(r.text).GetCleanJSName(out);
		EXPECT_EQ(Text(out), r.name) << Narrow(r.text);
		VString self(r.text);
		self.GetCleanJSName(self);
		EXPECT_EQ(Text(self), r.name) << Narrow(r.text);
	}

	struct DateRow
	{
		const char16_t* text;
		bool iso;
		bool nonAmbiguous;
	};
	const DateRow dates[] = {
		{u"2024-02-30", true, false},
		{u"!!2024-02-30!!", false, true},
		{u"2024-2-30", false, false},
		{u"2024/02/30", false, false},
		{u"2024-02-300", false, false},
		{u"\uFF12024-02-30", false, false},
		{u"!2024-02-30!!", false, false},
		{u"!!2024-02-30!?", false, false},
		{u"", false, false},
	};
	for (const DateRow& r : dates)
	{
		EXPECT_EQ(VString(r.text).IsISODate(), r.iso) << Narrow(r.text);
		EXPECT_EQ(VString(r.text).IsNonAmbigousDate(), r.nonAmbiguous) << Narrow(r.text);
	}
}

TEST(VStringTranscodingTest, FromJSONStringReportsABufferThatCannotGrow)
{
	// A wrapped text of the largest length a string can have: its result buffer can never be made, and
	// the failure comes before any unit is read, so the untouched pages cost nothing.
	const int32 length = INT32_MAX - 1;
	const size_t bytes = (size_t(length) + 1) * sizeof(UniChar);
	void* memory = VSystem::VirtualAlloc(bytes, nullptr);
	if (memory == nullptr)
		GTEST_SKIP() << "4 GiB of address space could not be reserved";
	{
		const VString huge(static_cast<UniChar*>(memory), length, SIZE_MAX);
		ASSERT_EQ(huge.GetLength(), length);
		VString s(u"keeps its text");
		VTask::FlushErrors();
		EXPECT_EQ(s.FromJSONString(huge, 0), VE_STRING_ALLOC_FAILED);
		EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
		EXPECT_EQ(Text(s), u"keeps its text");
		VTask::FlushErrors();
	}
	VSystem::VirtualFree(memory, bytes, false);
}

}  // namespace
}  // namespace velk
