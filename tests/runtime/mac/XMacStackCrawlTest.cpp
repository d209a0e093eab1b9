#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "kernel/strings/VString.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {
namespace test {

// A function the executable exports, so that the dynamic linker can name it in a crawl.
__attribute__((noinline, visibility("default"))) void LoadFromNamedFunction(XMacStackCrawl& crawl)
{
	crawl.LoadFrames(0, 8);
	asm volatile("");  // not a tail call: the frame stays on the stack
}

}  // namespace test

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

	// The text form: numbered downward, the address, then the symbol the dynamic linker knows, demangled.
	VString lines;
	deep.Dump(lines);
	const std::string textDump = to_string(lines);
	EXPECT_EQ(textDump.rfind("   {3} 0x", 0), 0u);
	EXPECT_NE(textDump.find("\n   {0} 0x"), std::string::npos);
	EXPECT_EQ(std::count(textDump.begin(), textDump.end(), '\n'), 4);

	XMacStackCrawl named;
	test::LoadFromNamedFunction(named);
	lines.Clear();
	named.Dump(lines);
	EXPECT_NE(to_string(lines).find(" - velk::test::LoadFromNamedFunction(velk::XMacStackCrawl&)\n"), std::string::npos) << to_string(lines);
}

}  // namespace
}  // namespace velk
