// Legacy character sets: statuses, substitution, characters cut by the end of the input or of the room,
// shift states, and one converter shared by several threads.
#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace plat {
namespace {

std::unique_ptr<TextEncodingConverter> OpenOrFail(const char* name)
{
	std::unique_ptr<TextEncodingConverter> converter = TextEncodingConverter::Open(name);
	EXPECT_NE(converter, nullptr) << name;
	return converter;
}

TEST(TextEncodingTest, OpensKnownSetsOnly)
{
	EXPECT_EQ(TextEncodingConverter::Open("no-such-set"), nullptr);
	EXPECT_EQ(TextEncodingConverter::Open(""), nullptr);
	EXPECT_EQ(TextEncodingConverter::Open(nullptr), nullptr);
	EXPECT_FALSE(OpenOrFail("macintosh")->IsStateful());
	EXPECT_EQ(OpenOrFail("macintosh")->GetMaxCharBytes(), 1u);
	EXPECT_TRUE(OpenOrFail("ISO-2022-JP")->IsStateful());
	EXPECT_GE(OpenOrFail("Shift_JIS")->GetMaxCharBytes(), 2u);
	// The Unicode forms the kernel's table names for machine order.
	EXPECT_EQ(OpenOrFail("UTF16_PlatformEndian")->GetMaxCharBytes(), 2u);
	EXPECT_EQ(OpenOrFail("UTF32_PlatformEndian")->GetMaxCharBytes(), 4u);
}

TEST(TextEncodingTest, ToUnicodeStatuses)
{
	struct Case
	{
		const char* name;
		const char* set;
		std::string input;
		size_t room;
		int32_t status;
		size_t read;
		std::u16string text;
	};
	const Case cases[] = {
		{"whole text", "windows-1252", "\x80" "ab", 10, kTextStatusNoErr, 3, u"\u20ACab"},
		{"lead byte at the end", "Shift_JIS", "a\x82", 10, kTextPartialCharStatus, 1, u"a"},
		{"room runs out", "windows-1252", "abc", 2, kTextOutputBufferFullStatus, 2, u"ab"},
		{"invalid trail byte", "Shift_JIS", "\x81\x20", 10, kTextStatusNoErr, 2, u"\uFFFD "},
		{"supplementary character cut by the room", "GB18030", "a\x95\x32\x82\x36", 2, kTextOutputBufferFullStatus, 1, u"a"},
		{"supplementary character with room", "GB18030", "a\x95\x32\x82\x36", 3, kTextStatusNoErr, 5, u"a\U00020000"},
		{"empty", "windows-1252", "", 10, kTextStatusNoErr, 0, u""},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		std::unique_ptr<TextEncodingConverter> converter = OpenOrFail(c.set);
		ASSERT_NE(converter, nullptr);
		std::u16string out(16, u'#');
		size_t read = 99;
		size_t written = 99;
		EXPECT_EQ(converter->ToUnicode(c.input.data(), c.input.size(), &read, out.data(), c.room, &written), c.status);
		EXPECT_EQ(read, c.read);
		EXPECT_EQ(out.substr(0, written), c.text);
	}
}

TEST(TextEncodingTest, FromUnicodeStatuses)
{
	struct Case
	{
		const char* name;
		const char* set;
		std::u16string input;
		size_t room;
		int32_t status;
		size_t read;
		std::string bytes;
	};
	const Case cases[] = {
		{"whole text", "windows-1252", u"\u20ACab", 10, kTextStatusNoErr, 3, "\x80" "ab"},
		{"unmappable becomes ?", "US-ASCII", u"\u00E9ab", 10, kTextUnmappableElementStatus, 3, "?ab"},
		{"one ? for a pair", "US-ASCII", u"\U0001F600b", 10, kTextUnmappableElementStatus, 3, "?b"},
		{"lone surrogates become ?", "US-ASCII", u"a\xDE00\xD800" u"b", 10, kTextUnmappableElementStatus, 4, "a??b"},
		{"no room for the ?", "US-ASCII", u"a\u00E9", 1, kTextOutputBufferFullStatus, 1, "a"},
		{"? in the set's own form", "ibm-37", u"A\u4E00", 10, kTextUnmappableElementStatus, 2, "\xC1\x6F"},
		{"high surrogate at the end waits", "windows-1252", u"ab\xD83D", 10, kTextPartialCharStatus, 2, "ab"},
		{"two-byte character cut by the room", "Shift_JIS", u"a\u3042", 2, kTextOutputBufferFullStatus, 1, "a"},
		{"two-byte character with room", "Shift_JIS", u"a\u3042", 3, kTextStatusNoErr, 2, "a\x82\xA0"},
		{"shifted run closed at the end", "ISO-2022-JP", u"\u65E5", 10, kTextStatusNoErr, 1, "\x1B$BF|\x1B(B"},
		{"shifted run closed before the room ends", "ISO-2022-JP", u"a\u65E5\u672Cb", 10, kTextOutputBufferFullStatus, 2, "a\x1B$BF|\x1B(B"},
		{"empty", "windows-1252", u"", 10, kTextStatusNoErr, 0, ""},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		std::unique_ptr<TextEncodingConverter> converter = OpenOrFail(c.set);
		ASSERT_NE(converter, nullptr);
		std::string out(16, '#');
		size_t read = 99;
		size_t written = 99;
		EXPECT_EQ(converter->FromUnicode(c.input.data(), c.input.size(), &read, out.data(), c.room, &written), c.status);
		EXPECT_EQ(read, c.read);
		EXPECT_EQ(out.substr(0, written), c.bytes);
	}
}

// Output produced in small pieces, each call starting afresh: every piece holds whole characters, starts
// and ends in the initial shift state, and so decodes on its own to its part of the text.
TEST(TextEncodingTest, PiecesOfOutputStandOnTheirOwn)
{
	const std::u16string text = u"a\u65E5\u672C\u8A9Eb c\u3042\u3044\u00E9z";
	for (const char* set : {"ISO-2022-JP", "Shift_JIS", "UTF-7", "EUC-KR"})
	{
		std::unique_ptr<TextEncodingConverter> converter = OpenOrFail(set);
		ASSERT_NE(converter, nullptr);
		// What the set makes of the text in one call ("?" for what it lacks).
		std::string whole(64, '\0');
		size_t read = 0;
		size_t written = 0;
		converter->FromUnicode(text.data(), text.size(), &read, whole.data(), whole.size(), &written);
		std::u16string expected(64, u'\0');
		converter->ToUnicode(whole.data(), written, &read, expected.data(), expected.size(), &written);
		expected.resize(written);

		for (size_t room = 1; room <= 12; ++room)
		{
			SCOPED_TRACE(std::string(set) + " room " + std::to_string(room));
			std::u16string decoded;
			size_t position = 0;
			while (position < text.size())
			{
				std::string piece(room, '\0');
				const int32_t status = converter->FromUnicode(text.data() + position, text.size() - position, &read, piece.data(), room, &written);
				ASSERT_TRUE(status == kTextStatusNoErr || status == kTextOutputBufferFullStatus || status == kTextUnmappableElementStatus);
				if (read == 0)
				{
					EXPECT_EQ(written, 0u);
					break;  // one character and its shift sequences need more room than this
				}
				position += read;
				std::u16string units(written + 1, u'\0');
				size_t consumed = 0;
				size_t count = 0;
				EXPECT_EQ(converter->ToUnicode(piece.data(), written, &consumed, units.data(), units.size(), &count), kTextStatusNoErr);
				EXPECT_EQ(consumed, written);
				decoded.append(units, 0, count);
			}
			if (position == text.size())
			{
				EXPECT_EQ(decoded, expected);
			}
			else
			{
				EXPECT_EQ(decoded, expected.substr(0, decoded.size()));
				EXPECT_LT(room, 9u);
			}
		}
	}
}

TEST(TextEncodingTest, OneConverterServesManyThreads)
{
	std::unique_ptr<TextEncodingConverter> converter = OpenOrFail("Shift_JIS");
	ASSERT_NE(converter, nullptr);
	std::atomic<int> failures{0};
	std::vector<std::thread> threads;
	for (int t = 0; t < 8; ++t)
	{
		threads.emplace_back([&] {
			const std::u16string text = u"\u3042\u3044a\u00E9";
			for (int i = 0; i < 300; ++i)
			{
				char bytes[16];
				size_t read = 0;
				size_t written = 0;
				// Cut after the lead byte of the first character half the time.
				if (converter->FromUnicode(text.data(), text.size(), &read, bytes, sizeof(bytes), &written) != kTextUnmappableElementStatus)
					++failures;
				const size_t count = (i % 2 == 0) ? written : 1;
				char16_t back[16];
				size_t units = 0;
				const int32_t status = converter->ToUnicode(bytes, count, &read, back, 16, &units);
				if (count == 1 ? (status != kTextPartialCharStatus || read != 0) : std::u16string(back, units) != u"\u3042\u3044a?")
					++failures;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace plat
