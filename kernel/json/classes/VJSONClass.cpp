#include "kernel/json/classes/VJSONClass.h"

#include <new>

#include "files/IFile.h"
#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/json/classes/VJSONMemberFunction.h"
#include "kernel/values/VReal.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

const VString sKeyPrototype("__prototype");
const VString sKeyMe("me");
const VString sKeyIsSingleton("isSingleton");
const VString sKeyIsShared("isShared");
const VString sKeyIsSessionSingleton("isSessionSingleton");
const VString sKeyName("name");
const VString sKeySuperclass("superclass");
const VString sKeyFile("__file");
const VString sKeyID("_id");
const VString sKeyInstanceCount("_instanceCount");
const VString sKeyCreationCount("_creationCount");
const VString sKeyProperties("__properties");
const VString sKeyFinal("final");
const VString sKeyHidden("__hidden");
const VString sKeyDescription("_description");
const VString sWordGet("get");
const VString sWordSet("set");
const VString sConstructorName("constructor");

bool IsOneOf(const VString& name, std::initializer_list<const VString*> keywords)
{
	for (const VString* keyword : keywords)
	{
		if (hasher_VString::equal_to()(name, *keyword))
			return true;
	}
	return false;
}

}  // namespace

const VString VJSONClass::sFunctionProperty_local("local");
const VString VJSONClass::sFunctionProperty_exposed("exposed");
const VString VJSONClass::sFunctionProperty_onHTTPGet("onHTTPGet");
const VString VJSONClass::sFunctionProperty_eventName("eventName");
const VString VJSONClass::sFunctionProperty_resultType("resultType");
const VString VJSONClass::sFunctionProperty_resultTypeCode("resultTypeCode");
const VString VJSONClass::sFunctionProperty_resultClass("resultClass");
const VString VJSONClass::sFunctionProperty_shared("shared");
const VString VJSONClass::sClassProperty_singleton("singleton");
const VString VJSONClass::sClassProperty_session("session");
const VString VJSONClass::sClassProperty_aliases("aliases");
const VString VJSONClass::sAliasProperty_name("name");
const VString VJSONClass::sAliasProperty_path("path");
const VString VJSONClass::sClassProperty_properties("properties");
const VString VJSONClass::sClassProperty_property_value("value");
const VString VJSONClass::sClassProperty_property_type("type");
const VString VJSONClass::sClassProperty_property_content("content");
const VString VJSONClass::sFunctionType_init("init");
const VString VJSONClass::sFunctionType_init_withSpace("init ");

std::atomic<uint32> VJSONClass::sSequenceID{0};

VJSONClass::VJSONClass(const VString& name, const VString& nameSpace, VJSONObject* superclassObject,
	VJSONClass* superclass, IFile* file, uint32 flags)
	: fName(name), fNameSpace(nameSpace), fSuperclass(superclass), fSuperclassObject(superclassObject),
	  fFile(file), fFlags((flags & kSessionSingleton) != 0 ? (flags | kShared | kSingleton) : flags)
{
	fDepth = superclass != nullptr ? superclass->fDepth + 1 : 0;
	fLink.Adopt(new (std::nothrow) VJSONClassLink(this));
	fPrototype = _MakeFunctionHolder();
	fInstantiator = (fFlags & (kShared | kSessionSingleton)) != 0 ? &SharedObjectInstantiator : &GenericInstantiator;
	fSequenceID = sSequenceID.fetch_add(1, std::memory_order_relaxed) + 1;
	if (file != nullptr)
		file->GetTimeAttributes(&fModificationTime, nullptr, nullptr);
	else
		VTime::Now(fModificationTime);
}

VJSONClass::~VJSONClass()
{
	if (fLink)
		fLink->_Clear();
	fFile.Clear();
	fReadOnlySetter.Clear();
	fWriteOnlyGetter.Clear();
	fInitializerMap.clear();
	fInitializers.Clear();
	fFunctions.clear();
	fGetterMap.clear();
	fSetterMap.clear();
	fInternalSingleton.Clear();
	fConstructor.Clear();
	fGetters.Clear();
	fSetters.Clear();
	fPrototype.Clear();
	fSuperclassObject.Clear();
}

