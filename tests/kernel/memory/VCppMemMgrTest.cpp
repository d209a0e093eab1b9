#include "kernel/memory/VCppMemMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "files/VSystem.h"
#include "kernel/memory/VMemoryHog.h"
#include "platform/MainBundle.h"
#include "runtime/VTaskMgr.h"
#include "common/VFailingAllocations.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define VELK_TEST_LEAK_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(VELK_TEST_LEAK_SANITIZER)
#define VELK_TEST_LEAK_SANITIZER 1
#endif
#if VELK_TEST_LEAK_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace velk {
namespace {

struct DeleteManager
{
	void operator()(VCppMemMgr* manager) const { delete manager; }
};
using ManagerPtr = std::unique_ptr<VCppMemMgr, DeleteManager>;

// Huge requests can only be refused cleanly when the sanitizer lets malloc return null.
bool HugeMallocReturnsNull()
{
#if defined(__SANITIZE_ADDRESS__)
	const char* options = std::getenv("ASAN_OPTIONS");
	return options != nullptr && std::strstr(options, "allocator_may_return_null=1") != nullptr;
#else
	return true;
#endif
}

TEST(VCppMemMgrTest, BundleValueChoosesTheAllocator)
{
	struct Case
	{
		std::optional<std::string> value;
		EAllocatorKind expected;
	};
	const Case cases[] = {
		{std::nullopt, eAllocator_System}, {"stdlib", eAllocator_System}, {"STDLIB", eAllocator_System},
		{"StdLib", eAllocator_System},	   {"", eAllocator_System},		  {"velk ", eAllocator_System},
		{" velk", eAllocator_System},	   {"velkx", eAllocator_System},  {"vel", eAllocator_System},
		{"system", eAllocator_System},	   {"velk", eAllocator_Velk},	  {"VELK", eAllocator_Velk},
		{"Velk", eAllocator_Velk},		   {"vElK", eAllocator_Velk},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.value.value_or("(absent)"));
		plat::SetMainBundleInfoStringForTesting("MemoryAllocator", c.value);
		ManagerPtr manager(new VCppMemMgr(eAllocator_FromBundle));
		ASSERT_NE(manager, nullptr);
		EXPECT_EQ(manager->GetChosenKind(), c.expected);
		EXPECT_EQ(manager->IsSystemMode(), c.expected == eAllocator_System);
		if (c.expected == eAllocator_Velk)
		{
			// The arenas have no memory until some is registered.
			EXPECT_EQ(manager->Malloc(64, false, kMEMTAG_BUFFER), nullptr);
			ASSERT_TRUE(manager->AddVirtualAllocation(40 * 1048576, nullptr, false));
		}
		void* block = manager->Malloc(64, false, kMEMTAG_BUFFER);
		EXPECT_NE(block, nullptr);
		manager->Free(block);
	}

	// An explicit kind ignores the bundle.
	plat::SetMainBundleInfoStringForTesting("MemoryAllocator", "velk");
	EXPECT_EQ(ManagerPtr(new VCppMemMgr(eAllocator_System))->GetChosenKind(), eAllocator_System);
	plat::SetMainBundleInfoStringForTesting("MemoryAllocator", "stdlib");
	EXPECT_EQ(ManagerPtr(new VCppMemMgr(eAllocator_Velk, true, false))->GetChosenKind(), eAllocator_Velk);
	plat::ClearMainBundleOverridesForTesting();
}

TEST(VCppMemMgrTest, ManagerLivesInItsOwnPagesBehindItsSize)
{
	ManagerPtr manager(new VCppMemMgr(eAllocator_System));
	ASSERT_NE(manager, nullptr);
	auto address = reinterpret_cast<uintptr_t>(manager.get());
	EXPECT_EQ(address % VSystem::GetVMPageSize(), 8u);
	EXPECT_EQ(*reinterpret_cast<const uint64*>(address - 8), sizeof(VCppMemMgr) + 8);
}

TEST(VCppMemMgrTest, ReallocMovesKeepsAndFrees)
{
	VCppMemMgr manager(eAllocator_System);

	// Small blocks, then blocks large enough for the system to keep them in pages of their own (resized by
	// remapping), then back down.
	const size_t sizes[] = {100, 5000, 10, 300 * 1024, 8 * 1048576, 40 * 1048576 + 3, 2 * 1048576, 1};
	uint8* block = nullptr;
	size_t filled = 0;	// bytes of the pattern the block holds
	for (size_t size : sizes)
	{
		SCOPED_TRACE(size);
		block = static_cast<uint8*>(manager.Realloc(block, size));
		ASSERT_NE(block, nullptr);
		EXPECT_GE(manager.GetPtrSize(block), size);
		size_t kept = std::min(filled, size);
		for (size_t i = 0; i < kept; i += (i < 4096 ? 1 : 4093))
			ASSERT_EQ(block[i], uint8(i * 7 + 1)) << i;
		if (kept > 0)
		{
			ASSERT_EQ(block[kept - 1], uint8((kept - 1) * 7 + 1));
		}
		for (size_t i = kept; i < size; ++i)
			block[i] = uint8(i * 7 + 1);
		filled = size;
	}

	// Size 0 frees: the leak checker reports the block otherwise.
	EXPECT_EQ(manager.Realloc(block, 0), nullptr);
	EXPECT_EQ(manager.GetPtrSize(nullptr), 0u);
}

