// Base64 in both alphabets: known texts, round trips of random bytes, the decoder's refusals and white
// space, the string's entry points and the checksum texts.
#include "kernel/strings/Base64Coder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"

using namespace velk;

namespace {

std::string Bytes(const Base64Coder::Buffer& buffer)
{
	return std::string(reinterpret_cast<const char*>(buffer.GetDataPtr()), size_t(buffer.GetDataSize()));
}

std::u16string Text(const VString& text)
{
	return std::u16string(reinterpret_cast<const char16_t*>(text.GetCPointer()), size_t(text.GetLength()));
}

}  // namespace

TEST(Base64CoderTest, EncodesKnownTexts)
{
	struct Row
	{
		std::string bytes;
		int lineLength;
		const char* standard;
		const char* url;
	};
	const Row rows[] = {
		{"", 0, "", ""},
		{"M", 0, "TQ==", "TQ"},
		{"Ma", 0, "TWE=", "TWE"},
		{"Man", 0, "TWFu", "TWFu"},
		{"\xFB\xFF", 0, "+/8=", "-_8"},
		// Line breaks after every second group, never after the last; the URL alphabet has none.
		{"ManManManMan", 2, "TWFuTWFu\r\nTWFuTWFu", "TWFuTWFuTWFuTWFu"},
		{"ManManMa", 2, "TWFuTWFu\r\nTWE=", "TWFuTWFuTWE"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.standard);
		Base64Coder::Buffer out;
		ASSERT_TRUE(Base64Coder::_Encode(row.bytes.data(), row.bytes.size(), out, row.lineLength, false));
		EXPECT_EQ(Bytes(out), row.standard);
		ASSERT_TRUE(Base64Coder::_Encode(row.bytes.data(), row.bytes.size(), out, row.lineLength, true));
		EXPECT_EQ(Bytes(out), row.url);
	}

	// 20 groups with a break after the 19th only.
	const std::vector<uint8> sixty(60, 0x41);
	Base64Coder::Buffer out;
	ASSERT_TRUE(Base64Coder::_Encode(sixty.data(), sixty.size(), out, 19, false));
	EXPECT_EQ(out.GetDataSize(), 82u);
	EXPECT_EQ(Bytes(out).find("\r\n"), 76u);

	EXPECT_FALSE(Base64Coder::_Encode(nullptr, 3, out, 0, false));
	EXPECT_EQ(out.GetDataSize(), 0u);
}

TEST(Base64CoderTest, RoundTripsRandomBytes)
{
	std::mt19937 random(1234);
	std::vector<size_t> lengths;
	for (size_t n = 0; n <= 70; ++n)
		lengths.push_back(n);
	lengths.push_back(1000003);
	for (size_t length : lengths)
	{
		std::vector<uint8> bytes(length);
		for (uint8& byte : bytes)
			byte = uint8(random());
		for (const auto& [url, lineLength] : {std::pair{false, 0}, std::pair{false, 19}, std::pair{true, 19}})
		{
			SCOPED_TRACE(testing::Message() << length << (url ? " url " : " standard ") << lineLength);
			Base64Coder::Buffer text, back;
			ASSERT_TRUE(Base64Coder::_Encode(bytes.data(), bytes.size(), text, lineLength, url));
			ASSERT_TRUE(Base64Coder::Decode(text.GetDataPtr(), size_t(text.GetDataSize()), back, url, false));
			ASSERT_EQ(back.GetDataSize(), length);
			EXPECT_TRUE(length == 0 || std::equal(bytes.begin(), bytes.end(), back.GetDataPtr()));
		}
	}
}

