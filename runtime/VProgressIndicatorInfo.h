// One progress session: its message, current value, maximum (-1: undetermined), start time and
// whether it may be interrupted.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VProgressIndicatorInfo : public VObject
{
public:
	// Made on the calling task (its id, 0 without one), started now, interruptible, counted in metrics.
	VProgressIndicatorInfo();

	int32 GetTaskID() const { return fTaskID; }

	const VString& GetMessageRaw() const { return fMessage; }
	void SetMessage(const VString& message) { fMessage = message; }
	// The message as shown. Its placeholders ({curValue}, {maxValue}...) are filled once formatting
	// with named values is part of the toolbox; until then the message is returned as stored.
	void GetMessage(VString& message) const;

	int64 GetValue() const { return fValue; }
	void SetValue(int64 value) { fValue = value; }
	int64 GetMax() const { return fMax; }
	void SetMax(int64 max) { fMax = max; }
	bool IsUndetermined() const { return fMax == -1; }

	// Milliseconds of the system clock when the session began.
	uint32 GetStartTime() const { return fStartTime; }
	void SetStartTime(uint32 time) { fStartTime = time; }

	bool CanInterrupt() const { return fInterruptible; }
	void SetCanInterrupt(bool interruptible) { fInterruptible = interruptible; }
	bool GetMetricsFlag() const { return fMetrics; }
	void SetMetricsFlag(bool metrics) { fMetrics = metrics; }

private:
	int32 fTaskID = 0;
	VString fMessage;
	int64 fValue = 0;
	int64 fMax = 0;
	uint32 fStartTime = 0;
	bool fMetrics = true;
	bool fInterruptible = true;
};

}  // namespace velk
