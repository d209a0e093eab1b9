// VString formatting: the printf-style formatter with the toolbox's object conversions, and the filling of
// {name} placeholders from a value bag.
#include "kernel/strings/VString.h"

#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "containers/VValueBag.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/values/VNumberText.h"

namespace velk {

namespace {

// The formatter reads at most this many bytes of the format and writes at most this many bytes of printf
// output; object texts are not counted.
constexpr size_t kMAX_FORMAT_BYTES = 1023;

// What a standard conversion takes from the argument list.
enum class ArgKind
{
	kNone,  // "%m", "%%" with flags
	kInt,
	kUInt,
	kLong,
	kULong,
	kLongLong,
	kULongLong,
	kIntMax,
	kUIntMax,
	kSize,
	kSignedSize,
	kPtrdiff,
	kUnsignedPtrdiff,
	kDouble,
	kLongDouble,
	kCString,
	kWideString,
	kWideChar,
	kPointer,
	kCount  // "%n": its pointer is taken, nothing is stored
};

enum class Length
{
	kNone,
	kChar,  // hh
	kShort,  // h
	kLong,  // l
	kLongLong,  // ll, q, and L on integers
	kLongDouble,  // L
	kIntMax,  // j
	kSize,  // z, Z
	kPtrdiff  // t
};

struct Conversion
{
	const char* fStart = nullptr;  // the '%'
	size_t fLength = 0;  // bytes up to and including the conversion letter
	bool fPlain = true;  // no flag, width or precision
	bool fNarrow = false;  // "h" or "hh": the int argument is cut to a short or a char
	bool fGrouping = false;  // the "'" flag, which follows the numeric locale
	bool fStarWidth = false;
	bool fStarPrecision = false;
	char fLetter = 0;
	ArgKind fKind = ArgKind::kNone;
};

enum class ParseResult
{
	kConversion,
	kLiteral,  // printed as it stands, no argument taken (positional or unknown conversions)
	kIncomplete  // the format ends inside the conversion
};

inline bool IsDigit(char c)
{
	return c >= '0' && c <= '9';
}

ArgKind IntegerKind(Length length, bool isSigned)
{
	switch (length)
	{
		case Length::kLong:
			return isSigned ? ArgKind::kLong : ArgKind::kULong;
		case Length::kLongLong:
		case Length::kLongDouble:
			return isSigned ? ArgKind::kLongLong : ArgKind::kULongLong;
		case Length::kIntMax:
			return isSigned ? ArgKind::kIntMax : ArgKind::kUIntMax;
		case Length::kSize:
			return isSigned ? ArgKind::kSignedSize : ArgKind::kSize;
		case Length::kPtrdiff:
			return isSigned ? ArgKind::kPtrdiff : ArgKind::kUnsignedPtrdiff;
		default:
			// Narrower integers arrive promoted to int.
			return isSigned ? ArgKind::kInt : ArgKind::kUInt;
	}
}

// Parses the conversion at p ('%') up to end: flags, width ('*' or digits), precision ('.', then '*' or
// digits), length modifier and conversion letter.
ParseResult ParseConversion(const char* p, const char* end, Conversion& c)
{
	c = Conversion();
	c.fStart = p;
	const char* q = p + 1;

	// "%1$d": arguments by position are not supported.
	const char* digits = q;
	while (digits < end && IsDigit(*digits))
		++digits;
	if (digits > q && digits < end && *digits == '$')
	{
		c.fLength = size_t(digits + 1 - p);
		return ParseResult::kLiteral;
	}

	while (q < end && std::strchr("-+ #0'I", *q) != nullptr)
	{
		if (*q == '\'')
			c.fGrouping = true;
		c.fPlain = false;
		++q;
	}
	if (q < end && *q == '*')
	{
		c.fStarWidth = true;
		c.fPlain = false;
		++q;
	}
	else
	{
		while (q < end && IsDigit(*q))
		{
			c.fPlain = false;
			++q;
		}
	}
	if (q < end && *q == '.')
	{
		c.fPlain = false;
		++q;
		if (q < end && *q == '*')
		{
			c.fStarPrecision = true;
			++q;
		}
		else
		{
			while (q < end && IsDigit(*q))
				++q;
		}
	}

	Length length = Length::kNone;
	if (q < end)
	{
		switch (*q)
		{
			case 'h':
				++q;
				length = Length::kShort;
				if (q < end && *q == 'h')
				{
					++q;
					length = Length::kChar;
				}
				break;
			case 'l':
				++q;
				length = Length::kLong;
				if (q < end && *q == 'l')
				{
					++q;
					length = Length::kLongLong;
				}
				break;
			case 'q':
				++q;
				length = Length::kLongLong;
				break;
			case 'L':
				++q;
				length = Length::kLongDouble;
				break;
			case 'j':
				++q;
				length = Length::kIntMax;
				break;
			case 'z':
			case 'Z':
				++q;
				length = Length::kSize;
				break;
			case 't':
				++q;
				length = Length::kPtrdiff;
				break;
			default:
				break;
		}
	}
	if (q >= end)
		return ParseResult::kIncomplete;
	c.fNarrow = length == Length::kShort || length == Length::kChar;

	c.fLetter = *q;
	c.fLength = size_t(q + 1 - p);
	switch (c.fLetter)
	{
		case 'd':
		case 'i':
			c.fKind = IntegerKind(length, true);
			break;
		case 'o':
		case 'u':
		case 'x':
		case 'X':
			c.fKind = IntegerKind(length, false);
			break;
		case 'c':
			c.fKind = length == Length::kLong ? ArgKind::kWideChar : ArgKind::kInt;
			break;
		case 'C':
			c.fKind = ArgKind::kWideChar;
			break;
		case 's':
			c.fKind = length == Length::kLong ? ArgKind::kWideString : ArgKind::kCString;
			break;
		case 'S':
			c.fKind = ArgKind::kWideString;
			break;
		case 'p':
			c.fKind = ArgKind::kPointer;
			break;
		case 'n':
			c.fKind = ArgKind::kCount;
			break;
		case 'f':
		case 'F':
		case 'e':
		case 'E':
		case 'g':
		case 'G':
		case 'a':
		case 'A':
			c.fKind = length == Length::kLongDouble ? ArgKind::kLongDouble : ArgKind::kDouble;
			break;
		case 'm':
		case '%':
			c.fKind = ArgKind::kNone;
			break;
		default:
			return ParseResult::kLiteral;
	}
	return ParseResult::kConversion;
}

// The length of bytes without an incomplete UTF-8 sequence at its end.
size_t WithoutIncompleteUTF8(const char* bytes, size_t length)
{
	size_t i = length;
	size_t continuation = 0;
	while (i > 0 && continuation < 4 && (uint8(bytes[i - 1]) & 0xC0) == 0x80)
	{
		--i;
		++continuation;
	}
	if (i == 0)
		return length;
	const uint8 lead = uint8(bytes[i - 1]);
	size_t expected = 0;
	if (lead >= 0xF0 && lead <= 0xF7)
		expected = 3;
	else if (lead >= 0xE0)
		expected = 2;
	else if (lead >= 0xC0)
		expected = 1;
	return continuation < expected ? i - 1 : length;
}

// The output as it is made: the printf part (at most kMAX_FORMAT_BYTES bytes) and the object texts with
// the byte offsets they go to. The string is written once everything is known, so that it grows once.
class PrintfOutput
{
public:
	PrintfOutput() = default;
	PrintfOutput(const PrintfOutput&) = delete;
	PrintfOutput& operator=(const PrintfOutput&) = delete;

