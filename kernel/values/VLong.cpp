// The 32-bit signed integer value.
#include "kernel/values/VLong.h"

#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VReal.h"

namespace velk {

namespace {

int32 ReadFlat(const void* data)
{
	int32 value;
	std::memcpy(&value, data, sizeof(value));
	return value;
}

CompareResult Order(int32 a, int32 b)
{
	return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
}

}  // namespace

const VValueInfo* VLong::GetValueInfo() const
{
	return &sInfo;
}

void VLong::_Set(int32 value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

void VLong::_SetFrom(const VValueSingle& source)
{
	const int32 value = source.GetLong();
	SetNull(source.IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

void VLong::Clear()
{
	_Set(0);
}

VError VLong::FromJSONValue(const VJSONValue&)
{
	return VE_UNIMPLEMENTED;
}

VError VLong::GetJSONValue(VJSONValue&, uint32) const
{
	return VE_UNIMPLEMENTED;
}

CompareResult VLong::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return Order(fValue, static_cast<const VLong*>(other)->fValue);
}

CompareResult VLong::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return Order(fValue, ReadFlat(other));
}

CompareResult VLong::CompareToSameKind(const VValue* other, bool) const
{
	return Order(fValue, static_cast<const VLong*>(other)->fValue);
}

CompareResult VLong::CompareToSameKindPtr(const void* other, bool) const
{
	return Order(fValue, ReadFlat(other));
}

bool VLong::FromValueSameKind(const VValue* other)
{
	const VLong* source = dynamic_cast<const VLong*>(other);
	if (source == nullptr)
		return false;
	_SetFrom(*source);
	return true;
}

const void* VLong::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlat(data));
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

void* VLong::WriteToPtr(void* data, uint8, uint64 limit) const
{
	if (limit != 0 && limit < sizeof(fValue))
		return data;
	std::memcpy(data, &fValue, sizeof(fValue));
	return static_cast<uint8*>(data) + sizeof(fValue);
}

uint64 VLong::GetSpace(uint64&, uint64) const
{
	return sizeof(fValue);
}

VError VLong::ReadFromStream(VStream*, int32)
{
	return VE_UNIMPLEMENTED;
}

VError VLong::WriteToStream(VStream*, int32) const
{
	return VE_UNIMPLEMENTED;
}

VValue* VLong::Clone() const
{
	VLong* copy = new VLong(fValue);
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

void VLong::GetDuration(VDuration& duration) const
{
	duration.FromLong(fValue);
}

void VLong::GetString(VString& text) const
{
	text.FromLong(fValue);
}

void VLong::GetValue(VValueSingle& value) const
{
	value.FromLong(fValue);
}

void VLong::FromBoolean(uint8 value)
{
	_Set(value);
}

void VLong::FromByte(int8 value)
{
	_Set(value);
}

void VLong::FromWord(int16 value)
{
	_Set(value);
}

void VLong::FromLong(int32 value)
{
	_Set(value);
}

void VLong::FromLong8(int64 value)
{
	_Set(int32(value));
}

void VLong::FromReal(double value)
{
	_Set(VReal::RealToLong(value));
}

void VLong::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

void VLong::FromString(const VString& text)
{
	_SetFrom(text);
}

void VLong::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

CompareResult VLong::CompareTo(const VValueSingle& other, bool) const
{
	return Order(fValue, other.GetLong());
}

}  // namespace velk
