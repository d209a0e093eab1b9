#include "platform/RunLoop.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cxxabi.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>
#include <vector>

namespace plat {

namespace {

constexpr int64_t kNanosecondsPerMillisecond = 1000000;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

int64_t MonotonicNow()
{
	timespec now {};
	::clock_gettime(CLOCK_MONOTONIC, &now);
	return int64_t(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

timespec SpanOfMilliseconds(int64_t milliseconds)
{
	return timespec {time_t(milliseconds / 1000), long(milliseconds % 1000) * kNanosecondsPerMillisecond};
}

// The loop a thread runs as its own: the one Current made for it, or the main run loop on its serving thread.
thread_local RunLoop* tCurrent = nullptr;

}  // namespace

struct RunLoop::Source
{
	~Source()
	{
		if (fTimer)
			::close(fDescriptor);
	}

	int fDescriptor = -1;	 // the caller's descriptor, or the timer's own timerfd
	short fEvents = POLLIN;
	bool fTimer = false;
	bool fRepeats = false;
	int64_t fDue = 0;		 // when a timer falls due next, monotonic nanoseconds; touched by the running thread
	bool fRemoved = false;	 // under the loop's mutex
	DescriptorCallback fOnReady;
	TimerCallback fOnTimer;
};

RunLoop::RunLoop()
	: fWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

RunLoop::~RunLoop()
{
	// Nothing on this thread may find the loop once it is freed.
	if (tCurrent == this)
		tCurrent = nullptr;
	if (fWake >= 0)
		::close(fWake);
}

RunLoop& RunLoop::Current()
{
	// In the thread's own storage, so that making it allocates nothing that could fail.
	struct Slot
	{
		~Slot()
		{
			if (fMade)
				std::launder(reinterpret_cast<RunLoop*>(fStorage))->~RunLoop();
		}
		alignas(RunLoop) unsigned char fStorage[sizeof(RunLoop)];
		bool fMade = false;
	};
	thread_local Slot tSlot;
	if (tCurrent == nullptr)
	{
		tCurrent = new (tSlot.fStorage) RunLoop();
		tSlot.fMade = true;
	}
	return *tCurrent;
}

RunLoop& RunLoop::Main()
{
	// Static storage, never destroyed: static destructors and code after main may still use it.
	alignas(RunLoop) static unsigned char sStorage[sizeof(RunLoop)];
	static RunLoop* const sMain = []
	{
		RunLoop* const loop = new (sStorage) RunLoop();
		loop->fMain = true;
		return loop;
	}();
	bool expected = false;
	if (!sMain->fServed.load(std::memory_order_acquire) && sMain->fServed.compare_exchange_strong(expected, true))
	{
		// The serving thread takes no process signals: they belong to the threads that handle them. Faults it
		// causes itself stay deliverable.
		sigset_t blocked, previous;
		::sigfillset(&blocked);
		for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
			::sigdelset(&blocked, fault);
		::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
		pthread_t thread;
		const int failed = ::pthread_create(&thread, nullptr, &RunLoop::ServeMain, sMain);
		::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
		if (failed == 0)
			::pthread_detach(thread);
		else
			sMain->fServed.store(false);	// tried again at the next use; its sources wait meanwhile
	}
	return *sMain;
}

void* RunLoop::ServeMain(void* loop)
{
	RunLoop& main = *static_cast<RunLoop*>(loop);
	tCurrent = &main;
	::pthread_setname_np(::pthread_self(), "plat.mainloop");
	// Stop ends one Run only; a loop without its wake-up descriptor cannot be served at all.
	while (main.fWake >= 0)
		main.Run();
	return nullptr;
}

void RunLoop::Wake()
{
	const uint64_t one = 1;
	// A full counter already wakes the loop; nothing else can fail here.
	[[maybe_unused]] const ssize_t written = ::write(fWake, &one, sizeof(one));
}

RunLoop::SourceId RunLoop::List(const std::shared_ptr<Source>& source)
{
	SourceId id;
	{
		std::lock_guard<std::mutex> guard(fMutex);
		id = fNextId++;
		fSources.emplace(id, source);
	}
	Wake();
	return id;
}

RunLoop::SourceId RunLoop::AddDescriptor(int descriptor, short events, DescriptorCallback callback)
{
	if (fWake < 0 || descriptor < 0 || !callback)
		return 0;
	try
	{
		auto source = std::make_shared<Source>();
		source->fDescriptor = descriptor;
		source->fEvents = events;
		source->fOnReady = std::move(callback);
		return List(source);
	}
	catch (const std::bad_alloc&)
	{
		return 0;
	}
}

RunLoop::SourceId RunLoop::AddTimer(int64_t delayMs, int64_t intervalMs, TimerCallback callback)
{
	if (fWake < 0 || intervalMs < 0 || !callback)
		return 0;
	delayMs = std::max<int64_t>(delayMs, 0);
	std::shared_ptr<Source> source;
	try
	{
		source = std::make_shared<Source>();
		source->fOnTimer = std::move(callback);
	}
	catch (const std::bad_alloc&)
	{
		return 0;
	}
	const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
	if (timer < 0)
		return 0;
	source->fDescriptor = timer;
	source->fTimer = true;
	source->fRepeats = intervalMs > 0;
	itimerspec setting {};
	setting.it_value = SpanOfMilliseconds(delayMs);
	setting.it_interval = SpanOfMilliseconds(intervalMs);
	// A zero first expiry would disarm the timer instead of firing it now.
	if (delayMs == 0)
		setting.it_value.tv_nsec = 1;
	source->fDue = MonotonicNow() + delayMs * kNanosecondsPerMillisecond;
	if (::timerfd_settime(timer, 0, &setting, nullptr) != 0)
		return 0;
	try
	{
		return List(source);
	}
	catch (const std::bad_alloc&)
	{
		return 0;
	}
}

void RunLoop::Remove(SourceId id)
{
	std::shared_ptr<Source> removed;	// released outside the lock: a timer closes its descriptor then
	{
		std::unique_lock<std::mutex> lock(fMutex);
		if (const auto found = fSources.find(id); found != fSources.end())
		{
			found->second->fRemoved = true;
			removed = std::move(found->second);
			fSources.erase(found);
		}
		// A one-shot timer leaves the list before it fires, so the wait does not depend on finding the id.
		if (fRunner != std::this_thread::get_id())
			fCallbackEnded.wait(lock, [this, id] { return fFiring != id; });
	}
	// The loop stops watching the descriptor, which its owner may close now.
	if (removed)
		Wake();
}

bool RunLoop::Fire(SourceId id, const std::shared_ptr<Source>& source, short revents)
{
	{
		std::lock_guard<std::mutex> guard(fMutex);
		// An earlier callback of this round, or another thread, may have removed it since the poll.
		if (source->fRemoved)
			return false;
		if (source->fTimer)
		{
			uint64_t expirations = 0;
			if (::read(source->fDescriptor, &expirations, sizeof(expirations)) != ssize_t(sizeof(expirations)))
				return false;
			if (!source->fRepeats)
			{
				source->fRemoved = true;
				fSources.erase(id);
			}
		}
		fFiring = id;
	}
	try
	{
		if (source->fTimer)
			source->fOnTimer();
		else
			source->fOnReady(revents);
	}
	catch (const abi::__forced_unwind&)
	{
		// A cancelled thread must go on unwinding.
		throw;
	}
	catch (...)
	{
		// Dropped: nothing may leave the loop, and the loop does not know what the callback meant.
	}
	if (source->fTimer && source->fRepeats)
	{
		itimerspec left {};
		if (::timerfd_gettime(source->fDescriptor, &left) == 0)
			source->fDue = MonotonicNow() + int64_t(left.it_value.tv_sec) * kNanosecondsPerSecond + left.it_value.tv_nsec;
	}
	{
		std::lock_guard<std::mutex> guard(fMutex);
		fFiring = 0;
	}
	fCallbackEnded.notify_all();
	return true;
}

RunLoop::Pass RunLoop::PollOnce(int timeoutMs)
{
	// The main run loop is run by its serving thread only, which would otherwise find it taken.
	if (fWake < 0 || (fMain && tCurrent != this))
		return Pass::kRefused;
	struct Watched
	{
		SourceId fId;
		std::shared_ptr<Source> fSource;
		short fReady;
	};
	std::vector<pollfd> polled;
	std::vector<Watched> watched;
	{
		std::lock_guard<std::mutex> guard(fMutex);
		if (fRunner != std::thread::id())
			return Pass::kRefused;
		try
		{
			polled.reserve(fSources.size() + 1);
			watched.reserve(fSources.size());
		}
		catch (const std::bad_alloc&)
		{
			return Pass::kWoken;
		}
		fRunner = std::this_thread::get_id();
		polled.push_back(pollfd {fWake, POLLIN, 0});
		for (const auto& [id, source] : fSources)
		{
			polled.push_back(pollfd {source->fDescriptor, source->fEvents, 0});
			watched.push_back(Watched {id, source, 0});
		}
	}
	const int ready = ::poll(polled.data(), polled.size(), timeoutMs);
	bool fired = false;
	if (ready > 0)
	{
		if (polled[0].revents != 0)
		{
			uint64_t wakes;
			[[maybe_unused]] const ssize_t drained = ::read(fWake, &wakes, sizeof(wakes));
		}
		for (size_t i = 0; i < watched.size(); ++i)
			watched[i].fReady = polled[i + 1].revents;
		std::erase_if(watched, [](const Watched& entry) { return entry.fReady == 0; });
		// Descriptors first, in the order they were added (the list's); then timers by the time they fell due.
		std::stable_sort(watched.begin(), watched.end(), [](const Watched& a, const Watched& b)
		{
			if (a.fSource->fTimer != b.fSource->fTimer)
				return !a.fSource->fTimer;
			return a.fSource->fTimer && a.fSource->fDue < b.fSource->fDue;
		});
		for (const Watched& entry : watched)
			fired = Fire(entry.fId, entry.fSource, entry.fReady) || fired;
	}
	{
		std::lock_guard<std::mutex> guard(fMutex);
		fRunner = std::thread::id();
	}
	if (fired)
		return Pass::kFired;
	return ready == 0 ? Pass::kTimedOut : Pass::kWoken;
}

bool RunLoop::RunOnce(int timeoutMs)
{
	const int64_t deadline = MonotonicNow() + int64_t(timeoutMs) * kNanosecondsPerMillisecond;
	for (;;)
	{
		const Pass pass = PollOnce(timeoutMs);
		// A wake-up alone (sources changed, or a source removed before its turn) goes on waiting.
		if (pass != Pass::kWoken || fStopAsked.load())
			return pass == Pass::kFired;
		if (timeoutMs > 0)
			timeoutMs = int(std::max<int64_t>(0, (deadline - MonotonicNow() + kNanosecondsPerMillisecond - 1) / kNanosecondsPerMillisecond));
		else if (timeoutMs == 0)
			return false;
	}
}

void RunLoop::Run()
{
	while (!fStopAsked.exchange(false))
	{
		if (PollOnce(-1) == Pass::kRefused)
			return;
	}
}

void RunLoop::Stop()
{
	fStopAsked.store(true);
	if (fWake >= 0)
		Wake();
}

}  // namespace plat
