// The stack size a new thread is made with: what was asked, at least the system's minimum, in whole pages.
#pragma once

#include <climits>
#include <cstddef>
#include <pthread.h>
#include <unistd.h>

namespace velk {

inline size_t RoundUpStackSize(size_t size)
{
	const long page = sysconf(_SC_PAGESIZE);
	const size_t pageSize = page > 0 ? size_t(page) : 4096;
	if (size < size_t(PTHREAD_STACK_MIN))
		size = size_t(PTHREAD_STACK_MIN);
	return (size + pageSize - 1) / pageSize * pageSize;
}

}  // namespace velk
