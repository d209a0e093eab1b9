// Number text that never depends on the process locale: "%.14G" and strtod as in the "C" locale; with
// them, the radix conversion of reals and the packed-decimal (MAPM) conversion to reals.
#pragma once

#include "kernel/VExport.h"

#include <clocale>
#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API VNumberText
{
public:
	// The "%.14G" text of a finite value as the "C" locale writes it ('.' as decimal point, upper-case
	// exponent: 0.1, 1E+300, 9.007199254741E+15), zero-terminated; answers its length. buffer must hold
	// 32 bytes.
	static int32 FormatG14(double value, char* buffer);

	// FormatG14 for any value: a NaN is "NAN" whatever its sign bit, infinities "INF" and "-INF".
	static int32 FormatReal(double value, char* buffer);

	// The "C" locale, made once and shared by every conversion of the process, never freed; null only when
	// it could not be made.
	static locale_t CLocale();

	// strtod in the "C" locale; *end (when given) receives the address behind what was read, the text
	// itself when nothing was. A text out of range gives +-HUGE_VAL or 0 as strtod does.
	static double Parse(const char* text, char** end = nullptr);

	// Parse over exactly length bytes of text (text[length] must be 0): true, with the number in value,
	// only when something was read and nothing is left over; otherwise false and value is untouched.
	static bool ParseWhole(const char* text, size_t length, double& value);

	// The sixteen hexadecimal digits, upper case, and the value of a digit of either case (-1 for a unit
	// that is no hexadecimal digit).
	static constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
	static constexpr int HexDigitValue(uint32 unit)
	{
		if (unit >= '0' && unit <= '9')
			return int(unit - '0');
		if (unit >= 'A' && unit <= 'F')
			return int(unit - 'A' + 10);
		if (unit >= 'a' && unit <= 'f')
			return int(unit - 'a' + 10);
		return -1;
	}
};

namespace v8import {

// The value's digits in radix 2..36 ("0123456789abcdefghijklmnopqrstuvwxyz"), without exponent, with
// "-" before a negative value and "." before fraction digits; answers the characters written, without a
// terminator. In radix 10 and in the powers of two they are exact and the fewest that read back to the
// same double; in the other radixes fraction digits come from repeated multiplication, as a script
// engine's number-to-string makes them, and the last ones may be off. A buffer of 2200 bytes holds every
// double in every radix; a smaller one receives a cut text and nothing is written past its end. NaN and
// infinities are written "NaN", "INF" and "-INF"; a radix outside 2..36, a null buffer or one under 2
// bytes write nothing.
VELK_API size_t DoubleToRadixString(double value, int radix, char* buffer, size_t bufferSize);

// True when the processor flushes denormal results to zero or reads denormal operands as zero (the
// flush-to-zero and denormals-are-zero bits, 0x8040, of the SSE control register on x86; the
// flush-to-zero bit of the floating-point control register on 64-bit ARM); false elsewhere.
VELK_API bool GetFlushDenormals();

}  // namespace v8import

// The double nearest to a packed decimal number: int32 exponent E at offset 0, sign byte at 4 (0xFF
// negative, 0 zero, any other value positive), int32 digit count N at 5 (not aligned), then (N + 1) / 2
// bytes of two decimal digits each (0..99), most significant first; its value is 0.d1d2...dN x 10^E, in
// host byte order. A non-zero sign with N below 1, or a digit byte above 99, is invalid and gives 0.0.
// The digit tables behind it are filled once, on the first call, whichever thread makes it.
VELK_API double MAPM_FloatToReal(const void* packed);

}  // namespace velk
