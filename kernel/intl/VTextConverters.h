// The process-wide converter registry: hands out text converters by character set, translates between
// character-set numbers, IANA names and MIB numbers, recognises byte-order marks and guesses the character
// set of unmarked text.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/intl/VTextConverter.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VString;

// Character-set numbers (CharSet).
constexpr CharSet kCharSet_PlatformDefault = -2;  // the platform's 8-bit default: Mac Roman
constexpr CharSet kCharSet_None = 0;
constexpr CharSet kCharSet_UTF16BE = 1;
constexpr CharSet kCharSet_UTF16 = 2;  // machine order
constexpr CharSet kCharSet_UTF32BE = 3;
constexpr CharSet kCharSet_UTF32 = 4;  // machine order
constexpr CharSet kCharSet_UTF32RawBE = 5;  // one 32-bit value per UTF-16 unit
constexpr CharSet kCharSet_UTF32Raw = 6;
constexpr CharSet kCharSet_UTF8 = 7;
constexpr CharSet kCharSet_UTF7 = 8;
constexpr CharSet kCharSet_USASCII = 9;
constexpr CharSet kCharSet_EBCDIC037 = 10;
constexpr CharSet kCharSet_IBM437 = 11;
constexpr CharSet kCharSet_MacRoman = 100;
constexpr CharSet kCharSet_Windows1252 = 101;
constexpr CharSet kCharSet_MacCentralEurRoman = 102;
constexpr CharSet kCharSet_Windows1250 = 103;
constexpr CharSet kCharSet_MacCyrillic = 104;
constexpr CharSet kCharSet_Windows1251 = 105;
constexpr CharSet kCharSet_MacGreek = 106;
constexpr CharSet kCharSet_Windows1253 = 107;
constexpr CharSet kCharSet_MacTurkish = 108;
constexpr CharSet kCharSet_Windows1254 = 109;
constexpr CharSet kCharSet_MacArabic = 110;
constexpr CharSet kCharSet_Windows1256 = 111;
constexpr CharSet kCharSet_MacHebrew = 112;
constexpr CharSet kCharSet_Windows1255 = 113;
constexpr CharSet kCharSet_MacCE = 114;
constexpr CharSet kCharSet_Windows1257 = 115;
constexpr CharSet kCharSet_MacChineseSimplified = 116;
constexpr CharSet kCharSet_GBK = 117;
constexpr CharSet kCharSet_MacChineseTraditional = 118;
constexpr CharSet kCharSet_DOSChineseTraditional = 119;
constexpr CharSet kCharSet_MacJapanese = 120;
constexpr CharSet kCharSet_ShiftJIS = 1000;
constexpr CharSet kCharSet_ISO2022JP = 1001;
constexpr CharSet kCharSet_Big5 = 1002;
constexpr CharSet kCharSet_EUCKR = 1003;
constexpr CharSet kCharSet_KOI8R = 1004;
constexpr CharSet kCharSet_ISO8859_1 = 1005;  // 1005-1014: ISO-8859-1 to ISO-8859-10
constexpr CharSet kCharSet_ISO8859_10 = 1014;
constexpr CharSet kCharSet_ISO8859_13 = 1015;
constexpr CharSet kCharSet_GB2312 = 1016;
constexpr CharSet kCharSet_GB2312_80 = 1017;
constexpr CharSet kCharSet_ISO8859_15 = 1018;
constexpr CharSet kCharSet_Windows31J = 1019;

// Made on the first Get, once even when several threads ask at the same time, and kept until the process
// ends. Every operation is then read-only on the registry and safe from any thread.
class VELK_API VTextConverters : public VObject
{
public:
	// The registry, made on the first call.
	static VTextConverters* Get();

	// A converter carrying one reference for the caller, who releases it; never null. A character set
	// without a converter gives the Void converter (IsValid false, converts nothing).
	VToUnicodeConverter* RetainToUnicodeConverter(CharSet inCharSet);
	VFromUnicodeConverter* RetainFromUnicodeConverter(CharSet inCharSet);

