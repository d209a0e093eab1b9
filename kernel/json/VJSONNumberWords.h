// The words of JSON text that are numbers: the grammar the text parser accepts for them, and their exact
// values as doubles or 64-bit integers. Shared by the parser's scanning and its reading into value bags.
#pragma once

#include "kernel/VKernelTypes.h"
#include "kernel/strings/VString.h"

namespace velk::jsonwords {

// The typographic minus, accepted as the sign of an exponent.
constexpr UniChar kMinusSign = 0x2212;

inline bool IsDigit(UniChar c)
{
	return c >= u'0' && c <= u'9';
}

// The units below 0x80 that end a bare word: blanks and controls, the double quote and the punctuation.
struct WordEnds
{
	constexpr WordEnds() : fUnits()
	{
		for (int c = 0; c < 0x80; ++c)
			fUnits[c] = c < 0x21 || c == '"' || c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}';
	}
	bool fUnits[0x80];
};
inline constexpr WordEnds kWordEnds;

inline bool EndsBareWord(UniChar c)
{
	return c < 0x80 && kWordEnds.fUnits[c];
}

// The number grammar of a bare word: optional '-', then '0' alone or digits (none required), optional '.'
// with at least one digit, optional exponent with a sign ('+', '-' or U+2212) and at least one digit.
bool IsNumberWord(const UniChar* p, const UniChar* end);
// The real value of a word that passed IsNumberWord. The conversion knows only ASCII signs, so the
// typographic minus of an exponent is read as '-': 1e−2 is 0.01.
double WordToReal(const VString& word);
// Reads the number grammar (IsNumberWord) from begin for as long as it goes, up to end at most: false when
// it fails on the way, else true with stop just after the number and its real value in out. The value is
// the correctly rounded double, as WordToReal gives.
bool ReadNumber(const UniChar* begin, const UniChar* end, double& out, const UniChar*& stop);
// The real value of a whole bare word that follows the number grammar; false when it does not.
bool ReadNumberWord(const UniChar* begin, const UniChar* end, double& out);
// An integer word that fits in 64 bits, read exactly; false for anything else (points, exponents,
// overflow), which the caller reads as a real.
bool WordToLong8(const VString& word, int64& out);

}  // namespace velk::jsonwords
