// Blob values: offsets and lengths at the edges, the flat form and its swapping, the stream form with a
// corrupt length, conversions between the owning and the read-only blob, blobs in bags, and memory failure.
#include "kernel/values/VBlob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/VFlatBytes.h"
#include "containers/VValueBag.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VVectorStream.h"

namespace velk {
namespace {

using test::VVectorStream;

std::string Bytes(const VBlob& blob)
{
	std::string bytes(blob.GetSize(), '\0');
	blob.GetData(bytes.data(), bytes.size(), 0);
	return bytes;
}

TEST(VBlobTest, OffsetsAndCountsAtTheEdges)
{
	const std::string twelve = "0123456789AB";
	struct Row
	{
		size_t count;
		int offset;
		size_t read;
		VError result;
	};
	const Row rows[] = {
		{10, 4, 8, VE_STREAM_EOF},
		{4, 0, 4, VE_OK},
		{0, 12, 0, VE_OK},
		{1, 12, 0, VE_STREAM_EOF},
		{4, 13, 0, VE_STREAM_EOF},
		{4, -1, 0, VE_INVALID_PARAMETER},
	};
	VBlobWithPtr owning(twelve.data(), twelve.size());
	VConstBlobWithPtr shown(twelve.data(), twelve.size());
	for (const VBlob* blob : {static_cast<const VBlob*>(&owning), static_cast<const VBlob*>(&shown)})
	{
		for (const Row& row : rows)
		{
			SCOPED_TRACE(testing::Message() << row.count << " at " << row.offset);
			std::string buffer(16, '-');
			size_t read = 99;
			EXPECT_EQ(blob->GetData(buffer.data(), row.count, row.offset, &read), row.result);
			EXPECT_EQ(read, row.read);
			const std::string expected = (row.read > 0 ? twelve.substr(size_t(row.offset), row.read) : "") + std::string(16 - row.read, '-');
			EXPECT_EQ(buffer, expected);
		}
	}

	// Writing past the end grows the blob with zeros in the gap; a negative offset or a null source changes nothing.
	VBlobWithPtr blob;
	EXPECT_EQ(blob.PutData("xyz", 3, 10), VE_OK);
	EXPECT_EQ(Bytes(blob), std::string(10, '\0') + "xyz");
	EXPECT_EQ(blob.PutData("q", 1, -1), VE_INVALID_PARAMETER);
	EXPECT_EQ(blob.PutData(nullptr, 1, 0), VE_INVALID_PARAMETER);
	EXPECT_EQ(blob.GetSize(), 13u);
	// Its own bytes, also when the block moves to make room, and as a whole new content.
	EXPECT_EQ(blob.PutData(blob.GetDataPtr() + 10, 3, 13), VE_OK);
	EXPECT_EQ(Bytes(blob), std::string(10, '\0') + "xyzxyz");
	EXPECT_EQ(blob.FromData(blob.GetDataPtr() + 11, 4), VE_OK);
	EXPECT_EQ(Bytes(blob), "yzxy");
	EXPECT_EQ(shown.PutData("a", 1, 0), VE_STREAM_NOT_OPENED_FOR_WRITING);
	EXPECT_EQ(shown.SetSize(0), VE_STREAM_NOT_OPENED_FOR_WRITING);
	EXPECT_EQ(Bytes(shown), twelve);
}

TEST(VBlobTest, FlatFormAndDescriptor)
{
	const VBlobWithPtr source("abcde", 5);
	std::vector<uint8> flat = test::FlatBytes(source);
	ASSERT_EQ(flat.size(), 9u);
	EXPECT_EQ(std::memcmp(flat.data(), "\x05\0\0\0abcde", 9), 0);
	EXPECT_EQ(VBlob::sInfo.GetSizeOfValueDataPtr(flat.data()), 9u);
	std::unique_ptr<VValue> made(VBlob::sInfo.LoadFromPtr(flat.data()));
	ASSERT_NE(dynamic_cast<VBlobWithPtr*>(made.get()), nullptr);
	EXPECT_EQ(Bytes(static_cast<VBlob&>(*made)), "abcde");
	std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(VK_BLOB));
	ASSERT_NE(dynamic_cast<VBlobWithPtr*>(generated.get()), nullptr);
	EXPECT_FALSE(generated->IsNull());

