// Out-of-memory drills for tests: the test programs replace the global operator new so that a scope can
// make the calling thread's allocations fail on demand (throwing forms throw std::bad_alloc, nothrow
// forms answer null). Other threads and code outside such a scope allocate normally.
#pragma once

#include <cstddef>
#include <functional>

namespace velk::test {

class StFailingAllocations
{
public:
	// Lets `allowed` more allocations through on this thread, then refuses every later one until the scope
	// ends. Scopes do not nest.
	explicit StFailingAllocations(long allowed = 0);
	~StFailingAllocations();
	StFailingAllocations(const StFailingAllocations&) = delete;
	StFailingAllocations& operator=(const StFailingAllocations&) = delete;

	// Allocations refused on this thread since the scope began.
	long GetRefusedCount() const;
};

// Runs `action` once for every allocation it makes, each time refusing allocations from that one on
// (0, then 1, then 2...), until a run completes without any refusal; `action` checks its own state after
// each run and receives the number of allocations that were let through. Returns the number of runs, so
// a caller can check that the path it meant to drill allocates at all. Stops after `maxRuns`.
long ForEachAllocationFailure(const std::function<void(long allowed)>& action, long maxRuns = 10000);

}  // namespace velk::test
