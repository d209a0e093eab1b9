// The toolbox arenas: block arithmetic, the free lists, merging and carving back, pages, cross-arena frees,
// automatic chunks, statistics, and a randomised run checked against the arenas' own walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "files/VSystem.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VMemCppImpl.h"
#include "kernel/memory/VMemStats.h"
#include "kernel/memory/VMemThreadImpl.h"

namespace velk {
namespace {

constexpr size_t kMiB = 1048576;

// An arena over one chunk of its own, given back at the end.
class VArenaTest : public testing::Test
{
protected:
	void SetUp() override { ASSERT_TRUE(fArena.AddAllocation(8 * kMiB, nullptr, false)); }

	VMemCppImpl fArena{0};
};

TEST(VMemCppImplArithmetic, RequestsMapToTheirBlocks)
{
	struct Case
	{
		size_t request;
		bool small;
		uint32 blockSize;	// block size, headers included
		int32 listOrClass;	// small: size class; large: free-list step
		uint64 pageSize;	// small only
	};
	const Case cases[] = {
		{0, true, 16, 1, 8168},
		{1, true, 16, 1, 8168},
		{8, true, 16, 1, 8168},
		{9, true, 32, 2, 8168},
		{247, true, 256, 16, 16360},
		{1016, true, 1024, 64, 16360},
		{1017, true, 1088, 66, 65512},
		{4088, true, 4096, 113, 65512},
		{4089, true, 4352, 115, 131048},
		{8191, true, 8448, 131, 131048},
		{8192, false, 9216, 9, 0},
		{9192, false, 9216, 9, 0},
		{9193, false, 10240, 10, 0},
		{1048552, false, 1048576, 1024, 0},
		{1048553, false, 1048584, VMemCppImpl::kBigStep, 0},
		{2147481598, false, 2147481624, VMemCppImpl::kBigStep, 0},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.request);
		if (c.small)
		{
			size_t needed = c.request + 8;
			int32 granularity = 0;
			EXPECT_EQ(VMemThreadImpl::GetStepFromSize(needed, &granularity), c.listOrClass);
			EXPECT_EQ(VMemThreadImpl::GetBlockSize(needed), c.blockSize);
			EXPECT_EQ(VMemThreadImpl::GetPageSize(c.blockSize), c.pageSize);
		}
		else
		{
			EXPECT_EQ(VMemCppImpl::GetLargeBlockSize(c.request), c.blockSize);
			EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(c.blockSize), c.listOrClass);
		}
	}
	EXPECT_EQ((8168 - 56) / 16, 507);
}

TEST_F(VArenaTest, BlocksReportTheirUsableSize)
{
	const std::pair<size_t, size_t> sizes[] = {
		{1, 8}, {8191, 8440}, {8192, 9192}, {1048552, 1048552}, {1048553, 1048560}};
	for (auto [request, usable] : sizes)
	{
		SCOPED_TRACE(request);
		void* block = fArena.Malloc(request, false, false, 0);
		ASSERT_NE(block, nullptr);
		EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u);
		EXPECT_EQ(fArena.GetPtrSize(block), usable);
		EXPECT_TRUE(fArena.CheckPtr(block));
		std::memset(block, 0x5A, request);
		fArena.Free(block);
	}
	EXPECT_EQ(fArena.Malloc(2147481599, false, false, 0), nullptr);
	EXPECT_TRUE(fArena.Check(nullptr));
	uint64 total = 0;
	uint64 used = 0;
	fArena.GetMemUsageInfo(total, used);
	EXPECT_EQ(total, 8 * kMiB);
	EXPECT_EQ(used, 0u);
}

TEST_F(VArenaTest, NeighboursMergeAndTheTailGoesBackToTheChunk)
{
	void* a = fArena.Malloc(9000, false, false, 0);
	void* b = fArena.Malloc(9000, false, false, 0);
	void* c = fArena.Malloc(9000, false, false, 0);
	fArena.Free(a);
	fArena.Free(b);
	VMemStats stats;
	fArena.GetStats(stats, 0);
	EXPECT_EQ(stats.fNbBigBlocks, 2u);
	EXPECT_EQ(stats.fNbFreeBigBlocks, 1u);
	EXPECT_EQ(stats.fBiggestFreeBlock, 2 * 9216u);
	EXPECT_TRUE(fArena.Check(nullptr));

	// The merged block serves a request of its whole size without carving.
	void* ab = fArena.Malloc(2 * 9216 - 24, false, false, 0);
	EXPECT_EQ(ab, a);
	fArena.Free(ab);
	fArena.Free(c);
	stats.Clear();
	fArena.GetStats(stats, 0);
	EXPECT_EQ(stats.fNbBigBlocks, 0u);
	EXPECT_TRUE(fArena.Check(nullptr));
	// Carved back: the next block starts the chunk again.
	void* again = fArena.Malloc(9000, false, false, 0);
	EXPECT_EQ(again, a);
	fArena.Free(again);
}

