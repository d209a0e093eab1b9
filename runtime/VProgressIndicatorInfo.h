// One progress session: its message, current value, maximum (-1: undetermined), start time, whether it
// may be interrupted, and an optional bag of extra information. It travels as a bag, whole or as the
// parts that changed since a previous copy, and shows itself as a JSON object.
#pragma once

#include "kernel/VExport.h"

#include "containers/VValueBag.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VUUID.h"

namespace velk {

class IProgressInfoCollector;

class VELK_API VProgressIndicatorInfo : public VObject
{
public:
	// Parts of a session, as "fUpdateFlags" names them in a bag delta.
	static constexpr uint32 kUpdateMessage = 1;
	static constexpr uint32 kUpdateValue = 2;
	static constexpr uint32 kUpdateMax = 4;
	static constexpr uint32 kUpdateStartTime = 8;
	static constexpr uint32 kUpdateCanInterrupt = 16;
	static constexpr uint32 kUpdateExtraInfoVersion = 32;
	static constexpr uint32 kUpdateExtraInfo = 64;
	static constexpr uint32 kUpdateAll = 1024;

	// Made on the calling task (its id, 0 without one) with a new UUID, started now, interruptible,
	// counted in metrics.
	VProgressIndicatorInfo();
	// Every field; the copy gets its own clone of the extra-information bag and shares the
	// sub-operations object.
	VProgressIndicatorInfo(const VProgressIndicatorInfo& other);
	VProgressIndicatorInfo& operator=(const VProgressIndicatorInfo& other);
	~VProgressIndicatorInfo() override;

	int32 GetTaskID() const { return fTaskID; }
	const VUUID& GetUUID() const { return fUUID; }

	const VString& GetMessageRaw() const { return fMessage; }
	void SetMessage(const VString& message) { fMessage = message; }
	// The message as shown: its placeholders {maxValue}, {curValue}, {rateValue} (percent done, 0 when
	// the maximum is not positive), {startTime} and {duration} (milliseconds) are filled in.
	void GetMessage(VString& message) const;

	int64 GetValue() const { return fValue; }
	void SetValue(int64 value) { fValue = value; }
	int64 GetMax() const { return fMax; }
	void SetMax(int64 max) { fMax = max; }
	bool IsUndetermined() const { return fMax == -1; }

	// Milliseconds of the system's monotonic clock when the session began.
	uint32 GetStartTime() const { return fStartTime; }
	void SetStartTime(uint32 time) { fStartTime = time; }
	// Milliseconds since the start.
	uint32 GetDuration() const;

	bool CanInterrupt() const { return fInterruptible; }
	void SetCanInterrupt(bool interruptible) { fInterruptible = interruptible; }
	bool GetMetricsFlag() const { return fMetrics; }
	void SetMetricsFlag(bool metrics) { fMetrics = metrics; }
	bool IsRemote() const { return fRemote; }
	void SetRemote(bool remote) { fRemote = remote; }

	// The extra-information bag (null until the first attribute); its version moves at every change.
	const VValueBag* GetExtraInfo() const { return fExtraInfo; }
	int32 GetExtraInfoVersion() const { return fExtraInfoVersion; }
	void SetAttribute(const VString& name, const VValueSingle& value);
	void RemoveAttribute(const VString& name);

	IProgressInfoCollector* GetCollector() const { return fCollector; }
	void SetCollector(IProgressInfoCollector* collector) { fCollector = collector; }

	// Shared, not copied; null when there are none.
	VJSONObject* GetSubOperations() const { return fSubOperations.Get(); }
	void SetSubOperations(VJSONObject* subOperations) { fSubOperations = VRefPtr<VJSONObject>(subOperations); }
	void ClearSubOperations() { fSubOperations = VRefPtr<VJSONObject>(); }

	// The update flags of the parts that differ from previous (0 when none does).
	uint32 GetChangedParts(const VProgressIndicatorInfo& previous) const;
	// Without previous: every part, "fUpdateFlags" 1024. With previous: only the parts that differ, their
	// bits in "fUpdateFlags" (0 when nothing differs); the bag itself only when its version moved.
	void SaveToBag(VValueBag& bag, VString& kind, const VProgressIndicatorInfo* previous = nullptr) const;
	// Reads what SaveToBag wrote: a delta changes only its parts. The extra-information bag is read from
	// "ExtraInfo", or from "Extra" as older writers named it.
	void LoadFromBag(const VValueBag& bag);
	// Takes over the parts named by flags (1024: everything); the start time stays local.
	void UpdateFromRemoteInfo(const VProgressIndicatorInfo& other, uint32 flags);

	// Clears object and sets "message", "maxValue", "currentValue", "interruptible", "remote", "uuid",
	// "taskId", "startTime" (a date), "duration" (milliseconds), then a clone of the sub-operations.
	void GetJSONObject(VJSONObject& object) const;

private:
	void _CopyFrom(const VProgressIndicatorInfo& other);
	void _ReplaceExtraInfo(const VValueBag* bag);

	int32 fTaskID = 0;
	VUUID fUUID;
	VString fMessage;
	int64 fValue = 0;
	int64 fMax = 0;
	uint32 fStartTime = 0;
	bool fMetrics = true;
	bool fInterruptible = true;
	bool fRemote = false;
	VValueBag* fExtraInfo = nullptr;
	int32 fExtraInfoVersion = 0;
	IProgressInfoCollector* fCollector = nullptr;
	VRefPtr<VJSONObject> fSubOperations;
};

}  // namespace velk
