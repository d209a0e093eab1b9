// The mounted file systems with the disks behind them, for the system information: each mount of the mount
// table that a block device or a network share backs, with its space (statvfs, never waited for longer than
// a second), its label, and the description, bus, identifier and size of its disk, or of the physical members
// of a device-mapper or software RAID volume. Disk facts come from root's /sys, /dev/disk and /run/udev.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/MountTable.h"

namespace plat {

struct DiskDevice
{
	std::string description;  // the model of the device, or of the disk a partition lies on, trimmed
	std::string interfaceName;	// the udev ID_BUS in lower case ("ata", "usb", "scsi"); empty when unknown
	std::string identifier;	  // the file-system UUID (/dev/disk/by-uuid), else the partition UUID; may be empty
	uint64_t sizeKilobytes = 0;
};

enum class DiskKind
{
	kPlain,	   // one block device, in devices
	kLogical,  // a volume over other block devices: its physical members in devices
	kNetwork   // a network share: no devices
};

struct DiskPartition
{
	std::string mountPoint;
	std::string fileSystemType;
	std::string label;	// the volume label (/dev/disk/by-label, udev escapes undone); empty when none
	uint64_t capacityKilobytes = 0;	 // 0 when the space was not known in time
	uint64_t availableKilobytes = 0;  // what an unprivileged user may still use
	DiskKind kind = DiskKind::kPlain;
	std::vector<DiskDevice> devices;
};

struct VolumeSpace
{
	uint64_t totalBytes = 0;
	uint64_t availableBytes = 0;
};

// Reads the space of the file system mounted at mountPoint (as the mount table names it); false when it
// cannot. May block (an unreachable server): callers run it on a helper thread they need not wait for.
using VolumeSpaceReader = std::function<bool(const std::string& mountPoint, VolumeSpace& space)>;

// statvfs: the blocks times the fragment size, and the blocks available to unprivileged users.
bool ReadVolumeSpace(const std::string& mountPoint, VolumeSpace& space);

// Appends one partition per mount of mounts, in their order, that a block device known to root's
// /sys/class/block backs, or whose type is nfs, nfs4, cifs, smb3 or fuse.sshfs; others (proc, tmpfs, a
// missing device) are skipped. The space of all of them is read at once, each on its own helper thread,
// and waited for until timeoutMs after the call began; a space not known by then, or not readable, counts 0,
// and its thread finishes later on its own. A device with members in /sys/block/<device>/slaves is logical;
// its members are followed down to the devices without members, each listed once.
void ListDiskPartitions(const std::string& root, const std::vector<MountEntry>& mounts, const VolumeSpaceReader& reader,
	int timeoutMs, std::vector<DiskPartition>& partitions);

}  // namespace plat
