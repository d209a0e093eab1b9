#include <gtest/gtest.h>

#include <sched.h>
#include <sys/utsname.h>

#include <string>

#include "platform/SystemInfo.h"

namespace {

TEST(SystemInfoTest, VersionDecimalComesFromTheLeadingNumbers)
{
	struct Row
	{
		const char* release;
		uint32_t expected;
	};
	const Row rows[] = {
		{ "6.1.0-18-amd64", 60100 },
		{ "13.4.1", 130401 },
		{ "5.15.0", 51500 },
		{ "6.8-rc1", 60800 },
		{ "6.8.", 60800 },
		{ "6", 60000 },
		{ "6.", 60000 },
		{ "6.x.3", 60000 },
		{ "4.19.304-1", 41999 },
		{ "6.120.2", 69902 },
		{ "999.1.1", 9990101 },
		{ "1000.1.1", 0 },
		{ "99999999999999999999.1", 0 },
		{ "Linux 6.1", 0 },
		{ "", 0 },
		{ nullptr, 0 },
	};
	for (const Row& row : rows)
		EXPECT_EQ(plat::ParseVersionDecimal(row.release), row.expected) << (row.release ? row.release : "(null)");

	// Capping keeps later releases above earlier ones.
	EXPECT_LT(plat::ParseVersionDecimal("5.10.209"), plat::ParseVersionDecimal("5.11.0"));
	EXPECT_LT(plat::ParseVersionDecimal("5.99.0"), plat::ParseVersionDecimal("6.0.0"));
}

TEST(SystemInfoTest, VersionTextAndDecimalDescribeTheRunningKernel)
{
	utsname names {};
	ASSERT_EQ(::uname(&names), 0);
	EXPECT_EQ(plat::GetOSVersionText(), std::string("Linux ") + names.release);
	EXPECT_EQ(plat::GetOSVersionDecimal(), plat::ParseVersionDecimal(names.release));
	EXPECT_GT(plat::GetOSVersionDecimal(), 30000u);
}

TEST(SystemInfoTest, LogicalProcessorsCoverThoseThisProcessMayUse)
{
	cpu_set_t usable;
	CPU_ZERO(&usable);
	ASSERT_EQ(::sched_getaffinity(0, sizeof(usable), &usable), 0);
	EXPECT_GE(plat::GetLogicalProcessorCount(), CPU_COUNT(&usable));
	EXPECT_GE(plat::GetLogicalProcessorCount(), 1);
}

TEST(SystemInfoTest, ReleaseSplitsIntoNumbersAndBuild)
{
	struct Row
	{
		const char* release;
		const char* numbers;
		const char* build;
	};
	const Row rows[] = {
		{"6.1.0-18-amd64", "6.1.0", "18-amd64"},
		{"5.15.0", "5.15.0", ""},
		{"6.8.0-rc1+", "6.8.0", "rc1+"},
		{"4.4.0-19041-Microsoft", "4.4.0", "19041-Microsoft"},
		{"6.5.0.generic", "6.5.0", "generic"},
		{"6.", "6", ""},
		{"custom", "", ""},
		{"", "", ""},
	};
	for (const Row& row : rows)
	{
		std::string numbers = "x", build = "x";
		plat::SplitKernelRelease(row.release, numbers, build);
		EXPECT_EQ(numbers, row.numbers) << row.release;
		EXPECT_EQ(build, row.build) << row.release;
	}
}

}  // namespace