VRefPtr<VJSONObject> VJSONClass::_MakeFunctionHolder()
{
	VJSONObject* holder = new (std::nothrow) VJSONObject(nullptr, nullptr, true);
	if (holder == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	// Without a class: a holder that were an instance of Object would keep the root classes alive
	// through their own prototypes.
	holder->_SetClass(nullptr);
	if (VRefPtr<VStorageLocker> locker = holder->GetStorageLocker())
	{
		// Established and containers-only, so that storing a function never moves nor refuses it.
		locker->SetEstablished();
		locker->SetContainersOnly(true);
	}
	return VRefPtr<VJSONObject>(holder, true);
}

VJSONObject* VJSONClass::Create(const VString& name, VJSONObject* superclass, IFile* file, const VString& nameSpace,
	uint32 flags)
{
	VJSONClassStore* store = VJSONClassStore::GetProcessStore();
	VRefPtr<VJSONObject> superObject(superclass);
	if (superclass == nullptr && store != nullptr)
		superObject.Set(store->GetRootObjectClass());
	VJSONClass* superClass = nullptr;
	if (superObject)
	{
		superClass = dynamic_cast<VJSONClass*>(superObject->GetImplementation());
		if (superClass == nullptr)
		{
			_ThrowError(VE_JSON_SUPERCLASS_NOT_A_CLASS);
			return nullptr;
		}
	}
	VJSONClass* created = new (std::nothrow) VJSONClass(name, nameSpace, superObject.Get(), superClass, file, flags);
	if (created == nullptr || !created->fPrototype)
	{
		if (created != nullptr)
			created->Release();
		else
			_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONObject* classObject
		= new (std::nothrow) VJSONObject(store != nullptr ? store->GetRootClassClass() : nullptr, created, true);
	// The class object holds the class from now on.
	created->Release();
	if (classObject == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	created->fClassObject = classObject;
	return classObject;
}

VJSONObject* VJSONClass::Create(const VString& name, const std::vector<FunctionDescriptor>& functions,
	VJSONObject* superclass, NativeFunction constructor, Instantiator instantiator, const VString& nameSpace,
	uint32 flags)
{
	VJSONObject* classObject = Create(name, superclass, nullptr, nameSpace, flags);
	if (classObject != nullptr)
		static_cast<VJSONClass*>(classObject->GetImplementation())->SetFunctions(functions, constructor, instantiator);
	return classObject;
}

VJSONClass* VJSONClass::_CreateRootClass(const VString& name, VJSONObject* superclassObject, const VString& nameSpace)
{
	VJSONClass* superclass
		= superclassObject != nullptr ? dynamic_cast<VJSONClass*>(superclassObject->GetImplementation()) : nullptr;
	VJSONClass* created = new (std::nothrow) VJSONClass(name, nameSpace, superclassObject, superclass, nullptr, 0);
	if (created == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return created;
}

void VJSONClass::SetFunctions(const std::vector<FunctionDescriptor>& functions, NativeFunction constructor,
	Instantiator instantiator)
{
	std::vector<std::pair<VString, VRefPtr<VJSONObject>>> objects;
	objects.reserve(functions.size());
	for (const FunctionDescriptor& descriptor : functions)
	{
		const uint32 flags = descriptor.fFlags | ((fFlags & kFinalFunctions) != 0 ? kFunctionFinal : 0);
		VRefPtr<VJSONObject> function(
			VJSONMemberFunction::Create(descriptor.fFunction, descriptor.fName, this, flags), true);
		if (function)
			objects.emplace_back(descriptor.fName, std::move(function));
	}
	VRefPtr<VJSONObject> constructorObject;
	if (constructor != nullptr)
		constructorObject = VJSONMemberFunction::CreateNamed(constructor, sConstructorName, this);
	SetFunctions(objects, constructorObject.Get(), instantiator);
}

void VJSONClass::_AddAccessor(VRefPtr<VJSONObject>& holder, FunctionMap& map, const VString& name, VJSONObject* function)
{
	if (!holder)
		holder = _MakeFunctionHolder();
	if (!holder)
		return;
	bool stored = false;
	{
		VJSONUser user(holder.Get(), false);
		stored = holder->SetProperty(name, VJSONValue(function));
	}
	if (stored)
		map[name] = FunctionEntry{function, holder};
}

VRefPtr<VJSONObject> VJSONClass::_Answer(const VString& name, const FunctionEntry& entry)
{
	if (entry.fHolder.Get() == entry.fFunction)
		return entry.fHolder;
	return entry.fHolder ? entry.fHolder->RetainOwnPropertyObject(name, entry.fFunction) : nullptr;
}

VRefPtr<VJSONObject> VJSONClass::_Answer(const FunctionMap& map, const VString& name)
{
	auto found = map.find(name);
	return found != map.end() ? _Answer(found->first, found->second) : nullptr;
}

void VJSONClass::SetFunctions(const std::vector<std::pair<VString, VRefPtr<VJSONObject>>>& functions,
	VJSONObject* constructor, Instantiator instantiator)
{
	if (fFunctionsDefined)
		return;
	fConstructor.Set(constructor);
	fInstantiator = instantiator;
	if (fSuperclass != nullptr)
	{
		fFunctions = fSuperclass->fFunctions;
		fGetterMap = fSuperclass->fGetterMap;
		fSetterMap = fSuperclass->fSetterMap;
	}
	fFunctions.max_load_factor(1.0f);
	fGetterMap.max_load_factor(1.0f);
	fSetterMap.max_load_factor(1.0f);
	fInitializerMap.max_load_factor(1.0f);
	for (const auto& [name, function] : functions)
	{
		if (!function)
			continue;
		bool stored = false;
		{
			VJSONUser user(fPrototype.Get(), false);
			stored = fPrototype->SetProperty(name, VJSONValue(function.Get()));
		}
		if (stored)
			fFunctions[name] = FunctionEntry{function.Get(), fPrototype};
		const int32 blank = name.FindUniChar(u' ');
		if (blank == 0)
			continue;
		const VString word = name.GetSubString(1, blank - 1);
		const VString property = name.GetSubString(blank + 1, name.GetLength() - blank);
		{
			// The function's own storage: its implementation refuses every write.
			VJSONUser user(function.Get(), false);
			function->SetOwnProperty(sFunctionProperty_eventName, VJSONValue(word));
		}
		if (hasher_VString::equal_to()(word, sWordGet))
			_AddAccessor(fGetters, fGetterMap, property, function.Get());
		else if (hasher_VString::equal_to()(word, sWordSet))
			_AddAccessor(fSetters, fSetterMap, property, function.Get());
		else if (hasher_VString::equal_to()(word, sFunctionType_init))
			_AddAccessor(fInitializers, fInitializerMap, property, function.Get());
	}
	std::vector<VString> getterOnly, setterOnly;
	for (const auto& entry : fGetterMap)
	{
		if (fSetterMap.find(entry.first) == fSetterMap.end())
			getterOnly.push_back(entry.first);
	}
	for (const auto& entry : fSetterMap)
	{
		if (fGetterMap.find(entry.first) == fGetterMap.end())
			setterOnly.push_back(entry.first);
	}
	for (const VString& name : getterOnly)
	{
		if (!fReadOnlySetter)
		{
			VString setterName(sWordSet);
			setterName.AppendCString(" ");
			setterName.AppendUniChars(name.GetCPointer(), name.GetLength());
			fReadOnlySetter.Adopt(
				VJSONMemberFunction::Create(&do_errorReadOnlyAttribute, setterName, this, kFunctionFinal));
		}
		if (fReadOnlySetter)
			fSetterMap[name] = FunctionEntry{fReadOnlySetter.Get(), fReadOnlySetter};
	}
	for (const VString& name : setterOnly)
	{
		if (!fWriteOnlyGetter)
		{
			VString getterName(sWordGet);
			getterName.AppendCString(" ");
			getterName.AppendUniChars(name.GetCPointer(), name.GetLength());
			fWriteOnlyGetter.Adopt(
				VJSONMemberFunction::Create(&do_errorWriteOnlyAttribute, getterName, this, kFunctionFinal));
		}
		if (fWriteOnlyGetter)
			fGetterMap[name] = FunctionEntry{fWriteOnlyGetter.Get(), fWriteOnlyGetter};
	}
	fFunctionsDefined = true;
}

void VJSONClass::_ReleaseFunctions()
{
	fFunctions.clear();
	fGetterMap.clear();
	fSetterMap.clear();
	fInitializerMap.clear();
	fConstructor.Clear();
	fReadOnlySetter.Clear();
	fWriteOnlyGetter.Clear();
	fGetters.Clear();
	fSetters.Clear();
	fInitializers.Clear();
	if (fPrototype)
	{
		VJSONUser user(fPrototype.Get(), false);
		fPrototype->ClearInternalProperties();
	}
}

VRefPtr<VJSONObject> VJSONClass::GetFunction(const VString& name) const
{
	return _Answer(fFunctions, name);
}

VRefPtr<VJSONObject> VJSONClass::GetGetter(const VString& name) const
{
	return _Answer(fGetterMap, name);
}

VRefPtr<VJSONObject> VJSONClass::GetSetter(const VString& name) const
{
	return _Answer(fSetterMap, name);
}

void VJSONClass::GetGetterNames(std::vector<VString>& names) const
{
	for (const auto& entry : fGetterMap)
		names.push_back(entry.first);
}

bool VJSONClass::IsFunctionHidden(VJSONObject* function)
{
	return function != nullptr && function->GetOwnProperty(sKeyHidden).GetBool();
}

bool VJSONClass::IsObsolete() const
{
	// Along the superclass chain in a loop: a chain made in code may be of any length.
	for (const VJSONClass* walked = this; walked != nullptr; walked = walked->fSuperclass)
	{
		if (walked->fMarkedObsolete)
			return true;
		if (walked->fFile)
		{
			StErrorContextInstaller errors(false, true);
			VTime modified;
			if (walked->fFile->GetTimeAttributes(&modified, nullptr, nullptr) != VE_OK)
			{
				if (!walked->fFile->Exists())
					return true;
			}
			else if (walked->fModificationTime < modified)
			{
				return true;
			}
		}
	}
	return false;
}

void VJSONClass::UseClassObject()
{
	fCreationCount.fetch_add(1, std::memory_order_relaxed);
	if (fInstanceCount.fetch_add(1, std::memory_order_acq_rel) == 0 && fClassObject != nullptr)
		fClassObject->Retain();
}

void VJSONClass::UnuseClassObject()
{
	if (fInstanceCount.fetch_sub(1, std::memory_order_acq_rel) == 1 && fClassObject != nullptr)
		fClassObject->Release();
}

EJSONStatus VJSONClass::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
	VDBLanguageContext* context) const
{
	if (hasher_VString::equal_to()(name, sKeyPrototype))
		out = VJSONValue(fPrototype.Get());
	else if ((fFlags & kSingleton) != 0 && hasher_VString::equal_to()(name, sKeyMe))
		out = VJSONValue(GetSingleton(context, nullptr).Get());
	else if (hasher_VString::equal_to()(name, sKeyIsSingleton))
		out = (fFlags & kSingleton) != 0 ? VJSONValue::sTrue : VJSONValue::sFalse;
	else if (hasher_VString::equal_to()(name, sKeyIsSessionSingleton))
		out = (fFlags & kSessionSingleton) != 0 ? VJSONValue::sTrue : VJSONValue::sFalse;
	else if (hasher_VString::equal_to()(name, sKeyIsShared))
		out = (fFlags & kShared) != 0 ? VJSONValue::sTrue : VJSONValue::sFalse;
	else if (hasher_VString::equal_to()(name, sKeyName))
		out = VJSONValue(fName);
	else if (hasher_VString::equal_to()(name, sKeySuperclass))
		out = VJSONValue(fSuperclassObject.Get());
	else if (hasher_VString::equal_to()(name, sKeyFile))
		out = fFile ? VJSONValue(fFile->GetPathWithFileSystem()) : VJSONValue(JSON_undefined);
	else if (hasher_VString::equal_to()(name, sKeyID))
		out = VJSONValue(double(fSequenceID));
	else if (hasher_VString::equal_to()(name, sKeyInstanceCount))
		out = VJSONValue(double(GetInstanceCount()));
	else if (hasher_VString::equal_to()(name, sKeyCreationCount))
		out = VJSONValue(double(GetCreationCount()));
	else
		return eJSONStatusNotHandled;
	return eJSONStatusHandled;
}

EJSONStatus VJSONClass::IJSON_GetPropertyNames(std::vector<VString>& names) const
{
	names.push_back(sKeyName);
	names.push_back(sKeySuperclass);
	names.push_back(sKeyIsSingleton);
	names.push_back(sKeyIsShared);
	names.push_back(sKeyIsSessionSingleton);
	return eJSONStatusHandled;
}

EJSONStatus VJSONClass::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out = VString("Class: ");
	out.AppendUniChars(fName.GetCPointer(), fName.GetLength());
	return eJSONStatusHandled;
}

EJSONStatus VJSONClass::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue& value,
	VDBLanguageContext*)
{
	if (hasher_VString::equal_to()(name, sKeyCreationCount))
	{
		// The conversion of every real to an integer: NaN gives 0, out-of-range values saturate; a
		// counter does not go below 0.
		const int64 count = VReal::RealToLong8(value.GetNumber());
		fCreationCount.store(count > 0 ? uint64(count) : 0, std::memory_order_relaxed);
		return eJSONStatusHandled;
	}
	if (IsOneOf(name, {&sKeyPrototype, &sKeyName, &sKeySuperclass, &sKeyFile, &sKeyProperties, &sKeyIsSingleton,
			&sKeyMe, &sKeyIsShared, &sKeyIsSessionSingleton, &sKeyID, &sKeyInstanceCount}))
	{
		_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
		return eJSONStatusFailed;
	}
	return eJSONStatusNotHandled;
}

EJSONStatus VJSONClass::IJSON_RemoveProperty(VJSONObject*, const VString& name)
{
	if (IsOneOf(name, {&sKeyPrototype, &sKeyName, &sKeySuperclass, &sKeyFile, &sKeyProperties, &sKeyIsSingleton,
			&sKeyMe, &sKeyIsShared}))
	{
		_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
		return eJSONStatusFailed;
	}
	return eJSONStatusNotHandled;
}

EJSONStatus VJSONClass::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, uint64*) const
{
	return eJSONStatusFailed;
}

