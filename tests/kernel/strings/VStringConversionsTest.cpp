// The string's conversions: the integer and real reading rules, integer ranges, booleans, four-character
// codes, number texts whatever the process locale, bytes in character sets with and without byte-order
// marks, the bounds of ToBlock, JSON values, and the free conversion functions.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/values/VDuration.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

// Compares the bits, so that -0.0 differs from 0.0; any NaN equals any NaN.
bool SameReal(double a, double b)
{
	if (std::isnan(a) || std::isnan(b))
		return std::isnan(a) && std::isnan(b);
	return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(VStringConversionsTest, IntegerReadingRules)
{
	struct Row
	{
		const char16_t* text;
		int64 value;
		int32 asLong;
		int16 asWord;
	};
	const Row rows[] = {
		{u"", 0, 0, 0},
		{u"abc", 0, 0, 0},
		{u"-12", -12, -12, -12},
		{u"5-3", 53, 53, 53},  // a '-' after a non-zero digit does not count
		{u"0-3", -3, -3, -3},
		{u"-0-5", -5, -5, -5},
		{u"1,234", 1234, 1234, 1234},  // only the decimal separator ends the number
		{u"1.9", 1, 1, 1},
		{u"  42 apples", 42, 42, 42},
		{u"\u0661\u0662\u0663\uFF11", 0, 0, 0},  // Arabic-Indic and fullwidth digits do not count
		{u"1\u06623", 13, 13, 13},
		{u"32768", 32768, 32768, 0},
		{u"-32768", -32768, -32768, -32768},
		{u"-32769", -32769, -32769, 0},
		{u"2147483647", INT32_MAX, INT32_MAX, 0},
		{u"-2147483648", INT32_MIN, INT32_MIN, 0},
		{u"2147483648", 2147483648LL, 0, 0},
		{u"4294967296", 4294967296LL, 0, 0},
		{u"4294967297", 4294967297LL, 0, 0},  // never cut to the low bits
		{u"-9223372036854775808", INT64_MIN, 0, 0},
		{u"9223372036854775808", INT64_MIN, 0, 0},  // wraps without notice
		{u"18446744073709551617", 1, 1, 1},
	};
	for (const Row& r : rows)
	{
		const VString s(r.text);
		EXPECT_EQ(s.GetLong8(), r.value) << to_string(s);
		EXPECT_EQ(s.GetLong(), r.asLong) << to_string(s);
		EXPECT_EQ(s.GetWord(), r.asWord) << to_string(s);
	}

	// The digits stop at the decimal separator of the calling task's manager.
	VIntlMgr* previous = VTask::GetCurrentIntlManager();
	previous->Retain();
	VIntlMgr* french = VIntlMgr::Create(1036, 1036, 1);
	ASSERT_NE(french, nullptr);
	VTask::SetCurrentIntlManager(french);
	const std::pair<const char16_t*, int64> commaRows[] = {{u"1,234", 1}, {u"1.234", 1234}, {u"-3,9", -3}};
	for (const auto& [text, value] : commaRows)
		EXPECT_EQ(VString(text).GetLong8(), value) << to_string(VString(text));
	VTask::SetCurrentIntlManager(previous);
	previous->Release();
	french->Release();
}

TEST(VStringConversionsTest, RealReadingRulesAndRangeFlag)
{
	struct Row
	{
		const char16_t* text;
		double value;
		bool overflow;
	};
	const Row rows[] = {
		{u"1.5e3xyz", 1500.0, false}, {u"  -.5", -0.5, false},      {u"\t\n 2.25", 2.25, false},
		{u"1,5", 1.0, false},         {u"5-3", 5.0, false},         {u"0X1.8P1", 3.0, false},
		{u"1e999", HUGE_VAL, true},   {u"-1e999", -HUGE_VAL, true}, {u"1e-999", 0.0, true},
		{u"-1e-999", -0.0, true},     {u"0", 0.0, false},           {u"", 0.0, false},
		{u"-INF", -HUGE_VAL, false},  {u"\u00A01", 0.0, false},     {u"1\u0662", 1.0, false},
		{u"\u0661.\u0665", 0.0, false},
		{u"4.9e-324", 4.9406564584124654e-324, false},  // a subnormal is less precise, not out of range
	};
	for (const Row& r : rows)
	{
		const VString s(r.text);
		bool overflow = !r.overflow;
		EXPECT_TRUE(SameReal(s.GetRealCheckOverflow(&overflow), r.value)) << to_string(s);
		EXPECT_EQ(overflow, r.overflow) << to_string(s);
		EXPECT_TRUE(SameReal(s.GetReal(), r.value)) << to_string(s);
	}
	EXPECT_TRUE(std::isnan(VString(u" -nan(123)").GetReal()));

	// Everything else as the C library reads it in the "C" locale, long texts included.
	ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
	const std::string longNumber = "0." + std::string(5000, '0') + "1e5000";
	const std::string texts[] = {"0x1.fffffffffffffp1023", "0x", ".e1", "1e+", "+-1", "1.2.3", "nan(abc)x", "infinityy",
								 "infinit", "1.7976931348623159e308", "1(2)", "0xg", "9e-400", longNumber};
	for (const std::string& text : texts)
		EXPECT_TRUE(SameReal(VString(text.c_str()).GetReal(), std::strtod(text.c_str(), nullptr))) << text.substr(0, 40);
}

TEST(VStringConversionsTest, RealTextsAndTheirRoundTrips)
{
	struct Row
	{
		double value;
		const char16_t* text;
	};
	const Row rows[] = {
		{0.1, u"0.1"},           {1e20, u"1E+20"}, {123456789012345678.0, u"1.2345678901235E+17"},
		{HUGE_VAL, u"INF"},      {-HUGE_VAL, u"-INF"}, {std::nan(""), u"NAN"},
		{-std::nan(""), u"NAN"},  // the C library would write "-NAN"
	};
	for (const Row& r : rows)
	{
		VString s(u"previous text, longer than any number's text");
		s.FromReal(r.value);
		EXPECT_EQ(Text(s), r.text) << r.value;
		// Each reads back as itself, but for the one with more than 14 digits.
		EXPECT_EQ(SameReal(s.GetReal(), r.value), r.value != 123456789012345678.0) << r.value;
	}

	std::mt19937_64 random(20240611);
	// Any other real is written as the C library writes "%.14G" in the "C" locale and reads back within
	// those 14 digits...
	ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
	for (int i = 0; i < 4000; ++i)
	{
		const uint64 bits = random();
		double value;
		std::memcpy(&value, &bits, sizeof(value));
		if (std::isnan(value))
			continue;
		char expected[64];
		std::snprintf(expected, sizeof(expected), "%.14G", value);
		VString text;
		text.FromReal(value);
		ASSERT_EQ(to_string(text), expected);
		if (std::isnormal(value))
		{
			ASSERT_LE(std::fabs(text.GetReal() - value), std::fabs(value) * 5.1e-14) << expected;
		}
	}
	// ...and a real of at most 14 significant digits reads back exactly.
	std::uniform_int_distribution<int64> mantissa(-99999999999999, 99999999999999);
	std::uniform_int_distribution<int> exponent(-300, 290);
	for (int i = 0; i < 2000; ++i)
	{
		VString source;
		source.FromLong8(mantissa(random));
		source.AppendCString("E").AppendLong(exponent(random));
		VString text;
		text.FromReal(source.GetReal());
		ASSERT_TRUE(SameReal(text.GetReal(), source.GetReal())) << to_string(source);
	}
}

// Makes a locale with a decimal comma the numeric locale of the process for the scope, building one with
// localedef in a temporary folder when the system has none.
class StCommaLocale
{
public:
	StCommaLocale() : fSaved(std::setlocale(LC_NUMERIC, nullptr))
	{
		if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr)
			return;
		std::error_code error;
		fFolder = std::filesystem::temp_directory_path(error) / ("velk-locale-" + std::to_string(::getpid()));
		std::filesystem::create_directories(fFolder, error);
		const std::string command = "localedef -i de_DE -f UTF-8 '" + (fFolder / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
		const int status = std::system(command.c_str());
		// Status 1 means warnings: the locale was still written.
		if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
			return;
		if (const char* path = std::getenv("LOCPATH"))
			fSavedPath = path;
		::setenv("LOCPATH", fFolder.c_str(), 1);
		std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
	}
	~StCommaLocale()
	{
		std::setlocale(LC_NUMERIC, fSaved.c_str());
		if (fFolder.empty())
			return;
		if (fSavedPath.empty())
			::unsetenv("LOCPATH");
		else
			::setenv("LOCPATH", fSavedPath.c_str(), 1);
		std::error_code error;
		std::filesystem::remove_all(fFolder, error);
	}
	bool IsActive() const { return std::strcmp(std::localeconv()->decimal_point, ",") == 0; }

private:
	std::string fSaved;
	std::filesystem::path fFolder;
	std::string fSavedPath;
};

TEST(VStringConversionsTest, NumberTextsIgnoreTheProcessLocale)
{
	StCommaLocale comma;
	if (!comma.IsActive())
		GTEST_SKIP() << "no locale with a decimal comma can be made here";
	ASSERT_EQ(std::strtod("1,5", nullptr), 1.5);  // the C library now reads commas; the string does not
	EXPECT_EQ(VString(u"1.5").GetReal(), 1.5);
	EXPECT_EQ(VString(u"1,5").GetReal(), 1.0);
	EXPECT_EQ(VString(u"-2.5e2").GetReal(), -250.0);
	VString s;
	s.FromReal(1234.5);
	EXPECT_EQ(Text(s), u"1234.5");
	EXPECT_EQ(VString(u"1,234").GetLong8(), 1234);
}

TEST(VStringConversionsTest, NumberTextsReplaceTheContentOfAnyBuffer)
{
	VString s(true);
	s.FromLong8(INT64_MIN);
	EXPECT_FALSE(s.IsNull());
	EXPECT_TRUE(s.IsDirty());
	EXPECT_EQ(Text(s), u"-9223372036854775808");
	s.FromULong8(UINT64_MAX);
	EXPECT_EQ(Text(s), u"18446744073709551615");
	s.FromWord(-32768);
	EXPECT_EQ(Text(s), u"-32768");
	s.FromByte(-128);
	EXPECT_EQ(Text(s), u"-128");

	// A buffer shared with another string is given up, not written into; an unshared large one is reused
	// or traded, the text being the same.
	VString big(std::u16string(500, u'x').c_str());
	VString sharer(big);
	big.FromLong(7);
	EXPECT_EQ(Text(big), u"7");
	EXPECT_EQ(Text(sharer), std::u16string(500, u'x'));
	sharer.FromReal(0.5);
	sharer.AppendCString("!");
	EXPECT_EQ(Text(sharer), u"0.5!");

	// A caller's buffer is written in place while the text fits, and left alone after.
	UniChar buffer[8] = {u'z', u'z', u'z', 0, u'#', u'#', u'#', u'#'};
	VString wrapped(buffer, 3, 4 * sizeof(UniChar));
	wrapped.FromLong(-42);
	wrapped.FromBoolean(1);
	EXPECT_EQ(Text(wrapped), u"true");
	EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"-42\0####", 8));
	wrapped.FromBoolean(0);
	EXPECT_EQ(Text(wrapped), u"false");
}

