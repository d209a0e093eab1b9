// Leak accounting embedded in the memory manager: counts the blocks registered with a stack crawl while the
// check is on, and opens the leaks report file beside the main bundle.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "kernel/VKernelTypes.h"

namespace velk {

class XMacStackCrawl;

class VELK_API VLeaksChecker
{
public:
	VLeaksChecker() = default;
	virtual ~VLeaksChecker() = default;

	// Returns the previous state.
	bool SetLeaksCheck(bool on);
	// Innermost frames left out of every crawl (4 at creation: the allocator's own); below 0 counts as 0.
	void SetStackFramesToSkip(int32 count);

	// While the check is on, captures the caller's stack into crawl (8 frames) and counts a leak when any
	// frame was kept; otherwise crawl is left alone.
	void RegisterBlock(XMacStackCrawl& crawl);
	// Uncounts a block whose crawl holds frames.
	void UnregisterBlock(XMacStackCrawl& crawl);

	// "<bundle path without extension>.<suffix>.leaks" opened for writing, holding the date line and the leak
	// count line; the caller writes the rest and closes it. Null without a main bundle, for a null suffix or
	// when it cannot be opened.
	FILE* OpenDumpFile(const char* suffix);

	// The report's path for a bundle: only the last component loses its extension ("/a.b/App.app" gives
	// "/a.b/App.<suffix>.leaks"). Empty for an empty bundle path or one of 4096 bytes and more.
	static std::string ComputeDumpFilePath(const std::string& bundlePath, const char* suffix);

	int32 GetLeaksCount() const { return fLeaksCount.load(std::memory_order_relaxed); }

private:
	// Blocks are registered from any thread, outside the manager's lock: the counter and flag are atomic.
	std::atomic<int32> fStackFramesToSkip = 4;
	std::atomic<int32> fLeaksCount = 0;
	std::atomic<bool> fCheck = false;
};

}  // namespace velk
