// The 16-bit signed integer value (kind 3): conversions to and from every basic kind, its flat form and
// its comparisons.
#pragma once

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VWord : public VValueSingle
{
public:
	// 0, not null, dirty.
	VWord() = default;
	explicit VWord(int16 value) : fValue(value) {}
	// Not null, dirty; the value is copied from *value when init is 0, else it is 0.
	VWord(const int16* value, uint8 init) : fValue((init == 0 && value != nullptr) ? *value : 0) {}
	VWord(const VWord&) = default;
	VWord& operator=(const VWord&) = default;
	~VWord() override = default;

	int16 Get() const { return fValue; }

	const VValueInfo* GetValueInfo() const override;
	// 0, not null, dirty.
	void Clear() override;

	// JSON values are not built yet: both leave their target as it is and answer velk 2 without raising it.
	VError FromJSONValue(const VJSONValue& json) override;
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// Same-kind comparisons: other must be a VWord, or the 2 bytes of one (not necessarily aligned). Signed
	// order; the options are not used.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	// Copies value and null state of another VWord; false (nothing done) for any other kind.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the 2 bytes in host order. A non-zero limit below 2 writes nothing.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Byte streams are not built yet: nothing is transferred, the value is left as it is, and velk 2 is
	// answered without being raised.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	VValue* Clone() const override;

	bool GetBoolean() const override { return fValue != 0; }
	// The low 8 bits.
	int8 GetByte() const override { return int8(fValue); }
	int16 GetWord() const override { return fValue; }
	int32 GetLong() const override { return fValue; }
	int64 GetLong8() const override { return fValue; }
	double GetReal() const override { return fValue; }
	// The target's FromWord; the null state is not carried over.
	void GetDuration(VDuration& duration) const override;
	void GetString(VString& text) const override;
	void GetValue(VValueSingle& value) const override;

	// Integers keep their low 16 bits; a real is truncated toward zero to 32 bits (NaN gives 0, beyond the
	// 32-bit range it saturates), then keeps its low 16 bits. Each clears null and sets dirty.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double value) override;
	// The source's GetWord and null state; for a string its GetLong cut to the low 16 bits (GetWord of an
	// out-of-range text would give 0).
	void FromDuration(const VDuration& duration) override;
	void FromString(const VString& text) override;
	void FromValue(const VValueSingle& value) override;

	// Against the other value's GetLong.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

	static const VValueInfo_scalar<VWord, VK_WORD, int16> sInfo;

private:
	void _Set(int16 value);
	void _SetFrom(const VValueSingle& source);

	int16 fValue = 0;
};

}  // namespace velk
