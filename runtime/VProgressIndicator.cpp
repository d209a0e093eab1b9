#include "runtime/VProgressIndicator.h"

#include "files/VSystem.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

VProgressIndicator::VProgressIndicator() = default;

VProgressIndicator::~VProgressIndicator() = default;

void VProgressIndicator::BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt)
{
	StLocker locker(&fLock);
	++fChangeCounter;
	if (fSessionCount == 0)
		++fSessionVersion;
	else
		fSessionStack.push_back(fCurrent);
	fCurrent = VProgressIndicatorInfo();
	fCurrent.SetMessage(message);
	fCurrent.SetValue(value);
	fCurrent.SetMax(max);
	fCurrent.SetCanInterrupt(canInterrupt);
	++fSessionCount;
	DoBeginSession(fSessionCount);
}

void VProgressIndicator::BeginSession(int64 max, const VString& message)
{
	BeginSession(max, 0, message, fDefaultInterruptible);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message)
{
	BeginSession(-1, 0, message, fDefaultInterruptible);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message, bool canInterrupt)
{
	BeginSession(-1, 0, message, canInterrupt);
}

void VProgressIndicator::EndSession()
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	if (!fSessionStack.empty())
	{
		fCurrent = fSessionStack.back();
		fSessionStack.pop_back();
	}
	DoEndSession(fSessionCount);
	--fSessionCount;
	if (fSessionCount == 0)
		++fSessionVersion;
}

bool VProgressIndicator::_Step()
{
	bool goOn = DoProgress();
	if (goOn && fDefaultInterruptible)
	{
		VTask* task = VTask::GetCurrent();
		if (task != nullptr && task->IsDying())
			goOn = false;
	}
	return goOn;
}

bool VProgressIndicator::Progress(int64 value)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetValue(value);
	return _Step();
}

bool VProgressIndicator::Increment(int64 delta)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetValue(fCurrent.GetValue() + delta);
	return _Step();
}

bool VProgressIndicator::Decrement(int64 delta)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetValue(fCurrent.GetValue() - delta);
	return _Step();
}

void VProgressIndicator::SetMessage(const VString& message)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent.SetMessage(message);
}

bool VProgressIndicator::SetMessageAndValue(const VString& message, int64 value)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetMessage(message);
	fCurrent.SetValue(value);
	return DoProgress();
}

bool VProgressIndicator::SetMessageAndIncrementValue(const VString& message, int64 delta)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetMessage(message);
	fCurrent.SetValue(fCurrent.GetValue() + delta);
	return DoProgress();
}

void VProgressIndicator::GetMessage(VString& message) const
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		message.Clear();
	else
		fCurrent.GetMessage(message);
}

void VProgressIndicator::SetMaxValue(int64 max)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent.SetMax(max);
}

int64 VProgressIndicator::GetMaxValue() const
{
	StLocker locker(&fLock);
	return fSessionCount == 0 ? 0 : fCurrent.GetMax();
}

int64 VProgressIndicator::GetCurrentValue() const
{
	StLocker locker(&fLock);
	return fSessionCount == 0 ? 0 : fCurrent.GetValue();
}

void VProgressIndicator::Reset(const VString& message, int64 max, int64 value)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent.SetMessage(message);
	fCurrent.SetMax(max);
	fCurrent.SetValue(value);
	fCurrent.SetCanInterrupt(true);
	fCurrent.SetMetricsFlag(true);
	fCurrent.SetStartTime(uint32(VSystem::GetCurrentTime()));
}

void VProgressIndicator::SetCanInterrupt(bool canInterrupt, bool inCurrentSession)
{
	StLocker locker(&fLock);
	if (!inCurrentSession)
	{
		fDefaultInterruptible = canInterrupt;
	}
	else if (fSessionCount > 0)
	{
		++fChangeCounter;
		fCurrent.SetCanInterrupt(canInterrupt);
	}
}

int32 VProgressIndicator::GetSessionCount() const
{
	StLocker locker(&fLock);
	return fSessionCount;
}

float VProgressIndicator::ComputePercentDone() const
{
	StLocker locker(&fLock);
	return _ComputePercentDone();
}

float VProgressIndicator::_ComputePercentDone() const
{
	if (fSessionCount == 0)
		return 0;
	if (fCurrent.GetMax() <= 0)
		return float(fCurrent.GetValue());
	double factor = 1.0;
	double sum = 0;
	for (const VProgressIndicatorInfo& session : fSessionStack)
	{
		if (session.GetMax() <= 0)
			return 0;
		factor *= double(session.GetMax());
		sum += double(session.GetValue()) / factor;
	}
	return float(double(fCurrent.GetValue()) / (double(fCurrent.GetMax()) * factor) + sum);
}

void VProgressIndicator::DoBeginSession(int32)
{
}

void VProgressIndicator::DoEndSession(int32)
{
}

bool VProgressIndicator::DoProgress()
{
	VTaskMgr::Yield();
	return fUserAbort != 1;
}

}  // namespace velk
