// JSON arrays: element edits at the boundaries, growth the allocator refuses, sorting with comparators
// that misbehave, joining and selections.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/VFailingAllocations.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// The text of a string, for comparisons.
std::u16string Text(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// The array's numbers, undefined and null as -1.
std::vector<double> Numbers(const VJSONArray& array)
{
	std::vector<double> numbers;
	for (size_t i = 0; i < array.GetCount(); ++i)
	{
		const VJSONValue value = array.GetAt(i);
		numbers.push_back(value.IsNumber() ? value.GetNumber() : -1.0);
	}
	return numbers;
}

VRefPtr<VJSONArray> MakeArray(const std::vector<double>& numbers)
{
	VRefPtr<VJSONArray> array(new VJSONArray(false), true);
	for (double number : numbers)
		array->Push(VJSONValue(number));
	return array;
}

TEST(VJSONArray, RemoveAtAndSetAtStayInBounds)
{
	VTask::FlushErrors();
	struct Remove
	{
		size_t index;
		size_t count;
		std::vector<double> left;
	};
	const Remove removes[] = {
		{1, 100, {0}},
		{5, 1, {0, 1, 2}},
		{0, 1, {1, 2}},
		{1, SIZE_MAX, {0}},
		{SIZE_MAX, SIZE_MAX, {0, 1, 2}},
		{2, 0, {0, 1, 2}},
	};
	for (const Remove& row : removes)
	{
		SCOPED_TRACE(std::to_string(row.index) + "+" + std::to_string(row.count));
		VRefPtr<VJSONArray> array = MakeArray({0, 1, 2});
		array->RemoveAt(row.index, row.count);
		EXPECT_EQ(Numbers(*array), row.left);
	}

	struct Set
	{
		size_t index;
		bool grow;
		bool done;
		VError error;
		std::vector<double> after;
	};
	const Set sets[] = {
		{4, true, true, VE_OK, {0, 1, -1, -1, 9}},
		{1, false, true, VE_OK, {0, 9}},
		{2, false, false, VE_JSON_INDEX_OUT_OF_RANGE, {0, 1}},
		{SIZE_MAX, true, false, VE_JSON_INDEX_OUT_OF_RANGE, {0, 1}},
	};
	for (const Set& row : sets)
	{
		SCOPED_TRACE(std::to_string(row.index));
		VRefPtr<VJSONArray> array = MakeArray({0, 1});
		EXPECT_EQ(array->SetAt(row.index, VJSONValue(9.0), row.grow), row.done);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		EXPECT_EQ(Numbers(*array), row.after);
		if (row.done && row.grow)
		{
			EXPECT_TRUE(array->GetAt(2).IsNull());
		}
		VTask::FlushErrors();
	}
}

// Growth that the allocator refuses is velk 100 with the array as it was.
TEST(VJSONArray, RefusedGrowthLeavesTheArrayUnchanged)
{
	_ThrowError(VE_UNKNOWN_ERROR);
	VTask::FlushErrors();
	VRefPtr<VJSONArray> array = MakeArray({0, 1});
	const std::vector<std::function<bool()>> growths = {
		[&] { return array->SetAt(1000, VJSONValue(9.0), true); },
		[&] { return array->Resize(1000, JSON_number); },
		[&] { return array->SetAt(SIZE_MAX - 1, VJSONValue(9.0), true); },
	};
	for (size_t i = 0; i < growths.size(); ++i)
	{
		SCOPED_TRACE(i);
		bool grown;
		{
			test::StFailingAllocations failing(i == 2 ? 1000 : 0);
			grown = growths[i]();
		}
		EXPECT_FALSE(grown);
		EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
		EXPECT_EQ(Numbers(*array), (std::vector<double>{0, 1}));
		VTask::FlushErrors();
	}

	// Appending, element by element or a whole array, fails whole when memory is short.
	VRefPtr<VJSONArray> tail = MakeArray({2, 3, 4, 5, 6, 7, 8, 9});
	for (bool whole : {false, true})
	{
		bool appended = false;
		int refusals = 0;
		for (long allowed = 0; !appended && allowed < 100; ++allowed)
		{
			{
				test::StFailingAllocations failing(allowed);
				appended = whole ? array->Concatenate(*tail) : array->Push(VJSONValue(2.0));
			}
			if (!appended)
			{
				++refusals;
				EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
				EXPECT_EQ(array->GetCount(), whole ? 3u : 2u);
			}
			VTask::FlushErrors();
		}
		EXPECT_TRUE(appended);
		EXPECT_GT(refusals, 0);
	}
	EXPECT_EQ(array->GetCount(), 11u);
}

TEST(VJSONArray, ResizeSharesOneNewContainer)
{
	VRefPtr<VJSONArray> array(new VJSONArray(false), true);
	ASSERT_TRUE(array->Resize(3, JSON_object));
	ASSERT_EQ(array->GetCount(), 3u);
	EXPECT_NE(array->GetAt(0).GetObject(), nullptr);
	EXPECT_EQ(array->GetAt(0).GetObject(), array->GetAt(2).GetObject());
	ASSERT_TRUE(array->Resize(1, JSON_null));
	EXPECT_EQ(array->GetCount(), 1u);
}

class NumberOrder : public IJSONValueComparator
{
public:
	enum Mode { Ascending, Always, Random, Throws, Shrinks, Grows };
	NumberOrder(Mode mode, VJSONArray* array) : fMode(mode), fArray(array) {}
	bool IsLessThan(const VJSONValue& a, const VJSONValue& b) override
	{
		++fCalls;
		switch (fMode)
		{
			case Ascending: return a.GetNumber() < b.GetNumber();
			case Always: return true;
			case Random: fSeed = fSeed * 1103515245u + 12345u; return (fSeed >> 16) & 1;
			case Throws: if (fCalls == 3) throw std::runtime_error("comparator failed"); return a.GetNumber() < b.GetNumber();
			case Shrinks: if (fCalls == 2) fArray->RemoveAt(0, SIZE_MAX); return false;
			case Grows: if (fCalls == 2) fArray->Push(VJSONValue(0.0)); return false;
		}
		return false;
	}

private:
	Mode fMode;
	VJSONArray* fArray;
	uint32 fSeed = 7;
	int fCalls = 0;
};

// Sorting orders the elements; comparators that lie stay in bounds, and one that throws or changes the
// element count gives velk 917 with the array unchanged.
TEST(VJSONArray, SortSurvivesComparators)
{
	VTask::FlushErrors();
	const std::vector<double> input = {5, 3, 9, 1, 7, 3, 8, 2, 6, 4, 0};
	struct Row
	{
		NumberOrder::Mode mode;
		VError error;
	};
	const Row rows[] = {
		{NumberOrder::Ascending, VE_OK},
		{NumberOrder::Always, VE_OK},
		{NumberOrder::Random, VE_OK},
		{NumberOrder::Throws, VE_JSON_SORT_FAILED},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(int(row.mode));
		VRefPtr<VJSONArray> array = MakeArray(input);
		NumberOrder order(row.mode, array.Get());
		array->Sort(&order);
		EXPECT_EQ(VTask::GetLastError(), row.error);
		std::vector<double> sorted = Numbers(*array);
		if (row.mode == NumberOrder::Ascending)
		{
			EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
		}
		if (row.error != VE_OK)
		{
			EXPECT_EQ(sorted, input);
		}
		std::sort(sorted.begin(), sorted.end());
		std::vector<double> expected = input;
		std::sort(expected.begin(), expected.end());
		EXPECT_EQ(sorted, expected);  // a permutation, whatever the answers
		VTask::FlushErrors();
	}
	for (NumberOrder::Mode mode : {NumberOrder::Shrinks, NumberOrder::Grows})
	{
		VRefPtr<VJSONArray> array = MakeArray(input);
		NumberOrder order(mode, array.Get());
		array->Sort(&order);
		EXPECT_EQ(VTask::GetLastError(), VE_JSON_SORT_FAILED);
		VTask::FlushErrors();
	}
}

TEST(VJSONArray, TextsJoinsAndSelections)
{
	VTask::FlushErrors();
	VJSONArray* array = new VJSONArray(false);
	array->Push(VJSONValue(1.0));
	array->Push(VJSONValue(JSON_null));
	array->Push(VJSONValue(VString("")));
	array->Push(VJSONValue(VString("a")));
	struct Join
	{
		bool keepEmpty;
		bool nullAsText;
		const char* text;
	};
	const Join joins[] = {{false, false, "1, a"}, {true, false, "1, , a"}, {true, true, "1, null, , a"}};
	for (const Join& row : joins)
	{
		VString out;
		array->JoinAsString(VString(", "), out, row.keepEmpty, row.nullAsText);
		EXPECT_EQ(Text(out), Text(VString(row.text)));
	}
	array->Release();

	VRefPtr<VJSONArray> nested = MakeArray({1});
	VRefPtr<VJSONArray> inner = MakeArray({2, 3});
	nested->Push(VJSONValue(inner.Get()));
	VString text;
	EXPECT_EQ(VJSONValue(nested.Get()).GetString(text), VE_OK);
	EXPECT_EQ(Text(text), u"1,2,3");
	inner->Push(VJSONValue(nested.Get()));
	EXPECT_EQ(VJSONValue(nested.Get()).GetString(text), VE_JSON_ARRAY_CONTAINS_ITSELF);
	EXPECT_EQ(Text(text), u"1,2,3");
	inner->RemoveAt(2, 1);
	VTask::FlushErrors();

	struct Selection
	{
		std::vector<double> selected;
		std::vector<std::pair<double, double>> ranges;
	};
	const Selection selections[] = {
		{{1, 2}, {{1, 2}}},
		{{0, 2, 3}, {{0, 0}, {2, 3}}},
		{{}, {}},
	};
	VRefPtr<VJSONArray> rows = MakeArray({10, 11, 12, 13});
	for (const Selection& row : selections)
	{
		std::vector<double> picked;
		for (double index : row.selected)
			picked.push_back(10 + index);
		VRefPtr<VJSONArray> selection = MakeArray(picked);
		const VJSONValue result = rows->GetSelectedRows(VJSONValue(selection.Get()));
		const VJSONArray* ranges = result.GetProperty(VString("ranges")).GetArray();
		ASSERT_NE(ranges, nullptr);
		ASSERT_EQ(ranges->GetCount(), row.ranges.size());
		for (size_t i = 0; i < row.ranges.size(); ++i)
		{
			EXPECT_EQ(ranges->GetAt(i).GetProperty(VString("start")).GetNumber(), row.ranges[i].first);
			EXPECT_EQ(ranges->GetAt(i).GetProperty(VString("end")).GetNumber(), row.ranges[i].second);
		}
	}
	VCompareOptions options;
	size_t found = 0;
	EXPECT_TRUE(rows->Find(VJSONValue(12.0), options, 1, &found));
	EXPECT_EQ(found, 2u);
	EXPECT_FALSE(rows->Find(VJSONValue(10.0), options, 4, &found));
}

}  // namespace
}  // namespace velk
