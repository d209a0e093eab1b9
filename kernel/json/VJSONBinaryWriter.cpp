#include "kernel/json/VJSONBinaryWriter.h"

#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONPropertyIterator.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/values/VTime.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

using Buffer = VJSONBinaryWriter::Buffer;

// A buffer that cannot grow fails the whole writing: a form cut short would read back as other data.
VError Appended(bool appended)
{
	if (appended)
		return VE_OK;
	_ThrowError(VE_MEMORY_FULL);
	return VE_MEMORY_FULL;
}

template <class T>
VError PutLittleEndian(Buffer& buffer, T value)
{
	uint8 bytes[sizeof(T)];
	for (size_t i = 0; i < sizeof(T); ++i)
		bytes[i] = uint8(uint64(value) >> (8 * i));
	return Appended(buffer.AddData(bytes, sizeof(T)));
}

VError PutTag(Buffer& buffer, uint8 tag)
{
	return Appended(buffer.AddData(&tag, 1));
}

VError PutUnits(Buffer& buffer, const UniChar* units, uint32 count)
{
	if constexpr (std::endian::native == std::endian::little)
		return Appended(buffer.AddData(units, uint64(count) * sizeof(UniChar)));
	for (uint32 i = 0; i < count; ++i)
	{
		if (VError error = PutLittleEndian<uint16>(buffer, units[i]); error != VE_OK)
			return error;
	}
	return VE_OK;
}

// Tag, u32 length and units: strings and references.
VError PutCountedText(Buffer& buffer, uint8 tag, const UniChar* units, int32 length)
{
	VError error = PutTag(buffer, tag);
	if (error == VE_OK)
		error = PutLittleEndian<uint32>(buffer, uint32(length));
	if (error == VE_OK)
		error = PutUnits(buffer, units, uint32(length));
	return error;
}

}  // namespace

const VString VJSONBinaryWriter::sEmbeddedPropertyName("__PRIVATE_BINARY_OBJECT");

VJSONBinaryWriter::VJSONBinaryWriter(uint32 options) : fOptions(options) {}

VJSONBinaryWriter::~VJSONBinaryWriter() = default;

VError VJSONBinaryWriter::StreamValue(const VJSONValue& value, Buffer& buffer)
{
	return _StreamValue(value, buffer, Step{kNoOwner, nullptr, 0}, 0);
}

VError VJSONBinaryWriter::StreamObject(const VJSONObject* object, Buffer& buffer)
{
	return _StreamObject(object, buffer, Step{kNoOwner, nullptr, 0}, 0);
}

VError VJSONBinaryWriter::StreamArray(const VJSONArray* array, Buffer& buffer)
{
	return _StreamArray(array, buffer, Step{kNoOwner, nullptr, 0}, 0);
}

void VJSONBinaryWriter::BuildPathPointerString(const PathPart* path, VString& out)
{
	std::vector<const PathPart*> steps;
	for (const PathPart* step = path; step != nullptr; step = step->fParent)
		steps.push_back(step);
	out = VString("#");
	for (auto step = steps.rbegin(); step != steps.rend(); ++step)
	{
		out.AppendUniChar(u'/');
		if ((*step)->fName == nullptr)
		{
			out.AppendULong8((*step)->fIndex);
			continue;
		}
		const VString& name = *(*step)->fName;
		const UniChar* units = name.GetCPointer();
		for (int32 pos = 0; pos < name.GetLength(); ++pos)
		{
			if (units[pos] == u'~')
				out.AppendUniChars(u"~0", 2);
			else if (units[pos] == u'/')
				out.AppendUniChars(u"~1", 2);
			else
				out.AppendUniChar(units[pos]);
		}
	}
}

