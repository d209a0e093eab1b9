// A signed span of time counted in milliseconds (value kind 9): its arithmetic, components, conversions and
// its text, XML and flat forms.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VELK_API VDuration : public VValueSingle
{
public:
	static constexpr int64 kMS_PER_SECOND = 1000;
	static constexpr int64 kMS_PER_MINUTE = 60000;
	static constexpr int64 kMS_PER_HOUR = 3600000;
	static constexpr int64 kMS_PER_DAY = 86400000;

	// The kind's descriptor, registered by the library's static initialisers.
	static const VValueInfo_scalar<VDuration, VK_DURATION, int64> sInfo;

	// The given span, not null, dirty.
	explicit VDuration(int64 ms = 0);
	// The copy is not null and dirty even when the source is null.
	VDuration(const VDuration& other);
	// init: 0 ms; otherwise the span is read from data (which need not be aligned). Not null, dirty.
	VDuration(const int64* data, bool init);
	~VDuration() override = default;

	// Copies the span; this becomes not null and dirty.
	VDuration& operator=(const VDuration& other);

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	VValue* Clone() const override;
	bool CanBeEvaluated() const override { return true; }
	// 0 ms, not null, dirty.
	void Clear() override;

	// Every product, sum and real result below stops at the ends of the int64 range instead of wrapping;
	// a real that is not a number gives 0.

	// Setters: store, then not null and dirty.
	void FromNbMilliseconds(int64 ms);
	void FromNbSeconds(int64 seconds);
	void FromNbMinutes(int64 minutes);
	void FromNbHours(int64 hours);
	void FromNbDays(int64 days);
	// hours * 3600000 truncated toward zero.
	void FromDecimalHour(double hours);
	void SetDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 ms);

	// Adders: add to the span, then not null and dirty.
	void AddDays(int32 days);
	void AddHours(int32 hours);
	void AddMinutes(int32 minutes);
	void AddSeconds(int32 seconds);
	void AddMilliseconds(int64 ms);
	// hours * 3600000 truncated toward zero.
	void AddDecimalHour(double hours);
	void AddDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 ms);

	// Component setters (not null and dirty afterwards): AdjustDay keeps the part below a day; the others
	// move the span by the difference with the current component; AdjustMillisecond replaces the part
	// below a second.
	void AdjustDay(int32 days);
	void AdjustHour(int32 hours);
	void AdjustMinute(int32 minutes);
	void AdjustSecond(int32 seconds);
	void AdjustMillisecond(int32 ms);

	// Components, each truncated toward zero, so those of a negative span are negative or zero.
	int64 GetDay() const { return fMilliseconds / kMS_PER_DAY; }
	int32 GetHour() const { return int32((fMilliseconds % kMS_PER_DAY) / kMS_PER_HOUR); }
	int32 GetMinute() const { return int32((fMilliseconds % kMS_PER_HOUR) / kMS_PER_MINUTE); }
	int32 GetSecond() const { return int32((fMilliseconds % kMS_PER_MINUTE) / kMS_PER_SECOND); }
	int32 GetMillisecond() const { return int32(fMilliseconds % kMS_PER_SECOND); }
	// The five components; -1 in all five for a null duration.
	void GetDuration(int32& days, int32& hours, int32& minutes, int32& seconds, int32& ms) const;

	int64 ConvertToHours() const { return fMilliseconds / kMS_PER_HOUR; }
	int64 ConvertToMinutes() const { return fMilliseconds / kMS_PER_MINUTE; }
	int64 ConvertToSeconds() const { return fMilliseconds / kMS_PER_SECOND; }
	int64 ConvertToMilliseconds() const { return fMilliseconds; }
	double GetDecimalHour() const { return double(fMilliseconds) / double(kMS_PER_HOUR); }

	// Arithmetic that leaves the flags alone (a null duration stays null).
	void Add(const VDuration& other);
	void Substract(const VDuration& other);
	// The span times or divided by factor, truncated toward zero.
	void Multiply(double factor);
	void Divide(double divisor);
	// The ratio of the two spans under IEEE rules (a zero divisor gives an infinity or NaN).
	double Divide(const VDuration& divisor) const;
	// The span becomes the remainder of its division by divisor (the dividend's sign) and the truncated
	// quotient is answered. A zero divisor, or the smallest span divided by -1, leaves the span unchanged
	// and answers 0.
	int64 Remainder(const VDuration& divisor);

	// Order and equality by the span alone; the null flag is not consulted.
	CompareResult CompareTo(const VDuration& other) const;
	bool operator==(const VDuration& other) const { return fMilliseconds == other.fMilliseconds; }
	bool operator!=(const VDuration& other) const { return fMilliseconds != other.fMilliseconds; }
	bool operator<(const VDuration& other) const { return fMilliseconds < other.fMilliseconds; }
	bool operator<=(const VDuration& other) const { return fMilliseconds <= other.fMilliseconds; }
	bool operator>(const VDuration& other) const { return fMilliseconds > other.fMilliseconds; }
	bool operator>=(const VDuration& other) const { return fMilliseconds >= other.fMilliseconds; }

	// Comparisons with another duration or with its flat form (an int64); options and the diacritical
	// flag play no part. other must be a duration.
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	bool EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	bool EqualToSameKindPtr(const void* other, bool diacritical = false) const override;
	// other's duration (GetDuration) against this span.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
	// Copies another duration and its null state; false (nothing done) when other is not a duration.
	bool FromValueSameKind(const VValue* other) override;

	// Flat form: the span as 8 bytes in host order, unaligned allowed. A limit from 1 to 7 writes nothing.
	// Loading makes the value not null and dirty.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// Null, value unchanged, when available is below 8.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// Stream form: the milliseconds as 8 bytes swapped as the stream says; reading leaves the flags alone.
	// Both answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

	// Conversions out. The integers are the whole seconds cut to their width; GetReal is in seconds;
	// GetLong8OrMilliSeconds is the span itself.
	bool GetBoolean() const override { return fMilliseconds != 0; }
	int8 GetByte() const override { return int8(ConvertToSeconds()); }
	int16 GetWord() const override { return int16(ConvertToSeconds()); }
	int32 GetLong() const override { return int32(ConvertToSeconds()); }
	int64 GetLong8() const override { return ConvertToSeconds(); }
	int64 GetLong8OrMilliSeconds() const override { return fMilliseconds; }
	double GetReal() const override { return double(fMilliseconds) / 1000.0; }
	// Sets the target's span only; its flags are left as they are.
	void GetDuration(VDuration& duration) const override;
	// The span in decimal milliseconds; an empty string for a null duration.
	void GetString(VString& text) const override;
	// The target's FromDuration with this duration.
	void GetValue(VValueSingle& value) const override;

	// Conversions in. Integers count seconds; FromBoolean gives one second or nothing; FromReal counts
	// seconds and rounds to the nearest millisecond.
	void FromBoolean(uint8 value) override;
	void FromByte(int8 value) override;
	void FromWord(int16 value) override;
	void FromLong(int32 value) override;
	void FromLong8(int64 value) override;
	void FromReal(double seconds) override;
	void FromDuration(const VDuration& duration) override;
	// Seconds when the text holds no ':'; otherwise "minutes:seconds", "hours:minutes:seconds" or
	// "hours:minutes:seconds:milliseconds" (pieces trimmed, empty ones read as 0). Unreadable numbers
	// read as 0. Not the inverse of GetString, which writes milliseconds.
	void FromString(const VString& text) override;
	// The value's GetDuration into this duration, then its null state.
	void FromValue(const VValueSingle& value) override;
	// A value whose GetLong8 is not 0 gives that many milliseconds; otherwise as FromValue.
	void FromRESTValue(const VValueSingle& value) override;

	// Appends "days:hours:minutes:seconds:milliseconds" (the text is not cleared first); a null duration
	// appends "-1:-1:-1:-1:-1".
	void GetFormattedString(VString& text) const;

	// Option bit 1 clear: the whole seconds in decimal. Set: ISO 8601 text ("P1DT2H3M4.50000000000000S",
	// "PT1H2M3S"), the same whatever the process locale.
	void GetXMLString(VString& text, uint32 options = 0) const override;
	// Text beginning with 'P' is read as ISO 8601 (a year counts 360 days, a month 30, seconds may have a
	// fraction and are rounded to the nearest millisecond); any other text as FromString. Always true.
	bool FromXMLString(const VString& text) override;

	// The span in decimal milliseconds whatever the null state; answers 0.
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	// The text read as milliseconds; not null, dirty; answers 0.
	VError FromJSONString(const VString& json, uint32 options = 0) override;
	// Options of GetJSONValue.
	static constexpr uint32 kJSON_IN_MILLISECONDS = 2;  // the number of milliseconds, not of seconds
	static constexpr uint32 kJSON_AS_CLOCK_TEXT = 4;     // the string "hours:mm:ss" (3723000 ms: "1:02:03")
	// JSON null for a null duration; otherwise the number of seconds (1500 ms gives 1.5), of milliseconds,
	// or the clock text, by the options. Answers 0.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
	// JSON null makes the duration null; any other JSON value is read as seconds (GetNumber), times 1000
	// truncated toward zero (NaN 0, saturating at the ends of int64), where a product off a whole number
	// of milliseconds by the rounding of a double only counts as that number: the seconds GetJSONValue
	// writes give back the same milliseconds. Not null, dirty. Answers 0.
	VError FromJSONValue(const VJSONValue& json) override;

	// Milliseconds from a count of seconds given as a real: rounded to the nearest millisecond, stopping
	// at the ends of the int64 range; NaN gives 0.
	static int64 MillisecondsFromSeconds(double seconds);

private:
	void _Set(int64 ms)
	{
		fMilliseconds = ms;
		_SetNotNullDirty();
	}
	void _SetNotNullDirty()
	{
		if (IsNull())
			SetNull(false);
		fFlags |= kFLAG_DIRTY;
	}

	int64 fMilliseconds = 0;
};

}  // namespace velk
