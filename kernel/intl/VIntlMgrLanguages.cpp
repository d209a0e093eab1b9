// The language table of the international manager and everything looked up in it: codes, names, language
// tags, script groups and localization folders.
#include "kernel/intl/VIntlMgr.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>

#include "files/IFile.h"
#include "files/IFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

namespace {

struct LanguageRow
{
	uint32 fDialect;
	const char* fISO6391;
	const char* fISO6392;
	const char* fName;      // English, lower case
	const char* fRegion;    // ISO 3166, upper case; may be empty
	const char* fSubtag;    // RFC 3066bis: a lower-case region or a script; may be empty
};

// Scanned in order, first match wins. The odd rows (codes on two rows, 1050 both Croatian and Serbian,
// the English names "bangladesh", "india", "faorese", "malte", 1169 under "english") are kept: stored
// names and folder names depend on them. A second row of a code is reached only by language code or name.
constexpr LanguageRow kLANGUAGES[] = {
	{1078, "af", "afr", "afrikaans", "ZA", ""},
	{1052, "sq", "alb", "albanian", "AL", ""},
	{94, "am", "amh", "amharic", "", ""},
	{1, "ar", "ara", "arabic", "", ""},
	{1025, "ar", "ara", "arabic", "SA", "sa"},
	{2049, "ar", "ara", "arabic", "IQ", "iq"},
	{3073, "ar", "ara", "arabic", "EG", "eg"},
	{4097, "ar", "ara", "arabic", "LY", "ly"},
	{5121, "ar", "ara", "arabic", "DZ", "dz"},
	{6145, "ar", "ara", "arabic", "MA", "ma"},
	{7169, "ar", "ara", "arabic", "TN", "tn"},
	{8193, "ar", "ara", "arabic", "OM", "om"},
	{9217, "ar", "ara", "arabic", "YE", "ye"},
	{10241, "ar", "ara", "arabic", "SY", "sy"},
	{11265, "ar", "ara", "arabic", "JO", "jo"},
	{12289, "ar", "ara", "arabic", "LB", "lb"},
	{13313, "ar", "ara", "arabic", "KW", "kw"},
	{14337, "ar", "ara", "arabic", "AE", "ae"},
	{15361, "ar", "ara", "arabic", "BH", "bh"},
	{16385, "ar", "ara", "arabic", "QA", "qa"},
	{1067, "hy", "hye", "armenian", "AM", ""},
	{44, "az", "aze", "azerbaijani", "", ""},
	{1069, "eu", "baq", "spanish", "ES", "es"},
	{1059, "be", "bel", "belarusian", "BY", ""},
	{1093, "bn", "ben", "bangladesh", "BD", "bd"},
	{1026, "bg", "bul", "bulgarian", "BG", ""},
	{1027, "ca", "cat", "catalan", "ES", ""},
	{1028, "zh", "chi", "chinese", "TW", "Hant"},
	{2052, "zh", "chi", "chinese", "CN", "Hans"},
	{3076, "zh", "chi", "chinese", "HK", "hk"},
	{4100, "zh", "chi", "chinese", "SG", "sg"},
	{1050, "hr", "scr", "croatian", "HR", ""},
	{1029, "cs", "cze", "czech", "CZ", ""},
	{1030, "da", "dan", "danish", "DK", ""},
	{1043, "nl", "dut", "dutch", "NL", ""},
	{2067, "nl", "dut", "dutch", "BE", "be"},
	{1122, "fy", "dut", "dutch", "NL", "nl"},
	{1033, "en", "eng", "english", "US", ""},
	{2057, "en", "eng", "english", "GB", "gb"},
	{3081, "en", "eng", "english", "AU", "au"},
	{4105, "en", "eng", "english", "CA", "ca"},
	{5129, "en", "eng", "english", "NZ", "nz"},
	{6153, "en", "eng", "english", "IE", "ie"},
	{7177, "en", "eng", "english", "ZA", "za"},
	{8201, "en", "eng", "english", "JM", "jm"},
	{9225, "en", "eng", "english", "CB", "cb"},
	{10249, "en", "eng", "english", "BZ", "bz"},
	{11273, "en", "eng", "english", "TT", "tt"},
	{18441, "en", "eng", "english", "SG", "sg"},
	{1061, "et", "est", "estonian", "EE", ""},
	{1080, "fo", "fao", "faorese", "FO", ""},
	{1065, "fa", "per", "persian", "IR", ""},
	{1035, "fi", "fin", "finnish", "FI", ""},
	{1036, "fr", "fre", "french", "FR", ""},
	{2060, "fr", "fre", "french", "BE", "be"},
	{3084, "fr", "fre", "french", "CA", "ca"},
	{4108, "fr", "fre", "french", "CH", "ch"},
	{5132, "fr", "fre", "french", "LU", "lu"},
	{8192, "fr", "fre", "french", "NC", ""},
	{11264, "fr", "fre", "french", "NC", ""},
	{1169, "gd", "eng", "english", "GB", ""},
	{1110, "gl", "spa", "spanish", "ES", ""},
	{1031, "de", "ger", "german", "DE", ""},
	{2055, "de", "ger", "german", "CH", "ch"},
	{3079, "de", "ger", "german", "AT", "at"},
	{4103, "de", "ger", "german", "LU", "lu"},
	{5127, "de", "ger", "german", "LI", "li"},
	{1032, "el", "gre", "greek", "GR", ""},
	{1095, "gu", "guj", "india", "IN", ""},
	{1037, "he", "heb", "hebrew", "IL", ""},
	{1081, "hi", "hin", "india", "IN", ""},
	{1038, "hu", "hun", "hungarian", "HU", ""},
	{1039, "is", "ice", "iceland", "IS", ""},
	{1057, "id", "ind", "indonesian", "ID", ""},
	{2108, "ga", "gle", "ireland", "IE", ""},
	{1040, "it", "ita", "italian", "IT", ""},
	{2064, "it", "ita", "italian", "CH", "ch"},
	{1041, "ja", "jpn", "japanese", "JP", ""},
	{83, "kh", "khm", "khmer", "", ""},
	{1159, "rw", "kin", "kinyarwanda", "RW", ""},
	{1089, "sw", "swk", "kiswahili", "KE", ""},
	{1042, "ko", "kor", "korean", "", ""},
	{2066, "ko", "kor", "korean", "", ""},
	{1062, "lv", "lav", "latvian", "LV", ""},
	{1063, "lt", "lit", "lithuanian", "LT", ""},
	{1134, "lb", "ltz", "luxembourg", "LU", "lu"},
	{1071, "mk", "mkd", "macedonian", "MK", ""},
	{1086, "ms", "may", "malaysian", "MY", "my"},
	{58, "mt", "mlt", "malte", "", ""},
	{129, "mi", "mao", "new zealand", "", ""},
	{1102, "mr", "mar", "india", "IN", ""},
	{1100, "ml", "mal", "india", "IN", ""},
	{1104, "mn", "mon", "mongolian", "MN", ""},
	{1121, "ne", "nep", "nepali", "NP", ""},
	{1044, "no", "nor", "norwegian", "NO", ""},
	{1044, "nb", "nob", "bokmal", "NO", "no"},
	{2068, "nn", "nno", "nynorsk", "NO", "no"},
	{1154, "oc", "oci", "french", "FR", "fr"},
	{72, "or", "ori", "oriya", "", ""},
	{1065, "fa", "peo", "persian", "IR", "ir"},
	{1045, "pl", "pol", "polish", "PL", ""},
	{2070, "pt", "por", "portuguese", "PT", ""},
	{1046, "pt", "por", "portuguese", "BR", "br"},
	{70, "pa", "pan", "punjabi", "", ""},
	{1131, "qu", "que", "bolivia", "BO", ""},
	{1048, "ro", "rum", "romanian", "RO", ""},
	{1049, "ru", "rus", "russian", "RU", ""},
	{1083, "se", "sme", "Sami", "", ""},
	{2107, "se", "sme", "Sami", "", ""},
	{3131, "se", "sme", "Sami", "", ""},
	{4155, "smj", "smj", "Sami", "", ""},
	{5179, "smj", "smj", "Sami", "", ""},
	{6203, "sma", "sma", "Sami", "", ""},
	{7227, "sma", "sma", "Sami", "", ""},
	{8251, "sms", "sms", "Sami", "", ""},
	{9275, "smn", "smn", "Sami", "", ""},
	{1050, "sr", "scc", "serbian", "", ""},
	{2074, "sr", "scc", "serbian", "RS", "Latn"},
	{3098, "sr", "scc", "serbian", "RS", "Cyrl"},
	{1074, "tn", "afr", "afrikaans", "ZA", ""},
	{1115, "si", "sin", "sri lanka", "LK", ""},
	{1051, "sk", "slo", "slovak", "SK", ""},
	{1060, "sl", "slv", "slovenian", "SI", ""},
	{1034, "es", "spa", "spanish", "ES", "es"},
	{2058, "es", "spa", "spanish", "MX", "mx"},
	{3082, "es", "spa", "spanish", "", ""},
	{4106, "es", "spa", "spanish", "GT", "gt"},
	{5130, "es", "spa", "spanish", "CR", "cr"},
	{6154, "es", "spa", "spanish", "PA", "pa"},
	{7178, "es", "spa", "spanish", "DO", "do"},
	{8202, "es", "spa", "spanish", "VE", "ve"},
	{9226, "es", "spa", "spanish", "CO", "co"},
	{10250, "es", "spa", "spanish", "PE", "pe"},
	{11274, "es", "spa", "spanish", "AR", "ar"},
	{12298, "es", "spa", "spanish", "EC", "ec"},
	{13322, "es", "spa", "spanish", "CL", "cl"},
	{14346, "es", "spa", "spanish", "UY", "uy"},
	{15370, "es", "spa", "spanish", "PY", "py"},
	{16394, "es", "spa", "spanish", "BO", "bo"},
	{17418, "es", "spa", "spanish", "SV", "sv"},
	{18442, "es", "spa", "spanish", "HN", "hn"},
	{19466, "es", "spa", "spanish", "NI", "ni"},
	{20490, "es", "spa", "spanish", "PR", "pr"},
	{1053, "sv", "swe", "swedish", "SE", ""},
	{2077, "sv", "swe", "swedish", "FI", "fi"},
	{73, "ta", "tam", "indian", "", ""},
	{1054, "th", "tha", "thai", "TH", ""},
	{1055, "tr", "tur", "turkish", "TR", ""},
	{1058, "uk", "ukr", "ukrainian", "UA", ""},
	{1056, "ur", "urd", "pakistan", "PK", "pk"},
	{1066, "vi", "vie", "vietnamese", "VN", ""},
	{1106, "cy", "wel", "english", "GB", "gb"},
	{1076, "xh", "xho", "afrikaans", "ZA", ""},
	{1077, "zu", "zul", "afrikaans", "ZA", ""},
};

static_assert(std::size(kLANGUAGES) == 154);

struct ScriptRow
{
	uint32 fDialect;
	int32 fScript;
};

constexpr ScriptRow kSCRIPTS[] = {
	{1027, 0},
	{1030, 0},
	{1031, 0},
	{1033, 0},
	{1034, 0},
	{1035, 0},
	{1036, 0},
	{1040, 0},
	{1043, 0},
	{1044, 0},
	{1046, 0},
	{1052, 0},
	{1053, 0},
	{1057, 0},
	{1068, 0},
	{1069, 0},
	{1070, 0},
	{1078, 0},
	{1083, 0},
	{1086, 0},
	{1106, 0},
	{1122, 0},
	{1134, 0},
	{2055, 0},
	{2057, 0},
	{2058, 0},
	{2060, 0},
	{2064, 0},
	{2067, 0},
	{2068, 0},
	{2070, 0},
	{2077, 0},
	{2094, 0},
	{2107, 0},
	{2108, 0},
	{3079, 0},
	{3081, 0},
	{3082, 0},
	{3084, 0},
	{3131, 0},
	{4103, 0},
	{4105, 0},
	{4106, 0},
	{4108, 0},
	{4155, 0},
	{5127, 0},
	{5129, 0},
	{5130, 0},
	{5132, 0},
	{5146, 0},
	{5179, 0},
	{6153, 0},
	{6154, 0},
	{6203, 0},
	{7177, 0},
	{7178, 0},
	{7227, 0},
	{8192, 0},
	{8201, 0},
	{8202, 0},
	{8251, 0},
	{9225, 0},
	{9226, 0},
	{9275, 0},
	{10249, 0},
	{10250, 0},
	{11273, 0},
	{11274, 0},
	{12298, 0},
	{13322, 0},
	{14346, 0},
	{15370, 0},
	{16394, 0},
	{17418, 0},
	{18441, 0},
	{18442, 0},
	{19466, 0},
	{20490, 0},
	{1041, 1},
	{1028, 2},
	{4100, 2},
	{2052, 3},
	{3076, 3},
	{1042, 4},
	{2066, 4},
	{1025, 5},
	{2049, 5},
	{3073, 5},
	{4097, 5},
	{5121, 5},
	{6145, 5},
	{7169, 5},
	{8193, 5},
	{9217, 5},
	{10241, 5},
	{11265, 5},
	{12289, 5},
	{13313, 5},
	{14337, 5},
	{15361, 5},
	{16385, 5},
	{1037, 6},
	{1032, 7},
	{1026, 8},
	{1049, 8},
	{1058, 8},
	{1059, 8},
	{1064, 8},
	{1071, 8},
	{1092, 8},
	{1104, 8},
	{2092, 8},
	{2115, 8},
	{3098, 8},
	{7194, 8},
	{1029, 9},
	{1038, 9},
	{1045, 9},
	{1051, 9},
	{1061, 9},
	{1062, 9},
	{1063, 9},
	{1091, 9},
	{2074, 9},
	{6170, 9},
	{1050, 10},
	{1060, 10},
	{4122, 10},
	{1039, 11},
	{1080, 11},
	{1065, 12},
	{1048, 13},
	{1054, 14},
	{1066, 15},
	{1055, 16},
};

const LanguageRow* FindRow(uint32 inDialect)
{
	for (const LanguageRow& row : kLANGUAGES)
	{
		if (row.fDialect == inDialect)
			return &row;
	}
	return nullptr;
}

// One text field of the dialect's row, or null when the dialect is not in the table.
const char* RowField(uint32 inDialect, const char* LanguageRow::*inField)
{
	const LanguageRow* row = FindRow(inDialect);
	return row != nullptr ? row->*inField : nullptr;
}

// The first row of the language without a subtag.
const LanguageRow* FindBareLanguage(const char* inLanguage)
{
	for (const LanguageRow& row : kLANGUAGES)
	{
		if (row.fSubtag[0] == 0 && strcasecmp(row.fISO6391, inLanguage) == 0)
			return &row;
	}
	return nullptr;
}

inline uint32 PrimaryLanguage(uint32 inDialect)
{
	return (inDialect & 0x3FF) | 0x400;
}

bool SetField(VString& outText, const char* inField)
{
	outText.Clear();
	if (inField == nullptr || inField[0] == 0)
		return false;
	outText.AppendCString(inField);
	return !outText.IsEmpty();
}

// ASCII letters to lower case; language codes and names are ASCII.
void LowerASCII(VString& ioText)
{
	const UniChar* units = ioText.GetCPointer();
	for (int32 i = 0; i < ioText.GetLength(); ++i)
	{
		if (units[i] >= u'A' && units[i] <= u'Z')
			ioText.SetUniChar(i + 1, UniChar(units[i] + 32));
	}
}

// Pieces of the text between separators, empty pieces dropped.
int32 CountPieces(std::string_view inText, char inSeparator, std::string_view* outPieces, int32 inMaxPieces)
{
	int32 count = 0;
	size_t start = 0;
	while (start <= inText.size())
	{
		size_t end = inText.find(inSeparator, start);
		if (end == std::string_view::npos)
			end = inText.size();
		if (end > start)
		{
			if (count < inMaxPieces)
				outPieces[count] = inText.substr(start, end - start);
			++count;
		}
		start = end + 1;
	}
	return count;
}

// The piece as a C text of at most 255 bytes; false when it is longer.
bool CopyPiece(std::string_view inPiece, char (&outText)[256])
{
	if (inPiece.size() > 255)
		return false;
	std::memcpy(outText, inPiece.data(), inPiece.size());
	outText[inPiece.size()] = 0;
	return true;
}

}  // namespace

