// The 64-bit signed integer value.
#include "kernel/values/VLong8.h"

#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VReal.h"

namespace velk {

namespace {

int64 ReadFlat(const void* data)
{
	int64 value;
	std::memcpy(&value, data, sizeof(value));
	return value;
}

CompareResult Order(int64 a, int64 b)
{
	return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
}

}  // namespace

const VValueInfo* VLong8::GetValueInfo() const
{
	return &sInfo;
}

void VLong8::_Set(int64 value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

void VLong8::_SetFrom(const VValueSingle& source)
{
	const int64 value = source.GetLong8();
	SetNull(source.IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

void VLong8::Clear()
{
	_Set(0);
}

VError VLong8::FromJSONValue(const VJSONValue&)
{
	return VE_UNIMPLEMENTED;
}

VError VLong8::GetJSONValue(VJSONValue&, uint32) const
{
	return VE_UNIMPLEMENTED;
}

CompareResult VLong8::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return Order(fValue, static_cast<const VLong8*>(other)->fValue);
}

CompareResult VLong8::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return Order(fValue, ReadFlat(other));
}

CompareResult VLong8::CompareToSameKind(const VValue* other, bool) const
{
	return Order(fValue, static_cast<const VLong8*>(other)->fValue);
}

CompareResult VLong8::CompareToSameKindPtr(const void* other, bool) const
{
	return Order(fValue, ReadFlat(other));
}

bool VLong8::FromValueSameKind(const VValue* other)
{
	const VLong8* source = dynamic_cast<const VLong8*>(other);
	if (source == nullptr)
		return false;
	_SetFrom(*source);
	return true;
}

const void* VLong8::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlat(data));
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

void* VLong8::WriteToPtr(void* data, uint8, uint64 limit) const
{
	if (limit != 0 && limit < sizeof(fValue))
		return data;
	std::memcpy(data, &fValue, sizeof(fValue));
	return static_cast<uint8*>(data) + sizeof(fValue);
}

uint64 VLong8::GetSpace(uint64&, uint64) const
{
	return sizeof(fValue);
}

VError VLong8::ReadFromStream(VStream*, int32)
{
	return VE_UNIMPLEMENTED;
}

VError VLong8::WriteToStream(VStream*, int32) const
{
	return VE_UNIMPLEMENTED;
}

VValue* VLong8::Clone() const
{
	VLong8* copy = new VLong8(fValue);
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

void VLong8::GetDuration(VDuration& duration) const
{
	duration.FromLong8(fValue);
}

void VLong8::GetString(VString& text) const
{
	text.FromLong8(fValue);
}

void VLong8::GetValue(VValueSingle& value) const
{
	value.FromLong8(fValue);
}

void VLong8::FromBoolean(uint8 value)
{
	_Set(value);
}

void VLong8::FromByte(int8 value)
{
	_Set(value);
}

void VLong8::FromWord(int16 value)
{
	_Set(value);
}

void VLong8::FromLong(int32 value)
{
	_Set(value);
}

void VLong8::FromLong8(int64 value)
{
	_Set(value);
}

void VLong8::FromReal(double value)
{
	_Set(VReal::RealToLong8(value));
}

void VLong8::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

void VLong8::FromString(const VString& text)
{
	if (text.IsNull())
	{
		SetNull(true);
		fFlags |= kFLAG_DIRTY;
		return;
	}
	_SetFrom(text);
}

void VLong8::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

CompareResult VLong8::CompareTo(const VValueSingle& other, bool) const
{
	return Order(fValue, other.GetLong8());
}

}  // namespace velk
