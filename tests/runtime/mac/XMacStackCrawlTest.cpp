#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/mac/XMacStackCrawl.h"

namespace velk {
namespace {

// Loads every crawl from one call instruction, so that all of them see the same stack.
__attribute__((noinline)) void LoadAll(XMacStackCrawl* crawls, const uint32* skips, const uint32* maxes, int count)
{
	volatile int limit = count;  // keeps the loop, and so the one call site
	for (int i = 0; i < limit; ++i)
		crawls[i].LoadFrames(skips[i], maxes[i]);
}

TEST(XMacStackCrawl, SkipAndMaxSelectTheFrames)
{
	XMacStackCrawl crawls[3];
	const uint32 skips[3] = {0, 2, 5};
	const uint32 maxes[3] = {XMacStackCrawl::kMaxFrames, 3, XMacStackCrawl::kMaxFrames};
	LoadAll(crawls, skips, maxes, 3);
	const XMacStackCrawl& whole = crawls[0];
	ASSERT_GE(whole.GetCount(), 8);
	ASSERT_LT(whole.GetCount(), int32(XMacStackCrawl::kMaxFrames));  // the whole stack fits

	ASSERT_EQ(crawls[1].GetCount(), 3);
	for (int32 i = 0; i < 3; ++i)
		EXPECT_EQ(crawls[1].GetFrame(i), whole.GetFrame(i + 2)) << i;
	EXPECT_EQ(crawls[1].GetFrame(3), nullptr);
	EXPECT_EQ(crawls[1].GetFrame(-1), nullptr);

	ASSERT_EQ(crawls[2].GetCount(), whole.GetCount() - 5);
	for (int32 i = 0; i < crawls[2].GetCount(); ++i)
		EXPECT_EQ(crawls[2].GetFrame(i), whole.GetFrame(i + 5)) << i;
}

TEST(XMacStackCrawl, BoundsOfTheCount)
{
	XMacStackCrawl crawl;
	EXPECT_EQ(crawl.GetCount(), 0);
	crawl.LoadFrames(0, 100);
	EXPECT_GT(crawl.GetCount(), 0);
	EXPECT_LE(crawl.GetCount(), int32(XMacStackCrawl::kMaxFrames));
	crawl.LoadFrames(1000, 8);
	EXPECT_EQ(crawl.GetCount(), 0);
	crawl.LoadFrames(0, 0);
	EXPECT_EQ(crawl.GetCount(), 0);
}

TEST(XMacStackCrawl, OrderAndDump)
{
	XMacStackCrawl shallow;
	XMacStackCrawl deep;
	shallow.LoadFrames(0, 2);
	deep.LoadFrames(0, 4);
	EXPECT_TRUE(shallow < deep);
	EXPECT_FALSE(deep < shallow);
	EXPECT_FALSE(deep < deep);

	char* text = nullptr;
	size_t size = 0;
	FILE* stream = open_memstream(&text, &size);
	ASSERT_NE(stream, nullptr);
	deep.Dump(stream);
	std::fclose(stream);
	std::string dump(text, size);
	std::free(text);
	EXPECT_EQ(dump.rfind("  :: frame 3: ", 0), 0u);
	EXPECT_NE(dump.find("\n  :: frame 0: "), std::string::npos);
}

}  // namespace
}  // namespace velk
