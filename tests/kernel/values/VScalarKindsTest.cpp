// The scalar kinds as a family: their registered descriptors, flat forms and byte swapping, copies,
// conversions between kinds (with the NaN and saturation rules of reals) and integer comparisons.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VWord.h"

namespace velk {
namespace {

std::unique_ptr<VValueSingle> Make(ValueKind kind)
{
	VValue* made = VValue::NewValueFromValueKind(kind);
	return std::unique_ptr<VValueSingle>(made != nullptr ? made->IsVValueSingle() : nullptr);
}

TEST(VScalarKindsTest, DescriptorsAreRegisteredAndMakeTheirKind)
{
	struct Row
	{
		ValueKind kind;
		uint64 width;
		uint64 streamWidth;  // bytes and booleans travel as 16-bit words
		bool (*isKind)(const VValue*);
	};
	const Row rows[] = {
		{VK_EMPTY, 0, 0, [](const VValue* v) { return dynamic_cast<const VEmpty*>(v) != nullptr; }},
		{VK_BOOLEAN, 1, 2, [](const VValue* v) { return dynamic_cast<const VBoolean*>(v) != nullptr; }},
		{VK_BYTE, 1, 2, [](const VValue* v) { return dynamic_cast<const VByte*>(v) != nullptr; }},
		{VK_WORD, 2, 2, [](const VValue* v) { return dynamic_cast<const VWord*>(v) != nullptr; }},
		{VK_LONG, 4, 4, [](const VValue* v) { return dynamic_cast<const VLong*>(v) != nullptr; }},
		{VK_LONG8, 8, 8, [](const VValue* v) { return dynamic_cast<const VLong8*>(v) != nullptr; }},
		{VK_REAL, 8, 8, [](const VValue* v) { return dynamic_cast<const VReal*>(v) != nullptr; }},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.kind);
		const VValueInfo* info = VValue::ValueInfoFromValueKind(row.kind);
		ASSERT_NE(info, nullptr);
		EXPECT_EQ(info->GetKind(), row.kind);
		EXPECT_EQ(info->GetAvgSpace(), row.width);
		std::unique_ptr<VValue> made(info->Generate());
		ASSERT_TRUE(row.isKind(made.get()));
		EXPECT_EQ(made->GetValueInfo(), info);
		EXPECT_TRUE(made->IsDirty());
		// A generated scalar is a non-null zero; only the empty kind starts null.
		EXPECT_EQ(made->IsNull(), row.kind == VK_EMPTY);
		EXPECT_EQ(made->IsVValueSingle()->GetLong8(), 0);
		uint64 extra = 0;
		EXPECT_EQ(made->GetSpace(extra), row.width);
		EXPECT_EQ(made->GetStreamSpace(), row.streamWidth);
		std::unique_ptr<VValue> generatedForBlob(info->Generate(nullptr));
		EXPECT_TRUE(row.isKind(generatedForBlob.get()));
	}
	EXPECT_TRUE(VEmpty().IsNull());
	EXPECT_EQ(dynamic_cast<const VReal::VValueInfo_real*>(VValue::ValueInfoFromValueKind(VK_REAL)), &VReal::sInfo);
}

// Each kind's value written flat at an odd address, read back by the instance and by the descriptor,
// then byte-swapped in place.
TEST(VScalarKindsTest, FlatFormRoundTripAndByteSwap)
{
	constexpr int64 kPattern = 0x0102030405060708;
	struct Row
	{
		ValueKind kind;
		size_t width;
		uint8 native[8];  // the flat bytes in host order of the value set from kPattern
	};
	Row rows[] = {
		{VK_BYTE, 1, {}},
		{VK_WORD, 2, {}},
		{VK_LONG, 4, {}},
		{VK_LONG8, 8, {}},
		{VK_REAL, 8, {}},
	};
	// Integer kinds keep the low bits of the pattern; the real holds it as the nearest double.
	const int8 b = 0x08;
	const int16 w = 0x0708;
	const int32 l = 0x05060708;
	const double r = double(kPattern);
	std::memcpy(rows[0].native, &b, 1);
	std::memcpy(rows[1].native, &w, 2);
	std::memcpy(rows[2].native, &l, 4);
	std::memcpy(rows[3].native, &kPattern, 8);
	std::memcpy(rows[4].native, &r, 8);

	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.kind);
		std::unique_ptr<VValueSingle> value = Make(row.kind);
		ASSERT_NE(value, nullptr);
		if (row.kind == VK_REAL)
			value->FromReal(r);
		else
			value->FromLong8(kPattern);

