#include "kernel/json/VJSONNumberWords.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace velk::jsonwords {

// The number grammar of a bare word: optional '-', then '0' alone or digits (none required), optional '.'
// with at least one digit, optional exponent with a sign ('+', '-' or U+2212) and at least one digit.
bool IsNumberWord(const UniChar* p, const UniChar* end)
{
	if (p < end && *p == u'-')
		++p;
	if (p < end && *p == u'0')
		++p;
	else
		while (p < end && IsDigit(*p))
			++p;
	if (p < end && *p == u'.')
	{
		++p;
		if (p == end || !IsDigit(*p))
			return false;
		while (p < end && IsDigit(*p))
			++p;
	}
	if (p < end && (*p == u'e' || *p == u'E'))
	{
		++p;
		if (p < end && (*p == u'+' || *p == u'-' || *p == kMinusSign))
			++p;
		if (p == end || !IsDigit(*p))
			return false;
		while (p < end && IsDigit(*p))
			++p;
	}
	return p == end;
}

// The real value of a word that passed IsNumberWord. The conversion knows only ASCII signs, so the
// typographic minus of an exponent is read as '-': 1e−2 is 0.01.
double WordToReal(const VString& word)
{
	char digits[64];
	const int32 length = word.GetLength();
	if (length >= int32(sizeof(digits)))
	{
		VString copy(word);
		for (int32 pos = 1; pos <= copy.GetLength(); ++pos)
			if (copy.GetUniChar(pos) == kMinusSign)
				copy.SetUniChar(pos, u'-');
		return copy.GetReal();
	}
	const UniChar* units = word.GetCPointer();
	for (int32 i = 0; i < length; ++i)
		digits[i] = units[i] == kMinusSign ? '-' : char(units[i]);
	digits[length] = 0;
	return VString(digits).GetReal();
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
										1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads the number grammar (IsNumberWord) from begin for as long as it goes, up to end at most: false when
// it fails on the way, else true with stop just after the number and its real value in out. The value is
// the correctly rounded double, as WordToReal gives: exactly from the digits when they and the power of ten
// both fit a double (one correctly rounded operation), else from the ASCII text.
namespace {

using uint128 = unsigned __int128;

constexpr uint64 kHiddenBit = uint64(1) << 52;

// 10^0 to 10^19, exact.
struct PowersOfTen
{
	constexpr PowersOfTen() : fValues()
	{
		fValues[0] = 1;
		for (int i = 1; i < 20; ++i)
			fValues[i] = fValues[i - 1] * 10;
	}
	uint128 fValues[20];
};
constexpr PowersOfTen kPowersOfTen;

int BitLength(uint128 value)
{
	const uint64 high = uint64(value >> 64);
	return high != 0 ? 128 - __builtin_clzll(high) : (uint64(value) != 0 ? 64 - __builtin_clzll(uint64(value)) : 0);
}

// kept × 2^exponent for kept in [2^52, 2^53] (2^53 from a rounding up), in the range of normal doubles.
double MakeDouble(uint64 kept, int exponent)
{
	if (kept == (kHiddenBit << 1))
	{
		kept = kHiddenBit;
		++exponent;
	}
	const uint64 bits = (uint64(exponent + 52 + 1023) << 52) | (kept - kHiddenBit);
	double value = 0.0;
	std::memcpy(&value, &bits, sizeof(value));
	return value;
}

// kept, with the bit below it and whether anything below that is not zero, rounded half to even.
uint64 RoundHalfEven(uint64 kept, bool roundBit, bool sticky)
{
	return kept + ((roundBit && (sticky || (kept & 1) != 0)) ? 1 : 0);
}

// The correctly rounded double of mantissa × 10^exponent for a mantissa of at most 19 digits and an exponent
// of at most 19 either way, from exact 128-bit integer arithmetic: the product, or a quotient of 54 or 55
// bits and its remainder, rounded half to even.
double RoundedQuotientOrProduct(uint64 mantissa, int32 exponent)
{
	if (mantissa == 0)
		return 0.0;
	const uint128 power = kPowersOfTen.fValues[exponent < 0 ? -exponent : exponent];
	if (exponent >= 0)
	{
		const uint128 product = uint128(mantissa) * power;
		const int excess = BitLength(product) - 53;
		if (excess <= 0)
			return double(uint64(product));
		const uint64 kept = uint64(product >> excess);
		const bool roundBit = ((product >> (excess - 1)) & 1) != 0;
		const bool sticky = (product & ((uint128(1) << (excess - 1)) - 1)) != 0;
		return MakeDouble(RoundHalfEven(kept, roundBit, sticky), excess);
	}
	// mantissa × 2^shift / power lies between 2^53 and 2^55 for this shift (mantissa shifted left, or power
	// when the quotient is long already): one division.
	const int shift = 54 + BitLength(power) - BitLength(mantissa);
	const uint128 numerator = shift >= 0 ? uint128(mantissa) << shift : uint128(mantissa);
	const uint128 denominator = shift >= 0 ? power : power << -shift;
	const uint128 quotient = numerator / denominator;
	const bool remainder = numerator != quotient * denominator;
	const int dropped = quotient >= (uint128(1) << 54) ? 2 : 1;
	const uint64 kept = uint64(quotient >> dropped);
	const bool roundBit = ((quotient >> (dropped - 1)) & 1) != 0;
	const bool sticky = remainder || (dropped == 2 && (quotient & 1) != 0);
	return MakeDouble(RoundHalfEven(kept, roundBit, sticky), dropped - shift);
}

}  // namespace

bool ReadNumber(const UniChar* begin, const UniChar* end, double& out, const UniChar*& stop)
{
	const UniChar* p = begin;
	const bool negative = p < end && *p == u'-';
	if (negative)
		++p;
	// Up to 19 digits fit the mantissa; with more it is not used.
	uint64 mantissa = 0;
	int32 digits = 0;
	if (p < end && *p == u'0')
	{
		++p;
		digits = 1;
	}
	else
	{
		for (; p < end && IsDigit(*p); ++p, ++digits)
			mantissa = mantissa * 10 + uint64(*p - u'0');
	}
	int32 exponent = 0;
	if (p < end && *p == u'.')
	{
		++p;
		if (p == end || !IsDigit(*p))
			return false;
		for (; p < end && IsDigit(*p); ++p, ++digits, --exponent)
			mantissa = mantissa * 10 + uint64(*p - u'0');
	}
	if (p < end && (*p == u'e' || *p == u'E'))
	{
		++p;
		bool negativeExponent = false;
		if (p < end && (*p == u'+' || *p == u'-' || *p == kMinusSign))
			negativeExponent = *p++ != u'+';
		if (p == end || !IsDigit(*p))
			return false;
		int32 written = 0;
		for (; p < end && IsDigit(*p); ++p)
		{
			if (written < 100000)
				written = written * 10 + int32(*p - u'0');
		}
		exponent += negativeExponent ? -written : written;
	}
	stop = p;
	end = p;
	if (digits > 0 && digits <= 19 && mantissa <= (uint64(1) << 53) && exponent >= -22 && exponent <= 22)
	{
		double value = double(mantissa);
		value = exponent < 0 ? value / kExactPowersOfTen[-exponent] : value * kExactPowersOfTen[exponent];
		out = negative ? -value : value;
		return true;
	}
	if (digits > 0 && digits <= 19 && exponent >= -19 && exponent <= 19)
	{
		const double value = RoundedQuotientOrProduct(mantissa, exponent);
		out = negative ? -value : value;
		return true;
	}
	const bool anyDigit = digits > 0;
	char ascii[64];
	const size_t length = size_t(end - begin);
	if (anyDigit && length < sizeof(ascii))
	{
		for (size_t i = 0; i < length; ++i)
			ascii[i] = begin[i] == kMinusSign ? '-' : char(begin[i]);
		double value = 0.0;
		const std::from_chars_result read = std::from_chars(ascii, ascii + length, value);
		if (read.ec == std::errc() && read.ptr == ascii + length)
		{
			out = value;
			return true;
		}
	}
	// A lone sign, a very long word, or a value beyond the range of doubles: the string's own conversion.
	out = WordToReal(VString(begin, int32(length)));
	return true;
}

// The real value of a whole bare word that follows the number grammar; false when it does not.
bool ReadNumberWord(const UniChar* begin, const UniChar* end, double& out)
{
	const UniChar* stop = nullptr;
	double value = 0.0;
	if (!ReadNumber(begin, end, value, stop) || stop != end)
		return false;
	out = value;
	return true;
}

// An integer word that fits in 64 bits, read exactly; false for anything else (points, exponents,
// overflow), which the caller reads as a real.
bool WordToLong8(const VString& word, int64& out)
{
	const UniChar* p = word.GetCPointer();
	const UniChar* end = p + word.GetLength();
	const bool negative = p < end && *p == u'-';
	if (negative)
		++p;
	if (p == end)
		return false;
	uint64 magnitude = 0;
	const uint64 limit = negative ? uint64(INT64_MAX) + 1 : uint64(INT64_MAX);
	for (; p < end; ++p)
	{
		if (!IsDigit(*p))
			return false;
		const uint64 digit = uint64(*p - u'0');
		if (magnitude > (limit - digit) / 10)
			return false;
		magnitude = magnitude * 10 + digit;
	}
	out = negative ? int64(0 - magnitude) : int64(magnitude);
	return true;
}

}  // namespace velk::jsonwords