TEST(VCppMemMgrTest, FailedReallocLeavesTheBlockIntact)
{
	if (!HugeMallocReturnsNull())
		GTEST_SKIP() << "needs allocator_may_return_null=1 in ASAN_OPTIONS (arena-mode tests cover the same path)";
	VCppMemMgr manager(eAllocator_System);
	auto* block = static_cast<char*>(manager.Malloc(16, false, kMEMTAG_BUFFER));
	ASSERT_NE(block, nullptr);
	std::strcpy(block, "still here");
	EXPECT_EQ(manager.Realloc(block, std::numeric_limits<size_t>::max() / 2), nullptr);
	EXPECT_STREQ(block, "still here");
	manager.Free(block);
}

TEST(VCppMemMgrTest, CallocZeroesAndRefusesImpossibleCounts)
{
	VCppMemMgr manager(eAllocator_System);
	auto* block = static_cast<uint8*>(manager.Calloc(300, 7, kMEMTAG_BUFFER));
	ASSERT_NE(block, nullptr);
	for (int i = 0; i < 2100; ++i)
		ASSERT_EQ(block[i], 0) << i;
	manager.Free(block);

	const size_t kMax = std::numeric_limits<size_t>::max();
	const struct
	{
		int32 count;
		size_t size;
	} refused[] = {
		{-1, 8}, {std::numeric_limits<int32>::min(), 1}, {2, kMax / 2 + 1}, {std::numeric_limits<int32>::max(), kMax / 1000},
		{3, kMax / 3 + 1},
	};
	for (const auto& c : refused)
		EXPECT_EQ(manager.Calloc(c.count, c.size, kMEMTAG_BUFFER), nullptr) << c.count << " x " << c.size;
}

TEST(VCppMemMgrTest, ArenaOperationsDoNothingWithoutArenas)
{
	static int sHandlerCalls = 0;
	PurgeHandlerProc handler = [](int32, uint64, bool) -> uint64 { return uint64(++sHandlerCalls); };
	const EAllocatorKind kinds[] = {eAllocator_System, EAllocatorKind(7)};	// 7: no backend at all
	for (EAllocatorKind kind : kinds)
	{
		SCOPED_TRACE(kind);
		VCppMemMgr manager(kind);
		EXPECT_EQ(manager.SetPurgeHandlerProc(handler), nullptr);
		manager.PurgeMem(-1);
		EXPECT_EQ(sHandlerCalls, 0);
		EXPECT_FALSE(manager.AddVirtualAllocation(0x1000000, nullptr, false));
		EXPECT_EQ(manager.SetPurgeHandlerProc(nullptr), handler);
	}

	VCppMemMgr none(EAllocatorKind(7));
	EXPECT_FALSE(none.IsSystemMode());
	EXPECT_EQ(none.Malloc(8, false, kMEMTAG_BUFFER), nullptr);
	EXPECT_EQ(none.Calloc(1, 8, kMEMTAG_BUFFER), nullptr);
	EXPECT_EQ(none.Realloc(nullptr, 8), nullptr);
	EXPECT_EQ(none.TryToMalloc(8, false, kMEMTAG_BUFFER, -1), nullptr);
	none.Free(nullptr);
}

TEST(VCppMemMgrTest, ShortMemoryThrowsNothing)
{
	// A value too long to sit inside the string object, so that reading it allocates.
	plat::SetMainBundleInfoStringForTesting("MemoryAllocator", std::string(40, 'v'));
	long runs = test::ForEachAllocationFailure(
		[](long allowed)
		{
			bool threw = false;
			try
			{
				ManagerPtr manager(new VCppMemMgr(eAllocator_FromBundle));
				EXPECT_EQ(manager->GetChosenKind(), eAllocator_System);
				if (VMemoryHog* hog = manager->RegisterMemHog())
					manager->UnRegisterMemHog(hog);
			}
			catch (...)
			{
				threw = true;
			}
			EXPECT_FALSE(threw) << allowed << " allocations allowed";
		});
	plat::ClearMainBundleOverridesForTesting();
	EXPECT_GE(runs, 4) << "the bundle, the backend, the hog and the hog list each allocate";
}

