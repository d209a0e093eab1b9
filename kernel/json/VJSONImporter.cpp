#include "kernel/json/VJSONImporter.h"

#include "kernel/values/VNumberText.h"
#include "kernel/values/VTime.h"

#include <charconv>
#include <cstring>
#include <iterator>
#include <new>
#include <system_error>

#include "containers/VValueBag.h"
#include "files/IFile.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {

const VString VJSONImporter::sNameOfThePropertyWithPathsAndLines("__symbols");
const VString VJSONImporter::sLineKey("line");
const VString VJSONImporter::sOffsetKey("offset");
const VString VJSONImporter::sFakeArrayElementKey("____FakeArrayElement");

namespace {

constexpr UniChar kMinusSign = 0x2212;

constexpr const char* kExpectedValue = "\" 0-9 null true false { [";
constexpr const char* kExpectedElement = "\" 0-9 null true false { [ ]";
constexpr const char* kExpectedNumber = "+- 0-9 eE";

bool IsDigit(UniChar c) { return c >= u'0' && c <= u'9'; }

// The units below 0x80 that end a bare word: blanks and controls, the double quote and the punctuation.
struct WordEnds
{
	constexpr WordEnds() : fUnits()
	{
		for (int c = 0; c < 0x80; ++c)
			fUnits[c] = c < 0x21 || c == '"' || c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}';
	}
	bool fUnits[0x80];
};
constexpr WordEnds kWordEnds;

inline bool EndsBareWord(UniChar c)
{
	return c < 0x80 && kWordEnds.fUnits[c];
}

// The number grammar of a bare word: optional '-', then '0' alone or digits (none required), optional '.'
// with at least one digit, optional exponent with a sign ('+', '-' or U+2212) and at least one digit.
bool IsNumberWord(const UniChar* p, const UniChar* end)
{
	if (p < end && *p == u'-')
		++p;
	if (p < end && *p == u'0')
		++p;
	else
		while (p < end && IsDigit(*p))
			++p;
	if (p < end && *p == u'.')
	{
		++p;
		if (p == end || !IsDigit(*p))
			return false;
		while (p < end && IsDigit(*p))
			++p;
	}
	if (p < end && (*p == u'e' || *p == u'E'))
	{
		++p;
		if (p < end && (*p == u'+' || *p == u'-' || *p == kMinusSign))
			++p;
		if (p == end || !IsDigit(*p))
			return false;
		while (p < end && IsDigit(*p))
			++p;
	}
	return p == end;
}

