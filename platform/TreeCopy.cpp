#include "platform/TreeCopy.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <new>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ExtendedAttributes.h"
#include "platform/FileOperations.h"
#include "platform/Rename.h"
#include "platform/TestFaults.h"
#include "platform/UnixRights.h"

namespace plat {

namespace {

#ifdef VELK_TEST_HOOKS
struct CopyHooks
{
	std::mutex fMutex;
	std::string fPath;
	int fError = 0;
};

CopyHooks& GetHooks()
{
	static CopyHooks hooks;
	return hooks;
}

int ParseErrorNumber(const std::string& text)
{
	if (text == "EIO")
		return EIO;
	if (text == "ENOSPC")
		return ENOSPC;
	return std::atoi(text.c_str());
}

int InjectedCopyFault(const std::string& source)
{
	StopIfArmed("copy", source);
	if (int error = EnvironmentCopyFault(source))
		return error;
	CopyHooks& hooks = GetHooks();
	{
		std::lock_guard<std::mutex> lock(hooks.fMutex);
		if (!hooks.fPath.empty())
			return source == hooks.fPath ? hooks.fError : 0;
	}
	const char* armed = std::getenv("VELK_COPY_FAULT");
	const char* colon = armed != nullptr ? std::strchr(armed, ':') : nullptr;
	if (colon == nullptr || source != colon + 1)
		return 0;
	return ParseErrorNumber(std::string(armed, colon));
}

// A full disk refuses the contents, after the file itself was made.
int InjectedWriteFault()
{
	return EnvironmentWriteFault();
}
#else
constexpr int InjectedCopyFault(const std::string&)
{
	return 0;
}

constexpr int InjectedWriteFault()
{
	return 0;
}
#endif

constexpr unsigned kMaxWorkers = 4;
constexpr size_t kReadWriteBuffer = size_t(1) << 20;
constexpr size_t kRangeCopyChunk = size_t(1) << 30;

// Where a copy failed: the first failure wins, whichever thread meets it.
class Failure
{
public:
	// Answers false, so that a walk can record its failure and stop in one step.
	bool Set(int error, const std::string& path)
	{
		std::lock_guard<std::mutex> lock(fMutex);
		if (fError == 0)
		{
			fError = error;
			fPath = path;
		}
		fFailed.store(true, std::memory_order_relaxed);
		return false;
	}

	bool HasFailed() const
	{
		return fFailed.load(std::memory_order_relaxed);
	}

