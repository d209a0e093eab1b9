#include "kernel/json/VJSONBinaryImporter.h"

#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONObjectFactory.h"
#include "kernel/json/VJSONPointerResolver.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProcess.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

template <class T>
T GetLittleEndian(const uint8* bytes)
{
	uint64 value = 0;
	for (size_t i = 0; i < sizeof(T); ++i)
		value |= uint64(bytes[i]) << (8 * i);
	return T(value);
}

// One text of a class reference: u16 length below 0x8000, then its units, taken only when it fits in
// the payload; the payload is passed over as far as it was read.
bool TakeClassText(const uint8*& payload, const uint8* end, VString& out)
{
	if (end - payload < 2)
		return false;
	const uint16 length = GetLittleEndian<uint16>(payload);
	if (length >= 0x8000 || size_t(end - payload - 2) < size_t(length) * sizeof(UniChar))
		return false;
	payload += 2;
	std::vector<UniChar> units(length);
	for (uint16 i = 0; i < length; ++i)
		units[i] = GetLittleEndian<uint16>(payload + 2 * size_t(i));
	out.FromUniString(units.data(), int32(length));
	payload += size_t(length) * sizeof(UniChar);
	return true;
}

}  // namespace

VJSONBinaryImporter::VJSONBinaryImporter(const void* data, size_t size, VJSONStamp* stamp)
	: fStamp(stamp),
	  fCursor(static_cast<const uint8*>(data)),
	  fStart(static_cast<const uint8*>(data)),
	  fEnd(data != nullptr ? static_cast<const uint8*>(data) + size : nullptr),
	  fSize(data != nullptr ? size : 0)
{
}

VJSONBinaryImporter::~VJSONBinaryImporter()
{
	if (fResolver != nullptr)
		fResolver->Release();
}

VError VJSONBinaryImporter::_Fail(VError error)
{
	_ThrowError(error);
	return error;
}

VError VJSONBinaryImporter::_Need(size_t count)
{
	return _Remaining() >= count ? VE_OK : _Fail(VE_STREAM_EOF);
}

VError VJSONBinaryImporter::_ReadUnits(uint32 count, VString& out)
{
	if (count > _Remaining() / sizeof(UniChar) || count > uint32(std::numeric_limits<int32>::max()))
		return _Fail(VE_STREAM_EOF);
	out.Clear();
	if (count > 0)
	{
		UniChar* units = out.GetCPointerForWrite(int32(count));
		if (units == nullptr)
			return VE_STRING_ALLOC_FAILED;
		std::memcpy(units, fCursor, size_t(count) * sizeof(UniChar));
		if constexpr (std::endian::native != std::endian::little)
		{
			for (uint32 i = 0; i < count; ++i)
				units[i] = UniChar((units[i] >> 8) | (units[i] << 8));
		}
		out.Validate(int32(count));
		fCursor += size_t(count) * sizeof(UniChar);
	}
	return VE_OK;
}

VError VJSONBinaryImporter::GetValue(VJSONValue& out)
{
	out.SetUndefined();
	if (fSize == 0)
		return VE_OK;
	bool newContainer = false;
	uint32 count = 0;
	VError error = _ReadValue(out, newContainer, count);
	if (error != VE_OK)
		return error;
	if (fResolver == nullptr)
	{
		fResolver = new (std::nothrow) VJSONPointerResolver(out);
		if (fResolver == nullptr)
			return _Fail(VE_MEMORY_FULL);
	}
	return newContainer ? _ReadContents(out, count, 0) : VE_OK;
}

VError VJSONBinaryImporter::GetValueFromBase64(const VString& text, VJSONValue& out, bool& decoded)
{
	decoded = false;
	VJSONBinaryWriter::Buffer bytes;
	{
		StErrorContextInstaller scope(false, true);
		if (!text.DecodeBase64(bytes, false))
			return scope.Find(VE_MEMORY_FULL) != nullptr ? _Fail(VE_MEMORY_FULL) : VE_OK;
	}
	decoded = true;
	VJSONBinaryImporter importer(bytes.GetDataPtr(), size_t(bytes.GetDataSize()));
	return importer.GetValue(out);
}

