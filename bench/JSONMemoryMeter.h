// The most heap a piece of work held at once, for the memory column beside the JSON parse rows. The
// benchmark program takes malloc and its family over (JSONMemoryMeter.cpp) and counts the bytes of every
// block while a meter runs, whichever library allocates them; outside a measure nothing is counted.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <utility>

namespace velk::bench {

class JSONMemoryMeter
{
public:
	// Counting starts from the heap as it stands; one meter at a time.
	JSONMemoryMeter();
	~JSONMemoryMeter();
	JSONMemoryMeter(const JSONMemoryMeter&) = delete;
	JSONMemoryMeter& operator=(const JSONMemoryMeter&) = delete;

	// The largest number of bytes held above the start so far, blocks freed meanwhile deducted.
	size_t GetPeak() const;
};

// Runs work once under a meter and reports its peak as the "peak_mem" counter (bytes, shown in MiB
// steps) of state.
template <class Work>
void ReportPeakMemory(benchmark::State& state, Work&& work)
{
	size_t peak = 0;
	{
		JSONMemoryMeter meter;
		std::forward<Work>(work)();
		peak = meter.GetPeak();
	}
	state.counters["peak_mem"] = benchmark::Counter(double(peak), benchmark::Counter::kDefaults,
		benchmark::Counter::kIs1024);
}

}  // namespace velk::bench
