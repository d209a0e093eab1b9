#include "runtime/VProcess.h"

#include <new>

#include "files/VSystem.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "runtime/VBootLogListener.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VLogger.h"
#include "runtime/VMetricsManager.h"
#include "runtime/VTaskMgr.h"

namespace velk {

constinit VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
: fLastActivityTime(uint32(VSystem::GetCurrentTime())), fMetricsManager(new (std::nothrow) VMetricsManager)
{
	sInstance = this;
}

VProcess::~VProcess()
{
	if (fInitCalled)
		_DeInit();
	if (sInstance == this)
		sInstance = nullptr;
	delete fMetricsManager;
	if (fBootLogListener != nullptr)
		fBootLogListener->Release();
	if (fLogger != nullptr)
		fLogger->Release();
}

bool VProcess::Init(uint32 flags)
{
	if (!fInitCalled)
	{
		fInitCalled = true;
		fInitResult = _Init(flags);
	}
	return fInitResult;
}

bool VProcess::_Init(uint32 flags)
{
	sInstance = this;
	fFibersWanted = (flags & 0x02) != 0;
	// Before any task: each task starts with a copy of the process's manager.
	VIntlMgr* intl = VIntlMgr::Create(0, 0, 1);
	if (intl == nullptr)
		return false;
	if (fIntlMgr != nullptr)
		fIntlMgr->Release();
	fIntlMgr = intl;
	// Before any other JSON class: classes made earlier would have no superclass.
	if (fClassStore == nullptr)
	{
		fClassStore = new (std::nothrow) VJSONClassStore(VString("ry"));
		if (fClassStore == nullptr)
			return false;
		fClassStore->AddRootClasses();
	}
	if (!VTaskMgr::Get()->Init(this))
		return false;
	VDebugMgr::Get()->Init();
	if ((flags & 0x10) != 0 && fLogger == nullptr)
	{
		fLogger = new (std::nothrow) VLogger;
		fBootLogListener = new (std::nothrow) VBootLogListener;
		if (fLogger == nullptr || fBootLogListener == nullptr)
			return false;
		fLogger->AddLogListener(fBootLogListener);
		fLogger->Start();
	}
	return true;
}

ILogger* VProcess::GetLogger() const
{
	return fLogger;
}

ILogger* VProcess::GetLogger(int32 level) const
{
	return fLogger != nullptr && fLogger->ShouldLog(EMessageLevel(level)) ? fLogger : nullptr;
}

void VProcess::CleanBootLogListener()
{
	if (fBootLogListener == nullptr)
		return;
	if (fLogger != nullptr)
	{
		std::vector<const VValueBag*> kept;
		fBootLogListener->TakeBags(kept);
		for (const VValueBag* bag : kept)
		{
			fLogger->AddLogBag(bag);
			bag->Release();
		}
		fLogger->RemoveLogListener(fBootLogListener);
	}
	fBootLogListener->Release();
	fBootLogListener = nullptr;
}

void VProcess::_DeInit()
{
	if (sInstance == this)
		sInstance = nullptr;
	if (fLogger != nullptr)
	{
		fLogger->Flush();
		fLogger->Stop();
	}
	VDebugMgr::Get()->DeInit();
	if (fClassStore != nullptr)
	{
		// Singletons and classes may still need tasks and locks while they go.
		fClassStore->Release();
		fClassStore = nullptr;
	}
	VTaskMgr::Get()->DeInit();
	if (fIntlMgr != nullptr)
	{
		fIntlMgr->Release();
		fIntlMgr = nullptr;
	}
}

bool VProcess::RegisterActivityToken(VActivityToken* token)
{
	StLocker locker(&fActivityLock);
	try
	{
		fActivityTokens.insert(token);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	return true;
}

void VProcess::UnregisterActivityToken(VActivityToken* token)
{
	StLocker locker(&fActivityLock);
	if (fActivityTokens.erase(token) != 0 && fActivityTokens.empty())
		fLastActivityTime = uint32(VSystem::GetCurrentTime());
}

bool VProcess::HasSomeActivityTokens(uint32 milliseconds) const
{
	StLocker locker(&fActivityLock);
	if (!fActivityTokens.empty())
		return true;
	// Unsigned subtraction: right across the 32-bit wrap of the millisecond clock.
	return uint32(VSystem::GetCurrentTime()) - fLastActivityTime < milliseconds;
}

VRefPtr<VJSONObject> VProcess::GetClassObject(const VString& nameSpace, const VString& className) const
{
	if (fClassStore == nullptr)
		return nullptr;
	if (nameSpace.EqualToStringRaw(fClassStore->GetName()))
		return fClassStore->GetClassObject(className, false);
	VRefPtr<VJSONClassStore> component = fClassStore->GetComponentClassStore(nameSpace);
	return component ? component->GetClassObject(className, false) : nullptr;
}

}  // namespace velk
