// A JSON class, in the manner of a script class: a name, the namespace (class store) that defines it, an
// optional superclass, a prototype holding its functions, property getters, setters and initializers, an
// optional constructor and a kind (plain, shared, singleton, session singleton). The class is itself seen
// as a JSON object, its class object, whose implementation it is; instances are objects that point to it.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class IFile;
class VJSONClassStore;

constexpr VError VE_JSON_CLASS_READ_ONLY = MakeVError(kRYRT_SIGNATURE, -10702);
constexpr VError VE_JSON_STORE_READ_ONLY = MakeVError(kRYRT_SIGNATURE, -10705);
constexpr VError VE_JSON_SUPER_NOT_CALLABLE = MakeVError(kRYRT_SIGNATURE, -10707);
constexpr VError VE_JSON_NOT_A_FUNCTION = MakeVError(kRYRT_SIGNATURE, -10729);
constexpr VError VE_JSON_NO_SCOPE_CLASS = MakeVError(kRYRT_SIGNATURE, -10736);
constexpr VError VE_JSON_NOT_A_CLASS_OBJECT = MakeVError(kRYRT_SIGNATURE, -10745);
constexpr VError VE_JSON_SUPER_OUTSIDE_CONSTRUCTOR = MakeVError(kRYRT_SIGNATURE, -10746);
constexpr VError VE_JSON_SUPERCLASS_NOT_A_CLASS = MakeVError(kRYRT_SIGNATURE, -10747);
constexpr VError VE_JSON_SUPER_NOT_CALLED = MakeVError(kRYRT_SIGNATURE, -10748);
constexpr VError VE_JSON_NO_INSTANTIATOR = MakeVError(kRYRT_SIGNATURE, -10749);
constexpr VError VE_JSON_FINAL_FUNCTION = MakeVError(kRYRT_SIGNATURE, -10750);
constexpr VError VE_JSON_CONSTRUCTOR_NOT_RUN = MakeVError(kRYRT_SIGNATURE, -10751);
constexpr VError VE_JSON_NO_SHARED_INSTANCES = MakeVError(kRYRT_SIGNATURE, -10759);

// How the functions a class made reach it: the class clears the link when it goes, so that a function
// kept after its class answers no class rather than a freed one.
class VELK_API VJSONClassLink : public VObject, public IRefCountable
{
public:
	explicit VJSONClassLink(VJSONClass* theClass) : fClass(theClass) {}
	VJSONClass* GetClass() const { return fClass.load(std::memory_order_acquire); }
	void _Clear() { fClass.store(nullptr, std::memory_order_release); }

private:
	std::atomic<VJSONClass*> fClass;
};

class VELK_API VJSONClass : public VObject, public IJSONObject
{
public:
	using NativeFunction = EJSONStatus (*)(const VJSONObject* function, IJSONFunctionContext* context);
	// Makes a new instance of the class object (one reference, owned by the caller), or null.
	using Instantiator = VJSONObject* (*)(VJSONObject* classObject, IJSONFunctionContext* context);
	// A function of the maps, not retained, and the holder that owns it under the entry's name (the prototype,
	// the getters, setters or initializers object of this class or of a superclass); the function itself
	// for the two accessors a class makes for its lone getters and setters. The entry answers only while the
	// holder still owns that function under that name.
	struct FunctionEntry
	{
		VJSONObject* fFunction = nullptr;
		VRefPtr<VJSONObject> fHolder;
	};
	using FunctionMap = std::unordered_map<VString, FunctionEntry, hasher_VString::hash, hasher_VString::equal_to>;

	// Class flags.
	static constexpr uint32 kFinalFunctions = 0x02;
	static constexpr uint32 kShared = 0x20;
	static constexpr uint32 kSingleton = 0x40;
	static constexpr uint32 kSessionSingleton = 0x80;

	// Function descriptor flags.
	static constexpr uint32 kFunctionFinal = 1;
	static constexpr uint32 kFunctionHidden = 2;

	struct FunctionDescriptor
	{
		VString fName;
		NativeFunction fFunction = nullptr;
		uint32 fFlags = 0;
	};

	// The class object of a new class (one reference, owned by the caller). Without superclass the
	// process store's root "Object" is taken (none before the store exists). Null with RyRT -10747 when
	// superclass is not a class object, or with velk 100 when memory is short. Flag 0x80 adds 0x60.
	static VJSONObject* Create(const VString& name, VJSONObject* superclass, IFile* file, const VString& nameSpace,
		uint32 flags);
	// The same, then SetFunctions with the descriptors.
	static VJSONObject* Create(const VString& name, const std::vector<FunctionDescriptor>& functions,
		VJSONObject* superclass, NativeFunction constructor, Instantiator instantiator, const VString& nameSpace,
		uint32 flags);