	int Report(std::string* failedPath)
	{
		if (failedPath != nullptr)
			*failedPath = fError != 0 ? fPath : std::string();
		return fError;
	}

private:
	std::mutex fMutex;
	std::atomic<bool> fFailed{false};
	int fError = 0;
	std::string fPath;
};

// What the file systems of one copy turned out to refuse, so later files skip it.
struct CopyMethods
{
	std::atomic<bool> fNoClone{false};
	std::atomic<bool> fNoRangeCopy{false};
};

// Buffers a copying thread reuses from file to file.
struct Scratch
{
	std::vector<char> fNames;
	std::vector<char> fValue;
	std::vector<char> fBytes;
};

int RetryingClose(int descriptor)
{
	// Linux releases the descriptor even when close is interrupted: it is not closed twice.
	return close(descriptor) == 0 || errno == EINTR ? 0 : errno;
}

bool IsRefusal(int error)
{
	return error == EOPNOTSUPP || error == ENOTSUP || error == EXDEV || error == EINVAL || error == ENOSYS || error == ENOTTY;
}

int WriteAll(int out, const char* bytes, size_t size)
{
	while (size > 0)
	{
		const ssize_t written = write(out, bytes, size);
		if (written < 0)
		{
			if (errno == EINTR)
				continue;
			return errno;
		}
		bytes += written;
		size -= size_t(written);
	}
	return 0;
}

// Cloning shares the blocks on file systems that can; copy_file_range copies inside the kernel; read and
// write is what always works. A method is given up for the whole copy only when a file system refuses it.
int CopyContent(int in, int out, CopyMethods& methods, Scratch& scratch)
{
	if (int error = InjectedWriteFault())
		return error;
	if (!methods.fNoClone.load(std::memory_order_relaxed))
	{
		if (ioctl(out, FICLONE, in) == 0)
			return 0;
		if (IsRefusal(errno))
			methods.fNoClone.store(true, std::memory_order_relaxed);
	}
	if (!methods.fNoRangeCopy.load(std::memory_order_relaxed))
	{
		bool copiedAny = false;
		for (;;)
		{
			const ssize_t count = copy_file_range(in, nullptr, out, nullptr, kRangeCopyChunk, 0);
			if (count > 0)
			{
				copiedAny = true;
				continue;
			}
			if (count == 0)
				return 0;
			if (errno == EINTR)
				continue;
			if (copiedAny || !IsRefusal(errno))
				return errno;
			methods.fNoRangeCopy.store(true, std::memory_order_relaxed);
			break;
		}
	}
	scratch.fBytes.resize(kReadWriteBuffer);
	for (;;)
	{
		const ssize_t count = read(in, scratch.fBytes.data(), scratch.fBytes.size());
		if (count < 0)
		{
			if (errno == EINTR)
				continue;
			return errno;
		}
		if (count == 0)
			return 0;
		if (int error = WriteAll(out, scratch.fBytes.data(), size_t(count)))
			return error;
	}
}

int CopyOwner(int toFd, const char* to, const struct stat& status)
{
	if (geteuid() != 0)
		return 0;
	// A volume without owners keeps its own.
	const int result = toFd >= 0 ? fchown(toFd, status.st_uid, status.st_gid) : lchown(to, status.st_uid, status.st_gid);
	return IgnoringWhatFileSystemLacks(result, toFd, to);
}

int CopyTimes(int toFd, const char* to, const struct stat& status)
{
	const struct timespec times[2] = { status.st_atim, status.st_mtim };
	const int result = toFd >= 0 ? futimens(toFd, times) : utimensat(AT_FDCWD, to, times, AT_SYMLINK_NOFOLLOW);
	return result == 0 ? 0 : errno;
}

// The owner first, since chown clears the set-id bits and drops a file capability (security.capability);
// then the attributes, before the mode, which could forbid writing them; the times last, after everything
// that could touch them.
int CopyMetadata(int fromFd, const char* from, int toFd, const char* to, const struct stat& status, Scratch& scratch)
{
	const bool isLink = S_ISLNK(status.st_mode);
	int error = CopyOwner(toFd, to, status);
	// A user attribute that cannot be kept fails the copy rather than losing it quietly.
	if (error == 0)
		error = CopyExtendedAttributes(fromFd, from, toFd, to, isLink, true, scratch.fNames, scratch.fValue);
	if (error == 0 && !isLink)
	{
		const int result = toFd >= 0 ? fchmod(toFd, status.st_mode & 07777) : chmod(to, status.st_mode & 07777);
		error = IgnoringWhatFileSystemLacks(result, toFd, to);
	}
	if (error == 0)
		error = CopyTimes(toFd, to, status);
	return error;
}

// Copies the regular file at from into out, a new file at to. The source is opened without following a link
// and without blocking, and must still be a regular file: a FIFO put in its place would otherwise hang the
// copy.
int CopyRegularFileInto(const std::string& from, int out, const std::string& to, CopyMethods& methods, Scratch& scratch)
{
	const int in = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (in < 0)
		return errno;
	struct stat status;
	int error = fstat(in, &status) == 0 ? 0 : errno;
	if (error == 0 && !S_ISREG(status.st_mode))
		error = ENOTSUP;
	if (error == 0)
		error = CopyContent(in, out, methods, scratch);
	if (error == 0)
		error = InjectedCopyFault(from);
	if (error == 0)
		error = CopyMetadata(in, from.c_str(), out, to.c_str(), status, scratch);
	RetryingClose(in);
	return error;
}

int CreateFile(const std::string& path, int* descriptor)
{
	*descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
	return *descriptor >= 0 ? 0 : errno;
}

// The file's close is checked: a write the disk refused late shows there.
int CopyRegularFile(const std::string& from, const std::string& to, CopyMethods& methods, Scratch& scratch)
{
	int out = -1;
	if (int error = CreateFile(to, &out))
		return error;
	const int error = CopyRegularFileInto(from, out, to, methods, scratch);
	const int closeError = RetryingClose(out);
	return error != 0 ? error : closeError;
}

int ReadLinkText(const std::string& path, const struct stat& status, std::string& text)
{
	// The size lstat gives may be short when the link is rewritten meanwhile: grow until the text fits.
	size_t size = size_t(status.st_size) + 1;
	for (;;)
	{
		text.resize(size);
		const ssize_t length = readlink(path.c_str(), text.data(), size);
		if (length < 0)
			return errno;
		if (size_t(length) < size)
		{
			text.resize(size_t(length));
			return 0;
		}
		size *= 2;
	}
}

bool IsSpecialFile(mode_t mode)
{
	return S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode) || S_ISBLK(mode);
}

// Makes at to a new FIFO, socket or device like the one whose status is given, as `cp -a` does: a socket
// is a name only (nobody listens on the copy), a device is made only where the system lets this process
// (EPERM otherwise). The mode is set with the rest of the metadata.
int MakeSpecialFile(const std::string& to, const struct stat& status)
{
	const mode_t type = status.st_mode & S_IFMT;
	int result = 0;
	if (type == S_IFIFO)
		result = mkfifo(to.c_str(), 0600);
	else if (type == S_IFSOCK)
		result = mknod(to.c_str(), S_IFSOCK | 0600, 0);
	else if (type == S_IFCHR || type == S_IFBLK)
		result = mknod(to.c_str(), type | 0600, status.st_rdev);
	else
		return ENOTSUP;
	return result == 0 ? 0 : errno;
}

int CopySpecialFile(const std::string& from, const std::string& to, const struct stat& status)
{
	if (int error = MakeSpecialFile(to, status))
		return error;
	return InjectedCopyFault(from);
}

int CopyLink(const std::string& from, const std::string& to, const struct stat& status)
{
	std::string text;
	if (int error = ReadLinkText(from, status, text))
		return error;
	if (symlink(text.c_str(), to.c_str()) != 0)
		return errno;
	return InjectedCopyFault(from);
}

// The path without its trailing slashes ("/" stays).
std::string WithoutTrailingSlashes(const char* path)
{
	std::string text = path;
	while (text.size() > 1 && text.back() == '/')
		text.pop_back();
	return text;
}

// Makes a new entry beside target under a name no other copy picks (the process id and a counter):
// create(name) answers 0 or an errno, EEXIST asking for another name, and makes nothing when it fails. On
// failure sibling is empty.
template <typename Create>
int CreateSibling(const std::string& target, std::string& sibling, Create create)
{
	static std::atomic<unsigned> sCounter{0};
	const size_t slash = target.rfind('/');
	const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
	int error = EEXIST;
	for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt)
	{
		char name[64];
		std::snprintf(name, sizeof(name), ".velk-copy-%ld-%u", long(getpid()), sCounter.fetch_add(1));
		sibling = folder + name;
		error = create(sibling);
	}
	// Nothing was made: the name left is not ours to remove.
	if (error != 0)
		sibling.clear();
	return error;
}

