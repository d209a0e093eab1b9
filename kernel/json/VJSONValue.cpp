#include "kernel/json/VJSONValue.h"

#include <cmath>
#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONWriter.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTaskMgr.h"

namespace velk {

std::atomic<uint32> VJSONValue::sStamp{0};
std::atomic<uint32> VJSONValue::sInlineStringTag{0};

const VJSONValue VJSONValue::sUndefined(JSON_undefined);
const VJSONValue VJSONValue::sNull(JSON_null);
const VJSONValue VJSONValue::sTrue(JSON_true);
const VJSONValue VJSONValue::sFalse(JSON_false);
const VJSONValue VJSONValue::sLastType(JSON_last);
const VString VJSONValue::sUndefinedString("undefined");
const VString VJSONValue::sNullString("null");
const VString VJSONValue::sTrueString("true");
const VString VJSONValue::sFalseString("false");
const VString VJSONValue::sObjectString("[object Object]");

VError JSONCheckNesting(uint32 depth)
{
	if (depth < kJSONMaxNestingDepth && VTaskMgr::Get()->GetCurrentFreeStackSize() >= kJSONMinFreeStack)
		return VE_OK;
	_ThrowError(VE_STACK_OVERFLOW);
	return VE_STACK_OVERFLOW;
}

VJSONStackBound::VJSONStackBound(size_t minFree)
{
	const uintptr_t here = uintptr_t(__builtin_frame_address(0));
	const size_t free = VTaskMgr::Get()->GetCurrentFreeStackSize();
	// Stacks grow down: the free stack lies below here.
	fLowest = free > minFree ? here - (free - minFree) : UINTPTR_MAX;
}

namespace {

uint32 PackDate(int16 year, int16 month, int16 day)
{
	return (uint32(uint16(year)) << 16) + (uint32(uint8(month)) << 8) + uint32(uint8(day));
}

// A second reference on a counted buffer.
UniChar* RetainDescriptor(const VInlineString& text, int32& length, int32& capacity)
{
	length = 0;
	capacity = 0;
	if (text.fString == nullptr)
		return nullptr;
	VString::RetainRetainedBuffer(text.fString, text.fMaxLength);
	length = text.fLength;
	capacity = text.fMaxLength;
	return text.fString;
}

}  // namespace

VJSONValue::VJSONValue(JSONType type) : fType(type), fStamp(_NextStamp()), fPayload{}
{
	switch (type)
	{
		case JSON_string:
			_SetEmptyString();
			break;
		case JSON_number:
			fPayload.fNumber = 0.0;
			break;
		case JSON_object:
			fPayload.fObject = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
			break;
		case JSON_array:
			fPayload.fArray = new (std::nothrow) VJSONArray(false);
			break;
		default:
			break;
	}
	if ((type == JSON_object || type == JSON_array) && fPayload.fObject == nullptr)
	{
		fType = JSON_null;
		_ThrowError(VE_MEMORY_FULL);
	}
}

VJSONValue::VJSONValue(VJSONObject* object) : fType(JSON_null), fStamp(_NextStamp()), fPayload{}
{
	if (object != nullptr)
	{
		object->Retain();
		fType = JSON_object;
		fPayload.fObject = object;
	}
}

VJSONValue::VJSONValue(VJSONArray* array) : fType(JSON_null), fStamp(_NextStamp()), fPayload{}
{
	if (array != nullptr)
	{
		array->Retain();
		fType = JSON_array;
		fPayload.fArray = array;
	}
}

VJSONValue::VJSONValue(const VString& text) : fType(JSON_null), fStamp(_NextStamp()), fPayload{}
{
	SetString(text);
}

VJSONValue::VJSONValue(const VInlineString& text) : fType(JSON_null), fStamp(_NextStamp()), fPayload{}
{
	SetString(text);
}

VJSONValue::VJSONValue(double number) : fType(JSON_number), fStamp(_NextStamp()), fPayload{}
{
	fPayload.fNumber = number;
}

VJSONValue::VJSONValue(const VTime& time) : fType(JSON_null), fStamp(_NextStamp()), fPayload{}
{
	SetTime(time);
}

VJSONValue::VJSONValue(const VJSONValue& other) : fType(JSON_null), fStamp(_NextStamp()), fPayload{}
{
	_CopyFrom(other);
}

VJSONValue::VJSONValue(VJSONValue&& other) noexcept : fType(JSON_null), fStamp(0), fPayload{}
{
	_MoveFrom(other);
}

VJSONValue& VJSONValue::operator=(const VJSONValue& other)
{
	if (this != &other)
	{
		// The source may live inside the container released here: hold it until copied.
		VJSONValue keep(std::move(*this));
		_CopyFrom(other);
		fStamp = _NextStamp();
	}
	return *this;
}

VJSONValue& VJSONValue::operator=(VJSONValue&& other) noexcept
{
	if (this != &other)
	{
		VJSONValue keep(std::move(*this));
		_MoveFrom(other);
	}
	return *this;
}

VJSONValue::~VJSONValue()
{
	_Dispose();
}

void VJSONValue::_Dispose()
{
	switch (fType)
	{
		case JSON_string:
			if (fPayload.fString.fBuffer != nullptr)
				VString::ReleaseRetainedBuffer(fPayload.fString.fBuffer, fPayload.fString.fCapacity);
			fPayload.fString.fBuffer = nullptr;
			fPayload.fString.fLength = 0;
			fPayload.fString.fCapacity = 0;
			break;
		case JSON_object:
			if (VJSONObject* object = fPayload.fObject)
			{
				fPayload.fObject = nullptr;
				object->Release();
			}
			break;
		case JSON_array:
			if (VJSONArray* array = fPayload.fArray)
			{
				fPayload.fArray = nullptr;
				array->Release();
			}
			break;
		default:
			break;
	}
}

void VJSONValue::_CopyFrom(const VJSONValue& other)
{
	fType = other.fType;
	fPayload = Payload{};
	switch (other.fType)
	{
		case JSON_string:
			_ShareBuffer(other._Inline());
			break;
		case JSON_object:
			fPayload.fObject = other.fPayload.fObject;
			if (fPayload.fObject != nullptr)
				fPayload.fObject->Retain();
			break;
		case JSON_array:
			fPayload.fArray = other.fPayload.fArray;
			if (fPayload.fArray != nullptr)
				fPayload.fArray->Retain();
			break;
		default:
			fPayload = other.fPayload;
			break;
	}
}

void VJSONValue::_MoveFrom(VJSONValue& other)
{
	fType = other.fType;
	fStamp = other.fStamp;
	fPayload = other.fPayload;
	if (other.fType == JSON_string)
	{
		other.fPayload.fString.fBuffer = nullptr;
		other.fPayload.fString.fLength = 0;
		other.fPayload.fString.fCapacity = 0;
	}
	else if (other.fType == JSON_object || other.fType == JSON_array)
	{
		other.fPayload.fObject = nullptr;
	}
}

void VJSONValue::_SetEmptyString()
{
	fType = JSON_string;
	fPayload.fString = StringPayload{0, nullptr, 0, _NextTag()};
}

void VJSONValue::_ShareBuffer(const VInlineString& text)
{
	_SetEmptyString();
	int32 length = 0;
	int32 capacity = 0;
	UniChar* buffer = RetainDescriptor(text, length, capacity);
	if (buffer != nullptr)
		fPayload.fString = StringPayload{length, buffer, capacity, fPayload.fString.fTag};
}

void VJSONValue::SetNull()
{
	_Dispose();
	fType = JSON_null;
}

void VJSONValue::SetUndefined()
{
	_Dispose();
	fType = JSON_undefined;
}

void VJSONValue::SetBool(bool value)
{
	_Dispose();
	fType = value ? JSON_true : JSON_false;
}

void VJSONValue::SetNumber(double number)
{
	_Dispose();
	fType = JSON_number;
	fPayload.fNumber = number;
}

void VJSONValue::SetString(const VString& text)
{
	if (text.IsNull())
	{
		SetNull();
		return;
	}
	int32 length = 0;
	int32 capacity = 0;
	UniChar* buffer = text.RetainBuffer(length, capacity);
	_Dispose();
	_SetEmptyString();
	if (buffer != nullptr)
		fPayload.fString = StringPayload{length, buffer, capacity, fPayload.fString.fTag};
}

void VJSONValue::SetString(const VInlineString& text)
{
	int32 length = 0;
	int32 capacity = 0;
	UniChar* buffer = RetainDescriptor(text, length, capacity);
	_Dispose();
	_SetEmptyString();
	if (buffer != nullptr)
		fPayload.fString = StringPayload{length, buffer, capacity, fPayload.fString.fTag};
}

void VJSONValue::SetObject(VJSONObject* object)
{
	if (fType == JSON_object && fPayload.fObject == object && object != nullptr)
		return;
	if (object == nullptr)
	{
		SetNull();
		return;
	}
	object->Retain();
	_Dispose();
	fType = JSON_object;
	fPayload.fObject = object;
}

void VJSONValue::SetArray(VJSONArray* array)
{
	if (fType == JSON_array && fPayload.fArray == array && array != nullptr)
		return;
	if (array == nullptr)
	{
		SetNull();
		return;
	}
	array->Retain();
	_Dispose();
	fType = JSON_array;
	fPayload.fArray = array;
}

void VJSONValue::_AdoptObject(VJSONObject* object)
{
	_Dispose();
	fType = object != nullptr ? JSON_object : JSON_null;
	fPayload.fObject = object;
}

void VJSONValue::_AdoptArray(VJSONArray* array)
{
	_Dispose();
	fType = array != nullptr ? JSON_array : JSON_null;
	fPayload.fArray = array;
}

bool VJSONValue::_SetStringFromUnits(const UniChar* units, int32 length)
{
	if (length <= 0)
	{
		_Dispose();
		_SetEmptyString();
		return true;
	}
	UniChar* buffer = VString::NewCountedBuffer(units, length);
	if (buffer == nullptr)
		return false;
	_Dispose();
	_SetEmptyString();
	fPayload.fString = StringPayload{length, buffer, length, fPayload.fString.fTag};
	return true;
}

void VJSONValue::SetTime(const VTime& time)
{
	if (time.IsNull())
	{
		SetNull();
		return;
	}
	int16 year, month, day, hour, minute, second, ms;
	time.GetUTCTime(year, month, day, hour, minute, second, ms);
	SetDate(year, month, day);
}

void VJSONValue::SetDate(int16 year, int16 month, int16 day)
{
	_Dispose();
	fType = JSON_date;
	fPayload.fDate = PackDate(year, month, day);
}

void VJSONValue::Clear()
{
	switch (fType)
	{
		case JSON_true:
			fType = JSON_false;
			break;
		case JSON_string:
			_Dispose();
			_SetEmptyString();
			break;
		case JSON_number:
			fPayload.fNumber = 0.0;
			break;
		case JSON_date:
			fPayload.fDate = 0;
			break;
		case JSON_object:
		case JSON_array:
			SetNull();
			break;
		default:
			break;
	}
}

VJSONObject* VJSONValue::RetainObject() const
{
	VJSONObject* object = GetObject();
	if (object != nullptr)
		object->Retain();
	return object;
}

VJSONArray* VJSONValue::RetainArray() const
{
	VJSONArray* array = GetArray();
	if (array != nullptr)
		array->Retain();
	return array;
}

VJSONValue VJSONValue::GetProperty(const VString& name) const
{
	if (VJSONObject* object = GetObject())
		return object->GetProperty(name, nullptr);
	return VJSONValue(sUndefined);
}

void VJSONValue::SetProperty(const VString& name, const VJSONValue& value) const
{
	if (VJSONObject* object = GetObject())
		object->SetProperty(name, value, nullptr);
}

double VJSONValue::GetNumber() const
{
	switch (fType)
	{
		case JSON_number:
			return fPayload.fNumber;
		case JSON_true:
			return 1.0;
		case JSON_string:
		{
			const VString text(_Inline(), true);
			const StringPayload& s = fPayload.fString;
			if (s.fLength >= 2 && s.fBuffer[0] == u'0' && (s.fBuffer[1] == u'x' || s.fBuffer[1] == u'X'))
				return double(uint64(text.GetHexLong()));
			return text.GetReal();
		}
		default:
			return 0.0;
	}
}

bool VJSONValue::GetBool() const
{
	switch (fType)
	{
		case JSON_true:
		case JSON_object:
		case JSON_array:
			return true;
		case JSON_string:
			return fPayload.fString.fBuffer != nullptr;
		case JSON_number:
			return !(fPayload.fNumber == 0.0);
		case JSON_date:
			return fPayload.fDate != 0;
		default:
			return false;
	}
}

VError VJSONValue::GetString(VString& out, std::unordered_set<const VJSONArray*>* visited) const
{
	switch (fType)
	{
		case JSON_false:
			out = sFalseString;
			return VE_OK;
		case JSON_true:
			out = sTrueString;
			return VE_OK;
		case JSON_string:
			out.FromString(_Inline());
			return VE_OK;
		case JSON_number:
			return VReal(fPayload.fNumber).GetJSONString(out, 0);
		case JSON_object:
			out = sObjectString;
			return VE_OK;
		case JSON_date:
		{
			VTime time;
			GetTime(time);
			return time.GetJSONString(out, 512);
		}
		case JSON_array:
			if (fPayload.fArray != nullptr)
				return fPayload.fArray->GetString(out, visited);
			out.Clear();
			return VE_OK;
		default:
			out.Clear();
			return VE_OK;
	}
}

VString VJSONValue::GetString() const
{
	VString text;
	GetString(text, nullptr);
	return text;
}

void VJSONValue::GetTime(VTime& out) const
{
	if (fType == JSON_date)
	{
		int16 year, month, day;
		GetDate(&year, &month, &day);
		out.FromUTCTime(year, month, day, 0, 0, 0, 0);
	}
	else if (fType == JSON_string)
	{
		out.FromString(VString(_Inline(), true));
	}
	else
	{
		out.Clear();
		out.SetNull(true);
	}
}

bool VJSONValue::GetDate(int16* year, int16* month, int16* day) const
{
	const bool isDate = fType == JSON_date;
	const uint32 packed = isDate ? fPayload.fDate : 0;
	if (year != nullptr)
		*year = int16(packed >> 16);
	if (month != nullptr)
		*month = int16((packed >> 8) & 0xFF);
	if (day != nullptr)
		*day = int16(packed & 0xFF);
	return isDate;
}

VValueSingle* VJSONValue::CreateVValue(bool markContainers) const
{
	VValueSingle* result = nullptr;
	switch (fType)
	{
		case JSON_false:
		case JSON_true:
			result = new (std::nothrow) VBoolean(uint8(fType == JSON_true));
			break;
		case JSON_string:
			result = new (std::nothrow) VString(_Inline());
			break;
		case JSON_number:
			result = new (std::nothrow) VReal(fPayload.fNumber);
			break;
		case JSON_date:
			if (VTime* time = new (std::nothrow) VTime())
			{
				GetTime(*time);
				result = time;
			}
			break;
		case JSON_object:
		case JSON_array:
		{
			if (fType == JSON_object && fPayload.fObject != nullptr && fPayload.fObject->GetImplementation() != nullptr)
			{
				if (VValue* made = fPayload.fObject->GetImplementation()->IJSON_CreateVValue())
				{
					if (auto* single = dynamic_cast<VValueSingle*>(made))
						return single;
					delete made;
				}
			}
			if (markContainers)
			{
				const UniChar marker[] = {0x0001, 0x0002, 0x0003, UniChar(fType == JSON_object ? 0x0001 : 0x0002)};
				result = new (std::nothrow) VString(marker, 4);
			}
			else if (VString* text = new (std::nothrow) VString(true))
			{
				result = text;
			}
			break;
		}
		default:
			result = new (std::nothrow) VString(true);
			break;
	}
	if (result == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return result;
}

bool VJSONValue::GetBoolByPath(const VJSONValue& value, const VString& path)
{
	const VJSONObject* object = value.GetObject();
	return object != nullptr && object->GetPropertyWithPath(path, nullptr).GetType() == JSON_true;
}

int32 VJSONValue::GetLongByPath(const VJSONValue& value, const VString& path)
{
	const VJSONObject* object = value.GetObject();
	if (object == nullptr)
		return 0;
	const VJSONValue found = object->GetPropertyWithPath(path, nullptr);
	// NaN and numbers beyond 32 bits convert as every real-to-integer conversion of the value kinds does.
	return found.IsNumber() ? VReal::RealToLong(found.GetNumber()) : 0;
}

bool VJSONValue::GetStringByPath(const VJSONValue& value, const VString& path, VString& out)
{
	const VJSONObject* object = value.GetObject();
	if (object == nullptr)
		return false;
	const VJSONValue found = object->GetPropertyWithPath(path, nullptr);
	if (!found.IsString())
		return false;
	VString text;
	if (found.GetString(text) != VE_OK)
		return false;
	out = std::move(text);
	return true;
}

VError VJSONValue::Stringify(VString& out, uint32 options) const
{
	constexpr uint32 kBinaryFallback = 2048;
	if ((options & kBinaryFallback) == 0)
	{
		VJSONWriter writer(options);
		return writer.StringifyValue(*this, out);
	}
	// What only the binary form can carry is refused by the text writer, quietly, and written in binary.
	VJSONWriter writer(options | VJSONWriter::kREFUSE_BINARY | VJSONWriter::kGENERIC_ONLY | VJSONWriter::kWRITE_ONCE);
	{
		StErrorContextInstaller scope(true, true);
		const VError error = writer.StringifyValue(*this, out);
		if (error != VE_JSON_CIRCULAR && error != VE_JSON_BINARY_OBJECT && error != VE_JSON_NOT_GENERIC_OBJECT
			&& error != VE_JSON_OBJECT_WRITTEN_TWICE)
			return error;
		if (scope.GetContext() != nullptr)
			scope.GetContext()->Flush();
	}
	VJSONBinaryWriter::Buffer bytes;
	VJSONBinaryWriter binaryWriter(VJSONBinaryWriter::kStringifyOptions);
	if (VError error = binaryWriter.StreamValue(*this, bytes); error != VE_OK)
		return error;
	VString base64;
	if (!base64.EncodeBase64(bytes.GetDataPtr(), size_t(bytes.GetDataSize()), false))
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return VE_STRING_ALLOC_FAILED;
	}
	VJSONObject* embedding = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
	if (embedding == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	VError error = embedding->SetPropertyAsString(VJSONBinaryWriter::sEmbeddedPropertyName, base64) ? VE_OK : VE_MEMORY_FULL;
	if (error == VE_OK)
		error = writer.StringifyObject(embedding, out);
	embedding->Release();
	return error;
}

VError VJSONValue::ParseFromString(const VString& text, bool recognizeDates, bool extended)
{
	uint32 options = 0;
	if (recognizeDates)
		options = extended ? VJSONImporter::kBangDates | VJSONImporter::kNonAmbiguousDates
						   : VJSONImporter::kBangDates | VJSONImporter::kISODates;
	return VJSONImporter::ParseString(text, *this, options);
}

VError VJSONValue::LoadFromFile(IFile* file, bool recognizeDates)
{
	const uint32 options = recognizeDates ? VJSONImporter::kBangDates | VJSONImporter::kISODates : 0;
	return VJSONImporter::ParseFile(file, *this, options);
}

VError VJSONValue::SaveToFile(IFile* file, uint32 options) const
{
	return VJSONWriter::StringifyValueToFile(file, *this, options);
}

CompareResult VJSONValue::CompareTo(const VJSONValue& other, const VCompareOptions& options) const
{
	if (fType != other.fType)
	{
		const bool bothAbsent = (fType == JSON_null || fType == JSON_undefined)
			&& (other.fType == JSON_null || other.fType == JSON_undefined);
		if (bothAbsent)
			return CR_EQUAL;
		return fType < other.fType ? CR_SMALLER : CR_BIGGER;
	}
	switch (fType)
	{
		case JSON_string:
		{
			const VString a(_Inline(), true);
			const VString b(other._Inline(), true);
			return a.CompareToSameKindWithOptions(&b, options);
		}
		case JSON_number:
		{
			const VReal a(fPayload.fNumber);
			const VReal b(other.fPayload.fNumber);
			return a.CompareToSameKindWithOptions(&b, options);
		}
		case JSON_object:
		case JSON_array:
		{
			const void* a = fPayload.fObject;
			const void* b = other.fPayload.fObject;
			if (a == b)
				return CR_EQUAL;
			return std::less<const void*>()(a, b) ? CR_SMALLER : CR_BIGGER;
		}
		case JSON_date:
		{
			const int32 a = int32(fPayload.fDate);
			const int32 b = int32(other.fPayload.fDate);
			return a == b ? CR_EQUAL : (a < b ? CR_SMALLER : CR_BIGGER);
		}
		default:
			return CR_EQUAL;
	}
}

bool VJSONValue::DeepEqualTo(const VJSONValue& other, const VCompareOptions& options) const
{
	if (fType != other.fType)
		return false;
	if (fType == JSON_array)
	{
		const VJSONArray* a = GetArray();
		const VJSONArray* b = other.GetArray();
		if (a == nullptr || b == nullptr)
			return a == b;
		return a->DeepEqualTo(b, options);
	}
	if (fType == JSON_object)
	{
		const VJSONObject* a = GetObject();
		const VJSONObject* b = other.GetObject();
		if (a == nullptr || b == nullptr)
			return a == b;
		return a->DeepEqualTo(b, options);
	}
	return CompareTo(other, options) == CR_EQUAL;
}

bool VJSONValue::test()
{
	StErrorContextInstaller scope(false, true);
	VJSONValue sample(JSON_object);
	VJSONValue list(JSON_array);
	VJSONValue inner(JSON_object);
	if (!sample.IsObject() || !list.IsArray() || !inner.IsObject())
		return false;
	VString text("line\nbreak, \"quoted\", tab\t and ");
	text.AppendUniChar(0x00E9).AppendUniChar(0x4E2D).AppendUniChar(0xD83D).AppendUniChar(0xDE00);
	inner.SetProperty(VString("text"), VJSONValue(text));
	inner.SetProperty(VString("empty"), VJSONValue(JSON_object));
	VJSONArray* elements = list.GetArray();
	const VJSONValue members[] = {VJSONValue(1.0), VJSONValue(-2.5e-3), VJSONValue(123456789012.0), sTrue, sFalse, sNull,
		VJSONValue(VString("")), VJSONValue(JSON_array), inner};
	for (const VJSONValue& member : members)
	{
		if (!elements->Push(member))
			return false;
	}
	sample.SetProperty(VString("name"), VJSONValue(VString("sample")));
	sample.SetProperty(VString("list"), list);
	sample.SetProperty(VString("nested"), inner);
	sample.SetProperty(VString("zero"), VJSONValue(0.0));

	VCompareOptions options;
	for (const VJSONValue* written : {&sample, &list, &inner})
	{
		for (const uint32 writerOptions : {uint32(VString::kJSON_WITH_QUOTES), uint32(VString::kJSON_WITH_QUOTES | VJSONWriter::kPRETTY)})
		{
			VString text;
			VJSONValue back;
			if (written->Stringify(text, writerOptions) != VE_OK || back.ParseFromString(text) != VE_OK
				|| !back.DeepEqualTo(*written, options))
				return false;
		}
	}
	return true;
}

void VJSONValue::CheckAndUpdateJsonStamp(const VJSONValue& value, VJSONStamp* stamp)
{
	if (stamp == nullptr)
		return;
	stamp->Increment();
	VJSONStamp* own = nullptr;
	if (VJSONObject* object = value.GetObject())
		own = object->GetJSONStampPointer();
	else if (VJSONArray* array = value.GetArray())
		own = array->GetJSONStampPointer();
	else
		return;
	if (own == stamp)
		return;
	try
	{
		std::unordered_set<const void*> visited;
		_ChangeJSONStamp(value, stamp, visited);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

void VJSONValue::_ChangeJSONStamp(const VJSONValue& value, VJSONStamp* stamp, std::unordered_set<const void*>& visited)
{
	// A work list rather than recursion: a tree of any depth takes a fixed amount of stack.
	std::vector<VJSONValue> pending{value};
	std::vector<VJSONValue> values;
	while (!pending.empty())
	{
		const VJSONValue next = std::move(pending.back());
		pending.pop_back();
		if (VJSONObject* object = next.GetObject())
		{
			if (!visited.insert(object).second)
				continue;
			object->SetJSONStamp(stamp);
			object->_GetValuesInOrder(values);
		}
		else if (VJSONArray* array = next.GetArray())
		{
			if (!visited.insert(array).second)
				continue;
			array->SetJSONStamp(stamp);
			array->GetValues(values);
		}
		else
		{
			continue;
		}
		for (auto child = values.rbegin(); child != values.rend(); ++child)
		{
			if (child->IsObject() || child->IsArray())
				pending.push_back(std::move(*child));
		}
		values.clear();
	}
}

}  // namespace velk
