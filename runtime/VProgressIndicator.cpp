#include "runtime/VProgressIndicator.h"

#include <new>

#include "containers/StBagKey.h"
#include "files/VSystem.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VStream.h"
#include "kernel/values/VUUID.h"
#include "runtime/IProgressInfoCollector.h"
#include "runtime/VMetricsManager.h"
#include "runtime/VProcess.h"
#include "runtime/VProgressManager.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

const StBagKeyNoDefault<int32, VLong> sKeySessionCount("SessionCount");
const StBagKeyNoDefault<VString, VString> sKeyTitle("Title");
const StBagKeyNoDefault<bool, VBoolean> sKeyCanInterrupt("CanInterrupt");
const StPackedDictionaryKey kSessionInfoElement("SessionInfo");

void AddSessionElement(VValueBag& bag, const VProgressIndicatorInfo& session)
{
	VRefPtr<VValueBag> element(new (std::nothrow) VValueBag, true);
	if (element.Get() == nullptr)
		return;
	VString kind;
	session.SaveToBag(*element.Get(), kind);
	bag.AddElement(kSessionInfoElement, element.Get());
}

}  // namespace

VProgressIndicator::VProgressIndicator() : fUUID(true)
{
	VProgressManager::RegisterProgress(this);
}

VProgressIndicator::VProgressIndicator(const VUUID& uuid, int32 sessionVersion)
: fUUID(uuid), fSessionVersion(sessionVersion)
{
	VProgressManager::RegisterProgress(this);
}

VProgressIndicator::~VProgressIndicator()
{
	if (fSessionCount > 0)
		DoMetrics();
	VProgressManager::UnregisterProgress(this);
}

void VProgressIndicator::BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt,
	IProgressInfoCollector* collector)
{
	StLocker locker(&fLock);
	++fChangeCounter;
	if (fSessionCount == 0)
	{
		++fSessionVersion;
		if (collector == nullptr)
			collector = fDefaultCollector;
	}
	else
	{
		fSessionStack.push_back(fCurrent);
	}
	fCurrent = VProgressIndicatorInfo();
	fCurrent.SetMessage(message);
	fCurrent.SetValue(value);
	fCurrent.SetMax(max);
	fCurrent.SetCanInterrupt(canInterrupt);
	fCurrent.SetCollector(collector);
	++fSessionCount;
	DoBeginSession(fSessionCount);
	if (max == -1)
		_CheckCollectInfo();
}

void VProgressIndicator::BeginSession(int64 max, const VString& message)
{
	BeginSession(max, 0, message, fDefaultInterruptible);
}

void VProgressIndicator::BeginSession(int64 max, const VString& message, IProgressInfoCollector* collector)
{
	BeginSession(max, 0, message, fDefaultInterruptible, collector);
}

void VProgressIndicator::BeginSession(int64 max, const VString& message, bool canInterrupt,
	IProgressInfoCollector* collector)
{
	BeginSession(max, 0, message, canInterrupt, collector);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& message, bool canInterrupt,
	IProgressInfoCollector* collector)
{
	BeginSession(-1, 0, message, canInterrupt, collector);
}

void VProgressIndicator::SetProgressInfoCollector(IProgressInfoCollector* collector, IProgressInfoCollector** previous)
{
	StLocker locker(&fLock);
	IProgressInfoCollector* old = nullptr;
	if (fSessionCount > 0)
	{
		old = fCurrent.GetCollector();
		fCurrent.SetCollector(collector);
	}
	if (previous != nullptr)
		*previous = old;
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
	if (fReturnLevelMarked && fSessionCount > fReturnLevel)
		_CloseRemoteSession();
	_EndOneSession();
	_CheckCollectInfo();
}