VError VJSONBinaryImporter::_ReadValue(VJSONValue& out, bool& newContainer, uint32& count)
{
	newContainer = false;
	count = 0;
	if (VError error = _Need(1); error != VE_OK)
		return error;
	const uint8 tag = *fCursor++;
	switch (tag)
	{
		case JSON_null:
			out.SetNull();
			return VE_OK;
		case JSON_false:
		case JSON_true:
			out.SetBool(tag == JSON_true);
			return VE_OK;
		case JSON_undefined:
			out.SetUndefined();
			return VE_OK;
		case JSON_string:
		{
			if (VError error = _Need(4); error != VE_OK)
				return error;
			const uint32 length = GetLittleEndian<uint32>(fCursor);
			fCursor += 4;
			VString text;
			if (VError error = _ReadUnits(length, text); error != VE_OK)
				return error;
			out.SetString(text);
			return VE_OK;
		}
		case JSON_number:
		{
			// A number cut short is an error, not a value left as it was.
			if (VError error = _Need(8); error != VE_OK)
				return error;
			out.SetNumber(std::bit_cast<double>(GetLittleEndian<uint64>(fCursor)));
			fCursor += 8;
			return VE_OK;
		}
		case JSON_date:
		{
			if (VError error = _Need(8); error != VE_OK)
				return error;
			VTime time;
			time.FromMilliseconds(int64(GetLittleEndian<uint64>(fCursor)));
			fCursor += 8;
			out.SetTime(time);
			return VE_OK;
		}
		case JSON_object:
		{
			if (VError error = _Need(2); error != VE_OK)
				return error;
			// 0xFFFE stands for undefined; it is left for the property loop to pass over.
			if (GetLittleEndian<uint16>(fCursor) == 0xFFFE)
			{
				out.SetUndefined();
				return VE_OK;
			}
			VJSONObject* object = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
			if (object == nullptr)
				return _Fail(VE_MEMORY_FULL);
			if (fStamp)
				object->SetJSONStamp(fStamp.Get());
			out.SetObject(object);
			object->Release();
			newContainer = true;
			return VE_OK;
		}
		case JSON_array:
		{
			if (VError error = _Need(4); error != VE_OK)
				return error;
			const int32 elements = GetLittleEndian<int32>(fCursor);
			fCursor += 4;
			if (elements == -2)
			{
				out.SetUndefined();
				return VE_OK;
			}
			// Each element takes at least its tag byte: a count beyond the bytes left is not allocated.
			if (elements < 0 || size_t(elements) > _Remaining())
				return _Fail(VE_STREAM_EOF);
			VJSONArray* array = new (std::nothrow) VJSONArray();
			if (array == nullptr)
				return _Fail(VE_MEMORY_FULL);
			if (fStamp)
				array->SetJSONStamp(fStamp.Get());
			out.SetArray(array);
			array->Release();
			if (!array->Resize(size_t(elements), JSON_null))
				return VE_MEMORY_FULL;
			newContainer = true;
			count = uint32(elements);
			return VE_OK;
		}
		case VJSONBinaryWriter::kTagReference:
		{
			if (VError error = _Need(4); error != VE_OK)
				return error;
			const uint32 length = GetLittleEndian<uint32>(fCursor);
			fCursor += 4;
			VString pointer;
			if (VError error = _ReadUnits(length, pointer); error != VE_OK)
				return error;
			if (fResolver == nullptr)
				return VE_OK;
			VJSONObject* reference = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
			if (reference == nullptr)
				return _Fail(VE_MEMORY_FULL);
			VJSONValue target;
			if (reference->SetPropertyAsString(VJSONPointerResolver::sRefPropertyName, pointer))
				fResolver->ResolveOnePointer(reference, false, target);
			reference->Release();
			// A reference that does not resolve leaves its place as it was.
			if (!target.IsUndefined() && target.GetObject() != reference)
				out = std::move(target);
			return VE_OK;
		}
		default:
		{
			// An unlisted kind: its length counts from the start of the length field.
			if (VError error = _Need(4); error != VE_OK)
				return error;
			const uint32 skipped = GetLittleEndian<uint32>(fCursor);
			if (skipped < 4 || skipped > _Remaining())
				return _Fail(VE_STREAM_EOF);
			fCursor += skipped;
			return VE_OK;
		}
	}
}

