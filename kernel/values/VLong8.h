// The 64-bit signed integer value (kind 5): conversions to and from every basic kind, its flat form and
// its comparisons.
#pragma once

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VLong8 : public VValueSingle
{
public:
	// 0, not null, dirty.
	VLong8() = default;
	explicit VLong8(int64 value) : fValue(value) {}
	// Not null, dirty; the value is copied from *value when init is 0, else it is 0.
	VLong8(const int64* value, uint8 init) : fValue((init == 0 && value != nullptr) ? *value : 0) {}
	VLong8(const VLong8&) = default;
	VLong8& operator=(const VLong8&) = default;
	~VLong8() override = default;

	int64 Get() const { return fValue; }

	const VValueInfo* GetValueInfo() const override;
	// 0, not null, dirty.
	void Clear() override;

	// JSON values are not built yet: both leave their target as it is and answer velk 2 without raising it.
	VError FromJSONValue(const VJSONValue& json) override;
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// Same-kind comparisons: other must be a VLong8, or the 8 bytes of one (not necessarily aligned). Signed
	// order; the options are not used.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	// Copies value and null state of another VLong8; false (nothing done) for any other kind.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the 8 bytes in host order. A non-zero limit below 8 writes nothing.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Byte streams are not built yet: nothing is transferred, the value is left as it is, and velk 2 is
	// answered without being raised.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	VValue* Clone() const override;

	bool GetBoolean() const override { return fValue != 0; }
	// The low 8, 16 or 32 bits.
	int8 GetByte() const override { return int8(fValue); }
	int16 GetWord() const override { return int16(fValue); }
	int32 GetLong() const override { return int32(fValue); }
	int64 GetLong8() const override { return fValue; }
	// The nearest double.
	double GetReal() const override { return double(fValue); }
	// The target's FromLong8; the null state is not carried over.
	void GetDuration(VDuration& duration) const override;
	void GetString(VString& text) const override;
	void GetValue(VValueSingle& value) const override;

	// A boolean is zero-extended, the other integers sign-extended; a real is truncated toward zero (NaN
	// gives 0, beyond the 64-bit range it saturates). Each clears null and sets dirty.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double value) override;
	// The source's GetLong8 and null state; a null string only makes this value null, keeping the number.
	void FromDuration(const VDuration& duration) override;
	void FromString(const VString& text) override;
	void FromValue(const VValueSingle& value) override;

	// Against the other value's GetLong8.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

	static const VValueInfo_scalar<VLong8, VK_LONG8, int64> sInfo;

private:
	void _Set(int64 value);
	void _SetFrom(const VValueSingle& source);

	int64 fValue = 0;
};

}  // namespace velk
