#include "platform/PathAttributes.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace plat {

namespace {

std::string WithoutTrailingSlashes(const char* path)
{
	std::string text = path;
	while (text.size() > 1 && text.back() == '/')
		text.pop_back();
	return text;
}

// The folder and the last name of path; the name is empty for "/".
void SplitPath(const char* path, std::string& folder, std::string& name)
{
	const std::string text = WithoutTrailingSlashes(path);
	const size_t slash = text.rfind('/');
	folder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : text.substr(0, slash);
	name = slash == std::string::npos ? text : text.substr(slash + 1);
	if (text == "/")
		name.clear();
}

bool NameIsHidden(const char* path)
{
	std::string folder;
	std::string name;
	SplitPath(path, folder, name);
	return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// A descriptor to read and change the flags of a file or a folder (descriptor -1 for any other entry: an
// ioctl on a device would reach its driver, not the file system). -1 too when the entry may not be opened,
// since its flags are then out of reach.
int OpenForFlags(int folder, const char* name, bool follow, int& descriptor)
{
	descriptor = -1;
	struct stat status;
	if (fstatat(folder, name, &status, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
		return errno;
	if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
		return 0;
	const int opened = openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
	if (opened < 0)
		return errno == EACCES || errno == EPERM || errno == ELOOP ? 0 : errno;
	// The entry may have been replaced since the check.
	if (fstat(opened, &status) != 0 || (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)))
	{
		close(opened);
		return 0;
	}
	descriptor = opened;
	return 0;
}

// The flags; 0 on a file system that has none.
int ReadFlags(int descriptor, int& flags)
{
	flags = 0;
	if (ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0)
		return 0;
	flags = 0;
	return errno == ENOTTY || errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS ? 0 : errno;
}

int SetLock(int descriptor, bool locked)
{
	int flags = 0;
	if (int error = ReadFlags(descriptor, flags))
		return error;
	const int wanted = locked ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
	if (wanted == flags)
		return 0;
	return ioctl(descriptor, FS_IOC_SETFLAGS, &wanted) == 0 ? 0 : errno;
}

int IsLocked(int folder, const char* name, bool follow, bool& locked)
{
	locked = false;
	int descriptor = -1;
	if (int error = OpenForFlags(folder, name, follow, descriptor))
		return error;
	if (descriptor < 0)
		return 0;
	int flags = 0;
	const int error = ReadFlags(descriptor, flags);
	close(descriptor);
	locked = (flags & FS_IMMUTABLE_FL) != 0;
	return error;
}

int UnlockAt(int folder, const char* name, bool follow)
{
	struct stat status;
	if (fstatat(folder, name, &status, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
		return errno;
	if (S_ISLNK(status.st_mode))
		return 0;
	int descriptor = -1;
	if (int error = OpenForFlags(folder, name, follow, descriptor))
		return error;
	int error = 0;
	if (descriptor >= 0)
	{
		error = SetLock(descriptor, false);
		if (error == 0 && fstat(descriptor, &status) != 0)
			error = errno;
	}
	const uid_t user = geteuid();
	const mode_t wanted = S_ISDIR(status.st_mode) ? 0700 : 0600;
	if (error == 0 && (user == 0 || user == status.st_uid) && (status.st_mode & wanted) != wanted)
	{
		const mode_t mode = (status.st_mode & 07777) | wanted;
		// Through the descriptor when there is one; otherwise by name, never following a link.
		if (descriptor >= 0 ? fchmod(descriptor, mode) != 0 : fchmodat(folder, name, mode, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
			error = errno;
	}
	if (descriptor >= 0)
		close(descriptor);
	return error;
}

bool InUsersGroups(gid_t group)
{
	if (group == getegid())
		return true;
	long size = sysconf(_SC_GETPW_R_SIZE_MAX);
	std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
	struct passwd entry;
	struct passwd* account = nullptr;
	if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &account) != 0 || account == nullptr)
		return false;
	// Room for 100 groups first; a user in more is asked again with the count the call gave.
	std::vector<gid_t> groups(100);
	int count = int(groups.size());
	if (getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0)
	{
		if (count <= int(groups.size()))
			return false;
		groups.resize(size_t(count));
		if (getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0)
			return false;
	}
	for (int i = 0; i < count; ++i)
	{
		if (groups[size_t(i)] == group)
			return true;
	}
	return false;
}

PathTime FromTimestamp(const struct statx_timestamp& time)
{
	PathTime result;
	result.seconds = time.tv_sec;
	result.nanoseconds = int32_t(time.tv_nsec);
	return result;
}

int64_t Bytes(uint64_t blocks, uint64_t blockSize)
{
	if (blockSize != 0 && blocks > uint64_t(INT64_MAX) / blockSize)
		return INT64_MAX;
	return int64_t(blocks * blockSize);
}

int ForcedDeletion(const char* path, int* restoreError, RemovalFailure* failure)
{
	std::string parent;
	std::string name;
	SplitPath(path, parent, name);
	if (name.empty() || name == "." || name == "..")
		return EINVAL;
	const int folder = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (folder < 0)
		return errno;
	struct stat status;
	if (fstat(folder, &status) != 0)
	{
		const int error = errno;
		close(folder);
		return error;
	}

	// The parent must let its entry go for the time of the walk: unlocked, and open to its owner.
	int flags = 0;
	int error = ReadFlags(folder, flags);
	const bool wasLocked = (flags & FS_IMMUTABLE_FL) != 0;
	if (error == 0 && wasLocked)
		error = SetLock(folder, false);
	const uid_t user = geteuid();
	const bool widened = error == 0 && user != 0 && user == status.st_uid && (status.st_mode & 0700) != 0700;
	if (widened && fchmod(folder, (status.st_mode & 07777) | 0700) != 0)
		error = errno;
	if (error == 0)
	{
		RemovalOptions options;
		options.forced = true;
		error = RemoveTreeAt(folder, name.c_str(), WithoutTrailingSlashes(path), options, failure);
	}

	int restored = 0;
	if (widened && fchmod(folder, status.st_mode & 07777) != 0)
		restored = errno;
	if (wasLocked && restored == 0 && SetLock(folder, true) != 0)
		restored = errno;
	close(folder);
	if (restoreError != nullptr)
		*restoreError = restored;
	return error;
}

}  // namespace

int GetPathAttributes(const char* path, bool follow, unsigned& attrs)
{
	attrs = 0;
	try
	{
		bool locked = false;
		if (int error = IsLocked(AT_FDCWD, path, follow, locked))
			return error;
		attrs = (locked ? kPathLocked : 0) | (NameIsHidden(path) ? kPathHidden : 0);
		return 0;
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

int SetPathAttributes(const char* path, bool follow, unsigned attrs)
{
	int descriptor = -1;
	if (int error = OpenForFlags(AT_FDCWD, path, follow, descriptor))
		return error;
	if (descriptor < 0)
		return 0;
	const int error = SetLock(descriptor, (attrs & kPathLocked) != 0);
	close(descriptor);
	return error;
}

int GetEffectivePermission(const char* path, unsigned& perm)
{
	perm = 0;
	try
	{
		struct stat status;
		if (lstat(path, &status) != 0)
			return errno;
		const uid_t user = geteuid();
		if (user == 0)
		{
			perm = 7;
			return 0;
		}
		bool locked = false;
		if (int error = IsLocked(AT_FDCWD, path, false, locked))
			return error;
		if (locked)
			return 0;
		if (user == status.st_uid)
			perm = (status.st_mode >> 6) & 7;
		else if (InUsersGroups(status.st_gid))
			perm = (status.st_mode >> 3) & 7;
		else
			perm = status.st_mode & 7;
		return 0;
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

int UnlockPath(const char* path, bool follow)
{
	return UnlockAt(AT_FDCWD, path, follow);
}

int UnlockPathAt(int folder, const char* name, bool follow)
{
	return UnlockAt(folder, name, follow);
}

int GetTimeAttributes(const char* path, bool follow, PathTime* modified, PathTime* created, PathTime* accessed)
{
	struct statx status;
	if (statx(AT_FDCWD, path, follow ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &status) != 0)
		return errno;
	if (modified != nullptr)
		*modified = FromTimestamp(status.stx_mtime);
	if (created != nullptr)
		*created = FromTimestamp((status.stx_mask & STATX_BTIME) != 0 ? status.stx_btime : status.stx_mtime);
	if (accessed != nullptr)
		*accessed = FromTimestamp(status.stx_atime);
	return 0;
}

int SetTimeAttributes(const char* path, const PathTime* modified, const PathTime*, const PathTime* accessed)
{
	struct timespec times[2];
	times[0].tv_sec = accessed != nullptr ? time_t(accessed->seconds) : 0;
	times[0].tv_nsec = accessed != nullptr ? long(accessed->nanoseconds) : UTIME_OMIT;
	times[1].tv_sec = modified != nullptr ? time_t(modified->seconds) : 0;
	times[1].tv_nsec = modified != nullptr ? long(modified->nanoseconds) : UTIME_OMIT;
	return utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int GetVolumeFreeSpace(const char* path, int descriptor, bool withQuotas, int64_t* free, int64_t* total)
{
	struct statvfs volume;
	if (descriptor >= 0)
	{
		if (fstatvfs(descriptor, &volume) != 0)
			return errno;
	}
	else
	{
		try
		{
			int opened = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
			if (opened < 0)
			{
				std::string folder;
				std::string name;
				SplitPath(path, folder, name);
				opened = open(folder.c_str(), O_PATH | O_CLOEXEC);
			}
			if (opened < 0)
				return errno;
			const int result = fstatvfs(opened, &volume);
			const int error = errno;
			close(opened);
			if (result != 0)
				return error;
		}
		catch (const std::bad_alloc&)
		{
			return ENOMEM;
		}
	}
	if (free != nullptr)
		*free = Bytes(withQuotas ? volume.f_bavail : volume.f_bfree, volume.f_frsize);
	if (total != nullptr)
		*total = Bytes(volume.f_blocks, volume.f_frsize);
	return 0;
}

bool IsPackage(const char* path)
{
	try
	{
		struct stat status;
		if (stat(path, &status) != 0 || !S_ISDIR(status.st_mode))
			return false;
		const std::string name = WithoutTrailingSlashes(path);
		for (const char* extension : {".app", ".bundle", ".plugin"})
		{
			const std::string suffix = extension;
			if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
				name[name.size() - suffix.size() - 1] != '/')
				return true;
		}
		const std::string plist = name + "/Contents/Info.plist";
		return stat(plist.c_str(), &status) == 0 && S_ISREG(status.st_mode);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

int DeleteForced(const char* path, int* restoreError, RemovalFailure* failure)
{
	if (restoreError != nullptr)
		*restoreError = 0;
	if (failure != nullptr)
		*failure = RemovalFailure();
	try
	{
		return ForcedDeletion(path, restoreError, failure);
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

}  // namespace plat