// The real value of a word that passed IsNumberWord. The conversion knows only ASCII signs, so the
// typographic minus of an exponent is read as '-': 1e−2 is 0.01.
double WordToReal(const VString& word)
{
	char digits[64];
	const int32 length = word.GetLength();
	if (length >= int32(sizeof(digits)))
	{
		VString copy(word);
		for (int32 pos = 1; pos <= copy.GetLength(); ++pos)
			if (copy.GetUniChar(pos) == kMinusSign)
				copy.SetUniChar(pos, u'-');
		return copy.GetReal();
	}
	const UniChar* units = word.GetCPointer();
	for (int32 i = 0; i < length; ++i)
		digits[i] = units[i] == kMinusSign ? '-' : char(units[i]);
	digits[length] = 0;
	return VString(digits).GetReal();
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
										1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads the number grammar (IsNumberWord) from begin for as long as it goes, up to end at most: false when
// it fails on the way, else true with stop just after the number and its real value in out. The value is
// the correctly rounded double, as WordToReal gives: exactly from the digits when they and the power of ten
// both fit a double (one correctly rounded operation), else from the ASCII text.
bool ReadNumber(const UniChar* begin, const UniChar* end, double& out, const UniChar*& stop)
{
	const UniChar* p = begin;
	const bool negative = p < end && *p == u'-';
	if (negative)
		++p;
	// Up to 19 digits fit the mantissa; with more it is not used.
	uint64 mantissa = 0;
	int32 digits = 0;
	if (p < end && *p == u'0')
	{
		++p;
		digits = 1;
	}
	else
	{
		for (; p < end && IsDigit(*p); ++p, ++digits)
			mantissa = mantissa * 10 + uint64(*p - u'0');
	}
	int32 exponent = 0;
	if (p < end && *p == u'.')
	{
		++p;
		if (p == end || !IsDigit(*p))
			return false;
		for (; p < end && IsDigit(*p); ++p, ++digits, --exponent)
			mantissa = mantissa * 10 + uint64(*p - u'0');
	}
	if (p < end && (*p == u'e' || *p == u'E'))
	{
		++p;
		bool negativeExponent = false;
		if (p < end && (*p == u'+' || *p == u'-' || *p == kMinusSign))
			negativeExponent = *p++ != u'+';
		if (p == end || !IsDigit(*p))
			return false;
		int32 written = 0;
		for (; p < end && IsDigit(*p); ++p)
		{
			if (written < 100000)
				written = written * 10 + int32(*p - u'0');
		}
		exponent += negativeExponent ? -written : written;
	}
	stop = p;
	end = p;
	if (digits > 0 && digits <= 19 && mantissa <= (uint64(1) << 53) && exponent >= -22 && exponent <= 22)
	{
		double value = double(mantissa);
		value = exponent < 0 ? value / kExactPowersOfTen[-exponent] : value * kExactPowersOfTen[exponent];
		out = negative ? -value : value;
		return true;
	}
	const bool anyDigit = digits > 0;
	char ascii[64];
	const size_t length = size_t(end - begin);
	if (anyDigit && length < sizeof(ascii))
	{
		for (size_t i = 0; i < length; ++i)
			ascii[i] = begin[i] == kMinusSign ? '-' : char(begin[i]);
		double value = 0.0;
		const std::from_chars_result read = std::from_chars(ascii, ascii + length, value);
		if (read.ec == std::errc() && read.ptr == ascii + length)
		{
			out = value;
			return true;
		}
	}
	// A lone sign, a very long word, or a value beyond the range of doubles: the string's own conversion.
	out = WordToReal(VString(begin, int32(length)));
	return true;
}

// The real value of a whole bare word that follows the number grammar; false when it does not.
bool ReadNumberWord(const UniChar* begin, const UniChar* end, double& out)
{
	const UniChar* stop = nullptr;
	double value = 0.0;
	if (!ReadNumber(begin, end, value, stop) || stop != end)
		return false;
	out = value;
	return true;
}

// An integer word that fits in 64 bits, read exactly; false for anything else (points, exponents,
// overflow), which the caller reads as a real.
bool WordToLong8(const VString& word, int64& out)
{
	const UniChar* p = word.GetCPointer();
	const UniChar* end = p + word.GetLength();
	const bool negative = p < end && *p == u'-';
	if (negative)
		++p;
	if (p == end)
		return false;
	uint64 magnitude = 0;
	const uint64 limit = negative ? uint64(INT64_MAX) + 1 : uint64(INT64_MAX);
	for (; p < end; ++p)
	{
		if (!IsDigit(*p))
			return false;
		const uint64 digit = uint64(*p - u'0');
		if (magnitude > (limit - digit) / 10)
			return false;
		magnitude = magnitude * 10 + digit;
	}
	out = negative ? int64(0 - magnitude) : int64(magnitude);
	return true;
}

// Errors are made with new (std::nothrow): when even that fails there is nowhere to say so.
void PushError(VErrorBase* error)
{
	if (error != nullptr)
		VTask::PushRetainedError(error);
}

}  // namespace

VJSONImporter::VJSONImporter(const VString& text, uint32 options)
	: fText(text)
	, fOptions(options)
	, fLength(0)
	, fNonAmbiguousDates((options & kNonAmbiguousDates) != 0)
{
	if (fText.GetLength() != text.GetLength())
		_FailForMemory(VE_STRING_ALLOC_FAILED);
	fLength = fText.GetLength();
	fStart = fText.GetCPointer();
	fCursor = fStart;
	fTokenStart = fStart;
	fLineStart = fStart;
	if (fStart == nullptr)
	{
		// A text without a buffer reads as empty.
		static const UniChar kEmpty = 0;
		fStart = fCursor = fTokenStart = fLineStart = &kEmpty;
		fLength = 0;
	}
	if ((options & kPathsAndLines) != 0)
	{
		fPathsLines = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
		if (fPathsLines == nullptr)
			_FailForMemory(VE_MEMORY_FULL);
	}
}