VError VJSONBinaryWriter::_StreamValue(const VJSONValue& value, Buffer& buffer, const Step& step, uint32 depth)
{
	switch (value.GetType())
	{
		case JSON_null:
		case JSON_false:
		case JSON_true:
		case JSON_undefined:
			return PutTag(buffer, uint8(value.GetType()));
		case JSON_string:
		{
			int32 length = 0;
			const UniChar* units = value._GetStringUnits(length);
			return PutCountedText(buffer, JSON_string, units, length);
		}
		case JSON_number:
		{
			VError error = PutTag(buffer, JSON_number);
			if (error == VE_OK)
				error = PutLittleEndian<uint64>(buffer, std::bit_cast<uint64>(value.GetNumber()));
			return error;
		}
		case JSON_date:
		{
			VTime time;
			value.GetTime(time);
			VError error = PutTag(buffer, JSON_date);
			if (error == VE_OK)
				error = PutLittleEndian<uint64>(buffer, uint64(time.GetMilliseconds()));
			return error;
		}
		case JSON_object:
			return _StreamObject(value.GetObject(), buffer, step, depth);
		case JSON_array:
			return _StreamArray(value.GetArray(), buffer, step, depth);
		default:
			return VE_OK;
	}
}

VError VJSONBinaryWriter::_StreamArray(const VJSONArray* array, Buffer& buffer, const Step& step, uint32 depth)
{
	if (array == nullptr)
		return PutTag(buffer, JSON_null);
	bool referenced = false;
	size_t occurrence = 0;
	if (VError error = _CheckReference(VJSONValue(const_cast<VJSONArray*>(array)), array, buffer, step, referenced, occurrence);
		error != VE_OK || referenced)
		return error;
	if (VError error = _CheckNesting(depth); error != VE_OK)
		return error;
	std::vector<VJSONValue> values;
	if (!array->GetValues(values))
		return VE_MEMORY_FULL;
	// The count 0xFFFFFFFE reads back as undefined.
	if (values.size() >= 0xFFFFFFFEu)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	VError error = PutTag(buffer, JSON_array);
	if (error == VE_OK)
		error = PutLittleEndian<uint32>(buffer, uint32(values.size()));
	for (size_t index = 0; index < values.size() && error == VE_OK; ++index)
	{
		error = _StreamValue(values[index], buffer, Step{occurrence, nullptr, index}, depth + 1);
	}
	return error;
}

VError VJSONBinaryWriter::_StreamObject(const VJSONObject* object, Buffer& buffer, const Step& step, uint32 depth)
{
	if (object == nullptr)
		return PutTag(buffer, JSON_null);
	bool referenced = false;
	size_t occurrence = 0;
	if (VError error = _CheckReference(VJSONValue(const_cast<VJSONObject*>(object)), object, buffer, step, referenced, occurrence);
		error != VE_OK || referenced)
		return error;
	// Checked before a replacement is written too: an implementation may hand a fresh one at every level.
	if (VError error = _CheckNesting(depth); error != VE_OK)
		return error;
	IJSONObject* implementation = object->GetImplementation();
	if (implementation != nullptr)
	{
		VJSONValue replacement(const_cast<VJSONObject*>(object));
		implementation->IJSON_GetValueToWriteToBuffer(replacement);
		if (replacement.GetObject() != object)
			return _StreamValue(replacement, buffer, step, depth + 1);
	}
	VError error = PutTag(buffer, JSON_object);
	const uint32 signature = implementation != nullptr ? implementation->IJSON_GetBinarySignature() : 0;
	VJSONPropertyConstOrderedIterator property(object, signature != 0 ? kJSONOrderedOwnOnly : kJSONOrderedWithoutClassNames);
	for (; property.IsValid() && error == VE_OK; property.Next())
	{
		const VString& name = property.GetName();
		if (name.GetLength() > kMaxNameLength)
		{
			_ThrowError(VE_INVALID_PARAMETER, &name);
			return VE_INVALID_PARAMETER;
		}
		error = PutLittleEndian<uint16>(buffer, uint16(name.GetLength()));
		if (error == VE_OK)
			error = PutUnits(buffer, name.GetCPointer(), uint32(name.GetLength()));
		if (error == VE_OK)
			error = _StreamValue(property.GetValue(nullptr), buffer, Step{occurrence, &name, 0}, depth + 1);
	}
	if (error != VE_OK)
		return error;
	if (signature == 0)
	{
		// A class other than the plain "Object" of kind 0 is named by its namespace and name.
		const VJSONClass* theClass = object->GetClass();
		if (theClass == nullptr || implementation != nullptr
			|| (object->GetClassKind() == 0 && theClass->GetName().EqualToStringRaw(VString("Object"))))
			return PutLittleEndian<uint16>(buffer, kEndPlain);
		const VString& nameSpace = theClass->GetNameSpace();
		const VString& name = theClass->GetName();
		if (nameSpace.GetLength() > kMaxNameLength || name.GetLength() > kMaxNameLength)
		{
			_ThrowError(VE_INVALID_PARAMETER, &name);
			return VE_INVALID_PARAMETER;
		}
		error = PutLittleEndian<uint16>(buffer, kEndWithPayload);
		if (error == VE_OK)
			error = PutLittleEndian<uint32>(buffer, kClassSignature);
		if (error == VE_OK)
			error = PutLittleEndian<uint64>(buffer, 4 + 2 * uint64(nameSpace.GetLength() + name.GetLength()));
		for (const VString* text : {&nameSpace, &name})
		{
			if (error == VE_OK)
				error = PutLittleEndian<uint16>(buffer, uint16(text->GetLength()));
			if (error == VE_OK)
				error = PutUnits(buffer, text->GetCPointer(), uint32(text->GetLength()));
		}
		return error;
	}
	error = PutLittleEndian<uint16>(buffer, kEndWithPayload);
	if (error == VE_OK)
		error = PutLittleEndian<uint32>(buffer, signature);
	if (error != VE_OK)
		return error;
	uint64 payloadError = VE_OK;
	switch (implementation->IJSON_WriteToBuffer(buffer, &payloadError))
	{
		case eJSONStatusHandled:
			return VE_OK;
		case eJSONStatusNotHandled:
			return PutLittleEndian<uint64>(buffer, 0);
		default:
			return JSONFailureError(payloadError);
	}
}

