// The international manager: the locale services of one dialect (language table, collation, case mapping,
// character classes, locale texts and date formats), through which every language-aware comparison of strings runs. Reference-counted;
// the process holds one and every task a copy of it.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <utility>
#include <vector>

#include "kernel/intl/VIntlTextTypes.h"
#include "kernel/intl/mac/XMacIntlMgr.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VValue.h"

namespace velk {

class VCollator;
class VCompareOptions;
class VDuration;
class VTime;
class IFile;
class IFolder;

// Dialect codes are Windows language identifiers: the low 10 bits the primary language, the bits above the
// sublanguage. As signed values -2, -1 and 0 stand for the system's dialect; -2 also means "no dialect" in
// the answers of the lookups.
constexpr uint32 kDIALECT_NONE = uint32(-2);
constexpr uint32 kDIALECT_US_ENGLISH = 1033;

// Display styles of dates, times and durations.
enum EOSFormats : int32
{
	eOS_SHORT_FORMAT = 0,
	eOS_MEDIUM_FORMAT = 1,
	eOS_LONG_FORMAT = 2
};

// The order of the fields of the locale's short date.
enum EDateOrder : int32
{
	DO_MONTH_DAY_YEAR = 0,
	DO_DAY_MONTH_YEAR = 1,
	DO_YEAR_MONTH_DAY = 2,
	DO_MONTH_YEAR_DAY = 3,
	DO_DAY_YEAR_MONTH = 4,
	DO_YEAR_DAY_MONTH = 5
};

class VELK_API VIntlMgr : public VObject, public IRefCountable
{
public:
	// Bits of the options word.
	static constexpr uint32 kOPTION_PLATFORM_COLLATION = 1;
	static constexpr uint32 kOPTION_ICU_COLLATION = 2;
	// Bit of Create's options byte that refuses ICU collation.
	static constexpr uint8 kCREATE_NO_ICU = 0x20;

	// A new manager (one reference) for the dialect, collating by the collator dialect. Codes -2..0 stand
	// for the system's dialect; a code outside the language table falls back to its primary language, then
	// to 1033; a collator for Thai or Hungarian is made for 1033. When the current task's manager already
	// has these dialects and options, the result is a copy of it with its wild char reset. Null, with
	// velk 305 raised, when no collator can be made; velk 100 when the manager itself cannot be had.
	static VIntlMgr* Create(uint32 inDialect, uint32 inCollatorDialect, uint8 inOptions);

	// A new manager equal to this one (one reference), with its own collator; null when memory is short.
	VIntlMgr* Clone() const;

	// When the manager has no collator yet, makes one as Create does; true when one exists afterwards.
	bool _InitCollator(uint32 inCollatorDialect, uint8 inOptions);
	// The collator's wild char back to the default.
	void Reset();

	uint32 GetDialectCode() const { return fDialect; }
	uint32 GetOptions() const { return fOptions; }
	// The manager's collator, not retained; null only while a manager is being made.
	VCollator* GetCollator() const { return fCollator; }
	XMacIntlMgr& GetMacIntlMgr() { return fMacIntlMgr; }

	// ---- Comparison, forwarded to the collator (see VCollator) ----
	CompareResult CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const;
	// As above, or as CompareString_Like when the options ask for a wildcard comparison, with the options'
	// diacritics flag.
	CompareResult CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, const VCompareOptions& inOptions) const;
	bool EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const;
	CompareResult CompareString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	bool EqualString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	UniChar GetWildChar() const;
	// The collator's signature.
	void GetStringComparisonAlgorithmSignature(VString& outSignature) const;
	// "AlphaNum" for platform collation; left unchanged for ICU collation; cleared otherwise.
	void GetKewordAlgorithmSignature(VString& ioSignature) const;

	// ---- Case (VIntlMgrCase.cpp) ----
	// The string replaced by its full upper-case (inUpper) or lower-case form, locale-independent; it may
	// grow ("ß" becomes "SS"). Left unchanged when memory is short (velk 107 raised by the string). The
	// first flag is not used.
	void ToUpperLowerCase(VString& ioText, bool inFlag, bool inUpper) const;

	// ---- The system's dialect ----
	// Codes -2, -1 and 0: the system dialect (from the first preferred language, 1033 when that is not in
	// the table), computed once per process and kept; other codes unchanged.
	static uint32 ResolveDialectCode(uint32 inDialect);
	// For tests that change the preferred languages: the next ResolveDialectCode computes the system
	// dialect again. Not for use while other threads resolve dialects.
	static void _ForgetSystemDialect();
	// The dialect of the user's first preferred language; 1033 when there is none or it is not in the table.
	static uint32 GetSystemUIDialectCode();
	// Clears, then one dialect per preferred language, in order; 1033 for those not in the table.
	static void GetSystemUIDialectCodes(std::vector<uint32>& outDialects);
	// Whether the system UI dialect is Chinese, Japanese or Korean.
	static bool IsSystemUIDialectIdeographic();