	// The UTF-8 converters for the program's zero-terminated 8-bit strings; not retained.
	VToUnicodeConverter* GetStdLibToUnicodeConverter() const { return fToUTF8; }
	VFromUnicodeConverter* GetStdLibFromUnicodeConverter() const { return fFromUTF8; }

	// Replaces outString's text with the converted bytes. False when the character set has no converter,
	// when the conversion stopped before the end of the input (the text converted so far is kept), or when
	// the string could not grow (velk 300).
	bool ConvertToVString(const void* inBytes, size_t inByteCount, CharSet inCharSet, VString& outString);

	// The string's units through the from-Unicode converter of the set; the counts and the result are the
	// converter's.
	bool ConvertFromVString(const VString& inString, int32* outUnitsConsumed, void* outBytes, size_t inMaxBytes, size_t* outBytesProduced,
							CharSet inCharSet);

	// Table lookups: the first matching row wins. Names compare through the current task's international
	// manager, ignoring case and diacritics. What is not in the table gives 0 or an empty name.
	void GetNameFromCharSet(CharSet inCharSet, VString& outName) const;
	CharSet GetCharSetFromName(const VString& inName) const;
	int32 GetMIBEnumFromCharSet(CharSet inCharSet) const;
	int32 GetMIBEnumFromName(const VString& inName) const;
	CharSet GetCharSetFromMIBEnum(int32 inMIBEnum) const;
	void GetNameFromMIBEnum(int32 inMIBEnum, VString& outName) const;

	// The web character sets, in table order; both vectors are cleared first.
	void EnumWebCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets) const;
	// The character sets sorted by name (the first name of each run of aliases); the vectors are replaced.
	void EnumCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets) const;

	// Recognises a byte-order mark at the start of the bytes: UTF-8, then UTF-32 (a first byte 00 that
	// does not begin 00 00 FE FF means no mark), then UTF-16. Both outputs may be null; without a mark
	// they get 0 and the result is false.
	static bool ParseBOM(const void* inBytes, size_t inByteCount, size_t* outBOMSize, CharSet* outCharSet);
	// The mark of a character set, with its length; null and 0 for a set without one (every set outside
	// 1-7, and the raw UTF-32 sets).
	static const uint8* GetBOMForCharSet(CharSet inCharSet, size_t* outSize);
	// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
	// no sequence cut at the end. A count below 1 gives true.
	static bool DetectUTF8(const uint8* inBytes, int32 inCount);
	// Guesses UTF-16 from the pattern of zero bytes in the first four, and UTF-8 from the first 2048 bytes
	// when inCheckUTF8 is set (a window cut inside a sequence that is still valid counts when bytes follow
	// it). *ioCharSet holds the caller's default on entry and is written only when the result is true.
	static bool GuessCharsetWithNoBom(const void* inBytes, int32 inCount, CharSet* ioCharSet, bool inCheckUTF8);

	static VTextConverters* sInstance;

private:
	VTextConverters();
	~VTextConverters() override;
	VTextConverters(const VTextConverters&) = delete;
	VTextConverters& operator=(const VTextConverters&) = delete;

	VToUnicodeConverter* _GetCachedToUnicode(CharSet inCharSet) const;
	VFromUnicodeConverter* _GetCachedFromUnicode(CharSet inCharSet) const;

	VToUnicodeConverter* fToPlatformDefault;
	VFromUnicodeConverter* fFromPlatformDefault;
	VToUnicodeConverter* fToNull;
	VFromUnicodeConverter* fFromNull;
	VToUnicodeConverter* fToSwap;
	VFromUnicodeConverter* fFromSwap;
	VToUnicodeConverter* fToUTF32Raw;
	VFromUnicodeConverter* fFromUTF32Raw;
	VToUnicodeConverter* fToUTF32;
	VFromUnicodeConverter* fFromUTF32;
	VToUnicodeConverter* fToUTF8;
	VFromUnicodeConverter* fFromUTF8;
};

}  // namespace velk
