// The manager's own arena-mode logic (walk order, purge rounds, waits), over budget test arenas.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "files/VSystem.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VMemStats.h"
#include "tests/kernel/memory/VBudgetArena.h"

namespace velk {
namespace {

using test::NewArenaManager;
using test::VArenaLog;
using test::VBudgetArena;

constexpr size_t kMiB = 1048576;
constexpr size_t kShare = 10 * kMiB;  // each of 4 arenas after AddVirtualAllocation(40 MiB)

// What the purge handler saw and does; a plain function cannot capture.
struct PurgeScript
{
	std::vector<std::tuple<int32, uint64, bool>> calls;
	VCppMemMgr* manager = nullptr;
	std::vector<void*> toFree;	  // freed by the first call
	VArenaLog* waitLog = nullptr;  // when set, the first call waits for waitAttempts attempts first
	size_t waitAttempts = 0;
	void* blockInHandler = nullptr;	 // when non-null, the handler allocates 16 bytes into it
};
PurgeScript sPurge;

uint64 Handler(int32 arena, uint64 size, bool first)
{
	sPurge.calls.emplace_back(arena, size, first);
	if (sPurge.waitLog != nullptr && sPurge.calls.size() == 1)
		sPurge.waitLog->WaitFor(sPurge.waitAttempts);
	if (sPurge.calls.size() == 1)
	{
		for (void* block : sPurge.toFree)
			sPurge.manager->Free(block);
	}
	if (sPurge.blockInHandler != nullptr)
		sPurge.blockInHandler = sPurge.manager->Malloc(16, false, kMEMTAG_BUFFER);
	return 0;
}

class VCppMemMgrArenaModeTest : public testing::Test
{
protected:
	void SetUp() override
	{
		fManager = NewArenaManager(4, &fLog, &fArenas);
		ASSERT_TRUE(fManager->AddVirtualAllocation(4 * kShare, nullptr, false));
		fLog.Take();
	}
	void TearDown() override
	{
		for (void* block : fFillers)
			fManager->Free(block);
		fManager->SetPurgeHandlerProc(nullptr);
		delete fManager;
		sPurge = {};
	}

	// Uses up arena's whole share.
	void Fill(int32 arena)
	{
		void* block = fManager->Malloc(kShare, false, kMEMTAG_BUFFER, arena);
		ASSERT_NE(block, nullptr);
		ASSERT_EQ(fManager->GetAllocationBlockNumber(block), arena);
		fFillers[size_t(arena)] = block;
		fLog.Take();
	}
	void FillAll()
	{
		for (int32 arena = 0; arena < 4; ++arena)
			Fill(arena);
	}

