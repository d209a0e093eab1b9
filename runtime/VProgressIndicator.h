// Reports the progress of a long operation as a stack of nested sessions; each step asks whether to
// go on, which is how a user's abort reaches the worker.
#pragma once

#include "kernel/VExport.h"

#include <deque>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VProgressIndicatorInfo.h"

namespace velk {

class VELK_API VProgressIndicator : public VObject, public IRefCountable
{
public:
	// No open session; one reference owned by the creator.
	VProgressIndicator();
	~VProgressIndicator() override;

	VProgressIndicator(const VProgressIndicator&) = delete;
	VProgressIndicator& operator=(const VProgressIndicator&) = delete;

	// Opens a session nested in the current one (which is kept and comes back at EndSession).
	// max -1 means no known size.
	void BeginSession(int64 max, int64 value, const VString& message, bool canInterrupt);
	// Value 0, interruptible as the indicator's default.
	void BeginSession(int64 max, const VString& message);
	void BeginUndeterminedSession(const VString& message);
	void BeginUndeterminedSession(const VString& message, bool canInterrupt);

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

private:
	bool _Step();
	float _ComputePercentDone() const;

	mutable VCriticalSection fLock;
	std::deque<VProgressIndicatorInfo> fSessionStack;  // outer sessions, the outermost first
	VProgressIndicatorInfo fCurrent;
	int32 fSessionCount = 0;
	bool fDefaultInterruptible = true;
	VString fTitle;
	int32 fSessionVersion = 0;
	int32 fUserAbort = 0;
	int32 fChangeCounter = 0;
};

}  // namespace velk
