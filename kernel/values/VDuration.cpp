// A signed span of time counted in milliseconds.
#include "kernel/values/VDuration.h"
#include "kernel/values/VFlatDatum.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"

namespace velk {

const VValueInfo_scalar<VDuration, VK_DURATION, int64> VDuration::sInfo;

namespace {

constexpr int64 kMaxMs = std::numeric_limits<int64>::max();
constexpr int64 kMinMs = std::numeric_limits<int64>::min();

int64 SatAdd(int64 a, int64 b)
{
	int64 sum;
	if (__builtin_add_overflow(a, b, &sum))
		return b > 0 ? kMaxMs : kMinMs;
	return sum;
}

int64 SatSub(int64 a, int64 b)
{
	int64 difference;
	if (__builtin_sub_overflow(a, b, &difference))
		return b < 0 ? kMaxMs : kMinMs;
	return difference;
}

int64 SatMul(int64 a, int64 b)
{
	int64 product;
	if (__builtin_mul_overflow(a, b, &product))
		return ((a < 0) != (b < 0)) ? kMinMs : kMaxMs;
	return product;
}

// Truncation toward zero, with NaN as 0 and the ends of the range for what does not fit (a plain cast
// would be undefined there).
int64 TruncateToInt64(double value)
{
	if (std::isnan(value))
		return 0;
	// 2^63 is exactly representable; every double below it (and at or above -2^63) converts.
	if (value >= 9223372036854775808.0)
		return kMaxMs;
	if (value < -9223372036854775808.0)
		return kMinMs;
	return int64(value);
}

// Milliseconds of a count of seconds, truncated toward zero; a product that lies within the rounding of
// a double of a whole number of milliseconds counts as that number, so that the seconds written for a
// duration (ms / 1000.0) read back as the same milliseconds (1.001 * 1000.0 is 1000.9999999999999).
int64 TruncateSecondsToMilliseconds(double seconds)
{
	const double product = seconds * 1000.0;
	const double nearest = std::nearbyint(product);
	if (std::fabs(product - nearest) <= std::fabs(nearest) * 4 * std::numeric_limits<double>::epsilon())
		return TruncateToInt64(nearest);
	return TruncateToInt64(product);
}

int64 SumOfParts(int32 days, int32 hours, int32 minutes, int32 seconds, int32 ms)
{
	// Each product fits: |int32| * 86400000 < 2^63.
	int64 total = int64(days) * VDuration::kMS_PER_DAY;
	total = SatAdd(total, int64(hours) * VDuration::kMS_PER_HOUR);
	total = SatAdd(total, int64(minutes) * VDuration::kMS_PER_MINUTE);
	total = SatAdd(total, int64(seconds) * VDuration::kMS_PER_SECOND);
	return SatAdd(total, ms);
}

CompareResult CompareMs(int64 a, int64 b)
{
	if (a < b)
		return CR_SMALLER;
	if (a > b)
		return CR_BIGGER;
	return CR_EQUAL;
}

// The "%.14f" form, independent of the process locale.
void AppendFixed14(VString& text, double value)
{
	char buffer[400];
	const auto result = std::to_chars(buffer, buffer + sizeof(buffer) - 1, value, std::chars_format::fixed, 14);
	if (result.ec != std::errc())
		return;
	*result.ptr = 0;
	text.AppendCString(buffer);
}

}  // namespace

int64 VDuration::MillisecondsFromSeconds(double seconds)
{
	if (std::isnan(seconds))
		return 0;
	// Rounding the product rather than truncating it keeps 1.001 s at 1001 ms (1.001 * 1000 is a hair
	// below 1001 as a double).
	return TruncateToInt64(std::round(seconds * 1000.0));
}

VDuration::VDuration(int64 ms) : fMilliseconds(ms)
{
	fFlags = kFLAG_DIRTY;
}

VDuration::VDuration(const VDuration& other) : VValueSingle(), fMilliseconds(other.fMilliseconds)
{
	fFlags = kFLAG_DIRTY;
}

VDuration::VDuration(const int64* data, bool init) : fMilliseconds(init ? 0 : ReadFlatDatum<int64>(data))
{
	fFlags = kFLAG_DIRTY;
}

VDuration& VDuration::operator=(const VDuration& other)
{
	_Set(other.fMilliseconds);
	return *this;
}

VValue* VDuration::Clone() const
{
	return new VDuration(fMilliseconds);
}

void VDuration::Clear()
{
	_Set(0);
}

// ---------------------------------------------------------------------------------------------------------
// Setters and adders

void VDuration::FromNbMilliseconds(int64 ms)
{
	_Set(ms);
}

void VDuration::FromNbSeconds(int64 seconds)
{
	_Set(SatMul(seconds, kMS_PER_SECOND));
}

void VDuration::FromNbMinutes(int64 minutes)
{
	_Set(SatMul(minutes, kMS_PER_MINUTE));
}

void VDuration::FromNbHours(int64 hours)
{
	_Set(SatMul(hours, kMS_PER_HOUR));
}

void VDuration::FromNbDays(int64 days)
{
	_Set(SatMul(days, kMS_PER_DAY));
}

void VDuration::FromDecimalHour(double hours)
{
	_Set(TruncateToInt64(hours * double(kMS_PER_HOUR)));
}

void VDuration::SetDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 ms)
{
	_Set(SumOfParts(days, hours, minutes, seconds, ms));
}

