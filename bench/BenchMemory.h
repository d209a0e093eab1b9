// The resident memory a benchmark adds while it runs: a thread samples the process's resident size every
// millisecond and keeps the highest. Run one benchmark per process for a figure of its own: memory that an
// earlier benchmark freed may still be resident and be reused without showing.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace bench {

class StPeakResident
{
public:
	StPeakResident() : fStart(ResidentBytes()), fPeak(fStart)
	{
		fSampler = std::thread([this] {
			while (!fDone.load(std::memory_order_relaxed))
			{
				fPeak = std::max(fPeak, ResidentBytes());
				std::this_thread::sleep_for(std::chrono::milliseconds(1));
			}
		});
	}
	~StPeakResident() { Stop(); }
	StPeakResident(const StPeakResident&) = delete;
	StPeakResident& operator=(const StPeakResident&) = delete;

	// The highest resident size seen above the one at construction, in MiB; ends the sampling.
	double StopMiB()
	{
		Stop();
		return double(fPeak > fStart ? fPeak - fStart : 0) / (1024.0 * 1024.0);
	}

	static long ResidentBytes()
	{
		long pages = 0;
		long resident = 0;
		if (std::FILE* file = std::fopen("/proc/self/statm", "r"))
		{
			if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
				resident = 0;
			std::fclose(file);
		}
		return resident * sysconf(_SC_PAGESIZE);
	}

private:
	void Stop()
	{
		if (fSampler.joinable())
		{
			fDone.store(true, std::memory_order_relaxed);
			fSampler.join();
			fPeak = std::max(fPeak, ResidentBytes());
		}
	}

	const long fStart;
	long fPeak;
	std::atomic<bool> fDone{false};
	std::thread fSampler;
};

}  // namespace bench
