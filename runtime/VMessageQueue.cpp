#include "runtime/VMessageQueue.h"

#include <algorithm>
#include <new>

#include "runtime/VError.h"
#include "runtime/VMessage.h"

namespace velk {

VMessageQueue::~VMessageQueue()
{
	// Releasing alone would leave a sender without time-out blocked for ever.
	for (VMessage* message : fMessages)
	{
		message->Abort();
		message->Release();
	}
}

bool VMessageQueue::AddMessage(VMessage* message)
{
	if (message == nullptr)
		return false;
	const int32 signature = message->GetCoalescingSignature();
	bool added = false;
	bool outOfMemory = false;
	{
		StLocker locker(&fLock);
		if (fClosed)
			return false;
		if (signature != 0)
		{
			auto queued = std::find_if(fMessages.begin(), fMessages.end(),
				[signature](const VMessage* candidate) { return candidate->GetCoalescingSignature() == signature; });
			if (queued != fMessages.end() && !(*queued)->DoCoalesce(*message))
				return false;
		}
		try
		{
			fMessages.push_back(message);
			message->Retain();
			added = true;
		}
		catch (const std::bad_alloc&)
		{
			outOfMemory = true;
		}
		if (added)
		{
			if (fMessages.size() == 1)
				fEvent.Unlock();
			fEventCount.fetch_add(1);
		}
	}
	if (outOfMemory)
		_ThrowError(VE_MEMORY_FULL);
	return added;
}

VMessage* VMessageQueue::RetainMessage()
{
	StLocker locker(&fLock);
	if (fMessages.empty())
		return nullptr;
	VMessage* message = fMessages.front();
	fMessages.pop_front();
	_ResetEventIfIdle();
	return message;
}

VMessage* VMessageQueue::RetainMessageWithTimeout(int32 milliseconds, bool* outTimedOut)
{
	const bool set = fEvent.Lock(milliseconds);
	bool timedOut = !set;
	VMessage* message = nullptr;
	{
		StLocker locker(&fLock);
		if (fSignalled)
		{
			fSignalled = false;
			_ResetEventIfIdle();
			timedOut = false;
		}
		else if (set && !fMessages.empty())
		{
			message = fMessages.front();
			fMessages.pop_front();
			_ResetEventIfIdle();
		}
		else if (set)
		{
			_ResetEventIfIdle();
		}
	}
	if (outTimedOut != nullptr)
		*outTimedOut = timedOut;
	return message;
}

void VMessageQueue::Wait(int32 milliseconds)
{
	fEvent.Lock(milliseconds);
	StLocker locker(&fLock);
	if (fSignalled)
	{
		fSignalled = false;
		_ResetEventIfIdle();
	}
}

void VMessageQueue::SetEvent()
{
	StLocker locker(&fLock);
	fEventCount.fetch_add(1);
	fSignalled = true;
	fEvent.Unlock();
}

void VMessageQueue::CancelMessages(IMessageable* target)
{
	_AbortMessages(false, target);
}

void VMessageQueue::CancelMessages()
{
	_AbortMessages(true, nullptr);
}

bool VMessageQueue::RemoveMessage(VMessage* message)
{
	{
		StLocker locker(&fLock);
		auto queued = std::find(fMessages.begin(), fMessages.end(), message);
		if (queued == fMessages.end())
			return false;
		fMessages.erase(queued);
		_ResetEventIfIdle();
	}
	message->Release();
	return true;
}

uint32 VMessageQueue::CountMessages() const
{
	StLocker locker(&fLock);
	return uint32(fMessages.size());
}

bool VMessageQueue::IsEmpty() const
{
	StLocker locker(&fLock);
	return fMessages.empty();
}

void VMessageQueue::Close()
{
	{
		StLocker locker(&fLock);
		fClosed = true;
	}
	_AbortMessages(true, nullptr);
}

void VMessageQueue::_ResetEventIfIdle()
{
	if (fMessages.empty() && !fSignalled)
		fEvent.Reset();
}

void VMessageQueue::_AbortMessages(bool all, IMessageable* target)
{
	for (;;)
	{
		VMessage* message = nullptr;
		{
			StLocker locker(&fLock);
			auto queued = all ? fMessages.begin()
				: std::find_if(fMessages.begin(), fMessages.end(),
					[target](const VMessage* candidate) { return candidate->_IsFor(target); });
			if (queued != fMessages.end())
			{
				message = *queued;
				fMessages.erase(queued);
			}
			_ResetEventIfIdle();
		}
		if (message == nullptr)
			break;
		message->Abort();
		message->Release();
	}
}

}  // namespace velk