bool VIntlMgr::IsDialectCode(uint32 inDialect)
{
	return FindRow(inDialect) != nullptr;
}

bool VIntlMgr::IsRightToLeftDialect(uint32 inDialect)
{
	switch (ResolveDialectCode(inDialect) & 0x3FF)
	{
		case 1:   // Arabic
		case 13:  // Hebrew
		case 32:  // Urdu
		case 41:  // Persian
			return true;
		default:
			return false;
	}
}

const char* VIntlMgr::GetISO6391LanguageCode(uint32 inDialect)
{
	return RowField(inDialect, &LanguageRow::fISO6391);
}

const char* VIntlMgr::GetISO3166RegionCode(uint32 inDialect)
{
	return RowField(inDialect, &LanguageRow::fRegion);
}

bool VIntlMgr::GetISO6391LanguageCode(uint32 inDialect, VString& outCode)
{
	return SetField(outCode, RowField(inDialect, &LanguageRow::fISO6391));
}

bool VIntlMgr::GetISO6392LanguageCode(uint32 inDialect, VString& outCode)
{
	return SetField(outCode, RowField(inDialect, &LanguageRow::fISO6392));
}

bool VIntlMgr::GetISOLanguageName(uint32 inDialect, VString& outName)
{
	return SetField(outName, RowField(inDialect, &LanguageRow::fName));
}