void VProgressIndicator::_EndOneSession()
{
	if (fSessionCount == 0)
		return;
	if (IProgressInfoCollector* collector = fCurrent.GetCollector())
		collector->CollectInfo(*this, fCurrent);
	++fChangeCounter;
	// The session that ends is the one reported, not the outer one that becomes current again.
	VProgressIndicatorInfo ended;
	bool stacked = !fSessionStack.empty();
	if (stacked)
	{
		ended = fCurrent;
		fCurrent = fSessionStack.back();
		fSessionStack.pop_back();
	}
	DoEndSession(fSessionCount);
	--fSessionCount;
	if (fSessionCount == 0)
		++fSessionVersion;
	_Metrics(stacked ? ended : fCurrent);
}

void VProgressIndicator::DoMetrics()
{
	_Metrics(fCurrent);
}

void VProgressIndicator::_Metrics(VProgressIndicatorInfo& session)
{
	if (!session.GetMetricsFlag())
		return;
	session.SetMetricsFlag(false);
	VMetricsManager* metrics = VProcess::sInstance != nullptr ? VProcess::sInstance->GetMetricsManager() : nullptr;
	if (metrics == nullptr || (metrics->GetKindMask() & (1u << eMetricsKind_ProgressSession)) == 0)
		return;
	VRefPtr<VJSONObject> data(new (std::nothrow) VJSONObject(nullptr, nullptr, false), true);
	if (data.Get() == nullptr)
		return;
	session.GetJSONObject(*data.Get());
	data->SetProperty(VString("title"), VJSONValue(fTitle));
	VString message;
	session.GetMessage(message);
	data->SetProperty(VString("infoMessage"), VJSONValue(message));
	if (session.GetExtraInfo() != nullptr)
	{
		VError error = VE_OK;
		VRefPtr<VJSONObject> extra(session.GetExtraInfo()->BuildJSONObject(error), true);
		if (extra.Get() != nullptr)
			data->SetProperty(VString("extraInfo"), VJSONValue(extra.Get()));
	}
	if (session.GetSubOperations() != nullptr)
	{
		VJSONCloner cloner;
		VJSONValue clone;
		if (cloner.CloneObject(session.GetSubOperations(), clone) == VE_OK)
			data->SetProperty(VString("subOperations"), clone);
	}
	metrics->Push(eMetricsKind_ProgressSession, session.GetDuration(), data.Get());
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
	_CheckCollectInfo();
	return _Step();
}

bool VProgressIndicator::Increment(int64 delta)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetValue(fCurrent.GetValue() + delta);
	_CheckCollectInfo();
	return _Step();
}

bool VProgressIndicator::Decrement(int64 delta)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetValue(fCurrent.GetValue() - delta);
	_CheckCollectInfo();
	return _Step();
}

void VProgressIndicator::SetMessage(const VString& message)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent.SetMessage(message);
	_CheckCollectInfo();
}

bool VProgressIndicator::SetMessageAndValue(const VString& message, int64 value)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return true;
	++fChangeCounter;
	fCurrent.SetMessage(message);
	fCurrent.SetValue(value);
	_CheckCollectInfo();
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
	_CheckCollectInfo();
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

void VProgressIndicator::GetTitle(VString& title) const
{
	StLocker locker(&fLock);
	title = fTitle;
}

void VProgressIndicator::SetTitle(const VString& title)
{
	StLocker locker(&fLock);
	fTitle = title;
}

void VProgressIndicator::SetAttribute(const VString& name, const VValueSingle& value)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent.SetAttribute(name, value);
}

void VProgressIndicator::RemoveAttribute(const VString& name)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent.RemoveAttribute(name);
}

bool VProgressIndicator::GetProgressInfo(const VUUID& uuid, VProgressIndicatorInfo& info) const
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return false;
	if (fCurrent.GetUUID() == uuid)
	{
		info = fCurrent;
		return true;
	}
	for (const VProgressIndicatorInfo& session : fSessionStack)
	{
		if (session.GetUUID() == uuid)
		{
			info = session;
			return true;
		}
	}
	return false;
}

void VProgressIndicator::SetProgressInfo(const VProgressIndicatorInfo& info)
{
	StLocker locker(&fLock);
	if (fSessionCount == 0)
		return;
	++fChangeCounter;
	fCurrent = info;
}

