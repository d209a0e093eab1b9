#include "platform/UnixRights.h"

#include <linux/magic.h>
#include <sys/statfs.h>

#include <cerrno>
#include <string>

#include "platform/FileOperations.h"

namespace plat {

namespace {

// Kinds of file system that store no owner, and at most a read-only flag for a mode.
bool HasNoUnixOwnership(__fsword_t type)
{
	constexpr __fsword_t kNtfs3 = 0x7366746e;
	constexpr __fsword_t kNtfs = 0x5346544e;
	constexpr __fsword_t kHfs = 0x4244;
	constexpr __fsword_t kHfsPlus = 0x482b;
	switch (type)
	{
	case MSDOS_SUPER_MAGIC:
	case EXFAT_SUPER_MAGIC:
	case kNtfs3:
	case kNtfs:
	case kHfs:
	case kHfsPlus:
	case SMB_SUPER_MAGIC:
	case CIFS_SUPER_MAGIC:
	case SMB2_SUPER_MAGIC:
	// FUSE volumes decide for themselves: one with Unix ownership refuses no change to what the process made.
	case FUSE_SUPER_MAGIC:
		return true;
	default:
		return false;
	}
}

}  // namespace

bool FileSystemLacks(int error, int descriptor, const char* path)
{
	if (error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP)
		return true;
	if (error != EPERM)
		return false;
	struct statfs volume;
	int result = -1;
	if (descriptor >= 0)
		result = fstatfs(descriptor, &volume);
	else if (path != nullptr)
	{
		try
		{
			// The folder: statfs follows a final link, which may lead elsewhere.
			result = statfs(ParentFolderOf(path).c_str(), &volume);
		}
		catch (...)
		{
			return false;
		}
	}
	return result == 0 && HasNoUnixOwnership(volume.f_type);
}

int IgnoringWhatFileSystemLacks(int result, int descriptor, const char* path)
{
	if (result == 0)
		return 0;
	const int error = errno;
	return FileSystemLacks(error, descriptor, path) ? 0 : error;
}

}  // namespace plat
