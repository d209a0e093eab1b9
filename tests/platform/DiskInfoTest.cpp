// The disk list's space reading: a file system that does not answer does not hold up the list.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DiskInfo.h"

namespace {

// A statvfs that hangs on one mount point until the test lets it go, as an unreachable server's would.
struct HeldVolume
{
	std::mutex fMutex;
	std::condition_variable fChanged;
	bool fReleased = false;
	bool fFinished = false;
};

TEST(DiskInfoTest, AVolumeThatDoesNotAnswerCountsZeroWithoutHoldingTheList)
{
	const std::string mountInfo =
		"20 1 0:50 / /mnt/stuck rw - nfs server:/stuck rw\n"
		"21 1 0:51 / /mnt/quick rw - cifs //server/quick rw\n"
		"22 1 0:52 / /mnt/refused rw - fuse.sshfs me@host: rw\n";
	std::vector<plat::MountEntry> mounts;
	ASSERT_EQ(plat::ParseMountInfo(mountInfo, mounts), 0);
	auto held = std::make_shared<HeldVolume>();
	const plat::VolumeSpaceReader reader = [held](const std::string& mountPoint, plat::VolumeSpace& space)
	{
		if (mountPoint == "/mnt/stuck")
		{
			std::unique_lock<std::mutex> lock(held->fMutex);
			held->fChanged.wait(lock, [&held] { return held->fReleased; });
			held->fFinished = true;
			held->fChanged.notify_all();
			space = { 1 << 30, 1 << 30 };
			return true;
		}
		space = { 8192, 4096 };
		return mountPoint == "/mnt/quick";
	};

	// The reader on /mnt/stuck is released only after the call returned: a call that waited would hang here.
	std::vector<plat::DiskPartition> partitions;
	plat::ListDiskPartitions("/nonexistent-root", mounts, reader, 200, partitions);
	{
		std::unique_lock<std::mutex> lock(held->fMutex);
		held->fReleased = true;
		held->fChanged.notify_all();
		held->fChanged.wait(lock, [&held] { return held->fFinished; });
	}

	ASSERT_EQ(partitions.size(), 3u);
	const uint64_t expected[][2] = { { 0, 0 }, { 8, 4 }, { 0, 0 } };
	for (size_t i = 0; i < partitions.size(); ++i)
	{
		EXPECT_EQ(partitions[i].mountPoint, mounts[i].mountPoint);
		EXPECT_EQ(partitions[i].kind, plat::DiskKind::kNetwork);
		EXPECT_TRUE(partitions[i].devices.empty());
		EXPECT_EQ(partitions[i].capacityKilobytes, expected[i][0]) << partitions[i].mountPoint;
		EXPECT_EQ(partitions[i].availableKilobytes, expected[i][1]) << partitions[i].mountPoint;
	}
}

}  // namespace
