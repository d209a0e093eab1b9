// The real value and its number texts.
#include "kernel/values/VReal.h"
#include "kernel/values/VFlatDatum.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VNumberText.h"
#include "kernel/values/VStream.h"

namespace velk {

namespace {

// Reals closer than this are equal in the comparisons without options.
constexpr double kREAL_EPSILON = 0.000001;

// Largest magnitude below which every integer is a double: 2^53 - 1.
constexpr double kLARGEST_WHOLE = 9007199254740991.0;

// Room for the radix digits of any double (1024 integer digits in radix 2 on one side of the middle,
// 1074 fraction digits on the other).
constexpr size_t kRADIX_ROOM = 2200;

// Number texts of the longest form: "%.14G" or a 64-bit integer.
constexpr size_t kREAL_TEXT_ROOM = 32;

// The longest text FromXMLString reads: it would need more than 254 bytes of UTF-8 otherwise.
constexpr int32 kLONGEST_REAL_TEXT = 254;

// The value as a whole number when it is one that every double up to 2^53 - 1 can hold exactly.
bool AsWholeNumber(double value, int64& whole)
{
	if (!(value >= -kLARGEST_WHOLE && value <= kLARGEST_WHOLE))
		return false;
	const int64 truncated = int64(value);
	if (double(truncated) != value)
		return false;
	whole = truncated;
	return true;
}

void SetASCII(VString& text, const char* ascii)
{
	text.Clear();
	text.AppendCString(ascii);
}

// The text of a finite real that is not a whole number in range.
void SetG14(VString& text, double value)
{
	char buffer[kREAL_TEXT_ROOM];
	VNumberText::FormatG14(value, buffer);
	SetASCII(text, buffer);
}

}  // namespace

int32 VReal::RealToLong(double value)
{
	if (std::isnan(value))
		return 0;
	if (value >= 2147483648.0)
		return std::numeric_limits<int32>::max();
	if (value <= -2147483649.0)
		return std::numeric_limits<int32>::min();
	return int32(value);
}

int64 VReal::RealToLong8(double value)
{
	if (std::isnan(value))
		return 0;
	// 2^63 is the first double above the range; -2^63 itself is in it.
	if (value >= 9223372036854775808.0)
		return std::numeric_limits<int64>::max();
	if (value < -9223372036854775808.0)
		return std::numeric_limits<int64>::min();
	return int64(value);
}

CompareResult VReal::CompareReals(double a, double b, double epsilon)
{
	const bool aIsNaN = std::isnan(a);
	const bool bIsNaN = std::isnan(b);
	if (aIsNaN || bIsNaN)
		return aIsNaN == bIsNaN ? CR_EQUAL : (aIsNaN ? CR_SMALLER : CR_BIGGER);
	// Equal infinities differ by NaN, hence the exact test first.
	if (a == b || std::fabs(a - b) < epsilon)
		return CR_EQUAL;
	return a > b ? CR_BIGGER : CR_SMALLER;
}

const VValueInfo* VReal::GetValueInfo() const
{
	return &sInfo;
}

void VReal::_Set(double value)
{
	fValue = value;
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

void VReal::_SetFrom(const VValueSingle& source)
{
	const double value = source.GetReal();
	SetNull(source.IsNull());
	fValue = value;
	fFlags |= kFLAG_DIRTY;
}

void VReal::Clear()
{
	_Set(0.0);
}

void VReal::RealToXMLString(double value, VString& text)
{
	int64 whole;
	if (AsWholeNumber(value, whole))
		text.FromLong8(whole);
	else if (std::isnan(value))
		SetASCII(text, "NaN");
	else if (std::isinf(value))
		SetASCII(text, value > 0 ? "INF" : "-INF");
	else
		SetG14(text, value);
}

void VReal::RealToJSONString(double value, VString& text)
{
	int64 whole;
	if (AsWholeNumber(value, whole))
		text.FromLong8(whole);
	else if (!std::isfinite(value))
		SetASCII(text, "null");
	else
		SetG14(text, value);
}

void VReal::GetXMLString(VString& text, uint32) const
{
	RealToXMLString(fValue, text);
}

VError VReal::GetJSONString(VString& json, uint32) const
{
	RealToJSONString(fValue, json);
	return VE_OK;
}

bool VReal::FromXMLString(const VString& text)
{
	// Only ASCII can be read by strtod in the "C" locale, so the UTF-8 text is narrowed straight from the
	// units: any other unit (or a 0 inside the text) would stop the parse before the end anyway.
	const int32 length = text.GetLength();
	if (length > kLONGEST_REAL_TEXT)
		return false;
	const UniChar* units = text.GetCPointer();
	char ascii[kLONGEST_REAL_TEXT + 1];
	for (int32 i = 0; i < length; ++i)
	{
		const UniChar unit = units[i];
		if (unit == 0 || unit >= 0x80)
			return false;
		ascii[i] = unit == u',' ? '.' : char(unit);
	}
	ascii[length] = 0;
	double value;
	if (!VNumberText::ParseWhole(ascii, size_t(length), value))
		return false;
	_Set(value);
	return true;
}

VError VReal::FromJSONString(const VString& json, uint32)
{
	if (!FromXMLString(json))
		_Set(0.0);
	return VE_OK;
}

VString VReal::ToString(int radix) const
{
	VString result;
	double value = fValue;
	if (std::isnan(value))
	{
		result.AppendCString("NaN");
		return result;
	}
	if (value == 0.0)
	{
		result.AppendCString("0");
		return result;
	}
	if (radix == 0)
		radix = 10;
	if (radix < 2 || radix > 36)
		return result;
	if (value < 0.0)
	{
		result.AppendCString("-");
		value = -value;
	}
	if (std::isinf(value))
	{
		result.AppendCString("INF");
		return result;
	}

	char digits[kRADIX_ROOM + 1];
	const size_t length = v8import::DoubleToRadixString(value, radix, digits, kRADIX_ROOM);
	digits[length] = 0;
	if (radix != 10 || length < 2)
	{
		result.AppendCString(digits);
		return result;
	}

	// The decimal exponent k: the count of integer digits, or minus the zeros behind "0." of a value
	// below 1.
	int32 k;
	size_t first = 0;
	if (digits[0] == '0')
	{
		if (length < 3)
		{
			result.AppendCString(digits);
			return result;
		}
		first = 2;
		while (first < length && digits[first] == '0')
			++first;
		k = -int32(first - 2);
	}
	else
	{
		const void* point = std::memchr(digits, '.', length);
		k = point != nullptr ? int32(static_cast<const char*>(point) - digits) : int32(length);
	}
	if (k > -6 && k < 22)
	{
		result.AppendCString(digits);
		return result;
	}

	char text[kRADIX_ROOM + 16];
	size_t used = 0;
	if (k >= 22)
	{
		// The first digit, then the others without the point and without trailing zeros.
		text[used++] = digits[0];
		size_t end = length;
		while (end > 1 && (digits[end - 1] == '0' || digits[end - 1] == '.'))
			--end;
		if (end > 1)
		{
			text[used++] = '.';
			for (size_t i = 1; i < end; ++i)
			{
				if (digits[i] != '.')
					text[used++] = digits[i];
			}
		}
		text[used++] = 'e';
		text[used++] = '+';
		used = size_t(std::to_chars(text + used, text + sizeof(text), k - 1).ptr - text);
	}
	else
	{
		text[used++] = digits[first];
		if (first + 1 < length)
		{
			text[used++] = '.';
			std::memcpy(text + used, digits + first + 1, length - first - 1);
			used += length - first - 1;
		}
		text[used++] = 'e';
		text[used++] = '-';
		used = size_t(std::to_chars(text + used, text + sizeof(text), 1 - k).ptr - text);
	}
	text[used] = 0;
	result.AppendCString(text);
	return result;
}

VError VReal::FromJSONValue(const VJSONValue& json)
{
	if (json.IsNull())
	{
		SetNull(true);
		fFlags |= kFLAG_DIRTY;
		return VE_OK;
	}
	_Set(json.GetNumber());
	return VE_OK;
}

VError VReal::GetJSONValue(VJSONValue& json, uint32) const
{
	if (IsNull())
		json.SetNull();
	else
		json.SetNumber(fValue);
	return VE_OK;
}

CompareResult VReal::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
	return CompareReals(fValue, static_cast<const VReal*>(other)->fValue, options.GetEpsilon());
}

CompareResult VReal::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	return CompareReals(fValue, ReadFlatDatum<double>(other), options.GetEpsilon());
}

