// A single scalar-like value: defaults of the conversions.
#include "kernel/values/VValueSingle.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VStream.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VUUID.h"
#include "kernel/values/VValueInfo.h"
#include "runtime/VProcess.h"

namespace velk {

CharSet VValueSingle::DebugDump(char* buffer, int& length) const
{
	if (VProcess::sInstance == nullptr)
	{
		length = 0;
		return 2;
	}
	VString text;
	GetString(text);
	const int32 units = std::min<int32>(text.GetLength(), std::max(length, 0) / 2);
	std::memcpy(buffer, text.GetCPointer(), size_t(units) * sizeof(UniChar));
	length = units * 2;
	return 2;
}

VError VValueSingle::ReadFromStream(VStream* stream, int32)
{
	return stream->GetLastError();
}

VError VValueSingle::WriteToStream(VStream* stream, int32) const
{
	return stream->GetLastError();
}

VError VValueSingle::FromJSONString(const VString& json, uint32)
{
	FromString(json);
	return VE_OK;
}

VError VValueSingle::GetJSONString(VString& json, uint32) const
{
	GetString(json);
	return VE_OK;
}

VError VValueSingle::FromJSONValue(const VJSONValue&)
{
	Clear();
	return VE_UNIMPLEMENTED;
}

VError VValueSingle::GetJSONValue(VJSONValue& json, uint32) const
{
	json.SetNull();
	return VE_UNIMPLEMENTED;
}

void VValueSingle::GetDuration(VDuration& duration) const
{
	duration.Clear();
}

void VValueSingle::GetTime(VTime& time) const
{
	time.Clear();
}

void VValueSingle::GetString(VString& text) const
{
	text.Clear();
}

void VValueSingle::GetVUUID(VUUID& uuid) const
{
	uuid.Clear();
}

void VValueSingle::GetValue(VValueSingle& value) const
{
	value.Clear();
}

void VValueSingle::FromBoolean(uint8) {}

void VValueSingle::FromByte(int8) {}

void VValueSingle::FromWord(int16) {}

void VValueSingle::FromLong(int32) {}

void VValueSingle::FromLong8(int64) {}

void VValueSingle::FromReal(double) {}

void VValueSingle::FromDuration(const VDuration&) {}

void VValueSingle::FromTime(const VTime&) {}

void VValueSingle::FromString(const VString&) {}

void VValueSingle::FromVUUID(const VUUID&) {}

void VValueSingle::FromValue(const VValueSingle&) {}

void VValueSingle::GetXMLString(VString& text, uint32) const
{
	GetString(text);
}

bool VValueSingle::FromXMLString(const VString& text)
{
	FromString(text);
	return true;
}

bool VValueSingle::EqualTo(const VValueSingle& other, bool diacritical) const
{
	return CompareTo(other, diacritical) == CR_EQUAL;
}

VValueSingle* VValueSingle::ConvertTo(ValueKind kind) const
{
	VValue* made = VValue::NewValueFromValueKind(kind);
	if (made == nullptr)
		return nullptr;
	VValueSingle* single = made->IsVValueSingle();
	if (single == nullptr)
	{
		delete made;
		return nullptr;
	}
	GetValue(*single);
	single->SetNull(IsNull());
	return single;
}

JSONType VValueSingle::ValueKindToJsonType(ValueKind kind)
{
	switch (kind)
	{
		case VK_BOOLEAN:
			return JSON_true;
		case VK_REAL:
			return JSON_number;
		case VK_TIME:
			return JSON_date;
		case VK_STRING:
			return JSON_string;
		default:
			return JSON_null;
	}
}

VValueSingle* VValueSingle::ConvertVValueToJSONScalar(const VValueSingle& value, bool durationInMilliseconds)
{
	VValueSingle* result = nullptr;
	// A value without a descriptor is cloned like any other kind JSON carries as it is. Kinds 7, 14 and 16
	// to 20 have no class here; they keep the places they have in stored data.
	const VValueInfo* info = value.GetValueInfo();
	switch (info != nullptr ? info->GetKind() : VK_UNDEFINED)
	{
		case VK_BYTE:
		case VK_WORD:
		case VK_LONG:
		case VK_LONG8:
		case 7:
		case 16:
			if ((result = new (std::nothrow) VReal(value.GetReal())) != nullptr)
				result->SetNull(value.IsNull());
			break;
		case VK_UUID:
		case 14:
		case 17:
		case 19:
		case 20:
			if ((result = new (std::nothrow) VString()) != nullptr)
				result->FromValue(value);
			break;
		case VK_DURATION:
			if ((result = new (std::nothrow) VReal()) != nullptr)
			{
				// A duration's GetLong8OrMilliSeconds is its millisecond count.
				const int64 ms = value.GetLong8OrMilliSeconds();
				if (value.IsNull())
					result->SetNull(true);
				else if (durationInMilliseconds)
					result->FromLong8(ms);
				else
					result->FromReal(double(ms) / 1000.0);
			}
			break;
		default:
			try
			{
				// The clone of a single value is a single value.
				if (VValue* clone = value.Clone())
					result = clone->IsVValueSingle();
			}
			catch (const std::bad_alloc&)
			{
				result = nullptr;
			}
			break;
	}
	if (result == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return result;
}

}  // namespace velk