	VArenaLog fLog;
	std::vector<VBudgetArena*> fArenas;
	VCppMemMgr* fManager = nullptr;
	std::vector<void*> fFillers = std::vector<void*>(4, nullptr);
};

TEST(VCppMemMgrArenaModeNoMemoryTest, RefusesEverythingUntilMemoryIsRegistered)
{
	VArenaLog log;
	VCppMemMgr* manager = NewArenaManager(4, &log);
	EXPECT_FALSE(manager->IsSystemMode());
	EXPECT_EQ(manager->Malloc(1, false, kMEMTAG_BUFFER), nullptr);
	EXPECT_TRUE(manager->AddVirtualAllocation(0xA00000 - 1, nullptr, false));
	EXPECT_EQ(manager->Malloc(1, false, kMEMTAG_BUFFER), nullptr);
	EXPECT_EQ(manager->CountVirtualAllocations(), 0);
	EXPECT_TRUE(log.Take().empty()) << "no arena may be asked before memory exists";

	EXPECT_TRUE(manager->AddVirtualAllocation(0xA00000 * 4, nullptr, false));
	EXPECT_EQ(manager->CountVirtualAllocations(), 4);
	EXPECT_EQ(manager->GetAllocatedMem(), 4 * 0xA00000u);
	EXPECT_EQ(manager->GetTotalSystemMemory(), 4 * 0xA00000u);
	EXPECT_EQ(manager->Malloc(0xA00000 + 1, false, kMEMTAG_BUFFER), nullptr) << "larger than any arena's share";
	void* block = manager->Malloc(0xA00000, false, kMEMTAG_BUFFER);
	EXPECT_NE(block, nullptr);
	manager->Free(block);
	delete manager;
}

TEST(VCppMemMgrArenaModeNoMemoryTest, SharesFollowOneAnotherFromAHint)
{
	constexpr size_t kTotal = 4 * 0xA00000;
	// The place found free may be taken by another thread of the process before the manager maps it, and a
	// hint means that place or nothing: a few places are tried, each with a fresh manager.
	bool placed = false;
	for (int attempt = 0; attempt < 5 && !placed; ++attempt)
	{
		void* hint = VSystem::VirtualAlloc(kTotal, nullptr);
		ASSERT_NE(hint, nullptr);
		VSystem::VirtualFree(hint, kTotal, false);	// a free place for the shares

		std::vector<VBudgetArena*> arenas;
		VCppMemMgr* manager = NewArenaManager(4, nullptr, &arenas);
		placed = manager->AddVirtualAllocation(kTotal, hint, false);
		if (placed)
		{
			ASSERT_EQ(manager->CountVirtualAllocations(), 4);
			for (size_t i = 0; i < 4; ++i)
				EXPECT_EQ(arenas[i]->GetFirstMemory(), static_cast<char*>(hint) + i * 0xA00000) << i;
		}
		delete manager;
	}
	EXPECT_TRUE(placed) << "no free place was kept long enough for the shares";
}

TEST_F(VCppMemMgrArenaModeTest, PreferredArenaFirstThenCircularWalk)
{
	const struct
	{
		int32 preferred;
		std::vector<int32> full;
		std::vector<int32> attempts;
	} cases[] = {
		{-1, {}, {0}},
		{2, {}, {2}},
		{9, {}, {0}},
		{2, {2}, {2, 0}},
		{-1, {0, 1}, {0, 1, 2}},
		{1, {1, 0, 2}, {1, 0, 2, 3}},
		{3, {0, 3}, {3, 0, 1}},
		{0, {0, 1}, {0, 1, 2}},
	};
	for (const auto& c : cases)
	{
		SCOPED_TRACE(testing::Message() << "preferred " << c.preferred << ", case " << &c - cases);
		for (int32 arena : c.full)
			Fill(arena);
		void* block = fManager->Malloc(100, false, kMEMTAG_BUFFER, c.preferred);
		ASSERT_NE(block, nullptr);
		EXPECT_EQ(fLog.Take(), c.attempts);
		EXPECT_EQ(fManager->GetAllocationBlockNumber(block), c.attempts.back());
		EXPECT_EQ(fManager->GetPtrSize(block), 100u);

		// Freed through the manager, the block goes back to the arena that made it.
		fManager->Free(block);
		for (int32 arena : c.full)
		{
			fManager->Free(fFillers[size_t(arena)]);
			fFillers[size_t(arena)] = nullptr;
		}
		for (VBudgetArena* arena : fArenas)
			EXPECT_EQ(arena->GetUsed(), 0u);
	}
}

TEST_F(VCppMemMgrArenaModeTest, PurgeRoundsWhenEveryArenaIsFull)
{
	FillAll();

	// Nothing freed, no handler: null after one round per arena, and the walk is back where it began.
	EXPECT_EQ(fManager->Malloc(kMiB, false, kMEMTAG_BUFFER), nullptr);
	EXPECT_EQ(fLog.Take().front(), 0);

	// A handler that frees nothing is called once per arena, the first time with firstCall set.
	sPurge.manager = fManager;
	fManager->SetPurgeHandlerProc(&Handler);
	EXPECT_EQ(fManager->Malloc(kMiB, false, kMEMTAG_BUFFER), nullptr);
	using Call = std::tuple<int32, uint64, bool>;
	EXPECT_EQ(sPurge.calls, (std::vector<Call>{{0, kMiB, true}, {1, kMiB, false}, {2, kMiB, false}, {3, kMiB, false}}));

	// A handler that frees arena 1's block: the request is served after the first purge, from arena 1,
	// the walk then starting at the next arena.
	sPurge.calls.clear();
	sPurge.toFree = {fFillers[1]};
	fFillers[1] = nullptr;
	fLog.Take();
	void* block = fManager->Malloc(kMiB, false, kMEMTAG_BUFFER);
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(sPurge.calls, (std::vector<Call>{{0, kMiB, true}}));
	EXPECT_EQ(fManager->GetAllocationBlockNumber(block), 1);
	EXPECT_EQ(fLog.Take(), (std::vector<int32>{0, 1, 2, 3, 1}));

	fLog.Take();
	void* next = fManager->Malloc(kMiB, false, kMEMTAG_BUFFER);
	EXPECT_EQ(fLog.Take().front(), 1) << "the purge moved the starting arena";
	fManager->Free(next);
	fManager->Free(block);
}

TEST_F(VCppMemMgrArenaModeTest, RequestsDuringAPurgeWaitForIt)
{
	FillAll();
	sPurge.manager = fManager;
	sPurge.toFree = {fFillers[2], fFillers[3]};
	fFillers[2] = fFillers[3] = nullptr;
	// The handler holds the purge open until the second request has asked the three other arenas; that
	// request, finding a purge running, must wait for it instead of purging itself.
	sPurge.waitLog = &fLog;
	sPurge.waitAttempts = 4 + 3;
	fManager->SetPurgeHandlerProc(&Handler);

	void* first = nullptr;
	std::thread purger([&] { first = fManager->Malloc(kShare, false, kMEMTAG_BUFFER); });
	fLog.WaitFor(4);
	void* second = fManager->Malloc(kShare, false, kMEMTAG_BUFFER);
	purger.join();

	ASSERT_NE(first, nullptr);
	ASSERT_NE(second, nullptr);
	EXPECT_EQ(sPurge.calls.size(), 1u);
	std::vector<int32> attempts = fLog.Take();
	ASSERT_GE(attempts.size(), 7u);
	EXPECT_EQ(std::vector<int32>(attempts.begin() + 4, attempts.begin() + 7), (std::vector<int32>{1, 2, 3}))
		<< "the arena being purged is skipped";
	fManager->Free(first);
	fManager->Free(second);
}

TEST_F(VCppMemMgrArenaModeTest, PurgeMemMarksTheArenaForItsDuration)
{
	const struct
	{
		int32 arena;
		int32 servedBy;
	} cases[] = {{-1, 1}, {0, 1}, {2, 0}};
	sPurge.manager = fManager;
	fManager->SetPurgeHandlerProc(&Handler);
	for (const auto& c : cases)
	{
		SCOPED_TRACE(c.arena);
		sPurge.calls.clear();
		sPurge.blockInHandler = fManager;  // any non-null value: allocate inside the handler
		fManager->PurgeMem(c.arena);
		ASSERT_EQ(sPurge.calls.size(), 1u);
		EXPECT_EQ(sPurge.calls[0], std::make_tuple(c.arena, uint64(0), true));
		ASSERT_NE(sPurge.blockInHandler, nullptr);
		EXPECT_EQ(fManager->GetAllocationBlockNumber(sPurge.blockInHandler), c.servedBy);
		fManager->Free(sPurge.blockInHandler);
		sPurge.blockInHandler = nullptr;
	}
}

TEST_F(VCppMemMgrArenaModeTest, FailedReallocLeavesTheBlockIntact)
{
	auto* block = static_cast<char*>(fManager->Malloc(1000, false, kMEMTAG_BUFFER));
	ASSERT_NE(block, nullptr);
	std::strcpy(block, "still here");
	EXPECT_EQ(fManager->Realloc(block, kShare + 1), nullptr);
	EXPECT_STREQ(block, "still here");
	EXPECT_EQ(fManager->GetPtrSize(block), 1000u);

	// Arenas resize by copying into a fresh block tagged as grown, so the statistics can tell such blocks.
	auto* moved = static_cast<char*>(fManager->Realloc(block, 5));
	ASSERT_NE(moved, nullptr);
	EXPECT_EQ(std::memcmp(moved, "still", 5), 0);
	EXPECT_EQ(fManager->GetPtrSize(moved), 5u);
	EXPECT_EQ(VBudgetArena::TagOf(moved), kMEMTAG_GROW);
	fManager->Free(moved);
	for (VBudgetArena* arena : fArenas)
		EXPECT_EQ(arena->GetUsed(), 0u) << "the old block is freed";
}

TEST_F(VCppMemMgrArenaModeTest, StatisticsOfOneOrAllArenas)
{
	void* small = fManager->Malloc(100, false, kMEMTAG_BUFFER, 2);
	void* large = fManager->Malloc(5000, false, kMEMTAG_BUFFER, 3);

	VMemStats stats;
	stats.fUsedMem = 12345;
	fManager->GetStatistics(stats, 2);
	EXPECT_EQ(stats.fUsedMem, 100u);
	EXPECT_EQ(stats.fNbUsedBigBlocks, 1u);
	for (int32 everyArena : {-1, 4})
	{
		fManager->GetStatistics(stats, everyArena);
		EXPECT_EQ(stats.fUsedMem, 5100u);
		EXPECT_EQ(stats.fFreeMem, 4 * kShare - 5100);
	}

	uint64 total = 0, used = 0;
	fManager->GetMemUsageInfo(total, used);
	EXPECT_EQ(total, 4 * kShare);
	EXPECT_EQ(used, 5100u);
	fManager->Free(small);
	fManager->Free(large);
}

}  // namespace
}  // namespace velk
