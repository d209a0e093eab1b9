// The mount table of the process (/proc/self/mountinfo, read with libmount): every mounted file system with
// where it is mounted and what backs it, and the clock that dates reads of the table. Paths are UTF-8 bytes
// as the kernel gives them, its octal escapes (\040 for a space) undone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// One line of the table.
struct MountEntry
{
	int mountId = 0;
	int parentId = 0;
	std::string root;  // the folder of the file system seen at the mount point: "/" unless a bind mount shows a part
	std::string mountPoint;
	std::string source;  // the device or what stands for it ("proc", "tmpfs", a server path); may be empty
	std::string fileSystemType;
	std::string options;  // the mount's options followed by the file system's own, comma-separated
	uint32_t deviceMajor = 0;  // the device number of the file system (st_dev of its files)
	uint32_t deviceMinor = 0;
};

// Parses text in the form of mountinfo into entries, in the order of the lines. EINVAL, entries emptied,
// when a line is malformed: a table read in part would hide mounts without notice.
int ParseMountInfo(const std::string& text, std::vector<MountEntry>& entries);

// Reads the process's table; 0 or the errno of the failed read (EINVAL for a malformed line), entries
// emptied on failure.
int ReadMountTable(std::vector<MountEntry>& entries);

// The entry of the file system holding path, as statfs would name it: the mount whose mount point is the
// longest one at or above the real path (symbolic links resolved), the later line when a mount point was
// mounted over. The path must exist; 0, ENOENT when no mount holds it, or the errno of the failed call.
int FindMountOfPath(const char* path, MountEntry& entry);

// Milliseconds of the clock that dates reads of the table: the monotonic clock, wrapping at 2^32.
uint32_t GetMountTableClock();

#ifdef VELK_TEST_HOOKS
// Makes ReadMountTable parse text instead of the process's table; nullopt reads the process's table again.
// Without a text set here, the environment variable VELK_MOUNTINFO_FILE names a file read in its place.
// Process-wide.
void SetMountInfoTextForTesting(const std::optional<std::string>& text);

// Makes GetMountTableClock answer milliseconds; nullopt goes back to the monotonic clock. Without a value
// set here, the environment variable VELK_MOUNT_TABLE_CLOCK, a decimal number, gives the clock's reading.
// Process-wide.
void SetMountTableClockForTesting(std::optional<uint32_t> milliseconds);
#endif

}  // namespace plat
