// The converter registry, the character-set name table, byte-order marks and the UTF-8 recogniser.
#include "kernel/intl/VTextConverters.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverter.h"
#include "kernel/intl/VUnicodeConverters.h"
#include "kernel/intl/mac/XMacIntlMgr.h"
#include "kernel/intl/mac/XMacTextConverter.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"

namespace velk {

VTextConverters* VTextConverters::sInstance = nullptr;

namespace {

std::once_flag sInstanceOnce;

struct CharSetRow
{
	CharSet fCharSet;
	int32 fMIBEnum;
	const UniChar* fName;
	const char* fName8;
	int32 fWeb;  // 1: offered as a web character set
};

#define VELK_CHARSET_ROW(charSet, mib, name, web) {charSet, mib, u"" name, name, web}

// Several rows share a character set (aliases): lookups stop at the first match, so the first row of a set
// gives its preferred name. The duplicated names and the MIB numbers are as the table has always had them.
constexpr CharSetRow kCharSetRows[] = {
	VELK_CHARSET_ROW(4, 1017, "UCS4", 0),
	VELK_CHARSET_ROW(3, 1018, "UCS4BE", 0),
	VELK_CHARSET_ROW(4, 1019, "UCS4LE", 0),
	VELK_CHARSET_ROW(4, 1017, "UCS_4", 0),
	VELK_CHARSET_ROW(3, 1018, "UCS_4BE", 0),
	VELK_CHARSET_ROW(4, 1019, "UCS_4LE", 0),
	VELK_CHARSET_ROW(4, 1017, "UCS-4", 0),
	VELK_CHARSET_ROW(3, 1018, "UCS-4BE", 0),
	VELK_CHARSET_ROW(4, 1019, "UCS-4LE", 0),
	VELK_CHARSET_ROW(4, 1017, "UTF-32", 0),
	VELK_CHARSET_ROW(3, 1018, "UTF-32BE", 0),
	VELK_CHARSET_ROW(4, 1019, "UTF-32LE", 0),
	VELK_CHARSET_ROW(2, 1015, "UTF-16", 0),
	VELK_CHARSET_ROW(1, 1013, "UTF-16BE", 0),
	VELK_CHARSET_ROW(2, 1014, "UTF-16LE", 0),
	VELK_CHARSET_ROW(7, 106, "UTF-8", 1),
	VELK_CHARSET_ROW(8, 1012, "UTF-7", 1),
	VELK_CHARSET_ROW(8, 103, "UNICODE-1-1-UTF-7", 1),
	VELK_CHARSET_ROW(9, 3, "US-ASCII", 0),
	VELK_CHARSET_ROW(9, 3, "ANSI_X3.4-1968", 0),
	VELK_CHARSET_ROW(9, 3, "ANSI_X3.4-1986", 0),
	VELK_CHARSET_ROW(9, 3, "ASCII", 0),
	VELK_CHARSET_ROW(9, 3, "cp367", 0),
	VELK_CHARSET_ROW(9, 3, "csASCII", 0),
	VELK_CHARSET_ROW(9, 3, "IBM367", 0),
	VELK_CHARSET_ROW(9, 3, "iso-ir-6", 0),
	VELK_CHARSET_ROW(9, 3, "ISO_646.irv:1991", 0),
	VELK_CHARSET_ROW(9, 3, "ISO646-US", 0),
	VELK_CHARSET_ROW(9, 3, "us", 0),
	VELK_CHARSET_ROW(11, 2011, "IBM437", 0),
	VELK_CHARSET_ROW(11, 2011, "cp437", 0),
	VELK_CHARSET_ROW(11, 2011, "437", 0),
	VELK_CHARSET_ROW(11, 2011, "csPC8CodePage437", 0),
	VELK_CHARSET_ROW(10, 2028, "ebcdic-cp-us", 0),
	VELK_CHARSET_ROW(10, 2028, "cp037", 0),
	VELK_CHARSET_ROW(10, 2028, "csIBM037", 0),
	VELK_CHARSET_ROW(10, 2028, "ebcdic-cp-ca", 0),
	VELK_CHARSET_ROW(10, 2028, "ebcdic-cp-nl", 0),
	VELK_CHARSET_ROW(10, 2028, "ebcdic-cp-wt", 0),
	VELK_CHARSET_ROW(10, 2028, "IBM037", 0),
	VELK_CHARSET_ROW(100, 2027, "MacRoman", 0),
	VELK_CHARSET_ROW(100, 2027, "x-mac-roman", 0),
	VELK_CHARSET_ROW(100, 2027, "mac", 0),
	VELK_CHARSET_ROW(100, 2027, "macintosh", 0),
	VELK_CHARSET_ROW(100, 2027, "csMacintosh", 0),
	VELK_CHARSET_ROW(101, 2252, "windows-1252", 0),
	VELK_CHARSET_ROW(102, 1250, "MacCE", 0),
	VELK_CHARSET_ROW(102, 1250, "x-mac-ce", 0),
	VELK_CHARSET_ROW(103, 2250, "windows-1250", 0),
	VELK_CHARSET_ROW(104, 1251, "x-mac-cyrillic", 0),
	VELK_CHARSET_ROW(105, 2251, "windows-1251", 0),
	VELK_CHARSET_ROW(106, 1253, "x-mac-greek", 0),
	VELK_CHARSET_ROW(107, 2253, "windows-1253", 0),
	VELK_CHARSET_ROW(108, 1254, "x-mac-turkish", 0),
	VELK_CHARSET_ROW(109, 2254, "windows-1254", 0),
	VELK_CHARSET_ROW(110, 1256, "x-mac-arabic", 0),
	VELK_CHARSET_ROW(111, 2256, "windows-1256", 0),
	VELK_CHARSET_ROW(112, 1255, "x-mac-hebrew", 0),
	VELK_CHARSET_ROW(113, 2255, "windows-1255", 0),
	VELK_CHARSET_ROW(114, 1257, "x-mac-ce", 0),
	VELK_CHARSET_ROW(115, 2257, "windows-1257", 0),
	VELK_CHARSET_ROW(1000, 17, "Shift_JIS", 1),
	VELK_CHARSET_ROW(1000, 17, "csShiftJIS", 0),
	VELK_CHARSET_ROW(1000, 17, "MS_Kanji", 0),
	VELK_CHARSET_ROW(1000, 17, "Shift-JIS", 0),
	VELK_CHARSET_ROW(120, 1258, "x-mac-japanese", 0),
	VELK_CHARSET_ROW(1019, 2024, "Windows-31J", 0),
	VELK_CHARSET_ROW(1019, 2024, "csWindows31J", 0),
	VELK_CHARSET_ROW(1001, 39, "ISO-2022-JP", 0),
	VELK_CHARSET_ROW(1001, 39, "csISO2022JP", 0),
	VELK_CHARSET_ROW(1002, 2026, "Big5", 1),
	VELK_CHARSET_ROW(1002, 2026, "csBig5", 0),
	VELK_CHARSET_ROW(1003, 38, "EUC-KR", 1),
	VELK_CHARSET_ROW(1003, 38, "csEUCKR", 0),
	VELK_CHARSET_ROW(1004, 2084, "KOI8-R", 1),
	VELK_CHARSET_ROW(1004, 2084, "csKOI8R", 0),
	VELK_CHARSET_ROW(1005, 4, "ISO-8859-1", 1),
	VELK_CHARSET_ROW(1005, 4, "CP819", 0),
	VELK_CHARSET_ROW(1005, 4, "csISOLatin1", 0),
	VELK_CHARSET_ROW(1005, 4, "IBM819", 0),
	VELK_CHARSET_ROW(1005, 4, "iso-ir-100", 0),
	VELK_CHARSET_ROW(1005, 4, "ISO_8859-1", 0),
	VELK_CHARSET_ROW(1005, 4, "ISO_8859-1:1987", 0),
	VELK_CHARSET_ROW(1005, 4, "l1", 0),
	VELK_CHARSET_ROW(1005, 4, "latin1", 0),
	VELK_CHARSET_ROW(1006, 5, "ISO-8859-2", 1),
	VELK_CHARSET_ROW(1006, 5, "csISOLatin2", 0),
	VELK_CHARSET_ROW(1006, 5, "iso-ir-101", 0),
	VELK_CHARSET_ROW(1006, 5, "ISO_8859-2", 0),
	VELK_CHARSET_ROW(1006, 5, "ISO_8859-2:1987", 0),
	VELK_CHARSET_ROW(1006, 5, "l2", 0),
	VELK_CHARSET_ROW(1006, 5, "latin2", 0),
	VELK_CHARSET_ROW(1007, 6, "ISO-8859-3", 1),
	VELK_CHARSET_ROW(1007, 6, "csISOLatin3", 0),
	VELK_CHARSET_ROW(1007, 6, "ISO-8859-3:1988", 0),
	VELK_CHARSET_ROW(1007, 6, "iso-ir-109", 0),
	VELK_CHARSET_ROW(1007, 6, "ISO_8859-3", 0),
	VELK_CHARSET_ROW(1007, 6, "l3", 0),
	VELK_CHARSET_ROW(1007, 6, "latin3", 0),
	VELK_CHARSET_ROW(1008, 7, "ISO-8859-4", 1),
	VELK_CHARSET_ROW(1008, 7, "csISOLatin4", 0),
	VELK_CHARSET_ROW(1008, 7, "ISO-8859-4:1988", 0),
	VELK_CHARSET_ROW(1008, 7, "iso-ir-110", 0),
	VELK_CHARSET_ROW(1008, 7, "ISO_8859-4", 0),
	VELK_CHARSET_ROW(1008, 7, "l4", 0),
	VELK_CHARSET_ROW(1008, 7, "latin4", 0),
	VELK_CHARSET_ROW(1009, 8, "ISO-8859-5", 1),
	VELK_CHARSET_ROW(1009, 8, "csISOLatinCyrillic", 0),
	VELK_CHARSET_ROW(1009, 8, "cyrillic", 0),
	VELK_CHARSET_ROW(1009, 8, "ISO-8859-5:1988", 0),
	VELK_CHARSET_ROW(1009, 8, "iso-ir-144", 0),
	VELK_CHARSET_ROW(1009, 8, "ISO_8859-5", 0),
	VELK_CHARSET_ROW(1010, 9, "ISO-8859-6", 1),
	VELK_CHARSET_ROW(1010, 9, "arabic", 0),
	VELK_CHARSET_ROW(1010, 9, "ASMO-708", 0),
	VELK_CHARSET_ROW(1010, 9, "csISOLatinArabic", 0),
	VELK_CHARSET_ROW(1010, 9, "ECMA-114", 0),
	VELK_CHARSET_ROW(1010, 9, "ISO-8859-6:1987", 0),
	VELK_CHARSET_ROW(1010, 9, "iso-ir-127", 0),
	VELK_CHARSET_ROW(1010, 9, "ISO_8859-6", 0),
	VELK_CHARSET_ROW(1011, 10, "ISO-8859-7", 1),
	VELK_CHARSET_ROW(1011, 10, "csISOLatinGreek", 0),
	VELK_CHARSET_ROW(1011, 10, "ECMA-118", 0),
	VELK_CHARSET_ROW(1011, 10, "ELOT_928", 0),
	VELK_CHARSET_ROW(1011, 10, "greek", 0),
	VELK_CHARSET_ROW(1011, 10, "greek8", 0),
	VELK_CHARSET_ROW(1011, 10, "iso-ir-126", 0),
	VELK_CHARSET_ROW(1011, 10, "ISO_8859-7", 0),
	VELK_CHARSET_ROW(1011, 10, "ISO_8859-7:1987", 0),
	VELK_CHARSET_ROW(1012, 11, "ISO-8859-8", 1),
	VELK_CHARSET_ROW(1012, 11, "csISOLatinHebrew", 0),
	VELK_CHARSET_ROW(1012, 11, "hebrew", 0),
	VELK_CHARSET_ROW(1012, 11, "iso-ir-138", 0),
	VELK_CHARSET_ROW(1012, 11, "ISO_8859-8", 0),
	VELK_CHARSET_ROW(1012, 11, "ISO_8859-8:1988", 0),
	VELK_CHARSET_ROW(1013, 12, "ISO-8859-9", 1),
	VELK_CHARSET_ROW(1013, 12, "csISOLatin5", 0),
	VELK_CHARSET_ROW(1013, 12, "iso-ir-148", 0),
	VELK_CHARSET_ROW(1013, 12, "ISO_8859-9", 0),
	VELK_CHARSET_ROW(1013, 12, "ISO_8859-9:1989", 0),
	VELK_CHARSET_ROW(1013, 12, "l5", 0),
	VELK_CHARSET_ROW(1013, 12, "latin5", 0),
	VELK_CHARSET_ROW(1014, 13, "ISO-8859-10", 1),
	VELK_CHARSET_ROW(1014, 13, "csISOLatin6", 0),
	VELK_CHARSET_ROW(1014, 13, "iso-ir-157", 0),
	VELK_CHARSET_ROW(1014, 13, "ISO_8859-10", 0),
	VELK_CHARSET_ROW(1014, 13, "ISO_8859-10:1992", 0),
	VELK_CHARSET_ROW(1014, 13, "l6", 0),
	VELK_CHARSET_ROW(1014, 13, "latin6", 0),
	VELK_CHARSET_ROW(1015, 109, "ISO-8859-13", 1),
	VELK_CHARSET_ROW(1018, 111, "ISO-8859-15", 1),
	VELK_CHARSET_ROW(1018, 111, "Latin-9", 0),
	VELK_CHARSET_ROW(1016, 2025, "GB2312", 1),
	VELK_CHARSET_ROW(1016, 2025, "csGB2312", 0),
	VELK_CHARSET_ROW(1016, 2025, "x-mac-chinesesimp", 0),
	VELK_CHARSET_ROW(116, 2025, "x-mac-chinesesimp", 0),
	VELK_CHARSET_ROW(1017, 57, "GB_2312-80", 0),
	VELK_CHARSET_ROW(1017, 57, "csISO58GB231280", 0),
	VELK_CHARSET_ROW(117, 113, "GBK", 1),
	VELK_CHARSET_ROW(117, 113, "CP936", 0),
	VELK_CHARSET_ROW(117, 113, "MS936", 0),
	VELK_CHARSET_ROW(117, 113, "windows-936", 0),
	{0, 0, nullptr, nullptr, 0},
};

#undef VELK_CHARSET_ROW

static_assert(sizeof(kCharSetRows) / sizeof(kCharSetRows[0]) == 163, "162 rows and the terminating one");

// Byte-order marks of the character sets 1 to 7.
constexpr uint8 kBOMBytes[7][4] = {
	{0xFE, 0xFF}, {0xFF, 0xFE}, {0x00, 0x00, 0xFE, 0xFF}, {0xFF, 0xFE, 0x00, 0x00}, {}, {}, {0xEF, 0xBB, 0xBF}};
constexpr size_t kBOMSizes[7] = {2, 2, 4, 4, 0, 0, 3};

// UTF-8 recogniser: the class of every byte, then the next state for each state and class. State 0 starts
// and is the only accepting state; state 1 rejects for good.
constexpr uint8 kUTF8Classes[256] = {
	// 00-7F
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
	// 80-8F, 90-9F
	1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
	// A0-BF
	7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
	// C0-C1, C2-DF
	8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
	// E0, E1-EC, ED, EE-EF, F0, F1-F3, F4, F5-FF
	10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

constexpr uint8 kUTF8States[9][16] = {
	{0, 1, 2, 3, 5, 8, 7, 1, 1, 1, 4, 6, 1, 1, 1, 1},  // 0: start
	{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 1: reject
	{1, 0, 1, 1, 1, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1},  // 2: one continuation byte left
	{1, 2, 1, 1, 1, 1, 1, 2, 1, 2, 1, 1, 1, 1, 1, 1},  // 3: two left
	{1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1},  // 4: after E0 (no overlong form)
	{1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1},  // 5: after ED (no surrogate)
	{1, 1, 1, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1},  // 6: after F0 (no overlong form)
	{1, 3, 1, 1, 1, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1},  // 7: after F1-F3
	{1, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 8: after F4 (nothing above U+10FFFF)
};

constexpr uint8 kUTF8Accept = 0;
constexpr uint8 kUTF8Reject = 1;

// Runs the recogniser over the bytes; stops at once on rejection.
uint8 RunUTF8Automaton(const uint8* bytes, size_t count)
{
	uint8 state = kUTF8Accept;
	for (size_t i = 0; i < count; ++i)
	{
		state = kUTF8States[state][kUTF8Classes[bytes[i]]];
		if (state == kUTF8Reject)
			break;
	}
	return state;
}

template <class Match>
const CharSetRow* FindRow(Match match)
{
	for (const CharSetRow* row = kCharSetRows; row->fName != nullptr; ++row)
	{
		if (match(*row))
			return row;
	}
	return nullptr;
}

inline UniChar FoldASCII(UniChar c)
{
	return (c >= u'A' && c <= u'Z') ? UniChar(c + 32) : c;
}

// The 8-bit name equals the units: exactly without a manager, else ignoring the case of ASCII letters,
// which is what a manager's comparison makes of ASCII text.
bool EqualsName8(const char* name8, const UniChar* units, size_t length, bool ignoreCase)
{
	for (size_t i = 0; i < length; ++i)
	{
		const UniChar c = UniChar(uint8(name8[i]));
		if (c == 0 || (c != units[i] && (!ignoreCase || FoldASCII(c) != FoldASCII(units[i]))))
			return false;
	}
	return name8[length] == 0;
}

// As VString::EqualToString(name, false), without making a string for each row: an ASCII name compares
// on the 8-bit column, any other through the current task's international manager (a unit outside ASCII
// may fold onto an ASCII letter there).
const CharSetRow* FindRowByName(const VString& name)
{
	const UniChar* const units = name.GetCPointer();
	const int32 length = std::max<int32>(name.GetLength(), 0);
	const VIntlMgr* const intl = VTask::GetCurrentIntlManager();
	const bool ascii = std::all_of(units, units + length, [](UniChar c) { return c < 0x80; });
	if (ascii || intl == nullptr)
	{
		return FindRow([&](const CharSetRow& row) { return EqualsName8(row.fName8, units, size_t(length), intl != nullptr); });
	}
	return FindRow([&](const CharSetRow& row) {
		return intl->EqualString(row.fName, int32(std::char_traits<char>::length(row.fName8)), units, length, false);
	});
}

void SetName(const CharSetRow* row, VString& outName)
{
	outName.Clear();
	if (row != nullptr)
		outName = VString(row->fName);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// The registry

VTextConverters* VTextConverters::Get()
{
	std::call_once(sInstanceOnce, [] { sInstance = new VTextConverters(); });
	return sInstance;
}

namespace {

// The registry is made when the library loads, while memory is plentiful, so that no later call, however
// short of memory, has to make it.
class StEagerConverters
{
public:
	StEagerConverters() { VTextConverters::Get(); }
};

StEagerConverters sEagerConverters;

}  // namespace

VTextConverters::VTextConverters()
{
	fToPlatformDefault = XMacIntlMgr::NewToUnicodeConverter(kCharSet_PlatformDefault);
	if (fToPlatformDefault == nullptr)
		fToPlatformDefault = new VToUnicodeConverter_Void();
	fFromPlatformDefault = XMacIntlMgr::NewFromUnicodeConverter(kCharSet_PlatformDefault);
	if (fFromPlatformDefault == nullptr)
		fFromPlatformDefault = new VFromUnicodeConverter_Void();
	fToNull = new VToUnicodeConverter_Null();
	fFromNull = new VFromUnicodeConverter_Null();
	fToSwap = new VToUnicodeConverter_Swap();
	fFromSwap = new VFromUnicodeConverter_Swap();
	fToUTF32Raw = new VToUnicodeConverter_UTF32_Raw(false);
	fFromUTF32Raw = new VFromUnicodeConverter_UTF32_Raw(false);
	fToUTF32 = new VToUnicodeConverter_UTF32(false);
	fFromUTF32 = new VFromUnicodeConverter_UTF32(false);
	fToUTF8 = new VToUnicodeConverter_UTF8();
	fFromUTF8 = new VFromUnicodeConverter_UTF8();
}

VTextConverters::~VTextConverters()
{
	fToPlatformDefault->Release();
	fFromPlatformDefault->Release();
	fToNull->Release();
	fFromNull->Release();
	fToSwap->Release();
	fFromSwap->Release();
	fToUTF32Raw->Release();
	fFromUTF32Raw->Release();
	fToUTF32->Release();
	fFromUTF32->Release();
	fToUTF8->Release();
	fFromUTF8->Release();
}

VToUnicodeConverter* VTextConverters::_GetCachedToUnicode(CharSet inCharSet) const
{
	switch (inCharSet)
	{
		case kCharSet_PlatformDefault:
			return fToPlatformDefault;
		case kCharSet_UTF16BE:
			return fToSwap;
		case kCharSet_UTF16:
			return fToNull;
		case kCharSet_UTF32:
			return fToUTF32;
		case kCharSet_UTF32Raw:
			return fToUTF32Raw;
		case kCharSet_UTF8:
			return fToUTF8;
		default:
			return nullptr;
	}
}

VFromUnicodeConverter* VTextConverters::_GetCachedFromUnicode(CharSet inCharSet) const
{
	switch (inCharSet)
	{
		case kCharSet_PlatformDefault:
			return fFromPlatformDefault;
		case kCharSet_UTF16BE:
			return fFromSwap;
		case kCharSet_UTF16:
			return fFromNull;
		case kCharSet_UTF32:
			return fFromUTF32;
		case kCharSet_UTF32Raw:
			return fFromUTF32Raw;
		case kCharSet_UTF8:
			return fFromUTF8;
		default:
			return nullptr;
	}
}

VToUnicodeConverter* VTextConverters::RetainToUnicodeConverter(CharSet inCharSet)
{
	if (VToUnicodeConverter* cached = _GetCachedToUnicode(inCharSet))
	{
		cached->Retain();
		return cached;
	}
	switch (inCharSet)
	{
		case kCharSet_None:
			return new VToUnicodeConverter_Void();
		case kCharSet_UTF32BE:
			return new VToUnicodeConverter_UTF32(true);
		case kCharSet_UTF32RawBE:
			return new VToUnicodeConverter_UTF32_Raw(true);
		default:
			break;
	}
	if (VToUnicodeConverter* converter = XMacIntlMgr::NewToUnicodeConverter(inCharSet))
		return converter;
	return new VToUnicodeConverter_Void();
}

VFromUnicodeConverter* VTextConverters::RetainFromUnicodeConverter(CharSet inCharSet)
{
	if (VFromUnicodeConverter* cached = _GetCachedFromUnicode(inCharSet))
	{
		cached->Retain();
		return cached;
	}
	switch (inCharSet)
	{
		case kCharSet_None:
			return new VFromUnicodeConverter_Void();
		case kCharSet_UTF32BE:
			return new VFromUnicodeConverter_UTF32(true);
		case kCharSet_UTF32RawBE:
			return new VFromUnicodeConverter_UTF32_Raw(true);
		default:
			break;
	}
	if (VFromUnicodeConverter* converter = XMacIntlMgr::NewFromUnicodeConverter(inCharSet))
		return converter;
	return new VFromUnicodeConverter_Void();
}

bool VTextConverters::ConvertToVString(const void* inBytes, size_t inByteCount, CharSet inCharSet, VString& outString)
{
	// Bytes that lie in the string itself would be freed or written over by the truncation: read from a copy.
	const StStringSource source(outString, inBytes, inBytes == nullptr ? 0 : inByteCount);
	if (!source.IsValid())
	{
		const VString reason("mem failure");
		_ThrowError(MakeVError(kVELK_SIGNATURE, 300), &reason);
		return false;
	}
	outString.Truncate(0);
	VToUnicodeConverter* cached = _GetCachedToUnicode(inCharSet);
	VToUnicodeConverter* converter = (cached != nullptr) ? cached : RetainToUnicodeConverter(inCharSet);
	size_t consumed = 0;
	const bool result = converter->ConvertString(source.Get(), inByteCount, &consumed, outString);
	if (cached == nullptr)
		converter->Release();
	// A conversion that stopped early (no converter, bytes cut at the end, no room) is not a success.
	return result && consumed == (inBytes == nullptr ? 0 : inByteCount);
}

bool VTextConverters::ConvertFromVString(const VString& inString, int32* outUnitsConsumed, void* outBytes, size_t inMaxBytes,
										 size_t* outBytesProduced, CharSet inCharSet)
{
	VFromUnicodeConverter* cached = _GetCachedFromUnicode(inCharSet);
	VFromUnicodeConverter* converter = (cached != nullptr) ? cached : RetainFromUnicodeConverter(inCharSet);
	const bool result = converter->Convert(inString.GetCPointer(), inString.GetLength(), outUnitsConsumed, outBytes, inMaxBytes, outBytesProduced);
	if (cached == nullptr)
		converter->Release();
	return result;
}

// ---------------------------------------------------------------------------------------------------------
// Names and numbers

void VTextConverters::GetNameFromCharSet(CharSet inCharSet, VString& outName) const
{
	SetName(FindRow([inCharSet](const CharSetRow& row) { return row.fCharSet == inCharSet; }), outName);
}

CharSet VTextConverters::GetCharSetFromName(const VString& inName) const
{
	const CharSetRow* row = FindRowByName(inName);
	return row == nullptr ? kCharSet_None : row->fCharSet;
}

int32 VTextConverters::GetMIBEnumFromCharSet(CharSet inCharSet) const
{
	const CharSetRow* row = FindRow([inCharSet](const CharSetRow& r) { return r.fCharSet == inCharSet; });
	return row == nullptr ? 0 : row->fMIBEnum;
}

int32 VTextConverters::GetMIBEnumFromName(const VString& inName) const
{
	const CharSetRow* row = FindRowByName(inName);
	return row == nullptr ? 0 : row->fMIBEnum;
}

CharSet VTextConverters::GetCharSetFromMIBEnum(int32 inMIBEnum) const
{
	const CharSetRow* row = FindRow([inMIBEnum](const CharSetRow& r) { return r.fMIBEnum == inMIBEnum; });
	return row == nullptr ? kCharSet_None : row->fCharSet;
}

void VTextConverters::GetNameFromMIBEnum(int32 inMIBEnum, VString& outName) const
{
	SetName(FindRow([inMIBEnum](const CharSetRow& row) { return row.fMIBEnum == inMIBEnum; }), outName);
}

void VTextConverters::EnumWebCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets) const
{
	outNames.clear();
	outCharSets.clear();
	for (const CharSetRow* row = kCharSetRows; row->fName != nullptr; ++row)
	{
		if (row->fWeb == 1)
		{
			outNames.emplace_back(row->fName);
			outCharSets.push_back(row->fCharSet);
		}
	}
}

void VTextConverters::EnumCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets) const
{
	std::vector<VString> names;
	std::vector<CharSet> charSets;
	bool first = true;
	CharSet lastTaken = kCharSet_None;
	for (const CharSetRow* row = kCharSetRows; row->fName != nullptr; ++row)
	{
		if (!first && row->fCharSet == lastTaken)
			continue;
		first = false;
		lastTaken = row->fCharSet;
		const VString name(row->fName);
		size_t position = 0;
		while (position < names.size() && names[position].CompareToString(name, false) == CR_SMALLER)
			++position;
		names.insert(names.begin() + std::ptrdiff_t(position), name);
		charSets.insert(charSets.begin() + std::ptrdiff_t(position), row->fCharSet);
	}
	outNames.swap(names);
	outCharSets.swap(charSets);
}

// ---------------------------------------------------------------------------------------------------------
// Byte-order marks and guessing

bool VTextConverters::ParseBOM(const void* inBytes, size_t inByteCount, size_t* outBOMSize, CharSet* outCharSet)
{
	const uint8* b = static_cast<const uint8*>(inBytes);
	if (b == nullptr)
		inByteCount = 0;
	size_t size = 0;
	CharSet charSet = kCharSet_None;
	if (inByteCount >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
	{
		size = 3;
		charSet = kCharSet_UTF8;
	}
	else if (inByteCount >= 4 && b[0] == 0x00)
	{
		if (b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF)
		{
			size = 4;
			charSet = kCharSet_UTF32BE;
		}
	}
	else if (inByteCount >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00)
	{
		size = 4;
		charSet = kCharSet_UTF32;
	}
	else if (inByteCount >= 2 && b[0] == 0xFE && b[1] == 0xFF)
	{
		size = 2;
		charSet = kCharSet_UTF16BE;
	}
	else if (inByteCount >= 2 && b[0] == 0xFF && b[1] == 0xFE)
	{
		size = 2;
		charSet = kCharSet_UTF16;
	}
	if (outBOMSize != nullptr)
		*outBOMSize = size;
	if (outCharSet != nullptr)
		*outCharSet = charSet;
	return size > 0;
}

const uint8* VTextConverters::GetBOMForCharSet(CharSet inCharSet, size_t* outSize)
{
	size_t size = 0;
	const uint8* bytes = nullptr;
	if (inCharSet >= 1 && inCharSet <= 7 && kBOMSizes[inCharSet - 1] > 0)
	{
		size = kBOMSizes[inCharSet - 1];
		bytes = kBOMBytes[inCharSet - 1];
	}
	if (outSize != nullptr)
		*outSize = size;
	return bytes;
}

bool VTextConverters::DetectUTF8(const uint8* inBytes, int32 inCount)
{
	if (inBytes == nullptr || inCount < 1)
		return true;
	return RunUTF8Automaton(inBytes, size_t(inCount)) == kUTF8Accept;
}

bool VTextConverters::GuessCharsetWithNoBom(const void* inBytes, int32 inCount, CharSet* ioCharSet, bool inCheckUTF8)
{
	const uint8* b = static_cast<const uint8*>(inBytes);
	if (b == nullptr || inCount < 1 || ioCharSet == nullptr)
		return false;

	CharSet guess = kCharSet_None;
	if (inCount >= 4)
	{
		const auto isAscii = [](uint8 byte) { return byte >= 0x01 && byte <= 0x7F; };
		if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0)
			guess = kCharSet_UTF16BE;
		else if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0)
			guess = kCharSet_UTF16;
		else if ((*ioCharSet == kCharSet_UTF16BE || *ioCharSet == kCharSet_UTF16) && isAscii(b[0]) && isAscii(b[1]) && isAscii(b[2]) &&
				 isAscii(b[3]))
			guess = kCharSet_UTF8;
	}
	if (inCheckUTF8)
	{
		// A window of text that is well-formed UTF-8 to its end outweighs the zero-byte pattern. A window
		// cut inside a sequence not yet rejected counts too when bytes follow it: the cut is the window's.
		const int32 window = std::min(inCount, int32(2048));
		const uint8 state = RunUTF8Automaton(b, size_t(window));
		if (state == kUTF8Accept || (state != kUTF8Reject && inCount > window))
			guess = kCharSet_UTF8;
	}
	if (guess == kCharSet_None)
		return false;
	*ioCharSet = guess;
	return true;
}

}  // namespace velk