	// ---- The language table (VIntlMgrLanguages.cpp); a code's row is the first row with that code ----
	static bool IsDialectCode(uint32 inDialect);
	// After ResolveDialectCode: Arabic, Hebrew, Urdu or Persian.
	static bool IsRightToLeftDialect(uint32 inDialect);
	// The row's ISO 639-1 code ("fr") or ISO 3166 region ("CA", may be empty); null when not in the table.
	static const char* GetISO6391LanguageCode(uint32 inDialect);
	static const char* GetISO3166RegionCode(uint32 inDialect);
	// Each clears the string and sets it to the row's field; true when the result is not empty.
	static bool GetISO6391LanguageCode(uint32 inDialect, VString& outCode);
	static bool GetISO6392LanguageCode(uint32 inDialect, VString& outCode);
	// The English name, lower case ("french").
	static bool GetISOLanguageName(uint32 inDialect, VString& outName);
	static bool GetISO3166RegionCode(uint32 inDialect, VString& outCode);
	// The RFC 3066bis subtag: a lower-case region or a script ("ca", "Hans"), often empty.
	static bool GetRFC3066BisSubTagRegionCode(uint32 inDialect, VString& outCode);
	// "en-US", "zh-TW", "fr": the 639-1 code and, when the row has one, "-" and the region.
	static bool GetBCP47LanguageCode(uint32 inDialect, VString& outCode);
	// "fr-ca", "zh-Hans", "en": the 639-1 code and, when the row has one, the separator and the subtag.
	// False with an empty string when the dialect is not in the table.
	static bool GetRFC3066BisLanguageCodeWithDialectCode(uint32 inDialect, VString& outCode, char inSeparator = '-');
	// "fr-CA", "fr_ca" or "fr" to a dialect: a language with a subtag ("-" or "_") is looked up as such and,
	// when the table has no such row and inFallBackToLanguage is set, as the bare language; a bare language
	// gives its default sublanguage when inDefaultSublanguage is set, else the row's own code. Three or more
	// pieces, or no match: outDialect -2 and false.
	static bool GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, uint32& outDialect, bool inFallBackToLanguage = true, bool inDefaultSublanguage = true);
	// The table search behind the above, ASCII case-insensitive; a null subtag looks up the bare language.
	static bool GetDialectCodeWithRFC3066BisLanguageCode(const char* inLanguage, const char* inSubtag, uint32& outDialect, bool inFallBackToLanguage, bool inDefaultSublanguage);
	// "french" to 1036: the first row of that English name without a subtag, as its primary language.
	static bool GetDialectCodeWithISOLanguageName(const VString& inName, uint32& outDialect);
	// How well two language codes match: 4 equal, 3 "fr-ca" against "fr", 2 "fr" against "fr-ca",
	// 1 "fr-ca" against "fr-be", 0 otherwise, -1 when either is not a known code.
	static int32 Compare2RFC3066LanguageCodes(const VString& inCode1, const VString& inCode2);
	// Appends the code of every row, in table order, repeats included.
	static void GetAllDialects(std::vector<uint32>& outDialects);
	// Appends, for every row, the 639-1 code of its code's row and the code.
	static void GetDialectsHavingCollator(std::vector<std::pair<VString, uint32>>& outDialects);
	// The script group of the dialect: 0 Western, 1 Japanese, 2 traditional Chinese, 3 simplified Chinese,
	// 4 Korean, 5 Arabic, 6 Hebrew, 7 Greek, 8 Cyrillic, 9 Central European, 10 to 16 smaller groups;
	// -1 for any other code.
	static int32 DialectCodeToScriptCode(uint32 inDialect);

	// ---- Localization folders (VIntlMgrLanguages.cpp) ----
	// Appends (without clearing) the existing sub-folders of inParent named for the dialect, in this order:
	// "fr-ca.lproj", "fr_ca.lproj", "fr.lproj", "fr_CA.lproj", "French.lproj" (repeats of the first left
	// out). A dialect outside the table has no names. True when outFolders is not empty afterwards.
	static bool GetLocalizationFoldersWithDialect(uint32 inDialect, const IFolder* inParent, std::vector<VRefPtr<IFolder>>& outFolders);
	// The file of that name in the dialect's localization folders, the last found folder first; retained,
	// null when none holds it. *outFolderFound (may be null): whether any localization folder exists.
	static IFile* RetainLocalizationFile(const IFolder* inParent, const VString& inFileName, uint32 inDialect, bool* outFolderFound);

	// Copies min(source bytes, *ioDstBytes) bytes when both sets are equal and stores that count; converts
	// nothing otherwise. Answers whether the sets are equal.
	static bool DebugConvertString(void* inSrc, int32 inSrcBytes, CharSet inSrcCharSet, void* outDst, int32& ioDstBytes, CharSet inDstCharSet);
	// Always 0.
	static int32 CharType(uint32 inChar) { (void)inChar; return 0; }

	// ---- Characters and words (VIntlMgrCharacters.cpp) ----
	// True for U+0020, U+00A0, U+2000-U+200B and U+3000 only (tab and line ends are not spaces here);
	// the flag is not used.
	bool IsSpace(UniChar inChar, bool inFlag = false) const;
	// Membership in the constant class tables below. Only the first and last unified ideographs (U+4E00,
	// U+9FA5) and Hangul syllables (U+AC00, U+D7A3) are letters; the code points between them are not.
	bool IsAlpha(UniChar inChar) const;
	bool IsDigit(UniChar inChar) const;
	bool IsPunctuation(UniChar inChar) const;
	// 0-9 for ASCII "0"-"9", -1 for everything else (other scripts' digits included).
	int32 CharDigitValue(UniChar inChar) const;

	// Class tables: the number of ranges, a pivot, then inclusive (first, last) pairs in ascending order.
	// A lookup scans forward from the first range for characters up to the pivot, backward from the last
	// one above it.
	static const uint16 sLetterRanges[];
	static const uint16 sDigitRanges[];
	static const uint16 sPunctuationRanges[];
	static const uint16 sSpaceRanges[];
	static bool _IsInRanges(const uint16* inTable, UniChar inChar);

	// Class flags of the range-table builder.
	static constexpr uint8 kCLASS_SPACE = 1;
	static constexpr uint8 kCLASS_DIGIT = 2;
	static constexpr uint8 kCLASS_PUNCTUATION = 4;
	static constexpr uint8 kCLASS_LETTER = 8;
	// Builds a class table from 65,536 class flags, one per code point: every maximal run of code points
	// whose flags share a bit of inMask becomes one range, and the pivot is the integer mean of the range
	// starts. The block comes from VMemory::NewPtr (the caller disposes of it); null when memory is short.
	static uint16* _FillOneRangesArray(const uint8* inFlags, uint8 inMask);

	// Characters that separate words: below U+0020, or neither a letter nor a digit.
	bool _IsItaDeadChar(UniChar inChar) const;
	// The elision test of the word at the 1-based inPos: a word of 4 units or more whose second unit is an
	// apostrophe (' or U+2019) and whose third, lower-cased, is a, e, i, o, u, h or y. False when the word
	// does not lie inside the text.
	bool _HasApostropheSecondFollowedByVowel(const VString& inText, int32 inPos, int32 inLength) const;
	// Appends the pieces of the range between "." characters (and each dot as (position, 1) with
	// inKeepDots); empty pieces are skipped. Without a dot nothing is appended and the result is false.
	bool _SplitWordRangeOnDot(const VString& inText, int32 inPos, size_t inLength, VRangeVector& outRanges, bool inKeepDots) const;

	// Replaces outWords by the words of the text: runs of letters and digits, separated by the other
	// characters. Callers pass the manager's options: without bit 0 no words are found and the result is
	// false. An empty text gives no words and true.
	bool GetWordBoundariesWithOptions(const VString& inText, VRangeVector& outWords, uint32 inOptions) const;
	// Whether the word occurs in the text as a whole word (with the options' diacritics flag). A like word
	// holding the wild char is matched against each word of the text in turn. False without a collator.
	bool FindWord(const VString& inText, const VString& inWord, const VCompareOptions& inOptions) const;
	// Replaces outFound by the matches of the pattern that the mode keeps (only the first one without
	// inAll). An empty pattern, or a manager without a collator, finds nothing.
	void FindStrings(const VString& inText, const VString& inPattern, EFindStringMode inMode, bool inWithDiacritics, VRangeVector& outFound, bool inAll) const;

	// No reordering is done: the text is left as it is. True when it is empty or a single carriage return.
	bool TextLogicalToVisual(VString& ioText, int32 inDirection) const;
	// One run over the whole text (less a trailing carriage return with inIgnoreTrailingCR), right-to-left
	// when bit 0 of inDirection is set, and one 0 in outLevels; both vectors are replaced. Answers that bit.
	bool GetBidiRuns(const UniChar* inText, int32 inLength, std::vector<VBidiRun>& outRuns, std::vector<int32>& outLevels, int32 inDirection, bool inIgnoreTrailingCR) const;

	// Classes of Mac Roman bytes for identifiers: 0 printable (tab, return and 0x20 up except 0x7F);
	// 1 identifier part (0x80-0x9F, digit, ASCII letter, 0xAE, 0xBE, 0xCF, "_"); 2 identifier start (the
	// same without digits); 3 ASCII identifier part; 4 ASCII identifier start; 5 digit; others none.
	static bool IsAMacCharacter(uint8 inByte, uint8 inKind);
	// ---- End of characters and words ----

	// ---- Locale texts and dates (VIntlMgrDates.cpp) ----
	// The locale texts, read from the platform when the manager is made; empty when it could not give them.
	const VString& GetAMString() const { return fAMString; }
	const VString& GetPMString() const { return fPMString; }
	// Whether the short time format has an AM/PM marker.
	bool Use12HourClock() const { return fUse12HourClock; }
	const VString& GetDecimalSeparator() const { return fDecimalSeparator; }
	const VString& GetThousandsSeparator() const { return fThousandsSeparator; }
	const VString& GetDateSeparator() const { return fDateSeparator; }
	const VString& GetTimeSeparator() const { return fTimeSeparator; }
	const VString& GetCurrency() const { return fCurrency; }
	// The platform's patterns of the dates and times alone ("M/d/yy", "h:mm a").
	const VString& GetShortDatePattern() const { return fShortDatePattern; }
	const VString& GetMediumDatePattern() const { return fMediumDatePattern; }
	const VString& GetLongDatePattern() const { return fLongDatePattern; }
	const VString& GetFullDatePattern() const { return fFullDatePattern; }
	const VString& GetShortTimePattern() const { return fShortTimePattern; }
	const VString& GetMediumTimePattern() const { return fMediumTimePattern; }
	const VString& GetLongTimePattern() const { return fLongTimePattern; }
	const VString& GetFullTimePattern() const { return fFullTimePattern; }
	EDateOrder GetDateOrder() const { return fDateOrder; }

	// The date alone, the time alone, or a duration as a time of day, in the platform's styles (a long date
	// is the platform's full one, with the weekday), in UTC or local time. The text is cleared first; a
	// style outside 0-2 leaves it untouched.
	void FormatDate(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC);
	void FormatTime(const VTime& inTime, VString& outText, EOSFormats inFormat, bool inUTC);
	void FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inFormat);
	// The locale's name of a month (1-12) or a weekday (0-6, 0 Sunday); cleared outside those ranges.
	void GetMonthName(int32 inMonth, bool inShort, VString& outName);
	void GetWeekDayName(int32 inDay, bool inShort, VString& outName);
	// The toolbox's own pattern formatter: runs of a letter ("yyyy", "MMM", "EEEE", "HH", "a", ...) are
	// fields of the time in UTC (inUTC) or local time; other characters are copied, with no quoting. The
	// month names come from the locale, or from inMonthText when given. Replaces outText.
	void FormatDateTimeWithPattern(const VTime& inTime, const VString& inPattern, bool inUTC, const VString* inMonthText, VString& outText);
	// Custom formats are not offered: clears outText and answers false.
	bool CustomFormatTime(const VTime& inTime, bool inUTC, const VString& inFormat, VString& outText) const;
	// Fills the locale texts from the platform; true.
	bool _InitLocaleVariables();

protected:
	~VIntlMgr() override;

private:
	VIntlMgr(uint32 inDialect, uint32 inOptions);
	VIntlMgr(const VIntlMgr& inOther);
	VIntlMgr& operator=(const VIntlMgr&) = delete;

	XMacIntlMgr fMacIntlMgr;
	uint32 fOptions;
	VCollator* fCollator = nullptr;  // owned
	uint32 fDialect;
	VString fAMString;
	VString fPMString;
	bool fUse12HourClock = false;
	VString fDecimalSeparator;
	VString fThousandsSeparator;
	VString fDateSeparator;
	VString fTimeSeparator;
	VString fCurrency;
	VString fShortDatePattern;
	VString fMediumDatePattern;
	VString fLongDatePattern;
	VString fFullDatePattern;
	VString fShortTimePattern;
	VString fMediumTimePattern;
	VString fLongTimePattern;
	VString fFullTimePattern;
	EDateOrder fDateOrder = DO_MONTH_DAY_YEAR;
};

}  // namespace velk