	bool IsFinished() const { return fCut || fEnded || fFailed; }
	// Memory ran short for the output's own bookkeeping: nothing of it may be written.
	bool HasFailed() const { return fFailed; }

	void Emit(const char* bytes, size_t count)
	{
		if (IsFinished() || count == 0)
			return;
		const size_t room = kMAX_FORMAT_BYTES - fLength;
		if (count > room)
		{
			count = room;
			fCut = true;
		}
		if (const void* zero = std::memchr(bytes, 0, count))
		{
			count = size_t(static_cast<const char*>(zero) - bytes);
			fEnded = true;
		}
		std::memcpy(fBytes + fLength, bytes, count);
		fLength += count;
	}

	// Where a conversion writes itself, and the bytes it may write (terminator included).
	char* GetWritePointer() { return fBytes + fLength; }
	size_t GetRoom() const { return kMAX_FORMAT_BYTES + 1 - fLength; }
	// After a conversion wrote itself at the write pointer: result is what snprintf answered.
	void Wrote(int result)
	{
		if (result <= 0)
			return;
		size_t count = size_t(result);
		if (count >= GetRoom())
		{
			count = GetRoom() - 1;
			fCut = true;
		}
		if (const void* zero = std::memchr(fBytes + fLength, 0, count))
		{
			count = size_t(static_cast<const char*>(zero) - (fBytes + fLength));
			fEnded = true;
		}
		fLength += count;
	}

