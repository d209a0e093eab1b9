// The text parser building JSON values: objects, arrays and scalars from the tokens its scanning reads
// (VJSONImporterScanning.cpp), dates recognised in strings, binary JSON embedded in Base64 replaced by its
// value, and the paths and lines of every property and element.
#include "kernel/json/VJSONImporter.h"

#include <cstring>
#include <iterator>
#include <new>

#include "files/IFile.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONNumberWords.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/values/VTime.h"

namespace velk {

using jsonwords::IsDigit;
using jsonwords::ReadNumberWord;

namespace {

// The cache slot of a name: its units four at a time, mixed by multiplication, then folded.
size_t NameCacheSlot(const UniChar* units, int32 length)
{
	uint64 hash = uint64(length) * 0x9E3779B97F4A7C15ull;
	int32 i = 0;
	for (; i + 4 <= length; i += 4)
	{
		uint64 four = 0;
		std::memcpy(&four, units + i, sizeof(four));
		hash = (hash ^ four) * 0xFF51AFD7ED558CCDull;
	}
	if (i < length)
	{
		uint64 rest = 0;
		std::memcpy(&rest, units + i, size_t(length - i) * sizeof(UniChar));
		hash = (hash ^ rest) * 0xFF51AFD7ED558CCDull;
	}
	return size_t(hash ^ (hash >> 29) ^ (hash >> 47));
}

// The emptied gathering list of this depth. The lists of all depths are set aside at once, so that the
// list of an outer container stays in place while inner ones are read. Null when memory is short.
template <class List>
List* ListForDepth(std::vector<List>& lists, uint32 depth)
{
	try
	{
		if (lists.capacity() == 0)
			lists.reserve(VJSONImporter::kMaxNestingDepth + 2);
		if (lists.size() <= depth)
			lists.resize(depth + 1);
	}
	catch (const std::bad_alloc&)
	{
		return nullptr;
	}
	lists[depth].clear();
	return &lists[depth];
}

}  // namespace

const VString VJSONImporter::sNameOfThePropertyWithPathsAndLines("__symbols");
const VString VJSONImporter::sLineKey("line");
const VString VJSONImporter::sOffsetKey("offset");
const VString VJSONImporter::sFakeArrayElementKey("____FakeArrayElement");

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
	if (fNames != nullptr)
	{
		for (size_t i = 0; i < kNameCacheSize; ++i)
			_ReleaseName(fNames[i]);
	}
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
// Values.

bool VJSONImporter::_EnterOutermostOrRefuse(uint32 depth)
{
	// The outermost container takes the bound anew, so that each parse measures the task it runs on.
	if (depth <= 1)
		fStackBound = VJSONStackBound();
	if (depth <= kMaxNestingDepth && fStackBound.HasRoom())
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
	VString& text = fScratch;
	text.Truncate(0);
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
				else
					_QuotedTokenToValue(text, word, out);
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
	if (locker != nullptr)
	{
		// A shared object takes each property as it comes, under its locker.
		VJSONObject* object = new (std::nothrow) VJSONObject(nullptr, nullptr, locker, false);
		if (object == nullptr)
		{
			_FailForMemory(VE_MEMORY_FULL);
			return;
		}
		out._AdoptObject(object);
		_ReadProperties(object, nullptr, depth);
	}
	else
	{
		// The properties are gathered in a list kept for this depth; the object is made once they are
		// known, however the loop ended, with room for them in its own block, and takes them over in one
		// change.
		std::vector<VJSONPropertyTable::Entry>* list = ListForDepth(fProperties, depth);
		if (list == nullptr)
		{
			_FailForMemory(VE_MEMORY_FULL);
			return;
		}
		std::vector<VJSONPropertyTable::Entry>& gathered = *list;
		_ReadProperties(nullptr, &gathered, depth);
		VJSONObject* object = VJSONObject::_NewWithRoom(nullptr, nullptr, gathered.size());
		if (object == nullptr)
		{
			gathered.clear();
			_FailForMemory(VE_OK);
			return;
		}
		out._AdoptObject(object);
		if (!_StoreProperties(*object, gathered))
			_FailForMemory(VE_OK);
		gathered.clear();
	}
	if (fError == VE_OK)
		fError = ReplaceEmbeddedBinary(out);
}

bool VJSONImporter::_StoreProperties(VJSONObject& object, std::vector<VJSONPropertyTable::Entry>& properties)
{
	if (properties.empty())
		return true;
	// A class with setters (none for plain objects) must see each store, in order; otherwise the new object
	// takes the properties over.
	const VJSONClass* theClass = object.GetClass();
	if (theClass == nullptr || !theClass->HasSetters())
		return object._SetNewOwnProperties(properties);
	bool stored = true;
	for (VJSONPropertyTable::Entry& property : properties)
		stored = stored && object.SetProperty(property.GetName(), property.fValue, nullptr);
	return stored;
}

void VJSONImporter::_ReadProperties(VJSONObject* object, std::vector<VJSONPropertyTable::Entry>* gathered, uint32 depth)
{
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
		Name name;
		if (!_NameText(scanned, word, name))
			break;
		// Given back on every way out unless the list or the object took it.
		struct StName
		{
			Name& fName;
			~StName() { _ReleaseName(fName); }
		} holding{name};
		if (!isString && (fOptions & kStrict) != 0)
		{
			_ThrowErrorInvalidToken(VString(name.fBuffer, name.fLength), "\"");
			break;
		}
		StPathUpdater pathUpdater(*this);
		if (fPathsLines != nullptr)
		{
			if (!fCurrentPath.IsEmpty() && (name.fLength == 0 || name.fBuffer[0] != u'['))
				fCurrentPath.AppendUniChar(u'.');
			fCurrentPath.AppendUniChars(name.fBuffer, name.fLength);
			_RecordPathLine(fCurrentPath, int32(fCursor - fLineStart) - name.fLength - 2);
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
		bool stored = false;
		if (gathered != nullptr)
		{
			try
			{
				gathered->emplace_back(name.fBuffer, name.fLength, name.fCapacity, std::move(value));
				name = Name();
				stored = true;
			}
			catch (const std::bad_alloc&)
			{
				_ThrowError(VE_MEMORY_FULL);
			}
		}
		else
		{
			stored = object->SetProperty(VString(VInlineString{name.fLength, name.fBuffer, name.fCapacity}), value, nullptr);
		}
		if (!stored)
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
}

void VJSONImporter::_ParseArray(VJSONValue& out, uint32 depth)
{
	if (!_EnterNesting(depth))
		return;
	VStorageLocker* locker = _GetLocker();
	if (fError != VE_OK)
		return;
	// The elements are gathered in a list kept for this depth, so that its room serves every array met there.
	std::vector<VJSONValue>* list = ListForDepth(fElements, depth);
	if (list == nullptr)
	{
		_FailForMemory(VE_MEMORY_FULL);
		return;
	}
	std::vector<VJSONValue>& gathered = *list;
	_ReadElements(gathered, depth);
	// The array is made once its elements are known, however the loop ended, with room for them in its
	// own block, and takes them over in one change.
	VJSONArray* array = VJSONArray::_NewWithRoom(locker, gathered.size());
	if (array == nullptr)
	{
		gathered.clear();
		_FailForMemory(VE_OK);
		return;
	}
	out._AdoptArray(array);
	if (!gathered.empty() && !array->_SwapNewValues(gathered))
		_FailForMemory(VE_OK);
	gathered.clear();
}

void VJSONImporter::_ReadElements(std::vector<VJSONValue>& elements, uint32 depth)
{
	bool first = true;
	int64 counter = 0;
	for (;;)
	{
		StPathUpdater pathUpdater(*this);
		VString& text = fScratch;
		text.Truncate(0);
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
			_QuotedTokenToValue(text, word, value);
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

void VJSONImporter::_QuotedTokenToValue(const VString& text, const Word& word, VJSONValue& out)
{
	const UniChar* units = word.fBegin != nullptr ? word.fBegin : text.GetCPointer();
	const int32 length = word.fBegin != nullptr ? int32(word.fEnd - word.fBegin) : text.GetLength();
	if ((fOptions & (kBangDates | kISODates)) != 0)
	{
		if (VString string; _TokenText(text, word, string))
			_QuotedToValue(string, out);
		return;
	}
	// Made at its exact size for the value alone, straight from the text or the scanned units.
	if (!out._SetStringFromUnits(units, length))
		_FailForMemory(VE_OK);
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

void VJSONImporter::_ReleaseName(Name& name)
{
	VString::ReleaseRetainedBuffer(name.fBuffer, name.fCapacity);
	name = Name();
}

bool VJSONImporter::_NameText(const VString& text, const Word& word, Name& out)
{
	const UniChar* units = word.fBegin != nullptr ? word.fBegin : text.GetCPointer();
	const int32 length = word.fBegin != nullptr ? int32(word.fEnd - word.fBegin) : text.GetLength();
	out = Name();
	if (length == 0)
		return true;
	// Objects of one document tend to repeat their names: a small cache lets them share one buffer
	// instead of making each anew. Without room for the cache names are simply made.
	if (fNames == nullptr)
		fNames.reset(new (std::nothrow) Name[kNameCacheSize]);
	Name* cached = nullptr;
	if (fNames != nullptr)
	{
		cached = &fNames[NameCacheSlot(units, length) % kNameCacheSize];
		if (cached->fLength == length && std::memcmp(cached->fBuffer, units, size_t(length) * sizeof(UniChar)) == 0)
		{
			VString::RetainRetainedBuffer(cached->fBuffer, cached->fCapacity);
			out = *cached;
			return true;
		}
	}
	UniChar* buffer = VString::NewCountedBuffer(units, length);
	if (buffer == nullptr)
	{
		_FailForMemory(VE_OK);
		return false;
	}
	out = Name{buffer, length, length};
	if (cached != nullptr)
	{
		_ReleaseName(*cached);
		VString::RetainRetainedBuffer(buffer, length);
		*cached = out;
	}
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


}  // namespace velk
