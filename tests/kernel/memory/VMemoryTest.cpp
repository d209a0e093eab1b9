#include "kernel/memory/VMemory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"

namespace velk {
namespace {

// Puts a manager in place of the process one for the scope.
class StProcessManagerSwap
{
public:
	explicit StProcessManagerSwap(VCppMemMgr* manager) : fSaved(VObject::sCppMemMgr) { VObject::sCppMemMgr = manager; }
	~StProcessManagerSwap() { VObject::sCppMemMgr = fSaved; }

private:
	VCppMemMgr* fSaved;
};

TEST(VMemoryTest, BlocksComeFromTheProcessManager)
{
	ASSERT_NE(VObject::sCppMemMgr, nullptr);
	auto* block = static_cast<uint8*>(VMemory::NewPtrClear(3000, kMEMTAG_BUFFER));
	ASSERT_NE(block, nullptr);
	EXPECT_GE(VObject::sCppMemMgr->GetPtrSize(block), 3000u);
	for (int i = 0; i < 3000; ++i)
		ASSERT_EQ(block[i], 0) << i;

	std::memset(block, 0x5A, 3000);
	block = static_cast<uint8*>(VMemory::SetPtrSize(block, 10));
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(block[9], 0x5A);
	EXPECT_EQ(VMemory::SetPtrSize(block, 0), nullptr);

	void* plain = VMemory::NewPtr(16, kMEMTAG_BUFFER);
	EXPECT_NE(plain, nullptr);
	VMemory::DisposePtr(plain);
	VMemory::DisposePtr(nullptr);
}

TEST(VMemoryTest, RefusedRequestsGiveNull)
{
	VCppMemMgr refusing(EAllocatorKind(7));
	StProcessManagerSwap swap(&refusing);
	EXPECT_EQ(VMemory::NewPtr(16, kMEMTAG_BUFFER), nullptr);
	EXPECT_EQ(VMemory::NewPtrClear(16, kMEMTAG_BUFFER), nullptr);
	EXPECT_EQ(VMemory::SetPtrSize(nullptr, 16), nullptr);
	VMemory::DisposePtr(nullptr);

	StProcessManagerSwap none(nullptr);
	EXPECT_EQ(VMemory::NewPtrClear(16, kMEMTAG_BUFFER), nullptr);
}

}  // namespace
}  // namespace velk
