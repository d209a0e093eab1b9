// Timed activity records, kept while collection is on for their kind and long enough, and handed out as one
// JSON array. Any thread may push; the kind mask and minimum are read without the lock so that a push made
// while collection is off costs two loads.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <vector>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VCriticalSection.h"

namespace velk {

// 0 to 31; kind 2 is a finished progress session.
using EMetricsKind = uint32;
constexpr EMetricsKind eMetricsKind_ProgressSession = 2;

class VELK_API VMetricsManager : public VObject
{
public:
	static const VString sActivityKindKey;		// "activityKind"
	static const VString sActivityDurationKey;	// "activityDuration"
	static const VString sActivityDataKey;		// "activityData"

	VMetricsManager() = default;
	~VMetricsManager() override;

	VMetricsManager(const VMetricsManager&) = delete;
	VMetricsManager& operator=(const VMetricsManager&) = delete;

	// Collects the kinds whose bit is set in kindMask, when they last at least minDurationMilliseconds.
	void Start(unsigned long long minDurationMilliseconds, unsigned int kindMask);
	// A record of kind, kept (data retained) when collection is on for the kind and the duration is long
	// enough. False when it was not kept, memory being short included.
	bool Push(EMetricsKind kind, unsigned long long durationMilliseconds, VJSONObject* data);
	// Collection off; every record dropped.
	void Reset();
	// The records, oldest first, as objects with "activityKind" (1 << kind), "activityDuration" (seconds)
	// and, when the record has data, "activityData" (a deep copy). The records stay. Null when memory is
	// short.
	VRefPtr<VJSONArray> Collect();

	unsigned int GetKindMask() const { return fKindMask.load(std::memory_order_relaxed); }

private:
	struct Record
	{
		EMetricsKind fKind;
		unsigned long long fDuration;
		VRefPtr<VJSONObject> fData;
	};

	VCriticalSection fLock;
	std::vector<Record> fRecords;
	std::atomic<unsigned long long> fMinDuration{0};
	std::atomic<unsigned int> fKindMask{0};
};

}  // namespace velk