bool VIntlMgr::GetISO3166RegionCode(uint32 inDialect, VString& outCode)
{
	return SetField(outCode, RowField(inDialect, &LanguageRow::fRegion));
}

bool VIntlMgr::GetRFC3066BisSubTagRegionCode(uint32 inDialect, VString& outCode)
{
	return SetField(outCode, RowField(inDialect, &LanguageRow::fSubtag));
}

bool VIntlMgr::GetBCP47LanguageCode(uint32 inDialect, VString& outCode)
{
	const LanguageRow* row = FindRow(inDialect);
	if (!SetField(outCode, row != nullptr ? row->fISO6391 : nullptr))
		return false;
	if (row->fRegion[0] != 0)
		outCode.AppendUniChar(u'-').AppendCString(row->fRegion);
	return !outCode.IsEmpty();
}

bool VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(uint32 inDialect, VString& outCode, char inSeparator)
{
	const LanguageRow* row = FindRow(inDialect);
	if (!SetField(outCode, row != nullptr ? row->fISO6391 : nullptr))
		return false;
	if (row->fSubtag[0] != 0)
		outCode.AppendUniChar(UniChar(uint8(inSeparator))).AppendCString(row->fSubtag);
	return !outCode.IsEmpty();
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, uint32& outDialect, bool inFallBackToLanguage, bool inDefaultSublanguage)
{
	outDialect = kDIALECT_NONE;
	// No code is near this long; the table search reads at most 255 bytes.
	if (inCode.IsEmpty() || inCode.GetLength() > 255)
		return false;
	char text[256 * 3 + 1];
	const size_t bytes = inCode.ToBlock(text, sizeof(text), kCharSet_UTF8, true, false);
	const std::string_view code(text, strnlen(text, bytes));
	std::string_view dashPieces[2];
	std::string_view underscorePieces[2];
	const int32 dashCount = CountPieces(code, '-', dashPieces, 2);
	const int32 underscoreCount = CountPieces(code, '_', underscorePieces, 2);
	char language[256];
	char subtag[256];
	if (code.find_first_of("-_") == std::string_view::npos && dashCount == 1)
	{
		if (!CopyPiece(code, language))
			return false;
		return GetDialectCodeWithRFC3066BisLanguageCode(language, nullptr, outDialect, inFallBackToLanguage, inDefaultSublanguage);
	}
	const std::string_view* pieces = nullptr;
	if (dashCount == 2)
		pieces = dashPieces;
	else if (underscoreCount == 2)
		pieces = underscorePieces;
	if (pieces == nullptr || !CopyPiece(pieces[0], language) || !CopyPiece(pieces[1], subtag))
		return false;
	return GetDialectCodeWithRFC3066BisLanguageCode(language, subtag, outDialect, inFallBackToLanguage, inDefaultSublanguage);
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const char* inLanguage, const char* inSubtag, uint32& outDialect, bool inFallBackToLanguage, bool inDefaultSublanguage)
{
	outDialect = kDIALECT_NONE;
	if (inLanguage == nullptr)
		return false;
	if (inSubtag == nullptr)
	{
		const LanguageRow* row = FindBareLanguage(inLanguage);
		if (row == nullptr)
			return false;
		outDialect = inDefaultSublanguage ? PrimaryLanguage(row->fDialect) : row->fDialect;
		return true;
	}
	for (const LanguageRow& row : kLANGUAGES)
	{
		if (strcasecmp(row.fISO6391, inLanguage) == 0 && strcasecmp(row.fSubtag, inSubtag) == 0)
		{
			outDialect = row.fDialect;
			return true;
		}
	}
	if (inFallBackToLanguage)
	{
		if (const LanguageRow* row = FindBareLanguage(inLanguage))
		{
			outDialect = PrimaryLanguage(row->fDialect);
			return true;
		}
	}
	return false;
}

