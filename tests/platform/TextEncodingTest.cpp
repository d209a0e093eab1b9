// Legacy character sets: statuses, substitution, characters cut by the end of the input or of the room,
// shift states, control characters, and one converter shared by several threads.
#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/VFailingAllocations.h"

namespace plat {
namespace {

const TextEncodingConverter* OpenOrFail(const char* name)
{
	const TextEncodingConverter* converter = TextEncodingConverter::Get(name);
	EXPECT_NE(converter, nullptr) << name;
	return converter;
}

TEST(TextEncodingTest, OpensKnownSetsOnly)
{
	EXPECT_EQ(TextEncodingConverter::Get("no-such-set"), nullptr);
	EXPECT_EQ(TextEncodingConverter::Get(""), nullptr);
	EXPECT_EQ(TextEncodingConverter::Get(nullptr), nullptr);
	// One converter per set name for the whole process.
	EXPECT_EQ(TextEncodingConverter::Get("windows-1252"), TextEncodingConverter::Get("windows-1252"));
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
		{"shifted run cut by the room ends before its escape", "ISO-2022-JP", "a\x1B$BF|K\\8l\x1B(Bb", 2, kTextOutputBufferFullStatus, 1, u"a"},
		{"shifted run closed within the room", "ISO-2022-JP", "a\x1B$BF|K\\8l\x1B(Bb", 4, kTextOutputBufferFullStatus, 10, u"a\u65E5\u672C\u8A9E"},
		{"base64 run cut by the room", "UTF-7", "a+ZeVnLIqe-b", 3, kTextOutputBufferFullStatus, 1, u"a"},
		{"controls as themselves", "Shift_JIS", "\x1A\x1C\x7F\x82\xA0", 10, kTextStatusNoErr, 5, u"\x1A\x1C\x7F\u3042"},
		{"empty", "windows-1252", "", 10, kTextStatusNoErr, 0, u""},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		const TextEncodingConverter* converter = OpenOrFail(c.set);
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
		{"controls as themselves", "Shift_JIS", u"\x1A\x1C\x7F\u3042", 10, kTextStatusNoErr, 4, "\x1A\x1C\x7F\x82\xA0"},
		{"? is not taken for a control", "Shift_JIS", u"\u0100\x1A", 10, kTextUnmappableElementStatus, 2, "?\x1A"},
		{"empty", "windows-1252", u"", 10, kTextStatusNoErr, 0, ""},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		const TextEncodingConverter* converter = OpenOrFail(c.set);
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
		const TextEncodingConverter* converter = OpenOrFail(set);
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

// Text decoded through a small room, call after call, each starting where the last one stopped and in the
// initial state, reads as the whole text decoded in one call: in every shifted set the library has.
TEST(TextEncodingTest, ChunkedDecodingMatchesWholeDecoding)
{
	// Runs of Latin, Japanese, Korean, Chinese and Devanagari text, so that every set shifts somewhere.
	const std::u16string text = u"ab \u65E5\u672C\u8A9E\u3067\u3059 cd \uD55C\uAD6D\uC5B4 e \u4E2D\u6587 f "
								u"\u0926\u0947\u0935\u0928\u093E\u0917\u0930\u0940 g\u00C4\u00D6\u20AC~\\z";
	size_t stateful = 0;
	for (size_t i = 0; i < TextEncodingConverter::CountAvailable(); ++i)
	{
		const char* const set = TextEncodingConverter::GetAvailableName(i);
		const TextEncodingConverter* converter = TextEncodingConverter::Get(set);
		if (converter == nullptr || !converter->IsStateful())
			continue;
		++stateful;
		SCOPED_TRACE(set);
		std::string bytes(text.size() * 8, '\0');
		size_t read = 0;
		size_t written = 0;
		const int32_t encoded = converter->FromUnicode(text.data(), text.size(), &read, bytes.data(), bytes.size(), &written);
		ASSERT_TRUE(encoded == kTextStatusNoErr || encoded == kTextUnmappableElementStatus);
		ASSERT_EQ(read, text.size());
		bytes.resize(written);
		std::u16string whole(bytes.size() * 2 + 4, u'\0');
		ASSERT_EQ(converter->ToUnicode(bytes.data(), bytes.size(), &read, whole.data(), whole.size(), &written), kTextStatusNoErr);
		ASSERT_EQ(read, bytes.size());
		whole.resize(written);

		for (size_t room = 1; room <= 9; ++room)
		{
			SCOPED_TRACE("room " + std::to_string(room));
			std::u16string decoded;
			size_t position = 0;
			size_t callRoom = room;
			while (position < bytes.size())
			{
				std::u16string piece(callRoom, u'#');
				const int32_t status = converter->ToUnicode(bytes.data() + position, bytes.size() - position, &read, piece.data(), callRoom, &written);
				ASSERT_TRUE(status == kTextStatusNoErr || status == kTextOutputBufferFullStatus) << status;
				ASSERT_LE(written, callRoom);
				if (read == 0 && written == 0)
				{
					// The run ahead does not fit: a caller gives more room.
					ASSERT_EQ(status, kTextOutputBufferFullStatus);
					callRoom *= 2;
					ASSERT_LE(callRoom, whole.size() * 2);
					continue;
				}
				decoded.append(piece, 0, written);
				position += read;
				callRoom = room;
			}
			EXPECT_EQ(decoded, whole);
		}
	}
	// ISO-2022 in its forms, UTF-7, HZ, ISCII, the shifted EBCDIC sets and more.
	EXPECT_GE(stateful, 20u);
}

// A thread's copy of the converter serves call after call: each still starts in the initial state, with
// no byte-order mark, shift state or window remembered from the last.
TEST(TextEncodingTest, EveryCallStartsAfresh)
{
	const std::u16string text = u"a\u65E5b";
	for (const char* set : {"UTF-16", "UTF-32", "ISO-2022-JP", "UTF-7", "SCSU", "BOCU-1", "Shift_JIS"})
	{
		SCOPED_TRACE(set);
		const TextEncodingConverter* converter = OpenOrFail(set);
		ASSERT_NE(converter, nullptr);
		std::string first(32, '\0');
		std::string second(32, '\0');
		size_t read = 0;
		size_t written = 0;
		converter->FromUnicode(text.data(), text.size(), &read, first.data(), first.size(), &written);
		first.resize(written);
		converter->FromUnicode(text.data(), text.size(), &read, second.data(), second.size(), &written);
		second.resize(written);
		EXPECT_EQ(first, second);
		for (int call = 0; call < 2; ++call)
		{
			std::u16string back(16, u'\0');
			converter->ToUnicode(first.data(), first.size(), &read, back.data(), back.size(), &written);
			EXPECT_EQ(back.substr(0, written), text);
		}
	}
}

// Memory running out as a thread makes its copy of the converter, or as a call in a shifted set looks for
// where to stop: the call converts nothing and says so, and nothing leaks.
TEST(TextEncodingTest, OutOfMemoryConvertsNothing)
{
	const TextEncodingConverter* converter = OpenOrFail("ISO-2022-JP");
	ASSERT_NE(converter, nullptr);
	const std::string bytes = "a\x1B$BF|K\\8l\x1B(Bb";
	for (long allowed = 0;; ++allowed)
	{
		SCOPED_TRACE(allowed);
		long refused = 0;
		// A new thread each time, which has no copy yet.
		std::thread([&] {
			velk::test::StFailingAllocations failing(allowed);
			char16_t out[4] = {};
			size_t read = 99;
			size_t written = 99;
			const int32_t status = converter->ToUnicode(bytes.data(), bytes.size(), &read, out, 2, &written);
			refused = failing.GetRefusedCount();
			if (status == kTextConversionFailedStatus)
			{
				EXPECT_GT(refused, 0);
				EXPECT_EQ(read, 0u);
				EXPECT_EQ(written, 0u);
			}
			else
			{
				EXPECT_EQ(status, kTextOutputBufferFullStatus);
				EXPECT_EQ(read, 1u);
				EXPECT_EQ(std::u16string(out, written), u"a");
			}
		}).join();
		if (refused == 0)
		{
			EXPECT_GT(allowed, 0);	// the path allocates, so the drill reached it
			break;
		}
		ASSERT_LT(allowed, 200);
	}
}

TEST(TextEncodingTest, OneConverterServesManyThreads)
{
	const TextEncodingConverter* converter = OpenOrFail("Shift_JIS");
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
