// The process logger: log bags from every thread kept in a ring of 1000, handed in batches to listeners by
// a "Logger" task every 100 ms or by whoever flushes. A bag that fills the ring up to kWakeCount wakes the
// task at once. When more than 1000 bags still arrive between two flushes the oldest are dropped, and the
// next batch opens with a WARN line that gives their number.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <vector>

#include "kernel/memory/VObject.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class VTask;

class VELK_API VLogger : public VObject, public ILogger
{
public:
	static constexpr int32 kRingSize = 1000;
	// The bag that brings the ring to this many wakes the "Logger" task rather than waiting for its tick.
	static constexpr int32 kWakeCount = 3 * kRingSize / 4;

	// Stopped, empty, mask INFO to FATAL, no listeners.
	VLogger();
	// Ends the "Logger" task and waits for it, then drops the pending bags unwritten and the listeners.
	~VLogger() override;

	VLogger(const VLogger&) = delete;
	VLogger& operator=(const VLogger&) = delete;

	void Start() override;
	// Asks the "Logger" task to end and waits for it up to 3 seconds; the started flag stays.
	void Stop() override;
	bool IsStarted() const override;
	bool ShouldLog(EMessageLevel level) const override;
	void LogBag(VValueBag* bag) override;
	void LogMessage(EMessageLevel level, const VString& message, const VString& source) override;
	// Whole flushes follow one another, so that concurrent flushers deliver batches in age order. The ring
	// lock and the listeners' lock are never held together: a listener may log from its Put.
	void Flush() override;
	bool WithTrace(bool with) override { return WithTag(EML_Trace, with); }
	bool WithDump(bool with) override { return WithTag(EML_Dump, with); }
	bool WithDebug(bool with) override { return WithTag(EML_Debug, with); }
	bool WithWarning(bool with) override { return WithTag(EML_Warning, with); }
	bool WithError(bool with) override { return WithTag(EML_Error, with); }
	bool WithFatal(bool with) override { return WithTag(EML_Fatal, with); }
	bool WithAssert(bool with) override { return WithTag(EML_Assert, with); }
	bool WithInfo(bool with) override { return WithTag(EML_Information, with); }
	// The first listener starts the "Logger" task; the last added is called first.
	bool AddLogListener(ILogListener* listener) override;
	// Flushes first, so that the listener receives what is pending.
	bool RemoveLogListener(ILogListener* listener) override;

	// Sets or clears any bit of the mask; answers its previous value.
	bool WithTag(int32 bit, bool with);
	// Stores the bag in the ring as LogBag does, without the level test or the stamps.
	void AddLogBag(const VValueBag* bag);
	// Replaces bags' content by the pending bags, taken out in age order, behind the line about dropped bags
	// when some were; the caller owns their references.
	void Read(std::vector<const VValueBag*>& bags);

private:
	void _Store(const VValueBag* bag);
	void _TakePending(std::vector<const VValueBag*>& bags);
	// The WARN bag that tells of dropped bags, stamped; null when it cannot be made.
	static VValueBag* _NewDroppedBag(int64 dropped);
	// Counts bags dropped for the next flush to tell.
	void _AddDropped(int64 dropped);
	// A spare bag, or a new one; null when memory is short.
	VValueBag* _NewBag();
	// Gives back the flushed batch's references, or a dropped bag's; the bags nobody else holds are kept
	// as spares while there is room.
	void _ReleaseBatch(const std::vector<const VValueBag*>& bags);
	void _ReleaseOne(const VValueBag* bag);
	// Empties a bag held by that one reference only, for a spare; false for any other.
	static bool _EmptyForSpare(const VValueBag* bag);
	// The locks of the ring and of the spares, never held across a call that may wait.
	static void _Lock(std::atomic<bool>& lock);
	static void _Unlock(std::atomic<bool>& lock);

	// Two rings of kRingSize: producers store into fRing; a flush takes it whole and puts the other, which
	// the flush before emptied, in its place, so that it holds the lock for no more than that exchange.
	const VValueBag* fRings[2][kRingSize] = {};
	const VValueBag** fRing = fRings[0];
	int32 fCount = 0;
	bool fWrapped = false;
	int64 fDropped = 0;  // since the last flush
	VCriticalSection fFlushLock;
	// The buffer lock, guarding the ring, count, wrapped and dropped: held for a few stores at a time,
	// which four busy producers would turn into sleeps and wake-ups on a section.
	std::atomic<bool> fBufferLock{false};
	VCriticalSection fListenersLock;
	std::atomic<uint32> fLevelMask{0xF0};
	std::atomic<bool> fStarted{false};
	std::vector<ILogListener*> fListeners;
	std::atomic<VTask*> fReaderTask{nullptr};  // written once, under the listeners lock
	// Flushed bags that nobody else held, emptied for LogMessage to fill again (up to a ring's worth, the
	// room reserved at construction): lines are then made without allocating, and the flushing task does
	// not free what other threads allocated. Guarded by fSpareLock.
	std::vector<VValueBag*> fSpareBags;
	std::atomic<bool> fSpareLock{false};
};

}  // namespace velk
