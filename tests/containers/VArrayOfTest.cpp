// Small growable arrays: insertion positions, the unique mode, growth by the step, removal and search, the
// borrowed buffer, the release of reference-counted elements, and the iterator's moves at its boundaries.
#include "containers/VArrayIteratorOf.h"
#include "containers/VArrayOf.h"
#include "containers/VArrayRetainedPtrOf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/memory/IRefCountable.h"

namespace velk {
namespace {

std::vector<int32> Contents(const VArrayOf<int32>& array)
{
	std::vector<int32> out;
	for (int32 pos = 1; pos <= array.GetCount(); ++pos)
		out.push_back(array.GetNth(pos));
	return out;
}

// One step on an array: 'a' AddNth(value, pos) answering result, 'd' DeleteNth(pos, value).
struct ArrayStep
{
	char fOperation;
	int32 fValue;
	int32 fPos;
	bool fResult = true;
};

struct ArrayCase
{
	const char* fName;
	int32 fGrowStep;
	bool fUnique;
	std::vector<ArrayStep> fSteps;
	std::vector<int32> fExpected;
	int32 fExpectedAllocated;
};

TEST(VArrayOfTest, OperationsTable)
{
	std::vector<int32> eleven;
	std::vector<ArrayStep> addEleven;
	for (int32 i = 1; i <= 11; ++i)
	{
		eleven.push_back(i);
		addEleven.push_back({'a', i, i});
	}
	const ArrayCase cases[] = {
		{"positions clamp to 1..count+1", 10, false,
			{{'a', 1, 1}, {'a', 2, 2}, {'a', 3, 3}, {'a', 9, 0}, {'a', 8, -5}, {'a', 7, 100}},
			{8, 9, 1, 2, 3, 7}, 10},
		{"insertion in the middle shifts the rest", 10, false, {{'a', 1, 1}, {'a', 3, 2}, {'a', 2, 2}}, {1, 2, 3}, 10},
		{"unique refuses a value already there", 10, true, {{'a', 1, 1}, {'a', 2, 2}, {'a', 1, 5, false}}, {1, 2}, 10},
		{"the eleventh element grows to 20", 10, false, addEleven, eleven, 20},
		{"a step below 1 grows by one", 0, false, {{'a', 1, 1}, {'a', 2, 2}, {'a', 3, 3}}, {1, 2, 3}, 3},
		{"delete a range", 10, false, {{'a', 1, 1}, {'a', 2, 2}, {'a', 3, 3}, {'a', 4, 4}, {'d', 2, 2}}, {1, 4}, 10},
		{"delete past the end clips", 10, false, {{'a', 1, 1}, {'a', 2, 2}, {'a', 3, 3}, {'d', 10, 2}}, {1}, 10},
		{"delete outside does nothing", 10, false, {{'a', 1, 1}, {'a', 2, 2}, {'d', 1, 0}, {'d', 1, 3}, {'d', 0, 1}},
			{1, 2}, 10},
		{"unique re-admits a value once deleted", 10, true, {{'a', 5, 1}, {'d', 1, 1}, {'a', 5, 1}}, {5}, 10},
	};
	for (const ArrayCase& each : cases)
	{
		VArrayOf<int32> array(each.fGrowStep, each.fUnique);
		for (const ArrayStep& step : each.fSteps)
		{
			if (step.fOperation == 'a')
				EXPECT_EQ(array.AddNth(step.fValue, step.fPos), step.fResult) << each.fName;
			else
				array.DeleteNth(step.fPos, step.fValue);
		}
		EXPECT_EQ(Contents(array), each.fExpected) << each.fName;
		EXPECT_EQ(array.GetAllocated(), each.fExpectedAllocated) << each.fName;
	}

	// Search and access are 1-based; outside the elements in use there is nothing.
	VArrayOf<int32> array;
	for (int32 value : {4, 5, 4, 6})
		array.Append(value);
	EXPECT_EQ(array.FindPos(4, 2), 3);
	EXPECT_EQ(array.FindPos(4, 4), 0);
	EXPECT_EQ(array.FindPos(6, -3), 4);
	EXPECT_EQ(array.GetNth(5), 0);
	EXPECT_FALSE(array.SetNth(9, 5));
}

TEST(VArrayOfTest, BorrowedBufferIsUsedUntilFullAndNeverFreed)
{
	uint8 borrowed[3] = {0, 0, 0};
	{
		VArrayOf<uint8> array(borrowed, 3, 2);
		for (uint8 value : {1, 2, 3})
			ASSERT_TRUE(array.AddNth(value, 1));
		EXPECT_EQ(borrowed[0], 3);
		EXPECT_EQ(borrowed[2], 1);
		ASSERT_TRUE(array.Append(4));
		EXPECT_EQ(array.GetAllocated(), 5);
		ASSERT_TRUE(array.SetNth(7, 1));
		EXPECT_EQ(borrowed[0], 3) << "the array moved to its own buffer";
		EXPECT_EQ(array.GetNth(4), 4);
	}
	// Freeing the borrowed (stack) buffer would have been caught by the sanitizer at the scope's end.
	EXPECT_EQ(borrowed[1], 2);
}

class VCounted : public IRefCountable
{
};

struct RetainedCase
{
	const char* fName;
	bool fRetained;
	int32 fDeletePos;
	std::vector<int32> fExpectedCounts;  // of the three objects once the array is gone
};

TEST(VArrayRetainedPtrOfTest, ReleasesTable)
{
	const RetainedCase cases[] = {
		{"retained: all released at the end", true, 0, {1, 1, 1}},
		{"retained: a deleted one released once", true, 2, {1, 1, 1}},
		{"not retained: only deletion releases", false, 2, {2, 1, 2}},
		{"not retained: nothing released", false, 0, {2, 2, 2}},
	};
	for (const RetainedCase& each : cases)
	{
		VCounted objects[3];
		{
			VArrayRetainedPtrOf<VCounted*> array(10, false, each.fRetained);
			for (VCounted& object : objects)
			{
				object.Retain();
				array.Append(&object);
			}
			array.Append(nullptr);  // null elements are skipped
			array.DeleteNth(each.fDeletePos);
		}
		for (size_t i = 0; i < 3; ++i)
			EXPECT_EQ(objects[i].GetRefCount(), each.fExpectedCounts[i]) << each.fName << " object " << i;
	}
}

// A call on an iterator over {10, 20, 30} set at a position: the element answered and the position after.
struct IteratorCase
{
	int32 fStart;
	std::string fCall;
	int32 fExpected;
	int32 fExpectedPos;
};

int32 Call(VArrayIteratorOf<int32>& iterator, const std::string& call)
{
	if (call == "First")
		return iterator.First();
	if (call == "Last")
		return iterator.Last();
	if (call == "Next")
		return iterator.Next();
	if (call == "Previous")
		return iterator.Previous();
	return iterator.Current();
}

TEST(VArrayIteratorOfTest, MovesTable)
{
	VArrayOf<int32> array;
	for (int32 value : {10, 20, 30})
		array.Append(value);
	const IteratorCase cases[] = {
		{-1, "Current", 10, 1},
		{-1, "Previous", 30, 3},
		{-1, "Next", 10, 1},
		{0, "Current", 0, 0},
		{0, "Next", 10, 1},
		{2, "Next", 30, 3},
		{3, "Next", 0, 4},
		{4, "Next", 10, 1},  // 4 cannot be set: position 0, from which Next goes to the first
		{3, "Current", 30, 3},
		{1, "Previous", 0, 0},
		{3, "Previous", 20, 2},
		{2, "First", 10, 1},
		{2, "Last", 30, 3},
	};
	for (const IteratorCase& each : cases)
	{
		VArrayIteratorOf<int32> iterator(&array);
		iterator.SetPos(each.fStart);
		EXPECT_EQ(Call(iterator, each.fCall), each.fExpected) << each.fCall << " from " << each.fStart;
		EXPECT_EQ(iterator.GetPos(), each.fExpectedPos) << each.fCall << " from " << each.fStart;
	}

	VArrayIteratorOf<int32> withoutArray;
	for (const char* call : {"First", "Last", "Next", "Previous", "Current"})
		EXPECT_EQ(Call(withoutArray, call), 0) << call;
}

}  // namespace
}  // namespace velk
