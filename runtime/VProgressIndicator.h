// Reports the progress of a long operation as a stack of nested sessions; each step asks whether to
// go on, which is how a user's abort reaches the worker.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <deque>
#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VUUID.h"
#include "runtime/VCriticalSection.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VProgressIndicatorInfo.h"
#include "runtime/VProgressSessionInfo.h"
#include "runtime/VRemoteProgressSessionInfo.h"

namespace velk {

class IProgressInfoCollector;
class VStream;

class VELK_API VProgressIndicator : public VObject, public IRefCountable
{
public:
	// No open session, a random UUID; one reference owned by the creator. Registers itself with the
	// progress manager.
	VProgressIndicator();
	// The same under a given UUID and starting session version (a mirror of another process's indicator).
	VProgressIndicator(const VUUID& uuid, int32 sessionVersion);
	// Reports a session still open to metrics and unregisters.
	~VProgressIndicator() override;

	VProgressIndicator(const VProgressIndicator&) = delete;
	VProgressIndicator& operator=(const VProgressIndicator&) = delete;

	// Opens a session nested in the current one (which is kept and comes back at EndSession).
	// max -1 means no known size. The collector (not owned) is handed the session as it ends; a null one
	// given to the outermost session becomes the default collector.
	void BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt,
		IProgressInfoCollector* collector = nullptr);
	// Value 0, interruptible as the indicator's default; the default collector unless one is given.
	void BeginSession(int64 max, const VString& message);
	void BeginSession(int64 max, const VString& message, IProgressInfoCollector* collector);
	void BeginSession(int64 max, const VString& message, bool canInterrupt, IProgressInfoCollector* collector);
	void BeginUndeterminedSession(const VString& message);
	void BeginUndeterminedSession(const VString& message, bool canInterrupt);
	void BeginUndeterminedSession(const VString& message, bool canInterrupt, IProgressInfoCollector* collector);
	// With an open session: installs collector on it and hands back the one it replaces (null otherwise).
	void SetProgressInfoCollector(IProgressInfoCollector* collector, IProgressInfoCollector** previous);

	// Closes the innermost open session; nothing when none is open.
	void EndSession();

	// Moves the current session's value (absolute for Progress) and asks whether to go on: false means
	// cancelled, by the user or (for an indicator interruptible by default) because the calling task
	// is dying. True, changing nothing, when no session is open.
	bool Progress(int64 value);
	bool Increment(int64 delta = 1);
	bool Decrement(int64 delta = 1);

	void SetMessage(const VString& message);
	bool SetMessageAndValue(const VString& message, int64 value);
	bool SetMessageAndIncrementValue(const VString& message, int64 delta = 1);
	// The current session's message; empty when no session is open.
	void GetMessage(VString& message) const;

	void SetMaxValue(int64 max);
	int64 GetMaxValue() const;
	int64 GetCurrentValue() const;

	// With an open session: sets its message, maximum and value, makes it interruptible and restarts it.
	void Reset(const VString& message, int64 max, int64 value);

	// inCurrentSession false: the default for later sessions (and for the dying rule); true: the
	// current session's own flag.
	void SetCanInterrupt(bool canInterrupt, bool inCurrentSession);

	int32 GetSessionCount() const;

	const VUUID& GetUUID() const { return fUUID; }
	// The name the manager's look-up by identifier matches; set it before other tasks look the indicator up.
	const VString& GetIdentifier() const { return fIdentifier; }
	void SetIdentifier(const VString& identifier) { fIdentifier = identifier; }
	void GetTitle(VString& title) const;
	void SetTitle(const VString& title);

	// The current session's extra information; nothing without an open session.
	void SetAttribute(const VString& name, const VValueSingle& value);
	void RemoveAttribute(const VString& name);

	// A copy of the current session, or the first stacked one, whose UUID is uuid; false when none is.
	bool GetProgressInfo(const VUUID& uuid, VProgressIndicatorInfo& info) const;
	// With an open session: the current session becomes a copy of info.
	void SetProgressInfo(const VProgressIndicatorInfo& info);

