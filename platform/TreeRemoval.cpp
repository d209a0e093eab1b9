#include "platform/TreeRemoval.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/FileOperations.h"
#include "platform/FolderWalk.h"
#include "platform/MountTable.h"
#include "platform/PathAttributes.h"

namespace plat {

namespace {

// How often one name may turn into another kind of entry under the walk before the walk gives up on it.
constexpr int kKindChanges = 8;

std::string Join(const std::string& folder, const char* name)
{
	return folder == "/" ? folder + name : folder + "/" + name;
}

bool IsAtOrUnder(const std::string& path, const std::string& folder, bool below)
{
	if (path == folder)
		return !below;
	if (folder == "/")
		return path.size() > 1 && path[0] == '/';
	return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

class Removal
{
public:
	Removal(const RemovalOptions& options, RemovalFailure* failure)
		: fOptions(options)
		, fFailure(failure)
	{
	}

	int Fail(int error, const std::string& path, bool atFolder, bool atMount = false)
	{
		if (fFailure != nullptr)
		{
			fFailure->error = error;
			fFailure->path = path;
			fFailure->atFolder = atFolder;
			fFailure->atMount = atMount;
		}
		return error;
	}

	// Removes the entries of the folder open at folder, which path names.
	int RemoveContents(int folder, const std::string& path, bool recursive)
	{
		std::vector<FolderEntry> entries;
		if (int error = ListFolder(folder, entries))
			return Fail(error, path, true);
		for (const FolderEntry& entry : entries)
		{
			const char* name = entry.name.c_str();
			if (!recursive)
			{
				// Only what is no folder, asked of the entry as it is when removed.
				if (entry.kind == EntryKind::kFolder)
					continue;
				const int error = Unlink(folder, name);
				if (error != 0 && error != ENOENT && error != EISDIR)
					return Fail(error, Join(path, name), false);
				continue;
			}
			if (int error = RemoveEntry(folder, name, path, entry.kind == EntryKind::kFolder, false))
				return error;
		}
		return 0;
	}

	// Removes name in the folder open at folder (parentPath names that folder), taking it as a folder
	// first when asFolder. The top entry of a removal must exist and may stand on a mount of its own only
	// when none is inside it: the mounts are looked up before anything goes.
	int RemoveEntry(int folder, const char* name, const std::string& parentPath, bool asFolder, bool top)
	{
		for (int change = 0;; ++change)
		{
			const bool mayChange = change < kKindChanges;
			if (!asFolder)
			{
				const int error = Unlink(folder, name);
				if (error == 0 || (error == ENOENT && !top))
					return 0;
				if (error == EISDIR && mayChange)
				{
					asFolder = true;
					continue;
				}
				return Fail(error, Join(parentPath, name), false);
			}
			const std::string path = Join(parentPath, name);
			if (fOptions.forced)
				UnlockPathAt(folder, name, false);
			int child = -1;
			int error = OpenSubFolder(folder, name, !top, child);
			if (error == ENOENT && !top)
				return 0;
			if ((error == ELOOP || error == ENOTDIR) && mayChange)
			{
				// A link or a file by now: removed as such, never entered.
				asFolder = false;
				continue;
			}
			if (error == EXDEV)
				return Fail(EBUSY, path, true, true);
			if (error != 0)
				return Fail(error, path, true);
			if (top)
			{
				std::string mountPoint;
				if (FindMountInside(child, path, false, mountPoint) != 0)
				{
					close(child);
					return Fail(EBUSY, mountPoint, true, true);
				}
			}
			error = RemoveContents(child, path, true);
			close(child);
			if (error != 0)
				return error;
			if (!top && fOptions.betweenFolders)
				fOptions.betweenFolders();
			if (unlinkat(folder, name, AT_REMOVEDIR) == 0)
				return 0;
			error = errno;
			if (error == ENOENT && !top)
				return 0;
			// Swapped for another entry since it was opened, or given new entries meanwhile: taken again as
			// it is now.
			if ((error == ENOTDIR || error == ENOTEMPTY) && mayChange)
			{
				asFolder = error == ENOTEMPTY;
				continue;
			}
			return Fail(error, path, true);
		}
	}

	int RemoveContentsOf(int folder, const char* name, const std::string& path)
	{
		const int opened = openat(folder, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		if (opened < 0)
			return Fail(errno, path, true);
		std::string mountPoint;
		int error = 0;
		if (fOptions.recursive && FindMountInside(opened, path, true, mountPoint) != 0)
			error = Fail(EBUSY, mountPoint, true, true);
		else
			error = RemoveContents(opened, path, fOptions.recursive);
		close(opened);
		return error;
	}

private:
	int Unlink(int folder, const char* name)
	{
		if (unlinkat(folder, name, 0) == 0)
			return 0;
		const int error = errno;
		if (!fOptions.forced || error == ENOENT || error == EISDIR)
			return error;
		UnlockPathAt(folder, name, false);
		return unlinkat(folder, name, 0) == 0 ? 0 : errno;
	}

	const RemovalOptions& fOptions;
	RemovalFailure* fFailure;
};

}  // namespace

int FindMountInside(int folder, const std::string& path, bool below, std::string& mountPoint)
{
	mountPoint.clear();
	try
	{
		std::string top = PathOfDescriptor(folder);
		if (top.empty())
		{
			char resolved[PATH_MAX];
			if (realpath(path.c_str(), resolved) == nullptr)
				return 0;
			top = resolved;
		}
		std::vector<MountEntry> entries;
		if (ReadMountTable(entries) != 0)
			return 0;
		for (const MountEntry& entry : entries)
		{
			if (IsAtOrUnder(entry.mountPoint, top, below))
			{
				mountPoint = entry.mountPoint;
				return EBUSY;
			}
		}
		return 0;
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

int RemoveTreeAt(int folder, const char* name, const std::string& path, const RemovalOptions& options, RemovalFailure* failure)
{
	if (failure != nullptr)
		*failure = RemovalFailure();
	try
	{
		Removal removal(options, failure);
		if (options.contentsOnly)
			return removal.RemoveContentsOf(folder, name, path);
		struct stat status;
		if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
			return removal.Fail(errno, path, true);
		return removal.RemoveEntry(folder, name, ParentFolderOf(path), S_ISDIR(status.st_mode), true);
	}
	catch (const std::bad_alloc&)
	{
		if (failure != nullptr)
			failure->error = ENOMEM;
		return ENOMEM;
	}
}

int RemoveTree(const char* path, const RemovalOptions& options, RemovalFailure* failure)
{
	try
	{
		std::string text = path;
		while (text.size() > 1 && text.back() == '/')
			text.pop_back();
		if (options.contentsOnly)
			return RemoveTreeAt(AT_FDCWD, text.c_str(), text, options, failure);
		if (failure != nullptr)
			*failure = RemovalFailure();
		Removal removal(options, failure);
		const std::string name = text.substr(text.rfind('/') + 1);
		if (text == "/" || name.empty() || name == "." || name == "..")
			return removal.Fail(EINVAL, text, false);
		const int folder = open(ParentFolderOf(text).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
		if (folder < 0)
			return removal.Fail(errno, text, true);
		const int error = RemoveTreeAt(folder, name.c_str(), text, options, failure);
		close(folder);
		return error;
	}
	catch (const std::bad_alloc&)
	{
		if (failure != nullptr)
			failure->error = ENOMEM;
		return ENOMEM;
	}
}

}  // namespace plat