VError VJSONBinaryImporter::_ReadContents(VJSONValue& value, uint32 count, uint32 depth)
{
	// Containers nest no deeper than the text parser reads, so that no data can exhaust the stack here or
	// when the tree is released; the free stack is checked too, for tasks with small stacks.
	if (depth >= VJSONImporter::kMaxNestingDepth
		|| VTaskMgr::Get()->GetCurrentFreeStackSize() < VJSONBinaryWriter::kMinFreeStack)
		return _Fail(VE_STACK_OVERFLOW);
	if (VJSONObject* object = value.GetObject())
		return _ReadObjectContents(object, depth);
	if (VJSONArray* array = value.GetArray())
		return _ReadArrayContents(array, count, depth);
	return _Fail(VE_STREAM_EOF);
}

VError VJSONBinaryImporter::_ReadObjectContents(VJSONObject* object, uint32 depth)
{
	for (;;)
	{
		if (VError error = _Need(2); error != VE_OK)
			return error;
		const uint16 length = GetLittleEndian<uint16>(fCursor);
		fCursor += 2;
		if (length == VJSONBinaryWriter::kEndPlain)
			return VE_OK;
		if (length == VJSONBinaryWriter::kEndWithPayload)
			return _ReadPayload(object);
		if (length >= 0x8000)
			continue;
		VString name;
		if (VError error = _ReadUnits(length, name); error != VE_OK)
			return error;
		VJSONValue value;
		bool newContainer = false;
		uint32 count = 0;
		if (VError error = _ReadValue(value, newContainer, count); error != VE_OK)
			return error;
		if (!object->SetProperty(name, value))
			return JSONFailureError(VE_OK);
		if (newContainer)
		{
			if (VError error = _ReadContents(value, count, depth + 1); error != VE_OK)
				return error;
		}
	}
}

VError VJSONBinaryImporter::_ReadArrayContents(VJSONArray* array, uint32 count, uint32 depth)
{
	for (uint32 index = 0; index < count; ++index)
	{
		VJSONValue value;
		bool newContainer = false;
		uint32 elements = 0;
		if (VError error = _ReadValue(value, newContainer, elements); error != VE_OK)
			return error;
		if (!array->SetAt(index, value))
			return JSONFailureError(VE_OK);
		if (newContainer)
		{
			if (VError error = _ReadContents(value, elements, depth + 1); error != VE_OK)
				return error;
		}
	}
	return VE_OK;
}

VError VJSONBinaryImporter::_ReadPayload(VJSONObject* object)
{
	if (VError error = _Need(12); error != VE_OK)
		return error;
	const uint32 signature = GetLittleEndian<uint32>(fCursor);
	const uint64 size = GetLittleEndian<uint64>(fCursor + 4);
	fCursor += 12;
	if (size > _Remaining())
		return _Fail(VE_STREAM_EOF);
	const uint8* payload = fCursor;
	fCursor += size_t(size);
	if (signature == VJSONBinaryWriter::kClassSignature)
	{
		// The class is looked up again by namespace and name; a class unknown here leaves the object plain.
		const uint8* end = payload + size_t(size);
		VString nameSpace, className;
		if (TakeClassText(payload, end, nameSpace) && TakeClassText(payload, end, className)
			&& VProcess::sInstance != nullptr)
		{
			VRefPtr<VJSONObject> classObject = VProcess::sInstance->GetClassObject(nameSpace, className);
			if (VJSONClass* theClass = classObject ? dynamic_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr)
			{
				object->_SetClass(theClass);
				object->_SetClassKind(uint32(theClass->GetDepth()));
			}
		}
		return VE_OK;
	}
	VRefPtr<VJSONObject> classObject;
	uint64 error = VE_OK;
	IJSONObject* implementation
		= VJSONObjectFactory::Get()->CreateForSignature(object, signature, payload, size_t(size), classObject, &error);
	if (implementation == nullptr)
		return error;
	object->_SetImplementation(implementation);
	if (VJSONClass* theClass = classObject ? dynamic_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr)
	{
		object->_SetClass(theClass);
		object->_SetClassKind(uint32(theClass->GetDepth()));
	}
	implementation->Release();
	return VE_OK;
}

}  // namespace velk
