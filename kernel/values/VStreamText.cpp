// Text in a byte stream: character-set marks and guessing, and reading and writing text through the
// converters of the stream's character set.
#include "kernel/values/VStream.h"

#include <algorithm>
#include <cstring>

#include "containers/VArrayString.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

constexpr UniChar kCR = 0x0D;
constexpr UniChar kLF = 0x0A;

bool IsUTF16(CharSet charSet)
{
	return charSet == kCharSet_UTF16BE || charSet == kCharSet_UTF16;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Marks and guessing

VError VStream::GuessCharSetFromLeadingBytes(CharSet defaultSet, bool testUTF8, bool* outFoundBOM)
{
	if (outFoundBOM != nullptr)
		*outFoundBOM = false;
	CharSet choice = defaultSet;
	{
		StErrorContextInstaller silent(false, true);
		uint8 lead[4];
		size_t n = sizeof(lead);
		_ReadFrame(lead, &n);
		if (fError == VE_STREAM_EOF)
			fError = VE_OK;
		if (fError == VE_OK)
		{
			size_t markSize = 0;
			CharSet marked = kCharSet_None;
			if (n >= 3 && lead[0] == 0xEF && lead[1] == 0xBB && lead[2] == 0xBF)
				marked = kCharSet_UTF8, markSize = 3;
			else if (n == 4 && lead[0] == 0 && lead[1] == 0 && lead[2] == 0xFE && lead[3] == 0xFF)
				marked = kCharSet_UTF32BE, markSize = 4;
			else if (n == 4 && lead[0] == 0xFF && lead[1] == 0xFE && lead[2] == 0 && lead[3] == 0)
				marked = kCharSet_UTF32, markSize = 4;
			else if (n >= 2 && lead[0] == 0xFE && lead[1] == 0xFF)
				marked = kCharSet_UTF16BE, markSize = 2;
			else if (n >= 2 && lead[0] == 0xFF && lead[1] == 0xFE)
				marked = kCharSet_UTF16, markSize = 2;
			if (markSize > 0)
			{
				choice = marked;
				UngetData(lead + markSize, n - markSize);
				if (outFoundBOM != nullptr)
					*outFoundBOM = true;
			}
			else
			{
				UngetData(lead, n);
				if (!testUTF8)
					VTextConverters::GuessCharsetWithNoBom(lead, int32(n), &choice, false);
				else
				{
					// One byte beyond the window tells the guess whether the text goes on after it.
					uint8 window[2049];
					size_t count = size_t(std::min<int64>(GetRemaining(), int64(sizeof(window))));
					_ReadFrame(window, &count);
					UngetData(window, count);
					VTextConverters::GuessCharsetWithNoBom(window, int32(count), &choice, true);
				}
			}
		}
	}
	return SetCharSet(choice);
}

VError VStream::WriteBOM()
{
	if (fCharSet < kCharSet_UTF16BE || fCharSet > kCharSet_UTF8 || fCharSet == kCharSet_UTF32RawBE || fCharSet == kCharSet_UTF32Raw)
		return fError;
	size_t size = 0;
	const uint8* mark = VTextConverters::GetBOMForCharSet(fCharSet, &size);
	for (size_t i = 0; mark != nullptr && i < size; ++i)
		Put(mark[i]);
	return fError;
}

// ---------------------------------------------------------------------------------------------------------
// Writing text

VError VStream::PutText(const VString& text)
{
	if (fError != VE_OK)
		return fError;
	if (!fIsWriting)
		return _Fail(VE_STREAM_NOT_OPENED_FOR_WRITING);
	if (!_RetainConverter(false))
		return _Fail(VE_STREAM_NO_TEXT_CONVERTER);

	const VString* source = &text;
	VString rewritten;
	if (fCarriageReturnMode != eCRM_NONE)
	{
		const UniChar* units = text.GetCPointer();
		const UniChar* end = units + text.GetLength();
		if (std::find_if(units, end, [](UniChar c) { return c == kCR || c == kLF; }) != end)
		{
			rewritten.FromString(text);
			rewritten.ConvertCarriageReturns(ECarriageReturnMode(fCarriageReturnMode));
			source = &rewritten;
		}
	}

	uint8 bytes[4096];
	const UniChar* units = source->GetCPointer();
	int32 left = source->GetLength();
	while (left > 0 && fError == VE_OK)
	{
		int32 consumed = 0;
		size_t produced = 0;
		const bool converted = fFromUnicode->Convert(units, left, &consumed, bytes, sizeof(bytes), &produced);
		if (produced > 0)
			_WriteFrame(bytes, produced);
		// A unit the character set has no form for, or a high surrogate at the very end waiting for a partner
		// that never comes: the text cannot be written whole, and saying so is all that is left.
		if ((!converted || consumed <= 0) && fError == VE_OK)
			return _Fail(VE_STREAM_TEXT_CONVERSION_FAILURE);
		units += consumed;
		left -= consumed;
	}
	return fError;
}

VError VStream::PutPrintf(const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	PutVPrintf(format, arguments);
	va_end(arguments);
	return fError;
}

VError VStream::PutVPrintf(const char* format, va_list arguments)
{
	VStr<255> text;
	text.VPrintf(format, arguments);
	return PutText(text);
}

// ---------------------------------------------------------------------------------------------------------
// Reading text

VError VStream::GetText(VString& text)
{
	if (fError != VE_OK)
		return fError;
	uint8 buffer[4096];
	size_t pending = 0;
	for (;;)
	{
		const size_t asked = size_t(std::min<int64>(GetRemaining(), int64(sizeof(buffer) - pending)));
		if (asked == 0)
			break;
		size_t count = asked;
		_ReadFrame(buffer + pending, &count);
		const size_t available = pending + count;
		size_t consumed = 0;
		if (!_Convert(buffer, available, &consumed, text) || consumed == 0)
		{
			pending = available;
			break;
		}
		pending = available - consumed;
		std::memmove(buffer, buffer + consumed, pending);
		if (fError != VE_OK)
			break;
	}
	if (fError == VE_OK && pending > 0)
	{
		const VString reason("unterminated unicode conversion.");
		_ThrowError(VE_STREAM_TEXT_CONVERSION_FAILURE, &reason);
		fError = VE_STREAM_TEXT_CONVERSION_FAILURE;
	}
	return fError;
}

VError VStream::GetText(VString& text, int32 count, bool acceptMore)
{
	if (count < 1 || fError != VE_OK)
		return fError;
	const int32 start = text.GetLength();
	if (count > INT32_MAX - start || text.GetCPointerForWrite(start + count) == nullptr)
		return _Fail(VE_MEMORY_FULL);

	if (IsUTF16(fCharSet))
	{
		UniChar* units = text.GetCPointerForWrite(start + count) + start;
		size_t bytes = size_t(count) * 2;
		_ReadFrame(units, &bytes);
		if (bytes % 2 != 0)
		{
			const VError kept = fError;
			UngetData(reinterpret_cast<uint8*>(units) + bytes - 1, 1);
			if (fError == VE_OK)
				fError = kept;
			bytes -= 1;
		}
		const int32 read = int32(bytes / 2);
		if (fCharSet == kCharSet_UTF16BE)
		{
			for (int32 i = 0; i < read; ++i)
				units[i] = UniChar((units[i] << 8) | (units[i] >> 8));
		}
		text.Validate(start + read);
		return fError;
	}
	return _GetTextExact(text, count, acceptMore);
}

// Reads a little more than the missing characters can take, converts, and gives back what lies beyond
// them; when one conversion overshoots, the bytes are converted again one growing prefix at a time.
VError VStream::_GetTextExact(VString& text, int32 count, bool acceptMore)
{
	StErrorContextInstaller filter(VE_STREAM_EOF, VE_OK);
	const int32 target = text.GetLength() + count;
	uint8 buffer[32];
	size_t pending = 0;
	bool done = false;
	while (!done)
	{
		const int64 missing = int64(target) - text.GetLength();
		size_t asked = size_t(std::min<int64>(2 * missing + 10, int64(sizeof(buffer) - pending)));
		_ReadFrame(buffer + pending, &asked);
		const bool atEnd = asked == 0 || fError != VE_OK;
		if (fError != VE_OK && fError != VE_STREAM_EOF)
			break;
		const size_t available = pending + asked;
		const int32 before = text.GetLength();
		size_t consumed = 0;
		const bool converted = _Convert(buffer, available, &consumed, text);
		if (converted && text.GetLength() < target)
		{
			pending = available - consumed;
			std::memmove(buffer, buffer + consumed, pending);
			if (atEnd)
				break;
			continue;
		}
		if (converted && (text.GetLength() == target || acceptMore))
		{
			UngetData(buffer + consumed, available - consumed);
			break;
		}
		// Too many characters, or a failure: redo this block one character at a time.
		text.Truncate(before, false);
		size_t used = 0;
		for (size_t length = 1; used + length <= available && text.GetLength() < target; ++length)
		{
			size_t step = 0;
			if (!_Convert(buffer + used, length, &step, text))
			{
				_Fail(VE_STREAM_TEXT_CONVERSION_FAILURE);
				return fError;
			}
			if (step > 0)
			{
				used += step;
				length = 0;
			}
		}
		if (text.GetLength() >= target)
		{
			UngetData(buffer + used, available - used);
			done = true;
		}
		else
		{
			pending = available - used;
			std::memmove(buffer, buffer + used, pending);
			if (atEnd)
				break;
		}
	}
	if (text.GetLength() >= target && fError == VE_STREAM_EOF)
		fError = VE_OK;
	else if (text.GetLength() < target && fError == VE_OK)
		fError = VE_STREAM_EOF;
	return fError;
}

// Blocks are scanned unit by unit for the line end. A block without one is converted whole except for a
// character cut by the block's end, whose bytes are carried to the front of the next block.
VError VStream::GetTextLine(VString& line, bool keepLineEnd, const UniChar* endChar)
{
	line.Clear();
	if (fError != VE_OK)
		return fError;
	StErrorContextInstaller filter(VE_STREAM_EOF, VE_OK);

	const bool wide = IsUTF16(fCharSet);
	const size_t width = wide ? 2 : 1;
	const size_t blockSize = wide ? 512 : 256;
	const bool bigEndian = fCharSet == kCharSet_UTF16BE;
	const auto unitAt = [&](const uint8* p) -> UniChar {
		if (!wide)
			return p[0];
		return bigEndian ? UniChar((p[0] << 8) | p[1]) : UniChar(p[0] | (p[1] << 8));
	};
	const UniChar end = endChar == nullptr ? 0 : (wide ? *endChar : UniChar(*endChar & 0xFF));
	const auto isLineEnd = [&](UniChar unit) {
		if (endChar == nullptr)
			return unit == kCR || unit == kLF;
		return unit == end || (wide && unit == kLF);
	};

	uint8 buffer[512 + 16];
	size_t pending = 0;
	bool readAny = false;
	for (;;)
	{
		size_t count = blockSize;
		_ReadFrame(buffer + pending, &count);
		readAny = readAny || count > 0;
		const size_t available = pending + count;
		const size_t units = available / width;

		size_t found = units;
		for (size_t i = 0; i < units; ++i)
		{
			if (isLineEnd(unitAt(buffer + i * width)))
			{
				found = i;
				break;
			}
		}

		if (found < units)
		{
			size_t consumed = 0;
			_Convert(buffer, found * width, &consumed, line);
			size_t after = (found + 1) * width;
			if (endChar == nullptr && unitAt(buffer + found * width) == kCR)
			{
				if (found + 1 < units)
				{
					if (unitAt(buffer + after) == kLF)
						after += width;
				}
				else if (after == available && fError == VE_OK)
				{
					// A CR that ends the block: one more unit tells whether an LF completes it.
					uint8 next[2];
					size_t nextCount = width;
					_ReadFrame(next, &nextCount);
					if (nextCount == width && unitAt(next) != kLF)
						UngetData(next, nextCount);
					else if (nextCount > 0 && nextCount < width)
						UngetData(next, nextCount);
				}
			}
			if (keepLineEnd)
				line.AppendUniChar(kCR);
			UngetData(buffer + after, available - after);
			break;
		}

		if (count == 0)
		{
			// End of data: what is left is the last line, a cut character included as the converter takes it.
			if (pending > 0)
				line.AppendBlock(buffer, pending, fCharSet);
			if (keepLineEnd && readAny)
				line.AppendUniChar(kCR);
			break;
		}

		size_t consumed = 0;
		if (!_Convert(buffer, available, &consumed, line))
			break;
		pending = available - consumed;
		if (pending > 16)
		{
			// The converter stops before bytes it cannot take: let them go the way AppendBlock takes them.
			line.AppendBlock(buffer + consumed, pending, fCharSet);
			pending = 0;
		}
		std::memmove(buffer, buffer + consumed, pending);
	}
	if (readAny && fError == VE_STREAM_EOF)
		fError = VE_OK;
	return fError;
}

VError VStream::GetTTRLine(VArrayString& array)
{
	array.Destroy();
	VString line;
	const VError result = GetTextLine(line, false, nullptr);
	if (result != VE_OK && result != VE_STREAM_EOF)
		return result;
	const UniChar* units = line.GetCPointer();
	const int32 length = line.GetLength();
	int32 start = 0;
	for (int32 i = 0; i <= length; ++i)
	{
		if (i == length || units[i] == 0x09)
		{
			array.AppendString(VString(units + start, i - start));
			start = i + 1;
		}
	}
	return result;
}

}  // namespace velk
