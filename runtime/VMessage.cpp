#include "runtime/VMessage.h"

#include <algorithm>
#include <new>

#include "files/VSystem.h"
#include "runtime/IMessageable.h"
#include "runtime/SpinLock.h"
#include "runtime/VError.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VMessagingContext.h"
#include "runtime/VSyncEvent.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

// A waiter executing its own messages looks at its message at least this often.
constexpr int32 kWaitSlice = 1000;

// The task that runs context's messages, retained; null when the context is stopped, lost its
// object or names no living task.
VTask* RetainTaskOf(VMessagingContext* context)
{
	if (context == nullptr || !context->IsActive() || context->GetTarget() == nullptr)
		return nullptr;
	return VTaskMgr::Get()->RetainTaskByID(context->GetTaskID());
}

}  // namespace

VMessage::~VMessage()
{
	if (VMessagingContext* context = _TakeContext())
		context->Release();
}

void VMessage::DoExecute()
{
	IMessageable* target = fRunningContext != nullptr ? fRunningContext->GetTarget() : nullptr;
	if (target != nullptr)
		target->DoMessage(*this);
}

bool VMessage::DoCoalesce(const VMessage&)
{
	return true;
}

bool VMessage::SendTo(IMessageable* target)
{
	if (target == nullptr || _IsInFlight())
		return false;
	VMessagingContext* context = target->RetainMessagingContext();
	bool sent = _Send(context, 0, true);
	if (context != nullptr)
		context->Release();
	return sent;
}

bool VMessage::SendTo(IMessageable* target, int32 timeoutMilliseconds)
{
	if (target == nullptr || _IsInFlight())
		return false;
	VMessagingContext* context = target->RetainMessagingContext();
	bool sent = _Send(context, timeoutMilliseconds, false);
	if (context != nullptr)
		context->Release();
	return sent;
}

bool VMessage::PostTo(IMessageable* target, bool executeNowIfSameTask, int32 delayMilliseconds)
{
	if (target == nullptr)
		return false;
	if (_IsInFlight())
		return true;
	VMessagingContext* context = target->RetainMessagingContext();
	bool posted = false;
	if (delayMilliseconds > 0)
	{
		if (VTask* task = RetainTaskOf(context))
		{
			task->Release();
			posted = _PostDelayed(context, delayMilliseconds);
		}
	}
	else
	{
		posted = _Post(context, executeNowIfSameTask);
	}
	if (context != nullptr)
		context->Release();
	return posted;
}

bool VMessage::SendOrPostTo(VMessagingContext* context, int32 delayMilliseconds, bool executeNowIfSameTask, bool send,
	int32 timeoutMilliseconds)
{
	if (context == nullptr || _IsInFlight())
		return false;
	if (delayMilliseconds > 0)
		return _PostDelayed(context, delayMilliseconds);
	if (send)
		return _Send(context, timeoutMilliseconds, false);
	return _Post(context, executeNowIfSameTask);
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target)
{
	return _PostAndWait(target, 0, false);
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target, int32 timeoutMilliseconds)
{
	return _PostAndWait(target, timeoutMilliseconds, true);
}

void VMessage::RePost()
{
	VMessagingContext* context = _TakeContext();
	if (context == nullptr)
		return;
	VTask* task = RetainTaskOf(context);
	if (task != nullptr && _TryHold(context))
	{
		// Once queued the message belongs to the task's pass: only a refusal gives the context back.
		if (!task->AddMessage(this))
			context = _TakeContext();
		else
			context = nullptr;
	}
	if (task != nullptr)
		task->Release();
	if (context != nullptr)
		context->Release();
}

void VMessage::_WithdrawOrAwait(VSyncEvent* event)
{
	// A withdrawn message stays queued and is skipped there: its pass finds no context to take.
	if (VMessagingContext* taken = _TakeContext())
	{
		fAborted.store(true);
		taken->Release();
	}
	else
	{
		// Run or aborted by the target, perhaps still running: it ends by setting the event.
		event->Lock();
	}
}

void VMessage::Execute()
{
	_Finish(true);
}

void VMessage::Abort()
{
	_Finish(false);
}

bool VMessage::_IsFor(IMessageable* target) const
{
	SpinLock::Lock(&fContextLock);
	VMessagingContext* context = fContext.load();
	IMessageable* held = context != nullptr ? context->GetTarget() : nullptr;
	SpinLock::Unlock(&fContextLock);
	return held == target;
}

void VMessage::_Bind(VMessagingContext* context)
{
	if (context != nullptr)
		context->Retain();
	SpinLock::Lock(&fContextLock);
	VMessagingContext* old = fContext.exchange(context);
	SpinLock::Unlock(&fContextLock);
	if (old != nullptr)
		old->Release();
}

bool VMessage::_Send(VMessagingContext* context, int32 timeoutMilliseconds, bool waitForever)
{
	fAnswered.store(false);
	fAborted.store(false);
	VTask* task = RetainTaskOf(context);
	if (task == nullptr)
		return false;
	if (VTask::GetCurrent() == task)
	{
		context->Retain();
		bool held = _TryHold(context);
		if (held)
			_RunNow(_TakeContext());
		else
			context->Release();
		task->Release();
		return held;
	}

	VSyncEvent* event = new (std::nothrow) VSyncEvent;
	if (event == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		task->Release();
		return false;
	}
	// In place before the message holds its context: whoever takes the context reads it.
	fSyncEvent = event;
	context->Retain();
	bool queued = false;
	if (!_TryHold(context))
	{
		context->Release();
	}
	else if (!task->AddMessage(this))
	{
		if (VMessagingContext* taken = _TakeContext())
			taken->Release();
	}
	else
	{
		queued = true;
		StTaskWaitReason reason(eTaskWaitReasonMessageExecution);
		bool done = waitForever ? event->Lock() : event->Lock(timeoutMilliseconds);
		if (!done)
			_WithdrawOrAwait(event);
	}
	fSyncEvent = nullptr;
	event->Release();
	task->Release();
	return queued && !fAborted.load();
}

