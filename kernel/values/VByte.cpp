// The 8-bit signed integer value.
#include "kernel/values/VByte.h"

#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VReal.h"

namespace velk {

namespace {

int8 ReadFlat(const void* data)
{
	int8 value;
	std::memcpy(&value, data, sizeof(value));
	return value;
}

CompareResult Order(int32 a, int32 b)
{
	return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
}

}  // namespace

const VValueInfo* VByte::GetValueInfo() const
{
	return &sInfo;
}

void VByte::_Set(int8 value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

void VByte::_SetFrom(const VValueSingle& source)
{
	const int8 value = int8(source.GetWord());
	SetNull(source.IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

void VByte::Clear()
{
	_Set(0);
}

VError VByte::FromJSONValue(const VJSONValue&)
{
	return VE_UNIMPLEMENTED;
}

VError VByte::GetJSONValue(VJSONValue&, uint32) const
{
	return VE_UNIMPLEMENTED;
}

CompareResult VByte::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return Order(fValue, static_cast<const VByte*>(other)->fValue);
}

CompareResult VByte::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return Order(fValue, ReadFlat(other));
}

CompareResult VByte::CompareToSameKind(const VValue* other, bool) const
{
	return Order(fValue, static_cast<const VByte*>(other)->fValue);
}

CompareResult VByte::CompareToSameKindPtr(const void* other, bool) const
{
	return Order(fValue, ReadFlat(other));
}

bool VByte::FromValueSameKind(const VValue* other)
{
	const VByte* source = dynamic_cast<const VByte*>(other);
	if (source == nullptr)
		return false;
	_SetFrom(*source);
	return true;
}

const void* VByte::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlat(data));
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

void* VByte::WriteToPtr(void* data, uint8, uint64 limit) const
{
	if (limit != 0 && limit < sizeof(fValue))
		return data;
	std::memcpy(data, &fValue, sizeof(fValue));
	return static_cast<uint8*>(data) + sizeof(fValue);
}

uint64 VByte::GetSpace(uint64&, uint64) const
{
	return sizeof(fValue);
}

VError VByte::ReadFromStream(VStream*, int32)
{
	return VE_UNIMPLEMENTED;
}

VError VByte::WriteToStream(VStream*, int32) const
{
	return VE_UNIMPLEMENTED;
}

VValue* VByte::Clone() const
{
	VByte* copy = new VByte(fValue);
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

void VByte::GetDuration(VDuration& duration) const
{
	duration.FromWord(fValue);
}

void VByte::GetString(VString& text) const
{
	text.FromWord(fValue);
}

void VByte::GetValue(VValueSingle& value) const
{
	value.FromWord(fValue);
}

void VByte::FromBoolean(uint8 value)
{
	_Set(int8(value));
}

void VByte::FromByte(int8 value)
{
	_Set(value);
}

void VByte::FromWord(int16 value)
{
	_Set(int8(value));
}

void VByte::FromLong(int32 value)
{
	_Set(int8(value));
}

void VByte::FromLong8(int64 value)
{
	_Set(int8(value));
}

void VByte::FromReal(double value)
{
	_Set(int8(VReal::RealToLong(value)));
}

void VByte::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

void VByte::FromString(const VString& text)
{
	_SetFrom(text);
}

void VByte::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

CompareResult VByte::CompareTo(const VValueSingle& other, bool) const
{
	return Order(fValue, other.GetLong());
}

}  // namespace velk
