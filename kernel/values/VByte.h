// The 8-bit signed integer value (kind 2): conversions to and from every basic kind, its flat form and
// its comparisons.
#pragma once

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VByte : public VValueSingle
{
public:
	// 0, not null, dirty.
	VByte() = default;
	explicit VByte(int8 value) : fValue(value) {}
	// Not null, dirty; the value is copied from *value when init is 0, else it is 0.
	VByte(const int8* value, uint8 init) : fValue((init == 0 && value != nullptr) ? *value : 0) {}
	VByte(const VByte&) = default;
	VByte& operator=(const VByte&) = default;
	~VByte() override = default;

	int8 Get() const { return fValue; }

	const VValueInfo* GetValueInfo() const override;
	// 0, not null, dirty.
	void Clear() override;

	// JSON values are not built yet: both leave their target as it is and answer velk 2 without raising it.
	VError FromJSONValue(const VJSONValue& json) override;
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// Same-kind comparisons: other must be a VByte, or the byte of one. Signed order; the options are not
	// used.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	// Copies value and null state of another VByte; false (nothing done) for any other kind.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the one byte.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Byte streams are not built yet: nothing is transferred, the value is left as it is, and velk 2 is
	// answered without being raised.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;
	// A byte travels in a stream as a 16-bit word: 2.
	uint64 GetStreamSpace() const override { return 2; }

	VValue* Clone() const override;

	bool GetBoolean() const override { return fValue != 0; }
	// Sign-extended.
	int8 GetByte() const override { return fValue; }
	int16 GetWord() const override { return fValue; }
	int32 GetLong() const override { return fValue; }
	int64 GetLong8() const override { return fValue; }
	double GetReal() const override { return fValue; }
	// The target's FromWord with the byte sign-extended; the null state is not carried over.
	void GetDuration(VDuration& duration) const override;
	void GetString(VString& text) const override;
	void GetValue(VValueSingle& value) const override;

	// Integers keep their low 8 bits; a real is truncated toward zero to 32 bits (NaN gives 0, beyond the
	// 32-bit range it saturates), then keeps its low 8 bits. Each clears null and sets dirty.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double value) override;
	// The source's GetWord cut to its low 8 bits, and its null state.
	void FromDuration(const VDuration& duration) override;
	void FromString(const VString& text) override;
	void FromValue(const VValueSingle& value) override;

	// Against the other value's GetLong.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

	static const VValueInfo_scalar<VByte, VK_BYTE, int8> sInfo;

private:
	void _Set(int8 value);
	void _SetFrom(const VValueSingle& source);

	int8 fValue = 0;
};

}  // namespace velk
