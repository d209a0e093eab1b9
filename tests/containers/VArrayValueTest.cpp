// Typed arrays: the registered kinds, packed booleans, search, deletion, copies and clones, extremes and
// the sums of reals.
#include <gtest/gtest.h>

#include <limits>

#include "VArrayTestKinds.h"
#include "common/VFailingAllocations.h"
#include "containers/VArrayImage.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VReal.h"

namespace velk {
namespace {

using test::AllSortableKinds;
using test::ArrayKind;
using test::Keys;
using test::MakeArray;

TEST(VArrayValueTest, ElevenKindsAreRegistered)
{
	const ValueKind kinds[] = {100, 101, 102, 103, 104, 105, 107, 108, 109, 110, 111};
	for (ValueKind kind : kinds)
	{
		VValue* made = VValue::NewValueFromValueKind(kind);
		auto* array = dynamic_cast<VArrayValue*>(made);
		ASSERT_NE(array, nullptr) << kind;
		EXPECT_EQ(array->GetValueKind(), kind);
		EXPECT_EQ(array->GetCount(), 0);
		EXPECT_EQ(array->GetValueInfo(), VValue::ValueInfoFromValueKind(kind));
		delete made;
	}
	EXPECT_EQ(VValue::ValueInfoFromValueKind(106), nullptr);
}

TEST(VArrayValueTest, BooleansArePackedEightToAByte)
{
	const bool bits[] = {true, false, true, true, false, false, false, true};
	VArrayBoolean array;
	for (bool bit : bits)
		array.AppendBoolean(bit);
	ASSERT_EQ(array.GetCount(), 8);
	const uint8* block = static_cast<const uint8*>(array.LockAndGetData());
	EXPECT_EQ(block[0], 0x8D) << "position p is bit p-1, least significant first";
	EXPECT_EQ(block[1], 0x00) << "a multiple of 8 still has one more byte";

	// Inserting and deleting shift the bits across byte boundaries.
	ASSERT_TRUE(array.Insert(2, 3));
	EXPECT_EQ(array.GetCount(), 11);
	array.FromBoolean(1, 3);
	const bool inserted[] = {true, false, true, false, false, true, true, false, false, false, true};
	for (int32 pos = 1; pos <= 11; ++pos)
		EXPECT_EQ(array.GetBoolean(pos), inserted[pos - 1]) << pos;
	array.Delete(2, 3);
	for (int32 pos = 1; pos <= 8; ++pos)
		EXPECT_EQ(array.GetBoolean(pos), bits[pos - 1]) << pos;
	EXPECT_FALSE(array.GetBoolean(9));

	// Bits dropped by a smaller count come back false.
	ASSERT_TRUE(array.SetCount(1));
	ASSERT_TRUE(array.SetCount(8));
	for (int32 pos = 2; pos <= 8; ++pos)
		EXPECT_FALSE(array.GetBoolean(pos)) << pos;
}

// On [3, 5, 5], walking up or down from start, by each method; the same for every number kind and for
// strings. A start before the array or beyond it finds nothing; an unknown method answers start.
TEST(VArrayValueTest, FindWalksByMethod)
{
	struct Case
	{
		int32 fValue;
		int32 fStart;
		bool fForward;
		CompareMethod fMethod;
		int32 fExpected;
	};
	const Case cases[] = {
		{5, 1, true, CM_EQUAL, 2}, {5, 3, false, CM_SMALLER, 1}, {9, 1, true, CM_GREATER_OR_EQUAL, -1},
		{4, 1, true, CM_GREATER, 2}, {5, 1, true, CM_GREATER, -1}, {5, 2, true, CM_GREATER_OR_EQUAL, 2},
		{5, 3, false, CM_SMALLER_OR_EQUAL, 3}, {3, 3, false, CM_EQUAL, 1}, {4, 1, true, CM_EQUAL, -1},
		{5, 0, true, CM_EQUAL, -1}, {5, -3, false, CM_EQUAL, -1}, {5, 4, false, CM_EQUAL, -1},
		{9, 2, true, 7, 2}, {9, 0, true, 7, -1},
	};
	std::vector<VArrayValue*> arrays;
	for (const ArrayKind& kind : AllSortableKinds())
	{
		if (kind.fKind == VK_ARRAY_BYTE || kind.fKind == VK_ARRAY_WORD || kind.fKind == VK_ARRAY_LONG
			|| kind.fKind == VK_ARRAY_LONG8 || kind.fKind == VK_ARRAY_REAL)
			arrays.push_back(kind.fMake());
	}
	arrays.push_back(new VArrayString);
	for (VArrayValue* array : arrays)
	{
		array->SetCount(3);
		array->FromValue(VLong(3), 1);
		array->FromValue(VLong(5), 2);
		array->FromValue(VLong(5), 3);
		for (const Case& c : cases)
		{
			const VLong value(c.fValue);
			const VString text(std::to_string(c.fValue).c_str());
			const VValueSingle& given = array->GetValueKind() == VK_ARRAY_STRING ? static_cast<const VValueSingle&>(text) : value;
			EXPECT_EQ(array->Find(given, c.fStart, c.fForward, c.fMethod), c.fExpected)
				<< "kind " << array->GetValueKind() << " value " << c.fValue << " start " << c.fStart << " method " << c.fMethod;
		}
		delete array;
	}

	VArrayLong empty;
	EXPECT_EQ(empty.Find(0, 1, true, CM_EQUAL), -1);
	VArrayString strings(2);
	strings.FromString(VString(u"\u00C9t\u00E9", 3), 2);
	EXPECT_EQ(strings.Find(VString("ete"), 1, true, CM_EQUAL), 2) << "without diacritics, and a null element never matches";
	VArrayBoolean booleans(3);
	booleans.FromBoolean(1, 3);
	EXPECT_EQ(booleans.Find(true, 1, true, CM_SMALLER), 3) << "the method is not used for booleans";
	EXPECT_EQ(booleans.Find(false, 3, false, 7), 2);
}

// Delete keeps to the elements that exist; each kind's owned elements are released once.
TEST(VArrayValueTest, DeleteClampsItsRange)
{
	struct Case
	{
		int32 fPos;
		int32 fCount;
		std::vector<int32> fLeft;
	};
	const Case cases[] = {
		{2, 2, {100, 400, 500}}, {4, 99, {100, 200, 300}}, {0, 2, {200, 300, 400, 500}}, {-3, 5, {200, 300, 400, 500}},
		{-3, 2, {100, 200, 300, 400, 500}}, {6, 1, {100, 200, 300, 400, 500}}, {1, 0, {100, 200, 300, 400, 500}},
		{1, 5, {}}, {5, 1, {100, 200, 300, 400}},
	};
	for (const ArrayKind& kind : AllSortableKinds())
	{
		for (const Case& c : cases)
		{
			std::unique_ptr<VArrayValue> array = MakeArray(kind, {100, 200, 300, 400, 500});
			array->Delete(c.fPos, c.fCount);
			EXPECT_EQ(Keys(kind, *array), Keys(kind, *MakeArray(kind, c.fLeft))) << kind.fName << " " << c.fPos << "," << c.fCount;
		}
	}
}

// Copies and clones hold elements of their own; copying an array into itself keeps it.
TEST(VArrayValueTest, CopiesAndClonesAreIndependent)
{
	for (const ArrayKind& kind : AllSortableKinds())
	{
		std::unique_ptr<VArrayValue> source = MakeArray(kind, {900, 100, 500});
		const std::vector<std::string> keys = Keys(kind, *source);
		EXPECT_TRUE(source->Copy(*source)) << kind.fName;
		EXPECT_EQ(Keys(kind, *source), keys) << kind.fName;

		std::unique_ptr<VValue> clone(source->Clone());
		auto* array = dynamic_cast<VArrayValue*>(clone.get());
		ASSERT_NE(array, nullptr) << kind.fName;
		EXPECT_EQ(array->GetValueKind(), kind.fKind);
		kind.fSet(*source, 1, 0);
		EXPECT_EQ(Keys(kind, *array), keys) << kind.fName;
		source.reset();
		EXPECT_EQ(Keys(kind, *array), keys) << kind.fName << ": the clone outlives its source";
	}

	VArrayLong numbers(2);
	VArrayString strings(2);
	strings.FromString(VString("kept?"), 1);
	EXPECT_FALSE(strings.Copy(numbers)) << "another kind is refused";
	EXPECT_EQ(strings.GetCount(), 0);
}

// A clone that runs out of memory part-way is null and the source keeps its strings: no element is
// shared (the sanitizer would see a second release).
TEST(VArrayValueTest, CloneShortOfMemoryIsNull)
{
	VArrayString source;
	for (int32 i = 0; i < 20; ++i)
		source.AppendString(VString(std::string(40, char('a' + i)).c_str()));
	source.Insert(5, 1);
	const long runs = test::ForEachAllocationFailure([&](long) {
		VValue* clone = source.Clone();
		if (clone != nullptr)
		{
			auto* copy = static_cast<VArrayString*>(clone);
			EXPECT_EQ(copy->GetCount(), 21);
			copy->FromString(VString("changed"), 1);
		}
		delete clone;
	});
	EXPECT_GT(runs, 1);
	VString first;
	source.GetString(first, 1);
	EXPECT_EQ(test::Utf8(first), std::string(40, 'a'));
}

TEST(VArrayValueTest, ExtremesAndBisection)
{
	VArrayLong longs;
	EXPECT_EQ(longs.GetMax(), std::numeric_limits<int32>::min());
	EXPECT_EQ(longs.GetMin(), std::numeric_limits<int32>::max());
	EXPECT_EQ(longs.QuickFind(1), -1);
	for (int32 value : {-7, 3, 3, 12, 40, 41})
		longs.AppendLong(value);
	EXPECT_EQ(longs.GetMax(), 41);
	EXPECT_EQ(longs.GetMin(), -7);
	for (int32 pos = 1; pos <= longs.GetCount(); ++pos)
		EXPECT_EQ(longs.GetLong(longs.QuickFind(longs.GetLong(pos))), longs.GetLong(pos));
	EXPECT_EQ(longs.QuickFind(4), -1);
	EXPECT_EQ(longs.QuickFind(42), -1);

	VArrayByte bytes;
	EXPECT_EQ(bytes.GetMax(), -128);
	bytes.AppendByte(-3);
	bytes.AppendByte(5);
	EXPECT_EQ(bytes.GetMax(), 5);
	EXPECT_EQ(bytes.GetMin(), -3);

	VArrayString strings;
	for (const char* text : {"apple", "kiwi", "pear"})
		strings.AppendString(VString(text));
	EXPECT_EQ(strings.QuickFind(VString("kiwi")), 2);
	EXPECT_EQ(strings.QuickFind(VString("fig")), -1);

	// Typed access ignores positions outside the array.
	longs.FromLong(99, 0);
	longs.FromLong(99, 7);
	EXPECT_EQ(longs.GetLong(0), 0);
	EXPECT_EQ(longs.GetLong(7), 0);
	VReal real(1.5);
	longs.GetValue(real, 2);
	EXPECT_EQ(real.GetReal(), 3.0);
	std::unique_ptr<VValueSingle> element(longs.CloneValue(6));
	ASSERT_NE(element, nullptr);
	EXPECT_EQ(element->GetLong(), 41);
	EXPECT_EQ(longs.CompareTo(VLong(40), false, 6), CR_BIGGER);
}

TEST(VArrayValueTest, SumsOfReals)
{
	VArrayReal reals;
	EXPECT_EQ(reals.GetSum(), 0.0);
	EXPECT_EQ(reals.GetAverage(), 0.0);
	EXPECT_EQ(reals.GetStdDev(), 0.0);
	reals.AppendReal(1.0);
	reals.AppendReal(3.0);
	EXPECT_EQ(reals.GetSum(), 4.0);
	EXPECT_EQ(reals.GetAverage(), 2.0);
	EXPECT_EQ(reals.GetSquareSum(), 2.0);
	EXPECT_EQ(reals.GetStdDev(), 1.0) << "the mean of the squared differences, no square root";
}

// Pictures are only taken from values of the picture kind, which the toolbox does not make.
TEST(VArrayValueTest, PictureArraysKeepOnlyPictures)
{
	VArrayImage images(2);
	images.FromValue(VLong(3), 1);
	EXPECT_EQ(images.GetImage(1), nullptr);
	EXPECT_EQ(images.CloneValue(1), nullptr);
	ASSERT_TRUE(images.Insert(1, 2));
	EXPECT_EQ(images.GetCount(), 4);
	images.Delete(2, 9);
	EXPECT_EQ(images.GetCount(), 1);
	std::unique_ptr<VValue> clone(images.Clone());
	ASSERT_NE(clone, nullptr);
	EXPECT_EQ(static_cast<VArrayImage*>(clone.get())->GetCount(), 1);
}

}  // namespace
}  // namespace velk