TEST(VStringConversionsTest, BooleansAndFourCharacterCodes)
{
	ASSERT_NE(VTask::GetCurrentIntlManager(), nullptr);
	for (const char16_t* text : {u"true", u"TRUE", u"True"})
		EXPECT_TRUE(VString(text).GetBoolean()) << to_string(VString(text));
	for (const char16_t* text : {u"1", u"yes", u"true ", u"truex", u"tru", u""})
		EXPECT_FALSE(VString(text).GetBoolean()) << to_string(VString(text));

	struct Row
	{
		const char16_t* text;
		uint32 code;
	};
	const Row rows[] = {
		{u"TEXT", 0x54455854}, {u"abcdef", 0x61626364}, {u"ab", 0x61622020},        {u"", 0x20202020},
		{u"\u00E9", 0xC3A92020}, {u"a\u20AC", 0x61E282AC}, {u"abc\u00E9", 0x61626320},  // no half characters
	};
	for (const Row& r : rows)
		EXPECT_EQ(VString(r.text).GetOsType(), r.code) << to_string(VString(r.text));
	for (uint32 code : {FourCharCode("velk"), FourCharCode("a b "), FourCharCode("~!09")})
	{
		VString s;
		s.FromOsType(code);
		EXPECT_EQ(s.GetOsType(), code);
	}
	VString s(u"previous");
	s.FromOsType(0x41004243);  // bytes outside 0x20-0x7E are skipped
	EXPECT_EQ(Text(s), u"ABC");
}