	// Defines the functions once: later calls change nothing, not even the constructor. Names "get p",
	// "set p" and "init p" also make the function p's getter, setter or initializer; a getter without
	// setter gets a shared final setter that refuses (RyRT -10702), a setter without getter a getter
	// that reads undefined. A function that a holder refuses (RyRT -10721 for one that cannot be shared)
	// takes no role of the holder's.
	void SetFunctions(const std::vector<FunctionDescriptor>& functions, NativeFunction constructor,
		Instantiator instantiator);
	void SetFunctions(const std::vector<std::pair<VString, VRefPtr<VJSONObject>>>& functions, VJSONObject* constructor,
		Instantiator instantiator);

	const VString& GetName() const { return fName; }
	const VString& GetNameSpace() const { return fNameSpace; }
	VJSONObject* GetClassObject() const { return fClassObject; }
	VJSONClass* GetSuperclass() const { return fSuperclass; }
	VJSONObject* GetSuperclassObject() const { return fSuperclassObject.Get(); }
	VJSONObject* GetPrototype() const { return fPrototype.Get(); }
	VJSONObject* GetConstructor() const { return fConstructor.Get(); }
	int32 GetDepth() const { return fDepth; }
	uint32 GetFlags() const { return fFlags; }
	uint32 GetSequenceID() const { return fSequenceID; }
	// The defining file, not retained; null for a class defined in code.
	IFile* GetFile() const { return fFile.Get(); }
	bool AreFunctionsDefined() const { return fFunctionsDefined; }
	uint32 GetInstanceCount() const { return fInstanceCount.load(std::memory_order_relaxed); }
	uint64 GetCreationCount() const { return fCreationCount.load(std::memory_order_relaxed); }

	// The function, getter or setter of that name, retained, while its holder owns it; null otherwise.
	VRefPtr<VJSONObject> GetFunction(const VString& name) const;
	VRefPtr<VJSONObject> GetGetter(const VString& name) const;
	VRefPtr<VJSONObject> GetSetter(const VString& name) const;
	bool HasSetters() const { return !fSetterMap.empty(); }
	bool HasGetters() const { return !fGetterMap.empty(); }
	// Appends the names of the getters.
	void GetGetterNames(std::vector<VString>& names) const;
	// The function object's own "__hidden" as a boolean; false when absent.
	static bool IsFunctionHidden(VJSONObject* function);

	// Obsolete when marked so, when its defining file changed since the class was made or is gone, or
	// when its superclass is obsolete. Errors met reading the file's time are dropped.
	bool IsObsolete() const;
	void MarkObsolete() { fMarkedObsolete = true; }

	// An instance took or gave back this class: counts it; the first live instance keeps the class object
	// alive, the last one lets it go.
	void UseClassObject();
	void UnuseClassObject();

	// Class identifiers: a class name, optionally behind "Ry.", "cs.", a component name and a dot, or
	// "cs." with a component name and a dot. Null (no error) when nothing matches.
	static VRefPtr<VJSONObject> GetClassObjectFromID(VJSONClassStore* store, const VString& id);
	// Whether this class or a superclass is the one the identifier names; true for an empty identifier.
	bool MatchClassID(VJSONClassStore* store, const VString& id) const;
	bool _MatchClassID(const VString& nameSpace, const VString& name) const;

	// Instances. No instance, and no error, before the functions are defined; RyRT -10749 without
	// instantiator. Construction runs the initializers and the constructors along the superclass chain.
	VJSONObject* CreateInstance(VJSONObject* classObject, IJSONFunctionContext* context) const;
	static VRefPtr<VJSONObject> CreateInstanceFromClassObject(VJSONObject* classObject, VDBLanguageContext* language,
		std::vector<VJSONValue>* parameters);
	void ConstructInstance(VJSONObject* instance, IJSONFunctionContext* context) const;
	virtual EJSONStatus _InitProperties(VJSONObject* instance, IJSONFunctionContext* context) const;
	virtual EJSONStatus _CallProperties(VJSONObject* instance, IJSONFunctionContext* context) const;
	// Not handled (1) without constructor; RyRT -10748 and failed when the constructor returned without
	// the super() call a superclass constructor needed.
	EJSONStatus CallConstructor(VJSONObject* instance, IJSONFunctionContext* context) const;
	// super() inside a constructor; RyRT -10746 outside one.
	static EJSONStatus CallSuperConstructor(IJSONFunctionContext* context);
	// For hosts that build instances themselves: marks the instance constructed. RyRT -10751 (returned)
	// when a class of its chain has a constructor, which was then never run.
	static uint64 FinalizeInstance(VJSONObject* instance);
	static uint64 FinalizeInstanceAllowingConstructor(VJSONObject* instance);

