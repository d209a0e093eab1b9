#include "updater/VUpdateEngine.h"

#include <new>

#include "documents/localization/VLocalizationManager.h"
#include "files/VFolder.h"
#include "files/VUTIManager.h"
#include "runtime/ILogger.h"
#include "runtime/VComponentManager.h"
#include "runtime/VErrorBase.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "updater/VProcessLauncher.h"
#include "updater/VUpdaterErrors.h"

namespace velk {

VUpdateEngine::VUpdateEngine() = default;

VUpdateEngine::~VUpdateEngine()
{
	if (fLocalizationManager != nullptr)
	{
		// Nothing may keep asking a manager that is gone.
		for (OsType signature : {kVELK_SIGNATURE, FourCharCode("xmlc"), FourCharCode("PW32"), kUPDATER_SIGNATURE})
			VErrorBase::UnregisterLocalizer(signature);
		if (GetLocalizer() == fLocalizationManager)
			SetLocalizer(nullptr);
		if (VUTIManager* types = VUTIManager::GetUTIManager())
			types->SetLocalizationManager(nullptr);
		fLocalizationManager->Release();
		fLocalizationManager = nullptr;
	}
	delete fFileLogger;
}

bool VUpdateEngine::Init(uint32 flags)
{
	if (!VProcessIPC::Init(flags))
		return false;
	_InitLocalizationManager();
	// The relaunch's "open" is our own opener beside the updater, never a program of that name on PATH.
	VFilePath opener = GetExecutableFolderPath();
	opener.ToSubFile(VString("opener"));
	VString openerPath;
	opener.GetPosixPath(openerPath);
	VProcessLauncher::RegisterSystemCommand(VString("open"), openerPath);
	return true;
}

void VUpdateEngine::QuitAsynchronously(void* reason)
{
	// Killing the main task now would make the run return at once, reporting nothing: DoRun finds the
	// signal instead.
	if (!fRunBegun.load())
		return;
	VProcessIPC::QuitAsynchronously(reason);
}

void VUpdateEngine::_InitLocalizationManager()
{
	VRefPtr<VFolder> bundle(RetainFolder(kPROCESS_FOLDER_BUNDLE), true);
	const DialectCode language = VComponentManager::GetLocalizationLanguage(bundle.Get(), true, 0);
	fLocalizationManager = new (std::nothrow) VLocalizationManager(uint32(language));
	if (fLocalizationManager == nullptr)
		return;
	fLocalizationManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get());
	SetLocalizer(fLocalizationManager);
	if (VUTIManager* types = VUTIManager::GetUTIManager())
		types->SetLocalizationManager(fLocalizationManager);
	for (OsType signature : {kVELK_SIGNATURE, FourCharCode("xmlc"), FourCharCode("PW32"), kUPDATER_SIGNATURE})
		VErrorBase::RegisterLocalizer(signature, fLocalizationManager);
}

void VUpdateEngine::DoQuit()
{
	if (ILogger* logger = GetLogger())
		logger->Flush();
	if (fFileLogger != nullptr)
	{
		fFileLogger->Stop();
		delete fFileLogger;
		fFileLogger = nullptr;
	}
}

void VUpdateEngine::_DeInitLog()
{
	DoQuit();
}

}  // namespace velk
