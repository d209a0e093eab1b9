// The copy of one entry (a regular file's bytes and metadata, a link, a special file) and the calls of
// TreeCopy.h built on it alone; the walk over whole trees is in TreeCopier.cpp.
#include "platform/TreeCopy.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <new>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/EntryCopy.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileOperations.h"
#include "platform/FolderWalk.h"
#include "platform/Rename.h"
#include "platform/StDescriptor.h"
#include "platform/TestFaults.h"
#include "platform/TreeRemoval.h"
#include "platform/UnixRights.h"

namespace plat {

namespace copying {

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
int InjectedCopyFault(const std::string&)
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

// The source was opened without following a link and without blocking, and must still be a regular file: a
// FIFO put in its place would otherwise hang the copy.
int CopyOpenRegularFile(int in, const std::string& from, int out, const std::string& to, CopyMethods& methods, Scratch& scratch)
{
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
	return error;
}

// Copies the regular file from into out, a new file at to.
int CopyRegularFileInto(const CopySource& from, int out, const std::string& to, CopyMethods& methods, Scratch& scratch)
{
	const int in = openat(from.folder, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (in < 0)
		return errno;
	const int error = CopyOpenRegularFile(in, from.path, out, to, methods, scratch);
	RetryingClose(in);
	return error;
}

int CreateFile(const std::string& path, int* descriptor)
{
	*descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
	return *descriptor >= 0 ? 0 : errno;
}

int ReadLinkTextAt(int folder, const char* name, const struct stat& status, std::string& text)
{
	// The size lstat gives may be short when the link is rewritten meanwhile: grow until the text fits.
	size_t size = size_t(status.st_size) + 1;
	for (;;)
	{
		text.resize(size);
		const ssize_t length = readlinkat(folder, name, text.data(), size);
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
int MakeSpecialFileAt(int folder, const char* name, const struct stat& status)
{
	const mode_t type = status.st_mode & S_IFMT;
	int result = 0;
	if (type == S_IFIFO)
		result = mkfifoat(folder, name, 0600);
	else if (type == S_IFSOCK)
		result = mknodat(folder, name, S_IFSOCK | 0600, 0);
	else if (type == S_IFCHR || type == S_IFBLK)
		result = mknodat(folder, name, type | 0600, status.st_rdev);
	else
		return ENOTSUP;
	return result == 0 ? 0 : errno;
}

std::string WithoutTrailingSlashes(const char* path)
{
	std::string text = path;
	while (text.size() > 1 && text.back() == '/')
		text.pop_back();
	return text;
}

// Its folders may already have their final modes (0500): each is opened to its owner first, as a forced
// deletion does.
void RemoveBuiltTree(const std::string& path) noexcept
{
	try
	{
		RemovalOptions options;
		options.forced = true;
		RemoveTree(path.c_str(), options, nullptr);
	}
	catch (...)
	{
	}
}

int RenameIntoPlace(const std::string& built, const std::string& target, bool replace)
{
	return replace ? RenameReplacing(built.c_str(), target.c_str()) : RenameExclusive(built.c_str(), target.c_str());
}

int CopyOneFile(const CopySource& source, const std::string& to, bool replace, std::string* failedPath)
{
	const std::string& from = source.path;
	Failure failure;
	struct stat status;
	if (fstatat(source.folder, source.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
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
		if (int error = ReadLinkTextAt(source.folder, source.name.c_str(), status, text))
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
			return MakeSpecialFileAt(AT_FDCWD, path.c_str(), status);
		return CreateFile(path, &out);
	});
	if (error == 0 && byPath)
	{
		error = InjectedCopyFault(from);
		// Read through the folder the source was found in, whatever its path leads to by now.
		const std::string reached = PathBelow(source.folder, source.name, from);
		if (error == 0)
			error = CopyMetadata(-1, reached.c_str(), -1, built.c_str(), status, scratch);
	}
	else if (error == 0)
	{
		error = CopyRegularFileInto(source, out, built, methods, scratch);
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

}  // namespace copying

using namespace copying;

int CopyFile(const char* from, const char* to, bool replace, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		const std::string source = WithoutTrailingSlashes(from);
		return CopyOneFile(CopySource{ AT_FDCWD, source, source }, WithoutTrailingSlashes(to), replace, failedPath);
	});
}

int CopyFileFrom(int fromFolder, const char* fromName, const char* from, const char* to, bool replace, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		return CopyOneFile(CopySource{ fromFolder, fromName, from }, WithoutTrailingSlashes(to), replace, failedPath);
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
