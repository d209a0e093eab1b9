#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/Random.h"

namespace {

TEST(RandomTest, SecureBytesDifferAndCoverEveryValue)
{
	std::vector<unsigned char> first(64), second(64);
	plat::FillSecureRandom(first.data(), first.size());
	plat::FillSecureRandom(second.data(), second.size());
	EXPECT_NE(first, second);

	std::vector<unsigned char> bytes(64 * 1024);
	plat::FillSecureRandom(bytes.data(), bytes.size());
	std::vector<bool> seen(256, false);
	for (unsigned char byte : bytes)
		seen[byte] = true;
	EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);

	plat::FillSecureRandom(nullptr, 0);
}

TEST(RandomTest, LargeBuffersAreFilledToTheEnd)
{
	// Larger than one getrandom call hands out, so the short reads must be continued.
	std::vector<unsigned char> bytes(40 * 1024 * 1024, 0);
	plat::FillSecureRandom(bytes.data(), bytes.size());
	auto tail = bytes.end() - 4096;
	EXPECT_LT(std::count(tail, bytes.end(), 0), 100);
}

TEST(RandomTest, PseudoRandomFollowsTheProcessSeed)
{
	std::vector<int32_t> first, second;
	::srandom(1234);
	for (int i = 0; i < 8; ++i)
		first.push_back(plat::NextPseudoRandom());
	::srandom(1234);
	for (int i = 0; i < 8; ++i)
		second.push_back(plat::NextPseudoRandom());
	EXPECT_EQ(first, second);
	for (int32_t value : first)
		EXPECT_GE(value, 0);
	EXPECT_NE(std::count(first.begin(), first.end(), first[0]), 8);
}

}  // namespace