// 0 when path is a folder (not a link to one) with nothing in it; else ENOTDIR, ENOTEMPTY or lstat's errno.
int IsEmptyFolder(const std::string& path)
{
	struct stat status;
	if (lstat(path.c_str(), &status) != 0)
		return errno;
	if (!S_ISDIR(status.st_mode))
		return ENOTDIR;
	DIR* folder = opendir(path.c_str());
	if (folder == nullptr)
		return errno;
	int result = 0;
	while (const dirent* entry = readdir(folder))
	{
		if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
			result = ENOTEMPTY;
	}
	closedir(folder);
	return result;
}

// Removes a tree this copy built. Its folders may already have their final modes (0500): each is opened to
// its owner first. Best effort: what cannot be removed stays.
void RemoveBuiltTree(const std::string& path) noexcept
{
	try
	{
		struct stat status;
		if (lstat(path.c_str(), &status) != 0)
			return;
		if (!S_ISDIR(status.st_mode))
		{
			unlink(path.c_str());
			return;
		}
		chmod(path.c_str(), 0700);
		std::vector<std::string> names;
		if (DIR* folder = opendir(path.c_str()))
		{
			while (const dirent* entry = readdir(folder))
			{
				if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
					names.emplace_back(entry->d_name);
			}
			closedir(folder);
		}
		for (const std::string& name : names)
			RemoveBuiltTree(path + "/" + name);
		rmdir(path.c_str());
	}
	catch (...)
	{
	}
}