	// An object text behind the bytes written so far; the text must outlive the output. A text that
	// belongs to the output is kept in a slot of its own. A null text (one that could not be made) fails
	// the output.
	void AddObject(const VString* text)
	{
		if (text == nullptr)
		{
			fFailed = true;
			return;
		}
		const Insertion insertion{fLength, text};
		if (fInlineCount < kINLINE_INSERTIONS)
		{
			fInline[fInlineCount++] = insertion;
		}
		else
		{
			try
			{
				fMore.push_back(insertion);
			}
			catch (const std::bad_alloc&)
			{
				fFailed = true;
				return;
			}
		}
		fObjectUnits += text->GetLength();
	}
	// Null when memory is short (the output then fails).
	VString* NewOwnedText()
	{
		std::unique_ptr<VString> text(new (std::nothrow) VString());
		if (text == nullptr)
		{
			fFailed = true;
			return nullptr;
		}
		try
		{
			fOwned.push_back(std::move(text));
		}
		catch (const std::bad_alloc&)
		{
			fFailed = true;
			return nullptr;
		}
		return fOwned.back().get();
	}

	// A cut inside a multi-byte character drops the whole character.
	void EndOutput()
	{
		if (fCut)
			fLength = WithoutIncompleteUTF8(fBytes, fLength);
	}

	size_t GetLength() const { return fLength; }
	char* GetBytes() { return fBytes; }
	int64 GetObjectUnits() const { return fObjectUnits; }
	size_t GetObjectCount() const { return fInlineCount + fMore.size(); }
	// The nth object text (0-based) and the byte offset it goes to.
	const VString* GetObject(size_t n, size_t& at) const
	{
		const Insertion& insertion = n < kINLINE_INSERTIONS ? fInline[n] : fMore[n - kINLINE_INSERTIONS];
		at = insertion.fAt;
		return insertion.fText;
	}

private:
	struct Insertion
	{
		size_t fAt;
		const VString* fText;
	};
	static constexpr size_t kINLINE_INSERTIONS = 8;

