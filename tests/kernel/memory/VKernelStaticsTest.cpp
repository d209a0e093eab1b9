#include <gtest/gtest.h>

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
	// The test program is not inside a bundle: no "MemoryAllocator", so the system allocator.
	EXPECT_EQ(VObject::sCppMemMgr->GetChosenKind(), eAllocator_System);
	EXPECT_TRUE(VObject::sCppMemMgr->IsSystemMode());
}

}  // namespace
}  // namespace velk
