// The memory streams: the read-only stream's end and refusals, the writable streams' short reads, cuts and
// zero-filled gaps, the blob stream's blob and its 2 GiB bound, and a growth that runs out of memory.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/values/VBlob.h"
#include "kernel/values/VBlobStream.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VPtrStream.h"

namespace velk {
namespace {

std::string Bytes(const VBlob& blob)
{
	std::string bytes(blob.GetSize(), '\0');
	blob.GetData(bytes.data(), bytes.size(), 0);
	return bytes;
}

std::string Content(VStream& stream)
{
	const VStreamUnderlyingData data = stream.GetUnderlyingData();
	if (data.fPresent)
		return std::string(static_cast<const char*>(data.fData), size_t(data.fSize));
	return Bytes(*static_cast<VBlobStream&>(stream).GetBlob());
}

TEST(VMemoryStreamsTest, ReadOnlyStreamEndsAndRefusesWrites)
{
	const std::string ten = "0123456789";
	VConstPtrStream stream(ten.data(), 10);
	EXPECT_EQ(stream.OpenWriting(), VE_STREAM_NOT_OPENED_FOR_WRITING);
	EXPECT_FALSE(stream.IsWriting());
	ASSERT_EQ(stream.OpenReading(), VE_OK);
	const struct
	{
		size_t delivered;
		VError result;
	} reads[] = {{4, VE_OK}, {4, VE_OK}, {2, VE_STREAM_EOF}};
	std::string all;
	for (const auto& read : reads)
	{
		char buffer[4];
		size_t delivered = 0;
		EXPECT_EQ(stream.GetData(buffer, 4, &delivered), read.result);
		EXPECT_EQ(delivered, read.delivered);
		all.append(buffer, delivered);
	}
	EXPECT_EQ(all, ten);
	stream.ResetLastError();
	EXPECT_EQ(stream.SetPos(10), VE_OK);
	EXPECT_EQ(stream.SetPos(11), VE_STREAM_EOF);
	stream.ResetLastError();
	EXPECT_EQ(stream.SetPos(-1), VE_INVALID_PARAMETER);
	EXPECT_EQ(stream.GetPos(), 10);
	EXPECT_EQ(Content(stream), ten);
}

TEST(VMemoryStreamsTest, WritableStreamsReadCutAndFillGaps)
{
	VBlobWithPtr callers("old", 3);
	struct Row
	{
		const char* name;
		std::function<VStream*()> make;
	};
	const Row rows[] = {
		{"pointer stream", [] { return new VPtrStream(); }},
		{"own blob", [] { return new VBlobStream(); }},
		{"caller's blob", [&callers] { return new VBlobStream(&callers); }},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		std::unique_ptr<VStream> stream(row.make());
		ASSERT_EQ(stream->OpenWriting(), VE_OK);
		EXPECT_EQ(stream->PutData("abc", 3), VE_OK);
		EXPECT_EQ(stream->SetPos(0), VE_OK);
		char buffer[5] = {};
		stream->CloseWriting();

		ASSERT_EQ(stream->OpenReading(), VE_OK);
		size_t delivered = 0;
		EXPECT_EQ(stream->GetData(buffer, 5, &delivered), VE_STREAM_EOF);
		EXPECT_EQ(std::string(buffer, delivered), "abc");
		stream->CloseReading();

		ASSERT_EQ(stream->OpenWriting(), VE_OK);
		EXPECT_EQ(stream->SetPos(3), VE_OK);
		EXPECT_EQ(stream->SetSize(2), VE_OK);
		EXPECT_EQ(stream->GetPos(), 2);
		EXPECT_EQ(Content(*stream), "ab");
		// Positions beyond the end, set or written at, leave zeros behind, never old bytes.
		EXPECT_EQ(stream->SetPos(5), VE_OK);
		EXPECT_EQ(stream->SetSize(3), VE_OK);
		EXPECT_EQ(stream->SetPos(6), VE_OK);
		EXPECT_EQ(stream->PutData("z", 1), VE_OK);
		EXPECT_EQ(Content(*stream), std::string("ab\0\0\0\0z", 7));
		EXPECT_EQ(stream->SetPos(-1), VE_INVALID_PARAMETER);
		stream->CloseWriting();
	}
	EXPECT_EQ(Bytes(callers), std::string("ab\0\0\0\0z", 7));
}

TEST(VMemoryStreamsTest, BlobStreamStaysWithinOffsets)
{
	const struct
	{
		int64 pos;
		VError result;
	} rows[] = {
		{int64(INT32_MAX) + 1, VE_INVALID_PARAMETER},
		{int64(1) << 32, VE_INVALID_PARAMETER},
		{-5, VE_INVALID_PARAMETER},
	};
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.pos);
		VBlobStream stream;
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		EXPECT_EQ(stream.SetPos(row.pos), row.result);
		EXPECT_EQ(stream.GetBlob()->GetSize(), 0u);
	}
	// A write whose end would pass the last offset is refused before it reaches the blob (which would
	// answer velk 204); the blob claims a size it never has to show.
	const char bytes[4] = {};
	VConstBlobWithPtr huge(bytes, size_t(INT32_MAX) - 1);
	VBlobStream stream(&huge);
	ASSERT_EQ(stream.OpenWriting(), VE_OK);
	ASSERT_EQ(stream.SetPos(INT32_MAX - 1), VE_OK);
	EXPECT_EQ(stream.PutData("abc", 3), VE_INVALID_PARAMETER);
}

TEST(VMemoryStreamsTest, GrowthWithoutMemoryIsRefused)
{
	VCppMemMgr* previous = VObject::sCppMemMgr;
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	{
		VPtrStream stream;
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		EXPECT_EQ(stream.PutData("abc", 3), VE_MEMORY_FULL);
		EXPECT_EQ(stream.GetLastError(), VE_MEMORY_FULL);
		EXPECT_EQ(stream.GetSize(), 0);
		EXPECT_EQ(stream.GetPos(), 0);
		stream.ResetLastError();
		EXPECT_EQ(stream.SetPos(10), VE_MEMORY_FULL);
		EXPECT_EQ(stream.GetSize(), 0);
	}
	VObject::sCppMemMgr = previous;
	delete refusing;
}

}  // namespace
}  // namespace velk