TEST(VStringConversionsTest, UnitsCharTextsDescriptorsAndDurations)
{
	VString s(true);
	s.FromUniChar(0);
	EXPECT_EQ(Text(s), u"");
	EXPECT_FALSE(s.IsNull());
	s.FromCString("caf\xC3\xA9 \xE2\x82\xAC");
	EXPECT_EQ(Text(s), u"caf\u00E9 \u20AC");

	// A descriptor's buffer is shared, and copied before it is written.
	VString source(std::u16string(100, u'q').c_str());
	int32 length = 0;
	int32 capacity = 0;
	UniChar* buffer = source.RetainBuffer(length, capacity);
	VString shared(true);
	shared.FromString(VInlineString{length, buffer, capacity});
	VString::ReleaseRetainedBuffer(buffer, capacity);
	EXPECT_EQ(shared.GetCPointer(), source.GetCPointer());
	shared.SetUniChar(1, u'Q');
	EXPECT_EQ(source.GetUniChar(1), u'q');

	VDuration d;
	VString(u"0:0:1:5").GetDuration(d);
	EXPECT_EQ(d.GetLong8OrMilliSeconds(), 1005);
	s.FromDuration(VDuration(1500));
	EXPECT_EQ(Text(s), u"1500");
	s.FromValue(VDuration(-20));
	EXPECT_EQ(Text(s), u"-20");
}