VError VJSONBinaryWriter::_CheckReference(const VJSONValue& held, const void* container, Buffer& buffer,
	const Step& step, bool& referenced, size_t& occurrence)
{
	referenced = false;
	bool added = false;
	try
	{
		const auto found = fReferences.emplace(container, fOccurrences.size());
		added = found.second;
		if (!added)
		{
			referenced = true;
			VString pointer;
			_BuildPointer(found.first->second, pointer);
			return PutCountedText(buffer, kTagReference, pointer.GetCPointer(), pointer.GetLength());
		}
		occurrence = found.first->second;
		fOccurrences.push_back(Occurrence{step.fOwner, step.fName != nullptr ? *step.fName : VString(), step.fIndex,
			step.fName != nullptr});
		fHeld.push_back(held);
	}
	catch (const std::bad_alloc&)
	{
		if (added)
		{
			fReferences.erase(container);
			if (fOccurrences.size() > fHeld.size())
				fOccurrences.pop_back();
		}
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	return VE_OK;
}

void VJSONBinaryWriter::_BuildPointer(size_t occurrence, VString& out) const
{
	// The steps from the root down to the occurrence, linked as the path records the writing walked.
	std::vector<PathPart> steps;
	for (size_t at = occurrence; fOccurrences[at].fOwner != kNoOwner; at = fOccurrences[at].fOwner)
	{
		const Occurrence& step = fOccurrences[at];
		steps.push_back(PathPart{nullptr, step.fHasName ? &step.fName : nullptr, step.fIndex});
	}
	for (size_t i = steps.size(); i > 1; --i)
		steps[i - 2].fParent = &steps[i - 1];
	BuildPathPointerString(steps.empty() ? nullptr : &steps.front(), out);
}

VError VJSONBinaryWriter::_CheckNesting(uint32 depth) const
{
	// The text parser's bound: a deeper tree could not be read back, nor released on a small stack.
	if (depth >= VJSONImporter::kMaxNestingDepth || VTaskMgr::Get()->GetCurrentFreeStackSize() < kMinFreeStack)
	{
		_ThrowError(VE_STACK_OVERFLOW);
		return VE_STACK_OVERFLOW;
	}
	return VE_OK;
}

}  // namespace velk