VJSONImporter::~VJSONImporter()
{
	if (fLockerInUse)
		fLocker->EndUse();
	if (fPathsLines != nullptr)
		fPathsLines->Release();
}

VError VJSONImporter::Parse(VJSONValue& out)
{
	if (fError != VE_OK)
	{
		out.SetUndefined();
		return fError;
	}
	_ParseValue(out, 0);
	if (out.IsObject())
		SetPathLineForEncompasingObject();
	return fError;
}

VError VJSONImporter::ParseString(const VString& text, VJSONValue& out, uint32 options)
{
	VJSONImporter importer(text, options);
	return importer.Parse(out);
}

VError VJSONImporter::ParseFile(IFile* file, VJSONValue& out, uint32 options)
{
	if (file == nullptr)
	{
		out.SetUndefined();
		return VE_OK;
	}
	const VString path = file->GetPathWithFileSystem();
	VString text;
	const VError error = file->GetContentAsString(text, 7, eCRM_NONE);
	if (error != VE_OK)
		return error;
	VJSONImporter importer(text, options);
	importer.SetSourceName(path);
	return importer.Parse(out);
}

// ---------------------------------------------------------------------------------------------------
// Tokens.

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
				const UniChar* p = fCursor;
				while (p < end && *p != u'"' && *p != u'\\' && *p != 0 && *p != 0x0A && *p != 0x0D)
					++p;
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
		while (fCursor < end && *fCursor != u'"' && *fCursor != u'\\' && *fCursor != 0 && *fCursor != 0x0A && *fCursor != 0x0D)
			++fCursor;
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

// ---------------------------------------------------------------------------------------------------
// Values.

bool VJSONImporter::_EnterNesting(uint32 depth)
{
	if (depth <= kMaxNestingDepth)
		return true;
	_ThrowError(VE_STACK_OVERFLOW);
	_ThrowErrorMalformed();
	fError = VE_JSON_MALFORMED;
	return false;
}

VStorageLocker* VJSONImporter::_GetLocker()
{
	if ((fOptions & kShared) == 0)
		return nullptr;
	if (!fLocker)
	{
		VStorageLocker* locker = new (std::nothrow) VStorageLocker();
		if (locker == nullptr)
		{
			_FailForMemory(VE_MEMORY_FULL);
			return nullptr;
		}
		fLocker.Adopt(locker);
		// The importer fills the shared containers, so it is the locker's user until it goes.
		fLockerInUse = fLocker->Use();
	}
	return fLocker.Get();
}

namespace {

// An object holding binary JSON in Base64 under "__PRIVATE_BINARY_OBJECT" stands for the value written
// there; an error of the binary form becomes the parse's error.
VError ReplaceEmbeddedBinary(VJSONValue& out)
{
	const VJSONObject* object = out.GetObject();
	if (object == nullptr)
		return VE_OK;
	const VJSONValue embedded = object->GetProperty(VJSONBinaryWriter::sEmbeddedPropertyName);
	if (!embedded.IsString())
		return VE_OK;
	VJSONValue value;
	bool decoded = false;
	const VError error = VJSONBinaryImporter::GetValueFromBase64(embedded.GetString(), value, decoded);
	if (error == VE_OK && decoded)
		out = std::move(value);
	return error;
}

}  // namespace

void VJSONImporter::_ParseValue(VJSONValue& out, uint32 parentDepth)
{
	out.SetUndefined();
	out.TouchStamp();
	VString text;
	bool isString = false;
	Word word;
	const JsonToken token = _ScanToken(&text, &isString, &word);
	if (fError == VE_OK)
	{
		switch (token)
		{
			case jsonBeginObject:
				_ParseObject(out, parentDepth + 1);
				break;
			case jsonBeginArray:
				_ParseArray(out, parentDepth + 1);
				break;
			case jsonString:
				if (!isString)
					_WordToValue(word, out, kExpectedValue);
				else if (VString string; _TokenText(text, word, string))
					_QuotedToValue(string, out);
				break;
			default:
				_ThrowErrorInvalidToken(_TokenToString(token), kExpectedValue);
				break;
		}
	}
	if (fError != VE_OK && (fOptions & kUndefinedOnError) != 0)
		out.SetUndefined();
}

