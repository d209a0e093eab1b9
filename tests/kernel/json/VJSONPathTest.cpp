// Paths into JSON object trees: splitting, reading through objects and arrays, writing that makes the
// containers on the way, the failures a caller sees, and growth that the allocator refuses.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/VFailingAllocations.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::string Narrow(const VString& text)
{
	std::string out;
	for (int32 i = 0; i < text.GetLength(); ++i)
		out.push_back(char(text.GetCPointer()[i]));
	return out;
}

// A short description of a value, so that table rows can say what they expect.
std::string Describe(const VJSONValue& value)
{
	switch (value.GetType())
	{
		case JSON_null: return "null";
		case JSON_true: return "true";
		case JSON_false: return "false";
		case JSON_undefined: return "undefined";
		case JSON_object: return "object";
		case JSON_array: return "array";
		case JSON_string: return "s:" + Narrow(value.GetString());
		case JSON_number:
		{
			const double number = value.GetNumber();
			return std::isnan(number) ? "n:nan" : "n:" + std::to_string(int64_t(number));
		}
		default: return "other";
	}
}

VRefPtr<VJSONArray> MakeArray(const std::vector<VJSONValue>& values)
{
	VRefPtr<VJSONArray> array(new VJSONArray(false), true);
	for (const VJSONValue& value : values)
		array->Push(value);
	return array;
}

// {"items": [10, {"name": "x"}, [7]], "n": 5, "arr": [0, 1, 2], "nul": null, "flag": true, "s": "text"}
VRefPtr<VJSONObject> MakeSample()
{
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
	VRefPtr<VJSONObject> named(new VJSONObject(nullptr, nullptr, false), true);
	named->SetProperty(VString("name"), VJSONValue(VString("x")));
	VRefPtr<VJSONArray> inner = MakeArray({VJSONValue(7.0)});
	VRefPtr<VJSONArray> items = MakeArray({VJSONValue(10.0), VJSONValue(named.Get()), VJSONValue(inner.Get())});
	object->SetProperty(VString("items"), VJSONValue(items.Get()));
	object->SetProperty(VString("n"), VJSONValue(5.0));
	VRefPtr<VJSONArray> arr = MakeArray({VJSONValue(0.0), VJSONValue(1.0), VJSONValue(2.0)});
	object->SetProperty(VString("arr"), VJSONValue(arr.Get()));
	object->SetProperty(VString("nul"), VJSONValue(JSON_null));
	object->SetProperty(VString("flag"), VJSONValue(JSON_true));
	object->SetProperty(VString("s"), VJSONValue(VString("text")));
	return object;
}

TEST(VJSONPath, ExtractPathSplitsNamesAndIndexes)
{
	struct Row
	{
		const char* path;
		std::vector<std::string> parts;  // what stays in the list, also after an error
		VError error;
	};
	const Row rows[] = {
		{"a.b[2][0]", {"a", "b", "2", "0"}, VE_OK},
		{"items[1].name", {"items", "1", "name"}, VE_OK},
		{" a . b[3] ", {"a", "b", "3"}, VE_OK},
		{"a[b", {"a", "b"}, VE_JSON_PATH_BRACKET_NOT_CLOSED},
		{"a[2]x.c", {"a", "2]x"}, VE_JSON_PATH_BRACKET_NOT_CLOSED},
		{"a[1].b[", {"a", "1", "b", ""}, VE_JSON_PATH_BRACKET_NOT_CLOSED},
		{"a..b", {"a"}, VE_JSON_PATH_EMPTY_PART},
		{"a.", {"a"}, VE_JSON_PATH_EMPTY_PART},
		{"a[]", {"a"}, VE_JSON_PATH_EMPTY_PART},
		{"a[1][]", {"a", "1"}, VE_JSON_PATH_EMPTY_PART},
		{"[2]", {}, VE_JSON_PATH_EMPTY_PART},
		{"", {}, VE_JSON_PATH_EMPTY_PART},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.path);
		StErrorContextInstaller scope(false, true);
		std::vector<VString> parts{VString("stale")};
		EXPECT_EQ(VJSONObject::ExtractPath(VString(row.path), parts), row.error);
		EXPECT_EQ(scope.GetLastError(), row.error);
		std::vector<std::string> texts;
		for (const VString& part : parts)
			texts.push_back(Narrow(part));
		EXPECT_EQ(texts, row.parts);
	}

	const std::pair<const char*, bool> numbers[] = {{"", true}, {"12", true}, {"0", true}, {"12a", false},
		{"-1", false}, {" 1", false}, {"1.5", false}};
	for (const auto& [text, valid] : numbers)
		EXPECT_EQ(isvalidnumber(VString(text)), valid) << text;
}

