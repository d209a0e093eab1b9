// A task's queue of messages, first in, first out, with the event its task waits on. Messages are
// queued from any thread and taken by the task's message passes; the queue's lock is never held while
// a message runs, is aborted or wakes its sender.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <list>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VSyncEvent.h"

namespace velk {

class IMessageable;
class VMessage;

class VELK_API VMessageQueue : public VObject, public IRefCountable
{
public:
	// Empty, open; one reference owned by the creator.
	VMessageQueue() = default;
	// Aborts the messages still queued, so that a sender blocked on one of them wakes up with false.
	~VMessageQueue() override;

	VMessageQueue(const VMessageQueue&) = delete;
	VMessageQueue& operator=(const VMessageQueue&) = delete;

	// Appends message, retained. A message of non-zero signature is first offered to the first queued
	// one of that signature (its DoCoalesce, under the lock): when that answers false the newcomer is
	// merged and not queued. False also once the queue is closed, or when memory is short (velk 100
	// thrown); nothing is kept then.
	bool AddMessage(VMessage* message);
	// The first message, removed and handed over with the queue's reference; null when empty. Never waits.
	VMessage* RetainMessage();
	// Waits at most milliseconds for a message or a signal. Null on time-out (outTimedOut true) and
	// on a signal, which is consumed (outTimedOut false). outTimedOut may be null.
	VMessage* RetainMessageWithTimeout(int32 milliseconds, bool* outTimedOut);
	// Waits at most milliseconds for a message or a signal, and consumes a pending signal.
	void Wait(int32 milliseconds);
	// Wakes the queue's waiter without a message; the next wait returns at once if none is waiting.
	void SetEvent();

	// Aborts and removes the queued messages for target (null: those without a target); the others
	// keep their order.
	void CancelMessages(IMessageable* target);
	// Aborts and removes every queued message.
	void CancelMessages();
	// Removes message without running or aborting it, and drops the queue's reference to it; false
	// when it was not queued.
	bool RemoveMessage(VMessage* message);

	uint32 CountMessages() const;
	bool IsEmpty() const;
	// Rises at every message added and every signal.
	uint32 GetEventCount() const { return fEventCount.load(); }

	// For a task whose body ended: aborts every queued message and refuses every later one, so that
	// no sender waits for ever on a task that will not read its queue again.
	void Close();

private:
	// With the lock held: clears the event once nothing is queued and no signal waits.
	void _ResetEventIfIdle();
	// Takes the queued messages for target (all of them with all) and aborts them, one at a time so
	// that nothing is allocated and no message is aborted under the lock.
	void _AbortMessages(bool all, IMessageable* target);

	// Retained. A list rather than a deque: an empty one allocates nothing, so making a queue cannot
	// fail half-way, and a message in the middle leaves without moving the others.
	std::list<VMessage*> fMessages;
	mutable VCriticalSection fLock;
	VSyncEvent fEvent;  // set while messages are queued or a signal waits
	std::atomic<uint32> fEventCount{0};
	bool fSignalled = false;
	bool fClosed = false;
};

}  // namespace velk