void VJSONImporter::_ParseObject(VJSONValue& out, uint32 depth)
{
	if (!_EnterNesting(depth))
		return;
	VStorageLocker* locker = _GetLocker();
	if (fError != VE_OK)
		return;
	VJSONObject* object = new (std::nothrow) VJSONObject(nullptr, nullptr, locker, false);
	if (object == nullptr)
	{
		_FailForMemory(VE_MEMORY_FULL);
		return;
	}
	out.SetObject(object);
	object->Release();

	bool first = true;
	for (;;)
	{
		VString scanned;
		bool isString = false;
		Word word;
		JsonToken token = _ScanToken(&scanned, &isString, &word);
		if (fError != VE_OK)
			break;
		if (token == jsonEndObject)
		{
			if (!first)
				_ThrowErrorExtraComma("}");
			break;
		}
		if (token != jsonString)
		{
			_ThrowErrorInvalidToken(_TokenToString(token), first ? "\" }" : "\"");
			break;
		}
		VString name;
		if (!_NameText(scanned, word, name))
			break;
		if (!isString && (fOptions & kStrict) != 0)
		{
			_ThrowErrorInvalidToken(name, "\"");
			break;
		}
		StPathUpdater pathUpdater(*this);
		if (fPathsLines != nullptr)
		{
			if (!fCurrentPath.IsEmpty() && name.GetUniChar(1) != u'[')
				fCurrentPath.AppendUniChar(u'.');
			fCurrentPath.AppendUniChars(name.GetCPointer(), name.GetLength());
			_RecordPathLine(fCurrentPath, int32(fCursor - fLineStart) - name.GetLength() - 2);
		}
		token = _NextPunctuation();
		if (fError != VE_OK)
			break;
		if (token != jsonAssigne)
		{
			_ThrowErrorInvalidToken(_GetStartTokenFirstChar(), ":");
			break;
		}
		VJSONValue value;
		_ParseValue(value, depth);
		if (fError != VE_OK)
			break;
		if (!object->SetProperty(name, value, nullptr))
		{
			_FailForMemory(VE_OK);
			break;
		}
		VString found;
		token = _NextPunctuation(&found);
		if (fError != VE_OK || token == jsonEndObject)
			break;
		if (token != jsonSeparator)
		{
			_ThrowErrorInvalidToken(token == jsonString ? found : _TokenToString(token), "} ,");
			break;
		}
		first = false;
	}
	if (fError == VE_OK)
		fError = ReplaceEmbeddedBinary(out);
}

void VJSONImporter::_ParseArray(VJSONValue& out, uint32 depth)
{
	if (!_EnterNesting(depth))
		return;
	VStorageLocker* locker = _GetLocker();
	if (fError != VE_OK)
		return;
	VJSONArray* array = new (std::nothrow) VJSONArray(locker);
	if (array == nullptr)
	{
		_FailForMemory(VE_MEMORY_FULL);
		return;
	}
	out.SetArray(array);
	array->Release();

	// The elements are gathered in a list kept for this depth, so that its room serves every array met
	// there, and handed to the array in one change, at their exact count, when the loop ends, however it
	// ends. The lists of all depths are set aside at once: the list of an outer array stays in place while
	// inner ones are read.
	try
	{
		if (fElements.capacity() == 0)
			fElements.reserve(kMaxNestingDepth + 2);
		if (fElements.size() <= depth)
			fElements.resize(depth + 1);
	}
	catch (const std::bad_alloc&)
	{
		_FailForMemory(VE_MEMORY_FULL);
		return;
	}
	std::vector<VJSONValue>& gathered = fElements[depth];
	gathered.clear();
	_ReadElements(gathered, depth);
	if (gathered.empty())
		return;
	try
	{
		std::vector<VJSONValue> elements(std::make_move_iterator(gathered.begin()), std::make_move_iterator(gathered.end()));
		gathered.clear();
		if (!array->SwapValues(elements))
			_FailForMemory(VE_OK);
	}
	catch (const std::bad_alloc&)
	{
		// No room for the exact list: what can be kept is stored one element at a time.
		for (const VJSONValue& element : gathered)
		{
			if (!array->Push(element))
				break;
		}
		gathered.clear();
		_FailForMemory(VE_MEMORY_FULL);
	}
}

