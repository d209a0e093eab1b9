#include "kernel/json/classes/VJSONClassStore.h"

#include <new>

#include "files/IFile.h"
#include "kernel/json/classes/VJSONMemberFunction.h"
#include "runtime/VProcess.h"

namespace velk {

namespace {

VJSONClass* ClassOf(const VJSONObject* classObject)
{
	return classObject != nullptr ? dynamic_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr;
}

bool IsSharedSingleton(const VJSONObject* classObject)
{
	const VJSONClass* theClass = ClassOf(classObject);
	const uint32 wanted = VJSONClass::kShared | VJSONClass::kSingleton;
	return theClass != nullptr && (theClass->GetFlags() & wanted) == wanted;
}

// The class object of a root class: shared, of class classClass (none while it is being made).
VJSONObject* MakeRootClassObject(VJSONClass* theClass, VJSONObject* classClass)
{
	if (theClass == nullptr)
		return nullptr;
	VJSONObject* classObject = new (std::nothrow) VJSONObject(classClass, theClass, true);
	theClass->Release();
	if (classObject == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	theClass->_SetClassObject(classObject);
	return classObject;
}

}  // namespace

VJSONClassStore* VJSONClassStore::GetProcessStore()
{
	return VProcess::sInstance != nullptr ? VProcess::sInstance->GetClassStore() : nullptr;
}

VJSONClassStore::VJSONClassStore(const VString& name) : fName(name)
{
	fClasses.max_load_factor(1.0f);
	fVisibleClasses.max_load_factor(1.0f);
	fComponents.max_load_factor(1.0f);
}

VJSONClassStore::~VJSONClassStore()
{
	ReleaseSingletons();
	// The root classes and their functions refer to each other ("new" is a Function, "apply" and "call"
	// are Functions of Function): their functions go with the store.
	for (VJSONObject* root : {fRootObject, fRootClass, fRootFunction})
	{
		if (VJSONClass* theClass = ClassOf(root))
			theClass->_ReleaseFunctions();
	}
	// "Object" is an instance of "Class", which derives from "Object".
	if (fRootObject != nullptr)
		fRootObject->_SetClass(nullptr);
	fComponents.clear();
	fVisibleClasses.clear();
	fClasses.clear();
}

void VJSONClassStore::AddRootClasses()
{
	StLocker lock(&fLock);
	if (fRootObject != nullptr)
		return;
	VRefPtr<VJSONObject> objectClass(MakeRootClassObject(VJSONClass::_CreateRootClass(VString("Object"), nullptr, fName),
		nullptr), true);
	if (!objectClass)
		return;
	VRefPtr<VJSONObject> classClass(MakeRootClassObject(
		VJSONClass::_CreateRootClass(VString("Class"), objectClass.Get(), fName), nullptr), true);
	if (!classClass)
		return;
	VJSONClass* classOfClasses = ClassOf(classClass.Get());
	objectClass->_SetClass(classOfClasses);
	classClass->_SetClass(classOfClasses);
	objectClass->_SetClassKind(1);
	classClass->_SetClassKind(2);
	fClasses[VString("Object")] = objectClass;
	fVisibleClasses[VString("Object")] = objectClass;
	fClasses[VString("Class")] = classClass;
	fVisibleClasses[VString("Class")] = classClass;
	fRootObject = objectClass.Get();
	fRootClass = classClass.Get();
	VRefPtr<VJSONObject> functionClass(MakeRootClassObject(
		VJSONClass::_CreateRootClass(VString("Function"), objectClass.Get(), fName), classClass.Get()), true);
	if (!functionClass)
		return;
	fClasses[VString("Function")] = functionClass;
	fVisibleClasses[VString("Function")] = functionClass;
	fRootFunction = functionClass.Get();
	ClassOf(objectClass.Get())->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>(), nullptr, nullptr);
	ClassOf(classClass.Get())->SetFunctions({{VString("new"), &VJSONClass::do_new, 0}}, nullptr, nullptr);
	ClassOf(functionClass.Get())
		->SetFunctions({{VString("apply"), &VJSONMemberFunction::do_apply, 0},
						   {VString("call"), &VJSONMemberFunction::do_call, 0}},
			nullptr, nullptr);
}

void VJSONClassStore::AddClass(VJSONObject* classObject, uint32 flags)
{
	const VJSONClass* theClass = ClassOf(classObject);
	if (theClass == nullptr)
		return;
	// Replaced class objects die after the lock is given back: their end may reach other stores.
	VRefPtr<VJSONObject> replaced, replacedVisible;
	StLocker lock(&fLock);
	VRefPtr<VJSONObject>& entry = fClasses[theClass->GetName()];
	replaced = std::move(entry);
	entry.Set(classObject);
	if ((flags & kHidden) == 0)
	{
		VRefPtr<VJSONObject>& visible = fVisibleClasses[theClass->GetName()];
		replacedVisible = std::move(visible);
		visible.Set(classObject);
	}
}

VRefPtr<VJSONObject> VJSONClassStore::AddClass(const VString& name,
	const std::vector<VJSONClass::FunctionDescriptor>& functions, VJSONObject* superclass,
	VJSONClass::NativeFunction constructor, VJSONClass::Instantiator instantiator, uint32 classFlags)
{
	VRefPtr<VJSONObject> classObject(VJSONClass::Create(name, superclass, nullptr, fName, classFlags), true);
	if (!classObject)
		return nullptr;
	ClassOf(classObject.Get())->SetFunctions(functions, constructor, instantiator);
	AddClass(classObject.Get(), 0);
	return classObject;
}

void VJSONClassStore::AddComponentClassStore(const VString& name, VJSONClassStore* store)
{
	StLocker lock(&fLock);
	if (store != nullptr && fComponents.find(name) == fComponents.end())
		fComponents.emplace(name, VRefPtr<VJSONClassStore>(store));
}

VRefPtr<VJSONClassStore> VJSONClassStore::GetComponentClassStore(const VString& name) const
{
	StLocker lock(&fLock);
	auto found = fComponents.find(name);
	return found != fComponents.end() ? found->second : nullptr;
}

void VJSONClassStore::GetComponentClassStores(StoreMap& out) const
{
	StLocker lock(&fLock);
	if (&out != &fComponents)
		out = fComponents;
}

void VJSONClassStore::GetClasses(ClassMap& out) const
{
	StLocker lock(&fLock);
	if (&out != &fClasses)
		out = fClasses;
}

void VJSONClassStore::GetVisibleClasses(ClassMap& out) const
{
	StLocker lock(&fLock);
	if (&out != &fVisibleClasses)
		out = fVisibleClasses;
}

void VJSONClassStore::RemoveComponentClassStores()
{
	StoreMap removed;
	StLocker lock(&fLock);
	removed.swap(fComponents);
}

size_t VJSONClassStore::GetCount() const
{
	StLocker lock(&fLock);
	return fClasses.size();
}

VRefPtr<VJSONObject> VJSONClassStore::_Find(const ClassMap& map, const VString& name, bool ignoreCase)
{
	if (!ignoreCase)
	{
		auto found = map.find(name);
		return found != map.end() ? found->second : nullptr;
	}
	for (const auto& entry : map)
	{
		if (entry.first.CompareToStringRawCase(name) == CR_EQUAL)
			return entry.second;
	}
	return nullptr;
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObject(const VString& name, bool ignoreCase) const
{
	StLocker lock(&fLock);
	return _Find(fClasses, name, ignoreCase);
}

VRefPtr<VJSONObject> VJSONClassStore::GetVisibleClassObject(const VString& name, bool ignoreCase) const
{
	StLocker lock(&fLock);
	return _Find(fVisibleClasses, name, ignoreCase);
}

bool VJSONClassStore::EqualClassName(const VString& a, const VString& b, bool ignoreCase) const
{
	return ignoreCase ? a.CompareToStringRawCase(b) == CR_EQUAL : a.EqualToStringRaw(b);
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObjectFromIdentifier(const VString& id) const
{
	const int32 dot = id.FindUniChar(u'.');
	if (dot == 0)
		return GetClassObject(id, false);
	VRefPtr<VJSONClassStore> component = GetComponentClassStore(id.GetSubString(1, dot - 1));
	return component ? component->GetClassObject(id.GetSubString(dot + 1, id.GetLength() - dot), false) : nullptr;
}

VRefPtr<VJSONObject> VJSONClassStore::GetSingletonObjectFromIdentifier(const VString& id,
	VDBLanguageContext* language) const
{
	VRefPtr<VJSONObject> classObject = GetClassObjectFromIdentifier(id);
	const VJSONClass* theClass = ClassOf(classObject.Get());
	return theClass != nullptr ? theClass->GetSingleton(language, nullptr) : nullptr;
}

void VJSONClassStore::GetPublicSharedSingletonIdentifiers(std::vector<VString>& out, const VString& prefix) const
{
	StoreMap components;
	{
		StLocker lock(&fLock);
		for (const auto& entry : fVisibleClasses)
		{
			if (IsSharedSingleton(entry.second.Get()))
			{
				VString id(prefix);
				id.AppendUniChars(entry.first.GetCPointer(), entry.first.GetLength());
				out.push_back(id);
			}
		}
		components = fComponents;
	}
	for (const auto& component : components)
	{
		ClassMap visible;
		component.second->GetVisibleClasses(visible);
		for (const auto& entry : visible)
		{
			if (IsSharedSingleton(entry.second.Get()))
			{
				VString id(component.first);
				id.AppendCString(".");
				id.AppendUniChars(entry.first.GetCPointer(), entry.first.GetLength());
				out.push_back(id);
			}
		}
	}
}

void VJSONClassStore::RemoveObsoleteClasses(
	const std::unordered_map<VString, VRefPtr<IFile>, hasher_VString::hash, hasher_VString::equal_to>& files,
	std::vector<VString>& removed)
{
	std::vector<VRefPtr<VJSONObject>> dropped;
	StLocker lock(&fLock);
	for (auto entry = fClasses.begin(); entry != fClasses.end();)
	{
		const VJSONClass* theClass = ClassOf(entry->second.Get());
		const bool hasFile = theClass != nullptr && theClass->GetFile() != nullptr;
		const bool named = files.find(entry->first) != files.end();
		const bool remove = (hasFile ? !named : named) || (theClass != nullptr && theClass->IsObsolete());
		if (!remove)
		{
			++entry;
			continue;
		}
		if (hasFile)
			removed.push_back(entry->first);
		fVisibleClasses.erase(entry->first);
		dropped.push_back(std::move(entry->second));
		entry = fClasses.erase(entry);
	}
}

void VJSONClassStore::ReleaseSingletons()
{
	// Copied under the store lock, released after it: the lock order is store then singleton, and a
	// singleton's constructor runs under its singleton lock and may take the store lock.
	ClassMap classes;
	GetClasses(classes);
	for (const auto& entry : classes)
	{
		if (VJSONClass* theClass = ClassOf(entry.second.Get()))
			theClass->ReleaseSingleton();
	}
}

EJSONStatus VJSONClassStore::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
	VDBLanguageContext*) const
{
	if (VRefPtr<VJSONObject> classObject = GetClassObject(name, false))
	{
		out = VJSONValue(classObject.Get());
		return eJSONStatusHandled;
	}
	if (VRefPtr<VJSONClassStore> component = GetComponentClassStore(name))
	{
		// A new wrapper at each read.
		VJSONObject* wrapper = new (std::nothrow) VJSONObject(nullptr, component.Get(), false);
		if (wrapper == nullptr)
		{
			_ThrowError(VE_MEMORY_FULL);
			out.SetUndefined();
			return eJSONStatusHandled;
		}
		wrapper->_SetClass(nullptr);
		out.SetObject(wrapper);
		wrapper->Release();
		return eJSONStatusHandled;
	}
	out.SetUndefined();
	return eJSONStatusHandled;
}

EJSONStatus VJSONClassStore::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
	VDBLanguageContext*)
{
	_ThrowError(VE_JSON_STORE_READ_ONLY, &name);
	return eJSONStatusFailed;
}

bool VJSONClassStore::IJSON_Clear(VJSONObject*)
{
	return false;
}

bool VJSONClassStore::IJSON_IsEmpty(const VJSONObject*) const
{
	return false;
}

EJSONStatus VJSONClassStore::IJSON_Stringify(const VJSONObject* object, VJSONWriter&, VString& out,
	uint64* error) const
{
	if (error != nullptr)
		*error = VE_OK;
	return IJSON_GetDescription(object, out);
}

EJSONStatus VJSONClassStore::IJSON_GetPropertyNames(std::vector<VString>& names) const
{
	StLocker lock(&fLock);
	for (const auto& entry : fVisibleClasses)
		names.push_back(entry.first);
	return eJSONStatusHandled;
}

EJSONStatus VJSONClassStore::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out = VString("<<Class Store>>");
	return eJSONStatusHandled;
}

}  // namespace velk
