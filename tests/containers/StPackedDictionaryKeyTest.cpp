// Dictionary keys: the same name gives the same key from every text form, the 255-byte limit, the hash
// and copies.
#include "containers/StPackedDictionaryKey.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/strings/VString.h"

namespace velk {
namespace {

std::string Bytes(const StPackedDictionaryKey& key)
{
	return std::string(key.GetKey(), key.GetKeyLength());
}

// The hash written out plainly: every byte of a short key, the first and last 8 of a long one.
uint32 ReferenceHash(const std::string& text)
{
	if (text.empty())
		return 0;
	uint32 hash = uint32(text.size());
	if (text.size() <= 16)
	{
		for (unsigned char byte : text)
			hash = hash * 257u + byte;
		return hash;
	}
	for (size_t i = 0; i < 8; ++i)
		hash = hash * 257u + uint8(text[i]);
	for (size_t i = text.size() - 8; i < text.size(); ++i)
		hash = hash * 257u + uint8(text[i]);
	return hash;
}

TEST(StPackedDictionaryKeyTest, SameNameFromEveryTextForm)
{
	struct Row
	{
		const char* fUTF8;
		const char16_t* fUTF16;
		const wchar_t* fWide;
	};
	const Row rows[] = {
		{"message", u"message", L"message"},
		{"caf\xC3\xA9", u"caf\u00E9", L"caf\u00E9"},
		{"\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C", L"\u65E5\u672C"},
		{"\xF0\x9F\x98\x80 grin", u"\U0001F600 grin", L"\U0001F600 grin"},
		{"<>", u"<>", L"<>"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fUTF8);
		const StPackedDictionaryKey borrowed(row.fUTF8);
		const StPackedDictionaryKey fromString{VString(row.fUTF16)};
		const StPackedDictionaryKey fromWide(row.fWide);

		EXPECT_EQ(Bytes(borrowed), row.fUTF8);
		EXPECT_EQ(borrowed.GetKey(), row.fUTF8) << "a plain text is pointed at, not copied";
		for (const StPackedDictionaryKey* key : {&fromString, &fromWide})
		{
			EXPECT_EQ(Bytes(*key), row.fUTF8);
			EXPECT_EQ(key->GetHashCode(), borrowed.GetHashCode());
			EXPECT_TRUE(key->Equals(borrowed));
		}
	}
}

TEST(StPackedDictionaryKeyTest, ConvertedKeysStopAt255Bytes)
{
	const std::u16string e(1, u'\u00E9');  // two UTF-8 bytes
	struct Row
	{
		std::u16string fText;
		size_t fExpectedLength;  // 0: the key is empty
	};
	const Row rows[] = {
		{std::u16string(255, u'a'), 255},
		{std::u16string(256, u'a'), 0},
		{std::u16string(253, u'a') + e, 255},
		{std::u16string(254, u'a') + e, 0},  // the last character would be cut
		{std::u16string(u"ab") + char16_t(0xD83D), 0},  // lone high surrogate at the end
		{std::u16string(), 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fText.size());
		const VString text(row.fText.data(), int32(row.fText.size()));
		const StPackedDictionaryKey key(text);
		EXPECT_EQ(key.GetKeyLength(), row.fExpectedLength);
		EXPECT_EQ(key.IsEmpty(), row.fExpectedLength == 0);
		if (key.IsEmpty())
		{
			EXPECT_EQ(key.GetHashCode(), 0u);
		}

		const std::wstring wide(row.fText.begin(), row.fText.end());
		if (row.fText.find(char16_t(0xD83D)) == std::u16string::npos)
		{
			EXPECT_EQ(StPackedDictionaryKey(wide.c_str()).GetKeyLength(), row.fExpectedLength);
		}
	}
}

TEST(StPackedDictionaryKeyTest, HashOfShortAndLongKeys)
{
	EXPECT_EQ(StPackedDictionaryKey("abc").GetHashCode(), ((3u * 257u + 97u) * 257u + 98u) * 257u + 99u);
	EXPECT_EQ(StPackedDictionaryKey("abc").GetHashCode(), 57355817u);
	EXPECT_EQ(StPackedDictionaryKey("").GetHashCode(), 0u);
	for (const char* text : {"a", "level", "0123456789abcdef", "0123456789abcdefg", "a much longer attribute name"})
		EXPECT_EQ(StPackedDictionaryKey(text).GetHashCode(), ReferenceHash(text)) << text;

	// Up to 16 bytes every byte counts.
	EXPECT_NE(StPackedDictionaryKey("0123456789abcdef").GetHashCode(), StPackedDictionaryKey("01234567X9abcdef").GetHashCode());

	// From 17 bytes on only the first and last 8 bytes are hashed: equal hashes, different keys.
	const StPackedDictionaryKey a("first8..MIDDLElast8...");
	const StPackedDictionaryKey b("first8..middlelast8...");
	EXPECT_EQ(a.GetHashCode(), b.GetHashCode());
	EXPECT_FALSE(a.Equals(b));
	// 20 bytes differing in bytes 9 to 12 only.
	const StPackedDictionaryKey c("12345678abcd12345678");
	const StPackedDictionaryKey d("12345678WXYZ12345678");
	EXPECT_EQ(c.GetHashCode(), d.GetHashCode());
	EXPECT_FALSE(c.Equals(d));

	// A borrowed counted text: the bytes stay where they are; over 255 bytes no key.
	const std::string path = "first/second";
	const StPackedDictionaryKey borrowed = StPackedDictionaryKey::Borrow(path.data() + 6, 6);
	EXPECT_EQ(borrowed.GetKey(), path.data() + 6);
	EXPECT_TRUE(borrowed.Equals(StPackedDictionaryKey("second")));
	const std::string tooLong(256, 'x');
	EXPECT_TRUE(StPackedDictionaryKey::Borrow(tooLong.data(), tooLong.size()).IsEmpty());
}

TEST(StPackedDictionaryKeyTest, CopiesOwnWhatTheSourceOwned)
{
	std::string source = "volatile name";
	StPackedDictionaryKey counted(source.data(), 8);
	source.assign("XXXXXXXXXXXXX");
	EXPECT_EQ(Bytes(counted), "volatile") << "a counted text is copied";
	EXPECT_EQ(counted.GetKey()[8], '\0');

	const char* literal = "literal";
	StPackedDictionaryKey copyOfBorrowed(StPackedDictionaryKey{literal});
	EXPECT_EQ(copyOfBorrowed.GetKey(), literal);

	auto* owned = new StPackedDictionaryKey(VString("owned"));
	StPackedDictionaryKey copy(*owned);
	EXPECT_NE(copy.GetKey(), owned->GetKey());
	delete owned;
	EXPECT_EQ(Bytes(copy), "owned");
	EXPECT_EQ(copy.GetHashCode(), StPackedDictionaryKey("owned").GetHashCode());

	copy = copyOfBorrowed;
	EXPECT_EQ(copy.GetKey(), literal);
	const StPackedDictionaryKey& same = copy;
	copy = same;
	EXPECT_EQ(Bytes(copy), "literal");
}

}  // namespace
}  // namespace velk
