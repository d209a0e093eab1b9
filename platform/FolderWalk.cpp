#include "platform/FolderWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x00001000U
#endif

namespace plat {

namespace {

constexpr size_t kListingBuffer = size_t(32) << 10;

#ifdef VELK_TEST_HOOKS
std::atomic<bool> sWithoutResolveFlags{false};

bool ResolveFlagsRefusedForTesting()
{
	return sWithoutResolveFlags.load(std::memory_order_relaxed);
}
#else
constexpr bool ResolveFlagsRefusedForTesting()
{
	return false;
}
#endif

// openat2 came with Linux 5.6; a container's filter may refuse it as unknown (ENOSYS or EPERM).
bool HasResolveFlags()
{
	static const bool sHas = [] {
		struct open_how how;
		std::memset(&how, 0, sizeof(how));
		how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
		how.resolve = RESOLVE_NO_SYMLINKS;
		const long descriptor = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof(how));
		if (descriptor < 0)
			return false;
		close(int(descriptor));
		return true;
	}();
	return sHas && !ResolveFlagsRefusedForTesting();
}

int OpenWithResolveFlags(int folder, const char* relative, int flags, mode_t mode, unsigned long long resolve, int& descriptor)
{
	struct open_how how;
	std::memset(&how, 0, sizeof(how));
	how.flags = (unsigned long long)(flags | O_NOFOLLOW | O_CLOEXEC);
	how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
	how.resolve = resolve | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
	for (int attempt = 0;; ++attempt)
	{
		const long opened = syscall(SYS_openat2, folder, relative, &how, sizeof(how));
		if (opened >= 0)
		{
			descriptor = int(opened);
			return 0;
		}
		// EAGAIN: the kernel could not rule out an escape while something was renamed; names have no "..".
		if (errno != EINTR && (errno != EAGAIN || attempt >= 8))
			return errno;
	}
}

// The mount of an open file: its mount id where the kernel gives one, else its device.
bool MountOf(int descriptor, uint64_t& mount, uint64_t& device)
{
	struct statx status;
	if (statx(descriptor, "", AT_EMPTY_PATH, STATX_MNT_ID, &status) != 0)
		return false;
	mount = (status.stx_mask & STATX_MNT_ID) != 0 ? status.stx_mnt_id : 0;
	device = (uint64_t(status.stx_dev_major) << 32) | status.stx_dev_minor;
	return true;
}

// A link met where a folder was asked for reads as ELOOP, as openat2 says it, whatever the flags made of it.
int LinkOrError(int folder, const char* name, int error)
{
	if (error != ENOTDIR)
		return error;
	struct stat status;
	if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
		return ELOOP;
	return error;
}

// One name at a time, each folder on the way opened without following a link.
int OpenBelowByNames(int folder, const char* relative, int flags, mode_t mode, int& descriptor)
{
	const char* name = relative;
	int current = folder;
	for (;;)
	{
		const char* slash = std::strchr(name, '/');
		if (slash == nullptr)
			break;
		const std::string step(name, size_t(slash - name));
		// Only searched on the way, as a path would be: no right to read it is needed.
		const int next = step.empty() || step == "." ? -1 : openat(current, step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		if (next < 0 && !step.empty() && step != ".")
		{
			const int error = LinkOrError(current, step.c_str(), errno);
			if (current != folder)
				close(current);
			return error;
		}
		if (next >= 0)
		{
			if (current != folder)
				close(current);
			current = next;
		}
		name = slash + 1;
	}
	const int opened = openat(current, name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
	const int error = opened < 0 ? errno : 0;
	if (current != folder)
		close(current);
	descriptor = opened;
	return error;
}

EntryKind KindOfType(unsigned char type)
{
	switch (type)
	{
	case DT_DIR: return EntryKind::kFolder;
	case DT_REG: return EntryKind::kFile;
	case DT_LNK: return EntryKind::kLink;
	case DT_FIFO:
	case DT_SOCK:
	case DT_CHR:
	case DT_BLK: return EntryKind::kSpecial;
	default: return EntryKind::kUnknown;
	}
}

bool ProcIsMounted()
{
	static const bool sMounted = access("/proc/self/fd", X_OK) == 0;
	return sMounted;
}

int64_t CountBelow(int folder)
{
	std::vector<FolderEntry> entries;
	if (ListFolder(folder, entries) != 0)
		return 0;
	int64_t count = 0;
	for (const FolderEntry& entry : entries)
	{
		++count;
		if (entry.kind != EntryKind::kFolder && entry.kind != EntryKind::kUnknown)
			continue;
		int child = -1;
		if (OpenSubFolder(folder, entry.name.c_str(), true, child) != 0)
			continue;
		count += CountBelow(child);
		close(child);
	}
	return count;
}

}  // namespace

int OpenSubFolder(int folder, const char* name, bool sameMount, int& descriptor)
{
	descriptor = -1;
	constexpr int kFlags = O_RDONLY | O_DIRECTORY;
	if (HasResolveFlags())
		return LinkOrError(folder, name, OpenWithResolveFlags(folder, name, kFlags, 0, sameMount ? RESOLVE_NO_XDEV : 0, descriptor));
	const int opened = openat(folder, name, kFlags | O_NOFOLLOW | O_CLOEXEC);
	if (opened < 0)
		return LinkOrError(folder, name, errno);
	uint64_t parentMount = 0;
	uint64_t parentDevice = 0;
	uint64_t mount = 0;
	uint64_t device = 0;
	if (sameMount && (!MountOf(folder, parentMount, parentDevice) || !MountOf(opened, mount, device) || mount != parentMount || device != parentDevice))
	{
		close(opened);
		return EXDEV;
	}
	descriptor = opened;
	return 0;
}

int OpenBelow(int folder, const char* relative, int flags, mode_t mode, int& descriptor)
{
	descriptor = -1;
	if (HasResolveFlags())
		return OpenWithResolveFlags(folder, relative, flags, mode, 0, descriptor);
	return OpenBelowByNames(folder, relative, flags, mode, descriptor);
}

int ListFolder(int folder, std::vector<FolderEntry>& entries)
{
	entries.clear();
	if (lseek(folder, 0, SEEK_SET) != 0)
		return errno;
	std::vector<char> buffer(kListingBuffer);
	for (;;)
	{
		const ssize_t count = getdents64(folder, buffer.data(), buffer.size());
		if (count < 0)
		{
			if (errno == EINTR)
				continue;
			const int error = errno;
			entries.clear();
			return error;
		}
		if (count == 0)
			return 0;
		for (ssize_t at = 0; at < count;)
		{
			const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
			at += entry->d_reclen;
			const char* name = entry->d_name;
			if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
				continue;
			entries.push_back(FolderEntry{ name, KindOfType(entry->d_type) });
		}
	}
}

std::string PathBelow(int folder, const std::string& relative, const std::string& fallback)
{
	if (folder == AT_FDCWD)
		return relative;
	if (!ProcIsMounted())
		return fallback;
	char prefix[32];
	std::snprintf(prefix, sizeof(prefix), "/proc/self/fd/%d", folder);
	return relative.empty() ? std::string(prefix) : std::string(prefix) + "/" + relative;
}

std::string PathOfDescriptor(int descriptor)
{
	char link[32];
	std::snprintf(link, sizeof(link), "/proc/self/fd/%d", descriptor);
	std::string path(PATH_MAX, '\0');
	const ssize_t size = readlink(link, path.data(), path.size());
	if (size <= 0 || size_t(size) >= path.size() || path[0] != '/')
		return std::string();
	path.resize(size_t(size));
	return path;
}

int64_t CountTreeEntries(const char* path)
{
	struct stat status;
	if (lstat(path, &status) != 0)
		return 0;
	if (!S_ISDIR(status.st_mode))
		return 1;
	const int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (folder < 0)
		return 1;
	const int64_t count = 1 + CountBelow(folder);
	close(folder);
	return count;
}

#ifdef VELK_TEST_HOOKS
void SetOpenWithoutResolveFlagsForTesting(bool without)
{
	sWithoutResolveFlags.store(without, std::memory_order_relaxed);
}
#endif

}  // namespace plat
