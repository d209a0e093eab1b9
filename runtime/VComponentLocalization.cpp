// The localization language chosen by VComponentManager for a folder of ".lproj" folders.
#include "runtime/VComponentManager.h"

#include <new>
#include <vector>

#include "files/VFolder.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/mac/XMacComponentManager.h"

namespace velk {

namespace {

// A localization name as a dialect: a language name ("French") first, then a language code ("fr-CA").
bool GetDialectOfName(const VString& name, DialectCode& dialect, bool codeFirst)
{
	if (codeFirst)
		return VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(name, dialect)
			|| VIntlMgr::GetDialectCodeWithISOLanguageName(name, dialect);
	return VIntlMgr::GetDialectCodeWithISOLanguageName(name, dialect)
		|| VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(name, dialect);
}

}  // namespace

DialectCode VComponentManager::GetLocalizationLanguage(VFolder* folder, bool isBundle, DialectCode wanted)
{
	if (folder == nullptr || !folder->Exists())
		return kDIALECT_NONE;
	VRefPtr<VFolder> searched(folder);
	if (isBundle)
	{
		VFilePath path = folder->GetPath();
		path.ToSubFolder(VString("Contents")).ToSubFolder(VString("Resources"));
		searched = VRefPtr<VFolder>(new (std::nothrow) VFolder(path), true);
		if (!searched)
			return kDIALECT_NONE;
	}

	if (wanted == 0)
	{
		VString name;
		DialectCode dialect = kDIALECT_NONE;
		if (XMacComponentManager::GetPreferredLocalization(name) && GetDialectOfName(name, dialect, false))
			return dialect;
		return kDIALECT_US_ENGLISH;
	}

	std::vector<VRefPtr<VFolder>> folders;
	try
	{
		searched->GetContents(nullptr, &folders);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return kDIALECT_NONE;
	}
	const VString extension(".lproj");
	bool sawEnglish = false;
	DialectCode last = kDIALECT_NONE;
	for (const VRefPtr<VFolder>& each : folders)
	{
		VString name;
		each->GetPath().GetName(name);
		const int32 cut = name.Find(extension, 1, true);
		if (cut == 0)
			continue;
		name.Truncate(cut - 1);
		DialectCode dialect = kDIALECT_NONE;
		if (!GetDialectOfName(name, dialect, true))
			continue;
		if (dialect == wanted)
			return wanted;
		sawEnglish = sawEnglish || dialect == kDIALECT_US_ENGLISH;
		last = dialect;
	}
	return sawEnglish ? kDIALECT_US_ENGLISH : last;
}

}  // namespace velk