		uint8 buffer[16] = {};
		uint8* flat = buffer + 1;
		EXPECT_EQ(value->WriteToPtr(flat), flat + row.width);
		EXPECT_EQ(std::memcmp(flat, row.native, row.width), 0);
		EXPECT_EQ(buffer[0], 0);
		EXPECT_EQ(buffer[1 + row.width], 0);

		// A limit too small for the datum writes nothing.
		if (row.width > 1)
		{
			uint8 untouched[8] = {};
			EXPECT_EQ(value->WriteToPtr(untouched, 0, row.width - 1), untouched);
			EXPECT_EQ(untouched[0], 0);
		}

		std::unique_ptr<VValueSingle> loaded = Make(row.kind);
		loaded->SetNull(true);
		EXPECT_EQ(loaded->LoadFromPtr(flat), flat + row.width);
		EXPECT_FALSE(loaded->IsNull());
		EXPECT_TRUE(loaded->IsDirty());
		EXPECT_EQ(loaded->CompareTo(*value), CR_EQUAL);

		const VValueInfo* info = value->GetValueInfo();
		std::unique_ptr<VValue> rebuilt(info->LoadFromPtr(flat));
		EXPECT_EQ(rebuilt->IsVValueSingle()->GetLong8(), value->GetLong8());
		EXPECT_EQ(info->GetSizeOfValueDataPtr(flat), row.width);

		EXPECT_EQ(info->ByteSwapPtr(flat, true), flat + row.width);
		for (size_t i = 0; i < row.width; ++i)
			EXPECT_EQ(flat[i], row.native[row.width - 1 - i]) << i;
		info->ByteSwapPtr(flat, false);
		EXPECT_EQ(std::memcmp(flat, row.native, row.width), 0);
	}

	uint8 flag = 0x2A;
	EXPECT_EQ(VBoolean::sInfo.ByteSwapPtr(&flag, true), &flag + 1);
	EXPECT_EQ(flag, 0x2A);
	EXPECT_EQ(VEmpty::sInfo.ByteSwapPtr(&flag, true), &flag);
}

TEST(VScalarKindsTest, CloneKeepsValueAndNullAndClearGivesANonNullZero)
{
	for (const ValueKind kind : {VK_BOOLEAN, VK_BYTE, VK_WORD, VK_LONG, VK_LONG8, VK_REAL})
	{
		SCOPED_TRACE(kind);
		std::unique_ptr<VValueSingle> value = Make(kind);
		value->FromLong(1);
		value->SetNull(true);
		value->SetDirty(false);
		std::unique_ptr<VValue> copy(value->Clone());
		EXPECT_TRUE(copy->IsNull());
		EXPECT_TRUE(copy->IsDirty());
		EXPECT_EQ(copy->IsVValueSingle()->GetLong(), 1);
		EXPECT_EQ(copy->GetValueInfo(), value->GetValueInfo());

		value->Clear();
		EXPECT_FALSE(value->IsNull());
		EXPECT_TRUE(value->IsDirty());
		EXPECT_EQ(value->GetLong(), 0);

		// Same-kind copies take the null state along; another kind is refused.
		std::unique_ptr<VValueSingle> target = Make(kind);
		EXPECT_TRUE(target->FromValueSameKind(copy.get()));
		EXPECT_TRUE(target->IsNull());
		EXPECT_EQ(target->GetLong(), 1);
		VEmpty other;
		EXPECT_FALSE(target->FromValueSameKind(&other));
		EXPECT_EQ(target->GetLong(), 1);
	}
}

