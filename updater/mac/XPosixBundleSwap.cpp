#include "updater/mac/XPosixBundleSwap.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <fstream>
#include <sstream>

#include "files/VFilePath.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/strings/VString.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/TreeCopy.h"

namespace velk {

namespace {

constexpr int32 kLockPollMs = 50;
constexpr char kRecordMagic[] = "velk-swap 1 ";

std::string SystemPath(const VFilePath& path)
{
	return XMacFilePath::ToSystemFolderPath(path);
}

// A record's texts with '\\', '\n' and '=' escaped, so that any path fits on its line.
std::string Escaped(const std::string& text)
{
	std::string out;
	out.reserve(text.size());
	for (char c : text)
	{
		if (c == '\\')
			out += "\\\\";
		else if (c == '\n')
			out += "\\n";
		else if (c == '=')
			out += "\\e";
		else
			out += c;
	}
	return out;
}

std::string Unescaped(const std::string& text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); ++i)
	{
		if (text[i] != '\\' || i + 1 == text.size())
		{
			out += text[i];
			continue;
		}
		const char next = text[++i];
		out += next == 'n' ? '\n' : next == 'e' ? '=' : next;
	}
	return out;
}

int RetryingFlock(int descriptor, int operation)
{
	int result;
	do
		result = ::flock(descriptor, operation);
	while (result != 0 && errno == EINTR);
	return result == 0 ? 0 : errno;
}

}  // namespace

XPosixBundleSwap::Identity XPosixBundleSwap::GetIdentity(const VFilePath& path)
{
	Identity identity;
	struct stat status;
	const std::string system = SystemPath(path);
	if (!system.empty() && ::lstat(system.c_str(), &status) == 0)
	{
		identity.fDevice = uint64(status.st_dev) + 1;  // never both 0 for an entry that exists
		identity.fInode = uint64(status.st_ino);
	}
	return identity;
}

VError XPosixBundleSwap::Exchange(const VFilePath& first, const VFilePath& second)
{
	return MakePosixError(plat::ExchangePaths(SystemPath(first).c_str(), SystemPath(second).c_str()));
}

VError XPosixBundleSwap::RenameExclusive(const VFilePath& from, const VFilePath& to)
{
	return MakePosixError(plat::RenameExclusive(SystemPath(from).c_str(), SystemPath(to).c_str()));
}

VError XPosixBundleSwap::SyncFileSystem(const VFilePath& folder)
{
	const int descriptor = ::open(SystemPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (descriptor < 0)
		return MakePosixError(errno);
	const int result = ::syncfs(descriptor) == 0 ? 0 : errno;
	::close(descriptor);
	return MakePosixError(result);
}

VError XPosixBundleSwap::CopyTreeInPlace(const VFilePath& from, const VFilePath& to, VString& failedPath)
{
	std::string failed;
	const int result = plat::CopyTreeInPlace(SystemPath(from).c_str(), SystemPath(to).c_str(), &failed);
	failedPath = VString(failed.c_str());
	return MakePosixError(result);
}

VError XPosixBundleSwap::RemoveOrphanTrashInfo(const VFilePath& path)
{
	return MakePosixError(plat::RemoveOrphanTrashRecords(SystemPath(path).c_str()));
}

int64 XPosixBundleSwap::CountEntries(const VFilePath& folder)
{
	namespace fs = std::filesystem;
	const std::string root = SystemPath(folder);
	std::error_code error;
	if (root.empty() || !fs::exists(fs::symlink_status(root, error)))
		return 0;
	int64 count = 1;
	for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
		 !error && it != end; it.increment(error))
		++count;
	return count;
}

bool XPosixBundleSwap::IsExecutableFile(const VString& posixPath)
{
	std::string path;
	if (!XMacFilePath::ToSystemPath(posixPath, path) || path.empty())
		return false;
	struct stat status;
	if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || (status.st_mode & 0111) == 0 ||
		::access(path.c_str(), X_OK) != 0)
		return false;
	// A file that a power loss left empty, or that is no program at all, would only fail once installed.
	const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (descriptor < 0)
		return false;
	char head[4] = {};
	ssize_t got;
	do
		got = ::pread(descriptor, head, sizeof(head), 0);
	while (got < 0 && errno == EINTR);
	::close(descriptor);
	return (got == 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0) || (got >= 2 && head[0] == '#' && head[1] == '!');
}

int32 XPosixBundleSwap::GetCurrentProcessID()
{
	return int32(::getpid());
}

uint64 XPosixBundleSwap::GetProcessStartTime(int32 pid)
{
	if (pid <= 0)
		return 0;
	std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
	std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	// The command name may hold spaces and parentheses: the fields follow its last ')'.
	const size_t close = text.rfind(')');
	if (close == std::string::npos)
		return 0;
	std::istringstream fields(text.substr(close + 1));
	std::string field;
	// State is the first field after the name (field 3); the start time is field 22.
	for (int index = 3; index <= 22 && (fields >> field); ++index)
	{
		if (index == 22)
			return std::strtoull(field.c_str(), nullptr, 10);
	}
	return 0;
}

