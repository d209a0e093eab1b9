#include "runtime/VLogger.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <typeinfo>

#include "containers/VValueBag.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

constexpr size_t kReaderStackSize = 64000;
constexpr int32 kFlushPeriodMilliseconds = 100;
constexpr int32 kStopWaitMilliseconds = 3000;

// Tells the processor that the thread waits in a loop.
#if defined(__x86_64__) || defined(__i386__)
inline void SpinPause()
{
	__builtin_ia32_pause();
}
#elif defined(__aarch64__)
inline void SpinPause()
{
	__asm__ __volatile__("yield");
}
#else
inline void SpinPause()
{
}
#endif

}  // namespace

// The ring's and the spares' locks are held for a few stores: a waiter spins while the holder runs, and
// gives its time slice away only after a while, when the holder seems not to be running. On a busy
// machine a thread that yields at once waits behind every other process.
void VLogger::_Lock(std::atomic<bool>& lock)
{
	for (;;)
	{
		if (!lock.exchange(true, std::memory_order_acquire))
			return;
		for (int32 spins = 0; lock.load(std::memory_order_relaxed); ++spins)
		{
			if (spins < 256)
			{
				SpinPause();
			}
			else
			{
				VTaskMgr::YieldNow();
				spins = 0;
			}
		}
	}
}

void VLogger::_Unlock(std::atomic<bool>& lock)
{
	lock.store(false, std::memory_order_release);
}

VLogger::VLogger()
{
	try
	{
		fSpareBags.reserve(kRingSize);
	}
	catch (const std::bad_alloc&)
	{
		// Without the room no bag is kept: every line gets a new one.
	}
}

VLogger::~VLogger()
{
	// A flush that the task has under way would deliver to listeners and bags released below.
	if (VTask* reader = fReaderTask.exchange(nullptr))
	{
		reader->Kill();
		while (!reader->WaitForDeath(kStopWaitMilliseconds))
			;
		reader->Release();
	}
	fListenersLock.Lock();
	for (ILogListener* listener : fListeners)
		listener->Release();
	fListeners.clear();
	fListenersLock.Unlock();
	for (VValueBag* bag : fSpareBags)
		bag->Release();
	// No other thread may log into a logger being destroyed: the ring is read without its lock.
	const int32 used = fWrapped ? kRingSize : fCount;
	for (int32 i = 0; i < used; ++i)
	{
		if (fRing[i] != nullptr)
			fRing[i]->Release();
		fRing[i] = nullptr;
	}
}

void VLogger::Start()
{
	fStarted.store(true, std::memory_order_relaxed);
}

void VLogger::Stop()
{
	VTask* reader = fReaderTask.load();
	if (reader == nullptr)
		return;
	reader->Kill();
	reader->WaitForDeath(kStopWaitMilliseconds);
}

bool VLogger::IsStarted() const
{
	return fStarted.load(std::memory_order_relaxed);
}

bool VLogger::ShouldLog(EMessageLevel level) const
{
	return IsStarted() && (fLevelMask.load(std::memory_order_relaxed) & (1u << (uint32(level) % 32))) != 0;
}

bool VLogger::WithTag(int32 bit, bool with)
{
	const uint32 mask = 1u << (uint32(bit) % 32);
	const uint32 previous = with ? fLevelMask.fetch_or(mask) : fLevelMask.fetch_and(~mask);
	return (previous & mask) != 0;
}

void VLogger::LogBag(VValueBag* bag)
{
	if (bag == nullptr || !ShouldLog(EMessageLevel(ILoggerBagKeys::level.Get(bag))))
		return;
	// The stamps go into the caller's bag, which is shared from here on.
	if (bag->GetAttribute(ILoggerBagKeys::time) == nullptr)
	{
		VTime now;
		now.FromSystemTime();
		ILoggerBagKeys::time.Set(bag, now);
	}
	if (bag->GetAttribute(ILoggerBagKeys::sequence) == nullptr)
		ILoggerBagKeys::sequence.Set(bag, int64(GetSequenceNumber()));
	_Store(bag);
}

void VLogger::AddLogBag(const VValueBag* bag)
{
	if (bag != nullptr)
		_Store(bag);
}

