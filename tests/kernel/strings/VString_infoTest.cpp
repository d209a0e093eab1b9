// The string kind: its descriptor (flat form, byte order, comparisons of flat strings), the statics built
// at start-up, literal strings and the kind-level operations of a string.
#include "kernel/strings/VString_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "common/VFlatBytes.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VVectorStream.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

TEST(VString_infoTest, TheKindIsRegisteredBeforeTheEmptyString)
{
	EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_STRING), &VString::sInfo);
	EXPECT_EQ(VString().GetValueInfo(), &VString::sInfo);
	EXPECT_EQ(VString::sInfo.GetAvgSpace(), 64u);

	EXPECT_TRUE(VString::sEmpty.IsEmpty());
	EXPECT_FALSE(VString::sEmpty.IsNull());
	EXPECT_TRUE(VString::sEmpty.IsDirty());

	for (VValue* made : {VString::sInfo.Generate(), VString::sInfo.Generate(nullptr), VValue::NewValueFromValueKind(VK_STRING)})
	{
		std::unique_ptr<VValue> value(made);
		const VString* text = dynamic_cast<const VString*>(value.get());
		ASSERT_NE(text, nullptr);
		EXPECT_TRUE(text->IsEmpty());
		EXPECT_FALSE(text->IsNull());
		EXPECT_TRUE(text->IsDirty());
	}
}

TEST(VString_infoTest, FlatFormSizeAndByteSwap)
{
	std::vector<uint8> flat = test::FlatBytes(VString("abc"));
	const std::vector<uint8> little = {3, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0};
	const std::vector<uint8> big = {0, 0, 0, 3, 0, 'a', 0, 'b', 0, 'c'};
	ASSERT_EQ(flat, little);
	EXPECT_EQ(VString::sInfo.GetSizeOfValueDataPtr(flat.data()), 10u);

	std::unique_ptr<VValue> loaded(VString::sInfo.LoadFromPtr(flat.data()));
	EXPECT_TRUE(static_cast<VString&>(*loaded).EqualToStringRaw(VString("abc")));

	// The count is read before the swap from native order, after it towards native order.
	EXPECT_EQ(VString::sInfo.ByteSwapPtr(flat.data(), true), flat.data() + 10);
	EXPECT_EQ(flat, big);
	EXPECT_EQ(VString::sInfo.ByteSwapPtr(flat.data(), false), flat.data() + 10);
	EXPECT_EQ(flat, little);

	std::vector<uint8> empty = test::FlatBytes(VString());
	EXPECT_EQ(VString::sInfo.GetSizeOfValueDataPtr(empty.data()), 4u);
	EXPECT_EQ(VString::sInfo.ByteSwapPtr(empty.data(), true), empty.data() + 4);
}

TEST(VString_infoTest, FlatComparisons)
{
	ASSERT_NE(VTask::GetCurrentIntlManager(), nullptr);
	enum Form { kWhole, kBegining, kLike, kBeginingLike, kOptionsBeginning };
	struct Row
	{
		const char* a;
		const char* b;
		Form form;
		CompareResult expected;
	};
	const Row rows[] = {
		{"abc", "abd", kWhole, CR_SMALLER},
		{"ABC", "abc", kWhole, CR_EQUAL},  // case ignored without diacritics
		{"abcdef", "abc", kWhole, CR_BIGGER},
		{"abcdef", "abc", kBegining, CR_EQUAL},
		{"ab", "abc", kBegining, CR_SMALLER},
		{"abcdef", "ab@", kLike, CR_EQUAL},
		{"abcdef", "x@", kLike, CR_SMALLER},
		{"abcdef", "abc@", kBeginingLike, CR_EQUAL},
		{"ab", "abc", kOptionsBeginning, CR_EQUAL},  // both cut to the shorter
		{"abd", "abc", kOptionsBeginning, CR_BIGGER},
	};
	VCompareOptions beginning;
	beginning.SetIntlMgr(VTask::GetCurrentIntlManager());
	beginning.SetBeginsWith(true);
	for (const Row& row : rows)
	{
		SCOPED_TRACE(std::string(row.a) + " / " + row.b);
		const std::vector<uint8> a = test::FlatBytes(VString(row.a));
		const std::vector<uint8> b = test::FlatBytes(VString(row.b));
		CompareResult result = CR_UNRELEVANT;
		switch (row.form)
		{
			case kWhole: result = VString::sInfo.CompareTwoPtrToData(a.data(), b.data()); break;
			case kBegining: result = VString::sInfo.CompareTwoPtrToDataBegining(a.data(), b.data()); break;
			case kLike: result = VString::sInfo.CompareTwoPtrToData_Like(a.data(), b.data()); break;
			case kBeginingLike: result = VString::sInfo.CompareTwoPtrToDataBegining_Like(a.data(), b.data()); break;
			case kOptionsBeginning: result = VString::sInfo.CompareTwoPtrToDataWithOptions(a.data(), b.data(), beginning); break;
		}
		EXPECT_EQ(result, row.expected);
	}
	// With diacritics, case counts.
	const std::vector<uint8> upper = test::FlatBytes(VString("ABC"));
	const std::vector<uint8> lower = test::FlatBytes(VString("abc"));
	EXPECT_NE(VString::sInfo.CompareTwoPtrToData(upper.data(), lower.data(), true), CR_EQUAL);
}