void VJSONImporter::_ReadElements(std::vector<VJSONValue>& elements, uint32 depth)
{
	bool first = true;
	int64 counter = 0;
	for (;;)
	{
		StPathUpdater pathUpdater(*this);
		VString text;
		bool isString = false;
		Word word;
		JsonToken token = _ScanToken(&text, &isString, &word);
		if (fError != VE_OK)
			break;
		if (fPathsLines != nullptr)
		{
			fCurrentPath.AppendUniChar(u'[').AppendLong8(counter++).AppendUniChar(u']');
			if (token == jsonBeginObject || token == jsonBeginArray)
				_RecordPathLine(fCurrentPath, int32(fCursor - fLineStart) - 1);
			else if (token == jsonString)
				_RecordPathLine(fCurrentPath, int32(fCursor - fLineStart)
						- (word.fBegin == nullptr ? text.GetLength() : int32(word.fEnd - word.fBegin)) - (isString ? 2 : 0));
		}
		if (token == jsonEndArray)
		{
			if (!first)
				_ThrowErrorExtraComma("]");
			break;
		}
		VJSONValue value;
		if (token == jsonBeginObject)
			_ParseObject(value, depth + 1);
		else if (token == jsonBeginArray)
			_ParseArray(value, depth + 1);
		else if (token == jsonString && !isString)
			_WordToValue(word, value, kExpectedElement);
		else if (token == jsonString)
		{
			if (VString string; _TokenText(text, word, string))
				_QuotedToValue(string, value);
		}
		else
			_ThrowErrorInvalidToken(_TokenToString(token), first ? kExpectedElement : kExpectedValue);
		if (fError != VE_OK)
			break;
		try
		{
			elements.push_back(std::move(value));
		}
		catch (const std::bad_alloc&)
		{
			_FailForMemory(VE_MEMORY_FULL);
			break;
		}
		token = _NextPunctuation();
		if (fError != VE_OK || token == jsonEndArray)
			break;
		if (token != jsonSeparator)
		{
			_ThrowErrorInvalidToken(_GetStartTokenFirstChar(), "] ,");
			break;
		}
		first = false;
	}
}

void VJSONImporter::_QuotedToValue(const VString& text, VJSONValue& out) const
{
	if ((fOptions & (kBangDates | kISODates)) != 0)
	{
		VTime time;
		bool isDate = false;
		if ((fOptions & kBangDates) != 0)
		{
			const int32 length = text.GetLength();
			const UniChar* units = text.GetCPointer();
			if (fNonAmbiguousDates)
			{
				isDate = text.IsNonAmbigousDate() && time.FromXMLString(text);
			}
			else if (length >= 4 && units[0] == u'!' && units[1] == u'!' && units[length - 2] == u'!'
				&& units[length - 1] == u'!')
			{
				isDate = time.FromXMLString(VString(units + 2, length - 4));
			}
		}
		if (!isDate && (fOptions & kISODates) != 0 && text.IsISODate())
			isDate = time.FromXMLString(text);
		if (isDate)
		{
			out.SetTime(time);
			return;
		}
	}
	out.SetString(text);
}

void VJSONImporter::_StringToValue(const VString& text, bool isQuoted, VJSONValue& out, const char* expected)
{
	if (isQuoted)
	{
		_QuotedToValue(text, out);
		return;
	}
	Word word;
	word.fBegin = text.GetCPointer();
	word.fEnd = word.fBegin + text.GetLength();
	_WordToValue(word, out, expected);
}

bool VJSONImporter::_WordText(const Word& word, VString& out)
{
	const int32 length = int32(word.fEnd - word.fBegin);
	VString text(word.fBegin, length);
	if (text.GetLength() != length)
	{
		_FailForMemory(VE_STRING_ALLOC_FAILED);
		return false;
	}
	out = std::move(text);
	return true;
}

bool VJSONImporter::_TokenText(const VString& text, const Word& word, VString& out)
{
	if (word.fBegin == nullptr)
	{
		out = text;
		return true;
	}
	return _WordText(word, out);
}

