// A single scalar-like value: defaults of the conversions.
#include "kernel/values/VValueSingle.h"

#include <algorithm>
#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VTime.h"
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

VError VValueSingle::GetJSONValue(VJSONValue&, uint32) const
{
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

void VValueSingle::GetVUUID(VUUID&) const {}

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

}  // namespace velk
