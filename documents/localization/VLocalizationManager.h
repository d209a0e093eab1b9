// The localized texts of one dialect, read from the XLIFF and strings files of a bundle's resources folder
// and of its language folders, looked up by key, STR# code, group and error code. It remembers what it
// read, with the modification times, so that it can reload when a file changed.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <string_view>
#include <vector>

#include "files/VFilePath.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"
#include "runtime/ILocalizer.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class IFile;
class IFolder;
class VLocalizationXMLHandler;
class VValueBag;
class VXMLParser;

constexpr VError VE_LOCALIZATION_NULL_OBJECT = MakeVError(kVELK_SIGNATURE, 3);
constexpr VError VE_LOCALIZATION_NOT_FOUND = MakeVError(kVELK_SIGNATURE, 600);
constexpr VError VE_LOCALIZATION_NOT_XLIFF = MakeVError(kVELK_SIGNATURE, 613);

// A code of a STR# list: the list id (an XLIFF group id), then the 1-based index (an XLIFF unit id).
struct STRSharpCodes
{
	int32 fID = 0;
	uint32 fIndex = 0;

	bool operator<(const STRSharpCodes& other) const
	{
		return fID != other.fID ? fID < other.fID : fIndex < other.fIndex;
	}
};

class VELK_API VLocalizationManager : public VObject, public IRefCountable, public ILocalizer
{
public:
	explicit VLocalizationManager(uint32 dialect);
	~VLocalizationManager() override;
	VLocalizationManager(const VLocalizationManager&) = delete;
	VLocalizationManager& operator=(const VLocalizationManager&) = delete;

	// ---- Loading: error codes are returned, nothing is pushed on the task ----
	// The bundle's "Contents/Resources" folder as LoadDefaultLocalizationFolders; false for a null or
	// missing bundle.
	bool LoadDefaultLocalizationFoldersForComponentOrPlugin(IFolder* bundle);
	// The folder's own files whatever their target language, then the dialect's language folders inside
	// it, most specific first. True when at least one language folder was loaded.
	bool LoadDefaultLocalizationFolders(IFolder* folder);
	// Every file of the folder (read errors of the files ignored); the folder is watched once. Forced files
	// are read whatever their target language.
	VError ScanAndLoadFolder(IFolder* folder, bool forced);
	// One file, watched when it is an XLIFF file. A strings file is read but answers velk 613 and is not
	// watched; an XLIFF file that cannot be read answers 0 and is neither read nor watched.
	VError LoadFile(IFile* file, bool forced);
	VError _LoadFile(IFile* file, bool fromScan, bool forced);
	// One file into the tables: the read error (a parse error is not reported, what came before it stays).
	VError AnalyzeXLIFFFile(IFile* file, bool forced);
	VError AnalyzeDotStringsFile(IFile* file);

	// Whether a watched XLIFF file changed or went, or a watched folder went or holds a new XLIFF file.
	// Under the lock; the recorded times are refreshed.
	bool DoesNeedAnUpdate();
	// When an update is needed, empties the tables and reads every watched folder and file again, each as
	// forced as when it was first read; lookups on other threads meanwhile find the texts read so far.
	// Answers whether an update was needed.
	bool UpdateIfNeeded();
	// Empties the tables, under the lock; what is watched stays. True.
	bool ClearLocalizations();

	// ---- Table inserts, used by the XLIFF handlers; each under the lock ----
	// An existing entry is replaced only when overriding.
	bool _InsertSTRSharpCodeAndString(const STRSharpCodes& codes, const VString& text, bool override);
	bool _InsertObjectURLAndString(const VString& key, const VString& text, bool override);
	// An existing text of the id in the group is always replaced.
	bool _InsertIDAndStringInAGroup(uint32 id, const VString& text, const VString& group, bool override);
	// A named bag is kept under its name unless the name has one already; every bag is kept under its
	// resource type, an empty one too.
	void _InsertGroupBag(const VString& name, const VString& restype, const VValueBag* bag);

	// ---- Lookups: each under the lock; nothing found leaves the output untouched and answers false ----
	uint32 GetLocalizationLanguage() override { return fDialect; }
	// Looks "ERR_" + the four signature characters + "_" + the signed decimal number up by key.
	bool LocalizeErrorMessage(VError code, VString& text) override;
	// Exact code-unit match.
	bool LocalizeStringWithKey(const VString& key, VString& text) override;
	bool LocalizeStringWithDotStringsKey(const VString& key, VString& text) override;
	bool LocalizeStringWithSTRSharpCodes(const STRSharpCodes& codes, VString& text);
	// Clears texts, then appends the texts of (id, 1), (id, 2)... up to the first missing index.
	bool LocalizeGroupOfStringsWithAStrSharpID(int32 id, std::vector<VString>& texts);
	// Clears texts, then the group's texts by ascending unit id; false for a missing or empty group.
	bool GetOrderedStringsOfGroup(const VString& group, std::vector<VString>& texts);
	// The name is compared without case and diacritics.
	const VValueBag* RetainGroupBag(const VString& name) override;
	// Appends (without clearing) the bags of that resource type in the order loaded.
	void RetainGroupBagsByRestype(const VString& restype, std::vector<VRefPtr<const VValueBag>>& bags);

private:
	// Code-unit order, as VString::CompareToStringRaw, inline: lookups spend most of their time here.
	struct RawLess
	{
		bool operator()(const VString& a, const VString& b) const
		{
			return std::u16string_view(a.GetCPointer(), size_t(a.GetLength()))
				< std::u16string_view(b.GetCPointer(), size_t(b.GetLength()));
		}
	};
	struct NameLess
	{
		bool operator()(const VString& a, const VString& b) const { return a.CompareToString(b, false) == CR_SMALLER; }
	};
	struct PathLess
	{
		bool operator()(const VFilePath& a, const VFilePath& b) const;
	};
	// A folder scanned or a file loaded alone, with the forced flag it was first read with.
	struct WatchedPath
	{
		VFilePath fPath;
		bool fForced = false;
	};
	using TimeMap = std::map<VFilePath, VTime, PathLess>;

	bool _NeedsUpdateForTimes();
	bool _NeedsUpdateForFolders() const;
	void _Watch(const VFilePath& path, bool forced);

	mutable VCriticalSection fLock;
	const uint32 fDialect;
	std::map<STRSharpCodes, VString> fSTRSharpStrings;
	std::map<VString, VString, RawLess> fKeyStrings;
	std::map<VString, std::map<uint32, VString>, RawLess> fGroupStrings;
	std::map<VString, VString, RawLess> fDotStrings;
	VXMLParser* fParser = nullptr;
	VLocalizationXMLHandler* fRootHandler = nullptr;
	std::vector<WatchedPath> fWatchedPaths;
	TimeMap fModificationTimes;
	std::map<VString, VRefPtr<const VValueBag>, NameLess> fGroupBagsByName;
	std::multimap<VString, VRefPtr<const VValueBag>, RawLess> fGroupBagsByRestype;
	std::vector<VRefPtr<IFolder>> fDialectFolders;
};

}  // namespace velk