// Removes the source of a move once its copy is in place; the first failure stops the walk.
int RemoveSourceTree(const std::string& path, std::string& failedPath)
{
	struct stat status;
	if (lstat(path.c_str(), &status) != 0)
	{
		failedPath = path;
		return errno;
	}
	if (S_ISDIR(status.st_mode))
	{
		std::vector<std::string> names;
		DIR* folder = opendir(path.c_str());
		if (folder == nullptr)
		{
			failedPath = path;
			return errno;
		}
		while (const dirent* entry = readdir(folder))
		{
			if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
				names.emplace_back(entry->d_name);
		}
		closedir(folder);
		for (const std::string& name : names)
		{
			if (int error = RemoveSourceTree(path + "/" + name, failedPath))
				return error;
		}
	}
	if ((S_ISDIR(status.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) != 0)
	{
		failedPath = path;
		return errno;
	}
	return 0;
}

int RenameIntoPlace(const std::string& built, const std::string& target, bool replace)
{
	return replace ? RenameReplacing(built.c_str(), target.c_str()) : RenameExclusive(built.c_str(), target.c_str());
}

// One copy of a folder tree. The walk makes the folders and links under the temporary root on the calling
// thread and lists the files; the files are copied on a few threads, largest first so that the big ones do
// not finish last on one thread; then links and folders get their metadata, once everything inside them is
// made. A copy not put into place is removed when the object goes.
class TreeCopier
{
public:
	enum class Placement
	{
		kRenamed,  // built aside, then renamed to to
		kInPlace,  // built at to itself
		kBeside,  // built aside and left there for the caller (TakeBuilt)
	};

	TreeCopier(const std::string& from, const std::string& to, Placement placement = Placement::kRenamed)
		: fFrom(from)
		, fTo(to)
		, fPlacement(placement)
	{
	}

	~TreeCopier()
	{
		if (!fBuilt.empty())
			RemoveBuiltTree(fBuilt);
	}

	TreeCopier(const TreeCopier&) = delete;
	TreeCopier& operator=(const TreeCopier&) = delete;

	// Hands over where a whole copy left aside stands (empty until Run succeeded), without throwing.
	void TakeBuilt(std::string& path) noexcept
	{
		path.swap(fKept);
	}

	int Run(bool replace, std::string* failedPath)
	{
		struct stat status;
		if (stat(fFrom.c_str(), &status) != 0)
			return Fail(errno, fFrom, failedPath);
		if (!S_ISDIR(status.st_mode))
			return Fail(ENOTDIR, fFrom, failedPath);
		struct stat existing;
		if (fPlacement != Placement::kInPlace && !replace && lstat(fTo.c_str(), &existing) == 0)
			return Fail(EEXIST, fTo, failedPath);
		int made = 0;
		if (fPlacement == Placement::kInPlace)
		{
			made = IsEmptyFolder(fTo);
			if (made == 0)
				fBuilt = fTo;
		}
		else
			made = CreateSibling(fTo, fBuilt, [](const std::string& path) { return mkdir(path.c_str(), 0700) == 0 ? 0 : errno; });
		if (made != 0)
		{
			fBuilt.clear();
			return Fail(made, fTo, failedPath);
		}
		struct stat builtStatus;
		if (lstat(fBuilt.c_str(), &builtStatus) != 0)
			return Fail(errno, fTo, failedPath);
		fBuiltDevice = builtStatus.st_dev;
		fBuiltInode = builtStatus.st_ino;
		fFolders.push_back(Entry{ fFrom, fBuilt, status });
		if (int error = InjectedCopyFault(fFrom))
			return Fail(error, fFrom, failedPath);

		if (Walk(fFrom, fBuilt, true))
			CopyFiles();
		if (!fFailure.HasFailed())
			MakeHardLinks();
		if (!fFailure.HasFailed())
			FinishLinksAndFolders();
		if (fFailure.HasFailed())
			return fFailure.Report(failedPath);
		if (fPlacement != Placement::kRenamed)
		{
			fKept = fBuilt;
			fBuilt.clear();
			return fFailure.Report(failedPath);
		}
		if (int error = RenameIntoPlace(fBuilt, fTo, replace))
			return Fail(error, fTo, failedPath);
		fBuilt.clear();
		return fFailure.Report(failedPath);
	}

private:
	struct Entry
	{
		std::string fFrom;
		std::string fTo;
		struct stat fStatus;
	};

	struct FileIdentity
	{
		dev_t fDevice;
		ino_t fInode;

		bool operator<(const FileIdentity& other) const
		{
			return fDevice != other.fDevice ? fDevice < other.fDevice : fInode < other.fInode;
		}
	};

	struct HardLink
	{
		std::string fFirstCopy;  // the copy made of the entry's first name met
		Entry fEntry;
	};

	int Fail(int error, const std::string& path, std::string* failedPath)
	{
		fFailure.Set(error, path);
		return fFailure.Report(failedPath);
	}

	// False on the first failure, recorded.
	bool Walk(const std::string& from, const std::string& to, bool isRoot)
	{
		// Only the top is followed: a folder swapped for a link since it was listed is not followed out of
		// the tree.
		const int descriptor = open(from.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW));
		DIR* folder = descriptor >= 0 ? fdopendir(descriptor) : nullptr;
		if (folder == nullptr)
		{
			const int error = errno;
			if (descriptor >= 0)
				close(descriptor);
			return fFailure.Set(error, from);
		}
		bool ok = true;
		std::vector<Entry> folders;
		errno = 0;
		while (const dirent* child = readdir(folder))
		{
			if (std::strcmp(child->d_name, ".") == 0 || std::strcmp(child->d_name, "..") == 0)
				continue;
			Entry entry{ from + "/" + child->d_name, to + "/" + child->d_name, {} };
			if (fstatat(dirfd(folder), child->d_name, &entry.fStatus, AT_SYMLINK_NOFOLLOW) != 0)
			{
				ok = fFailure.Set(errno, entry.fFrom);
				break;
			}
			const mode_t type = entry.fStatus.st_mode & S_IFMT;
			if (type != S_IFDIR && type != S_IFLNK && entry.fStatus.st_nlink > 1)
			{
				// A further name of an entry already copied: linked to that copy once the files are made.
				const auto first = fFirstCopies.emplace(FileIdentity{ entry.fStatus.st_dev, entry.fStatus.st_ino }, entry.fTo);
				if (!first.second)
				{
					fHardLinks.push_back(HardLink{ first.first->second, std::move(entry) });
					errno = 0;
					continue;
				}
			}
			if (type == S_IFREG)
				fFiles.push_back(std::move(entry));
			else if (type == S_IFDIR)
				folders.push_back(std::move(entry));
			else if (type == S_IFLNK)
			{
				if (int error = CopyLink(entry.fFrom, entry.fTo, entry.fStatus))
				{
					ok = fFailure.Set(error, entry.fFrom);
					break;
				}
				fLinks.push_back(std::move(entry));
			}
			else if (IsSpecialFile(type))
			{
				if (int error = CopySpecialFile(entry.fFrom, entry.fTo, entry.fStatus))
				{
					ok = fFailure.Set(error, entry.fFrom);
					break;
				}
				fSpecials.push_back(std::move(entry));
			}
			else
			{
				ok = fFailure.Set(ENOTSUP, entry.fFrom);
				break;
			}
			errno = 0;
		}
		if (ok && errno != 0)
			ok = fFailure.Set(errno, from);
		closedir(folder);
		for (size_t i = 0; ok && i < folders.size(); ++i)
		{
			Entry& entry = folders[i];
			// A destination inside the source would be walked into without end.
			if (entry.fStatus.st_dev == fBuiltDevice && entry.fStatus.st_ino == fBuiltInode)
				return fFailure.Set(EINVAL, entry.fFrom);
			if (mkdir(entry.fTo.c_str(), 0700) != 0)
				return fFailure.Set(errno, entry.fFrom);
			if (int error = InjectedCopyFault(entry.fFrom))
				return fFailure.Set(error, entry.fFrom);
			fFolders.push_back(entry);
			ok = Walk(entry.fFrom, entry.fTo, false);
		}
		return ok;
	}

	void CopyFiles()
	{
		std::sort(fFiles.begin(), fFiles.end(), [](const Entry& a, const Entry& b) { return a.fStatus.st_size > b.fStatus.st_size; });
		const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
		const size_t wanted = std::min<size_t>({ kMaxWorkers, hardware, fFiles.size() });
		std::vector<std::thread> helpers;
		helpers.reserve(wanted);
		for (size_t i = 1; i < wanted; ++i)
		{
			try
			{
				helpers.emplace_back([this] { CopyFilesOnThisThread(); });
			}
			catch (...)
			{
				break;  // fewer threads do the same work
			}
		}
		CopyFilesOnThisThread();
		for (std::thread& helper : helpers)
			helper.join();
	}

	void CopyFilesOnThisThread() noexcept
	{
		size_t index = 0;
		try
		{
			Scratch scratch;
			while (!fFailure.HasFailed() && (index = fNextFile.fetch_add(1)) < fFiles.size())
			{
				const Entry& entry = fFiles[index];
				if (int error = CopyRegularFile(entry.fFrom, entry.fTo, fMethods, scratch))
					fFailure.Set(error, entry.fFrom);
			}
		}
		catch (...)
		{
			fFailure.Set(ENOMEM, index < fFiles.size() ? fFiles[index].fFrom : fFrom);
		}
	}

	// The copies share their metadata with the first copy, which has it already.
	void MakeHardLinks()
	{
		for (const HardLink& hardLink : fHardLinks)
		{
			int error = link(hardLink.fFirstCopy.c_str(), hardLink.fEntry.fTo.c_str()) == 0 ? 0 : errno;
			if (error == 0)
				error = InjectedCopyFault(hardLink.fEntry.fFrom);
			if (error != 0)
			{
				fFailure.Set(error, hardLink.fEntry.fFrom);
				return;
			}
		}
	}

	void FinishLinksAndFolders()
	{
		Scratch scratch;
		for (const Entry& special : fSpecials)
		{
			if (int error = CopyMetadata(-1, special.fFrom.c_str(), -1, special.fTo.c_str(), special.fStatus, scratch))
			{
				fFailure.Set(error, special.fFrom);
				return;
			}
		}
		for (const Entry& link : fLinks)
		{
			if (int error = CopyMetadata(-1, link.fFrom.c_str(), -1, link.fTo.c_str(), link.fStatus, scratch))
			{
				fFailure.Set(error, link.fFrom);
				return;
			}
		}
		for (auto folder = fFolders.rbegin(); folder != fFolders.rend(); ++folder)
		{
			if (int error = CopyMetadata(-1, folder->fFrom.c_str(), -1, folder->fTo.c_str(), folder->fStatus, scratch))
			{
				fFailure.Set(error, folder->fFrom);
				return;
			}
		}
	}

	const std::string fFrom;
	const std::string fTo;
	const Placement fPlacement;
	std::string fBuilt;  // the temporary root while it is ours to remove
	std::string fKept;  // the whole copy, once the caller owns it
	dev_t fBuiltDevice = 0;
	ino_t fBuiltInode = 0;
	std::vector<Entry> fFolders;  // parents before their children
	std::vector<Entry> fFiles;
	std::vector<Entry> fLinks;
	std::vector<Entry> fSpecials;
	std::map<FileIdentity, std::string> fFirstCopies;  // entries with several names, by their first copy
	std::vector<HardLink> fHardLinks;
	std::atomic<size_t> fNextFile{0};
	CopyMethods fMethods;
	Failure fFailure;
};

