// Processor time from the kernel's stat files: the machine's per-processor tick counters (/proc/stat) and this
// process's own time (/proc/self/stat), with the samplers that turn two readings into a busy fraction.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace plat {

// One "cpuN" line: idle is idle + iowait; busy is user + nice + system + irq + softirq + steal (the guest
// times are already inside user and nice).
struct ProcessorTicks
{
	int32_t number = 0;
	uint64_t idle = 0;
	uint64_t busy = 0;
};

// The "cpuN" lines of root's /proc/stat in their order (the machine-wide "cpu" line left out); false,
// ticks emptied, when the file cannot be read or has no such line.
bool ReadProcessorTicks(const std::string& root, std::vector<ProcessorTicks>& ticks);

// This process's processor time (user + system) and its start, in seconds since boot, from root's
// /proc/self/stat; false when it cannot be read.
bool ReadOwnProcessTimes(const std::string& root, double& processorSeconds, double& startedSecondsSinceBoot);

// The machine's busy fraction since the previous sample. Any thread may call; samples are taken under the
// sampler's lock.
class ProcessorLoadSampler
{
public:
	// True with load = busy ticks over all ticks of every processor since the previous sample (0 when no tick
	// passed). False with load 0 on the first call, when the processors listed changed (the reading starts
	// the sample again) and when the counters cannot be read (the previous sample is kept). A counter that
	// went back counts as not moved.
	bool Sample(const std::string& root, double& load);

private:
	std::mutex fMutex;
	std::vector<ProcessorTicks> fPrevious;
};

// This process's share of the machine's processors since the previous sample. Any thread may call; samples
// are taken under the sampler's lock.
class ProcessUseSampler
{
public:
	// The processor time used since the previous call (since the process started, on the first) over the
	// time elapsed and the processor count, from 0 to 1 (tick rounding can make a short interval seem
	// fuller than it was); 0 when no time elapsed. nowSecondsSinceBoot is the boot clock's reading. -1 when
	// the process's times cannot be read; the previous sample is then kept.
	double Sample(const std::string& root, double nowSecondsSinceBoot, int32_t processorCount);

private:
	std::mutex fMutex;
	bool fHasPrevious = false;
	double fPreviousProcessorSeconds = 0.0;
	double fPreviousTime = 0.0;
};

}  // namespace plat
