#include "platform/Trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "platform/FileOperations.h"
#include "platform/MountTable.h"
#include "platform/ProcFiles.h"
#include "platform/TestFaults.h"
#include "platform/UserFolders.h"

namespace plat {

namespace {

// The entry to trash: its folder (real path) and its own name, which is not resolved.
struct Item
{
	std::string folder;
	std::string name;
	std::string path;
	dev_t device = 0;
};

std::string Join(const std::string& folder, const std::string& name)
{
	return (folder == "/" ? std::string() : folder) + "/" + name;
}

// The entry's folder resolved and its device; with mayBeMissing, an entry that is not there takes its
// folder's device.
int ResolveItem(const char* path, Item& item, bool mayBeMissing = false)
{
	std::string text = path;
	while (text.size() > 1 && text.back() == '/')
		text.pop_back();
	const size_t slash = text.rfind('/');
	const std::string folder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : text.substr(0, slash);
	item.name = slash == std::string::npos ? text : text.substr(slash + 1);
	if (item.name.empty() || item.name == "." || item.name == "..")
		return EINVAL;
	char resolved[PATH_MAX];
	if (realpath(folder.c_str(), resolved) == nullptr)
		return errno;
	item.folder = resolved;
	item.path = Join(item.folder, item.name);
	struct stat status;
	if (lstat(item.path.c_str(), &status) != 0)
	{
		if (!mayBeMissing || errno != ENOENT || stat(item.folder.c_str(), &status) != 0)
			return errno;
	}
	item.device = status.st_dev;
	return 0;
}

// Whether two existing folders are on one mount. The mount table tells bind mounts of one file system apart,
// which a rename cannot cross; without a table the devices decide.
bool OnSameMount(const std::string& first, dev_t firstDevice, const std::string& second, dev_t secondDevice)
{
	MountEntry firstMount;
	MountEntry secondMount;
	if (FindMountOfPath(first.c_str(), firstMount) == 0 && FindMountOfPath(second.c_str(), secondMount) == 0)
		return firstMount.mountId == secondMount.mountId && firstMount.mountPoint == secondMount.mountPoint;
	return firstDevice == secondDevice;
}

// The mount point holding folder: from the mount table, else the highest folder above it on its device.
std::string TopFolder(const std::string& folder, dev_t device)
{
	MountEntry mount;
	if (FindMountOfPath(folder.c_str(), mount) == 0)
		return mount.mountPoint;
	std::string top = folder;
	while (top != "/")
	{
		const size_t slash = top.rfind('/');
		const std::string parent = slash == 0 ? std::string("/") : top.substr(0, slash);
		struct stat status;
		if (stat(parent.c_str(), &status) != 0 || status.st_dev != device)
			break;
		top = parent;
	}
	return top;
}

// Makes path a folder with mode when missing. A trash on a shared volume must be a real folder of the
// user (ownLinkFree): a link or a stranger's folder there could send trashed files anywhere.
int UseFolder(const std::string& path, bool ownLinkFree)
{
	if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
		return errno;
	struct stat status;
	if ((ownLinkFree ? lstat(path.c_str(), &status) : stat(path.c_str(), &status)) != 0)
		return errno;
	if (!S_ISDIR(status.st_mode))
		return ENOTDIR;
	if (ownLinkFree && status.st_uid != geteuid())
		return EPERM;
	return 0;
}

int UseTrash(const std::string& trash, bool ownLinkFree)
{
	if (int error = UseFolder(trash, ownLinkFree))
		return error;
	if (int error = UseFolder(trash + "/files", ownLinkFree))
		return error;
	return UseFolder(trash + "/info", ownLinkFree);
}

// The trash of the volume whose mount point is top: the shared sticky .Trash's folder of the user when
// the administrator made one, else the user's own .Trash-$uid.
int UseVolumeTrash(const std::string& top, std::string& trash)
{
	const std::string uid = std::to_string(geteuid());
	const std::string shared = Join(top, ".Trash");
	struct stat status;
	if (lstat(shared.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0)
	{
		trash = shared + "/" + uid;
		if (UseTrash(trash, true) == 0)
			return 0;
	}
	trash = Join(top, ".Trash-" + uid);
	return UseTrash(trash, true);
}

// The home trash's path when the item is on its mount, else empty.
std::string HomeTrashFor(const Item& item)
{
	std::string dataHome;
	if (GetSystemFolder(5, false, dataHome) != 0)
		return std::string();
	const std::string homeTrash = dataHome + "/Trash";
	// The home trash may not exist yet: its nearest existing folder tells its mount.
	std::string existing = homeTrash;
	struct stat status;
	bool found = false;
	while (!(found = stat(existing.c_str(), &status) == 0) && existing != "/")
	{
		const size_t slash = existing.rfind('/');
		existing = slash == 0 ? std::string("/") : existing.substr(0, slash);
	}
	return found && OnSameMount(item.folder, item.device, existing, status.st_dev) ? homeTrash : std::string();
}

// The item's mount point, and its path relative to it as a volume trash records it.
std::string VolumeTopFor(const Item& item, std::string& recordedPath)
{
	const std::string top = TopFolder(item.folder, item.device);
	const std::string prefix = top == "/" ? top : top + "/";
	recordedPath = item.path.compare(0, prefix.size(), prefix) == 0 ? item.path.substr(prefix.size()) : item.path;
	return top;
}

// The home trash when the item is on its mount; else the item's volume trash, with the item's path
// relative to that volume's top folder.
int ChooseTrash(const Item& item, std::string& trash, std::string& recordedPath)
{
	// A file where the home trash should be makes it unusable (ENOTDIR), never a reason to trash the item
	// at its volume's top instead.
	const std::string homeTrash = HomeTrashFor(item);
	if (!homeTrash.empty())
	{
		std::string dataHome;
		if (int error = GetSystemFolder(5, true, dataHome))
			return error;
		trash = homeTrash;
		recordedPath = item.path;
		return UseTrash(trash, false);
	}
	return UseVolumeTrash(VolumeTopFor(item, recordedPath), trash);
}

// The path as the trash info records it: bytes other than unreserved URI characters and '/' as %XX.
std::string PercentEncoded(const std::string& path)
{
	static const char kHEX[] = "0123456789ABCDEF";
	std::string encoded;
	for (unsigned char c : path)
	{
		if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
			c == '~' || c == '/')
			encoded += char(c);
		else
		{
			encoded += '%';
			encoded += kHEX[c >> 4];
			encoded += kHEX[c & 15];
		}
	}
	return encoded;
}

std::string InfoText(const std::string& recordedPath)
{
	char date[32] = "";
	const time_t now = time(nullptr);
	struct tm local;
	if (localtime_r(&now, &local) != nullptr)
		strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
	return "[Trash Info]\nPath=" + PercentEncoded(recordedPath) + "\nDeletionDate=" + date + "\n";
}

// The name in the trash for attempt n (1, 2...): "a.txt", "a.2.txt"... cut so that the name with
// ".trashinfo" still fits a file name, never inside a UTF-8 sequence.
std::string TrashName(const std::string& name, unsigned attempt)
{
	constexpr size_t kLIMIT = NAME_MAX - sizeof(".trashinfo") + 1;
	const size_t dot = name.rfind('.');
	std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
	std::string extension = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
	std::string number;
	if (attempt > 1)
	{
		number = ".";
		number += std::to_string(attempt);
	}
	if (stem.size() + number.size() + extension.size() <= kLIMIT)
		return stem + number + extension;
	if (number.size() + extension.size() + 1 > kLIMIT)
	{
		stem = name;
		extension.clear();
	}
	size_t keep = kLIMIT - number.size() - extension.size();
	while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
		--keep;
	return stem.substr(0, keep) + number + extension;
}

int WriteInfo(int descriptor, const std::string& text)
{
	size_t done = 0;
	while (done < text.size())
	{
		const ssize_t written = write(descriptor, text.data() + done, text.size() - done);
		if (written < 0)
		{
			if (errno == EINTR)
				continue;
			return errno;
		}
		done += size_t(written);
	}
	return fsync(descriptor) == 0 ? 0 : errno;
}

int Trash(const char* path)
{
	Item item;
	if (int error = ResolveItem(path, item))
		return error;
	std::string trash;
	std::string recordedPath;
	if (int error = ChooseTrash(item, trash, recordedPath))
		return error;
	const std::string text = InfoText(recordedPath);
	for (unsigned attempt = 1; attempt <= 10000; ++attempt)
	{
		const std::string name = TrashName(item.name, attempt);
		const std::string infoPath = trash + "/info/" + name + ".trashinfo";
		// The info file is the reservation of the name: whoever makes it first owns it.
		const int descriptor = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
		if (descriptor < 0)
		{
			if (errno == EEXIST)
				continue;
			return errno;
		}
		int error = WriteInfo(descriptor, text);
		if (close(descriptor) != 0 && error == 0 && errno != EINTR)
			error = errno;
		if (error == 0)
		{
			StopIfArmed("trash", item.path);
			const std::string target = trash + "/files/" + name;
			if (renameat2(AT_FDCWD, item.path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
			{
				RecordCall("trash", item.path, target);
				return 0;
			}
			error = errno;
		}
		unlink(infoPath.c_str());
		// A file left in files/ without its info holds the name: take the next one.
		if (error != EEXIST)
			return error;
	}
	return EEXIST;
}

// Removes from one trash the records of recordedPath whose item is missing.
int RemoveOrphansIn(const std::string& trash, const std::string& recordedPath)
{
	const std::string info = trash + "/info";
	DIR* folder = opendir(info.c_str());
	if (folder == nullptr)
		return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
	const std::string wanted = PercentEncoded(recordedPath);
	constexpr char kSuffix[] = ".trashinfo";
	constexpr size_t kSuffixLength = sizeof(kSuffix) - 1;
	std::vector<std::string> orphans;
	while (const dirent* entry = readdir(folder))
	{
		const std::string name = entry->d_name;
		if (name.size() <= kSuffixLength || name.compare(name.size() - kSuffixLength, kSuffixLength, kSuffix) != 0)
			continue;
		const std::string item = trash + "/files/" + name.substr(0, name.size() - kSuffixLength);
		struct stat status;
		if (lstat(item.c_str(), &status) == 0 || errno != ENOENT)
			continue;
		// A record is a small regular file of its own, never a link.
		std::string recorded;
		if (entry->d_type != DT_LNK && FindLineValue(ReadTextFile(info + "/" + name, 65536), "Path=", recorded)
			&& recorded == wanted)
			orphans.push_back(info + "/" + name);
	}
	closedir(folder);
	int result = 0;
	for (const std::string& orphan : orphans)
	{
		if (unlink(orphan.c_str()) == 0)
			RecordCall("unlink", orphan);
		else if (errno != ENOENT && result == 0)
			result = errno;
	}
	return result;
}

// The trashes that the entry at path would go to, none of them made: the home trash when the entry is on
// its mount, else both trashes of its volume; recordedPath as those trashes record the entry.
std::vector<std::string> TrashesFor(const Item& item, std::string& recordedPath)
{
	const std::string homeTrash = HomeTrashFor(item);
	if (!homeTrash.empty())
	{
		recordedPath = item.path;
		return {homeTrash};
	}
	const std::string top = VolumeTopFor(item, recordedPath);
	const std::string uid = std::to_string(geteuid());
	return {Join(top, ".Trash") + "/" + uid, Join(top, ".Trash-" + uid)};
}

// Calls act on each trash an item at path may have gone to, with the path its records name; answers the
// first error (nothing at path is none).
template <class Act>
int ForEachTrashOf(const char* path, Act act)
{
	Item item;
	if (int error = ResolveItem(path, item, true))
		return error == ENOENT || error == ENOTDIR ? 0 : error;
	std::string recordedPath;
	int result = 0;
	for (const std::string& trash : TrashesFor(item, recordedPath))
	{
		const int error = act(trash, recordedPath);
		if (result == 0)
			result = error;
	}
	return result;
}

int RemoveOrphans(const char* path)
{
	return ForEachTrashOf(path, [](const std::string& trash, const std::string& recordedPath) {
		return RemoveOrphansIn(trash, recordedPath);
	});
}

int SyncTrashes(const char* path)
{
	return ForEachTrashOf(path, [](const std::string& trash, const std::string&) {
		int result = 0;
		for (const char* part : {"/files", "/info"})
		{
			const std::string folder = trash + part;
			struct stat status;
			if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
				continue;
			const int error = SyncFolder(folder.c_str());
			if (result == 0)
				result = error;
		}
		return result;
	});
}

}  // namespace

int RemoveOrphanTrashRecords(const char* path)
{
	try
	{
		return RemoveOrphans(path);
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

int SyncTrashFor(const char* path)
{
	try
	{
		return SyncTrashes(path);
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

int MoveToTrash(const char* path)
{
	try
	{
		return Trash(path);
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

}  // namespace plat
