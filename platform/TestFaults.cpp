#include "platform/TestFaults.h"

#ifdef VELK_TEST_HOOKS

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace plat {

namespace {

struct ArmedFaults
{
	std::string fCopyName;
	int fCopyError = 0;
	int fWriteError = 0;
	std::atomic<int> fBusyLeft{0};
	std::string fKillOperation;
	std::string fKillName;
	std::atomic<int> fKillCountdown{1};  // matches left until the kill
	int fKillSignal = SIGKILL;
	std::string fPauseOperation;
	std::string fPauseName;
	std::string fPauseFile;
	std::atomic<bool> fPaused{false};
	std::string fCallLog;
	std::string fPointLog;
	int fRetryDelayMs = -1;
};

struct NamedNumber
{
	const char* fName;
	int fNumber;
};

// The number a name of the table stands for, else the text read as a number.
template <size_t N>
int ParseNamedNumber(const std::string& text, const NamedNumber (&names)[N])
{
	for (const NamedNumber& name : names)
	{
		if (text == name.fName)
			return name.fNumber;
	}
	return std::atoi(text.c_str());
}

int ParseErrorNumber(const std::string& text)
{
	static const NamedNumber kNames[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EACCES", EACCES}, {"EPERM", EPERM},
		{"EBUSY", EBUSY}, {"EROFS", EROFS}, {"EDQUOT", EDQUOT}};
	return ParseNamedNumber(text, kNames);
}

int ParseSignalNumber(const std::string& text)
{
	static const NamedNumber kNames[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP},
		{"SIGQUIT", SIGQUIT}, {"SIGUSR1", SIGUSR1}};
	return ParseNamedNumber(text, kNames);
}

std::string Variable(const char* name)
{
	const char* value = std::getenv(name);
	return value != nullptr ? std::string(value) : std::string();
}

// "<first>:<second>", split at the last colon for a name first and at the first for an operation first.
bool Split(const std::string& text, bool nameFirst, std::string& first, std::string& second)
{
	const size_t colon = nameFirst ? text.rfind(':') : text.find(':');
	if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
		return false;
	first = text.substr(0, colon);
	second = text.substr(colon + 1);
	return true;
}

ArmedFaults& GetFaults()
{
	static ArmedFaults* faults = [] {
		// Never destroyed: worker threads may still ask while the process exits.
		ArmedFaults* armed = new ArmedFaults;
		std::string error;
		if (Split(Variable("VELK_TEST_COPY_FAULT"), true, armed->fCopyName, error))
			armed->fCopyError = ParseErrorNumber(error);
		armed->fWriteError = ParseErrorNumber(Variable("VELK_TEST_WRITE_FAULT"));
		armed->fBusyLeft.store(std::atoi(Variable("VELK_TEST_RENAME_BUSY").c_str()));
		Split(Variable("VELK_TEST_KILL_AT"), false, armed->fKillOperation, armed->fKillName);
		const size_t count = armed->fKillName.rfind('#');
		if (count != std::string::npos && count > 0 && count + 1 < armed->fKillName.size() &&
			armed->fKillName.find_first_not_of("0123456789", count + 1) == std::string::npos)
		{
			armed->fKillCountdown.store(std::max(std::atoi(armed->fKillName.c_str() + count + 1), 1));
			armed->fKillName.erase(count);
		}
		const std::string signal = Variable("VELK_TEST_KILL_SIGNAL");
		if (const int number = signal.empty() ? 0 : ParseSignalNumber(signal); number > 0)
			armed->fKillSignal = number;
		armed->fCallLog = Variable("VELK_TEST_CALL_LOG");
		armed->fPointLog = Variable("VELK_TEST_POINT_LOG");
		const std::string delay = Variable("VELK_TEST_RETRY_DELAY_MS");
		if (!delay.empty())
			armed->fRetryDelayMs = std::max(std::atoi(delay.c_str()), 0);
		Split(Variable("VELK_TEST_PAUSE_AT"), false, armed->fPauseOperation, armed->fPauseName);
		armed->fPauseFile = Variable("VELK_TEST_PAUSE_FILE");
		return armed;
	}();
	return *faults;
}

// The name of the entry at path, trailing slashes aside: "Sample.app" for "/a/Sample.app/".
std::string LastComponent(const std::string& path)
{
	const size_t end = path.find_last_not_of('/');
	if (end == std::string::npos)
		return std::string();
	const size_t slash = path.rfind('/', end);
	const size_t start = slash == std::string::npos ? 0 : slash + 1;
	return path.substr(start, end + 1 - start);
}

// Whether the entry at path bears the armed name: the same name, or one that begins with the part before
// a final '*'.
bool NameMatches(const std::string& armed, const std::string& path)
{
	const std::string name = LastComponent(path);
	if (!armed.empty() && armed.back() == '*')
		return name.compare(0, armed.size() - 1, armed, 0, armed.size() - 1) == 0;
	return name == armed;
}

// Appends the line with one write of an appending descriptor: lines of several threads never mix.
void AppendLine(const std::string& file, const std::string& line)
{
	const int log = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
	if (log < 0)
		return;
	const ssize_t written = ::write(log, line.data(), line.size());
	(void) written;
	::close(log);
}

// The folder's names, sorted, each after a space.
std::string ListedNames(const std::string& folder)
{
	std::vector<std::string> names;
	if (DIR* listing = ::opendir(folder.c_str()))
	{
		while (const dirent* entry = ::readdir(listing))
		{
			if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
				names.emplace_back(entry->d_name);
		}
		::closedir(listing);
	}
	std::sort(names.begin(), names.end());
	std::string text;
	for (const std::string& name : names)
		text += " " + name;
	return text;
}

}  // namespace

