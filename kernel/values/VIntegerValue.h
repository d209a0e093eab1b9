// The common body of the signed integer values (VByte, VWord, VLong, VLong8): storage, flat form,
// comparisons, copies and the conversions that only differ by width. Derived is the concrete class.
#pragma once

#include "kernel/VExport.h"

#include <type_traits>

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

template <class Derived, class T>
class VELK_API VIntegerValue : public VValueSingle
{
	static_assert(std::is_integral_v<T> && std::is_signed_v<T>, "a signed integer");

public:
	// The width values of the kind are read and written as when they cross to another kind: a byte goes
	// as a 16-bit word, the others as themselves.
	using Carrier = std::conditional_t<(sizeof(T) < sizeof(int16)), int16, T>;
	// The width CompareTo reads the other value in: 32 bits, 64 for a 64-bit value.
	using Wide = std::conditional_t<(sizeof(T) < sizeof(int64)), int32, int64>;

	// 0, not null, dirty.
	VIntegerValue() = default;
	explicit VIntegerValue(T value) : fValue(value) {}
	// Not null, dirty; the value is copied from *value when init is 0, else it is 0.
	VIntegerValue(const T* value, uint8 init) : fValue((init == 0 && value != nullptr) ? *value : 0) {}
	VIntegerValue(const VIntegerValue&) = default;
	VIntegerValue& operator=(const VIntegerValue&) = default;
	~VIntegerValue() override = default;

	T Get() const { return fValue; }

	// Derived::sInfo.
	const VValueInfo* GetValueInfo() const override;
	// 0, not null, dirty.
	void Clear() override;

	// The floor of the JSON value's GetNumber when it fits T, else 0 (300 gives 0 in a byte, -2.5 gives -3);
	// JSON null makes the value null and 0. Dirty; answers 0.
	VError FromJSONValue(const VJSONValue& json) override;
	// JSON null for a null value, else the JSON number; answers 0.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// Same-kind comparisons: other must be a Derived, or the flat bytes of one (not necessarily aligned).
	// Signed order; the options are not used.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	// Copies value and null state of another Derived; false (nothing done) for any other kind.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the sizeof(T) bytes in host order. A non-zero limit below that writes nothing.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, value unchanged, when available is below sizeof(T).
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Stream form: the value in its width (a byte as a sign-extended 16-bit word), swapped as the stream
	// says. Reading stores into a zeroed word, so a failed read gives 0; the flags are not touched. Both
	// answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	// A copy of the same Derived, dirty.
	VValue* Clone() const override;

	// Narrower kinds get the low bits, wider ones the value sign-extended; a real the nearest double.
	bool GetBoolean() const override { return fValue != 0; }
	int8 GetByte() const override { return int8(fValue); }
	int16 GetWord() const override { return int16(fValue); }
	int32 GetLong() const override { return int32(fValue); }
	int64 GetLong8() const override { return fValue; }
	double GetReal() const override { return double(fValue); }
	// The target's From call of the Carrier width; the null state is not carried over.
	void GetDuration(VDuration& duration) const override;
	void GetString(VString& text) const override;
	void GetValue(VValueSingle& value) const override;

	// Integers keep their low bits (a boolean is zero-extended, narrower integers sign-extended); a real is
	// truncated toward zero (NaN gives 0, beyond the range it saturates) to 32 bits, or to 64 for a 64-bit
	// value, then keeps its low bits. Each clears null and sets dirty.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double value) override;
	// The source's value read at the Carrier width, cut to T, and its null state.
	void FromDuration(const VDuration& duration) override;
	void FromString(const VString& text) override;
	void FromValue(const VValueSingle& value) override;

	// Against the other value read at the Wide width.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

protected:
	void _Set(T value);
	// Stores a value already read from a source, with the source's null state; sets dirty.
	void _Store(T value, bool null);
	void _SetFrom(const VValueSingle& source);

private:
	T fValue = 0;
};

}  // namespace velk
