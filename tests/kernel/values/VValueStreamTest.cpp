// The stream forms of the value kinds: byte-exact in both byte orders and read back as written, and the
// string's older, truncated and corrupt forms.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/strings/VString.h"
#include "kernel/values/VBlob.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VVectorStream.h"
#include "kernel/values/VWord.h"

namespace velk {
namespace {

using test::Units;
using test::VVectorStream;

std::vector<uint8> Bytes(std::initializer_list<int> values)
{
	return std::vector<uint8>(values.begin(), values.end());
}

TEST(VValueStreamTest, EveryKindRoundTripsInBothByteOrders)
{
	struct Row
	{
		const char* name;
		std::function<VValue*()> make;
		std::vector<uint8> little;  // the value's bytes after the kind word
		std::vector<uint8> big;
		std::function<bool(const VValue&)> check;  // on the value read back
	};
	const auto longOf = [](int64 expected) { return [expected](const VValue& v) { return v.IsVValueSingle()->GetLong8() == expected; }; };
	const auto textOf = [](std::u16string expected) {
		return [expected](const VValue& v) { return !v.IsNull() && Units(static_cast<const VString&>(v)) == expected; };
	};
	const Row rows[] = {
		{"empty", [] { return new VEmpty(); }, {}, {}, [](const VValue&) { return true; }},
		{"boolean", [] { return new VBoolean(uint8(7)); }, Bytes({1, 0}), Bytes({0, 1}), longOf(1)},
		{"byte -1", [] { return new VByte(int8(-1)); }, Bytes({0xFF, 0xFF}), Bytes({0xFF, 0xFF}), longOf(-1)},
		{"byte 5", [] { return new VByte(int8(5)); }, Bytes({5, 0}), Bytes({0, 5}), longOf(5)},
		{"word", [] { return new VWord(int16(-2)); }, Bytes({0xFE, 0xFF}), Bytes({0xFF, 0xFE}), longOf(-2)},
		{"long", [] { return new VLong(0x01020304); }, Bytes({4, 3, 2, 1}), Bytes({1, 2, 3, 4}), longOf(0x01020304)},
		{"long8", [] { return new VLong8(int64(-3)); }, Bytes({0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
		 Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD}), longOf(-3)},
		{"null long", [] { VLong* v = new VLong(0); v->SetNull(true); return v; },
		 Bytes({0, 0, 0, 0}), Bytes({0, 0, 0, 0}), longOf(0)},
		{"real", [] { return new VReal(-2.0); }, Bytes({0, 0, 0, 0, 0, 0, 0, 0xC0}), Bytes({0xC0, 0, 0, 0, 0, 0, 0, 0}),
		 [](const VValue& v) { return v.IsVValueSingle()->GetReal() == -2.0; }},
		{"duration", [] { return new VDuration(int64(3723000)); }, Bytes({0xF8, 0xCE, 0x38, 0, 0, 0, 0, 0}),
		 Bytes({0, 0, 0, 0, 0, 0x38, 0xCE, 0xF8}),
		 [](const VValue& v) { return static_cast<const VDuration&>(v).ConvertToMilliseconds() == 3723000; }},
		{"time", [] { VTime* t = new VTime(); t->FromStamp((uint64(2024) << 48) | (uint64(2) << 40) | (uint64(29) << 32) | 1000); return t; },
		 Bytes({0xE8, 0x07, 2, 29, 0xE8, 0x03, 0, 0}), Bytes({0x07, 0xE8, 2, 29, 0, 0, 0x03, 0xE8}),
		 [](const VValue& v) { return static_cast<const VTime&>(v).GetStamp() == ((uint64(2024) << 48) | (uint64(2) << 40) | (uint64(29) << 32) | 1000); }},
		{"string", [] { return new VString(u"h\u00E9"); }, Bytes({0xFE, 0xFF, 0xFF, 0xFF, 'h', 0, 0xE9, 0}),
		 Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0, 'h', 0, 0xE9}), textOf(u"h\u00E9")},
		{"null string", [] { return new VString(true); }, Bytes({0, 0, 0, 0}), Bytes({0, 0, 0, 0}), textOf(u"")},
		// Only the length word follows the byte order.
		{"blob", [] { return new VBlobWithPtr("\x01\x02", 2); }, Bytes({2, 0, 0, 0, 1, 2}), Bytes({0, 0, 0, 2, 1, 2}),
		 [](const VValue& v) {
			 const VBlobWithPtr& blob = static_cast<const VBlobWithPtr&>(v);
			 return blob.GetSize() == 2 && blob.GetDataPtr()[0] == 1 && blob.GetDataPtr()[1] == 2;
		 }},
	};
	for (const Row& row : rows)
	{
		for (const bool swap : {false, true})
		{
			SCOPED_TRACE(std::string(row.name) + (swap ? " swapped" : ""));
			std::unique_ptr<VValue> value(row.make());
			VVectorStream stream;
			stream.SetNeedSwap(swap);
			ASSERT_EQ(stream.OpenWriting(), VE_OK);
			// Kinds with a descriptor travel with their kind word and are made again from it.
			const bool withKind = value->GetValueInfo() != nullptr;
			EXPECT_EQ(stream.PutValue(*value, withKind), VE_OK);
			stream.CloseWriting();
			const std::vector<uint8>& expected = swap ? row.big : row.little;
			const size_t kindBytes = withKind ? 2 : 0;
			ASSERT_EQ(stream.fBytes.size(), expected.size() + kindBytes);
			// The value model's stream size is what the value writes.
			EXPECT_EQ(value->GetStreamSpace(), expected.size());
			EXPECT_EQ(std::vector<uint8>(stream.fBytes.begin() + kindBytes, stream.fBytes.end()), expected);

			ASSERT_EQ(stream.OpenReading(), VE_OK);
			std::unique_ptr<VValue> back(withKind ? stream.GetValue() : new VString(u"other"));
			ASSERT_NE(back, nullptr);
			if (withKind)
				EXPECT_EQ(back->GetValueInfo()->GetKind(), value->GetValueInfo()->GetKind());
			else
				EXPECT_EQ(back->ReadFromStream(&stream), VE_OK);
			EXPECT_TRUE(row.check(*back));
			EXPECT_EQ(stream.GetLastError(), VE_OK);
			EXPECT_EQ(stream.GetPos(), int64(stream.fBytes.size()));
		}
	}
}

