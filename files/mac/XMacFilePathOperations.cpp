// The path services of XMacFile shared with the folder's half: conversions, attributes, permissions,
// times and free space on a path, the running of copies and moves, replacing from aside, and revealing.
#include "files/mac/XMacFile.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "files/VFilePath.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/memory/VMemory.h"
#include "kernel/values/VTime.h"
#include "platform/PathAttributes.h"
#include "platform/Rename.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

extern char** environ;

namespace velk {

namespace {

// Tags the path texts handed out, for the memory statistics.
constexpr int32 kPosixPathTag = FourCharCode("path");

const int64 kUnixEpoch = int64(VTime::ComputeJulianDay(1970, 1, 1)) * VTime::kMS_PER_DAY;

void FromPathTime(const plat::PathTime& time, VTime* out)
{
	if (out != nullptr)
		out->FromMilliseconds(kUnixEpoch + time.seconds * 1000 + time.nanoseconds / 1000000);
}

// A null or null-valued time is not given.
const plat::PathTime* ToPathTime(const VTime* time, plat::PathTime& out)
{
	if (time == nullptr || time->IsNull())
		return nullptr;
	int64 milliseconds = time->GetMilliseconds() - kUnixEpoch;
	int64 remainder = milliseconds % 1000;
	if (remainder < 0)
		remainder += 1000;
	out.seconds = (milliseconds - remainder) / 1000;
	out.nanoseconds = int32(remainder * 1000000);
	return &out;
}

void ClearTime(VTime* time)
{
	if (time != nullptr)
		time->Clear();
}

}  // namespace

bool XMacFile::PosixFullPathToHFS(const char* posixPath, bool pathExists, VString& out)
{
	return XMacFilePath::PosixFullPathToHFS(posixPath, pathExists, out);
}

bool XMacFile::HFSFullPathToPosix(const VString& native, VString& out)
{
	return XMacFilePath::HFSFullPathToPosix(native, out);
}

void XMacFile::GetFilePathFromPosixPath(const char* posixPath, bool isFolder, VFilePath& path)
{
	if (posixPath == nullptr)
	{
		path.Clear();
		return;
	}
	// A name that is not UTF-8 cannot be named again through UTF-16: the path counts as missing.
	std::u16string units;
	if (!FromStrictUTF8(posixPath, std::strlen(posixPath), units))
	{
		path.Clear();
		return;
	}
	VString text;
	text.AppendUniChars(reinterpret_cast<const UniChar*>(units.data()), int32(units.size()));
	if (isFolder && (text.IsEmpty() || text.GetUniChar(text.GetLength()) != u'/'))
		text.AppendUniChar(u'/');
	path.FromFullPath(text, FPS_POSIX);
}

char* XMacFile::AllocatePosixPathFromString(const VString& path)
{
	std::string bytes;
	if (!ToStrictUTF8(path.GetCPointer(), path.GetLength(), bytes))
		bytes.clear();
	char* text = static_cast<char*>(VMemory::NewPtr(bytes.size() + 1, kPosixPathTag));
	if (text != nullptr)
		std::memcpy(text, bytes.c_str(), bytes.size() + 1);
	return text;
}

char* XMacFile::AllocatePosixPathFromFilePath(const VFilePath& path)
{
	VString posix;
	path.GetPosixPath(posix);
	return AllocatePosixPathFromString(posix);
}

bool XMacFile::RealPath(const char* path, bool allowMissingLeaf, char* out, size_t outSize)
{
	if (path == nullptr || out == nullptr || outSize < 1025)
		return false;
	const size_t length = std::strlen(path);
	if (length == 0)
	{
		out[0] = 0;
		return true;
	}
	// The entry itself, a final link included: its folder's real path and its own name.
	const int descriptor = ::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
	if (descriptor >= 0)
	{
		char link[64];
		std::snprintf(link, sizeof(link), "/proc/self/fd/%d", descriptor);
		std::string real(PATH_MAX + 1, '\0');
		const ssize_t size = ::readlink(link, real.data(), real.size());
		::close(descriptor);
		if (size <= 0 || size_t(size) >= real.size())
			return false;
		real.resize(size_t(size));
		if (path[length - 1] == '/' && real.back() != '/')
			real += '/';
		if (real.size() >= outSize)
			return false;
		std::memcpy(out, real.c_str(), real.size() + 1);
		return true;
	}
	if (!allowMissingLeaf)
		return false;
	const char* slash = std::strrchr(path, '/');
	if (slash == nullptr)
		return false;
	const std::string parent = slash == path ? std::string("/") : std::string(path, size_t(slash - path));
	if (!RealPath(parent.c_str(), false, out, outSize))
		return false;
	const size_t used = std::strlen(out);
	const size_t leaf = std::strlen(slash + 1);
	const bool needsSlash = used == 0 || out[used - 1] != '/';
	if (used + (needsSlash ? 1 : 0) + leaf >= outSize)
		return false;
	if (needsSlash)
		out[used] = '/';
	std::memcpy(out + used + (needsSlash ? 1 : 0), slash + 1, leaf + 1);
	return true;
}

bool XMacFile::PosixNameBeginsWithDot(const char* posixPath)
{
	if (posixPath == nullptr)
		return false;
	size_t length = std::strlen(posixPath);
	if (length < 2)
		return false;
	if (posixPath[length - 1] == '/')
		--length;
	size_t start = length;
	while (start > 0 && posixPath[start - 1] != '/')
		--start;
	return start < length && posixPath[start] == '.';
}

VError XMacFile::GetPathAttributes(const char* path, bool follow, uint32& attrs)
{
	unsigned bits = 0;
	const int error = plat::GetPathAttributes(path, follow, bits);
	attrs = error == 0 ? bits : 0;
	return MakePosixError(error);
}

VError XMacFile::SetPathAttributes(const char* path, bool follow, uint32 attrs)
{
	return MakePosixError(plat::SetPathAttributes(path, follow, attrs));
}

VError XMacFile::GetEffectivePermission(const char* path, uint32& perm)
{
	unsigned bits = 0;
	const int error = plat::GetEffectivePermission(path, bits);
	perm = error == 0 ? bits : 0;
	return MakePosixError(error);
}

VError XMacFile::UnlockPath(const char* path, bool follow)
{
	return MakePosixError(plat::UnlockPath(path, follow));
}

VError XMacFile::GetTimeAttributes(const char* path, bool follow, VTime* modified, VTime* created, VTime* accessed)
{
	plat::PathTime times[3];
	const int error = plat::GetTimeAttributes(path, follow, &times[0], &times[1], &times[2]);
	if (error != 0)
	{
		ClearTime(modified);
		ClearTime(created);
		ClearTime(accessed);
		return MakePosixError(error);
	}
	FromPathTime(times[0], modified);
	FromPathTime(times[1], created);
	FromPathTime(times[2], accessed);
	return VE_OK;
}

VError XMacFile::SetTimeAttributes(const char* path, const VTime* modified, const VTime* created, const VTime* accessed)
{
	plat::PathTime times[3];
	return MakePosixError(plat::SetTimeAttributes(path, ToPathTime(modified, times[0]), ToPathTime(created, times[1]), ToPathTime(accessed, times[2])));
}

VError XMacFile::GetVolumeFreeSpace(const char* path, int64* free, int64* total, bool withQuotas)
{
	int64_t available = 0;
	int64_t size = 0;
	const int error = plat::GetVolumeFreeSpace(path, -1, withQuotas, &available, &size);
	if (error == 0 && free != nullptr)
		*free = available;
	if (error == 0 && total != nullptr)
		*total = size;
	return MakePosixError(error);
}

int XMacFile::_RunCopyOrMove(const std::function<int()>& work)
{
	VTask* task = VTask::GetCurrent();
	if (task == nullptr || !task->IsFiber())
		return work();

	// The fiber's thread runs other fibers while this one waits, so the work must not run on it.
	VSyncEvent done;
	int result = 0;
	try
	{
		std::thread worker([&]() {
			result = work();
			// A fiber scheduler that polls for events would otherwise see the set event only at its next poll.
			const bool waited = done.GetFiberWaiterCount() != 0;
			done.Unlock();
			if (waited)
				VTaskMgr::Get()->WakeUpSystemEventPolling();
		});
		done.Lock();
		worker.join();
	}
	catch (...)
	{
		// No thread to be had: the copy blocks the other fibers, but it is made.
		return work();
	}
	return result;
}

int XMacFile::_ReplaceFromAside(const std::string& path, const std::function<int(const std::string& aside)>& make)
{
	static std::atomic<uint32> sCounter{0};
	const size_t slash = path.rfind('/');
	const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
	const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
	int error = EEXIST;
	for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt)
	{
		const std::string aside = folder + "." + name + ".vlk-" + std::to_string(::getpid()) + "-" + std::to_string(sCounter++);
		error = make(aside);
		if (error == 0)
		{
			error = plat::RenameReplacing(aside.c_str(), path.c_str());
			if (error != 0)
				::unlink(aside.c_str());
			return error;
		}
	}
	return error;
}

void XMacFile::_RevealFolder(const std::string& folder)
{
	const char* display = std::getenv("DISPLAY");
	const char* wayland = std::getenv("WAYLAND_DISPLAY");
	if ((display == nullptr || *display == 0) && (wayland == nullptr || *wayland == 0))
		return;
	std::string target = folder;
	char program[] = "xdg-open";
	char* arguments[] = {program, target.data(), nullptr};
	pid_t child = 0;
	if (::posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0)
		return;
	// Reaped aside so that the caller neither waits for the file manager nor leaves a zombie.
	try
	{
		std::thread([child]() {
			while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR)
				continue;
		}).detach();
	}
	catch (...)
	{
	}
}

}  // namespace velk