bool VJSONImporter::_NameText(const VString& text, const Word& word, VString& out)
{
	if (word.fBegin == nullptr)
	{
		out = text;
		return true;
	}
	// Objects of one document tend to repeat their names: a small cache lets them share one buffer
	// instead of making each anew. Without room for the cache names are simply made.
	if (fNames == nullptr)
		fNames.reset(new (std::nothrow) VString[kNameCacheSize]);
	if (fNames == nullptr)
		return _WordText(word, out);
	const size_t length = size_t(word.fEnd - word.fBegin);
	uint32 hash = 2166136261u;
	for (const UniChar* p = word.fBegin; p < word.fEnd; ++p)
		hash = (hash ^ *p) * 16777619u;
	VString& cached = fNames[(hash ^ (hash >> 16)) % kNameCacheSize];
	if (size_t(cached.GetLength()) == length && length > 0
		&& std::memcmp(cached.GetCPointer(), word.fBegin, length * sizeof(UniChar)) == 0)
	{
		out = cached;
		return true;
	}
	if (!_WordText(word, out))
		return false;
	cached = out;
	return true;
}

void VJSONImporter::_WordToValue(const Word& word, VJSONValue& out, const char* expected)
{
	const UniChar* p = word.fBegin;
	const int32 length = int32(word.fEnd - p);
	if (word.fIsNumber)
	{
		out.SetNumber(word.fNumber);
		return;
	}
	const UniChar first = length > 0 ? *p : 0;
	VString text;
	if (first == u'-' || IsDigit(first))
	{
		double number = 0.0;
		if (ReadNumberWord(p, word.fEnd, number))
			out.SetNumber(number);
		else if (_WordText(word, text))
			_ThrowErrorInvalidToken(text, kExpectedNumber);
		return;
	}
	auto is = [p, length](const char16_t* literal, int32 literalLength) {
		return length == literalLength && std::memcmp(p, literal, size_t(length) * sizeof(UniChar)) == 0;
	};
	if (is(u"false", 5))
		out.SetBool(false);
	else if (is(u"true", 4))
		out.SetBool(true);
	else if (is(u"null", 4))
		out.SetNull();
	else if (!_WordText(word, text))
		return;
	else if ((fOptions & kStrict) != 0)
		_ThrowErrorInvalidToken(text, expected);
	else
		out.SetString(text);
}

// ---------------------------------------------------------------------------------------------------
// Value bags.

VError VJSONImporter::JSONObjectToBag(VValueBag& bag)
{
	if (fError != VE_OK)
		return fError;
	if (fNestingDepth == 0)
	{
		VString text;
		const JsonToken token = _ScanToken(&text, nullptr);
		if (fError != VE_OK)
			return fError;
		if (token != jsonBeginObject)
		{
			_ThrowErrorInvalidToken(token == jsonString ? text : _TokenToString(token), "{");
			return fError;
		}
	}
	return _ObjectToBag(bag);
}

