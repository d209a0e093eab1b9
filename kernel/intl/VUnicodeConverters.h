// The built-in converters: UTF-16 in either byte order, UTF-32 as code points or as one raw value per
// UTF-16 unit, UTF-8, and the do-nothing pair handed out for character sets that have no converter.
#pragma once

#include "kernel/VExport.h"

#include "kernel/intl/VTextConverter.h"

namespace velk {

// UTF-16 in machine order: a copy of whole units (an odd last byte is left unconsumed).
class VELK_API VToUnicodeConverter_Null : public VToUnicodeConverter
{
public:
	bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const override;
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;
};

class VELK_API VFromUnicodeConverter_Null : public VFromUnicodeConverter
{
public:
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	int32 GetCharSize() const override { return 2; }
};

// UTF-16 in the opposite byte order: the copy above, then the two bytes of every unit exchanged.
class VELK_API VToUnicodeConverter_Swap : public VToUnicodeConverter
{
public:
	bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const override;
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;
};

class VELK_API VFromUnicodeConverter_Swap : public VFromUnicodeConverter
{
public:
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	int32 GetCharSize() const override { return 2; }
};

// UTF-32 code points; swap means the bytes are in the opposite (big-endian) order. Surrogate values stop
// the conversion (false); values of 0x110000 or more are skipped (false); a trailing group of fewer than
// four bytes is left unconsumed.
class VELK_API VToUnicodeConverter_UTF32 : public VToUnicodeConverter
{
public:
	explicit VToUnicodeConverter_UTF32(bool inSwap) : fSwap(inSwap) {}
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;

private:
	bool fSwap;
};

// A high surrogate followed by a low one gives one code point; any other surrogate, also a high one at
// the very end, stops the conversion before it (false), as does running out of room.
class VELK_API VFromUnicodeConverter_UTF32 : public VFromUnicodeConverter
{
public:
	explicit VFromUnicodeConverter_UTF32(bool inSwap) : fSwap(inSwap) {}
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	int32 GetCharSize() const override { return 4; }

private:
	bool fSwap;
};

// One 32-bit value per UTF-16 unit, truncated to its low 16 bits; no surrogate handling.
class VELK_API VToUnicodeConverter_UTF32_Raw : public VToUnicodeConverter
{
public:
	explicit VToUnicodeConverter_UTF32_Raw(bool inSwap) : fSwap(inSwap) {}
	// Appends bytes / 4 units in one step; false, nothing converted, when the string cannot grow or its own
	// bytes, given as the source, cannot be copied.
	bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const override;
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;

private:
	bool fSwap;
};

// Each unit zero-extended to 32 bits. The destination is filled from the last value to the first, so text
// may be widened in place (source and destination at the same address).
class VELK_API VFromUnicodeConverter_UTF32_Raw : public VFromUnicodeConverter
{
public:
	explicit VFromUnicodeConverter_UTF32_Raw(bool inSwap) : fSwap(inSwap) {}
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	int32 GetCharSize() const override { return 4; }

private:
	bool fSwap;
};

// UTF-8: see DecodeUTF8 for the handling of malformed bytes. False only for a value above U+10FFFF
// (written as "?").
class VELK_API VToUnicodeConverter_UTF8 : public VToUnicodeConverter
{
public:
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;
};

// UTF-8: see EncodeUTF8. A null destination only counts the bytes. Always true.
class VELK_API VFromUnicodeConverter_UTF8 : public VFromUnicodeConverter
{
public:
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	int32 GetCharSize() const override { return 1; }

	// UTF-8 from 32-bit wide characters (see EncodeUTF8Wide): false for a value of 0x80000000 or more.
	bool ConvertFrom_wchar(const wchar_t* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
						   size_t* outBytesProduced) const;
};

// For a character set without a converter: converts nothing and answers false.
class VELK_API VToUnicodeConverter_Void : public VToUnicodeConverter
{
public:
	bool IsValid() const override { return false; }
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;
	int32 GetCharSize() const override { return 1; }
};

class VELK_API VFromUnicodeConverter_Void : public VFromUnicodeConverter
{
public:
	bool IsValid() const override { return false; }
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	int32 GetCharSize() const override { return 2; }
};

}  // namespace velk