// What ToBlock writes into a block of exactly size bytes, so that a write past it is caught.
struct BlockResult
{
	size_t produced;
	std::vector<uint8> bytes;
};

BlockResult ToBlock(const VString& s, size_t size, CharSet set, bool zeroTerminate, bool lengthPrefix)
{
	std::unique_ptr<uint8[]> buffer(new uint8[size]);
	std::memset(buffer.get(), 0xAB, size);
	const size_t produced = s.ToBlock(buffer.get(), size, set, zeroTerminate, lengthPrefix);
	return BlockResult{produced, std::vector<uint8>(buffer.get(), buffer.get() + size)};
}

TEST(VStringConversionsTest, BlocksRoundTripWithAndWithoutMarks)
{
	const VString unicode(u"Gr\u00FC\u00DFe \u20AC \U0001F600 \u4E2D");
	const VString western(u"Gr\u00FC\u00DFe, caf\u00E9 \u00E0 l'\u00EEle");
	const std::pair<CharSet, const VString*> rows[] = {
		{kCharSet_UTF8, &unicode},    {kCharSet_UTF16BE, &unicode},         {kCharSet_UTF16, &unicode},
		{kCharSet_UTF32BE, &unicode}, {kCharSet_UTF32, &unicode},           {kCharSet_UTF32Raw, &unicode},
		{kCharSet_MacRoman, &western}, {kCharSet_PlatformDefault, &western}, {kCharSet_Windows1252, &western},
		{kCharSet_ISO8859_1, &western},
	};
	for (const auto& [set, text] : rows)
	{
		SCOPED_TRACE(set);
		const BlockResult block = ToBlock(*text, 400, set, true, false);
		ASSERT_GT(block.produced, 0u);
		EXPECT_EQ(block.bytes[block.produced], 0);
		// Without a mark the given set decides.
		VString back(u"old");
		EXPECT_EQ(back.FromBlockWithOptionalBOM(block.bytes.data(), block.produced, set), set);
		EXPECT_EQ(Text(back), Text(*text));
		// A mark decides whatever the default, and is not part of the text.
		size_t bomSize = 0;
		const uint8* bom = VTextConverters::GetBOMForCharSet(set, &bomSize);
		if (bom == nullptr)
			continue;
		std::vector<uint8> marked(bom, bom + bomSize);
		marked.insert(marked.end(), block.bytes.begin(), block.bytes.begin() + ptrdiff_t(block.produced));
		EXPECT_EQ(back.FromBlockWithOptionalBOM(marked.data(), marked.size(), kCharSet_MacRoman), set);
		EXPECT_EQ(Text(back), Text(*text));
	}

	// Unmarked UTF-16 is recognised by its zero bytes; unmarked UTF-32 is not taken for anything else.
	struct Guess
	{
		std::vector<uint8> bytes;
		CharSet defaultSet;
		CharSet used;
		const char16_t* text;
	};
	const Guess guesses[] = {
		{{'h', 0, 'i', 0}, kCharSet_UTF8, kCharSet_UTF16, u"hi"},
		{{0, 'h', 0, 'i'}, kCharSet_PlatformDefault, kCharSet_UTF16BE, u"hi"},
		{{'h', 'i', '!', '?'}, kCharSet_UTF16, kCharSet_UTF8, u"hi!?"},
		{{'h', 0, 0, 0, 'i', 0, 0, 0}, kCharSet_UTF32, kCharSet_UTF32, u"hi"},
		{{0x8E, 'a', 'b', 'c'}, kCharSet_MacRoman, kCharSet_MacRoman, u"\u00E9abc"},
		{{0xEF, 0xBB, 0xBF}, kCharSet_MacRoman, kCharSet_UTF8, u""},
	};
	for (const Guess& g : guesses)
	{
		VString s(u"old");
		EXPECT_EQ(s.FromBlockWithOptionalBOM(g.bytes.data(), g.bytes.size(), g.defaultSet), g.used);
		EXPECT_EQ(Text(s), g.text);
	}
}

