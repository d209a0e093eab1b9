// The task's side of messages: its queue, message passes, waits and idle steps.
#include "runtime/VTask.h"

#include <new>

#include "files/VSystem.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/IIdleable.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VMessage.h"
#include "runtime/VMessageQueue.h"
#include "runtime/mac/XMacTask.h"

namespace velk {

namespace {

// Waits are cut into slices so that a dying state set without a signal is still noticed.
constexpr int32 kMessageWaitSlice = 1000;
constexpr uint64 kRespondingDelay = 1000;

// The fiber scheduler may update the screen while the calling fiber waits for its messages.
class StDirectUpdateWhileWaiting
{
public:
	explicit StDirectUpdateWhileWaiting(VTaskMgr* manager) : fScheduler(manager->RetainFiberScheduler())
	{
		if (fScheduler != nullptr)
			fScheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(true);
	}
	~StDirectUpdateWhileWaiting()
	{
		if (fScheduler != nullptr)
		{
			fScheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(false);
			fScheduler->Release();
		}
	}
	StDirectUpdateWhileWaiting(const StDirectUpdateWhileWaiting&) = delete;
	StDirectUpdateWhileWaiting& operator=(const StDirectUpdateWhileWaiting&) = delete;

private:
	IFiberScheduler* fScheduler;
};

}  // namespace

VMessageQueue* VTask::RetainMessageQueue()
{
	VMessageQueue* queue = fMessageQueue.load();
	if (queue == nullptr)
	{
		VMessageQueue* made = new (std::nothrow) VMessageQueue;
		if (made == nullptr)
			return nullptr;
		// One queue per task: a loser of the race drops its own.
		if (fMessageQueue.compare_exchange_strong(queue, made))
			queue = made;
		else
			made->Release();
	}
	queue->Retain();
	return queue;
}

bool VTask::AddMessage(VMessage* message)
{
	if (message == nullptr)
		return false;
	VMessageQueue* queue = RetainMessageQueue();
	if (queue == nullptr)
		return false;
	bool added = queue->AddMessage(message);
	queue->Release();
	return added;
}

VMessage* VTask::RetainMessageWithTimeout(int32 milliseconds)
{
	VTask* task = GetCurrent();
	if (task == nullptr)
		return nullptr;
	VMessageQueue* queue = task->RetainMessageQueue();
	if (queue == nullptr)
		return nullptr;
	bool timedOut = false;
	VMessage* message = queue->RetainMessageWithTimeout(milliseconds, &timedOut);
	queue->Release();
	return message;
}

bool VTask::ExecuteMessages(bool withIdle)
{
	VTask* task = GetCurrent();
	if (task == nullptr)
		return false;
	VMessage* message = nullptr;
	if (VMessageQueue* queue = task->fMessageQueue.load())
		message = queue->RetainMessage();
	return task->_ExecuteMessages(message, withIdle);
}

bool VTask::ExecuteMessagesWithTimeout(int32 milliseconds, bool withIdle)
{
	VTask* task = GetCurrent();
	if (task == nullptr)
		return false;
	return task->_ExecuteMessages(RetainMessageWithTimeout(milliseconds), withIdle);
}

bool VTask::_ExecuteMessages(VMessage* message, bool withIdle)
{
	bool executed = message != nullptr;
	while (message != nullptr)
	{
		{
			// Errors of a message were reported when raised; kept, they would pile up on the task.
			StErrorContextInstaller scope(false);
			message->Execute();
		}
		message->Release();
		VMessageQueue* queue = fMessageQueue.load();
		message = queue != nullptr ? queue->RetainMessage() : nullptr;
	}
	if (!executed)
	{
		bool systemMessages = false;
		if (fManager->WithSystemEventPolling() && fPlatformTask != nullptr)
			systemMessages = fPlatformTask->CheckSystemMessages();
		if (withIdle && !systemMessages)
			_IdleStep(true);
	}
	fLastResponseTime.store(VSystem::GetCurrentTime());
	return executed;
}

bool VTask::_CheckIdleEvents()
{
	uint32 before = fLastIdleTime;
	bool wasInIdle = fInIdle;
	_IdleStep(false);
	return !wasInIdle && fLastIdleTime != before;
}

void VTask::_IdleStep(bool withDoIdle)
{
	uint32 now = VSystem::GetCurrentTicks();
	if (fInIdle || now - fLastIdleTime <= fIdlePeriod)
		return;
	fInIdle = true;
	fLastIdleTime = now;
	if (withDoIdle)
		DoIdle();
	CallIdlers();
	fManager->_CheckDelayedMessages();
	fInIdle = false;
}

void VTask::WaitAndExecuteMessages()
{
	VTask* task = GetCurrent();
	if (task == nullptr)
	{
		thread_local VSyncEvent sThreadEvent;
		if (sThreadEvent.Lock(kMessageWaitSlice))
			sThreadEvent.Reset();
		return;
	}
	VMessageQueue* queue = task->RetainMessageQueue();
	if (queue == nullptr)
	{
		// No queue to wait on: a short sleep keeps the caller's loop from spinning.
		Sleep(10);
		return;
	}
	StTaskWaitReason reason(eTaskWaitReasonMessage);
	StDirectUpdateWhileWaiting direct(task->fManager);
	const uint32 stamp = task->fWakeStamp.load();
	while (task->fState.load() < eTaskStateDying && task->fWakeStamp.load() == stamp)
	{
		bool timedOut = false;
		VMessage* message = queue->RetainMessageWithTimeout(kMessageWaitSlice, &timedOut);
		if (message == nullptr && !timedOut)
			break;
		task->_ExecuteMessages(message, true);
	}
	queue->Release();
}

void VTask::WaitAndExecuteMessages(int32 milliseconds, bool* outTimedOut)
{
	bool timedOut = true;
	VTask* task = GetCurrent();
	VMessageQueue* queue = task != nullptr && milliseconds >= 1 ? task->RetainMessageQueue() : nullptr;
	if (queue != nullptr)
	{
		StTaskWaitReason reason(eTaskWaitReasonMessage);
		StDirectUpdateWhileWaiting direct(task->fManager);
		const uint32 stamp = task->fWakeStamp.load();
		const uint64 start = VSystem::GetCurrentTime();
		timedOut = false;
		while (task->fState.load() < eTaskStateDying && task->fWakeStamp.load() == stamp)
		{
			uint64 elapsed = VSystem::GetCurrentTime() - start;
			if (elapsed >= uint64(milliseconds))
			{
				timedOut = true;
				break;
			}
			int32 remaining = int32(uint64(milliseconds) - elapsed);
			bool sliceTimedOut = false;
			VMessage* message = queue->RetainMessageWithTimeout(remaining < kMessageWaitSlice ? remaining : kMessageWaitSlice, &sliceTimedOut);
			if (message == nullptr && !sliceTimedOut)
				break;
			task->_ExecuteMessages(message, true);
		}
		queue->Release();
	}
	if (outTimedOut != nullptr)
		*outTimedOut = timedOut;
}

bool VTask::IsAnyMessagePending()
{
	VTask* task = GetCurrent();
	if (task == nullptr)
		return false;
	VMessageQueue* queue = task->fMessageQueue.load();
	return queue != nullptr && !queue->IsEmpty();
}

void VTask::SetMessageQueueEvent()
{
	fWakeStamp.fetch_add(1);
	if (VMessageQueue* queue = RetainMessageQueue())
	{
		queue->SetEvent();
		queue->Release();
	}
}

uint32 VTask::GetMessageQueueStamp() const
{
	VMessageQueue* queue = fMessageQueue.load();
	return queue != nullptr ? queue->GetEventCount() : 0;
}

void VTask::CancelMessages(IMessageable* target)
{
	if (VMessageQueue* queue = fMessageQueue.load())
		queue->CancelMessages(target);
}

bool VTask::IsResponding() const
{
	return VSystem::GetCurrentTime() - fLastResponseTime.load() < kRespondingDelay;
}

void VTask::RegisterIdler(IIdleable* idler)
{
	if (idler == nullptr)
		return;
	VTaskMgr::StMutexLocker locker(fManager);
	for (IIdleable* known : fIdlers)
	{
		if (known == idler)
			return;
	}
	try
	{
		fIdlers.push_back(idler);
	}
	catch (const std::bad_alloc&)
	{
		return;
	}
	fCallingIdlers.store(false);
}

void VTask::UnregisterIdler(IIdleable* idler)
{
	// From any thread: an idler destroyed elsewhere must not stay listed.
	VTaskMgr::StMutexLocker locker(fManager);
	for (auto i = fIdlers.begin(); i != fIdlers.end(); ++i)
	{
		if (*i == idler)
		{
			fIdlers.erase(i);
			fCallingIdlers.store(false);
			return;
		}
	}
}

void VTask::CallIdlers()
{
	if (GetCurrent() != this)
		return;
	std::vector<IIdleable*> idlers;
	{
		VTaskMgr::StMutexLocker locker(fManager);
		if (fIdlers.empty())
			return;
		try
		{
			idlers = fIdlers;
		}
		catch (const std::bad_alloc&)
		{
			return;
		}
		fCallingIdlers.store(true);
	}
	// A registration change stops the pass: the copy may name an idler gone since.
	for (IIdleable* idler : idlers)
	{
		if (!fCallingIdlers.load())
			break;
		idler->Idle();
	}
}

}  // namespace velk