void VProgressIndicator::SaveInfoToBag(VValueBag& bag) const
{
	StLocker locker(&fLock);
	sKeySessionCount.Set(&bag, fSessionCount);
	sKeyTitle.Set(&bag, fTitle);
	sKeyCanInterrupt.Set(&bag, fDefaultInterruptible);
	if (fSessionCount == 0)
		return;
	for (const VProgressIndicatorInfo& session : fSessionStack)
		AddSessionElement(bag, session);
	AddSessionElement(bag, fCurrent);
}

void VProgressIndicator::_CheckCollectInfo()
{
	uint32 requested = fRequestCounter.load(std::memory_order_relaxed);
	if (fSessionCount == 0)
	{
		// A finished operation must not go on showing its last sessions as open.
		StLocker remoteLocker(&fRemoteLock);
		fSessionsInfos = nullptr;
		return;
	}
	if (requested == fCollectedCounter)
		return;
	std::vector<VProgressIndicatorInfo> sessions(fSessionStack.begin(), fSessionStack.end());
	sessions.push_back(fCurrent);
	VRefPtr<VRefCountedSessionInfo> snapshot(
		new (std::nothrow) VRefCountedSessionInfo(std::move(sessions), _ComputePercentDone(), fChangeCounter), true);
	if (snapshot.Get() == nullptr)
		return;
	{
		StLocker remoteLocker(&fRemoteLock);
		fSessionsInfos = snapshot;
	}
	fCollectedCounter = requested;
}

VRefPtr<VRefCountedSessionInfo> VProgressIndicator::RetainSessionsInfos() const
{
	StLocker remoteLocker(&fRemoteLock);
	return fSessionsInfos;
}

bool VProgressIndicator::GetProgressInfo(VProgressSessionInfo& info)
{
	UpdateSessionsInfos();
	VRefPtr<VRefCountedSessionInfo> snapshot = RetainSessionsInfos();
	if (snapshot.Get() == nullptr || snapshot->GetSessions().empty())
		return false;
	info.FillFrom(*snapshot.Get());
	return true;
}

bool VProgressIndicator::GetProgressInfo(VRemoteProgressSessionInfo& out, const VRemoteProgressSessionInfo* previous)
{
	if (!fLock.TryToLock())
		return false;
	bool changed = previous == nullptr || previous->fChangesVersion != fChangeCounter;
	if (changed)
	{
		out.Reset();
		out.fFlags = VRemoteProgressSessionInfo::kSessionCount | VRemoteProgressSessionInfo::kChangesVersion
			| VRemoteProgressSessionInfo::kSessionVersion | VRemoteProgressSessionInfo::kMasterSessionVersion;
		out.fSessionCount = fSessionCount;
		out.fChangesVersion = fChangeCounter;
		out.fSessionVersion = fSessionVersion;
		out.fMasterSessionVersion = fMasterSessionVersion;
		out.fUserAbort = fUserAbort;
		out.fCanInterrupt = fDefaultInterruptible;
		if (previous == nullptr || previous->fUserAbort != fUserAbort)
			out.fFlags |= VRemoteProgressSessionInfo::kUserAbort;
		if (previous == nullptr || previous->fCanInterrupt != fDefaultInterruptible)
			out.fFlags |= VRemoteProgressSessionInfo::kCanInterrupt;
		if (fSessionCount > 0)
		{
			// The current session is kept whole so that the next snapshot can be compared with it.
			out.fCurrent = fCurrent;
			const VProgressIndicatorInfo* last = nullptr;
			if (previous != nullptr)
				last = previous->fSessionStack.empty() ? &previous->fCurrent : &previous->fSessionStack.back();
			if (last == nullptr || previous->fSessionCount != fSessionCount || last->GetStartTime() != fCurrent.GetStartTime())
			{
				out.fFlags |= VRemoteProgressSessionInfo::kSessionStack;
				out.fSessionStack.assign(fSessionStack.begin(), fSessionStack.end());
				out.fSessionStack.push_back(fCurrent);
			}
			else
			{
				out.fCurrentFlags = fCurrent.GetChangedParts(*last);
				if (out.fCurrentFlags != 0)
					out.fFlags |= VRemoteProgressSessionInfo::kCurrent;
			}
		}
	}
	fLock.Unlock();
	return changed;
}

