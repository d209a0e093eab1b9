// The stream form of typed arrays: round trips of every kind with and without the kind prefix in both byte
// orders, the exact bytes of booleans, null strings and missing blobs, and corrupt or oversized counts.
#include <gtest/gtest.h>

#include <cstring>

#include "VArrayTestKinds.h"
#include "containers/VArrayImage.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VPtrStream.h"

namespace velk {
namespace {

using test::AllSortableKinds;
using test::ArrayKind;
using test::Keys;
using test::MakeArray;

std::vector<uint8> Written(const VArrayValue& array, int32 param, bool swap)
{
	VPtrStream stream;
	stream.SetNeedSwap(swap);
	EXPECT_EQ(stream.OpenWriting(), VE_OK);
	EXPECT_EQ(array.WriteToStream(&stream, param), VE_OK);
	stream.CloseWriting();
	const VStreamUnderlyingData data = stream.GetUnderlyingData();
	const uint8* bytes = static_cast<const uint8*>(data.fData);
	return std::vector<uint8>(bytes, bytes + data.fSize);
}

// A stream opened for reading over its own copy of the bytes.
struct Reading
{
	explicit Reading(const std::vector<uint8>& bytes, bool swap = false)
		: fBytes(bytes)
		, fStream(fBytes.data(), int64(fBytes.size()))
	{
		fStream.SetNeedSwap(swap);
		EXPECT_EQ(fStream.OpenReading(), VE_OK);
	}
	~Reading() { fStream.CloseReading(); }