// Narrowing keeps the low bits, widening extends the sign, reals truncate toward zero.
TEST(VScalarKindsTest, ConversionsBetweenKinds)
{
	struct Row
	{
		const char* what;
		double (*run)();
		double expected;
	};
	const Row rows[] = {
		{"long8 to long keeps the low 32 bits", [] { return double(VLong8(0x180000001LL).GetLong()); }, -2147483647.0},
		{"long8 to word", [] { return double(VLong8(0x12345FFFFLL).GetWord()); }, -1.0},
		{"long to byte", [] { return double(VLong(300).GetByte()); }, 44.0},
		{"word to long8 sign-extends", [] { return double(VWord(-2).GetLong8()); }, -2.0},
		{"byte from word keeps 8 bits", [] { VByte v; v.FromWord(0x1FF); return double(v.Get()); }, -1.0},
		{"long from long8", [] { VLong v; v.FromLong8(0x100000005LL); return double(v.Get()); }, 5.0},
		{"long8 from boolean zero-extends", [] { VLong8 v; v.FromBoolean(0xFF); return double(v.Get()); }, 255.0},
		{"long8 from byte sign-extends", [] { VLong8 v; v.FromByte(-3); return double(v.Get()); }, -3.0},
		{"real from long8 is the nearest double", [] { VReal v; v.FromLong8(9007199254740993LL); return v.Get(); }, 9007199254740992.0},
		{"long8 to real", [] { return VLong8(-5).GetReal(); }, -5.0},
		{"real to long truncates toward zero", [] { return double(VReal(-2.75).GetLong()); }, -2.0},
		{"real to byte: 300.7 keeps the low byte of 300", [] { return double(VReal(300.7).GetByte()); }, 44.0},
		{"byte from real", [] { VByte v; v.FromReal(-129.5); return double(v.Get()); }, 127.0},
		{"word from real cut to 16 bits", [] { VWord v; v.FromReal(-70000.9); return double(v.Get()); }, -4464.0},
		{"boolean to real", [] { return VBoolean(1).GetReal(); }, 1.0},
		{"real to boolean", [] { return double(VReal(-0.001).GetBoolean()); }, 1.0},
	};
	for (const Row& row : rows)
		EXPECT_EQ(row.run(), row.expected) << row.what;

	// GetValue writes through the target's setter of the source's width; ConvertTo keeps the null state.
	VReal real(-1234.9);
	real.SetNull(true);
	std::unique_ptr<VValueSingle> asWord(real.ConvertTo(VK_WORD));
	ASSERT_NE(asWord, nullptr);
	EXPECT_EQ(asWord->GetWord(), -1234);
	EXPECT_TRUE(asWord->IsNull());
	std::unique_ptr<VValueSingle> asReal(VByte(-7).ConvertTo(VK_REAL));
	EXPECT_EQ(asReal->GetReal(), -7.0);
	EXPECT_FALSE(asReal->IsNull());
	std::unique_ptr<VValueSingle> asByte(VLong8(0x7FFFFFFFFFFF0102LL).ConvertTo(VK_BYTE));
	EXPECT_EQ(asByte->GetByte(), 2);

	// FromValue copies the source's null state and takes its number in the target's width.
	VLong8 wide(-1);
	wide.SetNull(true);
	VWord word(5);
	word.FromValue(wide);
	EXPECT_TRUE(word.IsNull());
	EXPECT_EQ(word.Get(), -1);
}

// Reals that have no integer value of the target's width: NaN gives 0, the rest saturates before any
// narrowing.
TEST(VScalarKindsTest, NaNAndOutOfRangeRealsToIntegers)
{
	constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
	constexpr double kInf = std::numeric_limits<double>::infinity();
	constexpr int32 kMax32 = std::numeric_limits<int32>::max();
	constexpr int32 kMin32 = std::numeric_limits<int32>::min();
	constexpr int64 kMax64 = std::numeric_limits<int64>::max();
	constexpr int64 kMin64 = std::numeric_limits<int64>::min();
	struct Row
	{
		double real;
		int32 asLong;
		int64 asLong8;
	};
	const Row rows[] = {
		{kNaN, 0, 0},
		{-kNaN, 0, 0},
		{kInf, kMax32, kMax64},
		{-kInf, kMin32, kMin64},
		{1e10, kMax32, 10000000000LL},
		{-1e10, kMin32, -10000000000LL},
		{2147483647.9, kMax32, 2147483647},
		{2147483648.0, kMax32, 2147483648LL},
		{-2147483648.9, kMin32, -2147483648LL},
		{-2147483649.0, kMin32, -2147483649LL},
		{9223372036854775808.0, kMax32, kMax64},
		{-9223372036854775808.0, kMin32, kMin64},
		{1e300, kMax32, kMax64},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.real);
		EXPECT_EQ(VReal::RealToLong(row.real), row.asLong);
		EXPECT_EQ(VReal::RealToLong8(row.real), row.asLong8);
		const VReal real(row.real);
		EXPECT_EQ(real.GetLong(), row.asLong);
		EXPECT_EQ(real.GetLong8(), row.asLong8);
		EXPECT_EQ(real.GetWord(), int16(row.asLong));
		EXPECT_EQ(real.GetByte(), int8(row.asLong));
		VLong l;
		l.FromReal(row.real);
		EXPECT_EQ(l.Get(), row.asLong);
		VLong8 l8;
		l8.FromReal(row.real);
		EXPECT_EQ(l8.Get(), row.asLong8);
		VWord w;
		w.FromReal(row.real);
		EXPECT_EQ(w.Get(), int16(row.asLong));
		VByte b;
		b.FromReal(row.real);
		EXPECT_EQ(b.Get(), int8(row.asLong));
	}
	VBoolean flag;
	flag.FromReal(kNaN);
	EXPECT_TRUE(flag.GetBoolean());
	flag.FromReal(-0.0);
	EXPECT_FALSE(flag.GetBoolean());
}

