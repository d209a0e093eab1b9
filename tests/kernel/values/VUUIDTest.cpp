// The UUID value: its text forms, generation layouts and order, flat form and descriptor, JSON and string
// conversions.
#include "kernel/values/VUUID.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VVectorStream.h"

using namespace velk;

namespace {

std::string Text(const VString& text)
{
	std::string out;
	for (int32 i = 0; i < text.GetLength(); ++i)
		out += char(text.GetCPointer()[i]);
	return out;
}

std::string Hex(const VUUID& uuid)
{
	VString text;
	uuid.GetString(text);
	return Text(text);
}

constexpr const char* kSample = "6BA7B8109DAD11D180B400C04FD430C8";

}  // namespace

TEST(VUUIDTest, ReadsAndWritesTextForms)
{
	struct Row
	{
		const char* text;
		const char* hex;  // the bytes read, as 32 digits
	};
	const Row rows[] = {
		{kSample, kSample},
		{"6ba7b810-9dad-11d1-80b4-00c04fd430c8", kSample},
		{"{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}", kSample},
		{" 6ba7b8109dad11d180b400c04fd430c8FF", kSample},  // digits past the 32nd ignored
		{"hello", "68656C6C6F2020202020202020202020"},          // too few digits: a space-padded name
		{"", "20202020202020202020202020202020"},
		{"6ba7b810-9dad-11d1-80b4-00c04fd430c", "36626137623831302D396461642D3131"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.text);
		const VUUID uuid{VString(row.text)};
		EXPECT_FALSE(uuid.IsNull());
		EXPECT_EQ(Hex(uuid), row.hex);
	}

	struct BufferRow
	{
		const char* text;
		const char* hex;
		bool null;
	};
	const BufferRow buffers[] = {
		{"6ba7b8109dad11d180b400c04fd430c8", kSample, false},
		{"6BA7B8109DAD11D180B400C04FD430CZ", "6BA7B8109DAD11D180B400C04FD430C0", false},
		{"abc", "61626300000000000000000000000000", false},
		{"01234567890123456789", "00000000000000000000000000000000", true},  // ignored
		{"", "00000000000000000000000000000000", true},
	};
	for (const BufferRow& row : buffers)
	{
		SCOPED_TRACE(row.text);
		const VUUID uuid(row.text);
		EXPECT_EQ(Hex(uuid), row.hex);
		EXPECT_EQ(uuid.IsNull(), row.null);
	}

	struct CheckRow
	{
		const char* text;
		bool acceptNull;
		bool valid;
	};
	const CheckRow checks[] = {
		{kSample, false, true},
		{"6ba7b8109dad11d180b400c04fd430c8", false, false},
		{"6BA7B810-9DAD-11D1-80B4-00C04FD430C8", false, false},
		{"00000000000000000000000000000000", false, false},
		{"00000000000000000000000000000000", true, true},
		{"6BA7B8109DAD11D180B400C04FD430C", true, false},
	};
	for (const CheckRow& row : checks)
		EXPECT_EQ(VUUID::IsUUIDString(VString(row.text), row.acceptNull), row.valid) << row.text << " " << row.acceptNull;

	// The string kind converts both ways, and the cached text follows every change.
	VUUID uuid;
	VString(kSample).GetVUUID(uuid);
	VString* cached = uuid.GetCachedConvertedString(true);
	ASSERT_NE(cached, nullptr);
	EXPECT_EQ(Text(*cached), kSample);
	VString back;
	back.FromVUUID(uuid);
	EXPECT_EQ(Text(back), kSample);
	uuid.Clear();
	EXPECT_TRUE(cached->IsNull());
	uuid.FromString(VString("{00000000-0000-0000-0000-0000000000AB}"));
	EXPECT_FALSE(cached->IsNull());
	EXPECT_EQ(Text(*cached), "000000000000000000000000000000AB");
}

TEST(VUUIDTest, GeneratesVersionsInTheirLayouts)
{
	struct Row
	{
		VUUID::Version version;
		char versionDigit;
	};
	const Row rows[] = {{VUUID::eVersion_Platform, '4'}, {VUUID::eVersion_Random, '4'}, {VUUID::Version(1), '4'},
		{VUUID::eVersion_TimeOrdered, '7'}};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(int(row.version));
		const VUUID first(true, row.version);
		const VUUID second(true, row.version);
		EXPECT_FALSE(first.IsNull());
		EXPECT_NE(first, second);
		const std::string hex = Hex(first);
		EXPECT_EQ(hex[12], row.versionDigit);
		EXPECT_NE(std::string("89AB").find(hex[16]), std::string::npos) << hex;
	}
	EXPECT_TRUE(VUUID(false, VUUID::eVersion_Random).IsNull());

	// Time-ordered identifiers carry the Unix milliseconds and sort in the order they were made.
	const int64 before = std::chrono::duration_cast<std::chrono::milliseconds>(
		std::chrono::system_clock::now().time_since_epoch()).count();
	std::vector<VUUID> made(2000);
	for (VUUID& uuid : made)
		uuid.Regenerate(VUUID::eVersion_TimeOrdered);
	int64 stamp = 0;
	for (int i = 0; i < 6; ++i)
		stamp = (stamp << 8) | made.front().GetBuffer().fBytes[i];
	EXPECT_GE(stamp, before);
	EXPECT_LT(stamp, before + 60000);
	for (size_t i = 1; i < made.size(); ++i)
		ASSERT_TRUE(made[i - 1] < made[i]) << i << " " << Hex(made[i - 1]) << " " << Hex(made[i]);
}

