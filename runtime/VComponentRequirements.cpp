// The requirement check of VComponentManager and its cache.
#include "runtime/VComponentManager.h"

#include "kernel/memory/VMemory.h"
#include "runtime/VCriticalSection.h"

namespace velk {

namespace {

// Frees a requirements record at the end of the scope.
class StRequirementsRecord
{
public:
	explicit StRequirementsRecord(const CComponent* component) : fRecord(component->NewRequirementsRecord()) {}
	~StRequirementsRecord() { VMemory::DisposePtr(fRecord); }
	StRequirementsRecord(const StRequirementsRecord&) = delete;
	StRequirementsRecord& operator=(const StRequirementsRecord&) = delete;

	const uint32* Get() const { return fRecord; }

private:
	uint32* fRecord;
};

}  // namespace

bool VComponentManager::_IsValidRecord(const uint32* record)
{
	return record != nullptr && record[kREQUIREMENTS_FORMAT] >= kREQUIREMENTS_MIN_FORMAT
		&& record[kREQUIREMENTS_SIZE] >= kREQUIREMENTS_MIN_SIZE;
}

bool VComponentManager::_GetComponentVersion(CComponent* component, uint32& version)
{
	StRequirementsRecord record(component);
	if (!_IsValidRecord(record.Get()))
		return false;
	version = record.Get()[kREQUIREMENTS_VERSION];
	return true;
}

bool VComponentManager::CheckComponentRequirements(CComponent* component, bool keepMade)
{
	if (!sIsInitialized || component == nullptr)
		return false;
	const OsType type = component->GetComponentType();
	{
		StLocker locker(sAccessingChecked);
		const int32 pos = sComponentChecked->FindPos(type);
		if (pos > 0)
			return sComponentIsAvailable->GetNth(pos) != 0;
	}
	{
		StLocker locker(sAccessingChecking);
		if (!sComponentChecking->Append(type))
			return false;
	}

	bool available = false;
	bool hasRequirements = false;
	bool answered = false;
	{
		StRequirementsRecord holder(component);
		const uint32* record = holder.Get();
		if (_IsValidRecord(record))
		{
			// The pairs must lie inside the record: a count beyond its size is not read.
			const uint32 count = record[kREQUIREMENTS_COUNT];
			const uint64 needed = (uint64(kREQUIREMENTS_FIRST_PAIR) + 2 * uint64(count)) * sizeof(uint32);
			if (needed <= record[kREQUIREMENTS_SIZE])
			{
				answered = true;
				available = true;
				hasRequirements = count > 0;
				VArrayRetainedPtrOf<CComponent*> made(kArrayStep);
				for (uint32 index = 0; index < count && available; ++index)
				{
					const OsType required = record[kREQUIREMENTS_FIRST_PAIR + 2 * index];
					const uint32 minimum = record[kREQUIREMENTS_FIRST_PAIR + 2 * index + 1];
					bool skip = false;
					{
						StLocker locker(sAccessingChecked);
						skip = sComponentChecked->Contains(required);
					}
					if (!skip)
					{
						StLocker locker(sAccessingChecking);
						skip = sComponentChecking->Contains(required);
					}
					CComponent* other = RetainUniqueComponent(required, kCOMPONENT_ANY_SIGNATURE, skip);
					if (other == nullptr)
					{
						available = false;
						break;
					}
					uint32 version = 0;
					if (minimum != kREQUIREMENTS_ANY_VERSION && (!_GetComponentVersion(other, version) || version < minimum))
						available = false;
					if (!keepMade || !made.Append(other))
						other->Release();
				}
			}
		}
	}

	if (answered)
	{
		StLocker locker(sAccessingChecked);
		// Another task may have answered for the type meanwhile: one answer per type.
		if (!sComponentChecked->Contains(type) && sComponentChecked->Append(type))
		{
			if (!sComponentIsAvailable->Append(available ? 1 : 0)
				|| !sComponentHasRequirements->Append(hasRequirements ? 1 : 0))
			{
				const int32 pos = sComponentChecked->GetCount();
				sComponentChecked->DeleteNth(pos);
				if (sComponentIsAvailable->GetCount() > pos - 1)
					sComponentIsAvailable->DeleteNth(pos);
			}
		}
	}
	{
		// On every path, or the type would be skipped as "being checked" for ever.
		StLocker locker(sAccessingChecking);
		sComponentChecking->DeleteNth(sComponentChecking->FindPos(type));
	}
	return available;
}

void VComponentManager::ResetComponentRequirements(OsType type, bool forced)
{
	if (!sIsInitialized)
		return;
	StLocker locker(sAccessingChecked);
	for (int32 pos = sComponentChecked->GetCount(); pos >= 1; --pos)
	{
		if (sComponentChecked->GetNth(pos) == type || (forced && sComponentHasRequirements->GetNth(pos) != 0))
		{
			sComponentChecked->DeleteNth(pos);
			sComponentIsAvailable->DeleteNth(pos);
			sComponentHasRequirements->DeleteNth(pos);
		}
	}
}

}  // namespace velk