TEST(VJSONPath, ReadsThroughObjectsAndArrays)
{
	VRefPtr<VJSONObject> sample = MakeSample();
	const VJSONValue root(sample.Get());
	struct Row
	{
		const char* path;
		const char* value;  // GetPropertyWithPath, described
		bool boolean;       // GetBoolByPath
		int32 number;       // GetLongByPath
		const char* text;   // GetStringByPath, null when it answers false
		VError error;
	};
	const Row rows[] = {
		{"items.length", "n:3", false, 3, nullptr, VE_OK},
		{"items.LENGTH", "n:3", false, 3, nullptr, VE_OK},
		{"items[0]", "n:10", false, 10, nullptr, VE_OK},
		{"items[5]", "undefined", false, 0, nullptr, VE_OK},
		{"items[-1]", "undefined", false, 0, nullptr, VE_OK},
		{"items[1].name", "s:x", false, 0, "x", VE_OK},
		{"items[2][0]", "n:7", false, 7, nullptr, VE_OK},
		{"items[2].length", "n:1", false, 1, nullptr, VE_OK},
		{"items[1].name.length", "undefined", false, 0, nullptr, VE_OK},
		{"n.x", "undefined", false, 0, nullptr, VE_OK},
		{"missing.x", "undefined", false, 0, nullptr, VE_OK},
		{"nul[0]", "undefined", false, 0, nullptr, VE_OK},
		{"flag", "true", true, 0, nullptr, VE_OK},
		{"n", "n:5", false, 5, nullptr, VE_OK},
		{"s", "s:text", false, 0, "text", VE_OK},
		{"items[1", "undefined", false, 0, nullptr, VE_JSON_PATH_BRACKET_NOT_CLOSED},
		{"items..x", "undefined", false, 0, nullptr, VE_JSON_PATH_EMPTY_PART},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.path);
		StErrorContextInstaller scope(false, true);
		const VString path(row.path);
		EXPECT_EQ(Describe(sample->GetPropertyWithPath(path)), row.value);
		EXPECT_EQ(VJSONValue::GetBoolByPath(root, path), row.boolean);
		EXPECT_EQ(VJSONValue::GetLongByPath(root, path), row.number);
		VString text("unchanged");
		EXPECT_EQ(VJSONValue::GetStringByPath(root, path, text), row.text != nullptr);
		EXPECT_EQ(Narrow(text), row.text != nullptr ? row.text : "unchanged");
		EXPECT_EQ(scope.GetLastError(), row.error);
	}

	// No parts is the object itself; a value that is not an object answers neutrally.
	EXPECT_EQ(sample->GetPropertyWithPath(std::vector<VString>()).GetObject(), sample.Get());
	const VJSONValue number(5.0);
	EXPECT_FALSE(VJSONValue::GetBoolByPath(number, VString("n")));
	EXPECT_EQ(VJSONValue::GetLongByPath(number, VString("n")), 0);
}

// Stamps by path: touching changes exactly the stamp that reading the same path gives, and nothing where
// the path leads nowhere.
TEST(VJSONPath, StampsByPath)
{
	VRefPtr<VJSONObject> sample = MakeSample();
	VRefPtr<VJSONStamp> treeStamp(new VJSONStamp, true);
	sample->SetJSONStamp(treeStamp.Get());
	struct Row
	{
		const char* path;
		bool changes;
		uint32 fixed;  // the stamp when it cannot change
	};
	const Row rows[] = {
		{"n", true, 0},
		{"items[0]", true, 0},
		{"items[1].name", true, 0},
		{"items[2][0]", true, 0},
		{"items.length", false, 3},
		{"items[9]", false, 0},
		{"items[-1]", false, 0},
		{"s.x", false, 0},
		{"missing", false, 0},
		{"items[1", false, 0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.path);
		StErrorContextInstaller scope(false, true);
		const VString path(row.path);
		const uint32 before = sample->GetPropertyStampWithPath(path);
		sample->TouchPropertyStampWithPath(path);
		const uint32 after = sample->GetPropertyStampWithPath(path);
		if (row.changes)
		{
			EXPECT_NE(after, before);
		}
		else
		{
			EXPECT_EQ(before, row.fixed);
			EXPECT_EQ(after, row.fixed);
		}
	}
	// A path of one part touches its property once: the tree's counter grows by one.
	const uint32 counter = treeStamp->GetCounter();
	sample->TouchPropertyStampWithPath(VString("flag"));
	EXPECT_EQ(treeStamp->GetCounter(), counter + 1);
}

