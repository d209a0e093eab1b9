// Converters for the character sets without a built-in converter (the platform default, ASCII, EBCDIC, the
// Mac, Windows, DOS, ISO-8859 and East-Asian sets), over the platform's text-encoding service.
#pragma once

#include "kernel/VExport.h"

#include "kernel/intl/VTextConverter.h"

namespace plat {
class TextEncodingConverter;
}

namespace velk {

// Each call converts from the set's initial state and keeps nothing for the next one: a character cut by
// the end of the input is left unconsumed and returns true. When the room runs out inside a shifted run
// (ISO-2022-JP, UTF-7), the call ends before the sequence that opened the run, so that the next call goes
// on correctly; a room too small for any of it converts nothing. Invalid bytes become U+FFFD. A platform
// failure raises (CARB, status) and answers false with both counts 0 (true for an empty source).
class VELK_API XMacToUnicodeConverter final : public VToUnicodeConverter
{
public:
	explicit XMacToUnicodeConverter(CharSet inCharSet);
	~XMacToUnicodeConverter() override;

	// False when the set has no converter here.
	bool IsValid() const override;
	bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
				 int32* outUnitsProduced) const override;

	// The platform's name of the set behind a CharSet; null for sets the platform cannot convert.
	static const char* CharSetToTextEncoding(CharSet inCharSet);

private:
	const plat::TextEncodingConverter* fConverter;  // the process's converter for the set, never released
};

// A character the set cannot hold (a lone surrogate too) becomes "?" in the set, one per code point; when
// its bytes do not fit the conversion stops before it. A high surrogate that is the last unit is left
// unconsumed. When all the input is converted the bytes end in the set's initial shift state. A platform
// failure raises (CARB, status) and answers false with both counts 0. A destination of 0 bytes converts
// nothing and answers true.
class VELK_API XMacFromUnicodeConverter final : public VFromUnicodeConverter
{
public:
	explicit XMacFromUnicodeConverter(CharSet inCharSet);
	~XMacFromUnicodeConverter() override;

	bool IsValid() const override;
	bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
				 size_t* outBytesProduced) const override;
	// 2 for the legacy sets, 4 for UTF-32, 1 for UTF-8 and UTF-7, raised to the set's longest character.
	int32 GetCharSize() const override;

private:
	const plat::TextEncodingConverter* fConverter;  // the process's converter for the set, never released
	int32 fCharSize;
};

// The registry makes these through XMacIntlMgr::NewToUnicodeConverter and NewFromUnicodeConverter.

}  // namespace velk