void VDuration::AddDays(int32 days)
{
	_Set(SatAdd(fMilliseconds, int64(days) * kMS_PER_DAY));
}

void VDuration::AddHours(int32 hours)
{
	_Set(SatAdd(fMilliseconds, int64(hours) * kMS_PER_HOUR));
}

void VDuration::AddMinutes(int32 minutes)
{
	_Set(SatAdd(fMilliseconds, int64(minutes) * kMS_PER_MINUTE));
}

void VDuration::AddSeconds(int32 seconds)
{
	_Set(SatAdd(fMilliseconds, int64(seconds) * kMS_PER_SECOND));
}

void VDuration::AddMilliseconds(int64 ms)
{
	_Set(SatAdd(fMilliseconds, ms));
}

void VDuration::AddDecimalHour(double hours)
{
	_Set(SatAdd(fMilliseconds, TruncateToInt64(hours * double(kMS_PER_HOUR))));
}

void VDuration::AddDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 ms)
{
	_Set(SatAdd(fMilliseconds, SumOfParts(days, hours, minutes, seconds, ms)));
}

void VDuration::AdjustDay(int32 days)
{
	_Set(SatAdd(int64(days) * kMS_PER_DAY, fMilliseconds % kMS_PER_DAY));
}

void VDuration::AdjustHour(int32 hours)
{
	_Set(SatAdd(fMilliseconds, (int64(hours) - GetHour()) * kMS_PER_HOUR));
}

void VDuration::AdjustMinute(int32 minutes)
{
	_Set(SatAdd(fMilliseconds, (int64(minutes) - GetMinute()) * kMS_PER_MINUTE));
}

void VDuration::AdjustSecond(int32 seconds)
{
	_Set(SatAdd(fMilliseconds, (int64(seconds) - GetSecond()) * kMS_PER_SECOND));
}

void VDuration::AdjustMillisecond(int32 ms)
{
	_Set(SatAdd(fMilliseconds - GetMillisecond(), ms));
}

void VDuration::GetDuration(int32& days, int32& hours, int32& minutes, int32& seconds, int32& ms) const
{
	if (IsNull())
	{
		days = hours = minutes = seconds = ms = -1;
		return;
	}
	days = int32(GetDay());
	hours = GetHour();
	minutes = GetMinute();
	seconds = GetSecond();
	ms = GetMillisecond();
}

// ---------------------------------------------------------------------------------------------------------
// Arithmetic