TEST_F(VArenaTest, PagesFillLeaveTheirListAndGoBackWhenEmpty)
{
	std::vector<void*> blocks;
	for (int i = 0; i < 507; ++i)
		blocks.push_back(fArena.Malloc(1, false, false, 0));
	VMemStats stats;
	fArena.GetStats(stats, 0);
	EXPECT_EQ(stats.fNbPages, 1u);
	EXPECT_EQ(stats.fPagesBySize[16], std::make_pair(1u, 0u));

	// The 508th block opens a second page; freeing one block of the full page makes it partial again.
	void* extra = fArena.Malloc(1, false, false, 0);
	fArena.Free(blocks[100]);
	EXPECT_FALSE(fArena.CheckPtr(blocks[100]));
	EXPECT_TRUE(fArena.Check(nullptr));
	stats.Clear();
	fArena.GetStats(stats, 0);
	EXPECT_EQ(stats.fNbPages, 2u);
	EXPECT_EQ(stats.fSmallBlocksBySize[16], std::make_pair(507u, 1u));
	EXPECT_EQ(stats.fPagesBySize[16], std::make_pair(0u, 2u));

	blocks[100] = extra;
	for (void* block : blocks)
		fArena.Free(block);
	stats.Clear();
	fArena.GetStats(stats, 0);
	EXPECT_EQ(stats.fNbPages, 0u);
	EXPECT_EQ(stats.fNbBigBlocks, 0u);
	uint64 total = 0;
	uint64 used = 0;
	fArena.GetMemUsageInfo(total, used);
	EXPECT_EQ(used, 0u);
	EXPECT_TRUE(fArena.Check(nullptr));
}

TEST_F(VArenaTest, ASplitRemainderAboveOneMiBIsReusedFromALowerList)
{
	void* big = fArena.Malloc(2 * kMiB, false, false, 0);
	void* guard = fArena.Malloc(9000, false, false, 0);
	fArena.Free(big);
	uint32 bigSize = VMemCppImpl::GetLargeBlockSize(2 * kMiB);

	// Leaves a 9304-byte remainder: not a whole number of KiB, on list 9.
	void* first = fArena.Malloc(bigSize - 9304 - 24, false, false, 0);
	ASSERT_EQ(first, big);
	EXPECT_TRUE(fArena.Check(nullptr));

	// A 9216-byte block takes the remainder whole, 88 bytes being too few to leave behind, and keeps its true size.
	void* whole = fArena.Malloc(8192, false, false, 0);
	ASSERT_NE(whole, nullptr);
	EXPECT_EQ(static_cast<char*>(whole), static_cast<char*>(first) + bigSize - 9304);
	EXPECT_EQ(fArena.GetPtrSize(whole), 9304u - 24);
	EXPECT_TRUE(fArena.Check(nullptr));

	fArena.Free(whole);
	fArena.Free(first);
	EXPECT_TRUE(fArena.Check(nullptr));
	fArena.Free(guard);
	EXPECT_TRUE(fArena.Check(nullptr));
}

TEST(VMemCppImplChunks, AutomaticChunksComeAndGoWhileRegisteredMemoryStays)
{
	VMemCppImpl arena(0);
	EXPECT_EQ(arena.Malloc(1, false, false, 0), nullptr);
	EXPECT_FALSE(arena.AddAllocation(65535, nullptr, false));

	size_t registeredSize = 4 * kMiB;
	void* registered = VSystem::VirtualAlloc(registeredSize, nullptr);
	ASSERT_NE(registered, nullptr);
	{
		VMemCppImpl withChunk(1);
		withChunk.AddAlreadyAllocatedMem(registered, registeredSize, false);
		void* fits = withChunk.Malloc(kMiB, false, false, 0);
		ASSERT_NE(fits, nullptr);
		EXPECT_EQ(withChunk.Malloc(4 * kMiB, false, false, 0), nullptr);

		withChunk.SetAutoAllocationState(true);
		void* grown = withChunk.Malloc(4 * kMiB, false, false, 0);
		ASSERT_NE(grown, nullptr);
		EXPECT_EQ(withChunk.CountAllocations(), 2);
		// The arena asked for a 20 MiB chunk of its own.
		EXPECT_EQ(withChunk.GetTotalAllocation(), registeredSize + 20 * kMiB);
		withChunk.Free(grown);
		EXPECT_EQ(withChunk.CountAllocations(), 1);
		withChunk.Free(fits);
		EXPECT_EQ(withChunk.CountAllocations(), 1);
		EXPECT_EQ(withChunk.GetTotalAllocation(), registeredSize);
		EXPECT_TRUE(withChunk.Check(nullptr));
	}
	VSystem::VirtualFree(registered, registeredSize, false);
}

