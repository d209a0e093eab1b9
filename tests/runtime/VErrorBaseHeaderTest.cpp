// The error header is portable: included alone, it compiles and names its platform half only.
#include "runtime/VErrorBase.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

template <class T>
concept IsComplete = requires { sizeof(T); };

TEST(VErrorBaseHeader, LeavesThePlatformHalfOutAndCarriesNoFramesUntilLoaded)
{
	EXPECT_FALSE(IsComplete<XMacStackCrawl>);
	// Frames are allocated when loaded: an error holds a pointer to them, not room for 48 of them.
	EXPECT_LT(sizeof(VErrorBase), 48 * sizeof(void*));
	VErrorBase error(VE_UNKNOWN_ERROR);
	EXPECT_EQ(error.GetStackCrawl(), nullptr);
	ASSERT_TRUE(error.LoadStackCrawl(0, 8));
	EXPECT_NE(error.GetStackCrawl(), nullptr);
	VErrorBase copy(error);
	EXPECT_EQ(copy.GetStackCrawl(), nullptr);
}

}  // namespace
}  // namespace velk