	const std::vector<uint8> fBytes;
	VConstPtrStream fStream;
};

std::vector<uint8> Bytes(std::initializer_list<uint32> longs)
{
	std::vector<uint8> bytes;
	for (uint32 value : longs)
	{
		for (int32 k = 0; k < 4; ++k)
			bytes.push_back(uint8(value >> (8 * k)));
	}
	return bytes;
}

TEST(VArrayValueStreamTest, EveryKindRoundTrips)
{
	for (const ArrayKind& kind : AllSortableKinds())
	{
		for (int32 count : {0, 1, 8, 13})
		{
			std::vector<int32> seeds;
			for (int32 i = 0; i < count; ++i)
				seeds.push_back((i * 377) % 1000);
			std::unique_ptr<VArrayValue> source = MakeArray(kind, seeds);
			for (bool swap : {false, true})
			{
				for (bool prefixed : {false, true})
				{
					const std::vector<uint8> bytes = Written(*source, prefixed ? kARRAY_STREAM_PREFIX : 0, swap);
					Reading reading(bytes, swap);
					if (prefixed)
					{
						uint32 written = 0;
						reading.fStream.GetLong(written);
						EXPECT_EQ(written, kind.fKind) << kind.fName;
					}
					std::unique_ptr<VArrayValue> copy = MakeArray(kind, {1, 2});
					EXPECT_EQ(copy->ReadFromStream(&reading.fStream), VE_OK) << kind.fName;
					EXPECT_EQ(Keys(kind, *copy), Keys(kind, *source)) << kind.fName << " count " << count << (swap ? " swapped" : "");
					EXPECT_EQ(reading.fStream.GetPos(), int64(bytes.size())) << kind.fName << ": every byte is read";
				}
			}
		}
	}
}

TEST(VArrayValueStreamTest, ElementBytes)
{
	VArrayBoolean booleans;
	for (bool bit : {true, true, false, false, false, false, false, true})
		booleans.AppendBoolean(bit);
	std::vector<uint8> expected = Bytes({8});
	expected.push_back(0x83);
	expected.push_back(0x00);
	EXPECT_EQ(Written(booleans, 0, false), expected) << "the count and the (count + 8) div 8 bytes of the block";

	VArrayString strings(2);
	strings.FromString(VString("A"), 2);
	std::vector<uint8> stringBytes = Bytes({109, 2, 0x4E554C4C, 2, uint32(-1)});
	stringBytes.push_back(0x41);
	stringBytes.push_back(0x00);
	EXPECT_EQ(Written(strings, kARRAY_STREAM_PREFIX, false), stringBytes) << "the kind, the count, 'NULL', then 2 and the string";

	// A place without a blob is written as an empty blob and read back as one.
	VArrayBlob blobs(2);
	const std::vector<uint8> blobBytes = Written(blobs, 0, false);
	EXPECT_EQ(blobBytes, Bytes({2, 0, 0}));
	Reading reading(blobBytes);
	ASSERT_EQ(blobs.ReadFromStream(&reading.fStream), VE_OK);
	ASSERT_NE(blobs.GetBlob(1), nullptr);
	EXPECT_EQ(blobs.GetBlob(1)->GetSize(), 0u);

	// Every marker other than 2 is a null string.
	std::vector<uint8> markerBytes = Bytes({3, 7, 2, uint32(-1)});
	markerBytes.push_back(0x42);
	markerBytes.push_back(0x00);
	const std::vector<uint8> lastMarker = Bytes({0});
	markerBytes.insert(markerBytes.end(), lastMarker.begin(), lastMarker.end());
	Reading markers(markerBytes);
	ASSERT_EQ(strings.ReadFromStream(&markers.fStream), VE_OK);
	ASSERT_EQ(strings.GetCount(), 3);
	EXPECT_EQ(AllSortableKinds()[8].fKey(strings, 1), "<null>");
	EXPECT_EQ(AllSortableKinds()[8].fKey(strings, 2), "B");
	EXPECT_EQ(AllSortableKinds()[8].fKey(strings, 3), "<null>");

	// Pictures: no prefix even when asked, and 8 zero bytes for a place without a picture.
	VArrayImage images(1);
	std::vector<uint8> imageBytes = Bytes({1, 0, 0});
	EXPECT_EQ(Written(images, kARRAY_STREAM_PREFIX, false), imageBytes);
}

// A read that cannot complete leaves the array as it was and says why.
TEST(VArrayValueStreamTest, BadDataLeavesTheArrayUnchanged)
{
	struct Case
	{
		const char* fName;
		ValueKind fKind;
		std::vector<uint8> fBytes;
		VError fExpected;
	};
	std::vector<uint8> trueBits = Bytes({3});
	trueBits.push_back(0xFF);
	const Case cases[] = {
		{"negative count", VK_ARRAY_LONG, Bytes({0x80000000u, 1, 2}), VE_STREAM_EOF},
		{"count of -1", VK_ARRAY_STRING, Bytes({0xFFFFFFFFu}), VE_STREAM_EOF},
		{"count beyond the bytes", VK_ARRAY_LONG8, Bytes({2, 1, 2, 3}), VE_STREAM_EOF},
		{"huge count", VK_ARRAY_REAL, Bytes({0x7FFFFFFFu, 0}), VE_STREAM_EOF},
		{"strings beyond the bytes", VK_ARRAY_STRING, Bytes({3, 2, 0}), VE_STREAM_EOF},
		{"string cut short", VK_ARRAY_STRING, Bytes({1, 2, uint32(-5), 0x410041}), VE_STREAM_EOF},
		{"blob cut short", VK_ARRAY_BLOB, Bytes({1, 9, 0}), VE_STREAM_EOF},
		{"booleans beyond the bytes", VK_ARRAY_BOOLEAN, Bytes({40}), VE_STREAM_EOF},
		{"picture that is not empty", VK_ARRAY_IMAGE, Bytes({1, 1, 0}), VE_UNIMPLEMENTED},
		{"no count at all", VK_ARRAY_WORD, {1, 0}, VE_STREAM_EOF},
	};
	for (const Case& c : cases)
	{
		std::unique_ptr<VArrayValue> array(static_cast<VArrayValue*>(VValue::NewValueFromValueKind(c.fKind)));
		ASSERT_NE(array, nullptr) << c.fName;
		array->SetCount(2);
		Reading reading(c.fBytes);
		EXPECT_EQ(array->ReadFromStream(&reading.fStream), c.fExpected) << c.fName;
		EXPECT_EQ(array->GetCount(), 2) << c.fName;
	}

	// Bits past the count in the last byte read are not elements.
	VArrayBoolean booleans;
	Reading reading(trueBits);
	ASSERT_EQ(booleans.ReadFromStream(&reading.fStream), VE_OK);
	EXPECT_EQ(booleans.GetCount(), 3);
	ASSERT_TRUE(booleans.SetCount(8));
	EXPECT_TRUE(booleans.GetBoolean(3));
	EXPECT_FALSE(booleans.GetBoolean(4));

	// A count that fits the bytes but not memory.
	VArrayLong longs(1);
	longs.FromLong(17, 1);
	const std::vector<uint8> many = Written(VArrayLong(1000), 0, false);
	Reading manyReading(many);
	VCppMemMgr* previous = VObject::sCppMemMgr;
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	const VError error = longs.ReadFromStream(&manyReading.fStream);
	VObject::sCppMemMgr = previous;
	delete refusing;
	EXPECT_EQ(error, VE_MEMORY_FULL);
	EXPECT_EQ(longs.GetCount(), 1);
	EXPECT_EQ(longs.GetLong(1), 17);
}

}  // namespace
}  // namespace velk
