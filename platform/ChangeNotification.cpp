#include "platform/ChangeNotification.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <set>
#include <utility>

namespace plat {

namespace {

// What changes the entries of a folder or the times they carry; and what happens to the folder itself.
constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;

#ifdef VELK_TEST_HOOKS
std::atomic<bool> sDroppingForTesting {false};
std::atomic<uint64_t> sDroppedForTesting {0};
std::mutex sWatchFailureMutex;
int sWatchFailuresLeft = 0;
int sWatchFailure = 0;
#endif

int AddWatch(int descriptor, const char* folder, uint32_t mask)
{
#ifdef VELK_TEST_HOOKS
	{
		std::lock_guard<std::mutex> guard(sWatchFailureMutex);
		if (sWatchFailuresLeft > 0)
		{
			--sWatchFailuresLeft;
			errno = sWatchFailure;
			return -1;
		}
	}
#endif
	return ::inotify_add_watch(descriptor, folder, mask);
}

}  // namespace

FolderEventStream::FolderEventStream(std::string root, int64_t latencyMs, BatchCallback callback)
	: fRoot(std::move(root))
	, fLatencyMs(latencyMs > 0 ? latencyMs : 0)
	, fCallback(std::move(callback))
{
}

FolderEventStream::~FolderEventStream()
{
	Stop();
}

bool FolderEventStream::Open(int& error)
{
	std::lock_guard<std::mutex> guard(fMutex);
	if (fDescriptor >= 0)
		return true;
	const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
	if (descriptor < 0)
	{
		error = errno;
		return false;
	}
	fDescriptor = descriptor;
	return true;
}

bool FolderEventStream::WatchFolders(const std::vector<std::string>& folders, int& error)
{
	std::lock_guard<std::mutex> guard(fMutex);
	if (fDescriptor < 0)
	{
		error = EBADF;
		return false;
	}
	bool refused = false;
	try
	{
		const std::set<std::string> wanted(folders.begin(), folders.end());
		for (auto it = fWatchesByFolder.begin(); it != fWatchesByFolder.end();)
		{
			if (wanted.count(it->first) == 0)
			{
				::inotify_rm_watch(fDescriptor, it->second);
				fFoldersByWatch.erase(it->second);
				it = fWatchesByFolder.erase(it);
			}
			else
				++it;
		}
		for (const std::string& folder : wanted)
		{
			if (fWatchesByFolder.count(folder) != 0)
				continue;
			// Only the root may be reached through a link; a link inside the tree is an entry, not a folder.
			const uint32_t mask = kEntryEvents | kSelfEvents | IN_ONLYDIR | (folder == fRoot ? 0 : IN_DONT_FOLLOW);
			const int watch = AddWatch(fDescriptor, folder.c_str(), mask);
			if (watch < 0)
			{
				// A folder deleted or replaced since the owner listed it is no longer part of the tree.
				if (errno != ENOENT && errno != ENOTDIR && !refused)
				{
					refused = true;
					error = errno;
				}
				continue;
			}
			fFoldersByWatch[watch] = folder;
			fWatchesByFolder[folder] = watch;
			if (fSource != 0)
				_Note(Event {folder, 0});
		}
	}
	catch (const std::bad_alloc&)
	{
		error = ENOMEM;
		return false;
	}
	return !refused;
}

bool FolderEventStream::Start(RunLoop& loop, int& error)
{
	std::lock_guard<std::mutex> guard(fMutex);
	if (fDescriptor < 0 || fStopped)
	{
		error = EBADF;
		return false;
	}
	if (fSource != 0)
		return true;
	errno = 0;
	fSource = loop.AddDescriptor(fDescriptor, POLLIN, [this](short) { _OnReadable(); });
	if (fSource == 0)
	{
		error = errno;
		return false;
	}
	fLoop = &loop;
	return true;
}

void FolderEventStream::Stop()
{
	RunLoop* loop;
	RunLoop::SourceId source, timer;
	{
		std::lock_guard<std::mutex> guard(fMutex);
		fStopped = true;
		loop = fLoop;
		source = std::exchange(fSource, 0);
		timer = std::exchange(fTimer, 0);
	}
	// Outside the lock: a callback under way takes it, and Remove waits for that callback to return.
	if (loop != nullptr)
	{
		if (source != 0)
			loop->Remove(source);
		if (timer != 0)
			loop->Remove(timer);
	}
	std::lock_guard<std::mutex> guard(fMutex);
	if (fDescriptor >= 0)
		::close(fDescriptor);
	fDescriptor = -1;
	fFoldersByWatch.clear();
	fWatchesByFolder.clear();
	fPending.clear();
}

void FolderEventStream::_Note(Event event)
{
	fPending.push_back(std::move(event));
	if (fTimer == 0 && fLoop != nullptr && !fStopped)
		fTimer = fLoop->AddTimer(fLatencyMs, 0, [this] { _OnBatchDue(); });
}

void FolderEventStream::_OnReadable()
{
	alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
	std::lock_guard<std::mutex> guard(fMutex);
	if (fStopped || fDescriptor < 0)
		return;
	try
	{
		for (;;)
		{
			const ssize_t length = ::read(fDescriptor, buffer, sizeof(buffer));
			if (length <= 0)
				break;
#ifdef VELK_TEST_HOOKS
			if (sDroppingForTesting.load())
			{
				for (ssize_t at = 0; at < length;)
				{
					at += ssize_t(sizeof(inotify_event)) + reinterpret_cast<const inotify_event*>(buffer + at)->len;
					sDroppedForTesting.fetch_add(1);
				}
				fOverflowed = true;
				continue;
			}
			if (std::exchange(fOverflowed, false))
				_Note(Event {fRoot, kMustScanSubFolders | kKernelDropped});
#endif
			for (ssize_t at = 0; at < length;)
			{
				const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
				at += ssize_t(sizeof(inotify_event)) + event->len;
				if ((event->mask & IN_Q_OVERFLOW) != 0)
				{
					_Note(Event {fRoot, kMustScanSubFolders | kKernelDropped});
					continue;
				}
				const auto found = fFoldersByWatch.find(event->wd);
				if (found == fFoldersByWatch.end())
					continue;
				if ((event->mask & IN_IGNORED) != 0)
				{
					// The folder went, and its watch with it.
					fWatchesByFolder.erase(found->second);
					fFoldersByWatch.erase(found);
					continue;
				}
				if ((event->mask & kSelfEvents) != 0)
				{
					// A sub-folder's own end shows in its parent's entries; only the root's is an event.
					if (found->second == fRoot)
						_Note(Event {fRoot, kRootChanged});
					continue;
				}
				if ((event->mask & kEntryEvents) != 0)
					_Note(Event {found->second, 0});
			}
		}
	}
	catch (const std::bad_alloc&)
	{
		// What could not be noted is lost as in an overflow: the owner scans the whole tree.
		fPending.clear();
		try
		{
			_Note(Event {fRoot, kMustScanSubFolders | kKernelDropped});
		}
		catch (const std::bad_alloc&)
		{
		}
	}
}

void FolderEventStream::_OnBatchDue()
{
	std::vector<Event> batch;
	{
		std::lock_guard<std::mutex> guard(fMutex);
		if (fStopped)
			return;
		// fTimer keeps the fired timer's id until the batch is delivered, so that Stop waits for it.
		batch.swap(fPending);
	}
	if (!batch.empty())
		fCallback(batch);
	std::lock_guard<std::mutex> guard(fMutex);
	fTimer = 0;
	// What came during the delivery (new folders watched by it among others) makes the next batch.
	if (!fPending.empty() && !fStopped && fLoop != nullptr)
		fTimer = fLoop->AddTimer(fLatencyMs, 0, [this] { _OnBatchDue(); });
}

#ifdef VELK_TEST_HOOKS
void FolderEventStream::SetDroppingEventsForTesting(bool dropping)
{
	sDroppingForTesting.store(dropping);
}

uint64_t FolderEventStream::GetDroppedEventsForTesting()
{
	return sDroppedForTesting.load();
}

void FolderEventStream::SetWatchFailureForTesting(int count, int error)
{
	std::lock_guard<std::mutex> guard(sWatchFailureMutex);
	sWatchFailuresLeft = count;
	sWatchFailure = error;
}
#endif

}  // namespace plat
