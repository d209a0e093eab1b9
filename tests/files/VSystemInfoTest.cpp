// The facade's system information: the JSON of adapters and disks built from fixture trees, and the shape of
// the running machine's answers.
#include <gtest/gtest.h>

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VSystem.h"
#include "files/mac/XMacSystem.h"
#include "files/mac/XMacVolumes.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONValue.h"
#include "platform/DiskInfo.h"
#include "platform/MountTable.h"
#include "platform/NetworkAdapters.h"

namespace velk {
namespace {

class VSystemInfoTest : public test::VTemporaryFolderTest
{
protected:
	void Put(const std::string& path, const std::string& text) const
	{
		const std::filesystem::path full = fRoot + path;
		std::filesystem::create_directories(full.parent_path());
		std::ofstream(full, std::ios::binary) << text;
	}

	void Link(const std::string& path, const std::string& target) const
	{
		const std::filesystem::path full = fRoot + path;
		std::filesystem::create_directories(full.parent_path());
		std::filesystem::create_symlink(target, full);
	}

	// A block device in /sys/devices with its /sys/class/block link; a partition lies in its disk's folder.
	void AddBlock(const std::string& name, const std::string& disk, const std::string& number, const std::string& sectors) const
	{
		const std::string folder = "sys/devices/block/" + (disk.empty() ? name : disk + "/" + name);
		Put(folder + "/dev", number + "\n");
		Put(folder + "/size", sectors + "\n");
		if (!disk.empty())
			Put(folder + "/partition", "1\n");
		Link("sys/class/block/" + name, "../../devices/block/" + (disk.empty() ? name : disk + "/" + name));
	}

