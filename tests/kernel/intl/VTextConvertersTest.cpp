// The converter registry: handing out converters, the name table, byte-order marks, the UTF-8 recogniser,
// guessing, whole-string conversion and the legacy sets behind it.
#include "kernel/intl/VTextConverters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

using Bytes = std::vector<uint8>;

std::u16string ToU16(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VTextConverters& Registry()
{
	return *VTextConverters::Get();
}

TEST(VTextConvertersTest, GetMakesOneRegistryAcrossThreads)
{
	std::vector<VTextConverters*> seen(8, nullptr);
	std::vector<std::thread> threads;
	for (size_t i = 0; i < seen.size(); ++i)
		threads.emplace_back([&seen, i] { seen[i] = VTextConverters::Get(); });
	for (std::thread& thread : threads)
		thread.join();
	for (VTextConverters* registry : seen)
		EXPECT_EQ(registry, VTextConverters::Get());
	EXPECT_EQ(VTextConverters::sInstance, VTextConverters::Get());
}

TEST(VTextConvertersTest, ConvertersAreNeverNullAndInvalidOnlyWithoutASet)
{
	// Sets without a converter: none and unknown numbers.
	const std::vector<CharSet> invalid = {0, -1, 12, 50, 99, 121, 999, 1020};
	std::vector<CharSet> valid = {-2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
	for (CharSet charSet = 100; charSet <= 120; ++charSet)
		valid.push_back(charSet);
	for (CharSet charSet = 1000; charSet <= 1019; ++charSet)
		valid.push_back(charSet);

	for (CharSet charSet : valid)
	{
		SCOPED_TRACE(charSet);
		VRefPtr<VToUnicodeConverter> to(Registry().RetainToUnicodeConverter(charSet), true);
		VRefPtr<VFromUnicodeConverter> from(Registry().RetainFromUnicodeConverter(charSet), true);
		ASSERT_TRUE(to && from);
		EXPECT_TRUE(to->IsValid());
		EXPECT_TRUE(from->IsValid());
	}
	for (CharSet charSet : invalid)
	{
		SCOPED_TRACE(charSet);
		VRefPtr<VToUnicodeConverter> to(Registry().RetainToUnicodeConverter(charSet), true);
		VRefPtr<VFromUnicodeConverter> from(Registry().RetainFromUnicodeConverter(charSet), true);
		ASSERT_TRUE(to && from);
		EXPECT_FALSE(to->IsValid());
		EXPECT_FALSE(from->IsValid());
		EXPECT_EQ(to->GetRefCount(), 1);
	}

	// Cached converters come back as the same object with one more reference; others are new.
	VToUnicodeConverter* first = Registry().RetainToUnicodeConverter(7);
	const int32 count = first->GetRefCount();
	VToUnicodeConverter* second = Registry().RetainToUnicodeConverter(7);
	EXPECT_EQ(first, second);
	EXPECT_EQ(second->GetRefCount(), count + 1);
	second->Release();
	first->Release();
	EXPECT_EQ(first, Registry().GetStdLibToUnicodeConverter());
	VRefPtr<VToUnicodeConverter> big(Registry().RetainToUnicodeConverter(3), true);
	EXPECT_EQ(big->GetRefCount(), 1);
}

TEST(VTextConvertersTest, NameTableFirstRowWins)
{
	struct NameCase
	{
		const char16_t* name;
		CharSet charSet;
		int32 mib;
	};
	const NameCase names[] = {
		{u"utf-8", 7, 106}, {u"UTF-8", 7, 106}, {u"x-mac-ce", 102, 1250}, {u"X-MAC-CE", 102, 1250}, {u"UCS_4", 4, 1017},
		{u"latin1", 1005, 4}, {u"x-mac-chinesesimp", 1016, 2025}, {u"gbk", 117, 113}, {u"us", 9, 3}, {u"no-such-set", 0, 0},
		{u"", 0, 0},
	};
	for (const NameCase& c : names)
	{
		SCOPED_TRACE(std::u16string(c.name).size());
		const VString name(c.name);
		EXPECT_EQ(Registry().GetCharSetFromName(name), c.charSet);
		EXPECT_EQ(Registry().GetMIBEnumFromName(name), c.mib);
	}

	struct CharSetCase
	{
		CharSet charSet;
		const char16_t* name;
		int32 mib;
	};
	const CharSetCase charSets[] = {
		{4, u"UCS4", 1017}, {3, u"UCS4BE", 1018}, {7, u"UTF-8", 106}, {-2, u"", 0}, {100, u"MacRoman", 2027}, {114, u"x-mac-ce", 1257},
		{116, u"x-mac-chinesesimp", 2025}, {118, u"", 0}, {119, u"", 0}, {1019, u"Windows-31J", 2024}, {9999, u"", 0},
	};
	for (const CharSetCase& c : charSets)
	{
		SCOPED_TRACE(c.charSet);
		VString name("previous");
		Registry().GetNameFromCharSet(c.charSet, name);
		EXPECT_EQ(ToU16(name), c.name);
		EXPECT_EQ(Registry().GetMIBEnumFromCharSet(c.charSet), c.mib);
	}

	EXPECT_EQ(Registry().GetCharSetFromMIBEnum(1018), 3);
	EXPECT_EQ(Registry().GetCharSetFromMIBEnum(2025), 1016);
	EXPECT_EQ(Registry().GetCharSetFromMIBEnum(12345), 0);
	VString name("previous");
	Registry().GetNameFromMIBEnum(1017, name);
	EXPECT_EQ(ToU16(name), u"UCS4");
	Registry().GetNameFromMIBEnum(12345, name);
	EXPECT_EQ(ToU16(name), u"");
}

TEST(VTextConvertersTest, EnumeratesWebAndAllCharsets)
{
	std::vector<VString> names(3, VString("stale"));
	std::vector<CharSet> charSets(2, 99);
	Registry().EnumWebCharsets(names, charSets);
	ASSERT_EQ(names.size(), 21u);
	ASSERT_EQ(charSets.size(), 21u);
	EXPECT_EQ(ToU16(names[0]), u"UTF-8");
	EXPECT_EQ(ToU16(names[3]), u"Shift_JIS");
	EXPECT_EQ(charSets[3], 1000);
	EXPECT_EQ(ToU16(names.back()), u"GBK");

	Registry().EnumCharsets(names, charSets);
	ASSERT_EQ(names.size(), charSets.size());
	for (size_t i = 1; i < names.size(); ++i)
		EXPECT_NE(names[i - 1].CompareToString(names[i], false), CR_BIGGER) << i;
	const auto charSetOf = [&](const std::u16string& wanted) {
		std::vector<CharSet> found;
		for (size_t i = 0; i < names.size(); ++i)
		{
			if (ToU16(names[i]) == wanted)
				found.push_back(charSets[i]);
		}
		return found;
	};
	EXPECT_EQ(charSetOf(u"UCS4"), std::vector<CharSet>{4});
	EXPECT_EQ(charSetOf(u"UCS4BE"), std::vector<CharSet>{3});
	EXPECT_EQ(charSetOf(u"UCS4LE"), std::vector<CharSet>{4});
	EXPECT_TRUE(charSetOf(u"UCS_4").empty());  // follows "UCS4LE", another name of the same set
	EXPECT_TRUE(charSetOf(u"latin1").empty());
	EXPECT_EQ(charSetOf(u"x-mac-ce"), std::vector<CharSet>{114});
	EXPECT_EQ(charSetOf(u"x-mac-chinesesimp"), std::vector<CharSet>{116});
	EXPECT_EQ(charSetOf(u"GB2312"), std::vector<CharSet>{1016});
}

TEST(VTextConvertersTest, ParseBOMPrecedence)
{
	struct Case
	{
		const char* name;
		Bytes input;
		size_t size;
		CharSet charSet;
	};
	const Case cases[] = {
		{"UTF-8", {0xEF, 0xBB, 0xBF, 'a'}, 3, 7},
		{"UTF-8 cut", {0xEF, 0xBB}, 0, 0},
		{"UTF-32 little-endian before UTF-16", {0xFF, 0xFE, 0x00, 0x00, 0x41}, 4, 4},
		{"UTF-16 little-endian", {0xFF, 0xFE, 0x41, 0x00}, 2, 2},
		{"UTF-16 little-endian, two bytes", {0xFF, 0xFE}, 2, 2},
		{"UTF-32 big-endian", {0x00, 0x00, 0xFE, 0xFF}, 4, 3},
		{"zero first byte without the mark", {0x00, 0x00, 0xFF, 0xFE}, 0, 0},
		{"UTF-16 big-endian", {0xFE, 0xFF, 0x00, 0x41}, 2, 1},
		{"one byte", {0xFF}, 0, 0},
		{"nothing", {}, 0, 0},
		{"text", {'a', 'b', 'c', 'd'}, 0, 0},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		size_t size = 99;
		CharSet charSet = 99;
		EXPECT_EQ(VTextConverters::ParseBOM(c.input.data(), c.input.size(), &size, &charSet), c.size > 0);
		EXPECT_EQ(size, c.size);
		EXPECT_EQ(charSet, c.charSet);
		EXPECT_EQ(VTextConverters::ParseBOM(c.input.data(), c.input.size(), nullptr, nullptr), c.size > 0);
	}
}

TEST(VTextConvertersTest, BOMForEveryCharSet)
{
	const std::vector<std::pair<CharSet, Bytes>> cases = {
		{1, {0xFE, 0xFF}}, {2, {0xFF, 0xFE}}, {3, {0x00, 0x00, 0xFE, 0xFF}}, {4, {0xFF, 0xFE, 0x00, 0x00}}, {5, {}}, {6, {}},
		{7, {0xEF, 0xBB, 0xBF}}, {0, {}}, {-2, {}}, {8, {}}, {1000, {}}, {INT32_MIN, {}}, {INT32_MAX, {}},
	};
	for (const auto& [charSet, bom] : cases)
	{
		SCOPED_TRACE(charSet);
		size_t size = 99;
		const uint8* bytes = VTextConverters::GetBOMForCharSet(charSet, &size);
		ASSERT_EQ(size, bom.size());
		EXPECT_EQ(bytes == nullptr, bom.empty());
		if (bytes != nullptr)
		{
			EXPECT_EQ(Bytes(bytes, bytes + size), bom);
		}
		// Every mark is recognised again as its own set.
		if (!bom.empty())
		{
			CharSet parsed = 0;
			EXPECT_TRUE(VTextConverters::ParseBOM(bom.data(), bom.size(), &size, &parsed));
			EXPECT_EQ(parsed, charSet);
		}
	}
}

// An independent well-formedness check, by code point ranges rather than by table.
bool IsWellFormedUTF8(const uint8* bytes, size_t count)
{
	size_t i = 0;
	while (i < count)
	{
		const uint8 lead = bytes[i];
		size_t length;
		uint32 value;
		uint32 minimum;
		if (lead < 0x80)
		{
			++i;
			continue;
		}
		if ((lead & 0xE0) == 0xC0)
		{
			length = 2;
			value = lead & 0x1F;
			minimum = 0x80;
		}
		else if ((lead & 0xF0) == 0xE0)
		{
			length = 3;
			value = lead & 0x0F;
			minimum = 0x800;
		}
		else if ((lead & 0xF8) == 0xF0)
		{
			length = 4;
			value = lead & 0x07;
			minimum = 0x10000;
		}
		else
		{
			return false;
		}
		if (i + length > count)
			return false;
		for (size_t k = 1; k < length; ++k)
		{
			if ((bytes[i + k] & 0xC0) != 0x80)
				return false;
			value = (value << 6) | (bytes[i + k] & 0x3F);
		}
		if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
			return false;
		i += length;
	}
	return true;
}

TEST(VTextConvertersTest, DetectUTF8AgreesWithAnIndependentCheck)
{
	EXPECT_TRUE(VTextConverters::DetectUTF8(nullptr, 0));
	EXPECT_TRUE(VTextConverters::DetectUTF8(reinterpret_cast<const uint8*>("x"), -1));

	uint8 bytes[4];
	size_t mismatches = 0;
	for (uint32 value = 0; value < (1u << 24); ++value)
	{
		bytes[0] = uint8(value >> 16);
		bytes[1] = uint8(value >> 8);
		bytes[2] = uint8(value);
		// Every 3-byte sequence, and every 1- and 2-byte one once, as the prefix of a sequence ending in zeros.
		const int32 shortest = bytes[2] != 0 ? 3 : bytes[1] != 0 ? 2 : 1;
		for (int32 length = shortest; length <= 3; ++length)
		{
			if (VTextConverters::DetectUTF8(bytes, length) != IsWellFormedUTF8(bytes, size_t(length)) && ++mismatches < 10)
				ADD_FAILURE() << std::hex << value << " length " << length;
		}
	}
	// Four-byte sequences with every possible lead and continuation bytes at the class boundaries.
	const uint8 boundaries[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF4, 0xFF};
	for (uint32 lead = 0xF0; lead <= 0xF4; ++lead)
	{
		for (uint8 b1 : boundaries)
			for (uint8 b2 : boundaries)
				for (uint8 b3 : boundaries)
				{
					const uint8 sequence[4] = {uint8(lead), b1, b2, b3};
					EXPECT_EQ(VTextConverters::DetectUTF8(sequence, 4), IsWellFormedUTF8(sequence, 4))
						<< std::hex << lead << " " << int(b1) << " " << int(b2) << " " << int(b3);
				}
	}
	EXPECT_EQ(mismatches, 0u);

	const Bytes rejected[] = {{0xC0, 0x80}, {0xED, 0xA0, 0x80}, {0xF4, 0x90, 0x80, 0x80}, {'a', 0xE2, 0x82}};
	for (const Bytes& input : rejected)
		EXPECT_FALSE(VTextConverters::DetectUTF8(input.data(), int32(input.size())));
	const uint8 euro[] = {0xE2, 0x82, 0xAC};
	EXPECT_TRUE(VTextConverters::DetectUTF8(euro, 3));
}

TEST(VTextConvertersTest, GuessCharsetWithNoBom)
{
	struct Case
	{
		const char* name;
		Bytes input;
		CharSet defaultSet;
		bool checkUTF8;
		bool result;
		CharSet charSet;
	};
	std::string longLatin1(3000, 'a');
	longLatin1[2500] = char(0xE9);  // past the window that is checked
	const Case cases[] = {
		{"UTF-16 little-endian pattern", {'a', 0, 'b', 0}, 9, false, true, 2},
		{"ASCII in UTF-16 is well-formed UTF-8", {'a', 0, 'b', 0}, 9, true, true, 7},
		{"UTF-16 big-endian pattern", {0, 'a', 0, 'b'}, 9, false, true, 1},
		{"ASCII with a UTF-16 default", {'a', 'b', 'c', 'd'}, 2, false, true, 7},
		{"ASCII with another default", {'a', 'b', 'c', 'd'}, 9, false, false, 9},
		{"one cut sequence", {0xC3}, 9, true, false, 9},
		{"UTF-8 text", {'c', 'a', 'f', 0xC3, 0xA9}, 9, true, true, 7},
		{"Latin-1 text", {'c', 'a', 'f', 0xE9, '!'}, 9, true, false, 9},
		{"Latin-1 text keeps a UTF-16 guess", {'a', 0, 0xE9, 0}, 9, true, true, 2},
		{"nothing", {}, 9, true, false, 9},
		{"only the window is checked", Bytes(longLatin1.begin(), longLatin1.end()), 9, true, true, 7},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		CharSet charSet = c.defaultSet;
		EXPECT_EQ(VTextConverters::GuessCharsetWithNoBom(c.input.data(), int32(c.input.size()), &charSet, c.checkUTF8), c.result);
		EXPECT_EQ(charSet, c.charSet);
	}
}

TEST(VTextConvertersTest, ConvertToVStringAnswersFalseWhenItStoppedEarly)
{
	struct Case
	{
		const char* name;
		std::string input;
		CharSet charSet;
		bool result;
		std::u16string text;
	};
	const Case cases[] = {
		{"UTF-8", "caf\xC3\xA9", 7, true, u"caf\u00E9"},
		{"UTF-8 cut at the end", "ab\xE2\x82", 7, false, u"ab"},
		{"no converter", "abc", 0, false, u""},
		{"no converter, no bytes", "", 0, true, u""},
		{"UTF-16 with an odd byte", std::string("a\0b\0c", 5), 2, false, u"ab"},
		{"UTF-16", std::string("a\0b\0", 4), 2, true, u"ab"},
		{"big-endian UTF-16", std::string("\0a\0b", 4), 1, true, u"ab"},
		{"UTF-32 cut", std::string("a\0\0\0b", 5), 4, false, u"a"},
		{"platform default", "caf\x8E", -2, true, u"caf\u00E9"},
		{"Shift_JIS cut", "a\x82", 1000, false, u"a"},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		VString text("previous text");
		EXPECT_EQ(Registry().ConvertToVString(c.input.data(), c.input.size(), c.charSet, text), c.result);
		EXPECT_EQ(ToU16(text), c.text);
	}
}

// Round trips through the legacy sets, both directions through the registry.
TEST(VTextConvertersTest, LegacyRoundTrips)
{
	struct Case
	{
		CharSet charSet;
		std::u16string text;
		std::string bytes;
	};
	const Case cases[] = {
		{101, u"\u20AC5", "\x80" "5"},
		{1018, u"\u20AC5", "\xA4" "5"},
		{100, u"\u20AC\u00E9", "\xDB\x8E"},
		{-2, u"\u20AC\u00E9", "\xDB\x8E"},
		{102, u"\u0104", "\x84"},
		{114, u"\u0104", "\x84"},
		{1004, u"\u0416", "\xF6"},
		{10, u"A?", "\xC1\x6F"},
		{9, u"plain", "plain"},
		{1000, u"\u3042a", "\x82\xA0" "a"},
		{1001, u"a\u65E5b", "a\x1B$BF|\x1B(Bb"},
		{1003, u"\uAC00", "\xB0\xA1"},
		{117, u"\u4E2D", "\xD6\xD0"},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.charSet);
		VString text;
		ASSERT_TRUE(Registry().ConvertToVString(c.bytes.data(), c.bytes.size(), c.charSet, text));
		EXPECT_EQ(ToU16(text), c.text);

		char out[32] = {};
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(Registry().ConvertFromVString(VString(c.text.data(), int32(c.text.size())), &consumed, out, sizeof(out), &produced, c.charSet));
		EXPECT_EQ(consumed, int32(c.text.size()));
		EXPECT_EQ(std::string(out, produced), c.bytes);
	}
}

TEST(VTextConvertersTest, LegacyUnmappableAndCutCharacters)
{
	VRefPtr<VFromUnicodeConverter> ascii(Registry().RetainFromUnicodeConverter(9), true);
	char out[16] = {};
	int32 consumed = 0;
	size_t produced = 0;
	ASSERT_TRUE(ascii->Convert(u"\u00E9", 1, &consumed, out, sizeof(out), &produced));
	EXPECT_EQ(consumed, 1);
	EXPECT_EQ(std::string(out, produced), "?");

	// One "?" for a supplementary character, consuming both units.
	ASSERT_TRUE(ascii->Convert(u"\U0001F600b", 3, &consumed, out, sizeof(out), &produced));
	EXPECT_EQ(consumed, 3);
	EXPECT_EQ(std::string(out, produced), "?b");

	// No room for the "?": the conversion stops before the character instead of dropping it.
	ASSERT_TRUE(ascii->Convert(u"a\u00E9b", 3, &consumed, out, 1, &produced));
	EXPECT_EQ(consumed, 1);
	EXPECT_EQ(std::string(out, produced), "a");

	// Nothing to write into: nothing done, and no error.
	EXPECT_TRUE(ascii->Convert(u"a", 1, &consumed, out, 0, &produced));
	EXPECT_EQ(consumed, 0);
	EXPECT_EQ(produced, 0u);

	// A Shift_JIS lead byte at the end waits for the next call.
	VRefPtr<VToUnicodeConverter> sjis(Registry().RetainToUnicodeConverter(1000), true);
	UniChar units[8] = {};
	size_t bytes = 0;
	int32 count = 0;
	ASSERT_TRUE(sjis->Convert("a\x82", 2, &bytes, units, 8, &count));
	EXPECT_EQ(bytes, 1u);
	ASSERT_EQ(count, 1);
	EXPECT_EQ(units[0], u'a');
	ASSERT_TRUE(sjis->Convert("\x82\xA0", 2, &bytes, units, 8, &count));
	EXPECT_EQ(bytes, 2u);
	ASSERT_EQ(count, 1);
	EXPECT_EQ(units[0], 0x3042);
}

TEST(VTextConvertersTest, PlatformDefaultConverterServesManyThreads)
{
	VToUnicodeConverter* to = Registry().RetainToUnicodeConverter(-2);
	VFromUnicodeConverter* from = Registry().RetainFromUnicodeConverter(-2);
	std::atomic<int> failures{0};
	std::vector<std::thread> threads;
	for (int t = 0; t < 8; ++t)
	{
		threads.emplace_back([&, t] {
			std::u16string text = u"th\u00E9 \u20AC ";
			text += char16_t(u'a' + t);
			for (int i = 0; i < 300; ++i)
			{
				char bytes[32];
				int32 consumed = 0;
				size_t produced = 0;
				if (!from->Convert(text.data(), int32(text.size()), &consumed, bytes, sizeof(bytes), &produced) || consumed != int32(text.size()))
					++failures;
				UniChar back[32];
				size_t read = 0;
				int32 count = 0;
				if (!to->Convert(bytes, produced, &read, back, 32, &count) || std::u16string(back, size_t(count)) != text)
					++failures;
				VString viaRegistry;
				if (!VTextConverters::Get()->ConvertToVString(bytes, produced, -2, viaRegistry) || ToU16(viaRegistry) != text)
					++failures;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(failures.load(), 0);
	to->Release();
	from->Release();
}

}  // namespace
}  // namespace velk
