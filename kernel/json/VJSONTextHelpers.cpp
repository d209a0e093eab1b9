#include "kernel/json/VJSONTextHelpers.h"

#include <new>

#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONTextAppend.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

namespace {

using jsontext::Append;
using jsontext::AppendUnit;

constexpr VError kMalformed = MakeVError(kVELK_SIGNATURE, 550);

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// VJSONArrayWriter

VJSONArrayWriter::VJSONArrayWriter() : fOwnText("["), fText(&fOwnText) {}

VJSONArrayWriter::VJSONArrayWriter(VString* text) : fText(text != nullptr ? text : &fOwnText) {}

void VJSONArrayWriter::_Reopen()
{
	if (!fClosed)
		return;
	fClosed = false;
	const int32 length = fText->GetLength();
	if (length == 0 || fText->GetUniChar(length) != u']')
		return;
	// "[]" opens as "["; an array with elements goes on after a "," so the next element stays apart.
	if (length == 2)
		fText->Truncate(1, false);
	else if (!fText->SetUniChar(length, u','))
		fClosed = true;
}

void VJSONArrayWriter::_AddPiece(const VString& piece)
{
	_Reopen();
	if (fClosed)
		return;
	if (fText->IsEmpty() && !Append(*fText, VString("[")))
		return;
	VString element(piece);
	if (!AppendUnit(element, u','))
		return;
	Append(*fText, element);
}

void VJSONArrayWriter::Add(const VValueSingle& value, uint32 options)
{
	VString text;
	if (value.GetJSONString(text, options) == VE_OK)
		_AddPiece(text);
}

void VJSONArrayWriter::AddString(const char* text, uint32 options)
{
	if (text != nullptr)
		AddString(VString(text), options);
}

void VJSONArrayWriter::AddString(const VString& text, uint32 options)
{
	VString json;
	if (text.GetJSONString(json, options | VString::kJSON_WITH_QUOTES) == VE_OK)
		_AddPiece(json);
}

void VJSONArrayWriter::AddBool(bool value)
{
	_AddPiece(VString(value ? "true" : "false"));
}

void VJSONArrayWriter::AddLong(int32 value)
{
	VString text;
	text.FromLong(value);
	_AddPiece(text);
}

void VJSONArrayWriter::AddReal(double value)
{
	VString text;
	VReal::RealToXMLString(value, text);
	_AddPiece(text);
}

void VJSONArrayWriter::AddLongs(const int32* values, int32 count)
{
	for (int32 index = 0; values != nullptr && index < count; ++index)
		AddLong(values[index]);
}

void VJSONArrayWriter::AddWords(const int16* values, int32 count)
{
	for (int32 index = 0; values != nullptr && index < count; ++index)
		AddLong(values[index]);
}

void VJSONArrayWriter::AddBools(const char* values, int32 count)
{
	for (int32 index = 0; values != nullptr && index < count; ++index)
		AddBool(values[index] != 0);
}

void VJSONArrayWriter::AddReals(const double* values, int32 count)
{
	for (int32 index = 0; values != nullptr && index < count; ++index)
		AddReal(values[index]);
}

void VJSONArrayWriter::AddStrings(const std::vector<VString>& values, uint32 options)
{
	for (const VString& value : values)
		AddString(value, options);
}

void VJSONArrayWriter::AddJSONArray(VJSONArrayWriter& other)
{
	if (&other == this)
		return;
	other.Close();
	_AddPiece(*other.fText);
	other.fText->FromCString("[]");
	other.fClosed = true;
}

void VJSONArrayWriter::Close()
{
	if (fClosed)
		return;
	const int32 length = fText->GetLength();
	if (length == 0)
	{
		fText->FromCString("[]");
	}
	else
	{
		// Only the separator after the last element goes: any other unit is part of the text.
		if (length > 1 && fText->GetUniChar(length) == u',')
			fText->Truncate(length - 1, false);
		fText->AppendUniChar(u']');
	}
	fClosed = true;
}

void VJSONArrayWriter::GetArray(VString& out, bool keep)
{
	Close();
	out = *fText;
	if (!keep)
	{
		fText->FromCString("[]");
		fClosed = true;
	}
}

// ---------------------------------------------------------------------------------------------------------
// VJSONArrayReader

VJSONArrayReader::VJSONArrayReader(const VString& text)
{
	FromJSONString(text);
}

void VJSONArrayReader::FromJSONString(const VString& text)
{
	fError = VE_OK;
	fElements.clear();
	fCount = 0;
	if (text.IsEmpty())
	{
		fError = kMalformed;
		return;
	}
	try
	{
		VJSONImporter importer(text, 0);
		uint64 error = VE_OK;
		VJSONImporter::JsonToken token;
		do
		{
			token = importer.GetNextJSONToken(&error);
		} while (error == VE_OK && token != VJSONImporter::jsonNone && token != VJSONImporter::jsonBeginArray);
		if (error == VE_OK && token == VJSONImporter::jsonNone)
			error = kMalformed;

		std::vector<VString> elements;
		while (error == VE_OK)
		{
			VString element;
			bool isString = false;
			token = importer.GetNextJSONToken(element, &isString, &error);
			if (error != VE_OK)
				break;
			if (token == VJSONImporter::jsonNone)
				error = kMalformed;
			else if (token == VJSONImporter::jsonEndArray)
				break;
			else if (token == VJSONImporter::jsonString)
				elements.push_back(std::move(element));
			else if (token == VJSONImporter::jsonBeginArray)
			{
				// A nested array is passed over whole.
				int32 depth = 1;
				while (depth > 0 && error == VE_OK)
				{
					token = importer.GetNextJSONToken(&error);
					if (token == VJSONImporter::jsonBeginArray)
						++depth;
					else if (token == VJSONImporter::jsonEndArray)
						--depth;
					else if (token == VJSONImporter::jsonNone && error == VE_OK)
						error = kMalformed;
				}
			}
		}
		if (error != VE_OK)
		{
			fError = error;
			return;
		}
		fElements = std::move(elements);
		fCount = int32(fElements.size());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		fError = VE_MEMORY_FULL;
		fElements.clear();
	}
}

int32 VJSONArrayReader::GetCountOfElements(uint64* error) const
{
	if (error != nullptr)
		*error = fError;
	return fCount;
}

uint64 VJSONArrayReader::ToArrayShort(int16* values) const
{
	if (fError == VE_OK && values != nullptr)
	{
		for (const VString& element : fElements)
			*values++ = element.GetWord();
	}
	return fError;
}

uint64 VJSONArrayReader::ToArrayLong(int32* values) const
{
	if (fError == VE_OK && values != nullptr)
	{
		for (const VString& element : fElements)
			*values++ = element.GetLong();
	}
	return fError;
}

uint64 VJSONArrayReader::ToArrayReal(double* values) const
{
	if (fError == VE_OK && values != nullptr)
	{
		for (const VString& element : fElements)
			*values++ = element.GetReal();
	}
	return fError;
}

uint64 VJSONArrayReader::ToArrayBool(char* values) const
{
	if (fError == VE_OK && values != nullptr)
	{
		const VString trueText("true");
		for (const VString& element : fElements)
			*values++ = element.EqualToString(trueText, false) ? 1 : 0;
	}
	return fError;
}

uint64 VJSONArrayReader::ToArrayString(std::vector<VString>& values, bool append) const
{
	if (fError != VE_OK)
		return fError;
	try
	{
		if (!append)
			values.clear();
		values.insert(values.end(), fElements.begin(), fElements.end());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	return fError;
}

// ---------------------------------------------------------------------------------------------------------
// VJSONSingleObjectWriter

VJSONSingleObjectWriter::VJSONSingleObjectWriter() : fText("{") {}

bool VJSONSingleObjectWriter::AddMember(const VString& name, const VValueSingle& value, uint32 options)
{
	VString valueText;
	if (value.GetJSONString(valueText, options) != VE_OK || name.IsEmpty() || name.IsNull())
		return false;
	// The name is escaped like any JSON string, so a quote or backslash in it cannot break the text.
	VString member;
	if (fCount > 0 && !AppendUnit(member, u','))
		return false;
	VString quotedName;
	if (name.GetJSONString(quotedName, VString::kJSON_WITH_QUOTES) != VE_OK || !Append(member, quotedName))
		return false;
	if (!AppendUnit(member, u':') || !Append(member, valueText))
		return false;

	VString text(fText);
	if (fClosed && text.GetLength() > 0 && text.GetUniChar(text.GetLength()) == u'}')
		text.Truncate(text.GetLength() - 1, false);
	if (!Append(text, member))
		return false;
	fText = std::move(text);
	fClosed = false;
	++fCount;
	return true;
}

void VJSONSingleObjectWriter::GetObject(VString& out)
{
	if (!fClosed && AppendUnit(fText, u'}'))
		fClosed = true;
	out = fText;
}

}  // namespace velk