void VLogger::_Store(const VValueBag* bag)
{
	bag->Retain();
	_Lock(fBufferLock);
	if (fCount == kRingSize)
	{
		fWrapped = true;
		fCount = 0;
	}
	const VValueBag* dropped = fRing[fCount];
	fRing[fCount++] = bag;
	if (dropped != nullptr)
		++fDropped;
	const bool wake = fCount == kWakeCount;
	_Unlock(fBufferLock);
	if (dropped != nullptr)
		_ReleaseOne(dropped);
	// Ends the task's sleep (or its next one), so that the ring is emptied before it overflows.
	if (wake)
	{
		if (VTask* reader = fReaderTask.load(std::memory_order_acquire))
			reader->WakeUp();
	}
}

void VLogger::LogMessage(EMessageLevel level, const VString& message, const VString& source)
{
	if (!ShouldLog(level))
		return;
	VRefPtr<VValueBag> bag(_NewBag(), true);
	if (!bag)
		return;
	if (source.IsEmpty())
	{
		VString identifier;
		VProcess::GetLogSourceIdentifier(identifier);
		ILoggerBagKeys::source.Set(bag.Get(), identifier);
	}
	else
	{
		ILoggerBagKeys::source.Set(bag.Get(), source);
	}
	if (level != ILoggerBagKeys::level.GetDefault())
		ILoggerBagKeys::level.Set(bag.Get(), level);
	ILoggerBagKeys::message.Set(bag.Get(), message);
	LogBag(bag.Get());
}

VValueBag* VLogger::_NewDroppedBag(int64 dropped)
{
	VValueBag* bag = new (std::nothrow) VValueBag;
	if (bag == nullptr)
		return nullptr;
	VString text;
	text.Printf("%lld log messages were dropped: more arrived between two flushes than the logger holds", static_cast<long long>(dropped));
	VString source;
	VProcess::GetLogSourceIdentifier(source);
	ILoggerBagKeys::source.Set(bag, source);
	ILoggerBagKeys::level.Set(bag, EML_Warning);
	ILoggerBagKeys::message.Set(bag, text);
	VTime now;
	now.FromSystemTime();
	ILoggerBagKeys::time.Set(bag, now);
	ILoggerBagKeys::sequence.Set(bag, int64(GetSequenceNumber()));
	return bag;
}

void VLogger::_TakePending(std::vector<const VValueBag*>& bags)
{
	// Flushes follow one another: the other ring is empty, as the last of them left it.
	_Lock(fBufferLock);
	const VValueBag** const taken = fRing;
	fRing = (taken == fRings[0]) ? fRings[1] : fRings[0];
	const int64 dropped = fDropped;
	const int32 count = fCount;
	const bool wrapped = fWrapped;
	fCount = 0;
	fWrapped = false;
	fDropped = 0;
	_Unlock(fBufferLock);

	const int32 used = wrapped ? kRingSize : count;
	try
	{
		bags.reserve(bags.size() + size_t(used) + 1);
	}
	catch (const std::bad_alloc&)
	{
		// Without room for the batch the pending bags are dropped, and the next flush tells of them.
		for (int32 i = 0; i < used; ++i)
			taken[i]->Release();
		std::fill(taken, taken + used, nullptr);
		_AddDropped(dropped + used);
		return;
	}
	// In age order, behind the line about the dropped bags.
	if (dropped > 0)
	{
		if (VValueBag* told = _NewDroppedBag(dropped))
			bags.push_back(told);
		else
			_AddDropped(dropped);  // told with the next flush instead
	}
	if (wrapped)
		bags.insert(bags.end(), taken + count, taken + kRingSize);
	bags.insert(bags.end(), taken, taken + count);
	std::fill(taken, taken + used, nullptr);
}

void VLogger::_AddDropped(int64 dropped)
{
	_Lock(fBufferLock);
	fDropped += dropped;
	_Unlock(fBufferLock);
}

void VLogger::Read(std::vector<const VValueBag*>& bags)
{
	bags.clear();
	fFlushLock.Lock();
	_TakePending(bags);
	fFlushLock.Unlock();
}