CompareResult VReal::CompareToSameKind(const VValue* other, bool) const
{
	return CompareReals(fValue, static_cast<const VReal*>(other)->fValue, kREAL_EPSILON);
}

CompareResult VReal::CompareToSameKindPtr(const void* other, bool) const
{
	return CompareReals(fValue, ReadFlatDatum<double>(other), kREAL_EPSILON);
}

bool VReal::FromValueSameKind(const VValue* other)
{
	const VReal* source = dynamic_cast<const VReal*>(other);
	if (source == nullptr)
		return false;
	_SetFrom(*source);
	return true;
}

const void* VReal::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlatDatum<double>(data));
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

const void* VReal::LoadFromPtrBounded(const void* data, uint64 available, uint8)
{
	double value;
	if (!ReadFlatDatum(data, available, value))
		return nullptr;
	_Set(value);
	return static_cast<const uint8*>(data) + sizeof(fValue);
}

void* VReal::WriteToPtr(void* data, uint8, uint64 limit) const
{
	return WriteFlatDatum(data, fValue, limit);
}

uint64 VReal::GetSpace(uint64&, uint64) const
{
	return sizeof(fValue);
}

VError VReal::ReadFromStream(VStream* stream, int32)
{
	return stream->GetReal(fValue);
}

VError VReal::WriteToStream(VStream* stream, int32) const
{
	return stream->PutReal(fValue);
}