bool VIntlMgr::GetDialectCodeWithISOLanguageName(const VString& inName, uint32& outDialect)
{
	outDialect = kDIALECT_NONE;
	VString name(inName);
	LowerASCII(name);
	for (const LanguageRow& row : kLANGUAGES)
	{
		if (row.fSubtag[0] == 0 && VString(row.fName).EqualToString(name, false))
		{
			outDialect = PrimaryLanguage(row.fDialect);
			return true;
		}
	}
	return false;
}

int32 VIntlMgr::Compare2RFC3066LanguageCodes(const VString& inCode1, const VString& inCode2)
{
	VString code1(inCode1);
	VString code2(inCode2);
	LowerASCII(code1);
	LowerASCII(code2);
	uint32 dialect = kDIALECT_NONE;
	if (!GetDialectCodeWithRFC3066BisLanguageCode(code1, dialect, true, true) || !GetDialectCodeWithRFC3066BisLanguageCode(code2, dialect, true, true))
		return -1;
	if (code1.EqualToString(code2))
		return 4;
	std::vector<VString> pieces1;
	std::vector<VString> pieces2;
	code1.GetSubStrings(u'-', pieces1, false, false);
	code2.GetSubStrings(u'-', pieces2, false, false);
	const size_t count1 = pieces1.size();
	const size_t count2 = pieces2.size();
	if (count1 == 0 || count2 == 0)
		return 0;
	const bool sameLanguage = pieces1[0].EqualToString(pieces2[0]);
	if (count1 == 2 && count2 == 1)
		return sameLanguage ? 3 : 0;
	if (count1 == 1 && count2 == 2)
		return sameLanguage ? 2 : 0;
	if (count1 == 2 && count2 == 2)
		return sameLanguage ? 1 : 0;
	return 0;
}

