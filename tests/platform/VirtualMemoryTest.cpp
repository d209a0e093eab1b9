#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/VirtualMemory.h"

namespace {

const size_t kPage = plat::GetPageSize();

char* At(void* base, size_t offset)
{
	return static_cast<char*>(base) + offset;
}

// The VmFlags line of the mapping that starts at address, from /proc/self/smaps; "" when there is none.
std::string MappingFlags(const void* address)
{
	std::ifstream smaps("/proc/self/smaps");
	std::string line;
	bool inMapping = false;
	while (std::getline(smaps, line))
	{
		uintptr_t start = 0, end = 0;
		char dash = 0;
		std::istringstream head(line);
		if (head >> std::hex >> start >> dash >> end && dash == '-')
		{
			inMapping = start == reinterpret_cast<uintptr_t>(address);
			continue;
		}
		if (inMapping && line.rfind("VmFlags:", 0) == 0)
			return line + " ";
	}
	return std::string();
}

TEST(VirtualMemoryTest, RoundsSizesUpToWholePages)
{
	struct Row
	{
		size_t size;
		size_t expected;
	};
	const Row rows[] = {
		{ 0, 0 },
		{ 1, kPage },
		{ kPage - 1, kPage },
		{ kPage, kPage },
		{ kPage + 1, 2 * kPage },
		{ 10 * kPage, 10 * kPage },
		{ SIZE_MAX - kPage + 2, 0 },
		{ SIZE_MAX, 0 },
	};
	EXPECT_GE(kPage, 4096u);
	EXPECT_EQ(kPage & (kPage - 1), 0u);
	for (const Row& row : rows)
		EXPECT_EQ(plat::RoundUpToPageSize(row.size), row.expected) << "size " << row.size;
}

TEST(VirtualMemoryTest, ReservesZeroedWritablePagesAnywhere)
{
	const size_t size = 3 * kPage + 10;
	char* block = static_cast<char*>(plat::ReserveMemory(size, nullptr));
	ASSERT_NE(block, nullptr);
	EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kPage, 0u);
	// The rounded-up tail is part of the block.
	for (size_t offset = 0; offset < 4 * kPage; offset += 512)
	{
		ASSERT_EQ(block[offset], 0) << offset;
		block[offset] = char(offset / 512 + 1);
	}
	EXPECT_EQ(block[4 * kPage - 512], char((4 * kPage - 512) / 512 + 1));
	plat::ReleaseMemory(block, size);

	EXPECT_EQ(plat::ReserveMemory(0, nullptr), nullptr);
	EXPECT_EQ(plat::ReserveMemory(SIZE_MAX, nullptr), nullptr);
	plat::ReleaseMemory(nullptr, kPage);
}

TEST(VirtualMemoryTest, FreeHintIsHonouredAndReleaseCoversTheRoundedSize)
{
	void* region = plat::ReserveMemory(4 * kPage, nullptr);
	ASSERT_NE(region, nullptr);
	// Give back the upper half, with a size that only reaches it once rounded up.
	plat::ReleaseMemory(At(region, 2 * kPage), kPage + 1);

	void* placed = plat::ReserveMemory(2 * kPage, At(region, 2 * kPage));
	ASSERT_EQ(placed, At(region, 2 * kPage));
	std::memset(placed, 0x5A, 2 * kPage);
	plat::ReleaseMemory(region, 4 * kPage);
}

TEST(VirtualMemoryTest, OccupiedOrUnalignedHintGivesNullAndLeavesExistingPagesAlone)
{
	char* existing = static_cast<char*>(plat::ReserveMemory(2 * kPage, nullptr));
	ASSERT_NE(existing, nullptr);
	std::memset(existing, 0x33, 2 * kPage);

	struct Row
	{
		const char* what;
		const void* hint;
		size_t size;
	};
	const Row rows[] = {
		{ "exactly over it", existing, 2 * kPage },
		{ "over its second page and beyond", existing + kPage, 3 * kPage },
		{ "unaligned inside", existing + 100, kPage },
	};
	for (const Row& row : rows)
		EXPECT_EQ(plat::ReserveMemory(row.size, row.hint), nullptr) << row.what;

	// Just below the block, running into it.
	void* below = existing - kPage;
	void* reached = plat::ReserveMemory(2 * kPage, below);
	EXPECT_EQ(reached, nullptr);
	if (reached != nullptr)
		plat::ReleaseMemory(reached, 2 * kPage);

	for (size_t offset = 0; offset < 2 * kPage; ++offset)
		ASSERT_EQ(existing[offset], 0x33) << offset;
	plat::ReleaseMemory(existing, 2 * kPage);
}

TEST(VirtualMemoryTest, PhysicalMemoryReportsWhetherItIsLocked)
{
	bool locked = false;
	char* block = static_cast<char*>(plat::ReservePhysicalMemory(2 * kPage, nullptr, &locked));
	ASSERT_NE(block, nullptr);
	std::memset(block, 0x11, 2 * kPage);
	std::string flags = MappingFlags(block);
	ASSERT_FALSE(flags.empty());
	EXPECT_EQ(flags.find(" lo ") != std::string::npos, locked) << flags;
	plat::ReleaseMemory(block, 2 * kPage);

	// Occupied fixed placement fails as for plain memory, and says unlocked.
	char* existing = static_cast<char*>(plat::ReserveMemory(kPage, nullptr));
	ASSERT_NE(existing, nullptr);
	locked = true;
	EXPECT_EQ(plat::ReservePhysicalMemory(kPage, existing, &locked), nullptr);
	EXPECT_FALSE(locked);
	plat::ReleaseMemory(existing, kPage);

	void* unreported = plat::ReservePhysicalMemory(kPage, nullptr, nullptr);
	ASSERT_NE(unreported, nullptr);
	plat::ReleaseMemory(unreported, kPage);
}

TEST(VirtualMemoryTest, PhysicalMemoryRefusedLockingIsStillUsable)
{
	// A child without the right to lock memory: no privileges, and a zero lock limit.
	pid_t child = ::fork();
	ASSERT_GE(child, 0);
	if (child == 0)
	{
		if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0)
			::_exit(10);
		rlimit none { 0, 0 };
		if (::setrlimit(RLIMIT_MEMLOCK, &none) != 0)
			::_exit(11);
		bool locked = true;
		char* block = static_cast<char*>(plat::ReservePhysicalMemory(2 * kPage, nullptr, &locked));
		if (block == nullptr)
			::_exit(12);
		if (locked)
			::_exit(13);
		std::memset(block, 0x22, 2 * kPage);
		if (MappingFlags(block).find(" lo ") != std::string::npos)
			::_exit(14);
		plat::ReleaseMemory(block, 2 * kPage);
		::_exit(0);
	}
	int status = 0;
	ASSERT_EQ(::waitpid(child, &status, 0), child);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
