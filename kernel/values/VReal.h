// The real value (kind 6, IEEE 754 binary64): conversions, flat form and comparisons within an epsilon,
// and its number texts (XML and JSON forms, radix conversion), which never depend on the process locale.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VELK_API VReal : public VValueSingle
{
public:
	class VValueInfo_real;

	// 0.0, not null, dirty.
	VReal() = default;
	explicit VReal(double value) : fValue(value) {}
	// Not null, dirty; the value is copied from *value when init is 0, else it is 0.0.
	VReal(const double* value, uint8 init) : fValue((init == 0 && value != nullptr) ? *value : 0.0) {}
	VReal(const VReal&) = default;
	VReal& operator=(const VReal&) = default;
	~VReal() override = default;

	double Get() const { return fValue; }

	// The truncation toward zero that every real-to-integer conversion of the value kinds uses: NaN gives
	// 0 and values beyond the target's range saturate at its minimum or maximum.
	static int32 RealToLong(double value);
	static int64 RealToLong8(double value);

	// Orders two reals: a NaN equals a NaN and sorts before every number; numbers closer than epsilon (or
	// exactly equal, infinities included) are equal, others ordered by size. An epsilon of 0 is exact.
	static CompareResult CompareReals(double a, double b, double epsilon);

	const VValueInfo* GetValueInfo() const override;
	// 0.0, not null, dirty.
	void Clear() override;

	// Number texts. Integral values up to 2^53 - 1 in magnitude are written as whole numbers (3, -12,
	// 9007199254740991); others with 14 significant digits ("%.14G": 0.1, 1E+300). The XML form writes
	// "NaN", "INF" and "-INF"; the JSON form writes "null" for all three.
	static void RealToXMLString(double value, VString& text);
	static void RealToJSONString(double value, VString& text);
	// The XML form of the value, whatever its null state.
	void GetXMLString(VString& text, uint32 options = 0) const override;
	// The JSON form of the value, whatever its null state; answers 0.
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	// Reads a whole text as a number, ',' counting as '.': what the C library's strtod accepts in the "C"
	// locale (leading blanks, exponents, hexadecimal, "INF", "nan"...), up to 254 characters, with nothing
	// left over. On success stores it, clears null, sets dirty and answers true; otherwise (trailing text
	// or blanks, an empty text, a longer one) answers false and changes nothing.
	bool FromXMLString(const VString& text) override;
	// FromXMLString; a text it refuses makes the value 0.0 (not null, dirty). Answers 0.
	VError FromJSONString(const VString& json, uint32 options = 0) override;

	// The value in a radix from 2 to 36 (0 means 10), in lower case, with the digits of
	// v8import::DoubleToRadixString: 255 in radix 16 is "ff", 0.5 in radix 2 is "0.1". "NaN", "INF",
	// "-INF" and "0" (either zero) whatever the radix; any other value with a radix outside 2..36 gives
	// the empty string. In radix 10, magnitudes from 1e21 and below 1e-6 take an exponent: "1e+21",
	// "1.5e-7".
	VString ToString(int radix) const;

	// JSON null makes the value null and keeps the number; any other JSON value gives its GetNumber, not
	// null. Dirty either way; answers 0.
	VError FromJSONValue(const VJSONValue& json) override;
	// JSON null for a null value, else the JSON number; answers 0.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// Same-kind comparisons: other must be a VReal, or the 8 bytes of one (not necessarily aligned). The
	// plain forms treat values closer than 1e-6 as equal; the WithOptions forms use the options' epsilon
	// instead, whatever its flags. See CompareReals.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	// Copies value and null state of another VReal; false (nothing done) for any other kind.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the 8 bytes in host order. A non-zero limit below 8 writes nothing.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, value unchanged, when available is below 8.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Stream form: 8 bytes swapped as the stream says; a failed read gives 0 and the flags are not
	// touched. Both answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	VValue* Clone() const override;

	// True for any value but +0.0 and -0.0 (a NaN is true).
	bool GetBoolean() const override { return fValue != 0.0; }
	// Truncated toward zero to 32 bits (see RealToLong), then cut to the low 8 or 16 bits.
	int8 GetByte() const override { return int8(RealToLong(fValue)); }
	int16 GetWord() const override { return int16(RealToLong(fValue)); }
	int32 GetLong() const override { return RealToLong(fValue); }
	int64 GetLong8() const override { return RealToLong8(fValue); }
	double GetReal() const override { return fValue; }
	// The target's FromReal; the null state is not carried over.
	void GetDuration(VDuration& duration) const override;
	void GetString(VString& text) const override;
	void GetValue(VValueSingle& value) const override;

	// A boolean gives 0.0 or the byte as a number; the integers are exact, a 64-bit one the nearest
	// double. Each clears null and sets dirty.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double value) override;
	// The source's GetReal and null state; a null string only makes this value null, keeping the number.
	void FromDuration(const VDuration& duration) override;
	void FromString(const VString& text) override;
	void FromValue(const VValueSingle& value) override;

	// Against the other value's GetReal, equal within 1e-6.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

	static const VValueInfo_real sInfo;

private:
	void _Set(double value);
	void _SetFrom(const VValueSingle& source);

	double fValue = 0.0;
};

// The registered descriptor of kind 6. CompareTwoPtrToData treats reals closer than 1e-6 as equal unless
// its diacritical argument is set (then exact); CompareTwoPtrToDataWithOptions uses the options' epsilon
// when their diacritical flag is clear and is exact when it is set. Both sort a NaN before every number
// and equal to a NaN.
class VELK_API VReal::VValueInfo_real : public VValueInfo_scalar<VReal, VK_REAL, double>
{
public:
	VValueInfo_real() = default;

	CompareResult CompareTwoPtrToData(const void* data1, const void* data2, bool diacritical = false) const override;
	CompareResult CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions& options) const override;
};

}  // namespace velk