TEST(VUUIDTest, FlatFormAndDescriptor)
{
	const VUUID uuid{VString(kSample)};
	uint8 flat[20] = {};
	EXPECT_EQ(uuid.WriteToPtr(flat, 0, 8), flat);
	EXPECT_EQ(uuid.WriteToPtr(flat), flat + 16);
	EXPECT_EQ(std::memcmp(flat, uuid.GetBuffer().fBytes, 16), 0);

	const VValueInfo* info = uuid.GetValueInfo();
	ASSERT_NE(info, nullptr);
	EXPECT_EQ(info->GetKind(), VK_UUID);
	EXPECT_EQ(info->GetSizeOfValueDataPtr(flat), 16u);
	// Identifiers are never swapped: the descriptor steps over the datum, bytes untouched.
	EXPECT_EQ(info->ByteSwapPtr(flat, true), flat + 16);
	EXPECT_EQ(std::memcmp(flat, uuid.GetBuffer().fBytes, 16), 0);

	std::unique_ptr<VValue> loaded(info->LoadFromPtr(flat));
	ASSERT_NE(loaded, nullptr);
	EXPECT_EQ(*static_cast<VUUID*>(loaded.get()), uuid);
	EXPECT_FALSE(loaded->IsNull());
	const uint8 zeros[16] = {};
	std::unique_ptr<VValue> null(info->LoadFromPtr(zeros));
	EXPECT_TRUE(null->IsNull());

	VUUID bounded;
	EXPECT_EQ(bounded.LoadFromPtrBounded(flat, 15), nullptr);
	EXPECT_TRUE(bounded.IsNull());
	EXPECT_EQ(bounded.LoadFromPtrBounded(flat, 16), flat + 16);
	EXPECT_EQ(bounded, uuid);

	// Byte order, unsigned: 0x80 sorts after 0x7F.
	uint8 low[16] = {0x7F}, high[16] = {0x80};
	EXPECT_EQ(info->CompareTwoPtrToData(low, high), CR_SMALLER);
	EXPECT_EQ(info->CompareTwoPtrToData(high, low), CR_BIGGER);
	EXPECT_EQ(info->CompareTwoPtrToData(flat, flat), CR_EQUAL);
	EXPECT_EQ(VUUID(VString("7F")).CompareTo(VLong(5)), CR_UNRELEVANT);
	EXPECT_EQ(uuid.CompareToSameKindPtr(high), CR_SMALLER);
}

TEST(VUUIDTest, StreamForm)
{
	const VUUID uuid{VString(kSample)};
	test::VVectorStream stream;
	stream.SetNeedSwap(true);
	ASSERT_EQ(stream.OpenWriting(), VE_OK);
	EXPECT_EQ(uuid.WriteToStream(&stream), VE_OK);
	EXPECT_EQ(VUUID().WriteToStream(&stream), VE_OK);
	stream.CloseWriting();
	ASSERT_EQ(stream.fBytes.size(), 32u);
	EXPECT_EQ(std::memcmp(stream.fBytes.data(), uuid.GetBuffer().fBytes, 16), 0);  // never swapped

	ASSERT_EQ(stream.OpenReading(), VE_OK);
	VUUID first, zeros;
	EXPECT_EQ(first.ReadFromStream(&stream), VE_OK);
	EXPECT_EQ(first, uuid);
	EXPECT_EQ(zeros.ReadFromStream(&stream), VE_OK);
	EXPECT_FALSE(zeros.IsNull());
	VUUID past(true);
	const VUUID before(past);
	EXPECT_EQ(past.ReadFromStream(&stream), VE_STREAM_EOF);
	EXPECT_EQ(past, before);
	stream.CloseReading();
}

TEST(VUUIDTest, JSONRoundTrip)
{
	const VUUID uuid{VString(kSample)};
	VJSONValue json;
	EXPECT_EQ(uuid.GetJSONValue(json), VE_OK);
	ASSERT_TRUE(json.IsString());
	EXPECT_EQ(Text(json.GetString()), kSample);

	VUUID back;
	EXPECT_EQ(back.FromJSONValue(json), VE_OK);
	EXPECT_EQ(back, uuid);
	EXPECT_FALSE(back.IsNull());

	EXPECT_EQ(back.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
	EXPECT_TRUE(back.IsNull());
	EXPECT_EQ(back.GetJSONValue(json), VE_OK);
	EXPECT_TRUE(json.IsNull());

	VString literal;
	EXPECT_EQ(uuid.GetJSONString(literal, VString::kJSON_WITH_QUOTES), VE_OK);
	EXPECT_EQ(Text(literal), std::string("\"") + kSample + "\"");
}