void VDuration::Add(const VDuration& other)
{
	fMilliseconds = SatAdd(fMilliseconds, other.fMilliseconds);
}

void VDuration::Substract(const VDuration& other)
{
	fMilliseconds = SatSub(fMilliseconds, other.fMilliseconds);
}

void VDuration::Multiply(double factor)
{
	fMilliseconds = TruncateToInt64(double(fMilliseconds) * factor);
}

void VDuration::Divide(double divisor)
{
	fMilliseconds = TruncateToInt64(double(fMilliseconds) / divisor);
}

double VDuration::Divide(const VDuration& divisor) const
{
	return double(fMilliseconds) / double(divisor.fMilliseconds);
}

int64 VDuration::Remainder(const VDuration& divisor)
{
	const int64 d = divisor.fMilliseconds;
	if (d == 0 || (d == -1 && fMilliseconds == kMinMs))
		return 0;
	const int64 quotient = fMilliseconds / d;
	fMilliseconds %= d;
	return quotient;
}

// ---------------------------------------------------------------------------------------------------------
// Comparison

CompareResult VDuration::CompareTo(const VDuration& other) const
{
	return CompareMs(fMilliseconds, other.fMilliseconds);
}

CompareResult VDuration::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return CompareMs(fMilliseconds, static_cast<const VDuration*>(other)->fMilliseconds);
}

bool VDuration::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return fMilliseconds == static_cast<const VDuration*>(other)->fMilliseconds;
}

CompareResult VDuration::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return CompareMs(fMilliseconds, ReadFlatDatum<int64>(other));
}

bool VDuration::EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return fMilliseconds == ReadFlatDatum<int64>(other);
}

CompareResult VDuration::CompareToSameKind(const VValue* other, bool) const
{
	return CompareMs(fMilliseconds, static_cast<const VDuration*>(other)->fMilliseconds);
}

bool VDuration::EqualToSameKind(const VValue* other, bool) const
{
	return fMilliseconds == static_cast<const VDuration*>(other)->fMilliseconds;
}

CompareResult VDuration::CompareToSameKindPtr(const void* other, bool) const
{
	return CompareMs(fMilliseconds, ReadFlatDatum<int64>(other));
}

bool VDuration::EqualToSameKindPtr(const void* other, bool) const
{
	return fMilliseconds == ReadFlatDatum<int64>(other);
}

CompareResult VDuration::CompareTo(const VValueSingle& other, bool) const
{
	VDuration converted;
	other.GetDuration(converted);
	converted.SetNull(other.IsNull());
	return CompareMs(fMilliseconds, converted.fMilliseconds);
}