int CopyOneFile(const std::string& from, const std::string& to, bool replace, std::string* failedPath)
{
	Failure failure;
	struct stat status;
	if (lstat(from.c_str(), &status) != 0)
		failure.Set(errno, from);
	else if (S_ISDIR(status.st_mode))
		failure.Set(EISDIR, from);
	else if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode) && !IsSpecialFile(status.st_mode))
		failure.Set(ENOTSUP, from);
	struct stat existing;
	if (!failure.HasFailed() && !replace && lstat(to.c_str(), &existing) == 0)
		failure.Set(EEXIST, to);
	if (failure.HasFailed())
		return failure.Report(failedPath);

	CopyMethods methods;
	Scratch scratch;
	std::string built;
	std::string text;
	if (S_ISLNK(status.st_mode))
	{
		if (int error = ReadLinkText(from, status, text))
		{
			failure.Set(error, from);
			return failure.Report(failedPath);
		}
	}
	int out = -1;
	const bool byPath = !S_ISREG(status.st_mode);
	int error = CreateSibling(to, built, [&](const std::string& path) {
		if (S_ISLNK(status.st_mode))
			return symlink(text.c_str(), path.c_str()) == 0 ? 0 : errno;
		if (IsSpecialFile(status.st_mode))
			return MakeSpecialFile(path, status);
		return CreateFile(path, &out);
	});
	if (error == 0 && byPath)
	{
		error = InjectedCopyFault(from);
		if (error == 0)
			error = CopyMetadata(-1, from.c_str(), -1, built.c_str(), status, scratch);
	}
	else if (error == 0)
	{
		error = CopyRegularFileInto(from, out, built, methods, scratch);
		const int closeError = RetryingClose(out);
		if (error == 0)
			error = closeError;
	}
	if (error != 0)
	{
		RemoveBuiltTree(built);
		failure.Set(error, from);
		return failure.Report(failedPath);
	}
	if ((error = RenameIntoPlace(built, to, replace)) != 0)
	{
		RemoveBuiltTree(built);
		failure.Set(error, to);
	}
	return failure.Report(failedPath);
}

