// Sorting typed arrays: every kind against std::sort on both sides of the selection-sort threshold, in both
// directions, with duplicates and over partial ranges; sorting several arrays together; null strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "VArrayTestKinds.h"

namespace velk {
namespace {

using test::AllSortableKinds;
using test::ArrayKind;
using test::Keys;
using test::MakeArray;

std::vector<int32> Seeds(int32 count, int32 distinct, uint32 seed)
{
	std::mt19937 random(seed);
	std::vector<int32> seeds;
	for (int32 i = 0; i < count; ++i)
		seeds.push_back(int32(random() % uint32(distinct)) * (1000 / distinct));
	return seeds;
}

// 2 and 9 elements go through the selection sort, 10, 12 and more through the quicksort.
TEST(VArrayValueSortTest, EveryKindAgreesWithStdSort)
{
	struct Case
	{
		int32 fCount;
		int32 fDistinct;
		int32 fFrom;
		int32 fTo;
	};
	const Case cases[] = {
		{2, 1000, 1, 2}, {2, 1, 1, 2}, {3, 1000, 1, 3}, {9, 1000, 1, 9}, {9, 3, 1, 9}, {10, 1000, 1, 10},
		{12, 1000, 1, 12}, {12, 2, 1, 12}, {100, 1000, 1, 100}, {100, 5, 1, 100}, {1000, 1000, 1, 1000},
		{1000, 7, 1, 1000}, {20, 1000, 4, 15}, {20, 1000, 2, 3}, {30, 4, 1, 29}, {30, 1000, 2, 30},
	};
	for (const ArrayKind& kind : AllSortableKinds())
	{
		for (const Case& c : cases)
		{
			for (bool descending : {false, true})
			{
				const std::vector<int32> seeds = Seeds(c.fCount, c.fDistinct, uint32(c.fCount * 31 + c.fFrom));
				std::vector<int32> expected = seeds;
				if (descending)
					std::sort(expected.begin() + (c.fFrom - 1), expected.begin() + c.fTo, std::greater<int32>());
				else
					std::sort(expected.begin() + (c.fFrom - 1), expected.begin() + c.fTo);

				std::unique_ptr<VArrayValue> array = MakeArray(kind, seeds);
				array->Sort(c.fFrom, c.fTo, descending);
				EXPECT_EQ(Keys(kind, *array), Keys(kind, *MakeArray(kind, expected)))
					<< kind.fName << " count " << c.fCount << " range " << c.fFrom << ".." << c.fTo << (descending ? " descending" : "");
			}
		}
	}
}

TEST(VArrayValueSortTest, RangesOutsideTheArraySortNothing)
{
	for (const ArrayKind& kind : AllSortableKinds())
	{
		const std::vector<int32> seeds = {900, 500, 100};
		for (auto range : {std::pair{2, 2}, std::pair{0, 3}, std::pair{3, 1}, std::pair{1, 4}, std::pair{-5, 2}})
		{
			std::unique_ptr<VArrayValue> array = MakeArray(kind, seeds);
			array->Sort(range.first, range.second, false);
			EXPECT_EQ(Keys(kind, *array), Keys(kind, *MakeArray(kind, seeds))) << kind.fName << " " << range.first << ".." << range.second;
		}
		std::unique_ptr<VArrayValue> array = MakeArray(kind, seeds);
		array->Sort(1, 3, false);
		EXPECT_EQ(Keys(kind, *array), Keys(kind, *MakeArray(kind, {100, 500, 900}))) << kind.fName;
	}
}

// The followers take every exchange of the first array, whatever their own kind; two elements sort too.
TEST(VArrayValueSortTest, SynchronizedSortKeepsRowsAligned)
{
	for (int32 count : {2, 3, 9, 10, 200})
	{
		for (bool descending : {false, true})
		{
			const std::vector<int32> seeds = Seeds(count, 1000, uint32(count));
			VArrayLong keys(count);
			VArrayString names(count);
			VArrayReal halves(count);
			for (int32 pos = 1; pos <= count; ++pos)
			{
				const int32 seed = seeds[size_t(pos - 1)];
				keys.FromLong(seed, pos);
				names.FromString(VString(std::to_string(seed).c_str()), pos);
				halves.FromReal(seed / 2.0, pos);
			}
			ASSERT_TRUE(VArrayValue::SynchronizedSort(descending, &keys, &names, &halves));
			for (int32 pos = 1; pos <= count; ++pos)
			{
				VString name;
				names.GetString(name, pos);
				EXPECT_EQ(test::Utf8(name), std::to_string(keys.GetLong(pos))) << count << " at " << pos;
				EXPECT_EQ(halves.GetReal(pos), keys.GetLong(pos) / 2.0) << count << " at " << pos;
				if (pos > 1)
				{
					EXPECT_TRUE(descending ? keys.GetLong(pos - 1) >= keys.GetLong(pos) : keys.GetLong(pos - 1) <= keys.GetLong(pos)) << count;
				}
			}
		}
	}

	// A follower of another count would be walked past its end: nothing is sorted.
	VArrayLong keys(3);
	keys.FromLong(3, 1);
	keys.FromLong(1, 3);
	VArrayLong shorter(2);
	EXPECT_FALSE(VArrayValue::SynchronizedSort(false, &keys, &shorter));
	EXPECT_EQ(keys.GetLong(1), 3);
}

// Several criteria in turn, each in its own direction, over columns of any kind.
TEST(VArrayValueSortTest, MultiCriteriaOrdersByEachCriterionInTurn)
{
	const int32 groups[] = {2, 1, 2, 1, 2, 1};
	const char* names[] = {"b", "a", "c", "c", "a", "b"};
	VArrayLong group(6);
	VArrayString name(6);
	VArrayLong row(6);
	for (int32 pos = 1; pos <= 6; ++pos)
	{
		group.FromLong(groups[pos - 1], pos);
		name.FromString(VString(names[pos - 1]), pos);
		row.FromLong(pos, pos);
	}
	ISortable* const columns[] = {&group, &name, &row, nullptr};
	const uint8 descending[] = {0, 1};
	ASSERT_TRUE(ISortable::MultiCriteriaQSort(columns, descending, 2, 0, 5));
	const char* expectedNames[] = {"c", "b", "a", "c", "b", "a"};
	const int32 expectedRows[] = {4, 6, 2, 3, 1, 5};
	for (int32 pos = 1; pos <= 6; ++pos)
	{
		VString text;
		name.GetString(text, pos);
		EXPECT_EQ(group.GetLong(pos), pos <= 3 ? 1 : 2);
		EXPECT_EQ(test::Utf8(text), expectedNames[pos - 1]);
		EXPECT_EQ(row.GetLong(pos), expectedRows[pos - 1]);
	}
}

TEST(VArrayValueSortTest, NullStringsSortFirst)
{
	VArrayString array(5);
	array.FromString(VString("pear"), 1);
	array.FromString(VString("apple"), 3);
	array.FromString(VString(""), 5);
	array.Sort(1, 5, false);
	const char* ascending[] = {"<null>", "<null>", "", "apple", "pear"};
	for (int32 pos = 1; pos <= 5; ++pos)
		EXPECT_EQ(AllSortableKinds()[8].fKey(array, pos), ascending[pos - 1]) << pos;
	array.Sort(1, 5, true);
	const char* descending[] = {"pear", "apple", "", "<null>", "<null>"};
	for (int32 pos = 1; pos <= 5; ++pos)
		EXPECT_EQ(AllSortableKinds()[8].fKey(array, pos), descending[pos - 1]) << pos;
}

// Shuffling is the same every time, keeps every element and moves most of them.
TEST(VArrayValueSortTest, UnsortIsARepeatablePermutation)
{
	for (const ArrayKind& kind : AllSortableKinds())
	{
		std::vector<int32> seeds;
		for (int32 i = 0; i < 50; ++i)
			seeds.push_back(i * 20);
		std::unique_ptr<VArrayValue> first = MakeArray(kind, seeds);
		std::unique_ptr<VArrayValue> second = MakeArray(kind, seeds);
		first->Unsort();
		second->Unsort();
		EXPECT_EQ(Keys(kind, *first), Keys(kind, *second)) << kind.fName;
		if (kind.fKind != VK_ARRAY_BOOLEAN)
		{
			EXPECT_NE(Keys(kind, *first), Keys(kind, *MakeArray(kind, seeds))) << kind.fName;
		}
		first->Sort(1, 50, false);
		EXPECT_EQ(Keys(kind, *first), Keys(kind, *MakeArray(kind, seeds))) << kind.fName;
	}
}

}  // namespace
}  // namespace velk