// Numbers at a path convert to 32 bits as the value kinds do: truncated, NaN 0, saturated at the limits.
TEST(VJSONPath, LongByPathTruncatesAndSaturates)
{
	const std::pair<double, int32> rows[] = {
		{-2.7, -2},
		{2.7, 2},
		{1e12, std::numeric_limits<int32>::max()},
		{-1e12, std::numeric_limits<int32>::min()},
		{std::numeric_limits<double>::infinity(), std::numeric_limits<int32>::max()},
		{std::numeric_limits<double>::quiet_NaN(), 0},
		{2147483647.0, 2147483647},
	};
	for (const auto& [number, expected] : rows)
	{
		SCOPED_TRACE(number);
		VJSONValue root(JSON_object);
		root.SetProperty(VString("v"), VJSONValue(number));
		EXPECT_EQ(VJSONValue::GetLongByPath(root, VString("v")), expected);
	}
}

TEST(VJSONPath, WritesMakeTheContainersOnTheWay)
{
	struct Row
	{
		const char* path;
		bool done;
		VError error;
		const char* parameter;  // "p1" of the error, when there is one
		std::vector<std::pair<const char*, const char*>> after;  // paths read back, described
	};
	const Row rows[] = {
		{"a.b[2].c", true, VE_OK, nullptr,
			{{"a", "object"}, {"a.b", "array"}, {"a.b.length", "n:3"}, {"a.b[0]", "null"}, {"a.b[1]", "null"},
				{"a.b[2]", "object"}, {"a.b[2].c", "n:1"}}},
		{"x[1][0]", true, VE_OK, nullptr, {{"x.length", "n:2"}, {"x[0]", "null"}, {"x[1]", "array"}, {"x[1][0]", "n:1"}}},
		{"arr[4]", true, VE_OK, nullptr, {{"arr.length", "n:5"}, {"arr[2]", "n:2"}, {"arr[3]", "null"}, {"arr[4]", "n:1"}}},
		{"arr[1]", true, VE_OK, nullptr, {{"arr.length", "n:3"}, {"arr[1]", "n:1"}}},
		{"nul.z", true, VE_OK, nullptr, {{"nul", "object"}, {"nul.z", "n:1"}}},
		{"n", true, VE_OK, nullptr, {{"n", "n:1"}}},
		{"n.y", false, VE_JSON_PATH_THROUGH_VALUE, "n", {{"n", "n:5"}}},
		{"n[0]", false, VE_JSON_PATH_INDEX_THROUGH_VALUE, "n", {{"n", "n:5"}}},
		{"arr[0].q", false, VE_JSON_PATH_THROUGH_VALUE, "0", {{"arr[0]", "n:0"}}},
		{"s.x", false, VE_JSON_PATH_THROUGH_VALUE, "s", {{"s", "s:text"}}},
		{"flag[2]", false, VE_JSON_PATH_INDEX_THROUGH_VALUE, "flag", {{"flag", "true"}}},
		{"arr[-1]", false, VE_OK, nullptr, {{"arr.length", "n:3"}, {"arr[0]", "n:0"}}},
		{"arr[-1].k", false, VE_OK, nullptr, {{"arr.length", "n:3"}}},
		{"a[", false, VE_JSON_PATH_BRACKET_NOT_CLOSED, nullptr, {{"a", "undefined"}}},
		{"", false, VE_JSON_PATH_EMPTY_PART, nullptr, {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.path);
		VRefPtr<VJSONObject> sample = MakeSample();
		StErrorContextInstaller scope(false, true);
		EXPECT_EQ(sample->SetPropertyWithPath(VString(row.path), VJSONValue(1.0)), row.done);
		EXPECT_EQ(scope.GetLastError(), row.error);
		if (row.parameter != nullptr && scope.GetLast() != nullptr)
		{
			VString parameter;
			EXPECT_TRUE(scope.GetLast()->GetString(VString("p1"), parameter));
			EXPECT_EQ(Narrow(parameter), row.parameter);
		}
		for (const auto& [path, described] : row.after)
			EXPECT_EQ(Describe(sample->GetPropertyWithPath(VString(path))), described) << path;
	}

	// The list form stops at the first failure and keeps what was written before it.
	VRefPtr<VJSONObject> sample = MakeSample();
	StErrorContextInstaller scope(false, true);
	EXPECT_TRUE(sample->SetPropertiesWithPaths({}));
	EXPECT_FALSE(sample->SetPropertiesWithPaths({{VString("p.q"), VJSONValue(2.0)},
		{VString("n.y"), VJSONValue(3.0)}, {VString("r"), VJSONValue(4.0)}}));
	EXPECT_EQ(Describe(sample->GetPropertyWithPath(VString("p.q"))), "n:2");
	EXPECT_EQ(Describe(sample->GetPropertyWithPath(VString("r"))), "undefined");
}

// Containers a path makes in a shared tree join its locker; a task that does not use it changes nothing.
TEST(VJSONPath, WritesIntoSharedTrees)
{
	VRefPtr<VJSONObject> shared(new VJSONObject(nullptr, nullptr, true), true);
	{
		StErrorContextInstaller scope(false, true);
		EXPECT_FALSE(shared->SetPropertyWithPath(VString("a.b"), VJSONValue(1.0)));
		EXPECT_EQ(scope.GetLastError(), VE_JSON_OBJECT_NOT_IN_USE);
		EXPECT_EQ(shared->GetPropertyCount(), 0u);
	}
	VJSONUser user(shared.Get(), false);
	ASSERT_TRUE(user.IsInUse());
	StErrorContextInstaller scope(false, true);
	EXPECT_TRUE(shared->SetPropertyWithPath(VString("a.list[1].c"), VJSONValue(1.0)));
	EXPECT_EQ(scope.GetLastError(), VE_OK);
	EXPECT_EQ(Describe(shared->GetPropertyWithPath(VString("a.list[1].c"))), "n:1");
	const VJSONValue list = shared->GetPropertyWithPath(VString("a.list"));
	ASSERT_NE(list.GetArray(), nullptr);
	EXPECT_EQ(list.GetArray()->GetStorageLocker().Get(), shared->GetStorageLocker().Get());
	const VJSONValue element = shared->GetPropertyWithPath(VString("a.list[1]"));
	ASSERT_NE(element.GetObject(), nullptr);
	EXPECT_EQ(element.GetObject()->GetStorageLocker().Get(), shared->GetStorageLocker().Get());
}

// An index whose growth the allocator refuses is velk 100 and false, and the array keeps its elements.
TEST(VJSONPath, RefusedGrowthFails)
{
	// How many allocations the same walk makes with an index that fits: the huge index is tried only
	// with fewer let through, so that its growth is always refused and never really attempted.
	long allocations = -1;
	for (long allowed = 0; allowed < 1000 && allocations < 0; ++allowed)
	{
		VRefPtr<VJSONObject> sample = MakeSample();
		StErrorContextInstaller scope(false, true);
		test::StFailingAllocations failing(allowed);
		sample->SetPropertyWithPath(VString("arr[5]"), VJSONValue(1.0));
		if (failing.GetRefusedCount() == 0)
			allocations = allowed;
	}
	ASSERT_GT(allocations, 0);

	VRefPtr<VJSONObject> sample = MakeSample();
	for (long allowed = 0; allowed < allocations; ++allowed)
	{
		SCOPED_TRACE(allowed);
		StErrorContextInstaller scope(false, true);
		bool done;
		{
			test::StFailingAllocations failing(allowed);
			done = sample->SetPropertyWithPath(VString("arr[2147483647]"), VJSONValue(1.0));
		}
		EXPECT_FALSE(done);
		EXPECT_EQ(scope.GetLastError(), VE_MEMORY_FULL);
		EXPECT_EQ(Describe(sample->GetPropertyWithPath(VString("arr.length"))), "n:3");
	}
}

}  // namespace
}  // namespace velk