TEST(VStringConversionsTest, BlockPrefixesTerminatorsAndSmallBuffers)
{
	struct Row
	{
		std::u16string text;
		size_t size;
		CharSet set;
		bool zeroTerminate;
		bool lengthPrefix;
		size_t produced;
		std::vector<uint8> head;  // the first bytes of the block (0xAB: not written)
	};
	const Row rows[] = {
		{u"hello", 8, kCharSet_UTF8, true, true, 5, {5, 'h', 'e', 'l', 'l', 'o', 0, 0xAB}},
		{std::u16string(300, u'a'), 302, kCharSet_UTF8, false, true, 300, {0, 'a'}},  // 256 and more: prefix 0
		{u"hi", 9, kCharSet_UTF16, true, true, 4, {2, 0, 'h', 0, 'i', 0, 0, 0, 0xAB}},
		{std::u16string(70000, u'b'), 140004, kCharSet_UTF16, true, true, 140000, {0, 0, 'b', 0}},
		{u"", 4, kCharSet_UTF8, true, true, 0, {0, 0, 0xAB, 0xAB}},
		// No room for prefix and terminator: zeros in the whole units that fit, nothing else.
		{u"abc", 0, kCharSet_UTF8, true, true, 0, {}},
		{u"abc", 1, kCharSet_UTF8, true, true, 0, {0}},
		{u"abc", 1, kCharSet_UTF16, true, false, 0, {0xAB}},
		{u"abc", 3, kCharSet_UTF16, true, true, 0, {0, 0, 0xAB}},
		{u"abc", 1, kCharSet_UTF32, true, true, 0, {0}},
		// Just the frame, or text cut where the converter stopped.
		{u"abc", 4, kCharSet_UTF16, true, true, 0, {0, 0, 0, 0}},
		{u"abcdef", 5, kCharSet_UTF8, true, false, 4, {'a', 'b', 'c', 'd', 0}},
		{u"a\u00E9", 3, kCharSet_UTF8, true, false, 1, {'a', 0, 0xAB}},
		{u"abc", 7, kCharSet_UTF16, true, false, 4, {'a', 0, 'b', 0, 0, 0, 0xAB}},  // never half a unit
	};
	for (const Row& r : rows)
	{
		SCOPED_TRACE(testing::Message() << r.text.size() << " units into " << r.size << " bytes, set " << r.set);
		const BlockResult b = ToBlock(VString(r.text.c_str()), r.size, r.set, r.zeroTerminate, r.lengthPrefix);
		EXPECT_EQ(b.produced, r.produced);
		EXPECT_EQ(std::vector<uint8>(b.bytes.begin(), b.bytes.begin() + ptrdiff_t(r.head.size())), r.head);
	}
	EXPECT_EQ(VString(u"abc").ToBlock(nullptr, 100, kCharSet_UTF8, true, true), 0u);

	VMemoryBuffer<1024, 2, 1048576> buffer;
	ASSERT_TRUE(buffer.AddData("stale bytes", 11));
	ASSERT_TRUE(VString(u"h\u00E9!").ToBuffer(buffer, kCharSet_UTF8));
	EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetDataPtr()), size_t(buffer.GetDataSize())), "h\xC3\xA9!");
	EXPECT_FALSE(VString(u"x").ToBuffer(buffer, kCharSet_None));  // no converter: the buffer is left alone
	EXPECT_EQ(buffer.GetDataSize(), 4u);
}

