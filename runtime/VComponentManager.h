// The process-wide registry of components: types served by creator functions or by component libraries,
// the shared instances, and the check of a component's requirements on other types, with its cache. All
// state is static and made by Init; every operation but GetLocalizationLanguage answers velk 1000 (for
// registrations) or null/false (for lookups) before Init. Locks: sAccessingTypes is taken before
// sAccessingChecked; the instances lock is held while a missing shared instance is made; the checking lock
// is taken alone.
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayOf.h"
#include "containers/VArrayRetainedPtrOf.h"
#include "kernel/intl/VIntlMgr.h"
#include "runtime/CComponent.h"
#include "runtime/VError.h"

namespace velk {

class VCriticalSection;
class VFilePath;
class VFolder;
class VLibrary;

// A Windows language identifier (1033 US English, kDIALECT_NONE for none).
using DialectCode = uint32;

constexpr VError VE_COMPONENT_MANAGER_NOT_INITIALIZED = MakeVError(kVELK_SIGNATURE, 1000);
constexpr VError VE_COMPONENT_CREATOR_MISMATCH = MakeVError(kVELK_SIGNATURE, 1001);
constexpr VError VE_COMPONENT_ALREADY_REGISTERED = MakeVError(kVELK_SIGNATURE, 1002);
constexpr VError VE_COMPONENT_LIBRARY_ENTRY_MISSING = MakeVError(kVELK_SIGNATURE, 1004);
constexpr VError VE_COMPONENT_LIBRARY_CANNOT_LOAD = MakeVError(kVELK_SIGNATURE, 1008);

class VELK_API VComponentManager
{
public:
	// Makes the arrays and locks once; false (and nothing kept) when memory is short.
	static bool Init();
	// Releases the libraries and shared instances and frees the arrays and locks.
	static void DeInit();

	// Loads the library, calls its "Main" and registers every type its "GetNthComponentType" names (a type
	// already registered gets this library). 0; or velk 1000 or 1002, thrown and returned; or, when the
	// library cannot be loaded, velk 100 returned with a file error velk 1008 on the path pushed; or velk
	// 1004 returned (nothing pushed) when an entry point is missing; or velk 100 thrown and returned when
	// memory runs out while its types are added (those added stay registered).
	static VError RegisterComponentLibrary(const VFilePath& path);
	// Removes every type served by the library of that file, and the shared instances of those types,
	// whose code may leave with the library; 0 also when there is none.
	static VError UnRegisterComponentLibrary(const VFilePath& path);
	// A new type gets the creator; a registered one has its creator replaced (a library stays but the
	// creator is tried first), except that the same creator again is velk 1002 unless overwrite is set.
	static VError RegisterComponentCreator(OsType type, VComponentCreator creator, bool overwrite = false);
	// velk 1001 when the type is registered with another creator; 0 when removed or not registered.
	static VError UnRegisterComponentCreator(OsType type, VComponentCreator creator);
	// Removes the type whatever serves it, and its shared instances; 0 also when it is not registered.
	static VError UnRegisterComponentType(OsType type);

	// A new component of the type from its creator, else from its library; null when none can be made or,
	// unless skipCheck, when it fails CheckComponentRequirements.
	static CComponent* RetainUniqueComponent(OsType type, OsType signature, bool skipCheck = false);
	// The shared instance of the type (the first of the type for kCOMPONENT_ANY_SIGNATURE, else the first
	// of that signature too), retained; else a new unique component, kept as a shared instance.
	static CComponent* RetainComponent(OsType type, OsType signature = kCOMPONENT_ANY_SIGNATURE);
	// RetainComponent(type, family) for every registered type; each found is appended (with its
	// reference) to components. False when not initialised.
	static bool RetainComponentsOfFamily(OsType family, VArrayRetainedPtrOf<CComponent*>& components);
	// velk 3 for null, velk 1002 when already a shared instance; the registry holds one reference.
	static VError RegisterComponentInstance(CComponent* component);
	// Drops the shared instance and its reference; velk 3 for null.
	static VError UnRegisterComponentInstance(CComponent* component);
	static bool IsComponentAvailable(OsType type);

	// Whether every type the component's requirements record names can be made in a version at least the
	// one asked for. The answer is cached per type; an invalid or missing record answers false uncached.
	// With keepMade the components made for the check are kept until its end, else released at once.
	static bool CheckComponentRequirements(CComponent* component, bool keepMade = false);
	// Drops the type's cached answer; forced also drops the answers of every type with requirements,
	// which may have counted on this one.
	static void ResetComponentRequirements(OsType type, bool forced);

	// The localization language of a folder of ".lproj" folders (of its Contents/Resources when isBundle):
	// wanted when there is a folder for it, else 1033 when there is one for US English, else the last one
	// recognised, else -2. With wanted 0, the main bundle's preferred localization (1033 when it has none),
	// without looking at the folder. -2 for a null or missing folder. Works without Init.
	static DialectCode GetLocalizationLanguage(VFolder* folder, bool isBundle, DialectCode wanted);

	// The registry's arrays start with room for this many entries and grow by as many.
	static constexpr int32 kArrayStep = 10;

private:
	// The position of type in sComponentTypes, 0 when absent; under sAccessingTypes.
	static int32 _FindType(OsType type);
	// Drops the shared instances of the types; under sAccessingInstances alone.
	static void _ForgetInstancesOfTypes(const VArrayOf<OsType>& types);
	// Removes the entries at pos, releasing its library; under sAccessingTypes.
	static void _RemoveTypeAt(int32 pos);
	// Field 5 of the component's record; false when the record is missing or invalid.
	static bool _GetComponentVersion(CComponent* component, uint32& version);
	// Whether the record's format and size are usable.
	static bool _IsValidRecord(const uint32* record);

	static VArrayOf<OsType>* sComponentTypes;
	static VArrayOf<VComponentCreator>* sComponentProcs;
	static VArrayOf<VLibrary*>* sComponentLibraries;
	static VArrayOf<CComponent*>* sComponentInstances;
	static VArrayOf<OsType>* sComponentChecked;
	static VArrayOf<uint8>* sComponentIsAvailable;
	static VArrayOf<uint8>* sComponentHasRequirements;
	static VArrayOf<OsType>* sComponentChecking;
	static VCriticalSection* sAccessingTypes;
	static VCriticalSection* sAccessingInstances;
	static VCriticalSection* sAccessingChecked;
	static VCriticalSection* sAccessingChecking;
	static bool sIsInitialized;
};

}  // namespace velk
