// JSON values: conversions by kind, moves that leave containers absent, comparison and stamps.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VReal.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// The text of a string, for comparisons.
std::u16string Text(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

TEST(VJSONValue, ConversionsByKind)
{
	struct Row
	{
		const char* name;
		VJSONValue value;
		double number;
		bool boolean;
		const char* text;
	};
	VJSONValue date(JSON_date);
	date.SetDate(2024, 2, 29);
	const Row rows[] = {
		{"null", VJSONValue(JSON_null), 0.0, false, ""},
		{"undefined", VJSONValue(JSON_undefined), 0.0, false, ""},
		{"true", VJSONValue(JSON_true), 1.0, true, "true"},
		{"false", VJSONValue(JSON_false), 0.0, false, "false"},
		{"empty string kind", VJSONValue(JSON_string), 0.0, false, ""},
		{"hex lower", VJSONValue(VString("0x1F")), 31.0, true, "0x1F"},
		{"hex upper", VJSONValue(VString("0X10")), 16.0, true, "0X10"},
		{"decimal text", VJSONValue(VString("12.5")), 12.5, true, "12.5"},
		{"number", VJSONValue(2.5), 2.5, true, "2.5"},
		{"zero", VJSONValue(0.0), 0.0, false, "0"},
		{"object", VJSONValue(JSON_object), 0.0, true, "[object Object]"},
		{"array", VJSONValue(JSON_array), 0.0, true, ""},
		{"date", date, 0.0, true, nullptr},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		EXPECT_EQ(row.value.GetNumber(), row.number);
		EXPECT_EQ(row.value.GetBool(), row.boolean);
		if (row.text != nullptr)
		{
			EXPECT_EQ(Text(row.value.GetString()), Text(VString(row.text)));
		}
	}
	int16 year = 0, month = 0, day = 0;
	EXPECT_TRUE(date.GetDate(&year, &month, &day));
	EXPECT_EQ(year, 2024);
	EXPECT_EQ(month, 2);
	EXPECT_EQ(day, 29);
	EXPECT_FALSE(VJSONValue(1.0).GetDate(&year, &month, &day));
	EXPECT_EQ(year + month + day, 0);

	std::unique_ptr<VValueSingle> marker(VJSONValue(JSON_array).CreateVValue(true));
	ASSERT_NE(marker, nullptr);
	const UniChar arrayMarker[] = {1, 2, 3, 2};
	EXPECT_EQ(Text(*static_cast<VString*>(marker.get())), std::u16string(arrayMarker, 4));
	std::unique_ptr<VValueSingle> none(VJSONValue(JSON_object).CreateVValue(false));
	EXPECT_TRUE(none->IsNull());
	std::unique_ptr<VValueSingle> real(VJSONValue(3.5).CreateVValue(false));
	EXPECT_EQ(real->GetReal(), 3.5);
}

// A moved-from container value keeps its kind with no container, and every accessor treats it as absent.
// The self-test writes and reads back its samples, and leaves no error behind.
TEST(VJSONValue, SelfTest)
{
	VTask::FlushErrors();
	EXPECT_TRUE(VJSONValue::test());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

TEST(VJSONValue, MovedFromValuesAreEmpty)
{
	VJSONValue object(JSON_object);
	object.SetProperty(VString("a"), VJSONValue(1.0));
	VJSONValue array(JSON_array);
	VJSONValue text(VString("moved text"));
	VJSONValue takenObject(std::move(object));
	VJSONValue takenArray;
	takenArray = std::move(array);
	VJSONValue takenText(std::move(text));

	EXPECT_EQ(object.GetType(), JSON_object);
	EXPECT_EQ(array.GetType(), JSON_array);
	EXPECT_EQ(text.GetType(), JSON_string);
	EXPECT_EQ(object.GetObject(), nullptr);
	EXPECT_EQ(object.RetainObject(), nullptr);
	EXPECT_EQ(array.RetainArray(), nullptr);
	EXPECT_TRUE(object.GetProperty(VString("a")).IsUndefined());
	object.SetProperty(VString("a"), VJSONValue(2.0));
	EXPECT_EQ(Text(array.GetString()), u"");
	EXPECT_EQ(Text(text.GetString()), u"");
	VCompareOptions options;
	EXPECT_TRUE(object.DeepEqualTo(VJSONValue(std::move(takenObject)), options) == false);
	EXPECT_EQ(takenArray.GetArray()->GetCount(), 0u);
	EXPECT_EQ(Text(takenText.GetString()), u"moved text");

	VJSONValue copy(takenText);
	EXPECT_NE(copy.GetStamp(), takenText.GetStamp());
	VJSONValue assigned;
	assigned = takenArray;
	EXPECT_EQ(assigned.GetArray(), takenArray.GetArray());
	assigned = assigned;
	EXPECT_EQ(assigned.GetArray(), takenArray.GetArray());
}

TEST(VJSONValue, CompareByKind)
{
	VCompareOptions options;
	VJSONValue laterDate(JSON_date);
	laterDate.SetDate(2024, 3, 1);
	VJSONValue earlierDate(JSON_date);
	earlierDate.SetDate(2024, 2, 29);
	struct Row
	{
		const char* name;
		VJSONValue a;
		VJSONValue b;
		CompareResult result;
	};
	const Row rows[] = {
		{"null and undefined", VJSONValue(JSON_null), VJSONValue(JSON_undefined), CR_EQUAL},
		{"null and false", VJSONValue(JSON_null), VJSONValue(JSON_false), CR_SMALLER},
		{"string and number", VJSONValue(VString("1")), VJSONValue(1.0), CR_SMALLER},
		{"numbers", VJSONValue(2.0), VJSONValue(1.0), CR_BIGGER},
		{"strings", VJSONValue(VString("abc")), VJSONValue(VString("abc")), CR_EQUAL},
		{"dates", earlierDate, laterDate, CR_SMALLER},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		EXPECT_EQ(row.a.CompareTo(row.b, options), row.result);
	}
	VJSONValue first(JSON_array);
	VJSONValue second(JSON_array);
	first.GetArray()->Push(VJSONValue(1.0));
	second.GetArray()->Push(VJSONValue(1.0));
	EXPECT_NE(first.CompareTo(second, options), CR_EQUAL);
	EXPECT_TRUE(first.DeepEqualTo(second, options));
	second.GetArray()->Push(VJSONValue(JSON_null));
	EXPECT_FALSE(first.DeepEqualTo(second, options));
}

// Stores through a container stamp raise it, and a stored tree takes the container's stamp.
TEST(VJSONValue, StampsFollowChanges)
{
	VJSONValue root(JSON_object);
	VJSONStamp* stamp = new VJSONStamp;
	root.GetObject()->SetJSONStamp(stamp);
	VJSONValue child(JSON_array);
	VJSONValue grandChild(JSON_object);
	child.GetArray()->Push(grandChild);
	root.SetProperty(VString("child"), child);
	EXPECT_EQ(stamp->GetCounter(), 1u);
	EXPECT_EQ(grandChild.GetObject()->GetJSONStampPointer(), stamp);
	grandChild.SetProperty(VString("x"), VJSONValue(1.0));
	child.GetArray()->RemoveAt(0, 1);
	root.GetObject()->RemoveProperty(VString("nothing"));
	EXPECT_EQ(stamp->GetCounter(), 4u);
	const uint32 before = root.GetObject()->GetPropertyStamp(VString("child"));
	root.GetObject()->TouchPropertyStamp(VString("child"));
	EXPECT_NE(root.GetObject()->GetPropertyStamp(VString("child")), before);
	stamp->Release();
}

}  // namespace
}  // namespace velk
