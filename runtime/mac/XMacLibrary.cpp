#include "runtime/mac/XMacLibrary.h"

#include <dlfcn.h>

#include <new>
#include <string>
#include <vector>

#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "platform/Bundle.h"
#include "platform/FileOperations.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VLibrary.h"
#include "runtime/VTask.h"
#include "files/mac/XMacFilePath.h"

namespace velk {

namespace {

// An "XSym" file is 1067 bytes; what lies beyond cannot belong to one.
constexpr size_t kLinkFileReadLimit = 4096;

VFilePath FolderPath(const std::string& systemPath)
{
	VString text;
	text.FromBlock(systemPath.data(), systemPath.size(), kCharSet_UTF8);
	if (systemPath.empty() || systemPath.back() != '/')
		text.AppendUniChar(u'/');
	return VFilePath(text, FPS_POSIX);
}

// Pushes the file error velk 1010 on path, with reason when there is one.
void PushCannotLoad(const VFilePath& path, const char* reason)
{
	VFileError* error = new (std::nothrow) VFileError(path, VE_LIBRARY_CANNOT_LOAD);
	if (error == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	if (reason != nullptr)
	{
		VString text;
		text.FromBlock(reason, std::char_traits<char>::length(reason), kCharSet_UTF8);
		error->SetString(VString("reason"), text);
	}
	VTask::PushRetainedError(error);
}

// The lines of an "XSym" file: pieces between line feeds, a last piece without its line feed counted
// only when not empty.
std::vector<std::string> SplitLines(const std::string& text)
{
	std::vector<std::string> lines;
	size_t start = 0;
	for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start))
	{
		lines.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	if (start < text.size())
		lines.push_back(text.substr(start));
	return lines;
}

// Whether the entry could not be repaired, which stops the repair of the other entries.
bool RepairLink(const VFilePath& framework, const char* relativePath)
{
	VString relative(relativePath);
	VFile entry(framework, relative, FPS_POSIX);
	std::string text;
	{
		// A missing entry, or a folder, is no link file and nothing to repair: its errors are of no interest.
		StErrorContextInstaller silent(false, true);
		if (entry.MAC_IsSymbolicLink())
			return true;
		char buffer[kLinkFileReadLimit];
		size_t read = 0;
		if (entry.GetData(buffer, sizeof(buffer), &read) != VE_OK)
			return true;
		text.assign(buffer, read);
	}
	if (text.compare(0, 4, "XSym") != 0)
		return true;
	const std::vector<std::string> lines = SplitLines(text);
	if (lines.size() < 4)
	{
		_ThrowError(VE_LIBRARY_INVALID_LINK_FILE);
		return false;
	}
	VFilePath parent;
	entry.GetPath().GetParent(parent);
	VString target;
	target.FromBlock(lines[3].data(), lines[3].size(), kCharSet_UTF8);
	VFilePath targetPath(parent, target, FPS_POSIX);
	if (lines[3].empty() || !targetPath.IsValid())
	{
		PushCannotLoad(entry.GetPath(), nullptr);
		return false;
	}
	// Made aside and renamed over the "XSym" file, which stays when the link cannot be made.
	return entry.MAC_CreateSymbolicLink(targetPath, false) == VE_OK;
}

}  // namespace

XMacLibrary::~XMacLibrary()
{
	Unload();
}

void* XMacLibrary::_Open(const VString& posixPath, const VFilePath& errorPath)
{
	const std::string path = to_string(posixPath);
	void* handle = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
	if (handle == nullptr)
		PushCannotLoad(errorPath, path.empty() ? nullptr : ::dlerror());
	return handle;
}

bool XMacLibrary::Load(const VFilePath& path)
{
	try
	{
		return _Load(path);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		Unload();
		return false;
	}
}

bool XMacLibrary::_Load(const VFilePath& path)
{
	const std::string system = XMacFilePath::ToSystemFolderPath(path);
	plat::PathInfo info;
	if (system.empty() || plat::GetPathInfo(system.c_str(), &info) != 0)
		return fBundle != nullptr;

	if (!info.isFolder)
	{
		VFile file(path);
		uint16 mode = 0;
		if (file.MAC_GetPermissions(&mode) == VE_OK && (mode & 0555) != 0555)
			file.MAC_SetPermissions(uint16(mode | 0555));
		VString posix;
		path.GetPosixPath(posix);
		if (fHandle == nullptr)
			fHandle = _Open(posix, path);
		return fHandle != nullptr;
	}

	if (fBundle != nullptr)
		return true;
	const VFilePath folder = FolderPath(system);
	if (folder.MatchExtension(VString("framework")))
		_RepairFrameworkLinks(folder);
	fBundle = new (std::nothrow) plat::Bundle(system);
	if (fBundle == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	bool loaded = _dlopen_RTLD_GLOBAL(folder);
	if (loaded)
	{
		const std::string executable = fBundle->GetExecutablePath();
		if (executable.empty())
			PushCannotLoad(folder, nullptr);
		else
		{
			VString posix;
			posix.FromBlock(executable.data(), executable.size(), kCharSet_UTF8);
			fBundleHandle = _Open(posix, folder);
		}
		loaded = fBundleHandle != nullptr;
	}
	if (!loaded)
		Unload();
	return fBundle != nullptr;
}

bool XMacLibrary::_dlopen_RTLD_GLOBAL(const VFilePath& path)
{
	if (fBundle == nullptr || !fBundle->IsFramework() || fHandle != nullptr)
		return true;
	try
	{
		return _OpenFrameworkExecutable(path);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

bool XMacLibrary::_OpenFrameworkExecutable(const VFilePath& path)
{
	const std::string executable = fBundle->GetExecutablePath();
	if (executable.empty())
	{
		PushCannotLoad(path, nullptr);
		return false;
	}
	VString posix;
	posix.FromBlock(executable.data(), executable.size(), kCharSet_UTF8);
	VFile file(posix, FPS_POSIX);
	uint16 mode = 0;
	if (file.MAC_GetPermissions(&mode) == VE_OK && (mode & 0500) != 0500)
		file.MAC_SetPermissions(uint16(mode | 0500));
	fHandle = _Open(posix, file.GetPath());
	return fHandle != nullptr;
}

void XMacLibrary::_RepairFrameworkLinks(const VFilePath& framework)
{
	VString name;
	framework.GetFolderName(name, false);
	const std::string ownName = to_string(name);
	for (const char* entry : {"Versions/Current", "Resources", ownName.c_str()})
		if (*entry == 0 || !RepairLink(framework, entry))
			break;
}

VFile* XMacLibrary::RetainExecutableFile(const VFilePath&) const
{
	if (fBundle == nullptr)
		return nullptr;
	try
	{
		const std::string executable = fBundle->GetExecutablePath();
		if (executable.empty())
			return nullptr;
		VString posix;
		posix.FromBlock(executable.data(), executable.size(), kCharSet_UTF8);
		return new (std::nothrow) VFile(posix, FPS_POSIX);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
}

VFolder* XMacLibrary::RetainFolder(const VFilePath& path, BundleFolderKind kind) const
{
	if (fBundle == nullptr)
		return nullptr;
	try
	{
		return _RetainFolder(path, kind);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
}

VFolder* XMacLibrary::_RetainFolder(const VFilePath& path, BundleFolderKind kind) const
{
	std::string folder;
	switch (kind)
	{
		case kBUNDLE_FOLDER:
			return new (std::nothrow) VFolder(FolderPath(XMacFilePath::ToSystemFolderPath(path)));
		case kBUNDLE_EXECUTABLE_FOLDER:
		{
			VFile* executable = RetainExecutableFile(path);
			VFolder* parent = executable != nullptr ? executable->RetainParentVFolder(false) : nullptr;
			if (executable != nullptr)
				executable->Release();
			return parent;
		}
		case kBUNDLE_RESOURCES_FOLDER:
			folder = fBundle->GetFolderPath(plat::BundleFolder::kResources);
			break;
		case kBUNDLE_PLUGINS_FOLDER:
			folder = fBundle->GetFolderPath(plat::BundleFolder::kPlugIns);
			break;
		case kBUNDLE_FRAMEWORKS_FOLDER:
			folder = fBundle->GetFolderPath(plat::BundleFolder::kFrameworks);
			break;
		case kBUNDLE_SUPPORT_FOLDER:
			folder = fBundle->GetFolderPath(plat::BundleFolder::kSharedSupport);
			break;
		default:
			return nullptr;
	}
	return new (std::nothrow) VFolder(FolderPath(folder));
}

void* XMacLibrary::GetProcAddress(const VString& name) const
{
	void* handle = fBundle != nullptr ? fBundleHandle : fHandle;
	if (handle == nullptr)
		return nullptr;
	try
	{
		const std::string symbol = to_string(name);
		return symbol.empty() ? nullptr : ::dlsym(handle, symbol.c_str());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
}

void XMacLibrary::Unload()
{
	if (fBundleHandle != nullptr)
		::dlclose(fBundleHandle);
	fBundleHandle = nullptr;
	delete fBundle;
	fBundle = nullptr;
	if (fHandle != nullptr)
		::dlclose(fHandle);
	fHandle = nullptr;
}

}  // namespace velk
