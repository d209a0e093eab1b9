#include "kernel/json/VJSONWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "files/IFile.h"
#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONTextAppend.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"

namespace velk {

namespace {

using jsontext::Append;
using jsontext::AppendASCII;

constexpr UniChar kComma = u',';

// Keeps a container on the writer's stack for the time it is written, whatever way the writing ends.
class StJSONWriterStackEntry
{
public:
	StJSONWriterStackEntry(std::vector<const void*>& stack, const void* container) : fStack(stack)
	{
		fStack.push_back(container);
	}
	~StJSONWriterStackEntry() { fStack.pop_back(); }
	StJSONWriterStackEntry(const StJSONWriterStackEntry&) = delete;
	StJSONWriterStackEntry& operator=(const StJSONWriterStackEntry&) = delete;

private:
	std::vector<const void*>& fStack;
};

// Raises the writer's level (and indentation) for the time a container's members are written.
class StJSONWriterLevel
{
public:
	explicit StJSONWriterLevel(VJSONWriter& writer) : fWriter(writer) { fWriter.IncrementLevel(); }
	~StJSONWriterLevel() { fWriter.DecrementLevel(); }
	StJSONWriterLevel(const StJSONWriterLevel&) = delete;
	StJSONWriterLevel& operator=(const StJSONWriterLevel&) = delete;

private:
	VJSONWriter& fWriter;
};

}  // namespace

VJSONWriter::VJSONWriter(VDBLanguageContext* context, uint32 options)
	: fContext(context), fOptions(options), fIndentUnit("\t"), fIndentation((options & kPRETTY) != 0 ? "\n" : "")
{
}

VJSONWriter::VJSONWriter(uint32 options) : VJSONWriter(nullptr, options) {}

VJSONWriter::~VJSONWriter() = default;

void VJSONWriter::IncrementLevel()
{
	++fLevel;
	if ((fOptions & kPRETTY) != 0)
		fIndentation.AppendUniChars(fIndentUnit.GetCPointer(), fIndentUnit.GetLength());
}

void VJSONWriter::DecrementLevel()
{
	if (fLevel > 0)
		--fLevel;
	if ((fOptions & kPRETTY) != 0 && fIndentation.GetLength() > 1)
		fIndentation.Truncate(fIndentation.GetLength() - fIndentUnit.GetLength(), false);
}

void VJSONWriter::InsertIndentString(VString& text) const
{
	if ((fOptions & kPRETTY) == 0)
		return;
	VString indented(fIndentation);
	if (Append(indented, text))
		text = std::move(indented);
}

void VJSONWriter::AppendIndentString(VString& text) const
{
	if ((fOptions & kPRETTY) != 0)
		Append(text, fIndentation);
}

VError VJSONWriter::StringifyValue(const VJSONValue& value, VString& out)
{
	try
	{
		return _WriteValue(value, out);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
}

VError VJSONWriter::StringifyObject(const VJSONObject* object, VString& out)
{
	try
	{
		return _WriteObject(object, out);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
}

VError VJSONWriter::StringifyArray(const VJSONArray* array, VString& out)
{
	try
	{
		return _WriteArray(array, out);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
}

VError VJSONWriter::_WriteValue(const VJSONValue& value, VString& out)
{
	switch (value.GetType())
	{
		case JSON_null:
		case JSON_undefined:
			out.FromCString("null");
			break;
		case JSON_false:
			out.FromCString("false");
			break;
		case JSON_true:
			out.FromCString("true");
			break;
		case JSON_string:
		{
			VString text;
			value.GetString(text);
			return text.GetJSONString(out, fOptions);
		}
		case JSON_number:
			VReal::RealToJSONString(value.GetNumber(), out);
			break;
		case JSON_object:
			return _WriteObject(value.GetObject(), out);
		case JSON_array:
			return _WriteArray(value.GetArray(), out);
		case JSON_date:
		{
			int16 year = 0, month = 0, day = 0;
			value.GetDate(&year, &month, &day);
			VTime time;
			if ((fOptions & kLOCAL_DATES) != 0)
				time.FromLocalTime(year, month, day, 0, 0, 0, 0);
			else
				time.FromUTCTime(year, month, day, 0, 0, 0, 0);
			// The time's text forms come with the international services; until then this answers velk 2.
			return time.GetJSONString(out, fOptions);
		}
		default:
			out.Clear();
			break;
	}
	return VE_OK;
}

bool VJSONWriter::_IsOnStack(const void* container) const
{
	return std::find(fStack.begin(), fStack.end(), container) != fStack.end();
}

bool VJSONWriter::_CountForCut(const VString& text)
{
	if ((fOptions & kCUT_LONG) == 0)
		return false;
	const bool last = fRunningLength >= kCutLength;
	fRunningLength += uint32(text.GetLength());
	return last;
}

VError VJSONWriter::_WriteArray(const VJSONArray* array, VString& out)
{
	if (array == nullptr)
	{
		out.FromCString("undefined");
		return VE_OK;
	}
	std::vector<VJSONValue> values;
	if (!array->GetValues(values))
		return VE_MEMORY_FULL;
	if (values.empty())
	{
		out.FromCString("[]");
		return VE_OK;
	}
	if (_IsOnStack(array))
	{
		_ThrowError(VE_JSON_CIRCULAR);
		return VE_JSON_CIRCULAR;
	}
	if (fStack.size() >= kMaxNestingDepth)
	{
		_ThrowError(VE_STACK_OVERFLOW);
		return VE_STACK_OVERFLOW;
	}

	StJSONWriterStackEntry entry(fStack, array);
	std::vector<VString> texts;
	bool cut = false;
	{
		StJSONWriterLevel level(*this);
		texts.reserve(values.size());
		for (const VJSONValue& element : values)
		{
			VString text;
			if (VError error = _WriteValue(element, text); error != VE_OK)
				return error;
			cut = _CountForCut(text);
			texts.push_back(std::move(text));
			if (cut)
				break;
		}
	}
	return _Join(texts, u'[', u']', cut, out);
}

VError VJSONWriter::_WriteObject(const VJSONObject* object, VString& out)
{
	if (object == nullptr)
	{
		out.FromCString("undefined");
		return VE_OK;
	}
	if (_IsOnStack(object))
	{
		if ((fOptions & kMARK_CIRCULAR) != 0)
		{
			out.FromCString("\"[circular]\"");
			return VE_OK;
		}
		_ThrowError(VE_JSON_CIRCULAR);
		return VE_JSON_CIRCULAR;
	}
	if ((fOptions & kWRITE_ONCE) != 0 && !fWritten.insert(object).second)
	{
		_ThrowError(VE_JSON_OBJECT_WRITTEN_TWICE);
		return VE_JSON_OBJECT_WRITTEN_TWICE;
	}
	if (fStack.size() >= kMaxNestingDepth)
	{
		_ThrowError(VE_STACK_OVERFLOW);
		return VE_STACK_OVERFLOW;
	}

	StJSONWriterStackEntry entry(fStack, object);
	if ((fOptions & kGENERIC_ONLY) != 0 && !object->IsGenericObject())
	{
		_ThrowError(VE_JSON_NOT_GENERIC_OBJECT);
		return VE_JSON_NOT_GENERIC_OBJECT;
	}
	if (IJSONObject* implementation = object->GetImplementation(); implementation != nullptr)
	{
		if ((fOptions & kREFUSE_BINARY) != 0 && implementation->IJSON_GetBinarySignature() != 0)
		{
			_ThrowError(VE_JSON_BINARY_OBJECT);
			return VE_JSON_BINARY_OBJECT;
		}
		uint64 implementationError = VE_OK;
		const EJSONStatus status = implementation->IJSON_Stringify(object, *this, out, &implementationError);
		if (status != eJSONStatusNotHandled)
		{
			// A failure the implementation recorded without a code is still a failure.
			if (status == eJSONStatusFailed && implementationError == VE_OK)
				implementationError = VE_UNKNOWN_ERROR;
			return implementationError;
		}
	}
	return _WriteProperties(object, out);
}

VError VJSONWriter::_WriteProperties(const VJSONObject* object, VString& out)
{
	// Own properties in insertion order with their stored values, then the names only the implementation
	// knows, read through the getters with the writer's context. Class getters come with the classes.
	std::vector<VString> names;
	if (!object->GetPropertyNamesInOrder(names))
		return VE_MEMORY_FULL;
	const size_t ownCount = names.size();
	if (IJSONObject* implementation = object->GetImplementation(); implementation != nullptr)
	{
		std::vector<VString> implementationNames;
		if (implementation->IJSON_GetPropertyNames(implementationNames) == eJSONStatusHandled)
		{
			for (VString& name : implementationNames)
			{
				if (!object->HasOwnProperty(name))
					names.push_back(std::move(name));
			}
		}
	}
	if (names.empty())
	{
		out.FromCString("{}");
		return VE_OK;
	}
	std::vector<VString> texts;
	bool cut = false;
	{
		StJSONWriterLevel level(*this);
		texts.reserve(std::min<size_t>(names.size(), 100));
		const bool pretty = (fOptions & kPRETTY) != 0;
		for (size_t index = 0; index < names.size(); ++index)
		{
			const VString& name = names[index];
			VString text;
			if (VError error = name.GetJSONString(text, fOptions); error != VE_OK)
				return error;
			if (!AppendASCII(text, pretty ? ": " : ":"))
				return VE_STRING_ALLOC_FAILED;
			const VJSONValue value = index < ownCount ? object->GetOwnProperty(name) : object->GetProperty(name, fContext);
			VString valueText;
			if (VError error = _WriteValue(value, valueText); error != VE_OK)
				return error;
			if (!Append(text, valueText))
				return VE_STRING_ALLOC_FAILED;
			cut = _CountForCut(text);
			texts.push_back(std::move(text));
			if (cut)
				break;
		}
	}
	return _Join(texts, u'{', u'}', cut, out);
}

VError VJSONWriter::_Join(const std::vector<VString>& texts, UniChar open, UniChar close, bool cut, VString& out)
{
	const bool pretty = (fOptions & kPRETTY) != 0;
	const bool dots = cut && !fCut;
	int64 length = 1 + int64(texts.size()) - 1;
	for (const VString& text : texts)
		length += text.GetLength() + (pretty ? fIndentation.GetLength() + fIndentUnit.GetLength() : 0);
	if (pretty)
		length += fIndentation.GetLength();
	if (!cut)
		length += 1;
	if (dots)
		length += 3;
	if (length >= 0x7FFFFFFF)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return VE_STRING_ALLOC_FAILED;
	}

	VString joined;
	UniChar* units = joined.GetCPointerForWrite(int32(length));
	if (units == nullptr)
		return VE_STRING_ALLOC_FAILED;
	UniChar* cursor = units;
	auto put = [&cursor](const VString& text) {
		std::memcpy(cursor, text.GetCPointer(), size_t(text.GetLength()) * sizeof(UniChar));
		cursor += text.GetLength();
	};
	*cursor++ = open;
	for (size_t index = 0; index < texts.size(); ++index)
	{
		if (index > 0)
			*cursor++ = kComma;
		if (pretty)
		{
			// Called once the level is lowered: the members' indentation is one unit deeper.
			put(fIndentation);
			put(fIndentUnit);
		}
		put(texts[index]);
	}
	if (pretty)
		put(fIndentation);
	if (!cut)
		*cursor++ = close;
	if (dots)
	{
		for (int dot = 0; dot < 3; ++dot)
			*cursor++ = u'.';
		fCut = true;
	}
	joined.Validate(int32(cursor - units));
	out = std::move(joined);
	return VE_OK;
}

VError VJSONWriter::StringifyValueToFile(IFile* file, const VJSONValue& value, uint32 options)
{
	if (file == nullptr)
		return VE_OK;
	VJSONWriter writer(options);
	VString text;
	// A failed write leaves no complete document: the file keeps what it had.
	if (VError error = writer.StringifyValue(value, text); error != VE_OK)
		return error;
	return file->SetContentAsString(text, 7, eCRM_NONE, false);
}

}  // namespace velk