bool XPosixBundleSwap::IsProcessRunning(int32 pid, uint64 startTime)
{
	if (pid <= 0)
		return false;
	if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
		return false;
	return GetProcessStartTime(pid) == startTime;
}

XPosixSwapLockFile::XPosixSwapLockFile(const VFilePath& path)
	: fPath(XMacFilePath::ToSystemPath(path))
{
}

XPosixSwapLockFile::~XPosixSwapLockFile()
{
	if (fDescriptor >= 0)
		::close(fDescriptor);
}

VError XPosixSwapLockFile::Lock(int32 waitMs, bool& waited)
{
	waited = false;
	if (fDescriptor >= 0)
		return VE_OK;
	if (fPath.empty())
		return MakePosixError(EINVAL);
	for (int32 waitedMs = 0;;)
	{
		// No blocking open: something other than a file at the path must not hold the run.
		const int descriptor = ::open(fPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
		if (descriptor < 0)
			return MakePosixError(errno);
		struct stat status;
		if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
		{
			const int error = errno != 0 ? errno : EINVAL;
			::close(descriptor);
			return MakePosixError(S_ISREG(status.st_mode) ? error : EINVAL);
		}
		const int locked = RetryingFlock(descriptor, LOCK_EX | LOCK_NB);
		if (locked == 0)
		{
			// The holder before us may have removed the file once done: the lock must be on the file that
			// stands at the path now.
			struct stat current;
			if (::stat(fPath.c_str(), &current) == 0 && current.st_dev == status.st_dev && current.st_ino == status.st_ino)
			{
				fDescriptor = descriptor;
				return VE_OK;
			}
			::close(descriptor);
			continue;
		}
		::close(descriptor);
		if (locked != EWOULDBLOCK)
			return MakePosixError(locked);
		waited = true;
		if (waitedMs >= waitMs)
			return MakePosixError(EWOULDBLOCK);
		::usleep(useconds_t(kLockPollMs) * 1000);
		waitedMs += kLockPollMs;
	}
}

std::map<std::string, std::string> XPosixSwapLockFile::Read() const
{
	std::map<std::string, std::string> record;
	if (fDescriptor < 0)
		return record;
	std::string text;
	char buffer[4096];
	for (off_t at = 0;;)
	{
		const ssize_t got = ::pread(fDescriptor, buffer, sizeof(buffer), at);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			break;
		text.append(buffer, size_t(got));
		at += got;
	}
	// "velk-swap 1 <length>\n" then that many bytes of "name=value" lines: anything else is no record.
	const size_t magic = std::strlen(kRecordMagic);
	if (text.compare(0, magic, kRecordMagic) != 0)
		return record;
	const size_t header = text.find('\n');
	if (header == std::string::npos)
		return record;
	const size_t length = std::strtoull(text.c_str() + magic, nullptr, 10);
	if (text.size() < header + 1 + length)
		return record;
	std::istringstream lines(text.substr(header + 1, length));
	for (std::string line; std::getline(lines, line);)
	{
		const size_t equal = line.find('=');
		if (equal != std::string::npos)
			record[Unescaped(line.substr(0, equal))] = Unescaped(line.substr(equal + 1));
	}
	return record;
}

VError XPosixSwapLockFile::Write(const std::map<std::string, std::string>& record)
{
	if (fDescriptor < 0)
		return MakePosixError(EBADF);
	std::string body;
	for (const auto& [name, value] : record)
		body += Escaped(name) + "=" + Escaped(value) + "\n";
	std::string text = kRecordMagic + std::to_string(body.size()) + "\n" + body;
	// One write from offset 0: a shorter record than the last leaves a tail that its length excludes.
	size_t done = 0;
	while (done < text.size())
	{
		const ssize_t wrote = ::pwrite(fDescriptor, text.data() + done, text.size() - done, off_t(done));
		if (wrote < 0 && errno == EINTR)
			continue;
		if (wrote <= 0)
			return MakePosixError(wrote < 0 ? errno : EIO);
		done += size_t(wrote);
	}
	if (::ftruncate(fDescriptor, off_t(text.size())) != 0 || ::fdatasync(fDescriptor) != 0)
		return MakePosixError(errno);
	return VE_OK;
}

VError XPosixSwapLockFile::Remove()
{
	if (fDescriptor < 0)
		return VE_OK;
	const int removed = ::unlink(fPath.c_str()) == 0 || errno == ENOENT ? 0 : errno;
	::close(fDescriptor);
	fDescriptor = -1;
	return MakePosixError(removed);
}

}  // namespace velk
