// The boolean value.
#include "kernel/values/VBoolean.h"

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VStream.h"

namespace velk {

namespace {

CompareResult Order(bool a, bool b)
{
	return a == b ? CR_EQUAL : (a ? CR_BIGGER : CR_SMALLER);
}

bool ReadFlat(const void* data)
{
	return *static_cast<const uint8*>(data) != 0;
}

CompareResult OrderBytes(uint8 a, uint8 b)
{
	return a == b ? CR_EQUAL : (a > b ? CR_BIGGER : CR_SMALLER);
}

// The shared texts, made on first use.
const VString& TrueText()
{
	static const VString sText("true");
	return sText;
}

const VString& FalseText()
{
	static const VString sText("false");
	return sText;
}

// The text equals word (lower-case ASCII) with A-Z folded to a-z.
bool EqualsFoldingASCII(const VString& text, const char* word, int32 length)
{
	if (text.GetLength() != length)
		return false;
	const UniChar* units = text.GetCPointer();
	for (int32 i = 0; i < length; ++i)
	{
		UniChar unit = units[i];
		if (unit >= u'A' && unit <= u'Z')
			unit = UniChar(unit + (u'a' - u'A'));
		if (unit != UniChar(word[i]))
			return false;
	}
	return true;
}

}  // namespace

const VValueInfo* VBoolean::GetValueInfo() const
{
	return &sInfo;
}

void VBoolean::_Set(uint8 value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

void VBoolean::_SetFrom(const VValueSingle& source)
{
	const bool value = source.GetBoolean();
	SetNull(source.IsNull());
	fValue = value ? 1 : 0;
	fFlags |= kFLAG_DIRTY;
}

void VBoolean::Clear()
{
	_Set(0);
}

VError VBoolean::GetJSONString(VString& json, uint32) const
{
	json.FromString(fValue != 0 ? TrueText() : FalseText());
	return VE_OK;
}

VError VBoolean::FromJSONString(const VString& json, uint32)
{
	if (!FromXMLString(json))
		_Set(0);
	return VE_OK;
}

VError VBoolean::FromJSONValue(const VJSONValue& json)
{
	SetNull(json.IsNull());
	fValue = json.GetBool() ? 1 : 0;
	fFlags |= kFLAG_DIRTY;
	return VE_OK;
}

VError VBoolean::GetJSONValue(VJSONValue& json, uint32) const
{
	if (IsNull())
		json.SetNull();
	else
		json.SetBool(fValue != 0);
	return VE_OK;
}

CompareResult VBoolean::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return OrderBytes(fValue, static_cast<const VBoolean*>(other)->fValue);
}

CompareResult VBoolean::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return OrderBytes(fValue, *static_cast<const uint8*>(other));
}

CompareResult VBoolean::CompareToSameKind(const VValue* other, bool) const
{
	return Order(fValue != 0, static_cast<const VBoolean*>(other)->fValue != 0);
}

CompareResult VBoolean::CompareToSameKindPtr(const void* other, bool) const
{
	return Order(fValue != 0, ReadFlat(other));
}

bool VBoolean::FromValueSameKind(const VValue* other)
{
	const VBoolean* source = dynamic_cast<const VBoolean*>(other);
	if (source == nullptr)
		return false;
	const uint8 value = source->fValue;
	SetNull(source->IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
	return true;
}

const void* VBoolean::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlat(data) ? 1 : 0);
	return static_cast<const uint8*>(data) + 1;
}

const void* VBoolean::LoadFromPtrBounded(const void* data, uint64 available, uint8 flag)
{
	if (available < 1)
		return nullptr;
	return LoadFromPtr(data, flag);
}

void* VBoolean::WriteToPtr(void* data, uint8, uint64) const
{
	*static_cast<uint8*>(data) = fValue != 0 ? 1 : 0;
	return static_cast<uint8*>(data) + 1;
}

uint64 VBoolean::GetSpace(uint64&, uint64) const
{
	return 1;
}

VError VBoolean::ReadFromStream(VStream* stream, int32)
{
	uint16 word = 0;
	stream->GetWord(word);
	fValue = word != 0 ? 1 : 0;
	return stream->GetLastError();
}

VError VBoolean::WriteToStream(VStream* stream, int32) const
{
	return stream->PutWord(int16(fValue));
}

VValue* VBoolean::Clone() const
{
	VBoolean* copy = new VBoolean();
	copy->fValue = fValue;
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

void VBoolean::GetDuration(VDuration& duration) const
{
	duration.FromBoolean(fValue);
}

void VBoolean::GetString(VString& text) const
{
	text.FromBoolean(fValue);
}

void VBoolean::GetValue(VValueSingle& value) const
{
	value.FromBoolean(fValue);
}

void VBoolean::FromBoolean(uint8 value)
{
	_Set(value);
}

void VBoolean::FromByte(int8 value)
{
	_Set(uint8(value));
}

void VBoolean::FromWord(int16 value)
{
	_Set(value != 0 ? 1 : 0);
}

void VBoolean::FromLong(int32 value)
{
	_Set(value != 0 ? 1 : 0);
}

void VBoolean::FromLong8(int64 value)
{
	_Set(value != 0 ? 1 : 0);
}

void VBoolean::FromReal(double value)
{
	// NaN != 0.0 holds, so a NaN is true.
	_Set(value != 0.0 ? 1 : 0);
}

void VBoolean::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

void VBoolean::FromString(const VString& text)
{
	_SetFrom(text);
}

void VBoolean::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

void VBoolean::GetXMLString(VString& text, uint32) const
{
	text.FromString(fValue != 0 ? TrueText() : FalseText());
}

bool VBoolean::FromXMLString(const VString& text)
{
	uint8 value;
	if (text.GetLength() == 1 && text.GetCPointer()[0] == u'1')
		value = 1;
	else if (text.GetLength() == 1 && text.GetCPointer()[0] == u'0')
		value = 0;
	else if (EqualsFoldingASCII(text, "true", 4))
		value = 1;
	else if (EqualsFoldingASCII(text, "false", 5))
		value = 0;
	else
		return false;
	_Set(value);
	return true;
}

CompareResult VBoolean::CompareTo(const VValueSingle& other, bool) const
{
	return Order(fValue != 0, other.GetBoolean());
}

}  // namespace velk