bool VDuration::FromValueSameKind(const VValue* other)
{
	const VDuration* duration = dynamic_cast<const VDuration*>(other);
	if (duration == nullptr)
		return false;
	FromDuration(*duration);
	SetNull(duration->IsNull());
	fFlags |= kFLAG_DIRTY;
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// Flat and stream forms

const void* VDuration::LoadFromPtr(const void* data, uint8)
{
	_Set(ReadFlatDatum<int64>(data));
	return static_cast<const uint8*>(data) + sizeof(int64);
}

const void* VDuration::LoadFromPtrBounded(const void* data, uint64 available, uint8)
{
	int64 ms;
	if (!ReadFlatDatum(data, available, ms))
		return nullptr;
	_Set(ms);
	return static_cast<const uint8*>(data) + sizeof(int64);
}

void* VDuration::WriteToPtr(void* data, uint8, uint64 limit) const
{
	return WriteFlatDatum(data, fMilliseconds, limit);
}

uint64 VDuration::GetSpace(uint64&, uint64) const
{
	return sizeof(int64);
}

VError VDuration::ReadFromStream(VStream* stream, int32)
{
	return stream->GetLong8(fMilliseconds);
}

VError VDuration::WriteToStream(VStream* stream, int32) const
{
	return stream->PutLong8(fMilliseconds);
}

// ---------------------------------------------------------------------------------------------------------
// Conversions

void VDuration::GetDuration(VDuration& duration) const
{
	duration.fMilliseconds = fMilliseconds;
}

void VDuration::GetString(VString& text) const
{
	text.Clear();
	if (!IsNull())
		text.AppendLong8(fMilliseconds);
}

void VDuration::GetValue(VValueSingle& value) const
{
	value.FromDuration(*this);
}

void VDuration::FromBoolean(uint8 value)
{
	_Set(value != 0 ? kMS_PER_SECOND : 0);
}

void VDuration::FromByte(int8 value)
{
	_Set(int64(value) * kMS_PER_SECOND);
}

void VDuration::FromWord(int16 value)
{
	_Set(int64(value) * kMS_PER_SECOND);
}

void VDuration::FromLong(int32 value)
{
	_Set(int64(value) * kMS_PER_SECOND);
}

void VDuration::FromLong8(int64 value)
{
	FromNbSeconds(value);
}

void VDuration::FromReal(double seconds)
{
	_Set(MillisecondsFromSeconds(seconds));
}

void VDuration::FromDuration(const VDuration& duration)
{
	_Set(duration.fMilliseconds);
}

void VDuration::FromString(const VString& text)
{
	if (text.FindUniChar(u':') == 0)
	{
		FromNbSeconds(text.GetLong8());
		return;
	}
	std::vector<VString> pieces;
	text.GetSubStrings(u':', pieces, true, true);
	int64 hours = 0, minutes = 0, seconds = 0, ms = 0;
	if (pieces.size() >= 4)
	{
		hours = pieces[0].GetLong8();
		minutes = pieces[1].GetLong8();
		seconds = pieces[2].GetLong8();
		ms = pieces[3].GetLong8();
	}
	else if (pieces.size() == 3)
	{
		hours = pieces[0].GetLong8();
		minutes = pieces[1].GetLong8();
		seconds = pieces[2].GetLong8();
	}
	else if (pieces.size() == 2)
	{
		minutes = pieces[0].GetLong8();
		seconds = pieces[1].GetLong8();
	}
	int64 total = SatMul(hours, kMS_PER_HOUR);
	total = SatAdd(total, SatMul(minutes, kMS_PER_MINUTE));
	total = SatAdd(total, SatMul(seconds, kMS_PER_SECOND));
	_Set(SatAdd(total, ms));
}

void VDuration::FromValue(const VValueSingle& value)
{
	value.GetDuration(*this);
	SetNull(value.IsNull());
	fFlags |= kFLAG_DIRTY;
}

void VDuration::FromRESTValue(const VValueSingle& value)
{
	const int64 ms = value.GetLong8();
	if (ms != 0)
		fMilliseconds = ms;
	else
		value.GetDuration(*this);
	SetNull(value.IsNull());
	fFlags |= kFLAG_DIRTY;
}

// ---------------------------------------------------------------------------------------------------------
// Text forms

void VDuration::GetFormattedString(VString& text) const
{
	if (IsNull())
	{
		text.AppendCString("-1:-1:-1:-1:-1");
		return;
	}
	text.AppendLong8(GetDay());
	text.AppendUniChar(u':');
	text.AppendLong(GetHour());
	text.AppendUniChar(u':');
	text.AppendLong(GetMinute());
	text.AppendUniChar(u':');
	text.AppendLong(GetSecond());
	text.AppendUniChar(u':');
	text.AppendLong(GetMillisecond());
}

void VDuration::GetXMLString(VString& text, uint32 options) const
{
	text.Clear();
	if ((options & 1) == 0)
	{
		text.AppendLong8(ConvertToSeconds());
		return;
	}
	int64 days = -1;
	int32 hours = -1, minutes = -1, seconds = -1, ms = -1;
	if (!IsNull())
	{
		days = GetDay();
		hours = GetHour();
		minutes = GetMinute();
		seconds = GetSecond();
		ms = GetMillisecond();
	}
	text.AppendUniChar(u'P');
	if (days != 0)
	{
		text.AppendLong8(days);
		text.AppendUniChar(u'D');
	}
	text.AppendUniChar(u'T');
	text.AppendLong(hours);
	text.AppendUniChar(u'H');
	text.AppendLong(minutes);
	text.AppendUniChar(u'M');
	if (ms == 0)
		text.AppendLong(seconds);
	else
		AppendFixed14(text, double(seconds) + double(ms) / 1000.0);
	text.AppendUniChar(u'S');
}

bool VDuration::FromXMLString(const VString& text)
{
	if (text.IsEmpty() || text.GetUniChar(1) != u'P')
	{
		FromString(text);
		return true;
	}

	int64 years = 0, months = 0, days = 0, hours = 0, minutes = 0;
	double seconds = 0.0;
	bool inTime = false;
	VString number;
	const UniChar* units = text.GetCPointer();
	const int32 length = text.GetLength();
	for (int32 i = 1; i < length; ++i)
	{
		const UniChar c = units[i];
		int64* target = nullptr;
		bool isSeconds = false;
		if (c == u'T')
		{
			inTime = true;
			continue;
		}
		if (!inTime)
		{
			if (c == u'Y')
				target = &years;
			else if (c == u'M')
				target = &months;
			else if (c == u'D')
				target = &days;
		}
		else
		{
			if (c == u'H')
				target = &hours;
			else if (c == u'M')
				target = &minutes;
			else if (c == u'S')
				isSeconds = true;
		}
		if (target != nullptr)
		{
			*target = number.GetLong();
			number.Clear();
		}
		else if (isSeconds)
		{
			seconds = number.GetReal();
			number.Clear();
		}
		else
		{
			number.AppendUniChar(c);
		}
	}

	int64 total = SatMul(SatAdd(SatAdd(SatMul(years, 360), SatMul(months, 30)), days), kMS_PER_DAY);
	total = SatAdd(total, SatMul(hours, kMS_PER_HOUR));
	total = SatAdd(total, SatMul(minutes, kMS_PER_MINUTE));
	_Set(SatAdd(total, MillisecondsFromSeconds(seconds)));
	return true;
}

VError VDuration::GetJSONString(VString& json, uint32) const
{
	json.Clear();
	json.AppendLong8(fMilliseconds);
	return VE_OK;
}

VError VDuration::FromJSONString(const VString& json, uint32)
{
	_Set(json.GetLong8());
	return VE_OK;
}

VError VDuration::GetJSONValue(VJSONValue& json, uint32 options) const
{
	if (IsNull())
	{
		json.SetNull();
	}
	else if ((options & kJSON_AS_CLOCK_TEXT) != 0)
	{
		// Hours are not reduced to a day; each of the two smaller fields gets a "0" below 10. A negative
		// duration is its sign before the clock text of its length, never a sign inside each field.
		VString text;
		uint64 ms = uint64(fMilliseconds);
		if (fMilliseconds < 0)
		{
			text.AppendUniChar(u'-');
			ms = 0 - ms;
		}
		text.AppendLong8(int64(ms / uint64(kMS_PER_HOUR)));
		for (const uint64 field : {(ms / uint64(kMS_PER_MINUTE)) % 60, (ms / uint64(kMS_PER_SECOND)) % 60})
		{
			text.AppendUniChar(u':');
			if (field <= 9)
				text.AppendUniChar(u'0');
			text.AppendLong8(int64(field));
		}
		json.SetString(text);
	}
	else if ((options & kJSON_IN_MILLISECONDS) != 0)
	{
		json.SetNumber(double(fMilliseconds));
	}
	else
	{
		json.SetNumber(double(fMilliseconds) / 1000.0);
	}
	return VE_OK;
}

VError VDuration::FromJSONValue(const VJSONValue& json)
{
	if (json.IsNull())
		SetNull(true);
	else
		_Set(TruncateSecondsToMilliseconds(json.GetNumber()));
	return VE_OK;
}

}  // namespace velk
