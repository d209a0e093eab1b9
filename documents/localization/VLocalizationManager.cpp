#include "documents/localization/VLocalizationManager.h"

#include <stdio.h>

#include <new>
#include <utility>

#include "containers/VValueBag.h"
#include "documents/localization/VDotStringsReader.h"
#include "documents/localization/VLocalizationXMLHandler.h"
#include "documents/xml/VXMLParser.h"
#include "files/IFile.h"
#include "files/IFolder.h"
#include "files/VFile.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverters.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

const VString kXLIFFExtension("xlf");
const VString kStringsExtension("strings");

}  // namespace

bool VLocalizationManager::PathLess::operator()(const VFilePath& a, const VFilePath& b) const
{
	VString textA;
	VString textB;
	a.GetPath(textA);
	b.GetPath(textB);
	return textA.CompareToString(textB, false) == CR_SMALLER;
}

VLocalizationManager::VLocalizationManager(uint32 dialect) : fDialect(dialect)
{
	VXMLParser::Init();
	fParser = new (std::nothrow) VXMLParser();
	fRootHandler = new (std::nothrow) VLocalizationXMLHandler(this);
}

VLocalizationManager::~VLocalizationManager()
{
	delete fParser;
	if (fRootHandler != nullptr)
		fRootHandler->Release();
}

// ---- Loading ----

bool VLocalizationManager::LoadDefaultLocalizationFoldersForComponentOrPlugin(IFolder* bundle)
{
	if (bundle == nullptr || !bundle->Exists())
		return false;
	VFilePath path = bundle->GetPath();
	path.ToSubFolder(VString("Contents")).ToSubFolder(VString("Resources"));
	VFolder resources(path);
	return LoadDefaultLocalizationFolders(&resources);
}

bool VLocalizationManager::LoadDefaultLocalizationFolders(IFolder* folder)
{
	if (folder == nullptr || !folder->Exists())
		return false;
	ScanAndLoadFolder(folder, true);

	std::vector<VRefPtr<IFolder>> folders;
	if (!VIntlMgr::GetLocalizationFoldersWithDialect(fDialect, folder, folders))
		return false;
	fDialectFolders = folders;
	bool loaded = false;
	for (const VRefPtr<IFolder>& languageFolder : fDialectFolders)
	{
		if (ScanAndLoadFolder(languageFolder.Get(), false) == VE_OK)
			loaded = true;
	}
	return loaded;
}

VError VLocalizationManager::ScanAndLoadFolder(IFolder* folder, bool forced)
{
	if (folder == nullptr)
		return VE_LOCALIZATION_NULL_OBJECT;
	if (!folder->Exists())
		return VE_LOCALIZATION_NOT_FOUND;
	folder->IterateFiles([&](IFile* file, IFileAttributeAccessor*) {
		_LoadFile(file, true, forced);
		return true;
	}, eFI_FILES);

	bool watched = false;
	for (const WatchedPath& entry : fWatchedPaths)
	{
		if (entry.fPath.IsFolder())
		{
			VFolder watchedFolder(entry.fPath);
			if (watchedFolder.IsSameFolder(folder))
			{
				watched = true;
				break;
			}
		}
	}
	if (!watched)
		_Watch(folder->GetPath(), forced);
	return VE_OK;
}

VError VLocalizationManager::LoadFile(IFile* file, bool forced)
{
	return _LoadFile(file, false, forced);
}

VError VLocalizationManager::_LoadFile(IFile* file, bool fromScan, bool forced)
{
	if (file == nullptr)
		return VE_LOCALIZATION_NULL_OBJECT;
	if (!file->Exists())
		return VE_LOCALIZATION_NOT_FOUND;
	if (file->MatchExtension(kXLIFFExtension))
	{
		if (AnalyzeXLIFFFile(file, forced) != VE_OK)
			return VE_OK;
		const VFilePath path = file->GetPath();
		if (!fromScan)
		{
			bool watched = false;
			for (const WatchedPath& entry : fWatchedPaths)
			{
				if (entry.fPath.IsFile() && entry.fPath.GetPath(FPS_SYSTEM).EqualToStringRaw(path.GetPath(FPS_SYSTEM)))
				{
					watched = true;
					break;
				}
			}
			if (!watched)
				_Watch(path, forced);
		}
		VTime modified;
		StErrorContextInstaller quiet(false, true);
		if (file->GetTimeAttributes(&modified, nullptr, nullptr) == VE_OK)
		{
			StLocker locker(&fLock);
			fModificationTimes.insert_or_assign(path, modified);
		}
		return VE_OK;
	}
	if (file->MatchExtension(kStringsExtension))
		AnalyzeDotStringsFile(file);
	return VE_LOCALIZATION_NOT_XLIFF;
}

