// The processor time of one thread of this process, as the kernel counts it in /proc/self/task/<tid>/stat.
#pragma once

#include <cstdint>

namespace plat {

struct ThreadTimes
{
	double userSeconds = 0.0;
	double systemSeconds = 0.0;
	double startedSecondsSinceBoot = 0.0;  // when the thread started, on the clock of GetBootClockSeconds
};

// The calling thread's kernel id, the <tid> of its stat file.
int32_t GetCurrentKernelThreadID();

// The times of the thread of this process whose kernel id is threadID, to the kernel's clock tick. False, times
// all zero, when there is no such thread (it ended) or its stat file cannot be read.
bool ReadThreadTimes(int32_t threadID, ThreadTimes& times);

// Seconds since the machine booted, time spent suspended included, to the nanosecond; thread start times are
// counted on this clock. 0 when it cannot be read.
double GetBootClockSeconds();

}  // namespace plat
