// Base of values holding several elements addressed by a 1-based index (the typed arrays): element
// setters that widen into one another, and no ordering of their own.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValue.h"

namespace velk {

class VDuration;
class VTime;

class VELK_API VValueMultiple : public VValue
{
public:
	VValueMultiple() = default;
	VValueMultiple(const VValueMultiple&) = default;
	VValueMultiple& operator=(const VValueMultiple&) = default;
	~VValueMultiple() override = default;

	// Multiple values are not cloned through the value base: answers null.
	VValue* Clone() const override { return nullptr; }
	bool CanBeEvaluated() const override { return false; }

	// The kind of the whole value; 65535 (no kind) by default.
	virtual ValueKind GetValueKind() const { return VK_UNDEFINED; }
	virtual int32 GetCount() const = 0;

	// Store an element at index. Integers widen step by step (boolean to word, byte and word to long,
	// long and long8 to real) until a kind handles them; the real, text, duration and time forms do nothing
	// by default.
	virtual void FromBoolean(uint8 value, int32 index);
	virtual void FromByte(int8 value, int32 index);
	virtual void FromWord(int16 value, int32 index);
	virtual void FromLong(int32 value, int32 index);
	virtual void FromLong8(int64 value, int32 index);
	virtual void FromReal(double value, int32 index);
	virtual void FromString(const VString& text, int32 index);
	virtual void FromDuration(const VDuration& duration, int32 index);
	virtual void FromTime(const VTime& time, int32 index);

	// Orders the element at index against value; CR_UNRELEVANT by default.
	virtual CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 index) const;
};

}  // namespace velk