VError VLocalizationManager::AnalyzeXLIFFFile(IFile* file, bool forced)
{
	if (file == nullptr)
		return VE_LOCALIZATION_NULL_OBJECT;
	StErrorContextInstaller quiet(false, true);
	VString text;
	const VError error = file->GetContentAsString(text, kCharSet_UTF8, eCRM_NONE);
	if (error == VE_OK && fParser != nullptr && fRootHandler != nullptr)
	{
		fRootHandler->SetForced(forced);
		fParser->Parse(text, fRootHandler, eXML_ValidateNever);
		fRootHandler->SetForced(false);
	}
	return error;
}

VError VLocalizationManager::AnalyzeDotStringsFile(IFile* file)
{
	if (file == nullptr)
		return VE_LOCALIZATION_NULL_OBJECT;
	if (!file->Exists())
		return VE_LOCALIZATION_NOT_FOUND;
	StErrorContextInstaller quiet(false, true);
	VString text;
	if (file->GetContentAsString(text, kCharSet_UTF16BE, eCRM_LF) != VE_OK)
		return VE_OK;
	std::vector<std::pair<VString, VString>> pairs;
	VDotStringsReader::ReadPairs(text, pairs);
	StLocker locker(&fLock);
	for (std::pair<VString, VString>& pair : pairs)
		fKeyStrings.insert_or_assign(std::move(pair.first), std::move(pair.second));
	return VE_OK;
}

void VLocalizationManager::_Watch(const VFilePath& path, bool forced)
{
	fWatchedPaths.push_back(WatchedPath{path, forced});
}

// ---- Updates ----

bool VLocalizationManager::DoesNeedAnUpdate()
{
	StLocker locker(&fLock);
	StErrorContextInstaller quiet(false, true);
	return _NeedsUpdateForTimes() || _NeedsUpdateForFolders();
}

bool VLocalizationManager::_NeedsUpdateForTimes()
{
	bool needed = false;
	TimeMap fresh;
	for (const auto& [path, recorded] : fModificationTimes)
	{
		VFile file(path);
		if (!file.Exists())
		{
			needed = true;
			continue;
		}
		VTime modified;
		if (file.GetTimeAttributes(&modified, nullptr, nullptr) != VE_OK)
			continue;
		if (modified != recorded)
			needed = true;
		fresh.emplace(path, modified);
	}
	fModificationTimes.swap(fresh);
	return needed;
}

bool VLocalizationManager::_NeedsUpdateForFolders() const
{
	for (const WatchedPath& entry : fWatchedPaths)
	{
		if (!entry.fPath.IsFolder())
			continue;
		VFolder folder(entry.fPath);
		if (!folder.Exists())
			return true;
		bool found = false;
		folder.IterateFiles([&](IFile* file, IFileAttributeAccessor*) {
			found = file->MatchExtension(kXLIFFExtension) && fModificationTimes.find(file->GetPath()) == fModificationTimes.end();
			return !found;
		}, eFI_FILES);
		if (found)
			return true;
	}
	return false;
}

bool VLocalizationManager::UpdateIfNeeded()
{
	if (!DoesNeedAnUpdate())
		return false;
	ClearLocalizations();
	// Each is read as forced as it first was: the resources folder read unforced would lose the texts of
	// its files written for other languages.
	const std::vector<WatchedPath> watched = fWatchedPaths;
	for (const WatchedPath& entry : watched)
	{
		if (!entry.fPath.IsValid())
			continue;
		if (entry.fPath.IsFolder())
		{
			VFolder folder(entry.fPath);
			if (folder.Exists())
				ScanAndLoadFolder(&folder, entry.fForced);
		}
		else if (entry.fPath.IsFile())
		{
			VFile file(entry.fPath);
			if (file.Exists())
				_LoadFile(&file, false, entry.fForced);
		}
	}
	return true;
}

