// The value kinds as JSON values: what each kind gives (null or not, by option), what each reads back from
// the JSON kinds (integer ranges and floors, null handling, duration truncation), and the JSON scalar
// helpers of single values.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VUUID.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VWord.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

using Maker = std::function<VValueSingle*()>;

template <class T, class... A>
Maker Value(A... args)
{
	return [=] { return new T(args...); };
}

template <class T, class... A>
Maker Null(A... args)
{
	return [=] {
		T* value = new T(args...);
		value->SetNull(true);
		return value;
	};
}

Maker Time(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second)
{
	return [=] {
		VTime* time = new VTime();
		time->FromUTCTime(year, month, day, hour, minute, second, 0);
		return time;
	};
}

std::u16string Text(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// One number for every non-text kind: a time as yyyymmddhhmmss in UTC, a duration as milliseconds, a
// real as itself, the integer kinds and booleans as their GetLong8.
double Reading(const VValueSingle& value)
{
	if (const VTime* time = dynamic_cast<const VTime*>(&value))
	{
		int16 f[7];
		time->GetUTCTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
		double packed = 0;
		for (int i = 0; i < 6; ++i)
			packed = packed * (i == 0 ? 1 : 100) + f[i];
		return packed;
	}
	if (dynamic_cast<const VDuration*>(&value) != nullptr)
		return double(value.GetLong8OrMilliSeconds());
	if (dynamic_cast<const VReal*>(&value) != nullptr)
		return value.GetReal();
	return double(value.GetLong8());
}

// Strings have no registered descriptor yet.
ValueKind KindOf(const VValueSingle& value)
{
	if (const VValueInfo* info = value.GetValueInfo())
		return info->GetKind();
	return dynamic_cast<const VString*>(&value) != nullptr ? VK_STRING : VK_UNDEFINED;
}

VJSONValue Json(const char* text)
{
	return VJSONValue(VString(text));
}

VJSONValue Array(std::initializer_list<VJSONValue> elements)
{
	VJSONValue array(JSON_array);
	for (const VJSONValue& element : elements)
		array.GetArray()->Push(element);
	return array;
}

TEST(VValueJSONTest, GetJSONValueByKindNullStateAndOptions)
{
	struct Row
	{
		const char* name;
		Maker make;
		uint32 options;
		VError answer;
		VError raised;
		JSONType type;
		double number;        // JSON numbers; a JSON date as yyyymmdd
		const char* text;     // JSON strings
	};
	const VError unimpl = VE_UNIMPLEMENTED;
	const Row rows[] = {
		{"boolean true", Value<VBoolean>(uint8(1)), 0, VE_OK, VE_OK, JSON_true, 0, nullptr},
		{"boolean false", Value<VBoolean>(uint8(0)), 0, VE_OK, VE_OK, JSON_false, 0, nullptr},
		{"boolean null", Null<VBoolean>(uint8(1)), 0, VE_OK, VE_OK, JSON_null, 0, nullptr},
		{"byte", Value<VByte>(int8(-5)), 0, VE_OK, VE_OK, JSON_number, -5, nullptr},
		{"long8 2^53", Value<VLong8>(int64(1) << 53), 0, VE_OK, VE_OK, JSON_number, 9007199254740992.0, nullptr},
		{"long8 null", Null<VLong8>(int64(4)), 0, VE_OK, VE_OK, JSON_null, 0, nullptr},
		{"real", Value<VReal>(-2.5), 0, VE_OK, VE_OK, JSON_number, -2.5, nullptr},
		{"real null", Null<VReal>(2.5), 0, VE_OK, VE_OK, JSON_null, 0, nullptr},
		{"duration in seconds", Value<VDuration>(int64(1500)), 0, VE_OK, VE_OK, JSON_number, 1.5, nullptr},
		{"duration in ms", Value<VDuration>(int64(1500)), 2, VE_OK, VE_OK, JSON_number, 1500, nullptr},
		{"duration as clock", Value<VDuration>(int64(1500)), 4, VE_OK, VE_OK, JSON_string, 0, "0:00:01"},
		{"duration clock h:mm:ss", Value<VDuration>(int64(3723000)), 4, VE_OK, VE_OK, JSON_string, 0, "1:02:03"},
		{"negative duration as clock", Value<VDuration>(int64(-3723000)), 4, VE_OK, VE_OK, JSON_string, 0, "-1:02:03"},
		{"duration clock past a day", Value<VDuration>(int64(90061000)), 4 | 2, VE_OK, VE_OK, JSON_string, 0, "25:01:01"},
		{"duration null", Null<VDuration>(int64(1500)), 4, VE_OK, VE_OK, JSON_null, 0, nullptr},
		{"string", Value<VString>("abc"), 0, VE_OK, VE_OK, JSON_string, 0, "abc"},
		{"empty string", Value<VString>(""), 0, VE_OK, VE_OK, JSON_string, 0, ""},
		{"null string", Value<VString>(true), 0, VE_OK, VE_OK, JSON_null, 0, nullptr},
		{"time as date", Time(2024, 3, 5, 7, 8, 9), 1, VE_OK, VE_OK, JSON_date, 20240305, nullptr},
		{"null time", Null<VTime>(), 1, VE_OK, VE_OK, JSON_null, 0, nullptr},
		{"time as text", Time(2024, 3, 5, 7, 8, 9), 0, VE_OK, VE_OK, JSON_string, 0, "2024-03-05T07:08:09.000Z"},
		// A kind without a JSON form gives null, without raising.
		{"empty kind", Value<VEmpty>(), 0, unimpl, VE_OK, JSON_null, 0, nullptr},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::unique_ptr<VValueSingle> value(row.make());
		VJSONValue json(JSON_undefined);
		VTask::FlushErrors();
		EXPECT_EQ(value->GetJSONValue(json, row.options), row.answer);
		EXPECT_EQ(VTask::GetLastError(), row.raised);
		VTask::FlushErrors();
		ASSERT_EQ(json.GetType(), row.type);
		if (row.type == JSON_number)
		{
			EXPECT_EQ(json.GetNumber(), row.number);
		}
		if (row.type == JSON_string)
		{
			EXPECT_EQ(Text(json.GetString()), Text(VString(row.text)));
		}
		if (row.type == JSON_date)
		{
			int16 year, month, day;
			ASSERT_TRUE(json.GetDate(&year, &month, &day));
			EXPECT_EQ(year * 10000 + month * 100 + day, row.number);
		}
	}
}

TEST(VValueJSONTest, FromJSONValueByKind)
{
	struct Row
	{
		const char* name;
		Maker make;
		VJSONValue json;
		VError answer;
		VError raised;
		bool null;
		std::optional<double> reading;  // see Reading; none for a null whose number is not fixed
		const char* text = nullptr;     // for strings, instead of the reading
	};
	const VError unimpl = VE_UNIMPLEMENTED;
	const double nan = std::numeric_limits<double>::quiet_NaN();
	const Row rows[] = {
		// The floor when it fits the width, else 0.
		{"long floor", Value<VLong>(9), VJSONValue(2.7), VE_OK, VE_OK, false, 2},
		{"long floor negative", Value<VLong>(9), VJSONValue(-2.5), VE_OK, VE_OK, false, -3},
		{"long from null", Value<VLong>(9), VJSONValue(JSON_null), VE_OK, VE_OK, true, 0},
		{"long from text", Value<VLong>(9), Json("12.5"), VE_OK, VE_OK, false, 12},
		{"long from undefined", Null<VLong>(9), VJSONValue(JSON_undefined), VE_OK, VE_OK, false, 0},
		{"long top", Value<VLong>(9), VJSONValue(2147483647.9), VE_OK, VE_OK, false, 2147483647},
		{"long over", Value<VLong>(9), VJSONValue(2147483648.0), VE_OK, VE_OK, false, 0},
		{"long under", Value<VLong>(9), VJSONValue(-2147483648.5), VE_OK, VE_OK, false, 0},
		{"long NaN", Value<VLong>(9), VJSONValue(nan), VE_OK, VE_OK, false, 0},
		{"byte over", Value<VByte>(int8(9)), VJSONValue(300.0), VE_OK, VE_OK, false, 0},
		{"byte top", Value<VByte>(int8(9)), VJSONValue(127.9), VE_OK, VE_OK, false, 127},
		{"byte bottom", Value<VByte>(int8(9)), VJSONValue(-128.0), VE_OK, VE_OK, false, -128},
		{"byte under", Value<VByte>(int8(9)), VJSONValue(-128.5), VE_OK, VE_OK, false, 0},
		{"word top", Value<VWord>(int16(9)), VJSONValue(32767.0), VE_OK, VE_OK, false, 32767},
		{"word over", Value<VWord>(int16(9)), VJSONValue(32768.0), VE_OK, VE_OK, false, 0},
		{"long8 2^53", Value<VLong8>(int64(9)), VJSONValue(9007199254740992.0), VE_OK, VE_OK, false, 9007199254740992.0},
		{"long8 bottom", Value<VLong8>(int64(9)), VJSONValue(-9223372036854775808.0), VE_OK, VE_OK, false, -9223372036854775808.0},
		{"long8 over", Value<VLong8>(int64(9)), VJSONValue(9223372036854775808.0), VE_OK, VE_OK, false, 0},
		// Booleans take GetBool.
		{"boolean true", Value<VBoolean>(uint8(0)), VJSONValue(JSON_true), VE_OK, VE_OK, false, 1},
		{"boolean from 2", Value<VBoolean>(uint8(0)), VJSONValue(2.0), VE_OK, VE_OK, false, 1},
		{"boolean from text", Value<VBoolean>(uint8(0)), Json("x"), VE_OK, VE_OK, false, 1},
		{"boolean from empty text", Value<VBoolean>(uint8(1)), VJSONValue(JSON_string), VE_OK, VE_OK, false, 0},
		{"boolean from null", Value<VBoolean>(uint8(1)), VJSONValue(JSON_null), VE_OK, VE_OK, true, 0},
		// A real keeps its number when it becomes null.
		{"real", Value<VReal>(7.5), VJSONValue(2.25), VE_OK, VE_OK, false, 2.25},
		{"real from null", Value<VReal>(7.5), VJSONValue(JSON_null), VE_OK, VE_OK, true, 7.5},
		{"real from hex text", Null<VReal>(7.5), Json("0x1F"), VE_OK, VE_OK, false, 31},
		// Durations read seconds, truncated to the millisecond toward zero.
		{"duration", Value<VDuration>(int64(5)), VJSONValue(2.0), VE_OK, VE_OK, false, 2000},
		{"duration truncates", Value<VDuration>(int64(5)), VJSONValue(1.0019), VE_OK, VE_OK, false, 1001},
		{"duration truncates negative", Value<VDuration>(int64(5)), VJSONValue(-1.0019), VE_OK, VE_OK, false, -1001},
		{"duration from text", Null<VDuration>(int64(5)), Json("90"), VE_OK, VE_OK, false, 90000},
		{"duration from null", Value<VDuration>(int64(5)), VJSONValue(JSON_null), VE_OK, VE_OK, true, std::nullopt},
		// Strings take the JSON value's text.
		{"string", Value<VString>("old"), Json("abc"), VE_OK, VE_OK, false, std::nullopt, "abc"},
		{"string from null", Value<VString>("old"), VJSONValue(JSON_null), VE_OK, VE_OK, true, std::nullopt, ""},
		{"string from true", Value<VString>("old"), VJSONValue(JSON_true), VE_OK, VE_OK, false, std::nullopt, "true"},
		{"string from number", Value<VString>("old"), VJSONValue(1.5), VE_OK, VE_OK, false, std::nullopt, "1.5"},
		{"string from undefined", Value<VString>(true), VJSONValue(JSON_undefined), VE_OK, VE_OK, false, std::nullopt, ""},
		{"string from array", Value<VString>("old"), Array({VJSONValue(1.0), Json("a")}), VE_OK, VE_OK, false, std::nullopt, "1,a"},
		// Times: a JSON date is midnight UTC of its day; text is read as RFC 3339.
		{"time from null", Time(2024, 3, 5, 7, 8, 9), VJSONValue(JSON_null), VE_OK, VE_OK, true, std::nullopt},
		{"time from date", Time(2024, 3, 5, 7, 8, 9), [] { VJSONValue d; d.SetDate(2024, 2, 29); return d; }(), VE_OK, VE_OK, false, 20240229000000.0},
		{"time from impossible date", Time(2024, 3, 5, 7, 8, 9), [] { VJSONValue d; d.SetDate(2023, 2, 29); return d; }(), VE_OK, VE_OK, true, std::nullopt},
		{"time from text", Time(2024, 3, 5, 7, 8, 9), Json("2024-03-05"), VE_OK, VE_OK, false, 20240305000000.0},
		// A kind without a JSON form is cleared, without raising.
		{"empty kind", Value<VEmpty>(), VJSONValue(1.0), unimpl, VE_OK, true, std::nullopt},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::unique_ptr<VValueSingle> value(row.make());
		value->SetDirty(false);
		VTask::FlushErrors();
		EXPECT_EQ(value->FromJSONValue(row.json), row.answer);
		EXPECT_EQ(VTask::GetLastError(), row.raised);
		VTask::FlushErrors();
		EXPECT_EQ(value->IsNull(), row.null);
		if (row.answer == VE_OK)
		{
			EXPECT_TRUE(value->IsDirty());
		}
		if (row.text != nullptr)
		{
			VString text;
			value->GetString(text);
			EXPECT_EQ(Text(text), Text(VString(row.text)));
		}
		else if (row.reading.has_value())
		{
			EXPECT_EQ(Reading(*value), *row.reading);
		}
	}
}

TEST(VValueJSONTest, JSONScalarHelpers)
{
	struct KindRow
	{
		ValueKind kind;
		JSONType type;
	};
	const KindRow kinds[] = {
		{VK_EMPTY, JSON_null},  {VK_BOOLEAN, JSON_true}, {VK_BYTE, JSON_null},   {VK_LONG8, JSON_null},
		{VK_REAL, JSON_number}, {VK_TIME, JSON_date},    {VK_DURATION, JSON_null}, {VK_STRING, JSON_string},
		{VK_BLOB, JSON_null},   {VK_UUID, JSON_null},    {VK_BAG, JSON_null},    {VK_UNDEFINED, JSON_null},
	};
	for (const KindRow& row : kinds)
		EXPECT_EQ(VValueSingle::ValueKindToJsonType(row.kind), row.type) << row.kind;

	struct Row
	{
		const char* name;
		Maker make;
		bool milliseconds;
		ValueKind kind;  // of the result
		bool null;
		std::optional<double> reading;
		const char* text = nullptr;
	};
	const Row rows[] = {
		{"byte", Value<VByte>(int8(-3)), false, VK_REAL, false, -3},
		{"null long", Null<VLong>(int32(6)), false, VK_REAL, true, 6},
		{"long8", Value<VLong8>((int64(1) << 53) + 1), false, VK_REAL, false, 9007199254740992.0},
		{"duration in ms", Value<VDuration>(int64(1500)), true, VK_REAL, false, 1500},
		{"duration in seconds", Value<VDuration>(int64(1500)), false, VK_REAL, false, 1.5},
		{"null duration", Null<VDuration>(int64(1500)), true, VK_REAL, true, std::nullopt},
		{"identifier", [] { return static_cast<VValueSingle*>(new VUUID("0123456789ABCDEF0123456789ABCDEF")); }, false,
			VK_STRING, false, std::nullopt, "0123456789ABCDEF0123456789ABCDEF"},
		{"boolean", Value<VBoolean>(uint8(1)), false, VK_BOOLEAN, false, 1},
		{"real", Value<VReal>(2.5), false, VK_REAL, false, 2.5},
		{"null real", Null<VReal>(2.5), false, VK_REAL, true, 2.5},
		{"string", Value<VString>("abc"), false, VK_STRING, false, std::nullopt, "abc"},
		{"time", Time(2024, 3, 5, 7, 8, 9), false, VK_TIME, false, 20240305070809.0},
		{"empty", Value<VEmpty>(), false, VK_EMPTY, true, std::nullopt},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::unique_ptr<VValueSingle> source(row.make());
		std::unique_ptr<VValueSingle> scalar(VValueSingle::ConvertVValueToJSONScalar(*source, row.milliseconds));
		ASSERT_NE(scalar, nullptr);
		EXPECT_NE(scalar.get(), source.get());
		EXPECT_EQ(KindOf(*scalar), row.kind);
		EXPECT_EQ(scalar->IsNull(), row.null);
		if (row.text != nullptr)
		{
			VString text;
			scalar->GetString(text);
			EXPECT_EQ(Text(text), Text(VString(row.text)));
		}
		else if (row.reading.has_value())
		{
			EXPECT_EQ(Reading(*scalar), *row.reading);
		}
	}
}

// The base value has no JSON value form at all: both directions raise velk 2, and the JSON value given
// for output becomes undefined rather than keeping stale content.
TEST(VValueJSONTest, BaseValueRaisesAndLeavesUndefined)
{
	class PlainValue : public VValue
	{
	public:
		VValue* Clone() const override { return new PlainValue(*this); }
	};
	PlainValue value;
	VJSONValue json(3.0);
	VTask::FlushErrors();
	EXPECT_EQ(value.GetJSONValue(json), VE_UNIMPLEMENTED);
	EXPECT_EQ(VTask::GetLastError(), VE_UNIMPLEMENTED);
	EXPECT_TRUE(json.IsUndefined());
	VTask::FlushErrors();
	EXPECT_EQ(value.FromJSONValue(VJSONValue(3.0)), VE_UNIMPLEMENTED);
	EXPECT_EQ(VTask::GetLastError(), VE_UNIMPLEMENTED);
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