TEST(VString_infoTest, StringsTravelThroughStreamsWithTheirKind)
{
	test::VVectorStream stream;
	ASSERT_EQ(stream.OpenWriting(), VE_OK);
	EXPECT_EQ(stream.PutValue(VString("kind ten"), true), VE_OK);
	stream.CloseWriting();
	ASSERT_EQ(stream.OpenReading(), VE_OK);
	std::unique_ptr<VValue> back(stream.GetValue());
	ASSERT_NE(dynamic_cast<VString*>(back.get()), nullptr);
	EXPECT_TRUE(static_cast<VString&>(*back).EqualToStringRaw(VString("kind ten")));
}

TEST(VString_infoTest, LiteralsAreWrappedInPlace)
{
	static const UniChar kLiteral[] = u"constant";
	const CVSTR_struct literal(kLiteral);
	EXPECT_EQ(literal.GetCPointer(), kLiteral);
	EXPECT_EQ(literal.GetLength(), 8);
	EXPECT_TRUE(literal.IsExternal());
	EXPECT_TRUE(literal.IsUnrefcounted());
	EXPECT_TRUE(literal.IsDirty());
	EXPECT_FALSE(literal.IsNull());
	EXPECT_TRUE(literal.IsStringValid());

	// Copies own their text, so the literal outlives nothing it lends.
	VString copy(literal);
	EXPECT_NE(copy.GetCPointer(), kLiteral);
	copy.AppendCString("!");
	EXPECT_TRUE(literal.EqualToStringRaw(VString("constant")));

	// Growing a wrapped literal moves it to a buffer of its own.
	CVSTR_struct grown(kLiteral);
	grown.AppendCString(" and more");
	EXPECT_NE(grown.GetCPointer(), kLiteral);
	EXPECT_TRUE(grown.EqualToStringRaw(VString("constant and more")));
	EXPECT_EQ(std::u16string(kLiteral), u"constant");

	// Text that lacks its terminator at the length given is copied, never wrapped.
	const CVSTR_struct prefix(kLiteral, 5);
	EXPECT_NE(prefix.GetCPointer(), kLiteral);
	EXPECT_TRUE(prefix.EqualToStringRaw(VString("const")));
}

TEST(VString_infoTest, ClearValidityAndDump)
{
	VString shared("a text long enough to live in a heap buffer");
	VString other(shared);
	ASSERT_EQ(other.GetCPointer(), shared.GetCPointer());
	shared.Clear();
	EXPECT_TRUE(shared.IsEmpty());
	EXPECT_TRUE(other.EqualToStringRaw(VString("a text long enough to live in a heap buffer")));

	EXPECT_TRUE(VString().IsStringValid());
	EXPECT_TRUE(other.IsStringValid());
	UniChar buffer[8] = {u'a', u'b', u'c', u'x'};
	VString wrapped(buffer, 3, sizeof(buffer));
	EXPECT_TRUE(wrapped.IsStringValid());
	buffer[3] = u'x';  // the caller wrote over the terminator
	EXPECT_FALSE(wrapped.IsStringValid());

	VString text("hello");
	text.Compose();
	text.Decompose();
	EXPECT_TRUE(text.EqualToStringRaw(VString("hello")));

	char dump[16] = {};
	int size = 4;
	EXPECT_EQ(text.DebugDump(dump, size), 2);
	EXPECT_EQ(size, 2);
	EXPECT_EQ(dump[0], 'h');
	EXPECT_EQ(dump[2], 0);
}

}  // namespace
}  // namespace velk
