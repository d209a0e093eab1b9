// The machine's load and this process's processor use over fixture stat files: busy fractions between
// samples, and the samples that cannot give one.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ProcStat.h"

namespace {

class ProcStatTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-stat-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
		std::filesystem::create_directories(fRoot + "/proc/self");
	}
	void TearDown() override { std::filesystem::remove_all(fRoot); }

	void Write(const std::string& path, const std::string& text) const { std::ofstream(fRoot + path, std::ios::binary) << text; }

	std::string fRoot;
};

TEST_F(ProcStatTest, MachineLoadIsTheBusyShareOfAllProcessors)
{
	// Counters given to every processor alike, cumulative as the kernel keeps them.
	struct Step
	{
		int processors;
		unsigned long long user, nice, system, idle, iowait, irq, softirq, steal, guest;
		bool answered;
		double load;
	};
	const Step steps[] = {
		{ 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, false, 0 },				// first sample
		{ 8, 100, 0, 0, 0, 0, 0, 0, 0, 0, true, 1.0 },			// all busy: the whole machine, not an eighth
		{ 8, 100, 10, 50, 50, 50, 20, 10, 10, 500, true, 0.5 }, // iowait idles; steal works; guest is inside user
		{ 4, 200, 10, 50, 50, 50, 20, 10, 10, 500, false, 0 },	// fewer processors: a new first sample
		{ 4, 200, 10, 50, 50, 50, 20, 10, 10, 500, true, 0 },	// no tick passed
		{ 4, 230, 10, 50, 140, 50, 20, 10, 10, 500, true, 0.25 },
		{ 4, 200, 10, 50, 200, 50, 20, 10, 10, 500, true, 0 },	// a counter going back does not count
	};
	plat::ProcessorLoadSampler sampler;
	for (const Step& step : steps)
	{
		std::string text = "cpu  1 2 3 4 5 6 7 8 9 10\n";
		for (int n = 0; n < step.processors; ++n)
		{
			text += "cpu" + std::to_string(n);
			for (unsigned long long counter : { step.user, step.nice, step.system, step.idle, step.iowait, step.irq, step.softirq,
					 step.steal, step.guest, 0ull })
				text += " " + std::to_string(counter);
			text += "\n";
		}
		Write("/proc/stat", text + "intr 12345\nctxt 678\n");
		double load = -1;
		EXPECT_EQ(sampler.Sample(fRoot, load), step.answered) << step.user << " " << step.idle;
		EXPECT_DOUBLE_EQ(load, step.load) << step.user << " " << step.idle;
	}

	// Unreadable counters answer false and keep the sample to compare the next reading with.
	std::filesystem::remove(fRoot + "/proc/stat");
	double load = -1;
	EXPECT_FALSE(sampler.Sample(fRoot, load));
	EXPECT_EQ(load, 0.0);
}

TEST_F(ProcStatTest, ProcessUseSinceStartThenSincePreviousCall)
{
	const long ticks = sysconf(_SC_CLK_TCK);
	auto writeStat = [&](double userSeconds, double systemSeconds)
	{
		// A command name holding blanks and parentheses; the process started 10 s after boot.
		Write("/proc/self/stat", "4321 (a (b) c) S 1 4321 4321 0 -1 4194560 100 0 0 0 " + std::to_string(long(userSeconds * ticks)) + " "
			+ std::to_string(long(systemSeconds * ticks)) + " 0 0 20 0 1 0 " + std::to_string(10 * ticks) + " 1000 200 18446744073709551615\n");
	};
	struct Step
	{
		double user, system, now, use;
	};
	const Step steps[] = {
		{ 3, 1, 30, 0.05 },	   // 4 s of 20 s since start on 4 processors
		{ 7, 1, 32, 0.5 },	   // 4 s in 2 s: half the machine, counted once
		{ 7, 1, 32, 0 },	   // no time elapsed
		{ 9, 1, 32.1, 1.0 },   // tick rounding cannot make it more than the whole machine
	};
	plat::ProcessUseSampler sampler;
	for (const Step& step : steps)
	{
		writeStat(step.user, step.system);
		EXPECT_NEAR(sampler.Sample(fRoot, step.now, 4), step.use, 1e-9) << step.now;
	}

	std::filesystem::remove(fRoot + "/proc/self/stat");
	EXPECT_EQ(sampler.Sample(fRoot, 40, 4), -1.0);
	// The failed call kept the previous sample (9 s at 32.1 s).
	writeStat(11, 1);
	EXPECT_NEAR(sampler.Sample(fRoot, 42.1, 4), 2.0 / 10.0 / 4.0, 1e-9);
	Write("/proc/self/stat", "4321 (truncated) S 1 4321\n");
	EXPECT_EQ(sampler.Sample(fRoot, 43, 4), -1.0);
}

}  // namespace
