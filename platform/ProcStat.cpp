#include "platform/ProcStat.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

double TicksPerSecond()
{
	static const double sTicks = []
	{
		const long ticks = ::sysconf(_SC_CLK_TCK);
		return ticks > 0 ? double(ticks) : 100.0;
	}();
	return sTicks;
}

uint64_t Advance(uint64_t now, uint64_t before)
{
	return now >= before ? now - before : 0;
}

bool SameProcessors(const std::vector<ProcessorTicks>& a, const std::vector<ProcessorTicks>& b)
{
	return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ProcessorTicks& x, const ProcessorTicks& y) { return x.number == y.number; });
}

}  // namespace

bool ReadProcessorTicks(const std::string& root, std::vector<ProcessorTicks>& ticks)
{
	ticks.clear();
	const std::string text = ReadTextFile(JoinRoot(root, "/proc/stat"));
	for (const std::string& line : SplitLines(text))
	{
		if (line.compare(0, 3, "cpu") != 0 || line.size() < 4 || line[3] < '0' || line[3] > '9')
			continue;
		// Older kernels stop before steal; the missing counters are 0.
		int number = 0;
		unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
		if (std::sscanf(line.c_str(), "cpu%d %llu %llu %llu %llu %llu %llu %llu %llu", &number, &user, &nice, &system, &idle, &iowait,
				&irq, &softirq, &steal) < 5)
			continue;
		ProcessorTicks processor;
		processor.number = number;
		processor.idle = idle + iowait;
		processor.busy = user + nice + system + irq + softirq + steal;
		ticks.push_back(processor);
	}
	return !ticks.empty();
}

bool ReadOwnProcessTimes(const std::string& root, double& processorSeconds, double& startedSecondsSinceBoot)
{
	// The command name in parentheses may hold blanks and parentheses itself: the fields follow the last ')'.
	const std::string text = ReadTextFile(JoinRoot(root, "/proc/self/stat"), 4096);
	const size_t close = text.rfind(')');
	if (close == std::string::npos)
		return false;
	std::istringstream fields(text.substr(close + 1));
	std::string field;
	unsigned long long user = 0, system = 0, started = 0;
	int index = 3;	// the state, the third field
	bool complete = false;
	while (fields >> field)
	{
		char* end = nullptr;
		const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
		const bool number = *end == 0;
		if (index == 14)
			user = value;
		else if (index == 15)
			system = value;
		else if (index == 22)
		{
			started = value;
			complete = number;
			break;
		}
		if ((index == 14 || index == 15) && !number)
			return false;
		++index;
	}
	if (!complete)
		return false;
	processorSeconds = double(user + system) / TicksPerSecond();
	startedSecondsSinceBoot = double(started) / TicksPerSecond();
	return true;
}

bool ProcessorLoadSampler::Sample(const std::string& root, double& load)
{
	load = 0.0;
	std::lock_guard<std::mutex> lock(fMutex);
	std::vector<ProcessorTicks> ticks;
	if (!ReadProcessorTicks(root, ticks))
		return false;
	const bool comparable = !fPrevious.empty() && SameProcessors(ticks, fPrevious);
	if (comparable)
	{
		uint64_t idle = 0, busy = 0;
		for (size_t i = 0; i < ticks.size(); ++i)
		{
			idle += Advance(ticks[i].idle, fPrevious[i].idle);
			busy += Advance(ticks[i].busy, fPrevious[i].busy);
		}
		// The busy fraction of all processors together is already the machine's: no further division by
		// their count.
		const uint64_t total = idle + busy;
		load = double(busy) / double(total == 0 ? 1 : total);
	}
	fPrevious.swap(ticks);
	return comparable;
}

double ProcessUseSampler::Sample(const std::string& root, double nowSecondsSinceBoot, int32_t processorCount)
{
	std::lock_guard<std::mutex> lock(fMutex);
	double processorSeconds = 0.0, started = 0.0;
	if (!ReadOwnProcessTimes(root, processorSeconds, started))
		return -1.0;
	const double since = fHasPrevious ? fPreviousTime : started;
	const double used = processorSeconds - (fHasPrevious ? fPreviousProcessorSeconds : 0.0);
	fHasPrevious = true;
	fPreviousTime = nowSecondsSinceBoot;
	fPreviousProcessorSeconds = processorSeconds;
	const double elapsed = nowSecondsSinceBoot - since;
	if (elapsed <= 0.0 || used <= 0.0)
		return 0.0;
	return std::min(used / elapsed / double(std::max<int32_t>(processorCount, 1)), 1.0);
}

}  // namespace plat
