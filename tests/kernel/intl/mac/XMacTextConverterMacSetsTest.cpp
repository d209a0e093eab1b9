// The Mac Arabic, Hebrew, Chinese and Japanese sets, from the platform layer's own tables: every mapping
// of the committed tables both ways, text cut anywhere into pieces, unmapped input, and the results of the
// codec the tables were made from, where Perl's Encode module is on the machine.
#include <gtest/gtest.h>

#include <unicode/uchar.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/VChildProcess.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

struct MacSet
{
	CharSet fCharSet;
	const char* fName;	 // the table's name
	const char* fCodec;	 // Perl's name of the set
};

constexpr MacSet kMacSets[] = {
	{110, "x-mac-arabic", "MacArabic"},
	{112, "x-mac-hebrew", "MacHebrew"},
	{116, "x-mac-chinesesimp", "MacChineseSimp"},
	{118, "x-mac-chinesetrad", "MacChineseTrad"},
	{120, "x-mac-japanese", "MacJapanese"},
};

VTextConverters& Registry()
{
	return *VTextConverters::Get();
}

void AppendCodePoint(std::u16string& text, unsigned long codePoint)
{
	if (codePoint >= 0x10000)
	{
		text.push_back(char16_t(0xD800 + ((codePoint - 0x10000) >> 10)));
		text.push_back(char16_t(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
	}
	else
	{
		text.push_back(char16_t(codePoint));
	}
}

std::string Hex(const std::string& bytes)
{
	std::string out;
	char buffer[4];
	for (unsigned char byte : bytes)
	{
		snprintf(buffer, sizeof buffer, "%02X", byte);
		out += buffer;
	}
	return out;
}

std::string Hex(const std::u16string& text)
{
	std::string out;
	char buffer[8];
	for (char16_t unit : text)
	{
		snprintf(buffer, sizeof buffer, "%s%04X", out.empty() ? "" : " ", unsigned(unit));
		out += buffer;
	}
	return out;
}

struct Mapping
{
	std::u16string fText;
	std::string fBytes;
	int fKind;	// 0 both ways, 3 decoded only, 1 encoded only
};

// The committed table of the set: lines "<U3042><U...> \x82\xA0 |0".
std::vector<Mapping> ReadTable(const char* name)
{
	std::vector<Mapping> mappings;
	std::ifstream in(std::string(VELK_MAC_CHARSET_TABLES_DIR) + "/" + name + ".ucm");
	std::string line;
	while (std::getline(in, line))
	{
		if (line.compare(0, 2, "<U") != 0)
			continue;
		Mapping mapping;
		size_t at = 0;
		while (line.compare(at, 2, "<U") == 0)
		{
			const size_t end = line.find('>', at);
			AppendCodePoint(mapping.fText, std::strtoul(line.substr(at + 2, end - at - 2).c_str(), nullptr, 16));
			at = end + 1;
		}
		at = line.find("\\x", at);
		while (line.compare(at, 2, "\\x") == 0)
		{
			mapping.fBytes.push_back(char(std::strtoul(line.substr(at + 2, 2).c_str(), nullptr, 16)));
			at += 4;
		}
		mapping.fKind = line[line.find('|', at) + 1] - '0';
		mappings.push_back(mapping);
	}
	return mappings;
}

// One call over the whole input; the counts must cover it.
std::u16string Decode(const VToUnicodeConverter& converter, const std::string& bytes)
{
	std::u16string out(bytes.size() * 4 + 8, u'\0');
	size_t consumed = 0;
	int32 produced = 0;
	EXPECT_TRUE(converter.Convert(bytes.data(), bytes.size(), &consumed, out.data(), int32(out.size()), &produced));
	EXPECT_EQ(consumed, bytes.size()) << Hex(bytes);
	out.resize(size_t(produced));
	return out;
}

std::string Encode(const VFromUnicodeConverter& converter, const std::u16string& text)
{
	std::string out(text.size() * 4 + 8, '\0');
	int32 consumed = 0;
	size_t produced = 0;
	EXPECT_TRUE(converter.Convert(text.data(), int32(text.size()), &consumed, out.data(), out.size(), &produced));
	EXPECT_EQ(consumed, int32(text.size())) << Hex(text);
	out.resize(produced);
	return out;
}

class MacSetConverters
{
public:
	explicit MacSetConverters(CharSet charSet)
	: fTo(Registry().RetainToUnicodeConverter(charSet), true), fFrom(Registry().RetainFromUnicodeConverter(charSet), true)
	{
	}
	bool IsValid() const { return fTo && fFrom && fTo->IsValid() && fFrom->IsValid(); }
	const VToUnicodeConverter& To() const { return *fTo; }
	const VFromUnicodeConverter& From() const { return *fFrom; }

private:
	VRefPtr<VToUnicodeConverter> fTo;
	VRefPtr<VFromUnicodeConverter> fFrom;
};

// Reports the first few differences of a set and counts them all.
class Differences
{
public:
	void Add(const std::string& what)
	{
		if (fCount++ < 5)
			ADD_FAILURE() << what;
	}
	size_t Count() const { return fCount; }

private:
	size_t fCount = 0;
};

TEST(XMacTextConverterMacSetsTest, EveryMappingOfTheTablesBothWays)
{
	for (const MacSet& set : kMacSets)
	{
		SCOPED_TRACE(set.fName);
		const std::vector<Mapping> table = ReadTable(set.fName);
		ASSERT_GT(table.size(), 200u) << "no table for " << set.fName << " in " << VELK_MAC_CHARSET_TABLES_DIR;
		MacSetConverters converters(set.fCharSet);
		ASSERT_TRUE(converters.IsValid());
		// A legacy set counts 2 bytes a unit; no character of these sets takes more.
		EXPECT_EQ(converters.From().GetCharSize(), 2);

		Differences differences;
		size_t decoded = 0;
		size_t encoded = 0;
		for (const Mapping& mapping : table)
		{
			if (mapping.fKind != 1)
			{
				++decoded;
				const std::u16string text = Decode(converters.To(), mapping.fBytes);
				if (text != mapping.fText)
					differences.Add(Hex(mapping.fBytes) + " decodes to " + Hex(text) + ", not " + Hex(mapping.fText));
			}
			if (mapping.fKind != 3)
			{
				++encoded;
				const std::string bytes = Encode(converters.From(), mapping.fText);
				if (bytes != mapping.fBytes)
					differences.Add(Hex(mapping.fText) + " encodes to " + Hex(bytes) + ", not " + Hex(mapping.fBytes));
			}
		}
		EXPECT_EQ(differences.Count(), 0u);
		// Every byte of the single-byte sets decodes; the double-byte sets have thousands of characters.
		EXPECT_GE(decoded, set.fCharSet == 110 || set.fCharSet == 112 ? 256u : 7000u);
		EXPECT_GE(encoded, set.fCharSet == 110 || set.fCharSet == 112 ? 200u : 7000u);
	}
}

// Decodes through pieces of `piece` bytes and a room of `room` units, as a reader of a stream does: the
// bytes a call leaves are handed again with the next piece, and a room too small for the next character
// is grown.
std::u16string DecodeInPieces(const VToUnicodeConverter& converter, const std::string& bytes, size_t piece, int32 room)
{
	std::u16string out;
	std::string pending;
	size_t next = 0;
	while (next < bytes.size() || !pending.empty())
	{
		if (pending.empty() || next < bytes.size())
		{
			pending += bytes.substr(next, piece);
			next = std::min(bytes.size(), next + piece);
		}
		std::vector<UniChar> buffer(static_cast<size_t>(room));
		size_t consumed = 0;
		int32 produced = 0;
		if (!converter.Convert(pending.data(), pending.size(), &consumed, buffer.data(), room, &produced))
			return u"<failed>";
		out.append(buffer.data(), size_t(produced));
		pending.erase(0, consumed);
		if (consumed == 0 && produced == 0 && next >= bytes.size())
		{
			if (room > 64)
				return u"<stuck>";
			room *= 2;
		}
	}
	return out;
}

std::string EncodeInRooms(const VFromUnicodeConverter& converter, const std::u16string& text, size_t room)
{
	std::string out;
	size_t at = 0;
	while (at < text.size())
	{
		std::string buffer(room, '\0');
		int32 consumed = 0;
		size_t produced = 0;
		if (!converter.Convert(text.data() + at, int32(text.size() - at), &consumed, buffer.data(), room, &produced))
			return "<failed>";
		out.append(buffer.data(), produced);
		at += size_t(consumed);
		if (consumed == 0 && produced == 0)
		{
			if (room > 64)
				return "<stuck>";
			room *= 2;
		}
	}
	return out;
}

TEST(XMacTextConverterMacSetsTest, PiecesAndSmallRoomsKeepCharactersWhole)
{
	for (const MacSet& set : kMacSets)
	{
		SCOPED_TRACE(set.fName);
		MacSetConverters converters(set.fCharSet);
		ASSERT_TRUE(converters.IsValid());
		std::string bytes;
		std::u16string text;
		for (const Mapping& mapping : ReadTable(set.fName))
		{
			if (mapping.fKind == 0)
			{
				bytes += mapping.fBytes;
				text += mapping.fText;
			}
		}
		ASSERT_FALSE(bytes.empty());
		ASSERT_EQ(Decode(converters.To(), bytes), text);
		const std::string whole = Encode(converters.From(), text);
		ASSERT_EQ(Hex(whole), Hex(bytes));

		// Pieces of odd sizes end inside two-byte characters; small rooms cut characters of several units.
		for (size_t piece : {1u, 2u, 3u, 7u, 4096u})
		{
			for (int32 room : {1, 2, 3, 64})
			{
				SCOPED_TRACE(testing::Message() << "piece " << piece << ", room " << room);
				EXPECT_EQ(DecodeInPieces(converters.To(), bytes, piece, room), text);
			}
		}
		// Rooms of 1 and 3 bytes end inside two-byte characters.
		for (size_t room : {1u, 2u, 3u, 64u})
		{
			SCOPED_TRACE(testing::Message() << "room " << room);
			EXPECT_EQ(EncodeInRooms(converters.From(), text, room), whole);
		}

		// The registry's whole-string conversions go through the same converters.
		VString string;
		ASSERT_TRUE(Registry().ConvertToVString(bytes.data(), bytes.size(), set.fCharSet, string));
		EXPECT_EQ(std::u16string(string.GetCPointer(), size_t(string.GetLength())), text);
		std::string back(whole.size() + 16, '\0');
		int32 consumed = 0;
		size_t produced = 0;
		ASSERT_TRUE(Registry().ConvertFromVString(string, &consumed, back.data(), back.size(), &produced, set.fCharSet));
		EXPECT_EQ(consumed, string.GetLength());
		EXPECT_EQ(back.substr(0, produced), whole);
	}
}

TEST(XMacTextConverterMacSetsTest, UnmappedInputGivesTheReplacement)
{
	struct ToCase
	{
		CharSet fCharSet;
		std::string fBytes;
		std::u16string fText;
		size_t fConsumed;
	};
	const ToCase toCases[] = {
		// A lead byte cut by the end of the input waits for the next call.
		{120, "\x82", u"", 0},
		{120, "A\x82", u"A", 1},
		{116, "a\xB0", u"a", 1},
		{118, "\xA4\x40\xA4", u"\u4E00", 2},
		// A pair of valid bytes without a character is one replacement.
		{120, "\x81\xAD!", u"\uFFFD!", 3},
		{116, "\xA2\xA1!", u"\uFFFD!", 3},
		{118, "\xA3\xC0!", u"\uFFFD!", 3},
		// A lead byte followed by a byte that cannot follow it: only the lead is replaced.
		{120, "\x88\x20x", u"\uFFFD x", 3},
		{116, "\xB0\x41", u"\uFFFDA", 2},
		{118, "\xA4\x20", u"\uFFFD ", 2},
		// Single bytes without a character.
		{120, "\xF0z", u"\uFFFDz", 2},
		{116, "\x83z", u"\uFFFDz", 2},
		{118, "\xC7z", u"\uFFFDz", 2},
	};
	for (const ToCase& c : toCases)
	{
		SCOPED_TRACE(testing::Message() << c.fCharSet << " " << Hex(c.fBytes));
		MacSetConverters converters(c.fCharSet);
		ASSERT_TRUE(converters.IsValid());
		UniChar out[16];
		size_t consumed = 99;
		int32 produced = 99;
		ASSERT_TRUE(converters.To().Convert(c.fBytes.data(), c.fBytes.size(), &consumed, out, 16, &produced));
		EXPECT_EQ(consumed, c.fConsumed);
		EXPECT_EQ(Hex(std::u16string(out, size_t(produced))), Hex(c.fText));
	}

	struct FromCase
	{
		std::u16string fText;
		std::string fBytes;
		int32 fConsumed;
	};
	// In every one of the sets: a character none of them has, a supplementary character (one "?" for its
	// two units), lone surrogates, and a high surrogate at the end, which waits for its partner.
	const FromCase fromCases[] = {
		{u"a\u0E01b", "a?b", 3},
		{u"a\U0001F600b", "a?b", 4},
		{u"\xDC00z", "?z", 2},
		{u"\xD800z", "?z", 2},
		{u"a\xD83D", "a", 1},
	};
	for (const MacSet& set : kMacSets)
	{
		MacSetConverters converters(set.fCharSet);
		ASSERT_TRUE(converters.IsValid());
		for (const FromCase& c : fromCases)
		{
			SCOPED_TRACE(testing::Message() << set.fName << " " << Hex(c.fText));
			char out[16];
			int32 consumed = 99;
			size_t produced = 99;
			ASSERT_TRUE(converters.From().Convert(c.fText.data(), int32(c.fText.size()), &consumed, out, sizeof out, &produced));
			EXPECT_EQ(consumed, c.fConsumed);
			EXPECT_EQ(std::string(out, produced), c.fBytes);
		}
	}
	// Letters of one script are not in the other's set.
	for (const auto& [charSet, text] : std::vector<std::pair<CharSet, std::u16string>>{{110, u"\u05D0"}, {112, u"\u0627"}})
	{
		MacSetConverters converters(charSet);
		ASSERT_TRUE(converters.IsValid());
		EXPECT_EQ(Encode(converters.From(), text), "?");
	}
}

// The perl program on the search path; empty when there is none.
std::string FindPerl()
{
	const char* path = std::getenv("PATH");
	std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
	std::string folder;
	while (std::getline(folders, folder, ':'))
	{
		const std::string candidate = folder + "/perl";
		if (!folder.empty() && access(candidate.c_str(), X_OK) == 0)
			return candidate;
	}
	return std::string();
}

// Every byte sequence the codec decodes ("D <bytes> <code points>") and every character of the BMP it
// encodes ("E <code point> <bytes>"), in hexadecimal.
constexpr const char* kCodecDump = R"PERL(
use strict; use warnings; use Encode ();
my $codec = Encode::find_encoding($ARGV[0]) or exit 3;
sub Whole { my ($how, $in) = @_; my $rest = $in; my $out = $how->($rest); return (length($rest) == 0 && length($out) > 0) ? $out : undef }
my $decode = sub { $codec->decode($_[0], Encode::FB_QUIET) };
my $encode = sub { $codec->encode($_[0], Encode::FB_QUIET) };
sub Points { join(",", map { sprintf("%X", ord) } split //, $_[0]) }
for my $b (0 .. 255) {
	my $text = Whole($decode, chr($b));
	if (defined $text) { print "D ", unpack("H*", chr($b)), " ", Points($text), "\n"; next }
	for my $t (0 .. 255) {
		my $pair = Whole($decode, chr($b) . chr($t));
		print "D ", unpack("H*", chr($b) . chr($t)), " ", Points($pair), "\n" if defined $pair;
	}
}
for my $c (0 .. 0xFFFF) {
	next if $c >= 0xD800 && $c <= 0xDFFF;
	my $bytes = Whole($encode, chr($c));
	printf("E %X %s\n", $c, unpack("H*", $bytes)) if defined $bytes;
}
)PERL";

std::string FromHex(const std::string& hex)
{
	std::string bytes;
	for (size_t i = 0; i + 1 < hex.size(); i += 2)
		bytes.push_back(char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
	return bytes;
}

TEST(XMacTextConverterMacSetsTest, SameAsPerlsCodec)
{
	const std::string perl = FindPerl();
	if (perl.empty())
		GTEST_SKIP() << "no perl on this machine";
	for (const MacSet& set : kMacSets)
	{
		SCOPED_TRACE(set.fName);
		const test::VChildRun probe = test::RunChild(perl, {"-MEncode", "-e", "exit(Encode::find_encoding($ARGV[0]) ? 0 : 3)", set.fCodec});
		if (probe.fStatus != 0)
			GTEST_SKIP() << "perl has no Encode module with " << set.fCodec << ": " << probe.fErrors;
		const test::VChildRun run = test::RunChild(perl, {"-e", kCodecDump, set.fCodec});
		ASSERT_EQ(run.fStatus, 0) << run.fErrors;
		MacSetConverters converters(set.fCharSet);
		ASSERT_TRUE(converters.IsValid());

		std::map<std::string, std::u16string> decoded;	// the codec's
		std::map<char16_t, std::string> encoded;
		std::istringstream lines(run.fOutput);
		std::string kind, first, second;
		while (lines >> kind >> first >> second)
		{
			if (kind == "D")
			{
				std::u16string text;
				std::stringstream points(second);
				std::string point;
				while (std::getline(points, point, ','))
					AppendCodePoint(text, std::strtoul(point.c_str(), nullptr, 16));
				decoded[FromHex(first)] = text;
			}
			else
			{
				encoded[char16_t(std::strtoul(first.c_str(), nullptr, 16))] = FromHex(second);
			}
		}
		ASSERT_GT(decoded.size(), 200u);
		ASSERT_GT(encoded.size(), 200u);

		Differences differences;
		std::vector<bool> isLead(256, false);
		for (const auto& [bytes, text] : decoded)
		{
			if (bytes.size() == 2)
				isLead[(unsigned char)bytes[0]] = true;
			const std::u16string ours = Decode(converters.To(), bytes);
			if (ours != text)
				differences.Add(Hex(bytes) + " decodes to " + Hex(ours) + ", the codec's " + Hex(text));
		}
		// What the codec cannot decode is replaced, except ASCII bytes it leaves out, which stand for
		// themselves.
		for (unsigned lead = 0; lead < 256; ++lead)
		{
			const std::string single(1, char(lead));
			if (!isLead[lead] && decoded.count(single) == 0)
			{
				const std::u16string expected(1, lead < 0x80 ? char16_t(lead) : u'\uFFFD');
				if (Decode(converters.To(), single) != expected)
					differences.Add(Hex(single) + " decodes to " + Hex(Decode(converters.To(), single)));
			}
			for (unsigned trail = 0; isLead[lead] && trail < 256; ++trail)
			{
				const std::string pair = single + char(trail);
				if (decoded.count(pair) == 0 && Decode(converters.To(), pair).find(u'\uFFFD') == std::u16string::npos)
					differences.Add(Hex(pair) + " decodes to " + Hex(Decode(converters.To(), pair)));
			}
		}
		for (char32_t c = 0; c <= 0xFFFF; ++c)
		{
			if (c >= 0xD800 && c <= 0xDFFF)
				continue;
			const char16_t unit = char16_t(c);
			const auto found = encoded.find(unit);
			// Characters invisible by default that a set cannot hold are dropped, as in every legacy set.
			std::string expected = found != encoded.end() ? found->second : u_hasBinaryProperty(UChar32(c), UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ? "" : "?";
			if (c < 0x80 && decoded.count(std::string(1, char(c))) == 0)
				expected = std::string(1, char(c));
			const std::string ours = Encode(converters.From(), std::u16string(1, unit));
			if (ours != expected)
				differences.Add(Hex(std::u16string(1, unit)) + " encodes to " + Hex(ours) + ", expected " + Hex(expected));
		}
		EXPECT_EQ(differences.Count(), 0u);
	}
}

}  // namespace
}  // namespace velk
