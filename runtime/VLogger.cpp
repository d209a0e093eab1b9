#include "runtime/VLogger.h"

#include <algorithm>
#include <new>

#include "containers/VValueBag.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr size_t kReaderStackSize = 64000;
constexpr int32 kFlushPeriodMilliseconds = 100;
constexpr int32 kStopWaitMilliseconds = 3000;

}  // namespace

VLogger::VLogger() = default;

VLogger::~VLogger()
{
	// A flush that the task has under way would deliver to listeners and bags released below.
	if (fReaderTask != nullptr)
	{
		fReaderTask->Kill();
		while (!fReaderTask->WaitForDeath(kStopWaitMilliseconds))
			;
		fReaderTask->Release();
		fReaderTask = nullptr;
	}
	fListenersLock.Lock();
	for (ILogListener* listener : fListeners)
		listener->Release();
	fListeners.clear();
	fListenersLock.Unlock();
	fBufferLock.Lock();
	const int32 used = fWrapped ? kRingSize : fCount;
	for (int32 i = 0; i < used; ++i)
	{
		if (fRing[i] != nullptr)
			fRing[i]->Release();
		fRing[i] = nullptr;
	}
	fBufferLock.Unlock();
}

void VLogger::Start()
{
	fStarted.store(true, std::memory_order_relaxed);
}

void VLogger::Stop()
{
	if (fReaderTask == nullptr)
		return;
	fReaderTask->Kill();
	fReaderTask->WaitForDeath(kStopWaitMilliseconds);
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
	fBufferLock.Lock();
	if (fCount == kRingSize)
	{
		fWrapped = true;
		fCount = 0;
	}
	const VValueBag* dropped = fRing[fCount];
	fRing[fCount++] = bag;
	fBufferLock.Unlock();
	if (dropped != nullptr)
		dropped->Release();
}

void VLogger::LogMessage(EMessageLevel level, const VString& message, const VString& source)
{
	if (!ShouldLog(level))
		return;
	VRefPtr<VValueBag> bag(new (std::nothrow) VValueBag, true);
	if (!bag)
		return;
	VString from(source);
	if (from.IsEmpty())
		VProcess::GetLogSourceIdentifier(from);
	ILoggerBagKeys::source.Set(bag.Get(), from);
	if (level != ILoggerBagKeys::level.GetDefault())
		ILoggerBagKeys::level.Set(bag.Get(), level);
	ILoggerBagKeys::message.Set(bag.Get(), message);
	LogBag(bag.Get());
}

void VLogger::_TakePending(std::vector<const VValueBag*>& bags)
{
	fBufferLock.Lock();
	try
	{
		if (fWrapped)
			bags.insert(bags.end(), fRing + fCount, fRing + kRingSize);
		bags.insert(bags.end(), fRing, fRing + fCount);
	}
	catch (const std::bad_alloc&)
	{
		// Without room for the batch the pending bags are dropped: the ring must empty either way. The batch
		// holds the ring's references, released once below.
		bags.clear();
		const int32 used = fWrapped ? kRingSize : fCount;
		for (int32 i = 0; i < used; ++i)
			fRing[i]->Release();
	}
	std::fill(fRing, fRing + kRingSize, nullptr);
	fCount = 0;
	fWrapped = false;
	fBufferLock.Unlock();
}

void VLogger::Read(std::vector<const VValueBag*>& bags)
{
	bags.clear();
	fFlushLock.Lock();
	_TakePending(bags);
	fFlushLock.Unlock();
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
		for (const VValueBag* bag : bags)
			bag->Release();
	}
	fFlushLock.Unlock();
}

bool VLogger::AddLogListener(ILogListener* listener)
{
	if (listener == nullptr)
		return false;
	bool added = false;
	fListenersLock.Lock();
	if (fReaderTask == nullptr)
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
			fReaderTask = task;
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
