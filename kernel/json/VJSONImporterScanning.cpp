// The text parser's scanning: tokens, strings and their escapes, bare words and numbers, line counting, and
// the error reports that tell where in the text a token stood.
#include "kernel/json/VJSONImporter.h"

#include <cstring>
#include <new>

#include "kernel/json/VJSONNumberWords.h"
#include "kernel/strings/VUnitLanes.h"
#include "kernel/values/VNumberText.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {

using jsonwords::EndsBareWord;
using jsonwords::IsDigit;
using jsonwords::ReadNumber;

namespace {

// Errors are made with new (std::nothrow): when even that fails there is nowhere to say so.
void PushError(VErrorBase* error)
{
	if (error != nullptr)
		VTask::PushRetainedError(error);
}

// The units that end a plain run of a string: the closing quote, an escape, a NUL or a line end.
inline bool EndsStringRun(UniChar c)
{
	return c == u'"' || c == u'\\' || c == 0 || c == 0x0A || c == 0x0D;
}

// The first unit from p on that ends a plain run, or end. Eight units are tested at a time; a block holding
// any unit up to 0x0D is sorted out unit by unit, since tabs and the like do not end a run.
const UniChar* FindStringRunEnd(const UniChar* p, const UniChar* end)
{
	const Units8 quotes = Broadcast8(u'"');
	const Units8 backslashes = Broadcast8(u'\\');
	const Units8 lastControl = Broadcast8(0x0D);
	for (;;)
	{
		while (end - p >= 8)
		{
			const Units8 units = LoadUnits8(p);
			if (AnyLane((units == quotes) | (units == backslashes) | (units <= lastControl)))
				break;
			p += 8;
		}
		const UniChar* const block = end - p > 8 ? p + 8 : end;
		for (; p < block; ++p)
		{
			if (EndsStringRun(*p))
				return p;
		}
		if (p == end)
			return end;
	}
}

}  // namespace

UniChar VJSONImporter::_GetNextChar(bool& atEnd)
{
	if (fCursor >= fStart + fLength)
	{
		atEnd = true;
		return 0;
	}
	atEnd = false;
	const UniChar c = *fCursor++;
	if (c == 0x000A || (c == 0x000D && (fCursor >= fStart + fLength || *fCursor != 0x000A)))
	{
		++fLine;
		fLineStart = fCursor;
	}
	return c;
}

bool VJSONImporter::_Append(VString* text, const UniChar* units, int32 count)
{
	if (text == nullptr || count <= 0)
		return true;
	const int32 before = text->GetLength();
	text->AppendUniChars(units, count);
	if (text->GetLength() == before + count)
		return true;
	_FailForMemory(VE_STRING_ALLOC_FAILED);
	return false;
}

