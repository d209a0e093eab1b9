#include <gtest/gtest.h>

#include <cstdlib>

#include "kernel/json/classes/VJSONBlob.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"

namespace velk {
namespace {

TEST(VKernelStaticsTest, SizeKeyIsMadeBeforeTheManager)
{
	const VString& key = VJSONBlob::key_size;
	EXPECT_TRUE(key.EqualToStringRaw(VString("size")));
	EXPECT_EQ(key.GetLength(), 4);
	EXPECT_EQ(key.GetCPointer()[4], 0);
	// No manager existed yet: the buffer came from the string's malloc fallback, which is never freed.
	EXPECT_TRUE(key.IsExternal());
	EXPECT_TRUE(key.IsUnrefcounted());
}

TEST(VKernelStaticsTest, ProcessManagerExistsBeforeMain)
{
	ASSERT_NE(VObject::sCppMemMgr, nullptr);
	// Run from a bundle asking for the arenas, the test program says so; otherwise there is no
	// "MemoryAllocator", so the system allocator.
	bool arenas = std::getenv("VELK_EXPECT_ARENAS") != nullptr;
	EXPECT_EQ(VObject::sCppMemMgr->GetChosenKind(), arenas ? eAllocator_Velk : eAllocator_System);
	EXPECT_EQ(VObject::sCppMemMgr->IsSystemMode(), !arenas);
	if (arenas)
	{
		// The whole gigabyte, in four shares.
		EXPECT_EQ(VObject::sCppMemMgr->GetAllocatedMem(), size_t(1) << 30);
		EXPECT_EQ(VObject::sCppMemMgr->CountVirtualAllocations(), 4);
	}
}

}  // namespace
}  // namespace velk
