#include "updater/mac/XPosixBundleSwap.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>

#include "files/VFilePath.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/strings/VString.h"
#include "platform/FileOperations.h"
#include "platform/FolderWalk.h"
#include "platform/JournalFile.h"
#include "platform/ProcFiles.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/TreeCopy.h"

namespace velk {

namespace {

std::string SystemPath(const VFilePath& path)
{
	return XMacFilePath::ToSystemFolderPath(path);
}

// A record's texts with '\\', '\n' and '=' escaped, so that any name fits on its line.
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

std::string CommandName(const std::string& pid)
{
	std::string name = plat::ReadTextFile("/proc/" + pid + "/comm", 256);
	while (!name.empty() && name.back() == '\n')
		name.pop_back();
	return name;
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

uint64 XPosixBundleSwap::GetInodeInFolder(const VFilePath& path)
{
	const std::string system = SystemPath(path);
	struct stat entry;
	struct stat folder;
	if (system.empty() || ::lstat(system.c_str(), &entry) != 0 || ::stat(plat::ParentFolderOf(system).c_str(), &folder) != 0)
		return 0;
	return entry.st_dev == folder.st_dev ? uint64(entry.st_ino) : 0;
}

VError XPosixBundleSwap::Exchange(const VFilePath& first, const VFilePath& second)
{
	return MakePosixError(plat::ExchangePaths(SystemPath(first).c_str(), SystemPath(second).c_str()));
}

VError XPosixBundleSwap::RenameExclusive(const VFilePath& from, const VFilePath& to)
{
	return MakePosixError(plat::RenameExclusive(SystemPath(from).c_str(), SystemPath(to).c_str()));
}

VError XPosixBundleSwap::MakeFolder(const VFilePath& folder)
{
	return MakePosixError(plat::MakeFolder(SystemPath(folder).c_str(), 0700));
}

VError XPosixBundleSwap::SyncFileSystem(const VFilePath& folder)
{
	return MakePosixError(plat::SyncFileSystem(SystemPath(folder).c_str()));
}

VError XPosixBundleSwap::SyncFolder(const VFilePath& folder)
{
	return MakePosixError(plat::SyncFolder(SystemPath(folder).c_str()));
}

VError XPosixBundleSwap::SyncTrashFor(const VFilePath& path)
{
	return MakePosixError(plat::SyncTrashFor(SystemPath(path).c_str()));
}

int32 XPosixBundleSwap::GetRetryDelay(int32 milliseconds)
{
	return int32(plat::RetryDelayMs(int(milliseconds)));
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
	const std::string root = SystemPath(folder);
	return root.empty() ? 0 : int64(plat::CountTreeEntries(root.c_str()));
}

std::vector<std::string> XPosixBundleSwap::ListNames(const VFilePath& folder)
{
	std::vector<std::string> names;
	DIR* listing = ::opendir(SystemPath(folder).c_str());
	if (listing == nullptr)
		return names;
	while (const dirent* entry = ::readdir(listing))
	{
		if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
			names.emplace_back(entry->d_name);
	}
	::closedir(listing);
	return names;
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
	const std::string text = plat::ReadTextFile("/proc/" + std::to_string(pid) + "/stat", 4096);
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

std::string XPosixBundleSwap::GetBootID()
{
	std::string boot = plat::ReadTextFile("/proc/sys/kernel/random/boot_id", 64);
	while (!boot.empty() && (boot.back() == '\n' || boot.back() == ' '))
		boot.pop_back();
	return boot;
}

bool XPosixBundleSwap::IsProcessRunning(int32 pid, uint64 startTime, const std::string& bootID)
{
	if (pid <= 0)
		return false;
	if (!bootID.empty() && bootID != GetBootID())
		return false;
	if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
		return false;
	return GetProcessStartTime(pid) == startTime;
}

bool XPosixBundleSwap::IsRunningUpdater(int32 pid)
{
	if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
		return false;
	const std::string name = CommandName(std::to_string(pid));
	return !name.empty() && name == CommandName("self");
}

bool XPosixBundleSwap::IsRunningUpdaterOf(int32 pid, const VFilePath& path)
{
	if (!IsRunningUpdater(pid))
		return false;
	const int64 changed = GetChangeTime(path);
	const long ticks = ::sysconf(_SC_CLK_TCK);
	timespec now;
	timespec sinceBoot;
	if (changed == 0 || ticks <= 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0 ||
		::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
		return true;
	const auto nanoseconds = [](const timespec& time) { return int64(time.tv_sec) * 1000000000 + time.tv_nsec; };
	const int64 started = nanoseconds(now) - nanoseconds(sinceBoot) + int64(GetProcessStartTime(pid)) * (1000000000 / ticks);
	// The start time is counted in clock ticks and the two clocks are read apart: a second of slack.
	return started <= changed + 1000000000;
}

bool XPosixBundleSwap::IsOwnPlainFolder(const VFilePath& path)
{
	const std::string system = SystemPath(path);
	struct statx status;
	if (system.empty() || ::statx(AT_FDCWD, system.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &status) != 0 ||
		!S_ISDIR(status.stx_mode) || status.stx_uid != ::geteuid())
		return false;
	if ((status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
		return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) == 0;
	// A kernel without the mount flag: another file system mounted there shows as another device.
	struct stat folder;
	return ::stat(plat::ParentFolderOf(system).c_str(), &folder) == 0 && folder.st_dev == makedev(status.stx_dev_major, status.stx_dev_minor);
}

bool XPosixBundleSwap::IsPlainFolder(const VFilePath& path)
{
	struct stat status;
	const std::string system = SystemPath(path);
	return !system.empty() && ::lstat(system.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int64 XPosixBundleSwap::GetChangeTime(const VFilePath& path)
{
	struct stat status;
	const std::string system = SystemPath(path);
	if (system.empty() || ::lstat(system.c_str(), &status) != 0)
		return 0;
	return int64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
}

XPosixSwapLockFile::XPosixSwapLockFile(const VFilePath& path)
	: fFile(new (std::nothrow) plat::JournalFile(XMacFilePath::ToSystemPath(path)))
{
}

XPosixSwapLockFile::~XPosixSwapLockFile()
{
	delete fFile;
}

VError XPosixSwapLockFile::Lock(int32 waitMs, bool& waited)
{
	waited = false;
	return MakePosixError(fFile != nullptr ? fFile->Lock(int(waitMs), waited) : ENOMEM);
}

bool XPosixSwapLockFile::IsLocked() const
{
	return fFile != nullptr && fFile->IsLocked();
}

std::map<std::string, std::string> XPosixSwapLockFile::Read(bool* torn, bool* unreadable) const
{
	std::map<std::string, std::string> record;
	std::string text;
	bool tornSlot = false;
	const bool read = fFile != nullptr && fFile->Read(text, tornSlot) == 0;
	if (!read)
		text.clear();
	if (torn != nullptr)
		*torn = tornSlot;
	if (unreadable != nullptr)
		*unreadable = fFile != nullptr && fFile->WasFound() && (!read || !fFile->HasRecord());
	// "name=value" lines.
	std::istringstream lines(text);
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
	std::string text;
	for (const auto& [name, value] : record)
		text += Escaped(name) + "=" + Escaped(value) + "\n";
	return MakePosixError(fFile != nullptr ? fFile->Write(text) : EBADF);
}

VError XPosixSwapLockFile::Remove()
{
	return MakePosixError(fFile != nullptr ? fFile->Remove() : 0);
}

}  // namespace velk
