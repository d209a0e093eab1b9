#include "platform/FileOperations.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/ExtendedAttributes.h"
#include "platform/StDescriptor.h"
#include "platform/TestFaults.h"
#include "platform/UnixRights.h"

namespace plat {

namespace {

#ifdef VELK_TEST_HOOKS
std::atomic<int> sFaultStep{int(WriteStep::kNone)};
std::atomic<int> sFaultError{0};

int InjectedFault(WriteStep step)
{
	if (sFaultStep.load() == int(step))
		return sFaultError.load();
	// A full disk armed from the environment refuses the bytes, not the file's making.
	return step == WriteStep::kWrite ? EnvironmentWriteFault() : 0;
}
#else
enum class WriteStep
{
	kCreate,
	kWrite,
	kRename
};

constexpr int InjectedFault(WriteStep)
{
	return 0;
}
#endif

int WriteAllBytes(int descriptor, const void* bytes, size_t size)
{
	const char* next = static_cast<const char*>(bytes);
	while (size > 0)
	{
		ssize_t written = write(descriptor, next, size);
		if (written < 0)
		{
			if (errno == EINTR)
				continue;
			return errno;
		}
		next += written;
		size -= size_t(written);
	}
	return 0;
}

int WriteAll(int descriptor, const void* bytes, size_t size)
{
	if (int fault = InjectedFault(WriteStep::kWrite))
		return fault;
	if (int error = WriteAllBytes(descriptor, bytes, size))
		return error;
	return fsync(descriptor) == 0 ? 0 : errno;
}

// Copies the bytes of in from where it stands to its end into out, where out stands, inside the kernel.
int CopyBytes(int in, int out)
{
	for (;;)
	{
		const ssize_t count = sendfile(out, in, nullptr, size_t(1) << 30);
		if (count < 0)
		{
			if (errno == EINTR)
				continue;
			return errno;
		}
		if (count == 0)
			return 0;
	}
}

// The replaced file's owner and group on the sibling, as far as the process may give them: root gives
// both, another user only a group it belongs to. Answers whether both were given; what is refused stays
// the process's own.
bool KeepOwner(int descriptor, const struct stat& status)
{
	if (fchown(descriptor, status.st_uid, status.st_gid) == 0)
		return true;
	return errno == EPERM && fchown(descriptor, uid_t(-1), status.st_gid) == 0 && status.st_uid == geteuid();
}

// The replaced file's extended attributes (its ACL included) on the sibling. One the process may read but
// not write (a capability without the privilege to set it) stays behind: the write itself goes on.
void KeepExtendedAttributes(const char* from, int descriptor)
{
	std::vector<char> names;
	std::vector<char> value;
	CopyExtendedAttributes(-1, from, descriptor, nullptr, false, false, names, value);
}

constexpr char kSiblingPrefix[] = ".velk-write-";

// A new file beside target, open for reading and writing, with a name no other writer picks: the process id
// and a counter.
int CreateSibling(const std::string& target, mode_t mode, std::string& sibling, int* descriptor)
{
	if (int fault = InjectedFault(WriteStep::kCreate))
		return fault;
	static std::atomic<unsigned> sCounter{0};
	const size_t slash = target.rfind('/');
	const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
	for (int attempt = 0; attempt < 100; ++attempt)
	{
		char name[64];
		std::snprintf(name, sizeof(name), "%s%ld-%u", kSiblingPrefix, long(getpid()), sCounter.fetch_add(1));
		sibling = folder + name;
		*descriptor = open(sibling.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
		if (*descriptor >= 0)
			return 0;
		if (errno != EEXIST && errno != EINTR)
			return errno;
	}
	return EEXIST;
}

// The process that made a sibling of that name ("<prefix><pid>-<counter>"); 0 for any other name.
pid_t WriterOfSibling(const char* name)
{
	const size_t prefix = sizeof(kSiblingPrefix) - 1;
	if (std::strncmp(name, kSiblingPrefix, prefix) != 0)
		return 0;
	const char* digits = name + prefix;
	pid_t pid = 0;
	for (; *digits >= '0' && *digits <= '9'; ++digits)
	{
		if (pid > (INT_MAX - 9) / 10)
			return 0;
		pid = pid * 10 + (*digits - '0');
	}
	if (digits == name + prefix || *digits != '-' || digits[1] == '\0')
		return 0;
	for (const char* counter = digits + 1; *counter != '\0'; ++counter)
	{
		if (*counter < '0' || *counter > '9')
			return 0;
	}
	return pid;
}

// Removes the siblings that writers of this user left beside target when they were stopped midway (a kill,
// a power loss): plain files of the same owner whose process no longer runs. Another user's, a running
// writer's and anything but a plain file stay. Nothing to remove when the folder, open at folder, cannot be
// listed.
void RemoveStaleSiblings(int folder)
{
	const int listed = folder < 0 ? -1 : dup(folder);
	if (listed < 0)
		return;
	DIR* listing = fdopendir(listed);
	if (listing == nullptr)
	{
		RetryingClose(listed);
		return;
	}
	const uid_t owner = geteuid();
	while (const dirent* entry = readdir(listing))
	{
		const pid_t writer = WriterOfSibling(entry->d_name);
		struct stat status;
		if (writer <= 0 || writer == getpid() || fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
			!S_ISREG(status.st_mode) || status.st_uid != owner)
			continue;
		if (kill(writer, 0) != 0 && errno == ESRCH)
			unlinkat(folder, entry->d_name, 0);
	}
	closedir(listing);
}

// The former content, from kept, back in file, flushed.
int PutBack(int kept, int file)
{
	if (lseek(kept, 0, SEEK_SET) != 0 || lseek(file, 0, SEEK_SET) != 0 || ftruncate(file, 0) != 0)
		return errno;
	if (int error = CopyBytes(kept, file))
		return error;
	return fsync(file) == 0 ? 0 : errno;
}

// Writes a file with several names in place, so that every name shows the new content; a new file renamed
// over one name would leave the others with the old. The former content is first copied to a sibling and
// put back when the write fails, so every name then still shows it; the sibling is removed, unless putting
// it back failed too.
int WriteInPlace(const std::string& target, const void* bytes, size_t size)
{
	const StDescriptor file(open(target.c_str(), O_WRONLY | O_CLOEXEC));
	if (file.Get() < 0)
		return errno;
	const StDescriptor former(open(target.c_str(), O_RDONLY | O_CLOEXEC));
	if (former.Get() < 0)
		return errno;
	std::string sibling;
	int descriptor = -1;
	if (int error = CreateSibling(target, 0600, sibling, &descriptor))
		return error;
	const StDescriptor kept(descriptor);
	int error = CopyBytes(former.Get(), kept.Get());
	if (error == 0 && fsync(kept.Get()) != 0)
		error = errno;
	if (error == 0)
	{
		error = ftruncate(file.Get(), 0) == 0 ? 0 : errno;
		if (error == 0)
			error = WriteAll(file.Get(), bytes, size);
		if (error != 0 && PutBack(kept.Get(), file.Get()) != 0)
			return error;
	}
	unlink(sibling.c_str());
	return error;
}

// Makes a rename into the folder open at folder durable. A folder the process could not open for reading,
// or a file system that cannot flush folders, leaves that to the system's own writing.
int FlushFolder(int folder)
{
	if (folder < 0)
		return 0;
	const int error = fsync(folder) == 0 ? 0 : errno;
	return error == EINVAL || FileSystemLacks(error, -1, nullptr) ? 0 : error;
}

int ReplaceThroughSibling(const char* path, const void* bytes, size_t size)
{
	// Through a link to the file it names; a dangling link or no file at all: the path itself.
	std::string target = path;
	char resolved[PATH_MAX];
	struct stat status;
	mode_t mode = 0666;
	bool replacing = false;
	if (stat(path, &status) == 0)
	{
		if (S_ISDIR(status.st_mode))
			return EISDIR;
		replacing = true;
		mode = status.st_mode & 07777;
		if (realpath(path, resolved) != nullptr)
			target = resolved;
		// Refused where a plain open for writing is: the rename needs only the folder's rights, and would
		// replace a read-only file, or give another user's file to this process.
		if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
			return errno;
	}
	// One descriptor of the folder serves the sweep of stopped writers' siblings and the flush after the rename.
	const StDescriptor folder(open(ParentFolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	RemoveStaleSiblings(folder.Get());
	if (replacing && S_ISREG(status.st_mode) && status.st_nlink > 1)
		return WriteInPlace(target, bytes, size);

	std::string sibling;
	int descriptor = -1;
	if (int error = CreateSibling(target, mode, sibling, &descriptor))
		return error;
	// The owner first: a change of owner clears the set-id bits, which the mode then gives back; open
	// applied the umask, and a replaced file keeps exactly the permissions it had. The attributes last, so
	// that no change of owner drops a capability among them. A volume without Unix rights keeps its own.
	int error = 0;
	if (replacing)
	{
		KeepOwner(descriptor, status);
		error = IgnoringWhatFileSystemLacks(fchmod(descriptor, mode), descriptor, nullptr);
		if (error == 0)
			KeepExtendedAttributes(target.c_str(), descriptor);
	}
	if (error == 0)
		error = WriteAll(descriptor, bytes, size);
	const int closeError = RetryingClose(descriptor);
	if (error == 0)
		error = closeError;
	if (error == 0)
		error = InjectedFault(WriteStep::kRename);
	if (error == 0 && rename(sibling.c_str(), target.c_str()) != 0)
		error = errno;
	if (error != 0)
	{
		unlink(sibling.c_str());
		return error;
	}
	return FlushFolder(folder.Get());
}

}  // namespace

std::string ParentFolderOf(std::string path)
{
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	const size_t slash = path.rfind('/');
	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? std::string("/") : path.substr(0, slash);
}

int GetPathInfo(const char* path, PathInfo* info)
{
	struct stat status;
	if (stat(path, &status) != 0)
		return errno;
	info->isFolder = S_ISDIR(status.st_mode);
	info->modifiedSeconds = int64_t(status.st_mtim.tv_sec);
	info->modifiedNanoseconds = int32_t(status.st_mtim.tv_nsec);
	info->accessedSeconds = int64_t(status.st_atim.tv_sec);
	info->accessedNanoseconds = int32_t(status.st_atim.tv_nsec);
	return 0;
}

int OpenFileForReading(const char* path, int* descriptor)
{
	*descriptor = open(path, O_RDONLY | O_CLOEXEC);
	return *descriptor >= 0 ? 0 : errno;
}

int GetOpenFileSize(int descriptor, uint64_t* size)
{
	struct stat status;
	if (fstat(descriptor, &status) != 0)
		return errno;
	if (S_ISDIR(status.st_mode))
		return EISDIR;
	*size = uint64_t(status.st_size);
	return 0;
}

int ReadOpenFile(int descriptor, void* buffer, size_t size, size_t* bytesRead)
{
	char* next = static_cast<char*>(buffer);
	*bytesRead = 0;
	while (*bytesRead < size)
	{
		ssize_t count = read(descriptor, next + *bytesRead, size - *bytesRead);
		if (count < 0)
		{
			if (errno == EINTR)
				continue;
			return errno;
		}
		if (count == 0)
			break;
		*bytesRead += size_t(count);
	}
	return 0;
}

void CloseFile(int descriptor)
{
	RetryingClose(descriptor);
}

int GetOpenFileStatus(int descriptor, OpenFileStatus* status)
{
	struct statx found;
	if (statx(descriptor, "", AT_EMPTY_PATH, STATX_SIZE | STATX_NLINK | STATX_BTIME, &found) == 0)
	{
		status->size = uint64_t(found.stx_size);
		status->links = uint64_t(found.stx_nlink);
		status->birthKnown = (found.stx_mask & STATX_BTIME) != 0;
		status->birthSeconds = status->birthKnown ? int64_t(found.stx_btime.tv_sec) : 0;
		status->birthNanoseconds = status->birthKnown ? int32_t(found.stx_btime.tv_nsec) : 0;
		return 0;
	}
	if (errno != ENOSYS)
		return errno;
	// A kernel without statx tells no birth.
	struct stat plain;
	if (fstat(descriptor, &plain) != 0)
		return errno;
	*status = OpenFileStatus();
	status->size = uint64_t(plain.st_size);
	status->links = uint64_t(plain.st_nlink);
	return 0;
}

int LockOpenFile(int descriptor)
{
	return RetryingFlock(descriptor, LOCK_EX);
}

int RetryingFlock(int descriptor, int operation)
{
	int result;
	do
		result = flock(descriptor, operation);
	while (result != 0 && errno == EINTR);
	return result == 0 ? 0 : errno;
}

int OpenFileForAppending(const char* path, bool truncate, int* descriptor)
{
	const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
	do
		*descriptor = open(path, flags, 0666);
	while (*descriptor < 0 && errno == EINTR);
	return *descriptor >= 0 ? 0 : errno;
}

int AppendToOpenFile(int descriptor, const void* bytes, size_t size)
{
	return WriteAllBytes(descriptor, bytes, size);
}

int ReplaceFileContent(const char* path, const void* bytes, size_t size)
{
	try
	{
		return ReplaceThroughSibling(path, bytes, size);
	}
	catch (const std::bad_alloc&)
	{
		return ENOMEM;
	}
}

int MakeFolder(const char* path, unsigned mode)
{
	RecordCall("mkdir", path);
	return mkdir(path, mode_t(mode)) == 0 ? 0 : errno;
}

namespace {

// Runs flush (fsync or syncfs) on a descriptor of the folder at path, recorded as operation once done.
int FlushThroughFolder(const char* path, const char* operation, int (*flush)(int))
{
	const int folder = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (folder < 0)
		return errno;
	const int error = flush(folder) == 0 ? 0 : errno;
	RetryingClose(folder);
	if (error == 0)
		RecordCall(operation, path);
	return error;
}

}  // namespace

int SyncFolder(const char* path)
{
	StopIfArmed("sync", path);
	return FlushThroughFolder(path, "sync", fsync);
}

int SyncFileSystem(const char* path)
{
	return FlushThroughFolder(path, "syncfs", syncfs);
}

#ifdef VELK_TEST_HOOKS
void SetWriteFaultForTesting(WriteStep step, int errorNumber)
{
	sFaultError.store(errorNumber);
	sFaultStep.store(int(step));
}
#endif

}  // namespace plat