EJSONStatus VJSONClass::do_errorReadOnlyAttribute(const VJSONObject*, IJSONFunctionContext*)
{
	_ThrowError(VE_JSON_CLASS_READ_ONLY);
	return eJSONStatusFailed;
}

EJSONStatus VJSONClass::do_errorWriteOnlyAttribute(const VJSONObject*, IJSONFunctionContext* context)
{
	if (context != nullptr)
		context->SetResult(VJSONValue::sUndefined, 5);
	return eJSONStatusHandled;
}

EJSONStatus VJSONClass::do_errorOverridingFinalFunction(const VJSONObject* function, IJSONFunctionContext*)
{
	if (function != nullptr && function->GetImplementation() != nullptr)
	{
		const VJSONValue description = function->GetProperty(sKeyDescription);
		const VString text = description.IsString() ? description.GetString() : VString();
		_ThrowError(VE_JSON_FINAL_FUNCTION, &text);
	}
	return eJSONStatusFailed;
}

// Class identifiers.

namespace {

const VString sPrefixRy("Ry");
const VString sPrefixCS("cs");
const VString sProcessNameSpace("ry");

bool SplitAtDot(const VString& text, VString& before, VString& after)
{
	const int32 dot = text.FindUniChar(u'.');
	if (dot == 0)
		return false;
	before = text.GetSubString(1, dot - 1);
	after = text.GetSubString(dot + 1, text.GetLength() - dot);
	return true;
}

bool IsPrefix(const VString& text, const VString& prefix)
{
	return text.CompareToStringRawCase(prefix) == CR_EQUAL;
}

}  // namespace