	static std::string Text(VJSONArray* array)
	{
		VString text;
		EXPECT_EQ(VJSONValue(array).Stringify(text, VString::kJSON_WITH_QUOTES), VE_OK);
		return to_string(text);
	}
};

TEST_F(VSystemInfoTest, AdaptersKeepUsableAddressesInTheSystemsOrder)
{
	Put("proc/net/if_inet6",
		"fe800000000000000000000000000001 02 40 20 80     eth0\n"
		"20010db8000000000000000000000005 02 40 00 20     eth0\n"
		"20010db8000000000000000000000006 02 40 00 40     eth0\n"
		"20010db8000000000000000000000007 02 40 00 01     eth0\n"
		"20010db8000000000000000000000008 02 40 00 08     eth0\n"
		"20010db8000000000000000000000005 03 40 00 80    wlan0\n");
	Put("sys/class/net/eth0/type", "1\n");
	Put("sys/class/net/wlan0/type", "1\n");
	Put("sys/class/net/wlan0/phy80211/name", "phy0\n");
	Put("sys/class/net/wwan0/type", "519\n");
	Put("sys/class/net/wwan0/uevent", "INTERFACE=wwan0\nDEVTYPE=wwan\n");
	Put("sys/class/net/ib0/type", "32\n");
	Put("sys/class/net/ib0/uevent", "INTERFACE=ib0\n");

	const unsigned int up = IFF_UP | IFF_MULTICAST | IFF_BROADCAST | IFF_RUNNING;
	const std::vector<plat::InterfaceAddress> addresses = {
		{ "lo", AF_INET, IFF_UP | IFF_LOOPBACK | IFF_RUNNING, "127.0.0.1", true },
		{ "lo", AF_INET6, IFF_UP | IFF_LOOPBACK | IFF_RUNNING, "::1", true },
		{ "eth0", AF_INET, up, "192.168.1.5", true },
		{ "eth0", AF_INET6, up, "fe80::1", true },
		{ "eth0", AF_INET6, up, "2001:db8::5", true },	// deprecated
		{ "eth0", AF_INET6, up, "2001:db8::6", true },	// tentative
		{ "eth0", AF_INET6, up, "2001:db8::7", true },	// temporary
		{ "eth0", AF_INET6, up, "2001:db8::8", true },	// failed duplicate detection
		{ "eth0", AF_INET6, up, "2001:db8::9", true },	// not listed: usable
		{ "tun0", AF_INET, IFF_UP | IFF_POINTOPOINT | IFF_MULTICAST, "10.8.0.1", true },
		{ "wlan0", AF_INET6, up, "2001:db8::5", true },	 // the same address, usable on this link
		{ "wlan0", AF_INET, up, "10.0.0.2", true },
		{ "down0", AF_INET, IFF_MULTICAST | IFF_BROADCAST, "10.1.0.1", true },
		{ "wwan0", AF_INET, up, "10.2.0.1", false },  // no netmask of its family
		{ "wwan0", AF_INET, up, "10.2.0.2", true },
		{ "ib0", AF_INET, up, "10.3.0.1", true },
		{ "gone0", AF_INET, up, "10.4.0.1", true },	 // not in the interface list
	};
	const std::vector<std::string> names = { "lo", "wwan0", "eth0", "tun0", "wlan0", "down0", "ib0" };
	std::vector<plat::NetworkAdapter> adapters;
	plat::CollectNetworkAdapters(fRoot, addresses, names, plat::ReadIPv6AddressFlags(fRoot), adapters);
	VJSONValue out(JSON_array);
	XMacSystem::AppendNetworkAdapters(adapters, *out.GetArray());
	EXPECT_EQ(Text(out.GetArray()),
		"[{\"type\":\"wwan\",\"name\":\"wwan0\",\"ipAddresses\":[{\"ip\":\"10.2.0.2\",\"type\":\"ipv4\"}]},"
		"{\"type\":\"ethernet\",\"name\":\"eth0\",\"ipAddresses\":[{\"ip\":\"192.168.1.5\",\"type\":\"ipv4\"},"
		"{\"ip\":\"fe80::1\",\"type\":\"ipv6\"},{\"ip\":\"2001:db8::9\",\"type\":\"ipv6\"}]},"
		"{\"type\":\"wifi\",\"name\":\"wlan0\",\"ipAddresses\":[{\"ip\":\"2001:db8::5\",\"type\":\"ipv6\"},"
		"{\"ip\":\"10.0.0.2\",\"type\":\"ipv4\"}]},"
		"{\"type\":\"32\",\"name\":\"ib0\",\"ipAddresses\":[{\"ip\":\"10.3.0.1\",\"type\":\"ipv4\"}]}]");
}

TEST_F(VSystemInfoTest, DisksOfBlockDevicesLogicalVolumesAndShares)
{
	const std::string mountInfo =
		"20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
		"21 20 0:20 / /run rw - tmpfs tmpfs rw\n"
		"22 20 0:4 / /proc rw - proc proc rw\n"
		"23 20 0:50 / /mnt/share rw - nfs4 server:/export rw\n"
		"24 20 253:1 / /home rw - ext4 /dev/mapper/vg-home rw\n"
		"25 20 8:49 / /media/gone rw - vfat /dev/sdd1 rw\n"
		"26 20 8:64 / /srv rw - xfs /dev/root rw\n";
	AddBlock("sda", "", "8:0", "4194304");
	AddBlock("sda1", "sda", "8:1", "2097152");
	Put("sys/devices/block/sda/device/model", "  QEMU HARDDISK   \n");
	AddBlock("sdb", "", "8:16", "8192");
	Put("sys/devices/block/sdb/device/model", "Disk B\n");
	AddBlock("sdc", "", "8:32", "1024");
	AddBlock("dm-0", "", "253:0", "8192");
	AddBlock("dm-1", "", "253:1", "9216");
	// dm-1 lies on dm-0 and sdc, dm-0 on sdb: the physical members are sdb and sdc.
	Put("sys/block/dm-1/slaves/dm-0", "");
	Put("sys/block/dm-1/slaves/sdc", "");
	Put("sys/block/dm-0/slaves/sdb", "");
	// No /dev/root: the device number finds the device.
	AddBlock("sde", "", "8:64", "2048");
	Link("sys/dev/block/8:64", "../../devices/block/sde");
	Link("dev/mapper/vg-home", "../dm-1");
	Link("dev/disk/by-uuid/1111-AAAA", "../../sda1");
	Link("dev/disk/by-partuuid/0000-sda1", "../../sda1");
	Link("dev/disk/by-partuuid/pp-sdb", "../../sdb");
	Link("dev/disk/by-label/My\\x20Home", "../../dm-1");
	Put("run/udev/data/b8:1", "S:disk/by-uuid/1111-AAAA\nE:ID_BUS=ATA\n");
	Put("run/udev/data/b8:16", "E:ID_MODEL=Disk_B\nE:ID_BUS=usb\n");

	std::vector<plat::MountEntry> mounts;
	ASSERT_EQ(plat::ParseMountInfo(mountInfo, mounts), 0);
	const plat::VolumeSpaceReader reader = [](const std::string& mountPoint, plat::VolumeSpace& space)
	{
		if (mountPoint == "/")
			space = { 10u << 20, 4u << 20 };
		else if (mountPoint == "/mnt/share")
			space = { 2048, 1024 };
		return mountPoint == "/" || mountPoint == "/mnt/share";
	};
	std::vector<plat::DiskPartition> partitions;
	plat::ListDiskPartitions(fRoot, mounts, reader, 1000, partitions);

	// Names without a label come from a volume table of the same mounts.
	plat::SetMountInfoTextForTesting(mountInfo);
	XMacVolumes volumes;
	VJSONValue out(JSON_array);
	XMacSystem::AppendDiskPartitions(partitions, volumes, *out.GetArray());
	plat::SetMountInfoTextForTesting(std::nullopt);
	EXPECT_EQ(Text(out.GetArray()),
		"[{\"mountPoint\":\"/\",\"capacity\":10240,\"available\":4096,\"filesystem\":\"ext4\",\"name\":\"Root\","
		"\"disk\":{\"interface\":\"ata\",\"description\":\"QEMU HARDDISK\",\"size\":1048576,\"identifier\":\"1111-AAAA\"}},"
		"{\"mountPoint\":\"/mnt/share\",\"capacity\":2,\"available\":1,\"filesystem\":\"nfs4\",\"name\":\"share\","
		"\"disk\":{\"interface\":\"network\",\"description\":\"\",\"identifier\":\"\",\"size\":0}},"
		"{\"mountPoint\":\"/home\",\"capacity\":0,\"available\":0,\"filesystem\":\"ext4\",\"name\":\"My Home\","
		"\"disk\":[{\"size\":4096,\"description\":\"Disk B\",\"interface\":\"usb\",\"identifier\":\"pp-sdb\"},"
		"{\"size\":512,\"description\":\"\",\"interface\":\"\",\"identifier\":\"\"}]},"
		"{\"mountPoint\":\"/srv\",\"capacity\":0,\"available\":0,\"filesystem\":\"xfs\",\"name\":\"srv\","
		"\"disk\":{\"interface\":\"\",\"description\":\"\",\"size\":1024,\"identifier\":\"\"}}]");
}

TEST_F(VSystemInfoTest, RunningMachineGivesTheShapeWithoutLoopback)
{
	VJSONValue adapters(JSON_array);
	VSystem::GetNetworkAdaptersInformations(*adapters.GetArray());
	for (size_t i = 0; i < adapters.GetArray()->GetCount(); ++i)
	{
		const VJSONValue adapter = adapters.GetArray()->GetAt(i);
		EXPECT_TRUE(adapter.GetProperty("type").IsString());
		EXPECT_NE(to_string(adapter.GetProperty("name").GetString()), "lo");
		const VJSONValue ips = adapter.GetProperty("ipAddresses");
		ASSERT_TRUE(ips.IsArray());
		ASSERT_GT(ips.GetArray()->GetCount(), 0u);
		for (size_t j = 0; j < ips.GetArray()->GetCount(); ++j)
		{
			const std::string ip = to_string(ips.GetArray()->GetAt(j).GetProperty("ip").GetString());
			const std::string type = to_string(ips.GetArray()->GetAt(j).GetProperty("type").GetString());
			EXPECT_TRUE(type == "ipv4" || type == "ipv6") << type;
			EXPECT_TRUE(ip != "127.0.0.1" && ip != "::1") << ip;
		}
	}

	VJSONValue disks(JSON_array);
	VSystem::GetDiskPartitionsInfos(*disks.GetArray());
	for (size_t i = 0; i < disks.GetArray()->GetCount(); ++i)
	{
		const VJSONValue disk = disks.GetArray()->GetAt(i);
		EXPECT_TRUE(disk.GetProperty("mountPoint").IsString());
		EXPECT_TRUE(disk.GetProperty("capacity").IsNumber());
		EXPECT_GE(disk.GetProperty("capacity").GetNumber(), disk.GetProperty("available").GetNumber());
		EXPECT_TRUE(disk.GetProperty("filesystem").IsString());
		EXPECT_TRUE(disk.GetProperty("name").IsString());
		EXPECT_TRUE(disk.GetProperty("disk").IsObject() || disk.GetProperty("disk").IsArray());
	}

	// The samplers' first calls have nothing to compare with; the second ones answer.
	std::vector<double> rates = { 1.0 };
	EXPECT_FALSE(VSystem::GetInOutNetworkStats(rates));
	EXPECT_TRUE(rates.empty());
	double load = 0.5;
	EXPECT_FALSE(VSystem::GetProcessorsPercentageUse(load));
	EXPECT_EQ(load, 0.0);
	const double first = VSystem::GetApplicationProcessorsPercentageUse();
	EXPECT_TRUE(first >= 0.0 && first <= 1.0) << first;
	VSystem::Delay(30);
	ASSERT_TRUE(VSystem::GetInOutNetworkStats(rates));
	ASSERT_EQ(rates.size(), 2u);
	EXPECT_GE(rates[0], 0.0);
	EXPECT_GE(rates[1], 0.0);
	ASSERT_TRUE(VSystem::GetProcessorsPercentageUse(load));
	EXPECT_TRUE(load >= 0.0 && load <= 1.0) << load;
	EXPECT_TRUE(VSystem::AllowedToGetSystemInfo());
}

}  // namespace
}  // namespace velk
