// The boolean value (kind 1): one byte, 0 or not 0, with its conversions, flat form, comparisons and
// its XML and JSON texts ("true" and "false").
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VELK_API VBoolean : public VValueSingle
{
public:
	// False, not null, dirty.
	VBoolean() = default;
	// Stores 1 for any non-zero byte; not null, dirty.
	explicit VBoolean(uint8 value) : fValue(value != 0 ? 1 : 0) {}
	// As above with *value when init is 0; false otherwise.
	VBoolean(const uint8* value, uint8 init) : fValue((init == 0 && value != nullptr && *value != 0) ? 1 : 0) {}
	VBoolean(const VBoolean&) = default;
	VBoolean& operator=(const VBoolean&) = default;
	~VBoolean() override = default;

	// The stored byte: FromBoolean and FromByte keep any byte as given.
	uint8 Get() const { return fValue; }

	const VValueInfo* GetValueInfo() const override;
	// False, not null, dirty.
	void Clear() override;

	// "true" or "false" whatever the null state; answers 0.
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	// FromXMLString; a text it refuses makes the value false (not null, dirty). Answers 0.
	VError FromJSONString(const VString& json, uint32 options = 0) override;
	// The JSON value's GetBool (false for JSON null, which makes this value null); dirty. Answers 0.
	VError FromJSONValue(const VJSONValue& json) override;
	// JSON null for a null value, else the JSON boolean; answers 0.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// Same-kind comparisons: other must be a VBoolean, or the flat byte of one. With options (which are not
	// used), the stored bytes are ordered as unsigned numbers, so two different true bytes are unequal.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	// Without options only truth counts (every non-zero byte is the same true); false sorts before true.
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	// Copies value and null state of another VBoolean; false (nothing done) for any other kind.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: one byte, written as 1 for any non-zero value; loading stores (byte != 0).
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, value unchanged, when available is 0.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Stream form: a 16-bit word holding 0 or the byte; reading stores (word != 0), a failed read false,
	// and leaves the flags alone. Both answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;
	// A boolean travels in a stream as a 16-bit word: 2.
	uint64 GetStreamSpace() const override { return 2; }

	VValue* Clone() const override;

	bool GetBoolean() const override { return fValue != 0; }
	// The stored byte sign-extended (GetReal: as an unsigned number).
	int8 GetByte() const override { return int8(fValue); }
	int16 GetWord() const override { return int8(fValue); }
	int32 GetLong() const override { return int8(fValue); }
	int64 GetLong8() const override { return int8(fValue); }
	double GetReal() const override { return fValue; }
	// The target's FromBoolean with the stored byte; the null state is not carried over.
	void GetDuration(VDuration& duration) const override;
	void GetString(VString& text) const override;
	void GetValue(VValueSingle& value) const override;

	// FromBoolean and FromByte store the byte as given; the wider integers store (value != 0); a real
	// stores true unless it is +0.0 or -0.0 (a NaN is true). Each clears null and sets dirty.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double value) override;
	// The source's GetBoolean and null state.
	void FromDuration(const VDuration& duration) override;
	void FromString(const VString& text) override;
	void FromValue(const VValueSingle& value) override;

	// "true" or "false" into the target (through its FromString), whatever the null state.
	void GetXMLString(VString& text, uint32 options = 0) const override;
	// Accepts exactly "1", "0", "true" and "false", the words in any mix of ASCII case: stores the value,
	// clears null, sets dirty and answers true. Any other text answers false and changes nothing.
	bool FromXMLString(const VString& text) override;

	// Against the other value's GetBoolean: equal truths are equal, otherwise true is the bigger.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

	static const VValueInfo_scalar<VBoolean, VK_BOOLEAN, uint8> sInfo;

private:
	void _Set(uint8 value);
	void _SetFrom(const VValueSingle& source);

	uint8 fValue = 0;
};

}  // namespace velk
