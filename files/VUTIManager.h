// The uniform type identifiers an application declares in its information property list: reads the
// exported and imported declarations, links each type to the declared types it conforms to, registers every
// type as a private file kind, and answers which types carry a file-name extension, a MIME type or a type
// code. One process-wide instance, set up and read on one thread: nothing is locked.
#pragma once

#include "kernel/VExport.h"

#include "files/VUTI.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class ILocalizer;
class VArrayString;
class VFile;
class VUTIManagerXMLHandler;
class VXMLParser;

// Tag classes of the declarations.
extern VELK_API const char* const kUTTagClassFilenameExtension;  // "public.filename-extension"
extern VELK_API const char* const kUTTagClassMIMEType;  // "public.mime-type"
extern VELK_API const char* const kUTTagClassOSType;  // "com.apple.ostype"

class VELK_API VUTIManager : public VObject, public IRefCountable
{
public:
	VUTIManager();
	~VUTIManager() override;
	VUTIManager(const VUTIManager&) = delete;
	VUTIManager& operator=(const VUTIManager&) = delete;

	// The instance, made on first call; null (velk 100 raised) when memory is short.
	static VUTIManager* GetUTIManager();
	// Release the instance and clear it.
	static void Delete();
	static void DeInit();

	// The source of localized descriptions, not retained; null localizes nothing.
	void SetLocalizationManager(ILocalizer* localizer) { fLocalizer = localizer; }

	// Reads the declarations of a property list file, XML or binary, then links and registers the types
	// (ProcessExtractedUTIs). False for a null or missing file; a file that cannot be read or parsed leaves
	// its error on the task, and the types read before the failure are kept.
	bool LoadXMLFile(VFile* file);
	// Reads the declarations only; false when the file could not be read or parsed.
	bool AnalyzeXMLFile(const VFile* file);

	// Links each type to the declared types it names as parents, then registers every type as a private
	// file kind when the file-kind manager exists.
	void ProcessExtractedUTIs();

	// Retains and keeps the type; false for a null type, an empty identifier or one already kept (the first
	// declaration stays).
	bool AddNewUTI(VUTI* uti);
	size_t GetUTIsCount() const { return fUTIs.size(); }
	// The type of that identifier (exactly), not retained; null when none.
	VUTI* GetUTI(const VString& identifier) const;

	// The identifiers compare equal, without case or diacritics.
	static bool UTTypeEqual(const VString& a, const VString& b);

	// A new array, owned by the caller, of the identifiers, in identifier order, of every type that carries
	// the tag or has a parent that does; null for an empty class or tag or an unknown class. The identifier
	// argument is not used.
	VArrayString* UTTypeCreateAllIdentifiersForTag(const VString& tagClass, const VString& tag, const VString& identifier) const;
	// The preferred type of the tag, retained: among the types carrying it (themselves or through a parent),
	// those conforming to identifier when it is not empty, public ones before the others; null when none.
	VUTI* UTTypeCreatePreferredIdentifierForTag(const VString& tagClass, const VString& tag, const VString& identifier) const;
	// Whether the type of the file (by its extension, or by its type code) conforms to identifier; false for
	// a null or missing file, an empty identifier or a file of no known type.
	bool UTTypeConformsTo(VFile* file, const VString& identifier) const;

	static VUTIManager* fSingleton;

private:
	void _RegisterFileKinds() const;
	void _ReleaseUTIs();

	VUTIMap fUTIs;
	VXMLParser* fParser = nullptr;
	VUTIManagerXMLHandler* fHandler = nullptr;
	ILocalizer* fLocalizer = nullptr;
};

}  // namespace velk
