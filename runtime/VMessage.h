// A unit of work handed to the task of an IMessageable: sent (the sender blocks until it ran), posted
// (the sender goes on), posted and waited for while the sender runs its own messages, or posted after
// a delay. It runs on the target task's thread, inside that task's message passes.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"

namespace velk {

class IMessageable;
class VMessageQueue;
class VMessagingContext;
class VSyncEvent;
class VTask;

class VELK_API VMessage : public VObject, public IRefCountable
{
public:
	// One reference owned by the creator; not in flight.
	VMessage() = default;
	// Drops a context still held (a delayed message never re-posted).
	~VMessage() override;

	VMessage(const VMessage&) = delete;
	VMessage& operator=(const VMessage&) = delete;

	// Messages of one non-zero signature may be merged while queued (DoCoalesce); 0 never merges.
	virtual int32 GetCoalescingSignature() const { return 0; }
	// The work, on the target task: by default the target's DoMessage, nothing when it is gone.
	virtual void DoExecute();
	// Called on the queued message with a newcomer of the same signature, under the queue's lock:
	// false means the newcomer was merged into this one and is not queued; true queues it as well.
	virtual bool DoCoalesce(const VMessage& newcomer);

	// The operations below answer false for a null target and for a message already in flight, and
	// refuse (false) a target that stopped messaging, lost its object or whose task is gone. A send
	// from the target's own task runs the message at once.

	// Blocks the calling task (wait reason 5, none of its messages run) until the message ran:
	// true when it did, false when it was aborted (its task ended or cancelled it).
	bool SendTo(IMessageable* target);
	// As above, waiting at most timeoutMilliseconds: on time-out the message is withdrawn (false); it
	// stays queued but is skipped when its turn comes. When the target had already started it, the
	// wait goes on until it ran.
	bool SendTo(IMessageable* target, int32 timeoutMilliseconds);
	// Queues the message without waiting; true when queued (also when already in flight), false when
	// refused or merged into a queued one. With executeNowIfSameTask, a caller on the target's task
	// runs it at once. A positive delay keeps it in the task manager until an idle step after the due
	// tick posts it again (RePost).
	bool PostTo(IMessageable* target, bool executeNowIfSameTask = false, int32 delayMilliseconds = 0);
	// With a positive delay as PostTo with a delay; else sent (waiting at most timeoutMilliseconds)
	// when send is set, otherwise posted.
	bool SendOrPostTo(VMessagingContext* context, int32 delayMilliseconds, bool executeNowIfSameTask, bool send,
		int32 timeoutMilliseconds);
	// Posts (running it at once on the target's own task) and waits, executing the calling task's
	// messages meanwhile, so that two tasks may wait on each other. Returns whether it ran. Without a
	// time-out it waits until the message ran or was aborted; with one, a message not yet started
	// when the time is spent is withdrawn. The wait also ends, withdrawing the message, when the
	// calling task is dying.
	bool PostToAndWaitExecutingMessages(IMessageable* target);
	bool PostToAndWaitExecutingMessages(IMessageable* target, int32 timeoutMilliseconds);

	// Queues a due delayed message on the task of its context, or drops the context when that task,
	// target or activity is gone.
	void RePost();

	// On the target task: runs the message, unless it was already run, aborted or withdrawn; then
	// wakes the sender. Abort does the same without running it.
	void Execute();
	void Abort();

	bool Answered() const { return fAnswered.load(); }
	bool Aborted() const { return fAborted.load(); }
	void AnswerIt() { fAnswered.store(true); }

	// Whether the message's context targets target; a null target matches a message without a
	// context or whose context lost its object.
	bool _IsFor(IMessageable* target) const;
	// Holds context (a new reference), dropping any held before.
	void _Bind(VMessagingContext* context);

private:
	bool _Send(VMessagingContext* context, int32 timeoutMilliseconds, bool waitForever);
	bool _Post(VMessagingContext* context, bool executeNow);
	bool _PostAndWait(IMessageable* target, int32 timeoutMilliseconds, bool withLimit);
	bool _PostDelayed(VMessagingContext* context, int32 delayMilliseconds);
	void _Finish(bool execute);
	void _RunNow(VMessagingContext* context);
	// Installs context (the caller's reference passes to the message) when none is held.
	bool _TryHold(VMessagingContext* context);
	// Takes the context out of the message (the caller gets its reference); null when another party
	// took it first. Whoever takes it decides between running and aborting.
	VMessagingContext* _TakeContext();
	// After a wait that ended early: withdraws the message when nobody took it (it is then aborted),
	// else waits for the target, which ends by setting event.
	void _WithdrawOrAwait(VSyncEvent* event);
	bool _IsInFlight() const { return fContext.load() != nullptr; }

	// Exchanged under fContextLock, so that _IsFor may look at a context nobody can release meanwhile.
	std::atomic<VMessagingContext*> fContext{nullptr};
	mutable uint32 fContextLock = 0;
	// The context while DoExecute runs; touched only by the executing thread.
	VMessagingContext* fRunningContext = nullptr;
	// Set by a waiting sender before the message is queued and cleared after its wait; the executing
	// side reads them once it holds the context.
	VSyncEvent* fSyncEvent = nullptr;  // retained
	VMessageQueue* fReplyQueue = nullptr;  // retained
	std::atomic<bool> fAnswered{false};
	std::atomic<bool> fAborted{false};
};

}  // namespace velk
