// The process benchmarks of tasks, loggers and files need (and with it the calling thread's main task),
// made once unless another benchmark made it.
#pragma once

#include "runtime/VProcess.h"

namespace bench {

inline void EnsureProcess()
{
	static velk::VProcess* const sProcess = []
	{
		if (velk::VProcess::sInstance != nullptr)
			return velk::VProcess::sInstance;
		velk::VProcess* process = new velk::VProcess;
		process->Init(0);
		return process;
	}();
	(void)sProcess;
}

}  // namespace bench