VValue* VReal::Clone() const
{
	VReal* copy = new VReal(fValue);
	copy->fFlags = uint8(fFlags | kFLAG_DIRTY);
	return copy;
}

void VReal::GetDuration(VDuration& duration) const
{
	duration.FromReal(fValue);
}

void VReal::GetString(VString& text) const
{
	text.FromReal(fValue);
}

void VReal::GetValue(VValueSingle& value) const
{
	value.FromReal(fValue);
}

void VReal::FromBoolean(uint8 value)
{
	_Set(double(value));
}

void VReal::FromByte(int8 value)
{
	_Set(value);
}

void VReal::FromWord(int16 value)
{
	_Set(value);
}

void VReal::FromLong(int32 value)
{
	_Set(value);
}

void VReal::FromLong8(int64 value)
{
	_Set(double(value));
}

void VReal::FromReal(double value)
{
	_Set(value);
}

void VReal::FromDuration(const VDuration& duration)
{
	_SetFrom(duration);
}

void VReal::FromString(const VString& text)
{
	if (text.IsNull())
	{
		SetNull(true);
		fFlags |= kFLAG_DIRTY;
		return;
	}
	_SetFrom(text);
}

void VReal::FromValue(const VValueSingle& value)
{
	_SetFrom(value);
}

CompareResult VReal::CompareTo(const VValueSingle& other, bool) const
{
	return CompareReals(fValue, other.GetReal(), kREAL_EPSILON);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToData(const void* data1, const void* data2, bool diacritical) const
{
	return CompareReals(ReadFlatDatum<double>(data1), ReadFlatDatum<double>(data2), diacritical ? 0.0 : kREAL_EPSILON);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions& options) const
{
	return CompareReals(ReadFlatDatum<double>(data1), ReadFlatDatum<double>(data2), options.IsDiacritical() ? 0.0 : options.GetEpsilon());
}

}  // namespace velk