TEST(VScalarKindsTest, IntegerComparisons)
{
	const VCompareOptions options;
	// Signed order everywhere, also against flat data at odd addresses.
	const VByte one(1);
	EXPECT_EQ(VByte(-1).CompareToSameKind(&one), CR_SMALLER);
	EXPECT_EQ(one.CompareToSameKindWithOptions(&one, options), CR_EQUAL);
	const VLong8 big(std::numeric_limits<int64>::max());
	const VLong8 small(std::numeric_limits<int64>::min());
	EXPECT_EQ(big.CompareToSameKind(&small), CR_BIGGER);
	EXPECT_EQ(small.CompareToSameKindWithOptions(&big, options), CR_SMALLER);
	EXPECT_TRUE(big.EqualToSameKind(&big));

	uint8 flat[9];
	const int64 minusOne = -1;
	std::memcpy(flat + 1, &minusOne, 8);
	EXPECT_EQ(VLong8(0).CompareToSameKindPtr(flat + 1), CR_BIGGER);
	EXPECT_EQ(VLong8(0).Swap_CompareToSameKindPtr(flat + 1), CR_SMALLER);
	EXPECT_EQ(VLong8(-1).CompareToSameKindPtrWithOptions(flat + 1, options), CR_EQUAL);
	const int16 word = -300;
	std::memcpy(flat + 1, &word, 2);
	EXPECT_EQ(VWord(-301).CompareToSameKindPtr(flat + 1), CR_SMALLER);
	const int32 along = 7;
	std::memcpy(flat + 1, &along, 4);
	EXPECT_TRUE(VLong(7).EqualToSameKindPtr(flat + 1));

	// The descriptors compare flat data signed, the boolean's unsigned.
	const int8 minusOneByte = -1;
	const int8 oneByte = 1;
	EXPECT_EQ(VByte::sInfo.CompareTwoPtrToData(&minusOneByte, &oneByte), CR_SMALLER);
	const uint8 high = 0xFF;
	const uint8 zero = 0;
	EXPECT_EQ(VBoolean::sInfo.CompareTwoPtrToData(&high, &zero), CR_BIGGER);
	const int32 l1 = -5;
	const int32 l2 = 3;
	EXPECT_EQ(VLong::sInfo.CompareTwoPtrToDataWithOptions(&l1, &l2, options), CR_SMALLER);
	EXPECT_EQ(VLong::sInfo.CompareTwoPtrToDataBegining(&l2, &l1), CR_BIGGER);

	// Across kinds: each compares in its own reading of the other value.
	EXPECT_EQ(VByte(-1).CompareTo(VLong(-1)), CR_EQUAL);
	EXPECT_EQ(VWord(2).CompareTo(VReal(2.9)), CR_EQUAL);
	EXPECT_EQ(VLong8(0x100000000LL).CompareTo(VLong(1)), CR_BIGGER);
	EXPECT_EQ(VLong(0).CompareTo(VLong8(0x100000000LL)), CR_EQUAL);

	VEmpty empty;
	EXPECT_EQ(empty.CompareTo(VLong(0)), CR_UNRELEVANT);
	EXPECT_EQ(empty.CompareTo(empty), CR_UNRELEVANT);
}

// Strings hand their reading of the text to the integer kinds, nulls included.
TEST(VScalarKindsTest, FromAndToStrings)
{
	VString nullText(true);
	VLong8 l8(42);
	l8.FromString(nullText);
	EXPECT_TRUE(l8.IsNull());
	EXPECT_EQ(l8.Get(), 42);
	VReal real(2.5);
	real.FromString(nullText);
	EXPECT_TRUE(real.IsNull());
	EXPECT_EQ(real.Get(), 2.5);
	VLong l(42);
	l.FromString(nullText);
	EXPECT_TRUE(l.IsNull());
	EXPECT_EQ(l.Get(), 0);

	VWord w;
	w.FromString(VString("70000"));
	EXPECT_EQ(w.Get(), int16(70000));
	EXPECT_FALSE(w.IsNull());
	VByte b;
	b.FromString(VString("-2"));
	EXPECT_EQ(b.Get(), -2);
	VLong8 parsed;
	parsed.FromString(VString("-9000000000"));
	EXPECT_EQ(parsed.Get(), -9000000000LL);

	VString text;
	VByte(-128).GetString(text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("-128")));
	VLong8(std::numeric_limits<int64>::min()).GetString(text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("-9223372036854775808")));
	VWord(-1).GetXMLString(text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("-1")));
}

}  // namespace
}  // namespace velk
