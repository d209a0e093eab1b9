// The /proc, /sys and settings readers over fixture trees, and the user and host names of the running
// system.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ProcFiles.h"
#include "platform/UserInfo.h"

namespace {

class ProcFilesTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-proc-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
	}
	void TearDown() override { std::filesystem::remove_all(fRoot); }

	void Write(const std::string& path, const std::string& text) const
	{
		const std::filesystem::path full = fRoot + path;
		std::filesystem::create_directories(full.parent_path());
		std::ofstream(full, std::ios::binary) << text;
	}

	// A processor with its topology.
	void AddCPU(int number, int package, int core) const
	{
		const std::string folder = "/sys/devices/system/cpu/cpu" + std::to_string(number) + "/topology/";
		Write(folder + "physical_package_id", std::to_string(package) + "\n");
		Write(folder + "core_id", std::to_string(core) + "\n");
	}

	std::string fRoot;
};

TEST_F(ProcFilesTest, EmptyTreeGivesTheEmptyAnswers)
{
	std::string text = "unchanged";
	EXPECT_EQ(plat::ReadProductName(fRoot), "");
	EXPECT_FALSE(plat::ReadProcessorModel(fRoot, text));
	EXPECT_EQ(text, "unchanged");
	EXPECT_EQ(plat::CountPhysicalCores(fRoot, false), 0);
	EXPECT_EQ(plat::ReadMemInfoBytes(fRoot, "MemTotal"), 0u);
	uint64_t size = 7, resident = 7;
	EXPECT_FALSE(plat::ReadOwnMemoryPages(fRoot, size, resident));
	uintptr_t base = 1;
	size_t length = 1;
	bool isFree = true;
	EXPECT_FALSE(plat::QueryOwnMapping(fRoot, 0x1000, base, length, isFree));
	EXPECT_EQ(base, 0u);
	EXPECT_EQ(length, 0u);
	EXPECT_FALSE(isFree);
	EXPECT_EQ(plat::ReadPrettyHostName(fRoot), "");
}

TEST_F(ProcFilesTest, MachineAndMemoryFacts)
{
	Write("/sys/class/dmi/id/product_name", "  Standard PC (Q35 + ICH9, 2009)\n");
	Write("/proc/cpuinfo", "processor\t: 0\nvendor_id\t: X\nmodel name\t: Some  CPU @ 2.0GHz \n\nprocessor\t: 1\nmodel name\t: Other\n");
	Write("/proc/meminfo", "MemTotal:       16314040 kB\nMemFree:          812345 kB\nMemAvailable:   9000000 kB\n");
	Write("/proc/self/statm", "2500 300 100 1 0 200 0\n");
	EXPECT_EQ(plat::ReadProductName(fRoot), "Standard PC (Q35 + ICH9, 2009)");
	std::string model;
	ASSERT_TRUE(plat::ReadProcessorModel(fRoot, model));
	EXPECT_EQ(model, "Some  CPU @ 2.0GHz");
	EXPECT_EQ(plat::ReadMemInfoBytes(fRoot, "MemTotal"), 16314040ull * 1024);
	EXPECT_EQ(plat::ReadMemInfoBytes(fRoot, "MemFree"), 812345ull * 1024);
	EXPECT_EQ(plat::ReadMemInfoBytes(fRoot, "Mem"), 0u);
	uint64_t size = 0, resident = 0;
	ASSERT_TRUE(plat::ReadOwnMemoryPages(fRoot, size, resident));
	EXPECT_EQ(size, 2500u);
	EXPECT_EQ(resident, 300u);
}

TEST_F(ProcFilesTest, PhysicalCoresCountPackageAndCorePairs)
{
	// Two packages of two cores with two threads each; cpu5 and cpu7 are offline.
	int number = 0;
	for (int package = 0; package < 2; ++package)
		for (int thread = 0; thread < 2; ++thread)
			for (int core = 0; core < 2; ++core)
				AddCPU(number++, package, core);
	Write("/sys/devices/system/cpu/online", "0-4,6\n");
	Write("/sys/devices/system/cpu/cpufreq/policy0", "");  // not a processor
	EXPECT_EQ(plat::CountPhysicalCores(fRoot, false), 4);
	// Online: 0-3 cover package 0's two cores, 4 and 6 package 1's core 0.
	EXPECT_EQ(plat::CountPhysicalCores(fRoot, true), 3);
}

TEST_F(ProcFilesTest, MappingsAndGaps)
{
	Write("/proc/self/maps",
		"00400000-00452000 r-xp 00000000 08:02 173521 /usr/bin/dbus-daemon\n"
		"00651000-00652000 r--p 00051000 08:02 173521 /usr/bin/dbus-daemon\n"
		"7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0 [stack]\n");
	struct Row
	{
		uintptr_t address;
		bool found;
		uintptr_t base;
		size_t size;
		bool isFree;
	};
	const Row rows[] = {
		{0x1000, true, 0x1000, 0x400000 - 0x1000, true},  // before the first mapping
		{0x400000, true, 0x400000, 0x52000, false},
		{0x451fff, true, 0x400000, 0x52000, false},
		{0x452000, true, 0x452000, 0x651000 - 0x452000, true},
		{0x651800, true, 0x651000, 0x1000, false},
		{0x7ffd00021000, false, 0, 0, false},  // after the last
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.address);
		uintptr_t base = 0;
		size_t size = 0;
		bool isFree = false;
		EXPECT_EQ(plat::QueryOwnMapping(fRoot, row.address, base, size, isFree), row.found);
		EXPECT_EQ(base, row.base);
		EXPECT_EQ(size, row.size);
		EXPECT_EQ(isFree, row.isFree);
	}
}

TEST_F(ProcFilesTest, PrettyHostNames)
{
	struct Row
	{
		const char* content;
		const char* expected;
	};
	const Row rows[] = {
		{"PRETTY_HOSTNAME=\"Ada's laptop\"\n", "Ada's laptop"},
		{"ICON_NAME=computer\nPRETTY_HOSTNAME='Build \"box\"'\n", "Build \"box\""},
		{"PRETTY_HOSTNAME=plain\\ name\n", "plain name"},
		{"CHASSIS=laptop\n", ""},
		{"PRETTY_HOSTNAME=\n", ""},
	};
	for (const Row& row : rows)
	{
		Write("/etc/machine-info", row.content);
		EXPECT_EQ(plat::ReadPrettyHostName(fRoot), row.expected) << row.content;
		std::string name;
		ASSERT_TRUE(plat::GetHostDisplayName(fRoot, name));
		if (*row.expected != 0)
			EXPECT_EQ(name, row.expected);
		else
			EXPECT_FALSE(name.empty());  // the network host name stands in
	}
}

TEST(UserInfoTest, TheRunningUserHasNames)
{
	std::string account, full;
	ASSERT_TRUE(plat::GetUserAccountName(account));
	EXPECT_FALSE(account.empty());
	ASSERT_TRUE(plat::GetUserFullName(full));
	EXPECT_FALSE(full.empty());
	EXPECT_EQ(full.find(','), std::string::npos);
}

}  // namespace
