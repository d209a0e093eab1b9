#include "kernel/memory/VMemoryBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "kernel/memory/VCppMemMgr.h"
#include "tests/kernel/memory/VBudgetArena.h"

namespace velk {
namespace {

constexpr uint64 kMiB = 1048576;

std::vector<uint8> Pattern(size_t size, uint8 seed)
{
	std::vector<uint8> bytes(size);
	for (size_t i = 0; i < size; ++i)
		bytes[i] = uint8(seed + i * 13);
	return bytes;
}

bool Holds(const VMemoryBuffer<>& buffer, const std::vector<uint8>& bytes)
{
	return buffer.GetDataSize() == bytes.size() &&
		   (bytes.empty() || std::memcmp(buffer.GetDataPtr(), bytes.data(), bytes.size()) == 0);
}

TEST(VMemoryBufferTest, EnlargeAmortizedGrowsByHalfAtMostOneMiB)
{
	const struct
	{
		uint64 needed;
		uint64 capacity;
	} cases[] = {
		{1, 1024}, {1000, 2048}, {1024, 2048}, {3000, 5120}, {3 * kMiB, 4 * kMiB}, {10 * kMiB, 11 * kMiB},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.needed);
		VMemoryBuffer<> buffer;
		ASSERT_TRUE(buffer._EnlargeAmortized(c.needed));
		EXPECT_EQ(buffer.GetAllocatedSize(), c.capacity);
		EXPECT_EQ(buffer.GetDataSize(), 0u);
		EXPECT_GE(buffer.GetAllocator()->GetPtrSize(buffer.GetDataPtr()), c.capacity);
	}
}

TEST(VMemoryBufferTest, AddDataGrowsAndKeepsTheBytes)
{
	VMemoryBuffer<> buffer;
	std::vector<uint8> expected;
	const uint64 capacities[] = {2048, 2048, 5120, 5120};
	for (int round = 0; round < 4; ++round)
	{
		std::vector<uint8> chunk = Pattern(1000, uint8(round));
		ASSERT_TRUE(buffer.AddData(chunk.data(), chunk.size()));
		expected.insert(expected.end(), chunk.begin(), chunk.end());
		EXPECT_EQ(buffer.GetAllocatedSize(), capacities[round]) << round;
		EXPECT_TRUE(Holds(buffer, expected)) << round;
	}
	EXPECT_TRUE(buffer.AddData(nullptr, 0));
	EXPECT_FALSE(buffer.AddData(nullptr, 1));
	EXPECT_TRUE(Holds(buffer, expected));
}

TEST(VMemoryBufferTest, WrappingSizesAreRefused)
{
	VMemoryBuffer<> buffer;
	std::vector<uint8> bytes = Pattern(10, 1);
	ASSERT_TRUE(buffer.AddData(bytes.data(), bytes.size()));
	const uint8* data = buffer.GetDataPtr();
	const uint64 kMax = std::numeric_limits<uint64>::max();

	EXPECT_FALSE(buffer.AddData(bytes.data(), kMax - 5));
	for (uint64 needed : {kMax, kMax - 1000, kMax - kMiB + 1, kMax - kMiB - 1000})
		EXPECT_FALSE(buffer._EnlargeAmortized(needed)) << needed;
	EXPECT_FALSE(buffer._EnlargeAmortized(5)) << "below the size: the data would be cut";
	EXPECT_EQ(buffer.GetDataPtr(), data);
	EXPECT_EQ(buffer.GetAllocatedSize(), 1024u);
	EXPECT_TRUE(Holds(buffer, bytes));
}

TEST(VMemoryBufferTest, EnlargeFallsBackToTheExactNeedThenGivesUp)
{
	test::VArenaLog log;
	VCppMemMgr* manager = test::NewArenaManager(4, &log);
	ASSERT_TRUE(manager->AddVirtualAllocation(40 * kMiB, nullptr, false));  // 10 MiB per arena at most
	{
		VMemoryBuffer<> buffer(manager);
		std::vector<uint8> bytes = Pattern(100, 3);
		ASSERT_TRUE(buffer.AddData(bytes.data(), bytes.size()));

		ASSERT_TRUE(buffer._EnlargeAmortized(9 * kMiB + 512 * 1024));  // 10.5 MiB refused, the exact need fits
		EXPECT_EQ(buffer.GetAllocatedSize(), 9 * kMiB + 512 * 1024);
		EXPECT_TRUE(Holds(buffer, bytes));

		const uint8* data = buffer.GetDataPtr();
		EXPECT_FALSE(buffer._EnlargeAmortized(11 * kMiB));
		EXPECT_EQ(buffer.GetDataPtr(), data);
		EXPECT_EQ(buffer.GetAllocatedSize(), 9 * kMiB + 512 * 1024);
		EXPECT_TRUE(Holds(buffer, bytes));
	}
	delete manager;
}

TEST(VMemoryBufferTest, AssignmentCopiesIntoAnExactBlock)
{
	std::vector<uint8> bytes = Pattern(1500, 9);
	VMemoryBuffer<> full;
	ASSERT_TRUE(full.AddData(bytes.data(), bytes.size()));

	// Into an empty buffer: a block of exactly the source's size.
	VMemoryBuffer<> copy;
	copy = full;
	EXPECT_TRUE(Holds(copy, bytes));
	EXPECT_EQ(copy.GetAllocatedSize(), 1500u);
	EXPECT_NE(copy.GetDataPtr(), full.GetDataPtr());

	// Same capacity: the block is reused.
	std::vector<uint8> other = Pattern(1500, 77);
	VMemoryBuffer<> second;
	ASSERT_TRUE(second.AddData(other.data(), other.size()));
	const uint8* block = copy.GetDataPtr();
	second = second;
	EXPECT_TRUE(Holds(second, other)) << "self-assignment changes nothing";
	copy = second;
	EXPECT_EQ(copy.GetDataPtr(), block);
	EXPECT_TRUE(Holds(copy, other));

	// From an empty buffer: the block is freed.
	VMemoryBuffer<> empty;
	copy = empty;
	EXPECT_EQ(copy.GetDataPtr(), nullptr);
	EXPECT_EQ(copy.GetDataSize(), 0u);
	EXPECT_EQ(copy.GetAllocatedSize(), 0u);

	// When no memory can be had the target stays as it was.
	VCppMemMgr refusing(EAllocatorKind(7));
	VMemoryBuffer<> starved(&refusing);
	starved = full;
	EXPECT_EQ(starved.GetDataPtr(), nullptr);
	EXPECT_EQ(starved.GetDataSize(), 0u);
	EXPECT_FALSE(starved.AddData(bytes.data(), 1));
}

}  // namespace
}  // namespace velk
