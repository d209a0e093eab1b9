// The throughput sampler over a fixture /proc/net/dev: rates between samples, loopback left out, and the
// samples that cannot give a rate.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/NetworkCounters.h"

namespace {

class NetworkCountersTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-netdev-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
		Write("/sys/class/net/lo/type", "772\n");
		Write("/sys/class/net/eth0/type", "1\n");
	}
	void TearDown() override { std::filesystem::remove_all(fRoot); }

	void Write(const std::string& path, const std::string& text) const
	{
		const std::filesystem::path full = fRoot + path;
		std::filesystem::create_directories(full.parent_path());
		std::ofstream(full, std::ios::binary) << text;
	}

	// The file with loopback, eth0 and wlan0 (no type file) counters.
	void WriteCounters(unsigned long long loopback, unsigned long long eth0Received, unsigned long long eth0Sent,
		unsigned long long wlan0Received, unsigned long long wlan0Sent) const
	{
		auto line = [](const char* name, unsigned long long received, unsigned long long sent)
		{
			return std::string(name) + ": " + std::to_string(received) + " 10 0 0 0 0 0 0 " + std::to_string(sent) + " 10 0 0 0 0 0 0\n";
		};
		Write("/proc/net/dev",
			"Inter-|   Receive                                                |  Transmit\n"
			" face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
			+ line("    lo", loopback, loopback) + line("  eth0", eth0Received, eth0Sent) + line(" wlan0", wlan0Received, wlan0Sent));
	}

	std::string fRoot;
};

TEST_F(NetworkCountersTest, RatesBetweenSamplesAndTheSamplesWithoutOne)
{
	constexpr unsigned long long kBig = 5000000000ull;	// past 32 bits
	struct Step
	{
		unsigned long long loopback, eth0Received, eth0Sent, wlan0Received, wlan0Sent;
		uint64_t now;
		bool answered;
		double received, sent;
	};
	const Step steps[] = {
		{ 100, 1000, 500, 0, 0, 10000, false, 0, 0 },					// first sample
		{ 900000, 3000, 1500, 1000, 0, 12000, true, 1500, 500 },		// loopback traffic does not count
		{ 900000, 3000, 1500, 1000, 0, 12000, false, 0, 0 },			// no time passed
		{ 900000, kBig, 2000, 1000, 0, 13000, true, kBig - 3000, 500 }, // 64-bit counters
		{ 900000, 10, 2000, 1000, 0, 14000, false, 0, 0 },				// a counter went down
		{ 900000, 20, 2100, 1000, 0, 14500, true, 20, 200 },			// from the fallen sample on
	};
	plat::NetworkThroughputSampler sampler;
	for (const Step& step : steps)
	{
		WriteCounters(step.loopback, step.eth0Received, step.eth0Sent, step.wlan0Received, step.wlan0Sent);
		double received = -1, sent = -1;
		EXPECT_EQ(sampler.Sample(fRoot, step.now, received, sent), step.answered) << step.now;
		EXPECT_DOUBLE_EQ(received, step.answered ? step.received : -1) << step.now;
		EXPECT_DOUBLE_EQ(sent, step.answered ? step.sent : -1) << step.now;
	}

	// An unreadable file answers false and forgets the sample: the next reading is a first one again.
	std::filesystem::remove(fRoot + "/proc/net/dev");
	double received = -1, sent = -1;
	EXPECT_FALSE(sampler.Sample(fRoot, 20000, received, sent));
	WriteCounters(0, 100, 100, 0, 0);
	EXPECT_FALSE(sampler.Sample(fRoot, 21000, received, sent));
	EXPECT_TRUE(sampler.Sample(fRoot, 22000, received, sent));
	EXPECT_DOUBLE_EQ(received, 0.0);
}

}  // namespace
