#include "kernel/strings/StStringConverter.h"

#include <algorithm>
#include <cstring>

#include "kernel/intl/VTextConverter.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VCppMemMgr.h"
#include "runtime/VError.h"

namespace velk {

StStringConverterBase::StStringConverterBase(CharSet set, ECarriageReturnMode mode)
: fOutput(fInlineBuffer), fMode(mode), fConverter(VTextConverters::Get()->RetainFromUnicodeConverter(set))
{
	fInlineBuffer[0] = 0;
}

StStringConverterBase::StStringConverterBase(const StStringConverterBase& other)
: VObject(other),
  fOutput(fInlineBuffer),
  fSize(other.fSize),
  fMode(other.fMode),
  fSuccess(other.fSuccess),
  fCapacity(other.fCapacity),
  fConverter(other.fConverter)
{
	fConverter->Retain();
	if (other.fOutput == other.fInlineBuffer)
	{
		std::memcpy(fInlineBuffer, other.fInlineBuffer, kINLINE_BYTES);
		return;
	}
	fHeapBuffer = static_cast<char*>(VObject::sCppMemMgr->Malloc(fCapacity, false, kMEMTAG_BUFFER));
	if (fHeapBuffer == nullptr)
	{
		// Never a pointer into the other's block nor half a text: empty output that says it failed.
		_ResetToInline();
		fSuccess = false;
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	// The whole block: the terminator's width is not recorded, and the block holds it.
	std::memcpy(fHeapBuffer, other.fOutput, fCapacity);
	fOutput = fHeapBuffer;
}

StStringConverterBase::StStringConverterBase(StStringConverterBase&& other) noexcept
: VObject(other),
  fOutput(fInlineBuffer),
  fSize(other.fSize),
  fMode(other.fMode),
  fSuccess(other.fSuccess),
  fCapacity(other.fCapacity),
  fHeapBuffer(other.fHeapBuffer),
  fConverter(other.fConverter)
{
	fConverter->Retain();
	if (fHeapBuffer == nullptr)
	{
		std::memcpy(fInlineBuffer, other.fInlineBuffer, kINLINE_BYTES);
		return;
	}
	fOutput = fHeapBuffer;
	other.fHeapBuffer = nullptr;
	other._ResetToInline();
}

StStringConverterBase::~StStringConverterBase()
{
	if (fHeapBuffer != nullptr)
		VObject::sCppMemMgr->Free(fHeapBuffer);
	fConverter->Release();
}

void StStringConverterBase::_ResetToInline()
{
	fOutput = fInlineBuffer;
	fInlineBuffer[0] = 0;
	fCapacity = kINLINE_BYTES;
	fSize = 0;
}

const char* StStringConverterBase::_ConvertString(const UniChar* text, int32 count, size_t terminatorBytes)
{
	if (text == nullptr || count < 0)
		count = 0;
	fSize = 0;

	// A first pass into the current output; a terminator wider than the output goes straight to the heap.
	bool whole = false;
	fSuccess = true;
	if (fCapacity >= terminatorBytes)
	{
		int32 consumed = 0;
		size_t produced = 0;
		fSuccess = fConverter->Convert(text, count, &consumed, fOutput, fCapacity - terminatorBytes, &produced);
		whole = consumed >= count;
		if (whole)
			fSize = produced;
	}

	if (!whole && fSuccess)
	{
		void* block = fHeapBuffer;
		size_t produced = 0;
		fSuccess = fConverter->ConvertRealloc(text, count, block, produced, terminatorBytes);
		// The block may have moved or been made even when the conversion then failed.
		if (block != nullptr)
		{
			fHeapBuffer = static_cast<char*>(block);
			fOutput = fHeapBuffer;
			fSize = produced;
			// The block's true size, not the bytes produced: the next conversion into it uses all of it and
			// must never be told of room the block lacks.
			const size_t usable = VObject::sCppMemMgr->GetPtrSize(block);
			fCapacity = usable >= produced + terminatorBytes ? usable : produced + terminatorBytes;
		}
	}

	// Only a terminator wider than the own buffer, with no block to be had, can lack room: it is cut.
	std::memset(fOutput + fSize, 0, std::min(terminatorBytes, fCapacity - fSize));
	return fOutput;
}

StStringConverter<char>::StStringConverter(const VString& text, CharSet set, ECarriageReturnMode mode) : StStringConverterBase(set, mode)
{
	ConvertString(text);
}

const char* StStringConverter<char>::ConvertString(const VString& text)
{
	if (_GetMode() == eCRM_NONE)
		return _ConvertString(text.GetCPointer(), text.GetLength(), 1);
	VString converted(text);
	converted.ConvertCarriageReturns(_GetMode());
	return _ConvertString(converted.GetCPointer(), converted.GetLength(), 1);
}

}  // namespace velk