	char fBytes[kMAX_FORMAT_BYTES + 1];
	size_t fLength = 0;
	bool fCut = false;
	bool fEnded = false;
	bool fFailed = false;
	Insertion fInline[kINLINE_INSERTIONS];
	size_t fInlineCount = 0;
	std::vector<Insertion> fMore;
	std::vector<std::unique_ptr<VString>> fOwned;
	int64 fObjectUnits = 0;
};

// Makes the "C" locale the calling thread's for the scope: number texts must not follow the process locale.
class StCLocale
{
public:
	StCLocale()
	{
		// Without the "C" locale (it could not be made) the thread's own is kept.
		if (VNumberText::CLocale() != locale_t(nullptr))
			fSaved = uselocale(VNumberText::CLocale());
	}
	~StCLocale()
	{
		if (fSaved != locale_t(nullptr))
			uselocale(fSaved);
	}
	StCLocale(const StCLocale&) = delete;
	StCLocale& operator=(const StCLocale&) = delete;

private:
	locale_t fSaved = locale_t(nullptr);
};

template <typename T>
int FormatValue(PrintfOutput& out, const char* spec, const Conversion& c, int width, int precision, T value)
{
	char* dest = out.GetWritePointer();
	const size_t room = out.GetRoom();
	if (c.fStarWidth && c.fStarPrecision)
		return std::snprintf(dest, room, spec, width, precision, value);
	if (c.fStarWidth)
		return std::snprintf(dest, room, spec, width, value);
	if (c.fStarPrecision)
		return std::snprintf(dest, room, spec, precision, value);
	return std::snprintf(dest, room, spec, value);
}

template <typename T>
void FormatInteger(PrintfOutput& out, const char* spec, const Conversion& c, int width, int precision, T value)
{
	// The plain decimal forms, the common case of log lines, need no printf.
	if (c.fPlain && !c.fNarrow && (c.fLetter == 'd' || c.fLetter == 'i' || c.fLetter == 'u'))
	{
		char text[24];
		const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
		out.Emit(text, size_t(r.ptr - text));
		return;
	}
	if (c.fGrouping)
	{
		StCLocale locale;
		out.Wrote(FormatValue(out, spec, c, width, precision, value));
		return;
	}
	out.Wrote(FormatValue(out, spec, c, width, precision, value));
}

// Formats one standard conversion, taking its arguments with their real types.
void FormatConversion(PrintfOutput& out, const Conversion& c, va_list& args)
{
	int width = 0;
	int precision = 0;
	if (c.fStarWidth)
		width = va_arg(args, int);
	if (c.fStarPrecision)
		precision = va_arg(args, int);

	if (c.fKind == ArgKind::kCString && c.fPlain)
	{
		const char* text = va_arg(args, const char*);
		if (text == nullptr)
			text = "(null)";
		out.Emit(text, std::strlen(text));
		return;
	}
	if (c.fKind == ArgKind::kCount)
	{
		(void)va_arg(args, void*);
		return;
	}

	char spec[kMAX_FORMAT_BYTES + 1];
	std::memcpy(spec, c.fStart, c.fLength);
	spec[c.fLength] = 0;
	switch (c.fKind)
	{
		case ArgKind::kNone:
			// Nothing to take: the extra argument is ignored by snprintf.
			out.Wrote(FormatValue(out, spec, c, width, precision, 0));
			break;
		case ArgKind::kInt:
			FormatInteger(out, spec, c, width, precision, va_arg(args, int));
			break;
		case ArgKind::kUInt:
			FormatInteger(out, spec, c, width, precision, va_arg(args, unsigned int));
			break;
		case ArgKind::kLong:
			FormatInteger(out, spec, c, width, precision, va_arg(args, long));
			break;
		case ArgKind::kULong:
			FormatInteger(out, spec, c, width, precision, va_arg(args, unsigned long));
			break;
		case ArgKind::kLongLong:
			FormatInteger(out, spec, c, width, precision, va_arg(args, long long));
			break;
		case ArgKind::kULongLong:
			FormatInteger(out, spec, c, width, precision, va_arg(args, unsigned long long));
			break;
		case ArgKind::kIntMax:
			FormatInteger(out, spec, c, width, precision, va_arg(args, intmax_t));
			break;
		case ArgKind::kUIntMax:
			FormatInteger(out, spec, c, width, precision, va_arg(args, uintmax_t));
			break;
		case ArgKind::kSize:
			FormatInteger(out, spec, c, width, precision, va_arg(args, size_t));
			break;
		case ArgKind::kSignedSize:
			FormatInteger(out, spec, c, width, precision, va_arg(args, std::make_signed_t<size_t>));
			break;
		case ArgKind::kPtrdiff:
			FormatInteger(out, spec, c, width, precision, va_arg(args, ptrdiff_t));
			break;
		case ArgKind::kUnsignedPtrdiff:
			FormatInteger(out, spec, c, width, precision, va_arg(args, std::make_unsigned_t<ptrdiff_t>));
			break;
		case ArgKind::kDouble:
		{
			const double value = va_arg(args, double);
			StCLocale locale;
			out.Wrote(FormatValue(out, spec, c, width, precision, value));
			break;
		}
		case ArgKind::kLongDouble:
		{
			const long double value = va_arg(args, long double);
			StCLocale locale;
			out.Wrote(FormatValue(out, spec, c, width, precision, value));
			break;
		}
		case ArgKind::kCString:
			out.Wrote(FormatValue(out, spec, c, width, precision, va_arg(args, const char*)));
			break;
		case ArgKind::kWideString:
			out.Wrote(FormatValue(out, spec, c, width, precision, va_arg(args, const wchar_t*)));
			break;
		case ArgKind::kWideChar:
			out.Wrote(FormatValue(out, spec, c, width, precision, va_arg(args, wint_t)));
			break;
		case ArgKind::kPointer:
			out.Wrote(FormatValue(out, spec, c, width, precision, va_arg(args, void*)));
			break;
		case ArgKind::kCount:
			break;
	}
}

// A fixed text for a conversion whose object is missing or of the wrong class.
void AddInvalidText(PrintfOutput& out, const char* text)
{
	VString* owned = out.NewOwnedText();
	if (owned != nullptr)
		owned->AppendCString(text);
	out.AddObject(owned);
}

// The object as a string, or null. Plain strings, the common case, skip the full cast.
const VString* AsString(const VObject* object)
{
	if (typeid(*object) == typeid(VString))
		return static_cast<const VString*>(object);
	return dynamic_cast<const VString*>(object);
}

// Places the text of an object conversion in the output. A string is used where it stands, unless it is
// the target itself, whose text changes before it is read.
void AddObjectText(PrintfOutput& out, const VString& target, char letter, const VObject* object)
{
	if (object == nullptr)
	{
		AddInvalidText(out, "@@invalid VObject@@");
		return;
	}
	if (letter == 'S')
	{
		const VString* string = AsString(object);
		if (string == nullptr)
		{
			AddInvalidText(out, "@@invalid VString@@");
		}
		else if (string == &target)
		{
			VString* copy = out.NewOwnedText();
			if (copy != nullptr)
			{
				copy->FromString(*string);
				// A copy that could not take the text (velk 107 raised) would print wrong.
				if (copy->GetLength() != string->GetLength())
					copy = nullptr;
			}
			out.AddObject(copy);
		}
		else
		{
			out.AddObject(string);
		}
		return;
	}
	if (letter == 'A')
	{
		const VValueSingle* value = dynamic_cast<const VValueSingle*>(object);
		if (value == nullptr)
		{
			AddInvalidText(out, "@@invalid VValueSingle@@");
			return;
		}
		VString* text = out.NewOwnedText();
		if (text != nullptr)
			value->GetString(*text);
		out.AddObject(text);
		return;
	}
	VString* text = out.NewOwnedText();
	if (text != nullptr)
		object->DebugDump(*text);
	out.AddObject(text);
}

// The common formats made straight as UTF-16, without a byte string between: text of the format in ASCII,
// "%%", plain decimal integers (no flag, width, precision, h or hh), plain "%s" of ASCII text, and "%S" of
// a string other than the target. Anything else, or a printf part past the byte limit, answers false
// before the string is touched: the general formatter then runs from the start. ASCII makes one unit of
// each byte, as the general formatter's widening does.
class DirectOutput
{
public:
	DirectOutput() = default;
	DirectOutput(const DirectOutput&) = delete;
	DirectOutput& operator=(const DirectOutput&) = delete;