VRefPtr<VJSONObject> VJSONClass::GetClassObjectFromID(VJSONClassStore* store, const VString& id)
{
	if (store == nullptr || id.IsEmpty())
		return nullptr;
	VString prefix, rest;
	if (!SplitAtDot(id, prefix, rest))
		return store->GetClassObject(id, false);
	if (IsPrefix(prefix, sPrefixRy))
	{
		VJSONClassStore* processStore = VJSONClassStore::GetProcessStore();
		return processStore != nullptr ? processStore->GetClassObject(rest, false) : nullptr;
	}
	if (IsPrefix(prefix, sPrefixCS))
	{
		VString component, name;
		if (!SplitAtDot(rest, component, name))
			return store->GetClassObject(rest, false);
		VRefPtr<VJSONClassStore> componentStore = store->GetComponentClassStore(component);
		return componentStore ? componentStore->GetClassObject(name, false) : nullptr;
	}
	VRefPtr<VJSONClassStore> componentStore = store->GetComponentClassStore(prefix);
	return componentStore ? componentStore->GetClassObject(rest, false) : nullptr;
}

bool VJSONClass::MatchClassID(VJSONClassStore* store, const VString& id) const
{
	if (id.IsEmpty())
		return true;
	VString prefix, rest;
	if (!SplitAtDot(id, prefix, rest))
		return store != nullptr && _MatchClassID(store->GetName(), id);
	if (IsPrefix(prefix, sPrefixRy))
		return _MatchClassID(sProcessNameSpace, rest);
	if (store == nullptr)
		return false;
	if (IsPrefix(prefix, sPrefixCS))
	{
		VString component, name;
		if (!SplitAtDot(rest, component, name))
			return _MatchClassID(store->GetName(), rest);
		VRefPtr<VJSONClassStore> componentStore = store->GetComponentClassStore(component);
		return componentStore && _MatchClassID(componentStore->GetName(), name);
	}
	VRefPtr<VJSONClassStore> componentStore = store->GetComponentClassStore(prefix);
	return componentStore && _MatchClassID(componentStore->GetName(), rest);
}

bool VJSONClass::_MatchClassID(const VString& nameSpace, const VString& name) const
{
	for (const VJSONClass* walked = this; walked != nullptr; walked = walked->fSuperclass)
	{
		if (walked->fNameSpace.EqualToStringRaw(nameSpace) && walked->fName.EqualToStringRaw(name))
			return true;
	}
	return false;
}

}  // namespace velk
