#include "platform/DiskInfo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

const std::set<std::string> kNetworkFileSystems = { "nfs", "nfs4", "cifs", "smb3", "fuse.sshfs" };

// Links are followed no further than this, and members of volumes no deeper: a loop must end.
constexpr int kMaxLinks = 16;
constexpr int kMaxMemberDepth = 8;

bool Exists(const std::string& path)
{
	struct stat info;
	return ::lstat(path.c_str(), &info) == 0;
}

std::string ReadLink(const std::string& path)
{
	char target[4096];
	const ssize_t length = ::readlink(path.c_str(), target, sizeof(target));
	return length > 0 && size_t(length) < sizeof(target) ? std::string(target, size_t(length)) : std::string();
}

std::string BaseName(const std::string& path)
{
	const size_t slash = path.find_last_of('/');
	return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entries of a folder, sorted so that the first of several names for one device is always the same.
std::vector<std::string> ListFolder(const std::string& path)
{
	std::vector<std::string> names;
	if (DIR* folder = ::opendir(path.c_str()))
	{
		while (const dirent* entry = ::readdir(folder))
		{
			if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
				names.push_back(entry->d_name);
		}
		::closedir(folder);
	}
	std::sort(names.begin(), names.end());
	return names;
}

bool IsBlockDevice(const std::string& root, const std::string& name)
{
	return !name.empty() && Exists(JoinRoot(root, "/sys/class/block/") + name);
}

// The kernel name of the block device that source names under root ("/dev/mapper/vg-home" is "dm-1"), its
// links followed inside root; empty when source is not a path or names no block device.
std::string BlockDeviceNameOfSource(const std::string& root, const std::string& source)
{
	if (source.empty() || source[0] != '/')
		return std::string();
	std::filesystem::path path = JoinRoot(root, source.c_str());
	for (int links = 0; links < kMaxLinks; ++links)
	{
		const std::string target = ReadLink(path.string());
		if (target.empty())
			break;
		path = target[0] == '/' ? std::filesystem::path(JoinRoot(root, target.c_str())) : (path.parent_path() / target).lexically_normal();
	}
	const std::string name = BaseName(path.string());
	return IsBlockDevice(root, name) ? name : std::string();
}

// The block device behind a mount: the one its source names, else the one of its device number (a source
// such as "/dev/root" names no device node; btrfs and others have device numbers of no block device).
std::string BlockDeviceName(const std::string& root, const MountEntry& mount)
{
	const std::string name = BlockDeviceNameOfSource(root, mount.source);
	if (!name.empty() || mount.deviceMajor == 0)
		return name;
	const std::string number = std::to_string(mount.deviceMajor) + ":" + std::to_string(mount.deviceMinor);
	const std::string byNumber = BaseName(ReadLink(JoinRoot(root, "/sys/dev/block/") + number));
	return IsBlockDevice(root, byNumber) ? byNumber : std::string();
}

// udev escapes in link names: "\x20" is a space.
std::string DecodeUdevName(const std::string& name)
{
	std::string decoded;
	for (size_t i = 0; i < name.size(); ++i)
	{
		if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit((unsigned char)name[i + 2])
			&& std::isxdigit((unsigned char)name[i + 3]))
		{
			decoded += char(std::stoi(name.substr(i + 2, 2), nullptr, 16));
			i += 3;
		}
		else
			decoded += name[i];
	}
	return decoded;
}

// The first name of each device in a /dev/disk folder, by the kernel name the link points to.
std::map<std::string, std::string> ReadDiskLinks(const std::string& root, const char* folder)
{
	std::map<std::string, std::string> namesByDevice;
	const std::string path = JoinRoot(root, folder);
	for (const std::string& name : ListFolder(path))
	{
		const std::string target = ReadLink(path + "/" + name);
		if (!target.empty())
			namesByDevice.emplace(BaseName(target), DecodeUdevName(name));
	}
	return namesByDevice;
}

std::string Find(const std::map<std::string, std::string>& map, const std::string& key)
{
	const auto found = map.find(key);
	return found != map.end() ? found->second : std::string();
}

std::string ReadUdevBus(const std::string& root, const std::string& device)
{
	const std::string number = TrimBlanks(ReadTextFile(JoinRoot(root, "/sys/class/block/") + device + "/dev", 64));
	if (number.empty())
		return std::string();
	const std::string text = ReadTextFile(JoinRoot(root, "/run/udev/data/b") + number, 65536);
	std::string bus;
	if (FindLineValue(text, "E:ID_BUS=", bus))
	{
		std::transform(bus.begin(), bus.end(), bus.begin(), [](unsigned char c) { return char(std::tolower(c)); });
		return bus;
	}
	return std::string();
}

struct DiskLinks
{
	std::map<std::string, std::string> fUUIDs;
	std::map<std::string, std::string> fPartUUIDs;
	std::map<std::string, std::string> fLabels;
};