	static VJSONObject* GenericInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);
	static VJSONObject* SharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);
	static VJSONObject* ErrorSharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);

	// Singletons. Null for a class that is not a singleton; a shared singleton is kept by the class
	// (GetInternalSingleton); session and unshared singletons belong to a host, which this process does
	// not have, so they are null.
	VRefPtr<VJSONObject> GetSingleton(VDBLanguageContext* language, IJSONFunctionContext* context) const;
	// Made once under the singleton lock, read and retained under it. Null while the calling task is
	// making it (a constructor asking for its own class's singleton).
	VRefPtr<VJSONObject> GetInternalSingleton(VDBLanguageContext* language, IJSONFunctionContext* context) const;
	void ReleaseSingleton();

	// Native functions.
	static EJSONStatus do_new(const VJSONObject* function, IJSONFunctionContext* context);
	static EJSONStatus do_errorReadOnlyAttribute(const VJSONObject* function, IJSONFunctionContext* context);
	static EJSONStatus do_errorWriteOnlyAttribute(const VJSONObject* function, IJSONFunctionContext* context);
	static EJSONStatus do_errorOverridingFinalFunction(const VJSONObject* function, IJSONFunctionContext* context);

	// The class object's keyword protocol.
	EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const override;
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override;
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
	// A class object is not cloned: failed, without error.
	EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
		uint64* error) const override;

	// For the class store, which makes the root classes and tears them down.
	static VJSONClass* _CreateRootClass(const VString& name, VJSONObject* superclassObject, const VString& nameSpace);
	void _SetClassObject(VJSONObject* classObject) { fClassObject = classObject; }
	// Drops the function holders, breaking the cycle between the root classes and their functions.
	void _ReleaseFunctions();
	// The link the class's functions keep to it; null when memory was short (they then have no owner).
	VJSONClassLink* _GetLink() const { return fLink.Get(); }

	// Keyword strings.
	static const VString sFunctionProperty_local, sFunctionProperty_exposed, sFunctionProperty_onHTTPGet,
		sFunctionProperty_eventName, sFunctionProperty_resultType, sFunctionProperty_resultTypeCode,
		sFunctionProperty_resultClass, sFunctionProperty_shared, sClassProperty_singleton, sClassProperty_session,
		sClassProperty_aliases, sAliasProperty_name, sAliasProperty_path, sClassProperty_properties,
		sClassProperty_property_value, sClassProperty_property_type, sClassProperty_property_content,
		sFunctionType_init, sFunctionType_init_withSpace;

	// Process-wide sequence of class ids.
	static std::atomic<uint32> sSequenceID;

private:
	VJSONClass(const VString& name, const VString& nameSpace, VJSONObject* superclassObject, VJSONClass* superclass,
		IFile* file, uint32 flags);
	~VJSONClass() override;

	// A plain holder of function objects: no class, an established containers-only locker.
	static VRefPtr<VJSONObject> _MakeFunctionHolder();
	bool _MakeOneInstance(VJSONObject* classObject, IJSONFunctionContext* context, VRefPtr<VJSONObject>& out) const;
	VRefPtr<VJSONObject> _MakeSingleton(VDBLanguageContext* language, IJSONFunctionContext* context) const;
	// Sets holder[name] = function and, when the holder took it, map[name] = function.
	static void _AddAccessor(VRefPtr<VJSONObject>& holder, FunctionMap& map, const VString& name, VJSONObject* function);
	// The entry's function, retained, while its holder still owns it; null otherwise.
	static VRefPtr<VJSONObject> _Answer(const FunctionMap& map, const VString& name);
	static VRefPtr<VJSONObject> _Answer(const VString& name, const FunctionEntry& entry);

	VString fName;
	VString fNameSpace;
	VJSONObject* fClassObject = nullptr;
	VJSONClass* fSuperclass = nullptr;
	VRefPtr<VJSONObject> fSuperclassObject;
	VRefPtr<VJSONObject> fPrototype;
	VRefPtr<VJSONObject> fGetters;
	VRefPtr<VJSONObject> fSetters;
	VRefPtr<VJSONObject> fConstructor;
	mutable VRefPtr<VJSONObject> fInternalSingleton;
	mutable VCriticalSection fSingletonLock;
	// The task making the internal singleton, 0 when none; read and written under the singleton lock.
	mutable int32 fSingletonMaker = 0;
	Instantiator fInstantiator = nullptr;
	FunctionMap fFunctions;
	FunctionMap fGetterMap;
	FunctionMap fSetterMap;
	VRefPtr<VJSONObject> fInitializers;
	FunctionMap fInitializerMap;
	VRefPtr<VJSONObject> fReadOnlySetter;
	VRefPtr<VJSONObject> fWriteOnlyGetter;
	int32 fDepth = 0;
	uint32 fSequenceID = 0;
	VRefPtr<IFile> fFile;
	VTime fModificationTime;
	bool fFunctionsDefined = false;
	bool fMarkedObsolete = false;
	uint32 fFlags = 0;
	std::atomic<uint32> fInstanceCount{0};
	std::atomic<uint64> fCreationCount{0};
	VRefPtr<VJSONClassLink> fLink;
};

// The singleton of theClass kept in map (the caller's, not locked): made with CreateInstance on first
// use and inserted; a null entry stays null.
VELK_API VRefPtr<VJSONObject> GetSingletonFromMap(std::map<const VJSONClass*, VRefPtr<VJSONObject>>& map,
	const VJSONClass* theClass, VDBLanguageContext* language, IJSONFunctionContext* context);

}  // namespace velk