int MoveByCopy(const std::string& from, const std::string& to, bool replace, std::string* failedPath)
{
	struct stat status;
	if (lstat(from.c_str(), &status) != 0)
	{
		if (failedPath != nullptr)
			*failedPath = from;
		return errno;
	}
	int error = 0;
	if (S_ISDIR(status.st_mode))
	{
		TreeCopier copier(from, to);
		error = copier.Run(replace, failedPath);
	}
	else
		error = CopyOneFile(from, to, replace, failedPath);
	if (error != 0)
		return error;
	std::string removalPath;
	error = RemoveSourceTree(from, removalPath);
	if (error != 0 && failedPath != nullptr)
		*failedPath = removalPath;
	return error;
}

// Nothing may escape the platform layer: running out of memory is answered as ENOMEM.
template <typename Work>
int WithoutExceptions(const char* path, std::string* failedPath, Work work) noexcept
{
	try
	{
		return work();
	}
	catch (...)
	{
		try
		{
			if (failedPath != nullptr)
				*failedPath = path;
		}
		catch (...)
		{
		}
		return ENOMEM;
	}
}

}  // namespace

int CopyFile(const char* from, const char* to, bool replace, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] { return CopyOneFile(WithoutTrailingSlashes(from), WithoutTrailingSlashes(to), replace, failedPath); });
}

