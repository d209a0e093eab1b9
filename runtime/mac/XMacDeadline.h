// Absolute deadline on the monotonic clock, for the timed waits of events and sleeping tasks.
#pragma once

#include <ctime>

#include "kernel/VKernelTypes.h"

namespace velk {

// Now plus milliseconds on CLOCK_MONOTONIC, normalised.
inline timespec MonotonicDeadlineIn(int32 milliseconds)
{
	timespec deadline;
	clock_gettime(CLOCK_MONOTONIC, &deadline);
	deadline.tv_sec += milliseconds / 1000;
	deadline.tv_nsec += long(milliseconds % 1000) * 1000000L;
	if (deadline.tv_nsec >= 1000000000L)
	{
		deadline.tv_sec += 1;
		deadline.tv_nsec -= 1000000000L;
	}
	return deadline;
}

}  // namespace velk
