// Legacy character sets through the registry: the ASCII range in every ASCII-based set, shifted text
// through a small room, conversions from many threads at once, and character-set names.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

std::u16string ToU16(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

VTextConverters& Registry()
{
	return *VTextConverters::Get();
}

// Every legacy set of the platform whose bytes 0x00-0x7F are ASCII (not EBCDIC, ISO-2022-JP, UTF-7, nor
// Mac Japanese, whose 0x5C is the yen sign).
constexpr CharSet kASCIIBasedSets[] = {-2,	 9,	   11,	 100,  101,	 102,  103,	 104,  105,	 106,  107,	 108,  109,	 110,  111,	 112,
									   113,	 114,  115,	 116,  117,	 118,  119,	 1000, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009,
									   1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017, 1018, 1019};

TEST(VLegacyConverterTest, ASCIIBytesStandForThemselves)
{
	std::string ascii(128, '\0');
	std::u16string units(128, u'\0');
	for (size_t i = 0; i < 128; ++i)
	{
		ascii[i] = char(i);
		units[i] = char16_t(i);
	}
	for (CharSet charSet : kASCIIBasedSets)
	{
		SCOPED_TRACE(charSet);
		VRefPtr<VToUnicodeConverter> to(Registry().RetainToUnicodeConverter(charSet), true);
		VRefPtr<VFromUnicodeConverter> from(Registry().RetainFromUnicodeConverter(charSet), true);
		ASSERT_TRUE(to->IsValid() && from->IsValid());

		UniChar decoded[128] = {};
		size_t read = 0;
		int32 count = 0;
		ASSERT_TRUE(to->Convert(ascii.data(), ascii.size(), &read, decoded, 128, &count));
		EXPECT_EQ(read, ascii.size());
		EXPECT_EQ(std::u16string(decoded, size_t(count)), units);

		char encoded[128] = {};
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(from->Convert(units.data(), int32(units.size()), &consumed, encoded, sizeof(encoded), &produced));
		EXPECT_EQ(consumed, int32(units.size()));
		EXPECT_EQ(std::string(encoded, produced), ascii);
	}
}

// A caller decoding through a small buffer, call after call, reads what a whole-text conversion reads;
// a call that cannot place the shifted run ahead converts nothing, and the caller gives more room.
TEST(VLegacyConverterTest, ShiftedTextThroughASmallRoom)
{
	const std::u16string text = u"\u65E5\u672C\u8A9E and \u304B\u306A, \u00E9t\u00E9.";
	for (CharSet charSet : {kCharSet_ISO2022JP, kCharSet_UTF7})
	{
		SCOPED_TRACE(charSet);
		char bytes[128] = {};
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(Registry().ConvertFromVString(VString(text.data(), int32(text.size())), &consumed, bytes, sizeof(bytes), &produced, charSet));
		ASSERT_EQ(consumed, int32(text.size()));
		VString whole;
		ASSERT_TRUE(Registry().ConvertToVString(bytes, produced, charSet, whole));

		VRefPtr<VToUnicodeConverter> converter(Registry().RetainToUnicodeConverter(charSet), true);
		for (int32 room = 1; room <= 5; ++room)
		{
			SCOPED_TRACE(room);
			std::u16string decoded;
			size_t position = 0;
			int32 callRoom = room;
			while (position < produced && callRoom <= 64)
			{
				UniChar piece[64];
				size_t read = 0;
				int32 count = 0;
				ASSERT_TRUE(converter->Convert(bytes + position, produced - position, &read, piece, callRoom, &count));
				decoded.append(piece, size_t(count));
				position += read;
				callRoom = (read == 0) ? callRoom * 2 : room;
			}
			EXPECT_EQ(position, produced);
			EXPECT_EQ(decoded, ToU16(whole));
		}
	}
}

// Threads that start together ask for converters of sets nobody has used yet, so they build the
// converter cache at the same time; each thread's copies of the library's converters are closed when it
// ends (the leak checker sees any that are not).
TEST(VLegacyConverterTest, ConvertsFromManyThreadsAtOnce)
{
	struct Case
	{
		CharSet charSet;
		std::u16string text;
	};
	const std::vector<Case> cases = {
		{1002, u"\u4E2D\u6587 big5 \x1A\x7F"},
		{1014, u"\u0100\u0112 latin6 \x1C"},
		{115, u"\u0104\u012E baltic"},
		{1017, u"\u4E2D\u6587 gb"},
		{1019, u"\u3042\u30A2 \x1A\x1C\x7F ms"},
		{1001, u"a\u65E5\u672Cb"},
		{8, u"\u00E9t\u00E9 +-"},
		{11, u"\u2591 dos \x1A\x1C"},
		{120, u"\u65E5\u672C \u00A5 \u2026\uF87F mac"},
		{110, u"\u0627\u0644 (1) mac"},
	};
	std::atomic<bool> go{false};
	std::atomic<int> failures{0};
	std::vector<std::thread> threads;
	for (int t = 0; t < 8; ++t)
	{
		threads.emplace_back([&, t] {
			while (!go.load())
				std::this_thread::yield();
			for (int i = 0; i < 200; ++i)
			{
				const Case& c = cases[size_t(t + i) % cases.size()];
				// A new converter per request, as the registry hands them out.
				VRefPtr<VFromUnicodeConverter> from(Registry().RetainFromUnicodeConverter(c.charSet), true);
				char bytes[64];
				int32 consumed = 0;
				size_t produced = 0;
				if (!from->Convert(c.text.data(), int32(c.text.size()), &consumed, bytes, sizeof(bytes), &produced) ||
					consumed != int32(c.text.size()))
					++failures;
				VString back;
				if (!Registry().ConvertToVString(bytes, produced, c.charSet, back) || ToU16(back) != c.text)
					++failures;
			}
		});
	}
	go.store(true);
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(failures.load(), 0);
}

TEST(VLegacyConverterTest, NamesCompareIgnoringCase)
{
	struct Case
	{
		std::u16string name;
		CharSet charSet;
	};
	const Case cases[] = {
		{u"Shift_JIS", 1000},
		{u"sHIFT_jis", 1000},
		{u"LATIN-9", 1018},
		{u"\u212Aoi8-r", 1004},	 // the Kelvin sign folds to "k"
		{u"latin-9 ", 0},
		{u"latin-", 0},
		{u"utf_8", 0},
		{u"\u00FCtf-8", 7},	 // diacritics are ignored as well as case
		{std::u16string(u"UTF-8\0", 6), 0},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
		EXPECT_EQ(Registry().GetCharSetFromName(VString(c.name.data(), int32(c.name.size()))), c.charSet);
	}
}

}  // namespace
}  // namespace velk