TEST(VStringConversionsTest, FreeFunctions)
{
	EXPECT_EQ(Text(ToString(ULONG_MAX)), u"18446744073709551615");
	EXPECT_EQ(Text(ToString(LLONG_MIN)), u"-9223372036854775808");
	EXPECT_EQ(Text(ToString(INT_MIN)), u"-2147483648");
	const VString name(u"n\u00E9e");
	EXPECT_EQ(Text(Printf("%d %S %s", -5, &name, "x")), u"-5 n\u00E9e x");

	EXPECT_EQ(to_string(VString(true)), "");
	EXPECT_EQ(to_string(VString(u"h\u00E9 \U0001F600")), "h\xC3\xA9 \xF0\x9F\x98\x80");
	// Past the local area: few units of many bytes, and many units.
	std::string euros;
	for (int i = 0; i < 200; ++i)
		euros += "\xE2\x82\xAC";
	EXPECT_EQ(to_string(VString(std::u16string(200, u'\u20AC').c_str())), euros);
	EXPECT_EQ(to_string(VString(std::u16string(3000, u'z').c_str())), std::string(3000, 'z'));
	// Lone surrogates keep their three bytes, a high one that ends the text too, in the local area and past it.
	const UniChar cut[] = {u'a', 0xD83D};
	EXPECT_EQ(to_string(VString(cut, 2)), "a\xED\xA0\xBD");
	std::u16string longCut(300, u'z');
	longCut += u'\xDC00';
	longCut += u'\xD800';
	EXPECT_EQ(to_string(VString(longCut.c_str())), std::string(300, 'z') + "\xED\xB0\x80\xED\xA0\x80");
}

// A string's JSON value shares its heap buffer, so only a text held inline needs a counted copy: when the
// memory manager refuses it, the JSON string is empty and velk 107 is answered. Reading an array that
// holds itself answers velk 900 and leaves the string as it was.
TEST(VStringConversionsTest, JSONValueFailures)
{
	const VStr<8> inlineText(u"ab");
	const VString heapText(std::u16string(300, u'h').c_str());
	VJSONValue fromInline(3.0);
	VJSONValue fromHeap(3.0);
	VError inlineError = VE_OK;
	VError heapError = VE_OK;
	VError raised = VE_OK;

	VTask::FlushErrors();
	VCppMemMgr* previous = VObject::sCppMemMgr;
	// A manager with no backend refuses every block.
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	inlineError = inlineText.GetJSONValue(fromInline);
	raised = VTask::GetLastError();
	VTask::FlushErrors();
	heapError = heapText.GetJSONValue(fromHeap);
	VObject::sCppMemMgr = previous;
	delete refusing;

	EXPECT_EQ(inlineError, VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(raised, VE_STRING_ALLOC_FAILED);
	EXPECT_TRUE(fromInline.IsString());
	EXPECT_EQ(Text(fromInline.GetString()), u"");
	EXPECT_EQ(heapError, VE_OK);
	EXPECT_EQ(Text(fromHeap.GetString()), Text(heapText));
	EXPECT_EQ(VTask::GetLastError(), VE_OK);

	VJSONValue loop(JSON_array);
	ASSERT_TRUE(loop.GetArray()->Push(VJSONValue(1.0)));
	ASSERT_TRUE(loop.GetArray()->Push(loop));
	VString text(u"old");
	EXPECT_EQ(text.FromJSONValue(loop), VE_JSON_ARRAY_CONTAINS_ITSELF);
	EXPECT_EQ(Text(text), u"old");
	EXPECT_FALSE(text.IsNull());
	loop.GetArray()->Clear();
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