VValueBag* VLogger::_NewBag()
{
	VValueBag* bag = nullptr;
	_Lock(fSpareLock);
	if (!fSpareBags.empty())
	{
		bag = fSpareBags.back();
		fSpareBags.pop_back();
	}
	_Unlock(fSpareLock);
	return bag != nullptr ? bag : new (std::nothrow) VValueBag;
}

bool VLogger::_EmptyForSpare(const VValueBag* bag)
{
	// A reference that is the only one: no other thread can reach the bag to read it meanwhile.
	return bag->GetRefCount() == 1 && typeid(*bag) == typeid(VValueBag) && const_cast<VValueBag*>(bag)->_EmptyForReuse();
}

void VLogger::_ReleaseBatch(const std::vector<const VValueBag*>& bags)
{
	_Lock(fSpareLock);
	const size_t room = fSpareBags.capacity() - fSpareBags.size();
	_Unlock(fSpareLock);
	VValueBag* kept[kRingSize];
	size_t keptCount = 0;
	for (const VValueBag* bag : bags)
	{
		if (keptCount < room && keptCount < std::size(kept) && _EmptyForSpare(bag))
			kept[keptCount++] = const_cast<VValueBag*>(bag);
		else
			bag->Release();
	}
	_Lock(fSpareLock);
	// Taken from the room counted above, which only _ReleaseBatch and _ReleaseOne fill, one at a time.
	const size_t fits = std::min(keptCount, fSpareBags.capacity() - fSpareBags.size());
	fSpareBags.insert(fSpareBags.end(), kept, kept + fits);
	_Unlock(fSpareLock);
	for (size_t i = fits; i < keptCount; ++i)
		kept[i]->Release();
}

void VLogger::_ReleaseOne(const VValueBag* bag)
{
	if (_EmptyForSpare(bag))
	{
		_Lock(fSpareLock);
		const bool fits = fSpareBags.size() < fSpareBags.capacity();
		if (fits)
			fSpareBags.push_back(const_cast<VValueBag*>(bag));
		_Unlock(fSpareLock);
		if (fits)
			return;
	}
	bag->Release();
}

void VLogger::Flush()
{
	fFlushLock.Lock();
	std::vector<const VValueBag*> bags;
	_TakePending(bags);
	if (!bags.empty())
	{
		fListenersLock.Lock();
		for (ILogListener* listener : fListeners)
			listener->Put(bags);
		fListenersLock.Unlock();
		_ReleaseBatch(bags);
	}
	fFlushLock.Unlock();
}

bool VLogger::AddLogListener(ILogListener* listener)
{
	if (listener == nullptr)
		return false;
	bool added = false;
	fListenersLock.Lock();
	if (fReaderTask.load() == nullptr)
	{
		VTask* task = new (std::nothrow) VTask(kReaderStackSize, eTaskStylePreemptive, [this]
		{
			// The reader is no work of the process's own: it does not keep the process active.
			VTask::ReleaseCurrentActivityToken();
			VTask* self = VTask::GetCurrent();
			while (self != nullptr && !self->IsDying())
			{
				Flush();
				VTask::Sleep(kFlushPeriodMilliseconds);
			}
		});
		if (task != nullptr)
		{
			task->SetName(VString("Logger"));
			task->SetKind(FourCharCode("LOGG"));
			task->Run();
			fReaderTask.store(task, std::memory_order_release);
		}
	}
	if (std::find(fListeners.begin(), fListeners.end(), listener) == fListeners.end())
	{
		try
		{
			fListeners.insert(fListeners.begin(), listener);
			listener->Retain();
			added = true;
		}
		catch (const std::bad_alloc&)
		{
		}
	}
	fListenersLock.Unlock();
	return added;
}

bool VLogger::RemoveLogListener(ILogListener* listener)
{
	Flush();
	if (listener == nullptr)
		return false;
	fListenersLock.Lock();
	const auto found = std::find(fListeners.begin(), fListeners.end(), listener);
	const bool removed = found != fListeners.end();
	if (removed)
		fListeners.erase(found);
	fListenersLock.Unlock();
	if (removed)
		listener->Release();
	return removed;
}

}  // namespace velk
