#include "platform/MountTable.h"

#include <libmount/libmount.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/Clock.h"

namespace plat {

namespace {

constexpr char kMountInfoPath[] = "/proc/self/mountinfo";

#ifdef VELK_TEST_HOOKS
struct MountTableHooks
{
	std::mutex fMutex;
	std::optional<std::string> fText;
	std::optional<uint32_t> fClock;
};

MountTableHooks& GetHooks()
{
	static MountTableHooks hooks;
	return hooks;
}
#endif

const char* TextOrEmpty(const char* text)
{
	return text != nullptr ? text : "";
}

// libmount skips a line it cannot read unless told otherwise.
int StopAtMalformedLine(libmnt_table*, const char*, int)
{
	return -EINVAL;
}

int ParseStream(FILE* stream, const char* name, std::vector<MountEntry>& entries)
{
	entries.clear();
	libmnt_table* table = mnt_new_table();
	if (table == nullptr)
		return ENOMEM;
	mnt_table_set_parser_errcb(table, StopAtMalformedLine);
	int result = -mnt_table_parse_stream(table, stream, name);
	libmnt_iter* iterator = result == 0 ? mnt_new_iter(MNT_ITER_FORWARD) : nullptr;
	if (result == 0 && iterator == nullptr)
		result = ENOMEM;
	libmnt_fs* fs = nullptr;
	while (result == 0 && mnt_table_next_fs(table, iterator, &fs) == 0)
	{
		// A text libmount took for another table form (fstab lines) is not a mount table.
		if (!mnt_fs_is_kernel(fs))
		{
			result = EINVAL;
			break;
		}
		MountEntry entry;
		entry.mountId = mnt_fs_get_id(fs);
		entry.parentId = mnt_fs_get_parent_id(fs);
		entry.root = TextOrEmpty(mnt_fs_get_root(fs));
		entry.mountPoint = TextOrEmpty(mnt_fs_get_target(fs));
		entry.source = TextOrEmpty(mnt_fs_get_source(fs));
		entry.fileSystemType = TextOrEmpty(mnt_fs_get_fstype(fs));
		entry.options = TextOrEmpty(mnt_fs_get_options(fs));
		const dev_t device = mnt_fs_get_devno(fs);
		entry.deviceMajor = major(device);
		entry.deviceMinor = minor(device);
		entries.push_back(std::move(entry));
	}
	mnt_free_iter(iterator);
	mnt_unref_table(table);
	if (result != 0)
		entries.clear();
	return result;
}

int ParseFile(const char* path, std::vector<MountEntry>& entries)
{
	entries.clear();
	FILE* stream = std::fopen(path, "re");
	if (stream == nullptr)
		return errno;
	const int result = ParseStream(stream, path, entries);
	std::fclose(stream);
	return result;
}

bool HoldsPath(const std::string& mountPoint, const std::string& path)
{
	if (mountPoint == "/")
		return true;
	return path.compare(0, mountPoint.size(), mountPoint) == 0 && (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

int ParseMountInfo(const std::string& text, std::vector<MountEntry>& entries)
{
	entries.clear();
	if (text.empty())
		return 0;
	FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
	if (stream == nullptr)
		return errno;
	const int result = ParseStream(stream, "mountinfo", entries);
	std::fclose(stream);
	return result;
}

int ReadMountTable(std::vector<MountEntry>& entries)
{
#ifdef VELK_TEST_HOOKS
	{
		MountTableHooks& hooks = GetHooks();
		std::unique_lock<std::mutex> lock(hooks.fMutex);
		if (hooks.fText)
		{
			const std::string text = *hooks.fText;
			lock.unlock();
			return ParseMountInfo(text, entries);
		}
	}
	if (const char* file = std::getenv("VELK_MOUNTINFO_FILE"); file != nullptr && *file != 0)
		return ParseFile(file, entries);
#endif
	return ParseFile(kMountInfoPath, entries);
}

int FindMountOfPath(const char* path, MountEntry& entry)
{
	char resolved[PATH_MAX];
	if (realpath(path, resolved) == nullptr)
		return errno;
	std::vector<MountEntry> entries;
	if (int result = ReadMountTable(entries))
		return result;
	const std::string realPath = resolved;
	const MountEntry* found = nullptr;
	for (const MountEntry& candidate : entries)
	{
		if (HoldsPath(candidate.mountPoint, realPath) && (found == nullptr || candidate.mountPoint.size() >= found->mountPoint.size()))
			found = &candidate;
	}
	if (found == nullptr)
		return ENOENT;
	entry = *found;
	return 0;
}

uint32_t GetMountTableClock()
{
#ifdef VELK_TEST_HOOKS
	{
		MountTableHooks& hooks = GetHooks();
		std::lock_guard<std::mutex> lock(hooks.fMutex);
		if (hooks.fClock)
			return *hooks.fClock;
	}
	if (const char* clock = std::getenv("VELK_MOUNT_TABLE_CLOCK"); clock != nullptr && *clock != 0)
	{
		char* end = nullptr;
		const unsigned long long value = std::strtoull(clock, &end, 10);
		if (*end == 0)
			return uint32_t(value);
	}
#endif
	return uint32_t(GetMonotonicMilliseconds());
}

#ifdef VELK_TEST_HOOKS
void SetMountInfoTextForTesting(const std::optional<std::string>& text)
{
	MountTableHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	hooks.fText = text;
}

void SetMountTableClockForTesting(std::optional<uint32_t> milliseconds)
{
	MountTableHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	hooks.fClock = milliseconds;
}
#endif

}  // namespace plat
