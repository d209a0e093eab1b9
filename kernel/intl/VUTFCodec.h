// Transcoding core between UTF-8, UTF-32 and UTF-16: the routines the text converters wrap and the
// string builds on. Each call converts as much as fits and reports what it consumed and produced.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <string>

#include "kernel/VKernelTypes.h"

namespace velk {

// UTF-8 to UTF-16. Converts while input and room remain; always stores both counts.
// - Every byte that follows a lead byte must be 10xxxxxx; when one is not, the lead byte alone stands for
//   itself (U+0080..U+00FF) and decoding resumes at the next byte. A stray 10xxxxxx byte stands for itself.
// - A sequence that is valid so far but runs past the end of the input is left unconsumed (the rest of the
//   text arrives with the next call).
// - Overlong forms are accepted (C0 80 gives U+0000); surrogate values give one unit; a value above
//   U+10FFFF gives "?" and makes the result false.
// - A supplementary character needs two units of room; with one left, conversion stops before it.
// Returns false only for a value above U+10FFFF. Units past those produced, within the room, may be written over.
VELK_API bool DecodeUTF8(const void* source, size_t sourceBytes, size_t* outBytesConsumed, UniChar* dest, int32 destMaxUnits, int32* outUnitsProduced);

// UTF-32 code points (32-bit values, in the opposite byte order when swap is set) to UTF-16. A trailing
// group of fewer than 4 bytes is left unconsumed. Returns false when it stopped before a surrogate value
// (0xD800-0xDFFF), before a supplementary character for want of two units of room, when room ran out
// before the input, or when it skipped a value of 0x110000 or more (consumed, nothing written).
VELK_API bool DecodeUTF32(const void* source, size_t sourceBytes, bool swap, size_t* outBytesConsumed, UniChar* dest, int32 destMaxUnits, int32* outUnitsProduced);

// UTF-16 to UTF-8. A high surrogate followed by a low one gives four bytes; any other surrogate gives three
// bytes on its own (DE00 gives ED B8 80, which DecodeUTF8 reads back as DE00), except a high surrogate that
// is the last unit, which is left unconsumed (its partner may arrive with the next call). Stops before a
// sequence that would not fit. With a null dest nothing is written and the bytes that would be produced are
// counted. Always returns true. Bytes past those produced, within the room, may be written over.
VELK_API bool EncodeUTF8(const UniChar* source, int32 sourceUnits, int32* outUnitsConsumed, void* dest, size_t destMaxBytes, size_t* outBytesProduced);

// 32-bit wide characters to UTF-8, with the long forms beyond U+10FFFF (five bytes from 0x200000, six from
// 0x4000000). A value 0xD800-0xDBFF followed by one 0xDC00-0xDFFF is joined into one code point; any other
// surrogate value gives three bytes on its own, except a high one that is the last unit, which is left
// unconsumed. Stops before a sequence that would not fit; a null dest only counts. A value of 0x80000000 or
// more stops the conversion and makes the result false.
VELK_API bool EncodeUTF8Wide(const wchar_t* source, int32 sourceUnits, int32* outUnitsConsumed, void* dest, size_t destMaxBytes, size_t* outBytesProduced);

// The whole UTF-16 text as UTF-8 (a high surrogate at the very end gives three bytes too), for handing text
// to system calls that take any bytes. Null or a count below 1 gives "".
VELK_API std::string ToUTF8String(const UniChar* units, int32 count);

// Strict forms, for names that must reach the system byte for byte and come back the same: false, out
// emptied, for an unpaired surrogate (encoding) or for a byte that cannot begin or continue a sequence, an
// overlong form, a surrogate value or a value above U+10FFFF (decoding).
VELK_API bool IsWellFormedUTF16(const UniChar* units, int32 count);
VELK_API bool ToStrictUTF8(const UniChar* units, int32 count, std::string& out);
VELK_API bool FromStrictUTF8(const void* bytes, size_t count, std::u16string& out);
// The one well-formed UTF-8 sequence at the start of bytes (count of them, at least one): its length, its
// value in codePoint; 0 when none starts there, as FromStrictUTF8 judges.
VELK_API size_t DecodeStrictUTF8Sequence(const void* bytes, size_t count, uint32& codePoint);

}  // namespace velk