// The leak sanitizer does not scan the manager's own pages: it must be told they hold live pointers.
TEST(VCppMemMgrTest, WhatOnlyTheManagerHoldsIsNoLeak)
{
#if VELK_TEST_LEAK_SANITIZER
	ManagerPtr manager(new VCppMemMgr(eAllocator_System));
	ASSERT_NE(manager, nullptr);
	// The backend and the hog list are reachable only through the manager.
	for (int i = 0; i < 3; ++i)
		ASSERT_NE(manager->RegisterMemHog(), nullptr);
	EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
	GTEST_SKIP() << "needs a build with the leak sanitizer";
#endif
}

TEST(VCppMemMgrTest, MemoryHogsBelongToTheirTaskAndLeaveTheList)
{
	VCppMemMgr manager(eAllocator_System);
	VCppMemMgr other(eAllocator_System);

	VMemoryHog* mine = manager.RegisterMemHog();
	ASSERT_NE(mine, nullptr);
	EXPECT_EQ(mine->GetOwnerTaskID(), uint32(VTaskMgr::Get()->GetCurrentTaskID()));

	VMemoryHog* theirs = nullptr;
	uint32 threadTask = 0;
	std::thread([&] {
		theirs = manager.RegisterMemHog();
		threadTask = uint32(VTaskMgr::Get()->GetCurrentTaskID());
	}).join();
	ASSERT_NE(theirs, nullptr);
	EXPECT_EQ(theirs->GetOwnerTaskID(), threadTask);
	EXPECT_NE(theirs->GetOwnerTaskID(), mine->GetOwnerTaskID());

	// A hog of another manager is not in this list: left alone and still usable.
	VMemoryHog* foreign = other.RegisterMemHog();
	manager.UnRegisterMemHog(foreign);
	manager.UnRegisterMemHog(nullptr);
	EXPECT_TRUE(foreign->GetLock().Lock());
	EXPECT_TRUE(foreign->GetLock().Unlock());

	manager.UnRegisterMemHog(mine);
	// theirs and foreign are destroyed with their managers (the leak checker reports them otherwise).
}

TEST(VCppMemMgrTest, EachManagerHasItsLeakCheckerAndAnEmptyDebugChain)
{
	VCppMemMgr manager(eAllocator_System);
	VCppMemMgr other(eAllocator_System);
	VLeaksChecker& checker = manager.GetLeaksChecker();
	EXPECT_EQ(&checker, &manager.GetLeaksChecker());
	EXPECT_FALSE(checker.SetLeaksCheck(true));
	EXPECT_TRUE(checker.SetLeaksCheck(true));
	EXPECT_FALSE(other.GetLeaksChecker().SetLeaksCheck(false));
	EXPECT_EQ(checker.GetLeaksCount(), 0);
	// No hook records a debug block.
	manager.RegisterBlock(nullptr, 16, true);
	EXPECT_TRUE(manager.GetDebugBlockInfoPools().IsEmpty());
	EXPECT_EQ(manager.GetDebugBlockInfoPools().GetCount(), 0);
}

TEST(VChainOfTest, LinksStayInOrderWhereverOneIsTakenOut)
{
	struct Element : VChainLink<Element>
	{
		int fValue;
	};
	const auto values = [](const VChainOf<Element>& chain) {
		std::string forward;
		for (const Element* e = chain.GetFirst(); e != nullptr; e = e->GetNext())
			forward += char('0' + e->fValue);
		std::string backward;
		for (const Element* e = chain.GetLast(); e != nullptr; e = e->GetPrevious())
			backward.insert(backward.begin(), char('0' + e->fValue));
		EXPECT_EQ(forward, backward);
		EXPECT_EQ(int32(forward.size()), chain.GetCount());
		EXPECT_EQ(chain.IsEmpty(), forward.empty());
		return forward;
	};
	struct Row
	{
		std::vector<int> removed;  // indexes into 0..3, in order
		std::string left;
	};
	const Row rows[] = {
		{{}, "0123"}, {{0}, "123"}, {{3}, "012"}, {{1, 2}, "03"}, {{0, 3, 1}, "2"}, {{2, 1, 3, 0}, ""},
	};
	for (const Row& row : rows)
	{
		Element elements[4];
		VChainOf<Element> chain;
		EXPECT_EQ(values(chain), "");
		for (int i = 0; i < 4; ++i)
		{
			elements[i].fValue = i;
			chain.AddTail(&elements[i]);
		}
		for (int index : row.removed)
		{
			chain.Remove(&elements[index]);
			EXPECT_EQ(elements[index].GetNext(), nullptr);
			EXPECT_EQ(elements[index].GetPrevious(), nullptr);
		}
		EXPECT_EQ(values(chain), row.left);
		// A removed element may join again, at the end.
		if (!row.removed.empty())
		{
			chain.AddTail(&elements[row.removed.front()]);
			EXPECT_EQ(values(chain), row.left + char('0' + row.removed.front()));
		}
	}
}

}  // namespace
}  // namespace velk