bool VLocalizationManager::ClearLocalizations()
{
	StLocker locker(&fLock);
	fSTRSharpStrings.clear();
	fKeyStrings.clear();
	fGroupStrings.clear();
	fDotStrings.clear();
	fGroupBagsByName.clear();
	fGroupBagsByRestype.clear();
	return true;
}

// ---- Inserts ----

bool VLocalizationManager::_InsertSTRSharpCodeAndString(const STRSharpCodes& codes, const VString& text, bool override)
{
	StLocker locker(&fLock);
	if (override)
		fSTRSharpStrings.insert_or_assign(codes, text);
	else
		fSTRSharpStrings.emplace(codes, text);
	return true;
}

bool VLocalizationManager::_InsertObjectURLAndString(const VString& key, const VString& text, bool override)
{
	StLocker locker(&fLock);
	if (override)
		fKeyStrings.insert_or_assign(key, text);
	else
		fKeyStrings.emplace(key, text);
	return true;
}

bool VLocalizationManager::_InsertIDAndStringInAGroup(uint32 id, const VString& text, const VString& group, bool override)
{
	(void)override;
	StLocker locker(&fLock);
	fGroupStrings[group].insert_or_assign(id, text);
	return true;
}

void VLocalizationManager::_InsertGroupBag(const VString& name, const VString& restype, const VValueBag* bag)
{
	StLocker locker(&fLock);
	if (!name.IsEmpty())
		fGroupBagsByName.emplace(name, VRefPtr<const VValueBag>(bag));
	fGroupBagsByRestype.emplace(restype, VRefPtr<const VValueBag>(bag));
}

// ---- Lookups ----

bool VLocalizationManager::LocalizeErrorMessage(VError code, VString& text)
{
	// Room for the longest key: the signature and an 11-character number.
	char key[32];
	const OsType signature = ERRCODE_SIGNATURE(code);
	snprintf(key, sizeof(key), "ERR_%c%c%c%c_%d", char(signature >> 24), char(signature >> 16), char(signature >> 8),
		char(signature), ERRCODE_NUMBER(code));
	return LocalizeStringWithKey(VString(key), text);
}

bool VLocalizationManager::LocalizeStringWithKey(const VString& key, VString& text)
{
	StLocker locker(&fLock);
	const auto found = fKeyStrings.find(key);
	if (found == fKeyStrings.end())
		return false;
	text = found->second;
	return true;
}

bool VLocalizationManager::LocalizeStringWithDotStringsKey(const VString& key, VString& text)
{
	StLocker locker(&fLock);
	const auto found = fDotStrings.find(key);
	if (found == fDotStrings.end())
		return false;
	text = found->second;
	return true;
}

bool VLocalizationManager::LocalizeStringWithSTRSharpCodes(const STRSharpCodes& codes, VString& text)
{
	StLocker locker(&fLock);
	const auto found = fSTRSharpStrings.find(codes);
	if (found == fSTRSharpStrings.end())
		return false;
	text = found->second;
	return true;
}

bool VLocalizationManager::LocalizeGroupOfStringsWithAStrSharpID(int32 id, std::vector<VString>& texts)
{
	texts.clear();
	StLocker locker(&fLock);
	for (uint32 index = 1;; ++index)
	{
		const auto found = fSTRSharpStrings.find(STRSharpCodes{id, index});
		if (found == fSTRSharpStrings.end())
			break;
		texts.push_back(found->second);
	}
	return !texts.empty();
}

bool VLocalizationManager::GetOrderedStringsOfGroup(const VString& group, std::vector<VString>& texts)
{
	texts.clear();
	StLocker locker(&fLock);
	const auto found = fGroupStrings.find(group);
	if (found == fGroupStrings.end() || found->second.empty())
		return false;
	for (const auto& [id, text] : found->second)
		texts.push_back(text);
	return true;
}

const VValueBag* VLocalizationManager::RetainGroupBag(const VString& name)
{
	StLocker locker(&fLock);
	const auto found = fGroupBagsByName.find(name);
	if (found == fGroupBagsByName.end())
		return nullptr;
	found->second->Retain();
	return found->second.Get();
}

void VLocalizationManager::RetainGroupBagsByRestype(const VString& restype, std::vector<VRefPtr<const VValueBag>>& bags)
{
	StLocker locker(&fLock);
	const auto range = fGroupBagsByRestype.equal_range(restype);
	for (auto it = range.first; it != range.second; ++it)
		bags.push_back(it->second);
}

}  // namespace velk
