// A single scalar-like value: conversions to and from every basic kind, with do-nothing defaults that
// each concrete kind overrides for the conversions it supports.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValue.h"

namespace velk {

class VDuration;
class VTime;
class VUUID;
enum JSONType : uint32;

class VELK_API VValueSingle : public VValue
{
public:
	VValueSingle() = default;
	VValueSingle(const VValueSingle&) = default;
	VValueSingle& operator=(const VValueSingle&) = default;
	~VValueSingle() override = default;

	// With a process object, the value's text (cut to length / 2 units) as UTF-16 in machine order and
	// length set to the bytes written; without one nothing is written and length becomes 0. Answers 2.
	CharSet DebugDump(char* buffer, int& length) const override;
	using VObject::DebugDump;

	const VValueSingle* IsVValueSingle() const override { return this; }
	VValueSingle* IsVValueSingle() override { return this; }

	// JSON forms through the text: FromJSONString and GetJSONString go through FromString and GetString and
	// answer 0. A kind without a JSON value form: FromJSONValue clears the value and GetJSONValue makes the
	// JSON value null, both answering velk 2 without raising it.
	VError FromJSONString(const VString& json, uint32 options = 0) override;
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	VError FromJSONValue(const VJSONValue& json) override;
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	bool CanBeStreamed() const override { return true; }
	// A single value without a stream form of its own (VEmpty) transfers nothing and answers the stream's
	// error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	// Conversions to other kinds: zeros and false by default; the Get forms that fill a value clear it.
	virtual bool GetBoolean() const { return false; }
	virtual int8 GetByte() const { return 0; }
	virtual int16 GetWord() const { return 0; }
	virtual int32 GetLong() const { return 0; }
	virtual int64 GetLong8() const { return 0; }
	virtual int64 GetLong8OrMilliSeconds() const { return GetLong8(); }
	virtual double GetReal() const { return 0.0; }
	virtual void GetDuration(VDuration& duration) const;
	virtual void GetTime(VTime& time) const;
	virtual void GetString(VString& text) const;
	virtual void GetVUUID(VUUID& uuid) const;
	virtual void GetValue(VValueSingle& value) const;

	// Conversions from other kinds: do nothing by default.
	virtual void FromBoolean(uint8 value);
	virtual void FromByte(int8 value);
	virtual void FromWord(int16 value);
	virtual void FromLong(int32 value);
	virtual void FromLong8(int64 value);
	virtual void FromReal(double value);
	virtual void FromDuration(const VDuration& duration);
	virtual void FromTime(const VTime& time);
	virtual void FromString(const VString& text);
	virtual void FromVUUID(const VUUID& uuid);
	virtual void FromValue(const VValueSingle& value);
	virtual void FromRESTValue(const VValueSingle& value) { FromValue(value); }
	virtual void GetXMLString(VString& text, uint32 options = 0) const;
	virtual bool FromXMLString(const VString& text);

	// Order against any single value; diacritical makes case and diacritics significant.
	virtual CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const = 0;
	virtual bool EqualTo(const VValueSingle& other, bool diacritical = false) const;

	// A new value of kind holding this value (through GetValue) and its null state, owned by the caller.
	// Null, without an error, when the kind is not registered or its values are not single values.
	VValueSingle* ConvertTo(ValueKind kind) const;

	// The JSON kind a value kind maps to: boolean true (2), real number (4), time date (8), string string
	// (3); null (0) for every other kind.
	static JSONType ValueKindToJsonType(ValueKind kind);
	// A new value owned by the caller that JSON can carry as a scalar: the integer kinds become a VReal of
	// GetReal with the source's null state; a UUID a VString of its text; a duration a VReal of its
	// milliseconds (durationInMilliseconds) or seconds, null for a null duration; any other kind a clone.
	// Null when memory is short (velk 100 raised).
	static VValueSingle* ConvertVValueToJSONScalar(const VValueSingle& value, bool durationInMilliseconds);
};

}  // namespace velk
