// Folder-level change events of a folder tree, read from inotify: one watch for each folder the owner names,
// kept in step with its list, and the events of a short span gathered into one batch delivered on a run loop.
// An event names the folder whose entries changed, never the entry: the owner compares what it knew of that
// folder with what is there now.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/RunLoop.h"

namespace plat {

class FolderEventStream
{
public:
	// Event flags; an event without flags is a change among the entries of its folder.
	static constexpr uint32_t kMustScanSubFolders = 1;	// events were lost: the folder's whole tree may differ
	static constexpr uint32_t kKernelDropped = 4;		// the kernel's queue overflowed (with kMustScanSubFolders)
	static constexpr uint32_t kRootChanged = 32;		// the root itself was deleted or given a new name

	struct Event
	{
		std::string fPath;	// a folder as the owner named it; the root for a root or overflow event
		uint32_t fFlags = 0;
	};
	// Gets a batch, oldest event first (one folder may appear several times), on the loop's thread.
	using BatchCallback = std::function<void(const std::vector<Event>& events)>;

	// A stream of the tree at root (UTF-8, as the owner names folders): the events of latencyMs after the first
	// one of a batch (0 or less: the events of one read) form the batch. Watches nothing until WatchFolders.
	FolderEventStream(std::string root, int64_t latencyMs, BatchCallback callback);
	// Stops the stream.
	~FolderEventStream();

	FolderEventStream(const FolderEventStream&) = delete;
	FolderEventStream& operator=(const FolderEventStream&) = delete;

	// Each call below answers whether it succeeded; on failure error is the errno found, which may be 0 when
	// the system gave no reason.

	// Makes the inotify descriptor (EMFILE when the user's instances are spent).
	bool Open(int& error);

	// Watches exactly these folders from now on: the new ones are added, those no longer named removed. A
	// folder gone meanwhile is left out silently. On a started stream each new folder is also reported once
	// in the next batch, since what it held between the owner's look at it and its watch was seen by nobody.
	// Fails with the errno of the first refused watch (ENOSPC: the user's watch limit), the other folders
	// being watched all the same; EBADF before Open.
	bool WatchFolders(const std::vector<std::string>& folders, int& error);

	// Delivers the batches on loop from now on. EBADF before Open or after Stop; the errno found when the loop
	// refuses the source.
	bool Start(RunLoop& loop, int& error);

	// Stops the deliveries and closes the descriptor. Waits for a callback of the stream under way, unless
	// called from it: it must not be called holding a lock that the batch callback takes. Idempotent.
	void Stop();

#ifdef VELK_TEST_HOOKS
	// While on, every stream reads and drops its events as the kernel does when its queue overflows, and
	// reports the overflow at its first read once it is off again. Process-wide.
	static void SetDroppingEventsForTesting(bool dropping);
	// The events dropped that way since the process started.
	static uint64_t GetDroppedEventsForTesting();
	// The next count folders to be watched are refused with errno set to error (0 allowed: no reason given).
	static void SetWatchFailureForTesting(int count, int error);
#endif

private:
	// Under fMutex: appends the event, and arms the batch timer when none runs.
	void _Note(Event event);
	void _OnReadable();
	void _OnBatchDue();

	const std::string fRoot;
	const int64_t fLatencyMs;
	const BatchCallback fCallback;
	std::mutex fMutex;
	// Under fMutex:
	int fDescriptor = -1;
	RunLoop* fLoop = nullptr;
	RunLoop::SourceId fSource = 0;
	RunLoop::SourceId fTimer = 0;
	bool fStopped = false;
	bool fOverflowed = false;	// events dropped by the test hook, not yet reported
	std::map<int, std::string> fFoldersByWatch;
	std::map<std::string, int> fWatchesByFolder;
	std::vector<Event> fPending;
};

}  // namespace plat