int EnvironmentCopyFault(const std::string& path)
{
	const ArmedFaults& faults = GetFaults();
	return faults.fCopyError != 0 && LastComponent(path) == faults.fCopyName ? faults.fCopyError : 0;
}

int EnvironmentWriteFault()
{
	return GetFaults().fWriteError;
}

bool TakeEnvironmentRenameBusy()
{
	std::atomic<int>& left = GetFaults().fBusyLeft;
	int count = left.load();
	while (count > 0)
	{
		if (left.compare_exchange_weak(count, count - 1))
			return true;
	}
	return false;
}

void StopIfArmed(const char* operation, const std::string& path)
{
	ArmedFaults& faults = GetFaults();
	if (!faults.fPointLog.empty())
		AppendLine(faults.fPointLog, std::string(operation) + " " + LastComponent(path) + "\n");
	if (!faults.fKillName.empty() && faults.fKillOperation == operation && NameMatches(faults.fKillName, path) &&
		faults.fKillCountdown.fetch_sub(1) == 1)
	{
		if (faults.fKillSignal == SIGKILL)
			::kill(::getpid(), SIGKILL);
		else
			::raise(faults.fKillSignal);
	}
	if (faults.fPauseName.empty() || faults.fPauseFile.empty() || faults.fPauseOperation != operation ||
		!NameMatches(faults.fPauseName, path) || faults.fPaused.exchange(true))
		return;
	const int marker = ::open(faults.fPauseFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
	if (marker < 0)
		return;
	::close(marker);
	for (int waited = 0; waited < 60000 && ::access(faults.fPauseFile.c_str(), F_OK) == 0; waited += 10)
		::usleep(10000);
}

void RecordCall(const char* operation, const std::string& first, const std::string& second)
{
	const ArmedFaults& faults = GetFaults();
	if (faults.fCallLog.empty())
		return;
	// Appended piece by piece: GCC 12 warns (-Wrestrict) on a literal + temporary string here.
	std::string line = std::string(operation) + " " + first;
	if (!second.empty())
	{
		line += " ";
		line += second;
	}
	if (std::strcmp(operation, "sync") == 0)
	{
		line += ":";
		line += ListedNames(first);
	}
	line += "\n";
	AppendLine(faults.fCallLog, line);
}

int ArmedRetryDelayMs(int milliseconds)
{
	const int armed = GetFaults().fRetryDelayMs;
	return armed >= 0 ? armed : milliseconds;
}

}  // namespace plat

#endif