void VProgressIndicator::UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& remote)
{
	StLocker locker(&fLock);
	if (remote.Has(VRemoteProgressSessionInfo::kUserAbort) && fUserAbort == 0)
		fUserAbort = remote.fUserAbort;
	if (remote.Has(VRemoteProgressSessionInfo::kCanInterrupt))
		fDefaultInterruptible = remote.fCanInterrupt;
	bool remoteHasSessions = remote.Has(VRemoteProgressSessionInfo::kSessionCount) && remote.fSessionCount > 0;
	if (!fReturnLevelMarked)
	{
		if (remoteHasSessions && remote.Has(VRemoteProgressSessionInfo::kSessionStack))
		{
			fReturnLevelMarked = true;
			fReturnLevel = fSessionCount;
			_OpenRemoteSessions(remote);
		}
	}
	else if (!remoteHasSessions
		|| (remote.Has(VRemoteProgressSessionInfo::kSessionVersion) && remote.fSessionVersion != fMirroredSessionVersion))
	{
		_CloseRemoteSession();
	}
	else if (remote.Has(VRemoteProgressSessionInfo::kSessionStack))
	{
		// The remote sessions were replaced (one opened or closed): mirror the new stack.
		_CleanRemoteSession();
		_OpenRemoteSessions(remote);
	}
	else if (remote.Has(VRemoteProgressSessionInfo::kCurrent) && fSessionCount > fReturnLevel)
	{
		++fChangeCounter;
		fCurrent.UpdateFromRemoteInfo(remote.fCurrent, remote.fCurrentFlags);
	}
	_CheckCollectInfo();
}

void VProgressIndicator::_OpenRemoteSessions(const VRemoteProgressSessionInfo& remote)
{
	if (fSessionCount == 0 && remote.Has(VRemoteProgressSessionInfo::kSessionVersion))
		fSessionVersion = remote.fSessionVersion;
	fMirroredSessionVersion = remote.fSessionVersion;
	if (remote.Has(VRemoteProgressSessionInfo::kMasterSessionVersion))
		fMasterSessionVersion = remote.fMasterSessionVersion;
	if (remote.Has(VRemoteProgressSessionInfo::kChangesVersion))
		fChangeCounter = remote.fChangesVersion;
	for (const VProgressIndicatorInfo& session : remote.fSessionStack)
	{
		if (fSessionCount > 0)
			fSessionStack.push_back(fCurrent);
		fCurrent = session;
		fCurrent.SetRemote(true);
		// Reported to metrics by the process that did the work, not by the mirror.
		fCurrent.SetMetricsFlag(false);
		++fSessionCount;
		DoBeginSession(fSessionCount);
	}
}

void VProgressIndicator::_CleanRemoteSession()
{
	while (fSessionCount > fReturnLevel)
		_EndOneSession();
}

void VProgressIndicator::_CloseRemoteSession()
{
	_CleanRemoteSession();
	fReturnLevelMarked = false;
}

void VProgressIndicator::WriteInfoForRemote(VValueBag& bag, VString& kind) const
{
	kind = VString("VProgressIndicator");
	bag.SetAttribute(StPackedDictionaryKey("uuid"), fUUID);
	bag.SetAttribute(StPackedDictionaryKey("version"), VLong(fSessionVersion));
}

VError VProgressIndicator::WriteInfoForRemote(VStream& stream) const
{
	VError error = stream.PutWord(1);
	if (error == VE_OK)
		error = fUUID.WriteToStream(&stream);
	if (error == VE_OK)
		error = stream.PutLong(fSessionVersion);
	return error;
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
