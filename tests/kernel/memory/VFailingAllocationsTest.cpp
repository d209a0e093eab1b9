#include <gtest/gtest.h>
#include <new>
#include <vector>
#include "common/VFailingAllocations.h"
TEST(FailingAllocationsTest, RefusesOnDemand)
{
	long refused = 0;
	{
		velk::test::StFailingAllocations failing(1);
		void* first = ::operator new(8, std::nothrow);
		void* second = ::operator new(8, std::nothrow);
		EXPECT_NE(first, nullptr);
		EXPECT_EQ(second, nullptr);
		EXPECT_THROW((void)new int(3), std::bad_alloc);
		refused = failing.GetRefusedCount();
		::operator delete(first);
	}
	EXPECT_EQ(refused, 2);
	long runs = velk::test::ForEachAllocationFailure([](long) {
		try { std::vector<int> v(3); v.resize(100); } catch (const std::bad_alloc&) {}
	});
	EXPECT_EQ(runs, 3);
}