TEST(VMemCppImplChunks, BlocksGoBackToTheArenaThatOwnsThem)
{
	VMemCppImpl first(0);
	VMemCppImpl second(1);
	ASSERT_TRUE(first.AddAllocation(2 * kMiB, nullptr, false));
	ASSERT_TRUE(second.AddAllocation(2 * kMiB, nullptr, false));
	void* small = second.Malloc(100, false, false, 0);
	void* large = second.Malloc(20000, false, false, 0);
	EXPECT_EQ(first.GetAllocationBlockNumber(small), 1);
	EXPECT_EQ(first.GetAllocationBlockNumber(large), 1);
	first.Free(small);
	first.Free(large);
	uint64 total = 0;
	uint64 used = 0;
	second.GetMemUsageInfo(total, used);
	EXPECT_EQ(used, 0u);
	EXPECT_TRUE(first.Check(nullptr));
	EXPECT_TRUE(second.Check(nullptr));
}

TEST_F(VArenaTest, StatisticsOfAKnownPattern)
{
	constexpr int32 kTagA = int32(FourCharCode("tagA"));
	constexpr int32 kTagB = int32(FourCharCode("tagB"));
	void* a = fArena.Malloc(9000, false, false, kTagA);
	void* b = fArena.Malloc(9000, false, false, kTagA);
	void* s1 = fArena.Malloc(1, false, false, kMEMTAG_STRING);
	void* s2 = fArena.Malloc(1, false, false, kMEMTAG_STRING);
	void* c = fArena.Malloc(9000, false, false, kTagB);
	fArena.Free(b);
	fArena.Free(s1);

	VMemStats stats;
	for (int round = 0; round < 2; ++round)
	{
		stats.Clear();
		fArena.GetStats(stats, 0);
		EXPECT_EQ(stats.fNbBigBlocks, 4u);
		EXPECT_EQ(stats.fNbUsedBigBlocks, 3u);
		EXPECT_EQ(stats.fNbFreeBigBlocks, 1u);
		EXPECT_EQ(stats.fNbPages, 1u);
		EXPECT_EQ(stats.fNbSmallBlocks, 2u);
		EXPECT_EQ(stats.fNbUsedSmallBlocks, 1u);
		EXPECT_EQ(stats.fNbFreeSmallBlocks, 1u);
		EXPECT_EQ(stats.fBiggestBlock, 9216u);
		EXPECT_EQ(stats.fBiggestFreeBlock, 9216u);
		// Two used 9216-byte blocks, the page's overhead and one handed-out 16-byte block.
		EXPECT_EQ(stats.fUsedMem, 2 * 9216u + 8192 - 507 * 16 + 16);
		EXPECT_EQ(stats.fFreeMem, 9216u + 16);
		const std::map<uint32, std::pair<uint64, uint64>> tags = {
			{0, {1, 8192}}, {uint32(kTagA), {1, 9216}}, {uint32(kTagB), {1, 9216}}};
		EXPECT_EQ(stats.fBlocksByTag, tags);
		EXPECT_EQ(stats.fSmallBlocksBySize.at(16), std::make_pair(1u, 1u));
		EXPECT_EQ(stats.fPagesBySize.at(16), std::make_pair(0u, 1u));
	}
	uint64 total = 0;
	uint64 used = 0;
	fArena.GetMemUsageInfo(total, used);
	EXPECT_EQ(used, stats.fUsedMem);
	fArena.Free(a);
	fArena.Free(s2);
	fArena.Free(c);
}