VError VJSONImporter::_ObjectToBag(VValueBag& bag)
{
	if (!_EnterNesting(fNestingDepth + 1))
		return fError;
	bool first = true;
	for (;;)
	{
		VString name;
		bool isString = false;
		JsonToken token = _ScanToken(&name, &isString);
		if (fError != VE_OK || token == jsonNone || token == jsonEndObject)
			break;
		if (token != jsonString)
		{
			_ThrowErrorInvalidToken(_TokenToString(token), first ? "\" }" : "\"");
			break;
		}
		token = _ScanToken(nullptr, nullptr);
		if (fError != VE_OK)
			break;
		if (token != jsonAssigne)
		{
			_ThrowErrorInvalidToken(_GetStartTokenFirstChar(), ":");
			break;
		}
		VString text;
		token = _ScanToken(&text, &isString);
		if (fError != VE_OK)
			break;
		if (token == jsonBeginObject || token == jsonBeginArray)
		{
			const bool isObject = token == jsonBeginObject;
			// An object is one child bag; an array one child bag per element, all under the name.
			bool more = true;
			while (more && fError == VE_OK)
			{
				bool childIsObject = isObject;
				VString elementText;
				bool elementQuoted = false;
				if (!isObject)
				{
					token = _ScanToken(&elementText, &elementQuoted);
					if (fError != VE_OK || token == jsonEndArray || token == jsonNone)
						break;
					if (token == jsonSeparator)
						continue;
					if (token != jsonBeginObject && token != jsonString)
					{
						_ThrowErrorInvalidToken(_TokenToString(token), "\" 0-9 null true false {");
						break;
					}
					childIsObject = token == jsonBeginObject;
				}
				VValueBag* child = new (std::nothrow) VValueBag();
				if (child == nullptr)
				{
					_FailForMemory(VE_MEMORY_FULL);
					break;
				}
				if (isObject)
					child->SetBool("____objectunic", true);
				if (childIsObject)
				{
					++fNestingDepth;
					_ObjectToBag(*child);
					--fNestingDepth;
				}
				else
				{
					_SetBagAttribute(*child, sFakeArrayElementKey, elementText, elementQuoted);
				}
				if (!bag.AddElement(StPackedDictionaryKey(name), child) && fError == VE_OK)
					_FailForMemory(VE_OK);
				child->Release();
				more = !isObject;
			}
		}
		else if (token == jsonString)
		{
			if (name.EqualToUSASCIICString("__CDATA"))
			{
				if (!bag.SetString(VValueBag::CDataAttributeName(), text))
					_FailForMemory(VE_OK);
			}
			else if (isString && name.EqualToUSASCIICString("__PRIVATE_BINARY_OBJECT"))
			{
				// Binary JSON embedded in Base64: the bag takes the value written there.
				VJSONValue value;
				bool decoded = false;
				VError error = VJSONBinaryImporter::GetValueFromBase64(text, value, decoded);
				if (error == VE_OK && decoded)
					error = bag.FromJSONValue(value);
				else if (error == VE_OK)
					_SetBagAttribute(bag, name, text, isString);
				if (error != VE_OK)
					fError = error;
			}
			else
			{
				_SetBagAttribute(bag, name, text, isString);
			}
		}
		else
		{
			_ThrowErrorInvalidToken(_TokenToString(token), kExpectedValue);
		}
		if (fError != VE_OK)
			break;
		VString found;
		token = _ScanToken(&found, nullptr);
		if (fError != VE_OK || token == jsonNone || token == jsonEndObject)
			break;
		if (token != jsonSeparator)
		{
			_ThrowErrorInvalidToken(token == jsonString ? found : _TokenToString(token), "} ,");
			break;
		}
		first = false;
	}
	return fError;
}

void VJSONImporter::_SetBagAttribute(VValueBag& bag, const VString& name, const VString& text, bool isQuoted)
{
	const StPackedDictionaryKey key(name);
	bool stored = true;
	if (isQuoted)
	{
		VTime time;
		const bool isDate = fNonAmbiguousDates ? text.IsNonAmbigousDate() : text.IsISODate();
		if (isDate && time.FromXMLString(text))
			stored = bag.SetTime(key, time);
		else
			stored = bag.SetString(key, text);
	}
	else if (text.EqualToUSASCIICString("null"))
	{
		stored = bag.SetString(key, VString(true));
	}
	else if (text.EqualToUSASCIICString("true") || text.EqualToUSASCIICString("false"))
	{
		stored = bag.SetBool(key, text.GetUniChar(1) == u't');
	}
	else
	{
		int64 integer = 0;
		if (WordToLong8(text, integer))
			stored = bag.SetLong8(key, integer);
		else if (IsNumberWord(text.GetCPointer(), text.GetCPointer() + text.GetLength()))
			stored = bag.SetReal(key, WordToReal(text));
		else if (text.FindUniChar(u'.') > 0)
			stored = bag.SetReal(key, text.GetReal());
		else
			stored = bag.SetLong8(key, text.GetLong8());
	}
	if (!stored)
		_FailForMemory(VE_OK);
}

// ---------------------------------------------------------------------------------------------------
// Paths and lines.

void VJSONImporter::_RecordPathLine(const VString& path, int32 offset)
{
	VJSONObject* entry = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
	if (entry == nullptr)
	{
		_FailForMemory(VE_MEMORY_FULL);
		return;
	}
	VJSONValue entryValue(entry);
	entry->Release();
	if (!entry->SetProperty(sLineKey, VJSONValue(double(fLine)), nullptr)
		|| !entry->SetProperty(sOffsetKey, VJSONValue(double(offset)), nullptr)
		|| !fPathsLines->SetProperty(path, entryValue, nullptr))
		_FailForMemory(VE_OK);
}

void VJSONImporter::SetPathLineForEncompasingObject()
{
	if (fPathsLines != nullptr)
		_RecordPathLine(VString("}"), int32(fCursor - fLineStart) - 1);
}

// ---------------------------------------------------------------------------------------------------
// Errors.

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
