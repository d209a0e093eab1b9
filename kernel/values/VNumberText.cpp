// Number text independent of the process locale, the radix conversion and the packed-decimal conversion.
#include "kernel/values/VNumberText.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

// newlocale and strtod_l: the POSIX per-thread locales (on macOS declared by <xlocale.h>).
#include <locale.h>
#include <stdlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace velk {

namespace {

#if defined(__x86_64__) || defined(__i386__)
bool ReadFlushDenormals()
{
	return (_mm_getcsr() & 0x8040u) != 0;
}
#elif defined(__aarch64__)
bool ReadFlushDenormals()
{
	uint64 control;
	__asm__ volatile("mrs %0, fpcr" : "=r"(control));
	return (control & (uint64(1) << 24)) != 0;
}
#else
bool ReadFlushDenormals()
{
	return false;
}
#endif

constexpr char kRadixDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Room for the shortest decimal digits of any double written without exponent: 309 integer digits for
// the largest, 325 behind the point for the smallest, and a sign.
constexpr size_t kDECIMAL_ROOM = 400;

int RadixDigitValue(char c)
{
	return c > '9' ? c - 'a' + 10 : c - '0';
}

// Biased exponent of a double.
uint32 BiasedExponent(double value)
{
	return uint32((std::bit_cast<uint64>(value) >> 52) & 0x7FF);
}

// The shortest decimal digits that read back to value (not 0), written without exponent: the digits of a
// large number are followed by zeros (1e+300 is a 1 and 300 zeros), those of a small one preceded by them.
void WriteShortestDecimal(double value, char* text)
{
	char scientific[32];
	const std::to_chars_result written = std::to_chars(scientific, scientific + sizeof(scientific), value, std::chars_format::scientific);
	const char* cursor = scientific;
	size_t used = 0;
	if (*cursor == '-')
	{
		text[used++] = '-';
		++cursor;
	}
	char digits[24];
	size_t count = 0;
	while (*cursor != 'e')
	{
		if (*cursor != '.')
			digits[count++] = *cursor;
		++cursor;
	}
	int exponent = 0;
	std::from_chars(cursor + (cursor[1] == '+' ? 2 : 1), written.ptr, exponent);
	if (exponent < 0)
	{
		text[used++] = '0';
		text[used++] = '.';
		for (int i = -1; i > exponent; --i)
			text[used++] = '0';
		std::memcpy(text + used, digits, count);
		used += count;
	}
	else
	{
		const size_t integerDigits = size_t(exponent) + 1;
		for (size_t i = 0; i < integerDigits; ++i)
			text[used++] = i < count ? digits[i] : '0';
		if (count > integerDigits)
		{
			text[used++] = '.';
			std::memcpy(text + used, digits + integerDigits, count - integerDigits);
			used += count - integerDigits;
		}
	}
	text[used] = 0;
}

size_t CopyText(const char* text, char* buffer, size_t bufferSize)
{
	const size_t length = std::min(std::strlen(text), bufferSize);
	std::memcpy(buffer, text, length);
	return length;
}

// Digit tables of packed decimal numbers: entry i holds i / 10 and i % 10.
uint8 sMAPMTens[100];
uint8 sMAPMOnes[100];
std::once_flag sMAPMTablesOnce;

void FillMAPMTables()
{
	for (int i = 0; i < 100; ++i)
	{
		sMAPMTens[i] = uint8(i / 10);
		sMAPMOnes[i] = uint8(i % 10);
	}
}

// Digits kept in the text handed to strtod: beyond some 770 significant digits none can change the
// rounding of a double, as long as a non-zero tail is still seen as one.
constexpr int32 kMAPMKeptDigits = 800;

}  // namespace

locale_t VNumberText::CLocale()
{
	static const locale_t sLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
	return sLocale;
}

int32 VNumberText::FormatReal(double value, char* buffer)
{
	// glibc would write "-NAN" for a NaN with its sign bit set.
	if (std::isnan(value))
	{
		std::memcpy(buffer, "NAN", 4);
		return 3;
	}
	return FormatG14(value, buffer);
}

int32 VNumberText::FormatG14(double value, char* buffer)
{
	// to_chars writes what printf writes in the "C" locale, without touching any locale.
	const std::to_chars_result written = std::to_chars(buffer, buffer + 31, value, std::chars_format::general, 14);
	const int32 length = int32(written.ptr - buffer);
	for (int32 i = 0; i < length; ++i)
	{
		if (buffer[i] >= 'a' && buffer[i] <= 'z')
			buffer[i] = char(buffer[i] - 'a' + 'A');
	}
	buffer[length] = 0;
	return length;
}

double VNumberText::Parse(const char* text, char** end)
{
	const locale_t cLocale = CLocale();
	if (cLocale == locale_t(0))
		return std::strtod(text, end);
	return strtod_l(text, end, cLocale);
}

bool VNumberText::ParseWhole(const char* text, size_t length, double& value)
{
	char* end = nullptr;
	const double parsed = Parse(text, &end);
	if (end == text || end != text + length)
		return false;
	value = parsed;
	return true;
}