// Random traffic over four arenas behind a manager: every block holds its own pattern until it is freed,
// the arenas' walk agrees with their books, and everything handed out comes back.
TEST(VMemCppImplStress, RandomTrafficKeepsTheArenasConsistent)
{
	VCppMemMgr manager(eAllocator_System);
	std::vector<VMemCppImpl*> arenas;
	for (int32 number = 0; number < 4; ++number)
		arenas.push_back(new VMemCppImpl(number));
	manager._UseArenasForTesting(std::vector<IMemCppImpl*>(arenas.begin(), arenas.end()));
	ASSERT_TRUE(manager.AddVirtualAllocation(256 * kMiB, nullptr, false));
	auto allConsistent = [&]() {
		return std::all_of(arenas.begin(), arenas.end(), [](VMemCppImpl* arena) { return arena->Check(nullptr); });
	};

	struct Live
	{
		unsigned char* data;
		size_t size;
		unsigned char pattern;
	};
	std::vector<Live> live;
	std::mt19937 random(20261210);
	auto pickSize = [&]() -> size_t {
		uint32 kind = random() % 100;
		if (kind < 70)
			return random() % 256;
		if (kind < 95)
			return 256 + random() % 16000;
		return 16384 + random() % (2 * kMiB);
	};
	auto fill = [](const Live& block) { std::memset(block.data, block.pattern, block.size); };
	auto intact = [](const Live& block) {
		return std::all_of(block.data, block.data + block.size, [&](unsigned char c) { return c == block.pattern; });
	};

	for (int operation = 0; operation < 100000; ++operation)
	{
		uint32 what = random() % 10;
		if (what < 5 || live.empty())
		{
			Live block{nullptr, pickSize(), static_cast<unsigned char>(random())};
			block.data = static_cast<unsigned char*>(manager.Malloc(block.size, false, kMEMTAG_BUFFER, int32(random() % 5) - 1));
			ASSERT_NE(block.data, nullptr);
			ASSERT_GE(manager.GetPtrSize(block.data), block.size);
			fill(block);
			live.push_back(block);
		}
		else if (what < 8)
		{
			size_t index = random() % live.size();
			ASSERT_TRUE(intact(live[index])) << operation;
			manager.Free(live[index].data);
			live[index] = live.back();
			live.pop_back();
		}
		else
		{
			Live& block = live[random() % live.size()];
			ASSERT_TRUE(intact(block)) << operation;
			// Size 0 would free the block.
			size_t size = std::max<size_t>(pickSize(), 1);
			auto* moved = static_cast<unsigned char*>(manager.Realloc(block.data, size));
			ASSERT_NE(moved, nullptr);
			block.data = moved;
			ASSERT_TRUE(std::all_of(moved, moved + std::min(block.size, size), [&](unsigned char c) { return c == block.pattern; }));
			block.size = size;
			fill(block);
		}
		// About 80 MiB live at most, well within the arenas' 256.
		if (live.size() > 1500)
		{
			for (size_t i = 0; i < 500; ++i)
			{
				manager.Free(live.back().data);
				live.pop_back();
			}
		}
		if (operation % 5000 == 0)
		{
			VMemStats stats;
			manager.GetStatistics(stats, -1);
			uint64 total = 0;
			uint64 used = 0;
			manager.GetMemUsageInfo(total, used);
			ASSERT_EQ(stats.fUsedMem, used) << operation;
			uint64 requested = 0;
			for (const Live& block : live)
				requested += block.size;
			ASSERT_GE(used, requested);
			ASSERT_TRUE(allConsistent()) << operation;
		}
	}
	for (const Live& block : live)
	{
		ASSERT_TRUE(intact(block));
		manager.Free(block.data);
	}
	uint64 total = 0;
	uint64 used = 0;
	manager.GetMemUsageInfo(total, used);
	EXPECT_EQ(total, 256 * kMiB);
	EXPECT_EQ(used, 0u);
	VMemStats stats;
	manager.GetStatistics(stats, -1);
	EXPECT_EQ(stats.fNbBigBlocks, 0u);
	EXPECT_TRUE(allConsistent());
}

TEST(VMemCppImplManager, ArenaModeRefusesEverythingUntilMemoryIsRegistered)
{
	VCppMemMgr manager(eAllocator_Velk);
	EXPECT_FALSE(manager.IsSystemMode());
	EXPECT_EQ(manager.Malloc(1, false, 0), nullptr);
	ASSERT_TRUE(manager.AddVirtualAllocation(40 * kMiB, nullptr, false));
	EXPECT_EQ(manager.CountVirtualAllocations(), 4);
	EXPECT_EQ(manager.GetAllocatedMem(), 40 * kMiB);
	void* block = manager.Malloc(100, false, 0, 2);
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(manager.GetAllocationBlockNumber(block), 2);
	EXPECT_EQ(manager.Malloc(10 * kMiB + 1, false, 0), nullptr);
	manager.Free(block);
}

}  // namespace
}  // namespace velk
