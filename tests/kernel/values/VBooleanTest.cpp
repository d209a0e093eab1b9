// The boolean kind: its texts, what its setters keep, its flat byte and how truths compare.
#include "kernel/values/VBoolean.h"

#include <gtest/gtest.h>

#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VLong.h"

namespace velk {
namespace {

TEST(VBooleanTest, XMLTextIsReadStrictly)
{
	struct Row
	{
		const char16_t* text;
		int expected;  // 1 true, 0 false, -1 refused
	};
	const Row rows[] = {
		{u"true", 1}, {u"TRUE", 1}, {u"tRuE", 1}, {u"1", 1},
		{u"false", 0}, {u"False", 0}, {u"FALSE", 0}, {u"0", 0},
		{u"yes", -1}, {u"2", -1}, {u" true", -1}, {u"true ", -1}, {u"", -1},
		{u"t", -1}, {u"10", -1}, {u"truee", -1}, {u"fals", -1}, {u"tru\u00C9", -1},
	};
	for (const Row& row : rows)
	{
		const VString text(row.text);
		SCOPED_TRACE(&row - rows);
		// Start from the opposite truth, null and clean, so that every change shows.
		VBoolean value(row.expected == 1 ? 0 : 1);
		value.SetNull(true);
		value.SetDirty(false);
		const bool accepted = value.FromXMLString(text);
		EXPECT_EQ(accepted, row.expected >= 0);
		if (row.expected >= 0)
		{
			EXPECT_EQ(value.GetBoolean(), row.expected == 1);
			EXPECT_FALSE(value.IsNull());
			EXPECT_TRUE(value.IsDirty());
		}
		else
		{
			EXPECT_EQ(value.GetBoolean(), true);
			EXPECT_TRUE(value.IsNull());
			EXPECT_FALSE(value.IsDirty());
		}

		// The JSON form falls back to a non-null false.
		VBoolean json(1);
		json.SetNull(true);
		EXPECT_EQ(json.FromJSONString(text), VE_OK);
		EXPECT_EQ(json.GetBoolean(), row.expected == 1);
		EXPECT_FALSE(json.IsNull());
	}
}

TEST(VBooleanTest, TextsAreTrueAndFalseWhateverTheNullState)
{
	VString text("something");
	VBoolean value(1);
	value.SetNull(true);
	value.GetXMLString(text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("true")));
	value.FromBoolean(0);
	EXPECT_EQ(value.GetJSONString(text), VE_OK);
	EXPECT_TRUE(text.EqualToStringRaw(VString("false")));
	value.GetString(text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("false")));
}

TEST(VBooleanTest, SettersAndGetters)
{
	VBoolean value;
	// Byte setters keep the byte; its readings are sign-extended except the real.
	value.FromByte(-1);
	EXPECT_EQ(value.Get(), 0xFF);
	EXPECT_EQ(value.GetLong(), -1);
	EXPECT_EQ(value.GetLong8(), -1);
	EXPECT_EQ(value.GetReal(), 255.0);
	EXPECT_TRUE(value.GetBoolean());
	// Wider integers count as truths, not as their low byte.
	value.FromLong(256);
	EXPECT_EQ(value.Get(), 1);
	value.FromLong8(0x100000000LL);
	EXPECT_EQ(value.Get(), 1);
	value.FromWord(0);
	EXPECT_EQ(value.Get(), 0);
	value.FromReal(0.1);
	EXPECT_EQ(value.Get(), 1);

	VLong source(-3);
	source.SetNull(true);
	value.FromValue(source);
	EXPECT_TRUE(value.GetBoolean());
	EXPECT_TRUE(value.IsNull());

	VLong target;
	VBoolean(1).GetValue(target);
	EXPECT_EQ(target.Get(), 1);
}

TEST(VBooleanTest, FlatByteAndComparisons)
{
	VBoolean seven;
	seven.FromByte(7);
	uint8 flat = 0x55;
	EXPECT_EQ(seven.WriteToPtr(&flat), &flat + 1);
	EXPECT_EQ(flat, 1);
	const uint8 stored = 9;
	VBoolean loaded;
	loaded.LoadFromPtr(&stored);
	EXPECT_EQ(loaded.Get(), 1);

	// Without options only truth counts; with options the stored bytes are ordered as unsigned numbers.
	struct Row
	{
		uint8 left;
		uint8 right;  // a value's byte, and the flat byte compared with the pointer forms
		CompareResult byTruth;
		CompareResult byBytes;
	};
	const Row rows[] = {
		{7, 1, CR_EQUAL, CR_BIGGER},
		{1, 7, CR_EQUAL, CR_SMALLER},
		{7, 7, CR_EQUAL, CR_EQUAL},
		{0, 0, CR_EQUAL, CR_EQUAL},
		{0, 7, CR_SMALLER, CR_SMALLER},
		{7, 0, CR_BIGGER, CR_BIGGER},
		{0x80, 1, CR_EQUAL, CR_BIGGER},  // unsigned: not below 1 as a signed byte would be
		{0x7F, 0xFF, CR_EQUAL, CR_SMALLER},
	};
	const VCompareOptions options;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << int(row.left) << " against " << int(row.right));
		VBoolean left;
		left.FromBoolean(row.left);
		VBoolean right;
		right.FromBoolean(row.right);
		ASSERT_EQ(left.Get(), row.left);
		EXPECT_EQ(left.CompareToSameKind(&right), row.byTruth);
		EXPECT_EQ(left.CompareToSameKindPtr(&row.right), row.byTruth);
		EXPECT_EQ(left.CompareToSameKindWithOptions(&right, options), row.byBytes);
		EXPECT_EQ(left.CompareToSameKindPtrWithOptions(&row.right, options), row.byBytes);
	}

	const VBoolean no(0);
	EXPECT_EQ(seven.CompareTo(VLong(-4)), CR_EQUAL);
	EXPECT_EQ(no.CompareTo(VLong(-4)), CR_SMALLER);
	EXPECT_EQ(seven.CompareTo(VLong(0)), CR_BIGGER);
}

}  // namespace
}  // namespace velk