DiskDevice DescribeDevice(const std::string& root, const std::string& device, const DiskLinks& links)
{
	const std::string folder = JoinRoot(root, "/sys/class/block/") + device;
	DiskDevice description;
	description.description = TrimBlanks(ReadTextFile(folder + "/device/model", 4096));
	// A partition has no device of its own: the model is its disk's, the folder above it.
	if (description.description.empty() && Exists(folder + "/partition"))
		description.description = TrimBlanks(ReadTextFile(folder + "/../device/model", 4096));
	description.interfaceName = ReadUdevBus(root, device);
	description.identifier = Find(links.fUUIDs, device);
	if (description.identifier.empty())
		description.identifier = Find(links.fPartUUIDs, device);
	char* end = nullptr;
	const std::string sectors = TrimBlanks(ReadTextFile(folder + "/size", 64));
	const unsigned long long count = std::strtoull(sectors.c_str(), &end, 10);
	description.sizeKilobytes = end != sectors.c_str() ? uint64_t(count) * 512 / 1024 : 0;
	return description;
}

void CollectMembers(const std::string& root, const std::string& device, int depth, std::set<std::string>& seen, std::vector<std::string>& members)
{
	const std::vector<std::string> slaves = ListFolder(JoinRoot(root, "/sys/block/") + device + "/slaves");
	if (slaves.empty() || depth >= kMaxMemberDepth)
	{
		if (seen.insert(device).second)
			members.push_back(device);
		return;
	}
	for (const std::string& slave : slaves)
		CollectMembers(root, slave, depth + 1, seen, members);
}

// What the helper threads hand back; shared with them, as a thread may outlive the call that started it.
struct SpaceResults
{
	std::mutex fMutex;
	std::condition_variable fDone;
	std::vector<VolumeSpace> fSpaces;
	std::vector<bool> fKnown;
	size_t fPending = 0;
};

void ReadSpaces(const std::vector<std::string>& mountPoints, const VolumeSpaceReader& reader, int timeoutMs, std::vector<VolumeSpace>& spaces)
{
	spaces.assign(mountPoints.size(), VolumeSpace());
	if (!reader || mountPoints.empty())
		return;
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
	auto results = std::make_shared<SpaceResults>();
	results->fSpaces.assign(mountPoints.size(), VolumeSpace());
	results->fKnown.assign(mountPoints.size(), false);
	for (size_t i = 0; i < mountPoints.size(); ++i)
	{
		{
			std::lock_guard<std::mutex> lock(results->fMutex);
			++results->fPending;
		}
		try
		{
			std::thread([results, reader, mountPoint = mountPoints[i], i]
			{
				VolumeSpace space;
				const bool known = reader(mountPoint, space);
				std::lock_guard<std::mutex> lock(results->fMutex);
				if (known)
				{
					results->fSpaces[i] = space;
					results->fKnown[i] = true;
				}
				--results->fPending;
				results->fDone.notify_all();
			}).detach();
		}
		catch (const std::system_error&)
		{
			// No thread to spare: that space stays unknown rather than risk blocking the caller.
			std::lock_guard<std::mutex> lock(results->fMutex);
			--results->fPending;
		}
	}
	std::unique_lock<std::mutex> lock(results->fMutex);
	results->fDone.wait_until(lock, deadline, [&results] { return results->fPending == 0; });
	for (size_t i = 0; i < mountPoints.size(); ++i)
	{
		if (results->fKnown[i])
			spaces[i] = results->fSpaces[i];
	}
}

}  // namespace

bool ReadVolumeSpace(const std::string& mountPoint, VolumeSpace& space)
{
	struct statvfs info;
	if (::statvfs(mountPoint.c_str(), &info) != 0)
		return false;
	space.totalBytes = uint64_t(info.f_blocks) * info.f_frsize;
	space.availableBytes = uint64_t(info.f_bavail) * info.f_frsize;
	return true;
}

void ListDiskPartitions(const std::string& root, const std::vector<MountEntry>& mounts, const VolumeSpaceReader& reader,
	int timeoutMs, std::vector<DiskPartition>& partitions)
{
	DiskLinks links;
	links.fUUIDs = ReadDiskLinks(root, "/dev/disk/by-uuid");
	links.fPartUUIDs = ReadDiskLinks(root, "/dev/disk/by-partuuid");
	links.fLabels = ReadDiskLinks(root, "/dev/disk/by-label");

	std::vector<DiskPartition> found;
	std::vector<std::string> mountPoints;
	for (const MountEntry& mount : mounts)
	{
		DiskPartition partition;
		partition.mountPoint = mount.mountPoint;
		partition.fileSystemType = mount.fileSystemType;
		if (kNetworkFileSystems.count(mount.fileSystemType) != 0)
			partition.kind = DiskKind::kNetwork;
		else
		{
			const std::string device = BlockDeviceName(root, mount);
			if (device.empty())
				continue;
			partition.label = Find(links.fLabels, device);
			std::set<std::string> seen;
			std::vector<std::string> members;
			CollectMembers(root, device, 0, seen, members);
			partition.kind = members.size() == 1 && members[0] == device ? DiskKind::kPlain : DiskKind::kLogical;
			for (const std::string& member : members)
				partition.devices.push_back(DescribeDevice(root, member, links));
		}
		mountPoints.push_back(partition.mountPoint);
		found.push_back(std::move(partition));
	}

	std::vector<VolumeSpace> spaces;
	ReadSpaces(mountPoints, reader, timeoutMs, spaces);
	for (size_t i = 0; i < found.size(); ++i)
	{
		found[i].capacityKilobytes = spaces[i].totalBytes / 1024;
		found[i].availableKilobytes = spaces[i].availableBytes / 1024;
		partitions.push_back(std::move(found[i]));
	}
}

}  // namespace plat
