#include "platform/ThreadTimes.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

// Fields of a stat line counted from the state, the first field after the command name.
constexpr int kUserTimeField = 11;
constexpr int kSystemTimeField = 12;
constexpr int kStartTimeField = 19;

}  // namespace

int32_t GetCurrentKernelThreadID()
{
	return int32_t(::gettid());
}

bool ReadThreadTimes(int32_t threadID, ThreadTimes& times)
{
	times = ThreadTimes();
	const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
	if (threadID <= 0 || ticksPerSecond <= 0)
		return false;
	char path[64];
	std::snprintf(path, sizeof(path), "/proc/self/task/%d/stat", int(threadID));
	const std::string text = ReadTextFile(path, 4096);
	// The command name sits in parentheses and may hold blanks and parentheses of its own (a task's thread
	// is named "name (id = n)"): the fields start after the last ')'.
	const size_t close = text.rfind(')');
	if (close == std::string::npos)
		return false;
	unsigned long long values[kStartTimeField + 1] = {};
	const char* p = text.c_str() + close + 1;
	for (int field = 0; field <= kStartTimeField; ++field)
	{
		while (*p == ' ')
			++p;
		if (*p == 0 || *p == '\n')
			return false;
		if (field == 0)
			++p;  // the state is a letter
		else
		{
			char* end = nullptr;
			values[field] = std::strtoull(p, &end, 10);
			if (end == p)
				return false;
			p = end;
		}
		while (*p != ' ' && *p != 0 && *p != '\n')
			++p;
	}
	times.userSeconds = double(values[kUserTimeField]) / double(ticksPerSecond);
	times.systemSeconds = double(values[kSystemTimeField]) / double(ticksPerSecond);
	times.startedSecondsSinceBoot = double(values[kStartTimeField]) / double(ticksPerSecond);
	return true;
}

double GetBootClockSeconds()
{
	timespec now {};
	if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
		return 0.0;
	return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

}  // namespace plat