TEST(VValueStreamTest, StringSizeInStreamHasRoomForTheOlderForm)
{
	const std::pair<VString, uint64> rows[] = {
		{VString(u""), 4}, {VString(true), 4}, {VString(u"h\u00E9"), 14}, {VString(std::u16string(100, u'x').c_str()), 210},
	};
	for (const auto& [text, size] : rows)
		EXPECT_EQ(text.GetSizeInStream(), size) << text.GetLength();
}

TEST(VValueStreamTest, StringReadsOlderTruncatedAndCorruptForms)
{
	struct Row
	{
		const char* name;
		std::vector<uint8> bytes;
		VError result;
		std::u16string text;  // "keep" when the string is left as it was
		int64 pos;
	};
	const std::u16string keep = u"keep";
	const Row rows[] = {
		{"empty", Bytes({0, 0, 0, 0}), VE_OK, u"", 4},
		{"truncated", Bytes({0xFB, 0xFF, 0xFF, 0xFF, 'h', 0, 'e', 0, 'l', 0}), VE_STREAM_EOF, u"hel", 10},
		{"INT32_MIN", Bytes({0, 0, 0, 0x80, 'a', 0}), VE_STREAM_EOF, keep, 4},
		{"length beyond the stream", Bytes({0x00, 0x00, 0xF0, 0xFF, 'a', 0}), VE_STREAM_EOF, keep, 4},
		{"older UTF-16", Bytes({3, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0, 0, 0}), VE_OK, u"abc", 16},
		{"older other set skips", Bytes({3, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0, 'z'}), VE_OK, keep, 12},
		{"older INT32_MAX", Bytes({0xFF, 0xFF, 0xFF, 0x7F, 2, 0, 0, 0, 'a', 0}), VE_STREAM_EOF, keep, 8},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VVectorStream stream(row.bytes);
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		VString text(u"keep");
		EXPECT_EQ(text.ReadFromStream(&stream), row.result);
		EXPECT_EQ(stream.GetLastError(), row.result);
		EXPECT_EQ(Units(text), row.text);
		EXPECT_EQ(stream.GetPos(), row.pos);
	}

	// No buffer can hold INT32_MAX units: they are skipped, the string is cleared and velk 107 answered.
	VVectorStream stream(Bytes({0x01, 0x00, 0x00, 0x80}));
	stream.fClaimedSize = int64(1) << 33;
	ASSERT_EQ(stream.OpenReading(), VE_OK);
	VString text(true);
	EXPECT_EQ(text.ReadFromStream(&stream), VE_STRING_ALLOC_FAILED);
	EXPECT_TRUE(text.IsEmpty());
	EXPECT_FALSE(text.IsNull());
	EXPECT_EQ(stream.GetLastError(), VE_OK);
	EXPECT_EQ(stream.GetPos(), 4 + int64(INT32_MAX) * 2);
}

}  // namespace
}  // namespace velk
