// A namespace of JSON classes: class names to class objects, which of them are visible, and the
// component stores reachable through it. The process holds one, "ry", with the root classes "Object",
// "Class" and "Function". Also a JSON object, whose properties are its classes and component stores.
#pragma once

#include "kernel/VExport.h"

#include <unordered_map>
#include <vector>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class IFile;

class VELK_API VJSONClassStore : public VObject, public IJSONObject
{
public:
	using ClassMap = std::unordered_map<VString, VRefPtr<VJSONObject>, hasher_VString::hash, hasher_VString::equal_to>;
	using StoreMap = std::unordered_map<VString, VRefPtr<VJSONClassStore>, hasher_VString::hash, hasher_VString::equal_to>;

	// Flag of AddClass: the class is not visible.
	static constexpr uint32 kHidden = 1;

	explicit VJSONClassStore(const VString& name);

	// The running process's store; null while there is no process or it has none.
	static VJSONClassStore* GetProcessStore();

	VJSONClassStore(const VJSONClassStore&) = delete;
	VJSONClassStore& operator=(const VJSONClassStore&) = delete;

	// Makes "Object", "Class" (which has "new") and "Function" (which has "apply" and "call"). None of
	// them has an instantiator.
	void AddRootClasses();
	// Nothing for an object that is not a class object; an earlier class of the same name is replaced.
	void AddClass(VJSONObject* classObject, uint32 flags);
	// Creates the class in this namespace, defines its functions and adds it visible; null on failure.
	VRefPtr<VJSONObject> AddClass(const VString& name, const std::vector<VJSONClass::FunctionDescriptor>& functions,
		VJSONObject* superclass, VJSONClass::NativeFunction constructor, VJSONClass::Instantiator instantiator,
		uint32 classFlags);
	// An existing component of that name stays.
	void AddComponentClassStore(const VString& name, VJSONClassStore* store);
	VRefPtr<VJSONClassStore> GetComponentClassStore(const VString& name) const;
	void GetComponentClassStores(StoreMap& out) const;
	void GetClasses(ClassMap& out) const;
	void GetVisibleClasses(ClassMap& out) const;
	void RemoveComponentClassStores();
	size_t GetCount() const;

	const VString& GetName() const { return fName; }

	// ignoreCase folds ASCII letters only.
	VRefPtr<VJSONObject> GetClassObject(const VString& name, bool ignoreCase) const;
	VRefPtr<VJSONObject> GetVisibleClassObject(const VString& name, bool ignoreCase) const;
	bool EqualClassName(const VString& a, const VString& b, bool ignoreCase) const;
	VRefPtr<VJSONObject> GetClassObjectFromIdentifier(const VString& id) const;
	VRefPtr<VJSONObject> GetSingletonObjectFromIdentifier(const VString& id, VDBLanguageContext* language) const;
	// prefix + name of each visible shared singleton, then component + "." + name for the components'.
	void GetPublicSharedSingletonIdentifiers(std::vector<VString>& out, const VString& prefix) const;
	// Takes out the classes whose defining file changed or vanished, or that a file now defines (files:
	// class name to its current file). The names of removed file-defined classes are appended to removed.
	void RemoveObsoleteClasses(const std::unordered_map<VString, VRefPtr<IFile>, hasher_VString::hash,
		hasher_VString::equal_to>& files, std::vector<VString>& removed);
	// Drops the internal singleton of every class. The singleton locks are taken after the store lock is
	// given back: a singleton's constructor holds its lock and may reach the store.
	void ReleaseSingletons();

	// The root class objects, not retained; null before AddRootClasses.
	VJSONObject* GetRootObjectClass() const { return fRootObject; }
	VJSONObject* GetRootClassClass() const { return fRootClass; }
	VJSONObject* GetRootFunctionClass() const { return fRootFunction; }

	// The store's object protocol: its classes and component stores as properties, read-only.
	EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const override;
	// Refused with RyRT -10705.
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	bool IJSON_Clear(VJSONObject* object) override;
	bool IJSON_IsEmpty(const VJSONObject* object) const override;
	EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter& writer, VString& out,
		uint64* error) const override;
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override;
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;

private:
	~VJSONClassStore() override;

	static VRefPtr<VJSONObject> _Find(const ClassMap& map, const VString& name, bool ignoreCase);

	mutable VCriticalSection fLock;
	VString fName;
	ClassMap fClasses;
	ClassMap fVisibleClasses;
	StoreMap fComponents;
	VJSONObject* fRootObject = nullptr;
	VJSONObject* fRootClass = nullptr;
	VJSONObject* fRootFunction = nullptr;
};

}  // namespace velk
