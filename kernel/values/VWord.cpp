// The 16-bit signed integer value.
#include "kernel/values/VWord.h"

#include <cstring>

#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VReal.h"

namespace velk {

namespace {

int16 ReadFlat(const void* data)
{
	int16 value;
	std::memcpy(&value, data, sizeof(value));
	return value;
}

CompareResult Order(int32 a, int32 b)
{
	return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
}

}  // namespace

const VValueInfo* VWord::GetValueInfo() const
{
	return &sInfo;
}

void VWord::_Set(int16 value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

void VWord::_SetFrom(const VValueSingle& source)
{
	const int16 value = source.GetWord();
	SetNull(source.IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

void VWord::Clear()
{
	_Set(0);
}

VError VWord::FromJSONValue(const VJSONValue&)
{
	return VE_UNIMPLEMENTED;
}

VError VWord::GetJSONValue(VJSONValue&, uint32) const
{
	return VE_UNIMPLEMENTED;
}

CompareResult VWord::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return Order(fValue, static_cast<const VWord*>(other)->fValue);
}

CompareResult VWord::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return Order(fValue, ReadFlat(other));
}

CompareResult VWord::CompareToSameKind(const VValue* other, bool) const
{
	return Order(fValue, static_cast<const VWord*>(other)->fValue);
}

CompareResult VWord::CompareToSameKindPtr(const void* other, bool) const
{
	return Order(fValue, ReadFlat(other));
}

bool VWord::FromValueSameKind(const VValue* other)
{
	const VWord* source = dynamic_cast<const VWord*>(other);
	if (source == nullptr)
		return false;
	_SetFrom(*source);
	return true;
}

const void* VWord::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlat(data));
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

void* VWord::WriteToPtr(void* data, uint8, uint64 limit) const
{
	if (limit != 0 && limit < sizeof(fValue))
		return data;
	std::memcpy(data, &fValue, sizeof(fValue));
	return static_cast<uint8*>(data) + sizeof(fValue);
}

uint64 VWord::GetSpace(uint64&, uint64) const
{
	return sizeof(fValue);
}

VError VWord::ReadFromStream(VStream*, int32)
{
	return VE_UNIMPLEMENTED;
}

VError VWord::WriteToStream(VStream*, int32) const
{
	return VE_UNIMPLEMENTED;
}

VValue* VWord::Clone() const
{
	VWord* copy = new VWord(fValue);
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

void VWord::GetDuration(VDuration& duration) const
{
	duration.FromWord(fValue);
}

void VWord::GetString(VString& text) const
{
	text.FromWord(fValue);
}

void VWord::GetValue(VValueSingle& value) const
{
	value.FromWord(fValue);
}

void VWord::FromBoolean(uint8 value)
{
	_Set(int16(value));
}

void VWord::FromByte(int8 value)
{
	_Set(value);
}

void VWord::FromWord(int16 value)
{
	_Set(value);
}

void VWord::FromLong(int32 value)
{
	_Set(int16(value));
}

void VWord::FromLong8(int64 value)
{
	_Set(int16(value));
}

void VWord::FromReal(double value)
{
	_Set(int16(VReal::RealToLong(value)));
}

void VWord::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

void VWord::FromString(const VString& text)
{
	const int16 value = int16(text.GetLong());
	SetNull(text.IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

void VWord::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

CompareResult VWord::CompareTo(const VValueSingle& other, bool) const
{
	return Order(fValue, other.GetLong());
}

}  // namespace velk