	// Only the length word is swapped, and the answer is just past the bytes both ways.
	EXPECT_EQ(VBlob::sInfo.ByteSwapPtr(flat.data(), true), flat.data() + 9);
	EXPECT_EQ(std::memcmp(flat.data(), "\0\0\0\x05" "abcde", 9), 0);
	EXPECT_EQ(VBlob::sInfo.ByteSwapPtr(flat.data(), false), flat.data() + 9);
	EXPECT_EQ(std::memcmp(flat.data(), "\x05\0\0\0abcde", 9), 0);

	struct Row
	{
		const char* name;
		std::vector<uint8> bytes;
		bool loads;
		std::string content;  // after loading into a blob holding "old"
	};
	const Row rows[] = {
		{"empty", {0, 0, 0, 0}, true, ""},
		{"whole", {2, 0, 0, 0, 'h', 'i'}, true, "hi"},
		{"negative length", {0xFF, 0xFF, 0xFF, 0xFF, 'h', 'i'}, false, "old"},
		{"cut bytes", {3, 0, 0, 0, 'h', 'i'}, false, "old"},
		{"cut length", {2, 0, 0}, false, "old"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VBlobWithPtr target("old", 3);
		const void* behind = target.LoadFromPtrBounded(row.bytes.data(), row.bytes.size());
		EXPECT_EQ(behind, row.loads ? row.bytes.data() + row.bytes.size() : nullptr);
		EXPECT_EQ(Bytes(target), row.content);
	}
	// The trusting loader refuses a negative length as well.
	VBlobWithPtr trusted("old", 3);
	EXPECT_EQ(trusted.LoadFromPtr(rows[2].bytes.data()), nullptr);
	EXPECT_EQ(Bytes(trusted), "old");

	// A limit cuts the bytes and the length with them.
	std::vector<uint8> cut(6, 0xEE);
	EXPECT_EQ(source.WriteToPtr(cut.data(), 0, 6), cut.data() + 6);
	EXPECT_EQ(std::memcmp(cut.data(), "\x02\0\0\0ab", 6), 0);
}

TEST(VBlobTest, StreamForm)
{
	const std::string bytes("\x01\x02\x03", 3);
	for (const bool swap : {false, true})
	{
		SCOPED_TRACE(swap ? "swapped" : "host order");
		VVectorStream stream;
		stream.SetNeedSwap(swap);
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		EXPECT_EQ(stream.PutValue(VConstBlobWithPtr(bytes.data(), bytes.size())), VE_OK);
		stream.CloseWriting();
		const std::vector<uint8> length = swap ? std::vector<uint8>{0, 0, 0, 3} : std::vector<uint8>{3, 0, 0, 0};
		EXPECT_EQ(std::vector<uint8>(stream.fBytes.begin() + 2, stream.fBytes.begin() + 6), length);
		EXPECT_EQ(std::string(stream.fBytes.begin() + 6, stream.fBytes.end()), bytes);

		ASSERT_EQ(stream.OpenReading(), VE_OK);
		std::unique_ptr<VValue> back(stream.GetValue());
		ASSERT_NE(dynamic_cast<VBlobWithPtr*>(back.get()), nullptr);
		EXPECT_EQ(Bytes(static_cast<VBlob&>(*back)), bytes);
		EXPECT_EQ(stream.GetLastError(), VE_OK);
	}

	// A length beyond the bytes left is corrupt: end of data kept by the stream, blob as it was.
	VVectorStream corrupt(std::vector<uint8>{0xFF, 0xFF, 0xFF, 0x7F, 'a'});
	ASSERT_EQ(corrupt.OpenReading(), VE_OK);
	VBlobWithPtr blob("old", 3);
	EXPECT_EQ(blob.ReadFromStream(&corrupt), VE_STREAM_EOF);
	EXPECT_EQ(corrupt.GetLastError(), VE_STREAM_EOF);
	EXPECT_EQ(Bytes(blob), "old");
	VConstBlobWithPtr shown("x", 1);
	EXPECT_EQ(shown.ReadFromStream(&corrupt), VE_STREAM_NOT_OPENED_FOR_WRITING);
}

TEST(VBlobTest, ConversionsNullAndEquality)
{
	const VConstBlobWithPtr shown("abc", 3);
	VBlobWithPtr owning("zz", 2);
	owning.FromValue(shown);
	EXPECT_EQ(owning.GetSize(), 0u);
	shown.GetValue(owning);
	EXPECT_EQ(Bytes(owning), "abc");
	EXPECT_NE(owning.GetDataPtr(), shown.GetDataPtr());
	owning.FromValue(owning);
	EXPECT_EQ(Bytes(owning), "abc");

	VBlobWithPtr copy;
	copy.FromValue(owning);
	EXPECT_TRUE(copy.EqualToSameKind(&owning));
	EXPECT_FALSE(copy.EqualToSameKind(&shown));
	std::unique_ptr<VValue> clone(owning.Clone());
	EXPECT_TRUE(owning.EqualToSameKind(clone.get()));
	EXPECT_EQ(owning.CompareTo(copy), CR_UNRELEVANT);
	EXPECT_TRUE(VBlobWithPtr(shown).EqualToSameKind(&owning));

	copy.SetNull(true);
	EXPECT_EQ(copy.GetSize(), 0u);
	EXPECT_EQ(copy.GetDataPtr(), nullptr);
	EXPECT_FALSE(owning.EqualToSameKind(&copy));
	EXPECT_TRUE(owning.FromValueSameKind(&copy));
	EXPECT_TRUE(owning.IsNull());
	EXPECT_FALSE(owning.FromValueSameKind(&shown));

	uint64 extra = 7;
	EXPECT_EQ(VBlobWithPtr("old", 3).GetFullSpaceOnDisk(extra), 3u);
	EXPECT_EQ(extra, 7u);
}

TEST(VBlobTest, BlobsInBagsReadBack)
{
	VValueBag* bag = new VValueBag();
	ASSERT_TRUE(bag->SetTime("first", VBlobWithPtr("abcde", 5)));
	ASSERT_TRUE(bag->SetTime("empty", VBlobWithPtr()));
	ASSERT_TRUE(bag->SetLong8("after", 42));
	// The copy packs the attributes into its store; a copy of that one, once it holds a newer value, walks
	// the stored blobs by their flat size; both rebuild them from their store.
	VValueBag* packed = static_cast<VValueBag*>(bag->Clone());
	ASSERT_NE(packed, nullptr);
	ASSERT_TRUE(packed->SetString("after", VString("a newer and longer value")));
	VValueBag* copy = static_cast<VValueBag*>(packed->Clone());
	ASSERT_NE(copy, nullptr);
	const VBlob* first = dynamic_cast<const VBlob*>(copy->GetAttribute("first"));
	const VBlob* empty = dynamic_cast<const VBlob*>(copy->GetAttribute("empty"));
	ASSERT_NE(first, nullptr);
	ASSERT_NE(empty, nullptr);
	EXPECT_EQ(Bytes(*first), "abcde");
	EXPECT_EQ(empty->GetSize(), 0u);
	VString after;
	EXPECT_TRUE(copy->GetString("after", after));
	EXPECT_TRUE(after.EqualToStringRaw(VString("a newer and longer value")));
	packed->Release();
	copy->Release();
	bag->Release();
}

TEST(VBlobTest, MemoryFailuresLeaveTheBytes)
{
	VCppMemMgr* previous = VObject::sCppMemMgr;
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	{
		VBlobWithPtr made("abc", 3);
		EXPECT_EQ(made.GetSize(), 0u);
		made.SetNull(true);
		made.SetDirty(false);
		EXPECT_EQ(made.SetSize(4), VE_MEMORY_FULL);
		EXPECT_TRUE(made.IsNull());
		EXPECT_FALSE(made.IsDirty());
		EXPECT_EQ(made.PutData("x", 1, 0), VE_MEMORY_FULL);
		EXPECT_FALSE(made.IsNull());
		EXPECT_TRUE(made.IsDirty());
		EXPECT_EQ(made.FromData("xy", 2), VE_MEMORY_FULL);
		EXPECT_EQ(made.GetSize(), 0u);
	}
	VObject::sCppMemMgr = previous;
	delete refusing;
}

}  // namespace
}  // namespace velk
