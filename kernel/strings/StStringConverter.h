// Char text: a VString turned into zero-terminated 8-bit text in a chosen character set and line-end
// convention, for interfaces that take 8-bit text (system calls, console and log text, strtod, Base64).
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VFromUnicodeConverter;

// Holds the text of its last conversion: in its own 512-byte buffer while the text fits, else in a heap
// block of the process memory manager that it owns. The output lives as long as the converter, until the
// next conversion. The character set's converter is retained for the converter's life.
class VELK_API StStringConverterBase : public VObject
{
public:
	static constexpr size_t kINLINE_BYTES = 512;

	// No conversion yet: empty output, size 0, not successful. A set without a converter gets the
	// do-nothing one, so every later conversion gives empty output and failure.
	StStringConverterBase(CharSet set, ECarriageReturnMode mode);
	// An independent converter with the same set, mode, size, success and text. When the heap block for the
	// text cannot be had, the copy holds empty output and failure (velk 100 raised).
	StStringConverterBase(const StStringConverterBase& other);
	// Takes over the other's heap block, leaving it empty on its own buffer (capacity 512, size 0), or
	// copies its own buffer; both then hold the character set's converter.
	StStringConverterBase(StStringConverterBase&& other) noexcept;
	StStringConverterBase& operator=(const StStringConverterBase&) = delete;
	StStringConverterBase& operator=(StStringConverterBase&&) = delete;
	~StStringConverterBase() override;

	// Converts count units, then writes terminatorBytes zero bytes behind the text (2 for UTF-16 output);
	// answers the output. On failure the output may hold only part of the text, or none: IsOK tells. A
	// block that cannot grow raises velk 300 ("mem failure").
	const char* _ConvertString(const UniChar* text, int32 count, size_t terminatorBytes);

	// The text of the last conversion, always terminated.
	const char* GetCPointer() const { return fOutput; }
	// Its bytes, the terminator not counted.
	size_t GetSize() const { return fSize; }
	// Whether the last conversion succeeded.
	bool IsOK() const { return fSuccess; }

protected:
	ECarriageReturnMode _GetMode() const { return fMode; }

private:
	// Back to the empty own buffer; a heap block is neither freed nor kept.
	void _ResetToInline();

	// The heap block, once there is one, is the output for good: output is the own buffer or the heap block.
	char* fOutput;
	size_t fSize = 0;
	ECarriageReturnMode fMode;
	bool fSuccess = false;
	size_t fCapacity = kINLINE_BYTES;  // bytes the output can hold, the terminator included
	char* fHeapBuffer = nullptr;
	VFromUnicodeConverter* fConverter;
	char fInlineBuffer[kINLINE_BYTES];
};

template <typename T>
class StStringConverter;

template <>
class VELK_API StStringConverter<char> : public StStringConverterBase
{
public:
	StStringConverter(CharSet set, ECarriageReturnMode mode) : StStringConverterBase(set, mode) {}
	// Converts text at once: the char text is ready on return.
	StStringConverter(const VString& text, CharSet set, ECarriageReturnMode mode);

	// The text with its line ends first rewritten to the mode (a copy is rewritten, eCRM_NONE keeps them),
	// then converted and terminated by one 0 byte; answers the output.
	const char* ConvertString(const VString& text);
};

}  // namespace velk
