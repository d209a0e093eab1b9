#include "runtime/VProcess.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <new>

#include "files/VFile.h"
#include "files/VFileKindManager.h"
#include "files/VFilePath.h"
#include "files/VFileSystemNamespace.h"
#include "files/VFolder.h"
#include "files/VSystem.h"
#include "files/VUTIManager.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VBootLogListener.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VLogger.h"
#include "runtime/VMetricsManager.h"
#include "runtime/VProgressManager.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacProcess.h"

namespace velk {

constinit VProcess* VProcess::sInstance = nullptr;

VProcess::VProcess()
: fLastActivityTime(uint32(VSystem::GetCurrentTime())),
  fFileSystemNamespace(new (std::nothrow) VFileSystemNamespace(nullptr)),
  fMetricsManager(new (std::nothrow) VMetricsManager)
{
	// The instance is known from Init on (sInstance), not from construction: until then another process
	// object may be the running one.
	XMacProcess::GetMainBundleInfoString("CFBundleName", fProductName);
	XMacProcess::GetMainBundleInfoString("CFBundleShortVersionString", fProductVersion);
	fProductFolderName = fProductName;
}

VProcess::~VProcess()
{
	if (fInitCalled)
		_DeInit();
	if (sInstance == this)
		sInstance = nullptr;
	if (fClassStore != nullptr)
		fClassStore->Release();
	delete fMetricsManager;
	if (fBootLogListener != nullptr)
		fBootLogListener->Release();
	if (fLogger != nullptr)
		fLogger->Release();
	if (fFileSystemNamespace != nullptr)
		fFileSystemNamespace->Release();
	if (fIntlMgr != nullptr)
		fIntlMgr->Release();
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
	const bool systemVersionOK = DoCheckSystemVersion(eOSVersion_10_12);
	sInstance = this;
	fFibersWanted = (flags & 0x02) != 0;
	if (!systemVersionOK)
		return false;

	// Before any task: each task starts with a copy of the process's manager.
	VIntlMgr* intl = VIntlMgr::Create(0, 0, 1);
	if (intl == nullptr)
		return false;
	if (fIntlMgr != nullptr)
		fIntlMgr->Release();
	fIntlMgr = intl;

	if (!VFileKindManager::Init())
		return false;
	if (!_CheckCaseInsensitiveInstallFolder())
		return false;
	if (!VTaskMgr::Get()->Init(this))
		return false;
	if (!VDebugMgr::Get()->Init())
		return false;
	if (!VProgressManager::Init())
		return false;
	if (!_Init_FileSystems())
		return false;

	if (fClassStore == nullptr)
	{
		fClassStore = new (std::nothrow) VJSONClassStore(VString("ry"));
		if (fClassStore == nullptr)
			return false;
		fClassStore->AddRootClasses();
	}

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

bool VProcess::DoCheckSystemVersion(int32 version)
{
	if (VSystem::IsSystemVersionOrAbove(SystemVersion(version)))
		return true;
	const VString text(version == eOSVersion_10_12 ? "This application needs at least OS X 10.12"
												   : "This application needs at least OS X 10.7");
	ENotificationResponse answer = eNR_None;
	VSystem::DisplayNotification(VString("Initialization failed"), text, 0, &answer);
	return false;
}

bool VProcess::_CheckCaseInsensitiveInstallFolder() const
{
	if (!XMacProcess::InstallVolumeMustFoldCase())
		return true;
	VRefPtr<VFolder> resources(RetainFolder(kPROCESS_FOLDER_RESOURCES), true);
	if (!resources)
		return true;
	VFilePath sibling = resources->GetPath();
	VString name;
	sibling.GetFolderName(name);
	const UniChar first = name.GetUniChar(1);
	if (first >= u'a' && first <= u'z')
		name.SetUniChar(1, UniChar(first - u'a' + u'A'));
	else if (first >= u'A' && first <= u'Z')
		name.SetUniChar(1, UniChar(first - u'A' + u'a'));
	sibling.SetFolderName(name);
	VFolder flipped(sibling);
	if (resources->Exists() == flipped.Exists())
		return true;
	ENotificationResponse answer = eNR_None;
	VSystem::DisplayNotification(VString("Initialization failed"),
		VString("Please install the application on a case insensitive file system."), 0, &answer);
	return false;
}

bool VProcess::_Init_FileSystems()
{
	if (fFileSystemNamespace == nullptr)
		return false;
	VRefPtr<VFolder> home(VFolder::RetainSystemFolder(1, false), true);
	if (!home || fFileSystemNamespace->RegisterFileSystem(VString(".USER_HOME_DIRECTORY"), home.Get(), 16) != VE_OK)
		return false;
	VRefPtr<VFolder> resources(RetainFolder(kPROCESS_FOLDER_RESOURCES), true);
	if (!resources || fFileSystemNamespace->RegisterFileSystem(VString(".PRODUCT_RESOURCES"), resources.Get(), 0) != VE_OK)
		return false;
	VFile definitions(*resources, VString("fileSystems.json"), FPS_POSIX);
	if (!definitions.Exists())
		return true;
	return fFileSystemNamespace->LoadFromDefinitionFile(&definitions) == VE_OK;
}

void VProcess::Run()
{
	VTask* main = VTaskMgr::Get()->GetMainTask();
	if (main == nullptr || VTask::GetCurrent() != main || main->GetState() != eTaskStateRunning)
		return;
	if (!fInitCalled)
		Init(0x50);
	if (!fInitResult)
	{
		const VString reason("VApplication::DoInit failed");
		_ThrowError(VE_CANNOT_INITIALIZE_APPLICATION, &reason);
		return;
	}
	VTask::FlushErrors();
	SetMessagingTask(main->GetID());
	StartMessaging();
	DoRun();
	DoQuit();
	main->Kill();
	StopMessaging();
}

void VProcess::QuitAsynchronously(void*)
{
	// Kill wakes the task's message wait, which is what a run loop sleeps in.
	if (VTask* main = VTaskMgr::Get()->GetMainTask())
		main->Kill();
}

bool VProcess::IsRunning() const
{
	VTask* main = VTaskMgr::Get()->GetMainTask();
	return main != nullptr && !main->IsDying();
}

void VProcess::DoRun()
{
}

void VProcess::DoQuit()
{
}

void VProcess::_DeInit()
{
	if (sInstance == this)
		sInstance = nullptr;
	if (fLogger != nullptr)
	{
		fLogger->Flush();
		fLogger->Stop();
		fLogger->Release();
		fLogger = nullptr;
	}
	VDebugMgr::Get()->DeInit();
	if (fClassStore != nullptr)
	{
		// Singletons and classes may still need tasks and locks while they go.
		fClassStore->Release();
		fClassStore = nullptr;
	}
	VTaskMgr::Get()->DeInit();
	// Its types may hold the application's localizer, which does not outlive the process object.
	VUTIManager::DeInit();
	VFileKindManager::DeInit();
	VProgressManager::Deinit();
	if (fIntlMgr != nullptr)
	{
		fIntlMgr->Release();
		fIntlMgr = nullptr;
	}
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

VString VProcess::GetLogSourceIdentifier() const
{
	return fProductName;
}

void VProcess::GetLogSourceIdentifier(VString& identifier)
{
	if (sInstance != nullptr)
		identifier = sInstance->GetLogSourceIdentifier();
	else if (!XMacProcess::GetMainBundleName(identifier))
		identifier.Clear();
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

int32 VProcess::GetSystemID()
{
	return int32(::getpid());
}

bool VProcess::IsProcessRunning(int32 pid)
{
	return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace velk