	// The bytes as units; false when one is not ASCII or the limit would be passed.
	bool AddASCII(const char* bytes, size_t count)
	{
		if (count > kMAX_FORMAT_BYTES - fLength)
			return false;
		UniChar* out = fUnits + fLength;
		for (size_t i = 0; i < count; ++i)
		{
			if (uint8(bytes[i]) >= 0x80)
				return false;
			out[i] = UniChar(uint8(bytes[i]));
		}
		fLength += count;
		return true;
	}
	// The bytes from p up to the first stop byte or end, as units; the place of the stop (or end), or null
	// as AddASCII.
	const char* AddASCIIUpTo(const char* p, const char* end, char stop)
	{
		UniChar* out = fUnits + fLength;
		const UniChar* const limit = fUnits + kMAX_FORMAT_BYTES;
		for (; p < end && *p != stop; ++p, ++out)
		{
			if (out == limit || uint8(*p) >= 0x80)
				return nullptr;
			*out = UniChar(uint8(*p));
		}
		fLength = size_t(out - fUnits);
		return p;
	}
	// A zero-terminated text; false as AddASCII.
	bool AddASCIIText(const char* text)
	{
		UniChar* out = fUnits + fLength;
		const UniChar* const limit = fUnits + kMAX_FORMAT_BYTES;
		for (; *text != 0; ++text, ++out)
		{
			if (out == limit || uint8(*text) >= 0x80)
				return false;
			*out = UniChar(uint8(*text));
		}
		fLength = size_t(out - fUnits);
		return true;
	}
	template <typename T>
	bool AddDecimal(T value)
	{
		char text[24];
		const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
		return AddASCII(text, size_t(r.ptr - text));
	}
	bool AddObject(const VString* text)
	{
		if (fCount == kMAX_INSERTIONS)
			return false;
		fInsertions[fCount++] = Insertion{fLength, text};
		fObjectUnits += text->GetLength();
		return true;
	}