TEST(Base64CoderTest, DecoderSkipsWhiteSpaceAndRefusesMalformedText)
{
	struct Row
	{
		const char* text;
		bool url;
		bool decoded;
		const char* bytes;  // what out holds afterwards, partial bytes kept
	};
	const Row rows[] = {
		{"TW E=\r\n", false, true, "Ma"},
		{" \tTWFu\nTQ==\r\n", false, true, "ManM"},
		{" \r\n", false, true, ""},
		{"TW E=\r\n", true, false, ""},
		{"TQ=", false, false, ""},      // not a multiple of 4
		{"TR==", false, false, ""},     // bits left over
		{"TWF=", false, false, ""},     // bits left over
		{"TQ=A", false, false, ""},     // padding inside the group
		{"T===", false, false, ""},
		{"=AAA", false, false, ""},
		{"TWFuT!Fu", false, false, "Man"},
		{"TWFuTQ==TWFu", false, false, "Man"},  // padding before the end
		{"TQ==", true, false, ""},
		{"TQ", true, true, "M"},
		{"TWE", true, true, "Ma"},
		{"T", true, false, ""},
		{"TR", true, false, ""},
		{"TWF", true, false, ""},
		{"TWFu+/8", true, false, "Man"},  // the standard alphabet's characters
		{"TWFu-_8", true, true, "Man\xFB\xFF"},
		{"TWFu-_8=", false, false, "Man"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << row.text << (row.url ? " url" : " standard"));
		const std::string text(row.text);
		Base64Coder::Buffer kept, emptied;
		EXPECT_EQ(Base64Coder::Decode(text.data(), text.size(), kept, row.url, true), row.decoded);
		EXPECT_EQ(Bytes(kept), row.bytes);
		EXPECT_EQ(Base64Coder::Decode(text.data(), text.size(), emptied, row.url, false), row.decoded);
		EXPECT_EQ(emptied.GetDataSize(), row.decoded ? kept.GetDataSize() : 0u);
	}
}

TEST(Base64CoderTest, StringEntryPointsAndChecksums)
{
	VString text("Grüße\r\n");
	ASSERT_TRUE(text.EncodeBase64(kCharSet_UTF8, false));
	EXPECT_EQ(Text(text), u"R3LDvMOfZQ0K");
	ASSERT_TRUE(text.DecodeBase64(kCharSet_UTF8, false));
	EXPECT_EQ(Text(text), u"Grüße\r\n");

	VString empty;
	EXPECT_TRUE(empty.EncodeBase64(kCharSet_UTF8, true));
	EXPECT_TRUE(empty.IsEmpty());

	const uint8 bytes[] = {0xFB, 0xFF, 0x00};
	VString encoded("unchanged");
	EXPECT_FALSE(encoded.EncodeBase64(nullptr, 2, true));
	EXPECT_EQ(Text(encoded), u"unchanged");
	ASSERT_TRUE(encoded.EncodeBase64(bytes, 2, true));
	EXPECT_EQ(Text(encoded), u"-_8");

	VString bad("TW\u00E9u");
	const VString before(bad);
	{
		StErrorContextInstaller scope(false, true);
		Base64Coder::Buffer out;
		EXPECT_FALSE(bad.DecodeBase64(out, false));
		EXPECT_EQ(scope.GetLastError(), MakeVError(kVELK_SIGNATURE, 210));
		EXPECT_FALSE(bad.DecodeBase64(kCharSet_UTF8, false));
		EXPECT_EQ(Text(bad), Text(before));
	}

	// Bytes that convert only in part give what was converted.
	struct PartRow
	{
		const char* base64;
		CharSet set;
		std::u16string text;
	};
	const PartRow parts[] = {
		{"YQ==", kCharSet_UTF8, u"a"},
		{"YeKC", kCharSet_UTF8, u"a"},  // "a" then a character cut after two of its three bytes
		{"YYI=", 1000, u"a"},			// "a" then the lead byte of a Shift_JIS pair
		{"YQ==", 0, u""},				// a set without a converter
	};
	for (const PartRow& row : parts)
	{
		SCOPED_TRACE(testing::Message() << row.base64 << " in " << row.set);
		VString decoded(row.base64);
		EXPECT_TRUE(decoded.DecodeBase64(row.set, false));
		EXPECT_EQ(Text(decoded), row.text);
	}

	VString checksum("old");
	Base64Coder::DO_EncodeChecksumBase64(bytes, 3, checksum);
	EXPECT_EQ(Text(checksum), u"+/8A");
	EXPECT_TRUE(Base64Coder::DO_EncodeChecksumHexa(bytes + 1, 2, checksum));
	EXPECT_EQ(Text(checksum), u"ff00");
	const uint8 low[] = {0x00, 0xAB, 0x0A, 0x1B};
	EXPECT_TRUE(Base64Coder::DO_EncodeChecksumHexa(low, 4, checksum));
	EXPECT_EQ(Text(checksum), u"00ab0a1b");
}
