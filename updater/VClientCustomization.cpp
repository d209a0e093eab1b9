// The client customization: the link file that tells the relaunched client which server to open, written
// into the up-to-date bundle, and the execute bits of that bundle's executable.
#include <new>

#include "containers/VValueBag.h"
#include "documents/xml/VXMLBagFunctions.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "updater/VClientCustomizationKeys.h"
#include "updater/VUpdateEngine.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"
#include "updater/mac/XMacBundle.h"
#include "updater/mac/XPosixInputFile.h"

namespace velk {

namespace {

constexpr uint16 kExecuteBits = 0111;

// The property's text; empty when it is absent or not a string.
VString StringProperty(const VJSONValue& object, const char* key)
{
	const VJSONValue value = object.GetProperty(VString(key));
	return value.IsString() ? value.GetString() : VString();
}

}  // namespace

bool VUpdateEngine::_FinishClientCustomization()
{
	StErrorContextInstaller scope(true, true);
	// Looked at before it is opened: a pipe would hold the run before the caller is told anything.
	if (XPosixInputFile::IsOtherThanRegularFile(fClientCustomizationFile))
	{
		ThrowErrorWithPath(VE_UPDATER_CLIENT_INFO_NOT_A_FILE, fClientCustomizationFile);
		_ThrowError(VE_UPDATER_CLIENT_INFO_INVALID);
		return false;
	}
	VJSONValue customization;
	VRefPtr<VFile> file(new (std::nothrow) VFile(fClientCustomizationFile), true);
	if (!file)
		_ThrowError(VE_MEMORY_FULL);
	// A file the loader could not read whole is refused, even when it left part of an object behind.
	const VError loaded = file ? customization.LoadFromFile(file.Get()) : VE_MEMORY_FULL;
	if (loaded != VE_OK || !customization.IsObject()
		|| !customization.GetProperty(VString(BABuildServerPlatform)).IsString())
	{
		_ThrowError(VE_UPDATER_CLIENT_INFO_INVALID);
		return false;
	}
	_SetIPAdressOnClientPref(customization, fUpToDateApplication);
	_FinishMacClientCustomization(customization);
	return scope.GetLastError() == VE_OK;
}

bool VUpdateEngine::_SetIPAdressOnClientPref(const VJSONValue& customization, const VFilePath& upToDateBundle)
{
	const VJSONValue address = customization.GetProperty(VString(BABuildInfoIPAdress));
	if (!address.IsString())
		return true;
	VString serverPath(address.GetString());
	const VJSONValue port = customization.GetProperty(VString(BABuildInfoIPPort));
	if (port.IsString())
	{
		const VString portText(port.GetString());
		serverPath.AppendUniChar(u':');
		serverPath.AppendUniChars(portText.GetCPointer(), portText.GetLength());
	}

	VRefPtr<VValueBag> link(new (std::nothrow) VValueBag, true);
	if (!link)
	{
		_ThrowError(VE_MEMORY_FULL);
		return true;
	}
	namespace keys = StartupParametersBagKeys;
	keys::is_remote.Set(link.Get(), true);
	keys::server_database_name.Set(link.Get(), StringProperty(customization, BABuildInfoPublishName));
	keys::server_path.Set(link.Get(), serverPath);
	keys::cache_folder_name.Set(link.Get(), StringProperty(customization, BABuildCacheFolderNameClient));
	keys::remote_shared_resources.Set(link.Get(), false);

	VFilePath folderPath(upToDateBundle);
	folderPath.ToSubFolder(VString("Contents")).ToSubFolder(VString("Database"));
	VRefPtr<VFolder> folder(new (std::nothrow) VFolder(folderPath), true);
	VFilePath filePath(folderPath);
	filePath.ToSubFile(VString("RiduzovOduziz.Rylink"));
	VRefPtr<VFile> file(new (std::nothrow) VFile(filePath), true);
	if (!folder || !file)
	{
		_ThrowError(VE_MEMORY_FULL);
		return true;
	}
	// A folder that cannot be made shows in the write's own error.
	if (!folder->Exists())
		folder->CreateRecursive();
	WriteBagToFileInXML(*link, VString("database_shortcut"), file.Get(), true);
	return true;
}

bool VUpdateEngine::_FinishMacClientCustomization(const VJSONValue& /*customization*/)
{
	StErrorContextInstaller scope(true, true);
	// The executable that will be started at the bundle's place.
	VString executable(XMacBundle::GetExecutablePosixPath(fUpToDateApplication, fInstallDestination));
	// A missing executable is reported where it belongs, as reading its permissions there reports it.
	if (executable.IsEmpty())
		executable = XMacBundle::GetExpectedExecutablePosixPath(fUpToDateApplication, fInstallDestination);
	VRefPtr<VFile> file(new (std::nothrow) VFile(executable, FPS_POSIX), true);
	if (!file)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	uint16 mode = 0;
	if (file->MAC_GetPermissions(&mode) == VE_OK && (mode & kExecuteBits) != kExecuteBits)
		file->MAC_SetPermissions(uint16(mode | kExecuteBits));
	return scope.GetLastError() == VE_OK;
}

}  // namespace velk