	int64 GetTotalUnits() const { return int64(fLength) + fObjectUnits; }
	// Writes everything at out, which has room for GetTotalUnits() units.
	void CopyTo(UniChar* out) const
	{
		size_t done = 0;
		for (size_t n = 0; n < fCount; ++n)
		{
			const Insertion& insertion = fInsertions[n];
			std::memcpy(out, fUnits + done, (insertion.fAt - done) * sizeof(UniChar));
			out += insertion.fAt - done;
			done = insertion.fAt;
			const int32 length = insertion.fText->GetLength();
			std::memcpy(out, insertion.fText->GetCPointer(), size_t(length) * sizeof(UniChar));
			out += length;
		}
		std::memcpy(out, fUnits + done, (fLength - done) * sizeof(UniChar));
	}

private:
	struct Insertion
	{
		size_t fAt;
		const VString* fText;
	};
	static constexpr size_t kMAX_INSERTIONS = 8;

	UniChar fUnits[kMAX_FORMAT_BYTES];
	size_t fLength = 0;
	Insertion fInsertions[kMAX_INSERTIONS];
	size_t fCount = 0;
	int64 fObjectUnits = 0;
};

template <typename T>
bool AddPlainInteger(DirectOutput& out, va_list& args)
{
	return out.AddDecimal(va_arg(args, T));
}

// The plain decimal conversions and "%s" of a direct output; false for any other.
bool AddDirectConversion(DirectOutput& out, const Conversion& c, va_list& args)
{
	if (!c.fPlain || c.fNarrow)
		return false;
	if (c.fKind == ArgKind::kCString)
	{
		const char* text = va_arg(args, const char*);
		return out.AddASCIIText(text != nullptr ? text : "(null)");
	}
	if (c.fLetter != 'd' && c.fLetter != 'i' && c.fLetter != 'u')
		return false;
	switch (c.fKind)
	{
		case ArgKind::kInt:
			return AddPlainInteger<int>(out, args);
		case ArgKind::kUInt:
			return AddPlainInteger<unsigned int>(out, args);
		case ArgKind::kLong:
			return AddPlainInteger<long>(out, args);
		case ArgKind::kULong:
			return AddPlainInteger<unsigned long>(out, args);
		case ArgKind::kLongLong:
			return AddPlainInteger<long long>(out, args);
		case ArgKind::kULongLong:
			return AddPlainInteger<unsigned long long>(out, args);
		case ArgKind::kIntMax:
			return AddPlainInteger<intmax_t>(out, args);
		case ArgKind::kUIntMax:
			return AddPlainInteger<uintmax_t>(out, args);
		case ArgKind::kSize:
			return AddPlainInteger<size_t>(out, args);
		case ArgKind::kSignedSize:
			return AddPlainInteger<std::make_signed_t<size_t>>(out, args);
		case ArgKind::kPtrdiff:
			return AddPlainInteger<ptrdiff_t>(out, args);
		case ArgKind::kUnsignedPtrdiff:
			return AddPlainInteger<std::make_unsigned_t<ptrdiff_t>>(out, args);
		default:
			return false;
	}
}

// Fills out from a format of at most kMAX_FORMAT_BYTES bytes; false when the format needs the general
// formatter.
bool FormatDirect(DirectOutput& out, const VString& target, const char* format, size_t length, va_list& args)
{
	const char* p = format;
	const char* const end = format + length;
	while (p < end)
	{
		p = out.AddASCIIUpTo(p, end, '%');
		if (p == nullptr)
			return false;
		if (p == end)
			break;
		if (p + 1 >= end)
			return false;
		bool added = true;
		switch (p[1])
		{
			// The bare conversions of log lines, which need no parsing.
			case '%':
				added = out.AddASCII("%", 1);
				break;
			case 'd':
			case 'i':
				added = out.AddDecimal(va_arg(args, int));
				break;
			case 'u':
				added = out.AddDecimal(va_arg(args, unsigned int));
				break;
			case 's':
			{
				const char* text = va_arg(args, const char*);
				added = out.AddASCIIText(text != nullptr ? text : "(null)");
				break;
			}
			case 'S':
			{
				const VObject* object = va_arg(args, const VObject*);
				const VString* string = object != nullptr ? AsString(object) : nullptr;
				added = string != nullptr && string != &target && out.AddObject(string);
				break;
			}
			case 'A':
			case 'V':
				return false;
			default:
			{
				Conversion conversion;
				if (ParseConversion(p, end, conversion) != ParseResult::kConversion || !AddDirectConversion(out, conversion, args))
					return false;
				p += conversion.fLength;
				continue;
			}
		}
		if (!added)
			return false;
		p += 2;
	}
	return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Printf

void VString::_PrintfArguments(const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	_Printf(format, arguments);
	va_end(arguments);
}

void VString::VPrintf(const char* format, va_list arguments)
{
	Truncate(0);
	_Printf(format, arguments);
}

void VString::_Printf(const char* format, va_list arguments)
{
	if (format == nullptr)
		return;
	size_t formatLength = strnlen(format, kMAX_FORMAT_BYTES + 1);
	if (formatLength > kMAX_FORMAT_BYTES)
		formatLength = WithoutIncompleteUTF8(format, kMAX_FORMAT_BYTES);
	else if (_PrintfDirect(format, formatLength, arguments))
		return;
	const char* p = format;
	const char* const end = format + formatLength;

	va_list args;
	va_copy(args, arguments);
	PrintfOutput out;
	while (p < end && !out.IsFinished())
	{
		const char* percent = static_cast<const char*>(std::memchr(p, '%', size_t(end - p)));
		if (percent == nullptr)
			percent = end;
		out.Emit(p, size_t(percent - p));
		p = percent;
		// A "%" that ends the format is an incomplete conversion: dropped.
		if (p + 1 >= end || out.IsFinished())
			break;
		const char next = p[1];
		if (next == '%')
		{
			out.Emit("%", 1);
			p += 2;
			continue;
		}
		if (next == 'S' || next == 'A' || next == 'V')
		{
			AddObjectText(out, *this, next, va_arg(args, const VObject*));
			p += 2;
			continue;
		}
		Conversion conversion;
		const ParseResult parsed = ParseConversion(p, end, conversion);
		if (parsed == ParseResult::kIncomplete)
			break;
		if (parsed == ParseResult::kLiteral)
			out.Emit(p, conversion.fLength);
		else
			FormatConversion(out, conversion, args);
		p += conversion.fLength;
	}
	va_end(args);
	if (out.HasFailed())
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}
	out.EndOutput();

	// One growth for the whole result: a byte gives at most one unit.
	const int64 upper = int64(fLength) + int64(out.GetLength()) + out.GetObjectUnits();
	if (upper <= INT32_MAX)
		_PrepareWrite(int32(upper));
	char* const bytes = out.GetBytes();
	auto appendBytes = [&](size_t from, size_t to) {
		if (to <= from)
			return;
		size_t i = from;
		while (i < to && uint8(bytes[i]) < 0x80)
			++i;
		if (i == to)
		{
			_AppendASCII(bytes + from, int32(to - from));
			return;
		}
		const char saved = bytes[to];
		bytes[to] = 0;
		AppendCString(bytes + from);
		bytes[to] = saved;
	};
	size_t done = 0;
	for (size_t n = 0; n < out.GetObjectCount(); ++n)
	{
		size_t at = 0;
		const VString* text = out.GetObject(n, at);
		appendBytes(done, at);
		done = at;
		_AppendUnits(text->GetCPointer(), text->GetLength());
	}
	appendBytes(done, out.GetLength());
	_SetNotNullDirty();
}

bool VString::_PrintfDirect(const char* format, size_t formatLength, va_list arguments)
{
	DirectOutput out;
	va_list args;
	va_copy(args, arguments);
	const bool made = FormatDirect(out, *this, format, formatLength, args);
	va_end(args);
	if (!made)
		return false;
	const int64 total = int64(fLength) + out.GetTotalUnits();
	// Short of memory the string stays as it was (velk 107 raised).
	if (total <= INT32_MAX && _PrepareWrite(int32(total)))
	{
		out.CopyTo(fString + fLength);
		fLength = int32(total);
		fString[fLength] = 0;
		_SetNotNullDirty();
	}
	else if (total > INT32_MAX)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
	}
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// Placeholders

namespace {

// Fills the {name} placeholders of text; lookup(name, value) answers whether the name is known and its text.
template <typename Lookup>
void FillPlaceholders(VString& text, bool removeUnknown, Lookup&& lookup)
{
	int32 pos = 1;
	VString value;
	while (pos <= text.GetLength())
	{
		const int32 open = text.FindUniChar(u'{', pos);
		if (open == 0)
			return;
		if (text.GetUniChar(open + 1) == u'{')
		{
			pos = open + 2;
			continue;
		}
		const int32 close = text.FindUniChar(u'}', open + 1);
		if (close == 0)
			return;
		if (text.GetUniChar(close + 1) == u'}')
		{
			pos = close + 2;
			continue;
		}
		const int32 nameLength = close - open - 1;
		const UniChar* units = text.GetCPointer() + open;
		if (nameLength == 0 || std::char_traits<char16_t>::find(units, size_t(nameLength), u' ') != nullptr)
		{
			pos = open + 1;
			continue;
		}
		const VString name(units, nameLength);
		if (lookup(name, value))
		{
			text.Replace(value, open, nameLength + 2);
			pos = open + value.GetLength();
		}
		else if (removeUnknown)
		{
			text.Remove(open, nameLength + 2);
			pos = open;
		}
		else
		{
			pos = open + 1;
		}
	}
}

}  // namespace

VString& VString::Format(const VValueBag* bag, bool removeUnknown)
{
	if (bag == nullptr || bag->IsEmpty() || fLength < 2)
		return *this;
	FillPlaceholders(*this, removeUnknown, [bag](const VString& name, VString& value) {
		const VValueSingle* attribute = bag->GetAttribute(StPackedDictionaryKey(name));
		if (attribute == nullptr)
			return false;
		attribute->GetString(value);
		return true;
	});
	return *this;
}

VString& VString::Format(const VJSONObject* object, bool removeUnknown)
{
	if (object == nullptr || object->IsEmpty() || fLength < 2)
		return *this;
	FillPlaceholders(*this, removeUnknown, [object](const VString& name, VString& value) {
		const VJSONValue property = object->GetProperty(name);
		if (property.IsNull() || property.IsUndefined())
			return false;
		property.GetString(value);
		return true;
	});
	return *this;
}

}  // namespace velk
