#include "files/VSleepNotifier.h"

#include <new>
#include <vector>

#include "files/ISleepHandler.h"
#include "files/mac/XMacSleepNotifier.h"
#include "kernel/strings/VString.h"
#include "runtime/IFiberScheduler.h"
#include "runtime/ILogger.h"
#include "runtime/VProcess.h"
#include "runtime/VTaskMgr.h"
#include "runtime/VProcessIPC.h"

namespace velk {

VSleepNotifier::VSleepNotifier()
	: fPlatform(new (std::nothrow) XMacSleepNotifier)
{
}

VSleepNotifier::~VSleepNotifier()
{
	UnregisterSleepHandlers();
	delete fPlatform;
}

VSleepNotifier* VSleepNotifier::Instance()
{
	// The command-line process frame owns the process's notifier.
	return VProcessIPC::sInstance != nullptr ? VProcessIPC::sInstance->GetSleepNotifier() : nullptr;
}

VError VSleepNotifier::Init()
{
	VError result = VE_INVALID_PARAMETER;
	if (fPlatform != nullptr)
	{
		result = fPlatform->Init();
		if (result == VE_OK)
			fPlatform->SetOwner(this);
	}
	if (result != VE_OK)
		_ThrowError(result);
	return result;
}

VError VSleepNotifier::RegisterSleepHandler(ISleepHandler* handler)
{
	if (handler == nullptr)
		return VE_INVALID_PARAMETER;
	StLocker locker(&fLock);
	VString description;
	handler->GetDescription(description);
	if (fHandlers.count(handler) == 0)
	{
		fHandlers.insert(handler);
		handler->Retain();
	}
	return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandler(ISleepHandler* handler)
{
	if (handler == nullptr)
		return VE_INVALID_PARAMETER;
	StLocker locker(&fLock);
	VString description;
	handler->GetDescription(description);
	if (fHandlers.erase(handler) != 0)
		handler->Release();
	return VE_OK;
}

VError VSleepNotifier::UnregisterSleepHandlers()
{
	StLocker locker(&fLock);
	for (ISleepHandler* handler : fHandlers)
		handler->Release();
	fHandlers.clear();
	return VE_OK;
}

void VSleepNotifier::HaveSleepNotification()
{
	_Dispatch(true);
}

void VSleepNotifier::HaveWakeupNotification()
{
	_Dispatch(false);
}

void VSleepNotifier::_Dispatch(bool goingToSleep)
{
	if (VProcess::sInstance != nullptr)
	{
		if (ILogger* logger = VProcess::sInstance->GetLogger(); logger != nullptr)
		{
			logger->LogMessage(EML_Information, VString(goingToSleep ? "System is going to sleep" : "System woke up from sleep"),
				VString("sleepNotifications"));
		}
	}
	IFiberScheduler* scheduler = VTaskMgr::IsInited() ? VTaskMgr::Get()->RetainFiberScheduler() : nullptr;
	if (scheduler != nullptr)
		scheduler->SetSystemCallCFRunloop(true);
	std::vector<ISleepHandler*> handlers;
	{
		StLocker locker(&fLock);
		try
		{
			handlers.assign(fHandlers.begin(), fHandlers.end());
		}
		catch (const std::bad_alloc&)
		{
			handlers.clear();
		}
		// Held by the copy: a handler unregistered by another thread during the hooks stays alive until its
		// own hook returned.
		for (ISleepHandler* handler : handlers)
			handler->Retain();
	}
	for (ISleepHandler* handler : handlers)
	{
		if (goingToSleep)
			handler->DoSystemWillSleep();
		else
			handler->DoSystemDidWake();
		VString description;
		handler->GetDescription(description);
		handler->Release();
	}
	if (scheduler != nullptr)
		scheduler->Release();
}

}  // namespace velk
