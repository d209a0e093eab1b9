// Typed arrays of strings: appending, 1-based reads into any kind, null elements, insertion, emptying and
// the kind's descriptor. Leaks of element strings are caught by the sanitizer at exit.
#include "containers/VArrayString.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

std::u16string At(const VArrayString& array, int32 pos)
{
	VString out("sentinel");
	array.GetValue(out, pos);
	return Text(out);
}

TEST(VArrayStringTest, AppendReturnsTheCountAndReadsAreOneBased)
{
	VArrayString array(0);
	EXPECT_EQ(array.GetCount(), 0);
	EXPECT_EQ(array.AppendString(VString("one")), 1);
	EXPECT_EQ(array.AppendString(VString("")), 2);
	EXPECT_EQ(array.AppendString(VString("three")), 3);

	EXPECT_EQ(At(array, 1), u"one");
	EXPECT_EQ(At(array, 2), u"");
	EXPECT_EQ(At(array, 3), u"three");

	for (int32 outside : {0, -1, 4})
	{
		VString out("sentinel");
		array.GetValue(out, outside);
		EXPECT_TRUE(out.IsEmpty()) << outside;
		EXPECT_FALSE(out.IsNull()) << outside;
	}

	VLong number(int32(-1));
	array.AppendString(VString("42"));
	array.GetValue(number, 4);
	EXPECT_EQ(number.GetLong(), 42) << "an element goes into any kind through its setter";

	// Elements are copies: changing the source string afterwards does not reach them.
	VString source("source");
	array.AppendString(source);
	source.AppendCString(" changed");
	EXPECT_EQ(At(array, 5), u"source");
}

TEST(VArrayStringTest, NullElementsAndOverwrites)
{
	VArrayString array(3);
	EXPECT_EQ(array.GetCount(), 3);
	VString out("sentinel");
	array.GetValue(out, 2);
	EXPECT_TRUE(out.IsNull()) << "a place without a string reads as a null string";
	array.GetString(out, 2);
	EXPECT_TRUE(out.IsNull());

	array.FromString(VString("filled"), 2);
	array.FromString(VString("replaced"), 2);
	array.FromString(VString("ignored"), 4);
	EXPECT_EQ(array.GetCount(), 3);
	EXPECT_EQ(At(array, 2), u"replaced");
	array.GetString(out, 2);
	EXPECT_EQ(Text(out), u"replaced");
	EXPECT_EQ(array.GetValueKind(), VK_ARRAY_STRING);
	EXPECT_EQ(array.GetElemValueKind(), VK_STRING);
}

TEST(VArrayStringTest, InsertShrinkDestroyAndGrowAgain)
{
	VArrayString array;
	for (const char* text : {"a", "c", "d"})
		array.AppendString(VString(text));

	ASSERT_TRUE(array.Insert(2, 1));
	array.FromString(VString("b"), 2);
	ASSERT_TRUE(array.Insert(99, 1)) << "a position past the end appends";
	array.FromString(VString("e"), 5);
	const char16_t* expected[] = {u"a", u"b", u"c", u"d", u"e"};
	ASSERT_EQ(array.GetCount(), 5);
	for (int32 pos = 1; pos <= 5; ++pos)
		EXPECT_EQ(At(array, pos), expected[pos - 1]) << pos;

	ASSERT_TRUE(array.SetCount(2));
	EXPECT_EQ(At(array, 2), u"b");
	EXPECT_EQ(At(array, 3), u"") << "dropped elements are gone";
	ASSERT_TRUE(array.SetCount(4));
	VString grown("x");
	array.GetValue(grown, 4);
	EXPECT_TRUE(grown.IsNull()) << "new places start without a string";

	array.Destroy();
	EXPECT_EQ(array.GetCount(), 0);
	EXPECT_EQ(array.AppendString(VString("again")), 1);
	EXPECT_EQ(At(array, 1), u"again");
	array.Clear();
	EXPECT_EQ(array.GetCount(), 0);

	for (int32 i = 0; i < 1000; ++i)
		ASSERT_EQ(array.AppendString(VString(std::to_string(i).c_str())), i + 1);
	for (int32 i = 0; i < 1000; i += 97)
		EXPECT_EQ(At(array, i + 1), Text(VString(std::to_string(i).c_str())));
}

// Appending one element at a time must not resize the block each time (a split into many pieces would
// copy the whole block per piece): the block keeps room ahead, so that the next appends need no memory.
TEST(VArrayStringTest, AppendsUseRoomKeptAheadAndFailWithoutChange)
{
	VArrayString array;
	for (int32 i = 0; i < 100; ++i)
		ASSERT_EQ(array.AppendString(VString(std::to_string(i).c_str())), i + 1);

	// A manager without a backend refuses every block.
	VCppMemMgr* previous = VObject::sCppMemMgr;
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	int32 roomAhead = 0;
	int32 count = array.GetCount();
	// The strings themselves cannot be stored meanwhile; the places still count.
	while (roomAhead <= 100 && array.AppendString(VString()) == count + 1)
	{
		++count;
		++roomAhead;
	}
	const int32 countAtRefusal = array.GetCount();
	const bool inserted = array.Insert(1, 1);
	VObject::sCppMemMgr = previous;
	delete refusing;

	EXPECT_GE(roomAhead, 1);
	EXPECT_LE(roomAhead, 100) << "the room ahead is bounded by what the array holds";
	EXPECT_EQ(countAtRefusal, count) << "a refused append leaves the count";
	EXPECT_FALSE(inserted);
	ASSERT_EQ(array.GetCount(), count);
	for (int32 i = 0; i < 100; i += 11)
		EXPECT_EQ(At(array, i + 1), Text(VString(std::to_string(i).c_str()))) << i;

	// Shrinking and growing again gives places without a string, whatever the block held there before.
	ASSERT_TRUE(array.SetCount(3));
	ASSERT_TRUE(array.SetCount(50));
	VString out("sentinel");
	array.GetValue(out, 50);
	EXPECT_TRUE(out.IsNull());
	EXPECT_EQ(At(array, 3), u"2");
}

TEST(VArrayStringTest, DescriptorMakesEmptyArrays)
{
	const VValueInfo* info = VValue::ValueInfoFromValueKind(VK_ARRAY_STRING);
	ASSERT_EQ(info, &VArrayString::sInfo);
	VValue* made = info->Generate();
	auto* array = dynamic_cast<VArrayString*>(made);
	ASSERT_NE(array, nullptr);
	EXPECT_EQ(array->GetCount(), 0);
	EXPECT_EQ(array->GetValueInfo(), info);
	delete made;
}

}  // namespace
}  // namespace velk
