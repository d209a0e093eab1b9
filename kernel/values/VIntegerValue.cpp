// The common body of the signed integer values, built once for each of them.
#include "kernel/values/VIntegerValue.h"
#include "kernel/values/VFlatDatum.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VWord.h"
#include "kernel/values/VStream.h"

namespace velk {

namespace {

// Flat data inside packed stores need not be aligned.
CompareResult Order(int64 a, int64 b)
{
	return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL);
}

template <class C>
C ReadAs(const VValueSingle& source)
{
	if constexpr (std::is_same_v<C, int16>)
		return source.GetWord();
	else if constexpr (std::is_same_v<C, int32>)
		return source.GetLong();
	else
		return source.GetLong8();
}

// Called on the target's own type, so each reaches the same function as a direct call would.
template <class Target>
void WriteAs(Target& target, int16 value)
{
	target.FromWord(value);
}

template <class Target>
void WriteAs(Target& target, int32 value)
{
	target.FromLong(value);
}

template <class Target>
void WriteAs(Target& target, int64 value)
{
	target.FromLong8(value);
}

}  // namespace

template <class Derived, class T>
const VValueInfo* VIntegerValue<Derived, T>::GetValueInfo() const
{
	return &Derived::sInfo;
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::_Set(T value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::_Store(T value, bool null)
{
	SetNull(null);
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::_SetFrom(const VValueSingle& source)
{
	const T value = T(ReadAs<Carrier>(source));
	_Store(value, source.IsNull());
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::Clear()
{
	_Set(0);
}

template <class Derived, class T>
VError VIntegerValue<Derived, T>::FromJSONValue(const VJSONValue& json)
{
	const double floored = std::floor(json.GetNumber());
	// A whole number fits T when it lies in [-2^(n-1), 2^(n-1)); both bounds are exact doubles, and NaN
	// fails both tests.
	constexpr double kLowest = double(std::numeric_limits<T>::min());
	const T value = (floored >= kLowest && floored < -kLowest) ? T(floored) : T(0);
	_Store(value, json.IsNull());
	return VE_OK;
}

template <class Derived, class T>
VError VIntegerValue<Derived, T>::GetJSONValue(VJSONValue& json, uint32) const
{
	if (IsNull())
		json.SetNull();
	else
		json.SetNumber(double(fValue));
	return VE_OK;
}

template <class Derived, class T>
CompareResult VIntegerValue<Derived, T>::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return Order(fValue, static_cast<const Derived*>(other)->Get());
}

template <class Derived, class T>
CompareResult VIntegerValue<Derived, T>::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return Order(fValue, ReadFlatDatum<T>(other));
}

template <class Derived, class T>
CompareResult VIntegerValue<Derived, T>::CompareToSameKind(const VValue* other, bool) const
{
	return Order(fValue, static_cast<const Derived*>(other)->Get());
}

template <class Derived, class T>
CompareResult VIntegerValue<Derived, T>::CompareToSameKindPtr(const void* other, bool) const
{
	return Order(fValue, ReadFlatDatum<T>(other));
}

template <class Derived, class T>
bool VIntegerValue<Derived, T>::FromValueSameKind(const VValue* other)
{
	const Derived* source = dynamic_cast<const Derived*>(other);
	if (source == nullptr)
		return false;
	_SetFrom(*source);
	return true;
}

template <class Derived, class T>
const void* VIntegerValue<Derived, T>::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlatDatum<T>(data));
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

template <class Derived, class T>
const void* VIntegerValue<Derived, T>::LoadFromPtrBounded(const void* data, uint64 available, uint8)
{
	T value;
	if (!ReadFlatDatum(data, available, value))
		return nullptr;
	_Set(value);
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

template <class Derived, class T>
void* VIntegerValue<Derived, T>::WriteToPtr(void* data, uint8, uint64 limit) const
{
	return WriteFlatDatum(data, fValue, limit);
}

template <class Derived, class T>
uint64 VIntegerValue<Derived, T>::GetSpace(uint64&, uint64) const
{
	return sizeof(fValue);
}

template <class Derived, class T>
VError VIntegerValue<Derived, T>::ReadFromStream(VStream* stream, int32)
{
	if constexpr (sizeof(T) == 1)
	{
		// The low-order byte of the word, as the stream's byte order defines it.
		uint16 word = 0;
		stream->GetWord(word);
		fValue = T(word & 0xFF);
	}
	else
	{
		T value = 0;
		stream->Get(value);
		fValue = value;
	}
	return stream->GetLastError();
}

template <class Derived, class T>
VError VIntegerValue<Derived, T>::WriteToStream(VStream* stream, int32) const
{
	if constexpr (sizeof(T) == 1)
		return stream->PutWord(int16(fValue));
	else
		return stream->Put(fValue);
}

template <class Derived, class T>
VValue* VIntegerValue<Derived, T>::Clone() const
{
	Derived* copy = new Derived(fValue);
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::GetDuration(VDuration& duration) const
{
	WriteAs(duration, Carrier(fValue));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::GetString(VString& text) const
{
	WriteAs(text, Carrier(fValue));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::GetValue(VValueSingle& value) const
{
	WriteAs(value, Carrier(fValue));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromBoolean(uint8 value)
{
	_Set(T(value));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromByte(int8 value)
{
	_Set(T(value));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromWord(int16 value)
{
	_Set(T(value));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromLong(int32 value)
{
	_Set(T(value));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromLong8(int64 value)
{
	_Set(T(value));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromReal(double value)
{
	if constexpr (std::is_same_v<T, int64>)
		_Set(VReal::RealToLong8(value));
	else
		_Set(T(VReal::RealToLong(value)));
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromString(const VString& text)
{
	_SetFrom(text);
}

template <class Derived, class T>
void VIntegerValue<Derived, T>::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

template <class Derived, class T>
CompareResult VIntegerValue<Derived, T>::CompareTo(const VValueSingle& other, bool) const
{
	return Order(fValue, ReadAs<Wide>(other));
}

template class VIntegerValue<VByte, int8>;
template class VIntegerValue<VWord, int16>;
template class VIntegerValue<VLong, int32>;
template class VIntegerValue<VLong8, int64>;

}  // namespace velk