int CopyTree(const char* from, const char* to, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		TreeCopier copier(WithoutTrailingSlashes(from), WithoutTrailingSlashes(to));
		return copier.Run(false, failedPath);
	});
}

int CopyTreeInPlace(const char* from, const char* to, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		TreeCopier copier(WithoutTrailingSlashes(from), WithoutTrailingSlashes(to), TreeCopier::Placement::kInPlace);
		return copier.Run(false, failedPath);
	});
}

int CopyTreeBeside(const char* from, const char* to, std::string& staging, std::string* failedPath)
{
	staging.clear();
	return WithoutExceptions(from, failedPath, [&] {
		TreeCopier copier(WithoutTrailingSlashes(from), WithoutTrailingSlashes(to), TreeCopier::Placement::kBeside);
		const int error = copier.Run(true, failedPath);
		copier.TakeBuilt(staging);
		return error;
	});
}

int MakeFolderBeside(const char* to, std::string& staging)
{
	staging.clear();
	return WithoutExceptions(to, nullptr, [&] {
		return CreateSibling(WithoutTrailingSlashes(to), staging, [](const std::string& path) { return mkdir(path.c_str(), 0755) == 0 ? 0 : errno; });
	});
}

int PutInPlace(const char* staging, const char* to, std::string& old)
{
	old.clear();
	return WithoutExceptions(to, nullptr, [&] {
		const std::string built = WithoutTrailingSlashes(staging);
		const std::string target = WithoutTrailingSlashes(to);
		int error = ExchangePaths(target.c_str(), built.c_str());
		if (error == 0)
		{
			old = built;
			return 0;
		}
		if (error != EINVAL)
			return error;
		std::string aside;
		error = CreateSibling(target, aside, [&](const std::string& path) { return RenameExclusive(target.c_str(), path.c_str()); });
		if (error != 0)
			return error;
		error = RenameExclusive(built.c_str(), target.c_str());
		if (error != 0)
		{
			// Back where it was: the caller still has its copy aside and nothing changed.
			RenameExclusive(aside.c_str(), target.c_str());
			return error;
		}
		old.swap(aside);
		return 0;
	});
}

