#include "runtime/VMetricsManager.h"

#include <new>

#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONValue.h"

namespace velk {

const VString VMetricsManager::sActivityKindKey("activityKind");
const VString VMetricsManager::sActivityDurationKey("activityDuration");
const VString VMetricsManager::sActivityDataKey("activityData");

VMetricsManager::~VMetricsManager() = default;

void VMetricsManager::Start(unsigned long long minDurationMilliseconds, unsigned int kindMask)
{
	fLock.Lock();
	fMinDuration.store(minDurationMilliseconds, std::memory_order_relaxed);
	fKindMask.store(kindMask, std::memory_order_relaxed);
	fLock.Unlock();
}

bool VMetricsManager::Push(EMetricsKind kind, unsigned long long durationMilliseconds, VJSONObject* data)
{
	if (kind > 31 || durationMilliseconds < fMinDuration.load(std::memory_order_relaxed)
		|| (fKindMask.load(std::memory_order_relaxed) & (1u << kind)) == 0)
		return false;
	bool kept = true;
	fLock.Lock();
	try
	{
		fRecords.push_back(Record{kind, durationMilliseconds, VRefPtr<VJSONObject>(data)});
	}
	catch (const std::bad_alloc&)
	{
		kept = false;
	}
	fLock.Unlock();
	return kept;
}

void VMetricsManager::Reset()
{
	std::vector<Record> dropped;
	fLock.Lock();
	fKindMask.store(0, std::memory_order_relaxed);
	dropped.swap(fRecords);
	fLock.Unlock();
}

VRefPtr<VJSONArray> VMetricsManager::Collect()
{
	VRefPtr<VJSONArray> array(new (std::nothrow) VJSONArray(), true);
	if (!array)
	{
		_ThrowError(VE_MEMORY_FULL);
		return array;
	}
	bool ok = true;
	fLock.Lock();
	for (const Record& record : fRecords)
	{
		VRefPtr<VJSONObject> object(new (std::nothrow) VJSONObject(nullptr, nullptr, false), true);
		ok = bool(object);
		ok = ok && object->SetProperty(sActivityKindKey, VJSONValue(double(1u << record.fKind)));
		ok = ok && object->SetProperty(sActivityDurationKey, VJSONValue(double(record.fDuration) / 1000.0));
		if (ok && record.fData)
		{
			VJSONCloner cloner;
			VJSONValue copy;
			ok = cloner.CloneObject(record.fData.Get(), copy) == VE_OK && object->SetProperty(sActivityDataKey, copy);
		}
		ok = ok && array->Push(VJSONValue(object.Get()));
		if (!ok)
			break;
	}
	fLock.Unlock();
	if (!ok)
		return VRefPtr<VJSONArray>();
	return array;
}

}  // namespace velk