namespace v8import {

size_t DoubleToRadixString(double value, int radix, char* buffer, size_t bufferSize)
{
	if (buffer == nullptr || bufferSize < 2 || radix < 2 || radix > 36)
		return 0;
	if (std::isnan(value))
		return CopyText("NaN", buffer, bufferSize);
	if (std::isinf(value))
		return CopyText(value > 0 ? "INF" : "-INF", buffer, bufferSize);

	if (radix == 10)
	{
		// Repeated multiplication by ten drifts in the last digits (0.007 would come out as
		// 0.007000000000000001), so decimal digits are the shortest that read back exactly.
		if (value == 0.0)
			return CopyText("0", buffer, bufferSize);
		char text[kDECIMAL_ROOM];
		WriteShortestDecimal(value, text);
		return CopyText(text, buffer, bufferSize);
	}

	// The integer part grows leftwards from the middle, the fraction rightwards.
	const size_t middle = bufferSize / 2;
	size_t integerCursor = middle;
	size_t fractionCursor = middle;

	const double magnitude = std::fabs(value);
	double integer = std::floor(magnitude);
	double fraction = magnitude - integer;
	// Half the distance to the next double: digits below it cannot tell the value from its neighbours.
	double delta = 0.5 * (std::nextafter(magnitude, std::numeric_limits<double>::infinity()) - magnitude);
	bool wantsFraction = true;
	if (!(delta > 0.0))
	{
		if (GetFlushDenormals())
			wantsFraction = false;
		else
			delta = std::numeric_limits<double>::denorm_min();
	}

	if (wantsFraction && fraction >= delta)
	{
		buffer[fractionCursor++] = '.';
		do
		{
			if (fractionCursor >= bufferSize)
				break;
			fraction *= radix;
			delta *= radix;
			const int digit = int(fraction);
			buffer[fractionCursor++] = kRadixDigits[digit];
			fraction -= digit;
			if ((fraction > 0.5 || (fraction == 0.5 && (digit & 1) != 0)) && fraction + delta > 1.0)
			{
				// Rounding up: the carry runs back over the fraction digits, into the integer part when
				// every one of them was radix - 1 (the '.' then goes too).
				for (;;)
				{
					--fractionCursor;
					if (fractionCursor == middle)
					{
						integer += 1.0;
						break;
					}
					const int last = RadixDigitValue(buffer[fractionCursor]);
					if (last + 1 < radix)
					{
						buffer[fractionCursor++] = kRadixDigits[last + 1];
						break;
					}
				}
				break;
			}
		} while (fraction >= delta);
	}

	// Beyond the 53-bit mantissa the low digits are zeros.
	while (BiasedExponent(integer / radix) > 0x433 && integerCursor > 0)
	{
		buffer[--integerCursor] = '0';
		integer /= radix;
	}
	do
	{
		if (integerCursor == 0)
			break;
		const double remainder = std::fmod(integer, radix);
		buffer[--integerCursor] = kRadixDigits[int(remainder)];
		integer = (integer - remainder) / radix;
	} while (integer > 0.0);

	if (value < 0.0 && integerCursor > 0)
		buffer[--integerCursor] = '-';

	const size_t length = fractionCursor - integerCursor;
	std::memmove(buffer, buffer + integerCursor, length);
	return length;
}

bool GetFlushDenormals()
{
	return ReadFlushDenormals();
}

}  // namespace v8import

double MAPM_FloatToReal(const void* packed)
{
	std::call_once(sMAPMTablesOnce, FillMAPMTables);

	const uint8* bytes = static_cast<const uint8*>(packed);
	int32 exponent;
	std::memcpy(&exponent, bytes, sizeof(exponent));
	const uint8 sign = bytes[4];
	int32 count;
	std::memcpy(&count, bytes + 5, sizeof(count));
	if (sign == 0 || count < 1)
		return 0.0;
	const uint8* pairs = bytes + 9;

	// "-d.ddd...E+x": sign, the kept digits with their point, a sticky digit, the exponent.
	char text[1 + kMAPMKeptDigits + 1 + 1 + 24];
	size_t length = 0;
	if (sign == 0xFF)
		text[length++] = '-';
	bool nonZeroTail = false;
	for (int32 i = 0; i < count; ++i)
	{
		const uint8 pair = pairs[i / 2];
		if (pair > 99)
			return 0.0;
		const uint8 digit = (i % 2) == 0 ? sMAPMTens[pair] : sMAPMOnes[pair];
		if (i < kMAPMKeptDigits)
		{
			text[length++] = char('0' + digit);
			if (i == 0 && count > 1)
				text[length++] = '.';
		}
		else if (digit != 0)
		{
			nonZeroTail = true;
		}
	}
	if (nonZeroTail)
		text[length++] = '1';

	// 0.d1d2... x 10^E is d1.d2... x 10^(E - 1).
	const int64 shown = int64(exponent) - 1;
	text[length++] = 'E';
	if (shown >= 0)
		text[length++] = '+';
	const std::to_chars_result written = std::to_chars(text + length, text + sizeof(text) - 1, shown);
	*written.ptr = 0;
	return VNumberText::Parse(text);
}

}  // namespace velk