bool IsSameOrInsideFolder(const char* path, const char* folder)
{
	try
	{
		struct stat wanted;
		if (stat(folder, &wanted) != 0 || !S_ISDIR(wanted.st_mode))
			return false;
		// The nearest ancestor that exists, as the system resolves it: what is still to be made lies in it.
		std::string current = WithoutTrailingSlashes(path);
		std::string real;
		for (;;)
		{
			if (char* resolved = realpath(current.c_str(), nullptr))
			{
				real = resolved;
				std::free(resolved);
				break;
			}
			if ((errno != ENOENT && errno != ENOTDIR) || current == "/" || current == ".")
				return false;
			current = ParentFolderOf(current);
		}
		// A real path's text parents are its parents; compared by identity, so that bind mounts show too.
		for (;;)
		{
			struct stat status;
			if (stat(real.c_str(), &status) == 0 && status.st_dev == wanted.st_dev && status.st_ino == wanted.st_ino)
				return true;
			if (real == "/")
				return false;
			const size_t slash = real.rfind('/');  // a real path is absolute
			real.resize(slash == 0 ? 1 : slash);
		}
	}
	catch (...)
	{
		return false;
	}
}

int MovePath(const char* from, const char* to, bool replace, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		const std::string source = WithoutTrailingSlashes(from);
		const std::string target = WithoutTrailingSlashes(to);
		const int error = replace ? RenameReplacing(source.c_str(), target.c_str()) : RenameExclusive(source.c_str(), target.c_str());
		if (error != EXDEV)
		{
			if (failedPath != nullptr)
				*failedPath = error != 0 ? source : std::string();
			return error;
		}
		return MoveByCopy(source, target, replace, failedPath);
	});
}

#ifdef VELK_TEST_HOOKS
void SetCopyFaultForTesting(const std::string& path, int errorNumber)
{
	CopyHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	hooks.fPath = path;
	hooks.fError = errorNumber;
}
#endif

}  // namespace plat