bool VMessage::_Post(VMessagingContext* context, bool executeNow)
{
	fAnswered.store(false);
	fAborted.store(false);
	VTask* task = RetainTaskOf(context);
	if (task == nullptr)
		return false;
	context->Retain();
	if (!_TryHold(context))
	{
		context->Release();
		task->Release();
		return false;
	}
	bool posted = true;
	if (executeNow && VTask::GetCurrent() == task)
	{
		_RunNow(_TakeContext());
	}
	else if (!task->AddMessage(this))
	{
		if (VMessagingContext* taken = _TakeContext())
			taken->Release();
		posted = false;
	}
	task->Release();
	return posted;
}

bool VMessage::_PostAndWait(IMessageable* target, int32 timeoutMilliseconds, bool withLimit)
{
	if (target == nullptr || _IsInFlight())
		return false;
	VMessagingContext* context = target->RetainMessagingContext();
	if (context == nullptr)
		return false;
	// A caller with a task is woken through its queue, so that it can run its messages meanwhile; a
	// thread without one waits on the event alone.
	VTask* caller = VTask::GetCurrent();
	VMessageQueue* replyQueue = caller != nullptr ? caller->RetainMessageQueue() : nullptr;
	VSyncEvent* event = new (std::nothrow) VSyncEvent;
	if (event == nullptr || (caller != nullptr && replyQueue == nullptr))
	{
		_ThrowError(VE_MEMORY_FULL);
		if (event != nullptr)
			event->Release();
		if (replyQueue != nullptr)
			replyQueue->Release();
		context->Release();
		return false;
	}
	fSyncEvent = event;
	fReplyQueue = replyQueue;
	bool posted = _Post(context, true);
	context->Release();
	if (posted && !fAnswered.load())
	{
		StTaskWaitReason reason(eTaskWaitReasonMessageExecution);
		const uint64 start = VSystem::GetCurrentTime();
		while (caller == nullptr || caller->GetState() < eTaskStateDying)
		{
			int32 slice = kWaitSlice;
			if (withLimit)
			{
				uint64 elapsed = VSystem::GetCurrentTime() - start;
				if (timeoutMilliseconds <= 0 || elapsed >= uint64(timeoutMilliseconds))
					break;
				slice = int32(std::min<uint64>(uint64(timeoutMilliseconds) - elapsed, kWaitSlice));
			}
			if (caller != nullptr)
				VTask::ExecuteMessagesWithTimeout(slice, false);
			else
				event->Lock(slice);
			if (fAnswered.load() || fAborted.load())
				break;
		}
		_WithdrawOrAwait(event);
	}
	fSyncEvent = nullptr;
	fReplyQueue = nullptr;
	event->Release();
	if (replyQueue != nullptr)
		replyQueue->Release();
	return fAnswered.load();
}

bool VMessage::_PostDelayed(VMessagingContext* context, int32 delayMilliseconds)
{
	fAnswered.store(false);
	fAborted.store(false);
	context->Retain();
	if (!_TryHold(context))
	{
		context->Release();
		return false;
	}
	if (VTaskMgr::Get()->RegisterDelayedMessage(this, delayMilliseconds))
		return true;
	if (VMessagingContext* taken = _TakeContext())
		taken->Release();
	return false;
}

void VMessage::_Finish(bool execute)
{
	VMessagingContext* context = _TakeContext();
	if (context == nullptr)
		return;
	// Held for the wake-up: a woken sender drops the message's own references at once.
	VSyncEvent* event = fSyncEvent;
	VMessageQueue* replyQueue = fReplyQueue;
	if (event != nullptr)
		event->Retain();
	if (replyQueue != nullptr)
		replyQueue->Retain();
	if (execute)
	{
		fRunningContext = context;
		DoExecute();
		fRunningContext = nullptr;
		fAnswered.store(true);
	}
	else
	{
		fAborted.store(true);
	}
	if (event != nullptr)
	{
		event->Unlock();
		event->Release();
	}
	if (replyQueue != nullptr)
	{
		replyQueue->SetEvent();
		replyQueue->Release();
	}
	context->Release();
}

void VMessage::_RunNow(VMessagingContext* context)
{
	fRunningContext = context;
	DoExecute();
	fRunningContext = nullptr;
	fAnswered.store(true);
	if (context != nullptr)
		context->Release();
}

bool VMessage::_TryHold(VMessagingContext* context)
{
	SpinLock::Lock(&fContextLock);
	VMessagingContext* expected = nullptr;
	bool held = fContext.compare_exchange_strong(expected, context);
	SpinLock::Unlock(&fContextLock);
	return held;
}

VMessagingContext* VMessage::_TakeContext()
{
	SpinLock::Lock(&fContextLock);
	VMessagingContext* context = fContext.exchange(nullptr);
	SpinLock::Unlock(&fContextLock);
	return context;
}

}  // namespace velk
