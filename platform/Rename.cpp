#include "platform/Rename.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TestFaults.h"

namespace plat {

namespace {

#ifdef VELK_TEST_HOOKS
struct RenameHooks
{
	std::mutex fMutex;
	int fBusyLeft = 0;
	char fBusyText[32] = {};  // the environment's count last read, to notice when it changes
	int fBusyTextLeft = 0;
	bool fFlagsRefused = false;
};

RenameHooks& GetHooks()
{
	static RenameHooks hooks;
	return hooks;
}

int InjectedBusy(const char* from)
{
	StopIfArmed("rename", from);
	if (TakeEnvironmentRenameBusy())
		return EBUSY;
	RenameHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	if (hooks.fBusyLeft > 0)
	{
		--hooks.fBusyLeft;
		return EBUSY;
	}
	const char* text = std::getenv("VELK_RENAME_BUSY");
	if (text == nullptr)
		text = "";
	if (std::strncmp(text, hooks.fBusyText, sizeof(hooks.fBusyText)) != 0)
	{
		std::snprintf(hooks.fBusyText, sizeof(hooks.fBusyText), "%s", text);
		hooks.fBusyTextLeft = std::atoi(text);
	}
	if (hooks.fBusyTextLeft > 0)
	{
		--hooks.fBusyTextLeft;
		return EBUSY;
	}
	return 0;
}

bool FlagsRefused()
{
	RenameHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	const char* text = std::getenv("VELK_RENAME_FLAGS_REFUSED");
	return hooks.fFlagsRefused || (text != nullptr && std::strcmp(text, "1") == 0);
}
// A change made, in the test build's call log.
int Recorded(const char* operation, const char* from, const char* to, int error)
{
	if (error == 0)
		RecordCall(operation, from, to);
	return error;
}
#else
constexpr int InjectedBusy(const char*)
{
	return 0;
}

constexpr bool FlagsRefused()
{
	return false;
}

constexpr int Recorded(const char*, const char*, const char*, int error)
{
	return error;
}
#endif

int RenameWithFlags(const char* from, const char* to, unsigned int flags)
{
	if (FlagsRefused())
		return EINVAL;
	return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags) == 0 ? 0 : errno;
}

// For a file system without the no-replace flag: link() fails when the target exists, so the file is never
// replaced; a file system without hard links (EPERM) gets the same check-then-rename as folders.
int RenameFileByLink(const char* from, const char* to)
{
	if (link(from, to) != 0)
		return errno;
	if (unlink(from) != 0)
	{
		// Two names for one file would look like a copy: the move is undone.
		const int error = errno;
		unlink(to);
		return error;
	}
	return 0;
}

int RenameAfterCheck(const char* from, const char* to)
{
	struct stat status;
	if (lstat(to, &status) == 0)
		return EEXIST;
	if (errno != ENOENT)
		return errno;
	return rename(from, to) == 0 ? 0 : errno;
}

}  // namespace

namespace {

int RenameExclusiveOnce(const char* from, const char* to)
{
	const int error = RenameWithFlags(from, to, RENAME_NOREPLACE);
	if (error != EINVAL)
		return error;
	struct stat status;
	if (lstat(from, &status) != 0)
		return errno;
	if (!S_ISDIR(status.st_mode))
	{
		const int linkError = RenameFileByLink(from, to);
		if (linkError != EPERM && linkError != ENOTSUP)
			return linkError;
	}
	return RenameAfterCheck(from, to);
}

}  // namespace

int RenameExclusive(const char* from, const char* to)
{
	if (int busy = InjectedBusy(from))
		return busy;
	return Recorded("rename", from, to, RenameExclusiveOnce(from, to));
}

int ExchangePaths(const char* first, const char* second)
{
	if (int busy = InjectedBusy(first))
		return busy;
	return Recorded("exchange", first, second, RenameWithFlags(first, second, RENAME_EXCHANGE));
}

int RenameReplacing(const char* from, const char* to)
{
	if (int busy = InjectedBusy(from))
		return busy;
	return Recorded("rename", from, to, rename(from, to) == 0 ? 0 : errno);
}

int RetryDelayMs(int milliseconds)
{
#ifdef VELK_TEST_HOOKS
	return ArmedRetryDelayMs(milliseconds);
#else
	return milliseconds;
#endif
}

#ifdef VELK_TEST_HOOKS
void SetRenameBusyForTesting(int count)
{
	RenameHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	hooks.fBusyLeft = count;
}

void SetRenameFlagsRefusedForTesting(bool refused)
{
	RenameHooks& hooks = GetHooks();
	std::lock_guard<std::mutex> lock(hooks.fMutex);
	hooks.fFlagsRefused = refused;
}
#endif

}  // namespace plat
