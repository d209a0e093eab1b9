// Text read from the very string it goes into: every entry that takes bytes or units must give the result
// it gives for the same bytes held elsewhere, whether they sit in the string's heap buffer (freed when it
// grows or is emptied) or in its inline buffer (written over in place).
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {
namespace {

using Bytes = std::vector<uint8>;

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

// The text in the character set, through the registry's own converter.
Bytes Encode(const std::u16string& text, CharSet charSet)
{
	Bytes bytes(text.size() * 4 + 16);
	int32 consumed = 0;
	size_t produced = 0;
	VTextConverters::Get()->ConvertFromVString(VString(text.data(), int32(text.size())), &consumed, bytes.data(), bytes.size(), &produced, charSet);
	bytes.resize(produced);
	return bytes;
}

// Makes the string's text the bytes, two to a unit (a last odd byte padded with 0), and answers where they are.
const void* HoldBytes(VString& s, const Bytes& bytes)
{
	const int32 units = int32((bytes.size() + 1) / 2);
	UniChar* buffer = s.GetCPointerForWrite(units);
	buffer[units - 1] = 0;
	std::memcpy(buffer, bytes.data(), bytes.size());
	s.Validate(units);
	return s.GetCPointer();
}

// What an entry leaves: the string's text and the entry's answer (bytes consumed, or success).
struct Outcome
{
	std::u16string fText;
	size_t fAnswer;
	bool operator==(const Outcome&) const = default;
};

using Entry = std::function<size_t(VString& target, const void* bytes, size_t byteCount, CharSet charSet)>;

TEST(VStringAliasingTest, BytesInsideTheTargetConvertAsFromElsewhere)
{
	struct Set
	{
		CharSet fCharSet;
		std::u16string fText;
	};
	const std::u16string unicode = u"Gr\u00FC\u00DFe aus \u6771\u4EAC \U0001F600, a text long enough to make every string grow";
	const Set sets[] = {
		{1, unicode},
		{3, unicode},
		{4, unicode},
		{7, unicode},
		{9, u"plain ASCII text, long enough to make every string grow when it is read"},
		{1000, u"\u6771\u4EAC\u30BF\u30EF\u30FC and some Latin text to make the string grow"},
	};
	struct Row
	{
		const char* fName;
		Entry fEntry;
	};
	const Row entries[] = {
		{"FromBlock", [](VString& s, const void* b, size_t n, CharSet cs) { return s.FromBlock(b, n, cs); }},
		{"AppendBlock",
		 [](VString& s, const void* b, size_t n, CharSet cs) {
			 s.AppendBlock(b, n, cs);
			 return size_t(0);
		 }},
		{"ConvertString",
		 [](VString& s, const void* b, size_t n, CharSet cs) {
			 VRefPtr<VToUnicodeConverter> converter(VTextConverters::Get()->RetainToUnicodeConverter(cs), true);
			 size_t consumed = 0;
			 converter->ConvertString(b, n, &consumed, s);
			 return consumed;
		 }},
		{"ConvertToVString",
		 [](VString& s, const void* b, size_t n, CharSet cs) { return size_t(VTextConverters::Get()->ConvertToVString(b, n, cs, s)); }},
	};
	// Where the bytes sit: a heap buffer that must grow, and an inline buffer wide enough to convert in.
	struct Storage
	{
		const char* fName;
		std::function<VString*()> fMake;
	};
	const Storage storages[] = {
		{"heap", [] { return new VString(); }},
		{"inline", [] { return new VStr<400>(); }},
	};

	for (const Set& set : sets)
	{
		const Bytes bytes = Encode(set.fText, set.fCharSet);
		ASSERT_GT(bytes.size(), set.fText.size() / 2) << set.fCharSet;
		for (const Row& entry : entries)
		{
			for (const Storage& storage : storages)
			{
				SCOPED_TRACE(testing::Message() << "set " << set.fCharSet << ", " << entry.fName << ", " << storage.fName);
				std::unique_ptr<VString> expected(storage.fMake());
				HoldBytes(*expected, bytes);
				const size_t expectedAnswer = entry.fEntry(*expected, bytes.data(), bytes.size(), set.fCharSet);

				std::unique_ptr<VString> target(storage.fMake());
				const void* inside = HoldBytes(*target, bytes);
				const size_t answer = entry.fEntry(*target, inside, bytes.size(), set.fCharSet);

				EXPECT_EQ((Outcome{Text(*target), answer}), (Outcome{Text(*expected), expectedAnswer}));
				EXPECT_NE(Text(*expected).find(set.fText), std::u16string::npos);
			}
		}
	}
}

TEST(VStringAliasingTest, UnitsAndCTextInsideTheTarget)
{
	// Units whose bytes, read as a C text, spell "abcd...": two letters to a unit.
	std::string letters;
	for (int i = 0; i < 40; ++i)
		letters += char('a' + i % 26);
	const Bytes letterBytes(letters.begin(), letters.end());
	const std::u16string wide(letters.begin(), letters.end());
	const std::u16string units = u"units that fill a heap buffer to its end, or nearly so";

	struct Row
	{
		const char* fName;
		bool fLetters;  // the string holds the letters as bytes, else the units
		std::function<void(VString&)> fAct;
		std::function<std::u16string(const std::u16string& before)> fExpected;
	};
	const Row rows[] = {
		{"AppendCString", true, [](VString& s) { s.AppendCString(reinterpret_cast<const char*>(s.GetCPointer())); },
		 [&](const std::u16string& before) { return before + wide; }},
		{"FromCString", true, [](VString& s) { s.FromCString(reinterpret_cast<const char*>(s.GetCPointer())); },
		 [&](const std::u16string&) { return wide; }},
		{"AppendBlock in machine order, unaligned", true,
		 [](VString& s) { s.AppendBlock(reinterpret_cast<const char*>(s.GetCPointer()) + 1, 6, 2); },
		 [&](const std::u16string& before) {
			 const Bytes shifted(letterBytes.begin() + 1, letterBytes.begin() + 7);
			 return before + std::u16string(reinterpret_cast<const char16_t*>(shifted.data()), 3);
		 }},
		{"FromBlock in machine order with the terminator", false,
		 [](VString& s) { s.FromBlock(s.GetCPointer(), size_t(s.GetLength() + 1) * 2, 2); },
		 [](const std::u16string& before) { return before + u'\0'; }},
		{"AppendUniChars", false, [](VString& s) { s.AppendUniChars(s.GetCPointer() + 6, s.GetLength() - 6); },
		 [](const std::u16string& before) { return before + before.substr(6); }},
		{"AppendUniCString", false, [](VString& s) { s.AppendUniCString(s.GetCPointer()); },
		 [](const std::u16string& before) { return before + before; }},
		{"FromUniString", false, [](VString& s) { s.FromUniString(s.GetCPointer() + 6, s.GetLength() - 6); },
		 [](const std::u16string& before) { return before.substr(6); }},
	};
	for (const Row& row : rows)
	{
		for (bool inlineBuffer : {false, true})
		{
			SCOPED_TRACE(testing::Message() << row.fName << (inlineBuffer ? ", inline" : ", heap"));
			std::unique_ptr<VString> s(inlineBuffer ? new VStr<200>() : new VString());
			if (row.fLetters)
				HoldBytes(*s, letterBytes);
			else
				s->FromUniString(units.data(), int32(units.size()));
			const std::u16string before = Text(*s);
			row.fAct(*s);
			EXPECT_EQ(Text(*s), row.fExpected(before));
		}
	}
}

}  // namespace
}  // namespace velk
