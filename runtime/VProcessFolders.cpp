// Where the process finds itself: the executable, the bundle's folders by kind, the product's own
// subfolders of the system folders, and what its version text says.
#include <string_view>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProcess.h"
#include "runtime/mac/XMacProcess.h"

namespace velk {

namespace {

// Subfolders of the bundle by kind: the kind they hang from and their name.
struct SubfolderKind
{
	OsType fKind;
	OsType fParent;
	const char* fName;
};

constexpr SubfolderKind kSubfolders[] = {
	{kPROCESS_FOLDER_RESOURCES, kPROCESS_FOLDER_CONTENTS, "Resources"},
	{kPROCESS_FOLDER_NATIVE_COMPONENTS, kPROCESS_FOLDER_CONTENTS, "Native Components"},
	{kPROCESS_FOLDER_DTDS, kPROCESS_FOLDER_RESOURCES, "DTD"},
	{kPROCESS_FOLDER_XSDS, kPROCESS_FOLDER_RESOURCES, "XSD"},
	{kPROCESS_FOLDER_XSLS, kPROCESS_FOLDER_RESOURCES, "XSL"},
	{kPROCESS_FOLDER_JSON_SCHEMAS, kPROCESS_FOLDER_RESOURCES, "JSONSchemas"},
};

std::u16string_view View(const VString& text)
{
	return std::u16string_view(reinterpret_cast<const char16_t*>(text.GetCPointer()), size_t(text.GetLength()));
}

VString FromView(std::u16string_view view)
{
	return VString(reinterpret_cast<const UniChar*>(view.data()), int32(view.size()));
}

VString Trimmed(std::u16string_view view)
{
	VString text = FromView(view);
	text.Trim();
	return text;
}

constexpr std::u16string_view kBuildMarker = u"build ";

}  // namespace

VFilePath VProcess::GetExecutableFilePath() const
{
	VString posix;
	if (!XMacProcess::GetExecutablePath(posix))
		return VFilePath();
	return VFilePath(posix, FPS_POSIX);
}

VFilePath VProcess::GetExecutableFolderPath() const
{
	VFilePath path = GetExecutableFilePath();
	if (path.IsValid())
		path.ToFolder();
	return path;
}

VFile* VProcess::RetainExecutableFile() const
{
	const VFilePath path = GetExecutableFilePath();
	return path.IsValid() ? new (std::nothrow) VFile(path) : nullptr;
}

VFolder* VProcess::RetainFolder(OsType kind) const
{
	VFilePath path = GetExecutableFolderPath();
	if (!path.IsValid())
		return nullptr;
	switch (kind)
	{
		case kPROCESS_FOLDER_EXECUTABLE:
			break;
		case kPROCESS_FOLDER_CONTENTS:
			path.ToParent();
			break;
		case kPROCESS_FOLDER_BUNDLE:
			path.ToParent().ToParent();
			break;
		default:
		{
			const SubfolderKind* found = nullptr;
			for (const SubfolderKind& entry : kSubfolders)
			{
				if (entry.fKind == kind)
					found = &entry;
			}
			if (found == nullptr)
				return nullptr;
			VRefPtr<VFolder> parent(RetainFolder(found->fParent), true);
			if (!parent)
				return nullptr;
			path = parent->GetPath();
			path.ToSubFolder(VString(found->fName));
			break;
		}
	}
	return path.IsValid() ? new (std::nothrow) VFolder(path) : nullptr;
}

VFile* VProcess::RetainFile(OsType kind, const VString& name, OsType fallbackKind) const
{
	VRefPtr<VFolder> folder(RetainFolder(kind), true);
	if (folder)
	{
		VRefPtr<VFile> file(new (std::nothrow) VFile(*folder, name, FPS_POSIX), true);
		if (file && file->Exists())
			return file.Forget();
	}
	if (fallbackKind == 0)
		return nullptr;
	VRefPtr<VFolder> fallback(RetainFolder(fallbackKind), true);
	if (!fallback || !fallback->Exists())
		return nullptr;
	VRefPtr<VFile> file(new (std::nothrow) VFile(*fallback, name, FPS_POSIX), true);
	return file && file->Exists() ? file.Forget() : nullptr;
}

VFolder* VProcess::RetainProductSystemFolder(int32 kind, bool create) const
{
	VRefPtr<VFolder> system(VFolder::RetainSystemFolder(kind, create), true);
	if (!system)
		return nullptr;
	const bool perProduct = kind == 1 || kind == 2 || kind == 4 || kind == 5 || kind == 6 || kind == 7 || kind == 10
		|| kind == 11 || kind == 13;
	if (!perProduct)
		return system.Forget();

	VFilePath path = system->GetPath();
	VFile alias(path, fProductFolderName, FPS_POSIX);
	if (alias.Exists() && alias.IsAliasFile())
	{
		VFilePath target;
		if (alias.ResolveAlias(target) == VE_OK && target.IsFolder())
		{
			VFolder resolved(target);
			if (resolved.Exists())
				return new (std::nothrow) VFolder(resolved);
		}
	}
	path.ToSubFolder(fProductFolderName);
	VRefPtr<VFolder> folder(new (std::nothrow) VFolder(path), true);
	if (!folder)
		return nullptr;
	if (folder->Exists())
		return folder.Forget();
	if (!create)
		return nullptr;

	// The shared kinds may be closed to this user: then the user's own counterpart serves.
	const int32 userKind = kind == 4 ? 5 : kind == 6 ? 7 : kind == 10 ? 11 : 0;
	if (userKind != 0)
	{
		VError error;
		{
			StErrorContextInstaller silent(false, true);
			error = folder->CreateRecursive();
		}
		return error == VE_OK ? folder.Forget() : RetainProductSystemFolder(userKind, true);
	}
	return folder->CreateRecursive() == VE_OK ? folder.Forget() : nullptr;
}

VString VProcess::GetShortProductVersion() const
{
	const std::u16string_view version = View(fProductVersion);
	return Trimmed(version.substr(0, version.find(kBuildMarker)));
}

VString VProcess::GetMainProductVersion() const
{
	const VString shortVersion = GetShortProductVersion();
	const std::u16string_view view = View(shortVersion);
	return FromView(view.substr(0, view.find(u'.')));
}

VString VProcess::GetBuildNumber() const
{
	const std::u16string_view version = View(fProductVersion);
	const size_t marker = version.find(kBuildMarker);
	if (marker == std::u16string_view::npos)
		return VString();
	return Trimmed(version.substr(marker + kBuildMarker.size()));
}

int32 VProcess::GetChangeListNumber() const
{
	const VString build = GetBuildNumber();
	const std::u16string_view view = View(build);
	const size_t dot = view.find(u'.');
	if (dot == std::u16string_view::npos)
		return 0;
	int32 number = 0;
	for (char16_t unit : view.substr(dot + 1))
	{
		if (unit < u'0' || unit > u'9' || number > (INT32_MAX - 9) / 10)
			break;
		number = number * 10 + int32(unit - u'0');
	}
	return number;
}

}  // namespace velk