VString VJSONImporter::_TokenToString(uint32 token)
{
	static const char* const kTexts[] = {"", "{", "}", "[", "]", ",", ":", "\"", "!"};
	if (token >= sizeof(kTexts) / sizeof(kTexts[0]))
		return VString();
	return VString(kTexts[token]);
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VString& text, bool* isString, uint64* error)
{
	text.Clear();
	const JsonToken token = _ScanToken(&text, isString);
	if (error != nullptr)
		*error = fError;
	return token;
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(uint64* error)
{
	const JsonToken token = _ScanToken(nullptr, nullptr);
	if (error != nullptr)
		*error = fError;
	return token;
}

VJSONImporter::JsonToken VJSONImporter::_NextPunctuation(VString* text)
{
	// Most punctuation follows its value directly; anything else takes the general way.
	if (fError == VE_OK && fCursor < fStart + fLength)
	{
		JsonToken token = jsonNone;
		switch (*fCursor)
		{
			case u',':
				token = jsonSeparator;
				break;
			case u']':
				token = jsonEndArray;
				break;
			case u'}':
				token = jsonEndObject;
				break;
			case u':':
				token = jsonAssigne;
				break;
			default:
				break;
		}
		if (token != jsonNone)
		{
			fTokenStart = fCursor++;
			return token;
		}
	}
	return _ScanToken(text, nullptr);
}

VJSONImporter::JsonToken VJSONImporter::_ScanToken(VString* text, bool* isString, Word* word)
{
	if (isString != nullptr)
		*isString = false;
	if (word != nullptr)
		*word = Word();
	fTokenStart = fCursor;
	if (fError != VE_OK)
		return jsonNone;
	// Blanks are skipped in place, counting lines as _GetNextChar does.
	const UniChar* end = fStart + fLength;
	const UniChar* cursor = fCursor;
	while (cursor < end && *cursor < 0x21)
	{
		if (*cursor == u' ')
		{
			// Indentation: four blanks at a time.
			constexpr uint64 kFourBlanks = 0x0020002000200020ull;
			++cursor;
			uint64 four = 0;
			while (end - cursor >= 4 && (std::memcpy(&four, cursor, sizeof(four)), four == kFourBlanks))
				cursor += 4;
			continue;
		}
		const UniChar blank = *cursor++;
		if (blank == 0x000A || (blank == 0x000D && (cursor >= end || *cursor != 0x000A)))
		{
			++fLine;
			fLineStart = cursor;
		}
	}
	if (cursor >= end)
	{
		fCursor = cursor;
		return jsonNone;
	}
	const UniChar c = *cursor++;
	fCursor = cursor;
	switch (c)
	{
		case u'{':
			return jsonBeginObject;
		case u'}':
			return jsonEndObject;
		case u'[':
			return jsonBeginArray;
		case u']':
			return jsonEndArray;
		case u',':
			return jsonSeparator;
		case u':':
			return jsonAssigne;
		case u'"':
			if (isString != nullptr)
				*isString = true;
			if (word != nullptr)
			{
				// A string without escapes, NULs or line ends is left in the text, as a bare word is.
				const UniChar* p = FindStringRunEnd(fCursor, end);
				if (p < end && *p == u'"')
				{
					word->fBegin = fCursor;
					word->fEnd = p;
					fCursor = p + 1;
					return jsonString;
				}
			}
			if (!_ScanString(text))
				return jsonNone;
			return jsonString;
		default:
			break;
	}
	// A bare word: up to a blank (consumed) or a structural character (left for the next token).
	const UniChar* wordStart = fCursor - 1;
	if (word != nullptr && (c == u'-' || IsDigit(c)))
	{
		// Most such words are numbers: read as one while their end is found.
		const UniChar* stop = nullptr;
		if (ReadNumber(wordStart, end, word->fNumber, stop) && (stop == end || EndsBareWord(*stop)))
		{
			word->fIsNumber = true;
			fCursor = stop;
		}
	}
	while (fCursor < end && !EndsBareWord(*fCursor))
		++fCursor;
	if (word != nullptr)
	{
		word->fBegin = wordStart;
		word->fEnd = fCursor;
	}
	else if (!_Append(text, wordStart, int32(fCursor - wordStart)))
	{
		return jsonNone;
	}
	if (fCursor < end && *fCursor < 0x21)
	{
		bool atEnd = false;
		_GetNextChar(atEnd);
	}
	return jsonString;
}

bool VJSONImporter::_ScanString(VString* text)
{
	const UniChar* end = fStart + fLength;
	for (;;)
	{
		// Plain units are appended in runs; only quotes, backslashes, NULs and line ends stop a run.
		const UniChar* run = fCursor;
		fCursor = FindStringRunEnd(fCursor, end);
		if (!_Append(text, run, int32(fCursor - run)))
			return false;
		bool atEnd = false;
		const UniChar c = _GetNextChar(atEnd);
		if (atEnd)
			break;
		if (c == u'"')
			return true;
		if (c == 0)
			continue;
		if (c != u'\\')
		{
			if (!_Append(text, &c, 1))
				return false;
			continue;
		}
		const UniChar escaped = _GetNextChar(atEnd);
		if (atEnd)
			break;
		UniChar unit = escaped;
		switch (escaped)
		{
			case u'b':
				unit = 0x0008;
				break;
			case u'f':
				unit = 0x000C;
				break;
			case u'n':
				unit = 0x000A;
				break;
			case u'r':
				unit = 0x000D;
				break;
			case u't':
				unit = 0x0009;
				break;
			case u'u':
			{
				if (end - fCursor < 4)
				{
					while (!atEnd)
						_GetNextChar(atEnd);
					break;
				}
				// A unit that is not a hexadecimal digit is skipped without shifting.
				uint32 value = 0;
				for (int i = 0; i < 4; ++i)
				{
					const int digit = VNumberText::HexDigitValue(_GetNextChar(atEnd));
					if (digit >= 0)
						value = (value << 4) | uint32(digit);
				}
				atEnd = false;
				unit = UniChar(value);
				break;
			}
			default:
				break;
		}
		if (atEnd)
			break;
		if (!_Append(text, &unit, 1))
			return false;
	}
	// The text ended inside the string.
	if ((fOptions & kStrict) == 0)
		return true;
	_ThrowErrorUnterminated("\"");
	return false;
}

VString VJSONImporter::_GetStartTokenFirstChar() const
{
	const UniChar* end = fStart + fLength;
	const UniChar* p = fTokenStart;
	while (p < end && *p <= 0x20)
		++p;
	return p < end ? VString(p, 1) : VString();
}

void VJSONImporter::_ThrowErrorMalformed()
{
	// Where the offending token begins: lines are counted by whichever line end the text uses more, and a
	// position counts from the end of the last line end (after the LF of a CR LF pair).
	const UniChar* end = fStart + fLength;
	const UniChar* at = fTokenStart;
	while (at < end && *at <= 0x20)
		++at;
	int32 lineFeeds = 0;
	int32 returns = 0;
	const UniChar* afterLastFeed = fStart;
	const UniChar* afterLastReturn = fStart;
	for (const UniChar* p = fStart; p < at; ++p)
	{
		if (*p == 0x0A)
		{
			++lineFeeds;
			afterLastFeed = p + 1;
		}
		else if (*p == 0x0D)
		{
			++returns;
			afterLastReturn = p + 1;
		}
	}
	const UniChar* lineStart = lineFeeds >= returns ? afterLastFeed : afterLastReturn;
	VErrorBase* error = new (std::nothrow) VErrorBase(VE_JSON_MALFORMED);
	if (error != nullptr)
	{
		VString source;
		if (!fSourceName.IsEmpty())
			source.AppendUniChars(fSourceName.GetCPointer(), fSourceName.GetLength()).AppendCString(", ");
		error->SetString(VString("source"), source);
		error->SetLong(VString("line"), 1 + (lineFeeds > returns ? lineFeeds : returns));
		error->SetLong(VString("position"), 1 + int32(at - lineStart));
	}
	PushError(error);
}

void VJSONImporter::_ThrowErrorInvalidToken(const VString& found, const char* expected)
{
	fError = VE_JSON_MALFORMED;
	if ((fOptions & kSilent) != 0)
		return;
	VErrorBase* error = new (std::nothrow) VErrorBase(found.IsEmpty() ? VE_JSON_UNEXPECTED_END : VE_JSON_INVALID_TOKEN);
	if (error != nullptr)
	{
		error->SetString(VString("found"), found);
		error->SetString(VString("expected"), VString(expected));
	}
	PushError(error);
	_ThrowErrorMalformed();
}

void VJSONImporter::_ThrowErrorUnterminated(const char* token)
{
	_ThrowErrorAtToken(VE_JSON_UNTERMINATED, token);
}

void VJSONImporter::_ThrowErrorExtraComma(const char* token)
{
	_ThrowErrorAtToken(VE_JSON_EXTRA_COMMA, token);
}

void VJSONImporter::_ThrowErrorAtToken(VError code, const char* token)
{
	fError = VE_JSON_MALFORMED;
	VErrorBase* error = new (std::nothrow) VErrorBase(code);
	if (error != nullptr)
		error->SetString(VString("token"), VString(token));
	PushError(error);
	_ThrowErrorMalformed();
}

void VJSONImporter::_FailForMemory(VError code)
{
	// code 0: the call that failed has already raised its own error.
	if (code != VE_OK)
		_ThrowError(code);
	if (fError == VE_OK)
		fError = code != VE_OK ? code : VE_MEMORY_FULL;
}

}  // namespace velk