	// "SessionCount", "Title", "CanInterrupt" and one element "SessionInfo" per open session, the
	// outermost first.
	virtual void SaveInfoToBag(VValueBag& bag) const;

	// Readers' side of the snapshots, never taking the indicator's lock. A request is answered at the
	// worker's next step (a begin of an undetermined session, an end, a move of the value or message).
	void UpdateSessionsInfos() { fRequestCounter.fetch_add(1, std::memory_order_relaxed); }
	// The latest snapshot, retained; null when none was taken or no session is open any more.
	VRefPtr<VRefCountedSessionInfo> RetainSessionsInfos() const;
	// Asks for a fresh snapshot and fills info from the latest one; false when there is none.
	bool GetProgressInfo(VProgressSessionInfo& info);
	virtual bool IsManagerValid() const { return true; }

	// The snapshot to send to another process. False when the indicator is busy (its lock is not taken)
	// or nothing changed since previous. Without previous, or when the sessions differ from previous's,
	// every session is included; otherwise only the current session's changed parts.
	bool GetProgressInfo(VRemoteProgressSessionInfo& out, const VRemoteProgressSessionInfo* previous);
	// Mirrors another process's indicator: its sessions are opened as nested sessions above the local
	// ones, followed while they live and ended when the remote ones end or are replaced.
	void UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& remote);
	// "uuid" and "version" (the session version), kind "VProgressIndicator": how another process finds
	// this indicator.
	void WriteInfoForRemote(VValueBag& bag, VString& kind) const;
	// The same for a stream: a 16-bit byte-order mark (1 in the stream's order), the UUID, then the
	// session version as 32 bits in the stream's order. Answers the stream's first error.
	VError WriteInfoForRemote(VStream& stream) const;

	// The fraction done over all open sessions: two nested sessions of 10 at 3 and 5 give 0.35. The
	// current value itself for an undetermined session; 0 without a session or under an undetermined
	// outer session.
	float ComputePercentDone() const;

	void Lock() const { fLock.Lock(); }
	void Unlock() const { fLock.Unlock(); }

protected:
	// Hooks: a session was opened or closed (count is the number of open sessions at that moment).
	virtual void DoBeginSession(int32 sessionCount);
	virtual void DoEndSession(int32 sessionCount);
	// Whether to go on: true unless the user asked to stop. Runs under the indicator's lock.
	virtual bool DoProgress();
	// Reports the current session to the process's metrics manager (kind 2) when it is counted in
	// metrics and collection is on for that kind, then stops counting it so it is reported once.
	void DoMetrics();

private:
	void _EndOneSession();
	void _CheckCollectInfo();
	void _OpenRemoteSessions(const VRemoteProgressSessionInfo& remote);
	void _CleanRemoteSession();
	void _CloseRemoteSession();
	void _Metrics(VProgressIndicatorInfo& session);
	bool _Step();
	float _ComputePercentDone() const;

	VUUID fUUID;
	mutable VCriticalSection fLock;
	std::deque<VProgressIndicatorInfo> fSessionStack;  // outer sessions, the outermost first
	VProgressIndicatorInfo fCurrent;
	int32 fSessionCount = 0;
	bool fReturnLevelMarked = false;
	int32 fReturnLevel = 0;
	int32 fMirroredSessionVersion = 0;  // the remote session version the mirrored sessions belong to
	int32 fMasterSessionVersion = 0;
	bool fDefaultInterruptible = true;
	IProgressInfoCollector* fDefaultCollector = nullptr;
	VString fTitle;
	int32 fSessionVersion = 0;
	int32 fUserAbort = 0;
	int32 fChangeCounter = 0;
	VString fIdentifier;
	mutable VCriticalSection fRemoteLock;
	VRefPtr<VRefCountedSessionInfo> fSessionsInfos;
	std::atomic<uint32> fRequestCounter{0};
	uint32 fCollectedCounter = ~0u;
};

}  // namespace velk