void VIntlMgr::GetAllDialects(std::vector<uint32>& outDialects)
{
	try
	{
		outDialects.reserve(outDialects.size() + std::size(kLANGUAGES));
		for (const LanguageRow& row : kLANGUAGES)
			outDialects.push_back(row.fDialect);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

void VIntlMgr::GetDialectsHavingCollator(std::vector<std::pair<VString, uint32>>& outDialects)
{
	try
	{
		outDialects.reserve(outDialects.size() + std::size(kLANGUAGES));
		for (const LanguageRow& row : kLANGUAGES)
			outDialects.emplace_back(VString(FindRow(row.fDialect)->fISO6391), row.fDialect);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

int32 VIntlMgr::DialectCodeToScriptCode(uint32 inDialect)
{
	for (const ScriptRow& row : kSCRIPTS)
	{
		if (row.fDialect == inDialect)
			return row.fScript;
	}
	return -1;
}

bool VIntlMgr::GetLocalizationFoldersWithDialect(uint32 inDialect, const IFolder* inParent, std::vector<VRefPtr<IFolder>>& outFolders)
{
	const LanguageRow* row = FindRow(inDialect);
	// A dialect outside the table has no names: probing a bare ".lproj" would find a stray folder.
	if (row == nullptr || inParent == nullptr)
		return !outFolders.empty();
	auto tryFolder = [&](const VString& name) {
		if (IFolder* folder = inParent->RetainRelativeFolder(name, FPS_SYSTEM))
		{
			try
			{
				if (folder->Exists())
					outFolders.emplace_back(folder);
			}
			catch (const std::bad_alloc&)
			{
				_ThrowError(VE_MEMORY_FULL);
			}
			folder->Release();
		}
	};

	VString first;
	GetRFC3066BisLanguageCodeWithDialectCode(inDialect, first, '-');
	first.AppendCString(".lproj");
	tryFolder(first);

	VString name;
	GetRFC3066BisLanguageCodeWithDialectCode(inDialect, name, '_');
	name.AppendCString(".lproj");
	if (!name.EqualToString(first))
		tryFolder(name);

	name.Clear();
	name.AppendCString(row->fISO6391).AppendCString(".lproj");
	if (!name.EqualToString(first))
		tryFolder(name);

	if (row->fRegion[0] != 0)
	{
		name.Clear();
		name.AppendCString(row->fISO6391).AppendUniChar(u'_').AppendCString(row->fRegion).AppendCString(".lproj");
		if (!name.EqualToString(first))
			tryFolder(name);
	}

	name.Clear();
	name.AppendCString(row->fName);
	if (!name.IsEmpty() && name.GetUniChar(1) >= u'a' && name.GetUniChar(1) <= u'z')
		name.SetUniChar(1, UniChar(name.GetUniChar(1) - 32));
	name.AppendCString(".lproj");
	tryFolder(name);

	return !outFolders.empty();
}

IFile* VIntlMgr::RetainLocalizationFile(const IFolder* inParent, const VString& inFileName, uint32 inDialect, bool* outFolderFound)
{
	std::vector<VRefPtr<IFolder>> folders;
	GetLocalizationFoldersWithDialect(inDialect, inParent, folders);
	if (outFolderFound != nullptr)
		*outFolderFound = !folders.empty();
	for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
	{
		IFile* file = (*folder)->_RetainRelativeIFile(inFileName, FPS_SYSTEM);
		if (file == nullptr)
			continue;
		if (file->Exists())
			return file;
		file->Release();
	}
	return nullptr;
}

bool VIntlMgr::DebugConvertString(void* inSrc, int32 inSrcBytes, CharSet inSrcCharSet, void* outDst, int32& ioDstBytes, CharSet inDstCharSet)
{
	if (inSrcCharSet != inDstCharSet)
		return false;
	const int32 count = std::max(0, std::min(inSrcBytes, ioDstBytes));
	if (count > 0)
		std::memmove(outDst, inSrc, size_t(count));
	ioDstBytes = count;
	return true;
}

}  // namespace velk
