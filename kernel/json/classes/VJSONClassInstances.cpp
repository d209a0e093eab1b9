// The instance side of VJSONClass: instantiators, construction along the superclass chain with its
// super() rule, and singletons.
#include "kernel/json/classes/VJSONClass.h"

#include <new>

#include "kernel/json/VJSONFunctionContext.h"
#include "runtime/VTaskMgr.h"

namespace velk {

namespace {

const VString sKeyConstant("constant");

VJSONClass* ClassOf(const VJSONObject* classObject)
{
	return classObject != nullptr ? dynamic_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr;
}

}  // namespace

VJSONObject* VJSONClass::GenericInstantiator(VJSONObject* classObject, IJSONFunctionContext*)
{
	VJSONObject* instance = new (std::nothrow) VJSONObject(classObject, nullptr, false);
	if (instance == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return instance;
}

VJSONObject* VJSONClass::SharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext*)
{
	VJSONObject* instance = new (std::nothrow) VJSONObject(classObject, nullptr, true);
	if (instance == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return instance;
}

VJSONObject* VJSONClass::ErrorSharedObjectInstantiator(VJSONObject*, IJSONFunctionContext*)
{
	_ThrowError(VE_JSON_NO_SHARED_INSTANCES);
	return nullptr;
}

bool VJSONClass::_MakeOneInstance(VJSONObject* classObject, IJSONFunctionContext* context, VRefPtr<VJSONObject>& out) const
{
	if (!fFunctionsDefined)
		return false;
	if (fInstantiator == nullptr)
	{
		_ThrowError(VE_JSON_NO_INSTANTIATOR, &fName);
		return false;
	}
	out.Adopt(fInstantiator(classObject, context));
	if (!out)
		return false;
	ConstructInstance(out.Get(), context);
	return true;
}

VJSONObject* VJSONClass::CreateInstance(VJSONObject* classObject, IJSONFunctionContext* context) const
{
	VRefPtr<VJSONObject> instance;
	_MakeOneInstance(classObject, context, instance);
	return instance.Forget();
}

VRefPtr<VJSONObject> VJSONClass::CreateInstanceFromClassObject(VJSONObject* classObject, VDBLanguageContext* language,
	std::vector<VJSONValue>*)
{
	VRefPtr<VJSONObject> instance;
	if (const VJSONClass* theClass = ClassOf(classObject))
	{
		// The parameters are not handed to the constructor: construction runs with an empty list.
		VJSONFunctionContext context(nullptr, nullptr, nullptr, nullptr, language);
		theClass->_MakeOneInstance(classObject, &context, instance);
	}
	return instance;
}

void VJSONClass::ConstructInstance(VJSONObject* instance, IJSONFunctionContext* context) const
{
	std::vector<const VJSONClass*> chain;
	for (const VJSONClass* walked = this; walked != nullptr; walked = walked->fSuperclass)
		chain.push_back(walked);
	// From the root end, the classes before the first one with a constructor are constructed already.
	uint32 depth = 0;
	for (auto walked = chain.rbegin(); walked != chain.rend() && !(*walked)->fConstructor; ++walked)
		++depth;
	instance->_SetUnderConstruction(true);
	instance->_SetClassKind(depth);
	_InitProperties(instance, context);
	for (const VJSONClass* walked : chain)
	{
		if (walked->fConstructor)
		{
			walked->CallConstructor(instance, context);
			break;
		}
	}
	instance->_SetClassKind(uint32(fDepth));
	instance->_SetUnderConstruction(false);
}

EJSONStatus VJSONClass::_InitProperties(VJSONObject* instance, IJSONFunctionContext* context) const
{
	if ((fFlags & kShared) != 0)
	{
		VJSONUser user(instance, false);
		return _CallProperties(instance, context);
	}
	return _CallProperties(instance, context);
}

EJSONStatus VJSONClass::_CallProperties(VJSONObject* instance, IJSONFunctionContext* context) const
{
	CDBRyBaseContext* base = context != nullptr ? context->GetBaseContext() : nullptr;
	VDBLanguageContext* language = context != nullptr ? context->GetLanguageContext() : nullptr;
	for (const auto& [name, entry] : fInitializerMap)
	{
		// An initializer its holder no longer owns is gone.
		const VRefPtr<VJSONObject> definition = _Answer(name, entry);
		if (!definition)
			continue;
		if (definition->GetImplementation() != nullptr)
		{
			std::vector<VJSONValue> noParameters;
			VJSONFunctionContext call(nullptr, nullptr, &noParameters, base, language);
			const EJSONStatus status = definition->GetImplementation()->IJSON_CallAsFunction(instance, &call);
			if (status != eJSONStatusHandled)
				return status;
			VJSONValue result;
			call.GetResult(result);
			if (instance->GetStorageLocker())
				instance->MakeValueSharedIfNecessary(result);
			instance->SetProperty(name, result, language);
		}
		else
		{
			instance->SetProperty(name, definition->GetProperty(sKeyConstant), language);
		}
	}
	return eJSONStatusHandled;
}

EJSONStatus VJSONClass::CallConstructor(VJSONObject* instance, IJSONFunctionContext* context) const
{
	if (!fConstructor || fConstructor->GetImplementation() == nullptr)
		return eJSONStatusNotHandled;
	VJSONFunctionContext call(instance, nullptr, context);
	call.SetResultIsExpected(false);
	const EJSONStatus status = fConstructor->GetImplementation()->IJSON_CallAsFunction(fConstructor.Get(), &call);
	if (status != eJSONStatusHandled)
		return status;
	// super() was honoured when the classes above the constructed depth have no constructor left to run.
	for (const VJSONClass* walked = this; walked != nullptr; walked = walked->fSuperclass)
	{
		if (uint32(walked->fDepth) <= instance->GetClassKind())
			return eJSONStatusHandled;
		if (walked->fSuperclass != nullptr && walked->fSuperclass->fConstructor)
		{
			_ThrowError(VE_JSON_SUPER_NOT_CALLED, &fName);
			return eJSONStatusFailed;
		}
	}
	return eJSONStatusHandled;
}

EJSONStatus VJSONClass::CallSuperConstructor(IJSONFunctionContext* context)
{
	VJSONObject* instance = context != nullptr ? context->GetThisObject() : nullptr;
	const VJSONClass* scope = context != nullptr ? context->GetScopeClass() : nullptr;
	if (scope == nullptr || scope->fDepth == 0 || instance == nullptr)
	{
		_ThrowError(VE_JSON_SUPER_OUTSIDE_CONSTRUCTOR);
		return eJSONStatusFailed;
	}
	if (uint32(scope->fDepth) > instance->GetClassKind())
	{
		for (const VJSONClass* walked = scope;
			walked->fSuperclass != nullptr && uint32(walked->fDepth) > instance->GetClassKind();)
		{
			walked = walked->fSuperclass;
			walked->_InitProperties(instance, context);
			const EJSONStatus status = walked->CallConstructor(instance, context);
			if (status != eJSONStatusNotHandled)
			{
				instance->_SetClassKind(uint32(scope->fDepth));
				return status;
			}
		}
		instance->_SetClassKind(uint32(scope->fDepth));
		return eJSONStatusNotHandled;
	}
	const VJSONClass* instanceClass = ClassOf(instance->GetClassObject());
	if ((instanceClass != nullptr && instance->GetClassKind() != uint32(instanceClass->fDepth))
		|| instance->IsUnderConstruction())
	{
		if (scope->fSuperclass != nullptr)
			scope->fSuperclass->_InitProperties(instance, context);
		return eJSONStatusHandled;
	}
	_ThrowError(VE_JSON_SUPER_OUTSIDE_CONSTRUCTOR);
	return eJSONStatusFailed;
}

uint64 VJSONClass::FinalizeInstance(VJSONObject* instance)
{
	const VJSONClass* theClass = instance != nullptr ? ClassOf(instance->GetClassObject()) : nullptr;
	if (theClass == nullptr)
		return VE_OK;
	instance->_SetClassKind(uint32(theClass->fDepth));
	for (const VJSONClass* walked = theClass; walked != nullptr; walked = walked->fSuperclass)
	{
		if (walked->fConstructor)
		{
			_ThrowError(VE_JSON_CONSTRUCTOR_NOT_RUN, &walked->fName);
			return VE_JSON_CONSTRUCTOR_NOT_RUN;
		}
	}
	return VE_OK;
}

uint64 VJSONClass::FinalizeInstanceAllowingConstructor(VJSONObject* instance)
{
	if (const VJSONClass* theClass = instance != nullptr ? ClassOf(instance->GetClassObject()) : nullptr)
		instance->_SetClassKind(uint32(theClass->fDepth));
	return VE_OK;
}

EJSONStatus VJSONClass::do_new(const VJSONObject*, IJSONFunctionContext* context)
{
	if (context == nullptr)
		return eJSONStatusFailed;
	VJSONObject* classObject = context->GetThisObject();
	VRefPtr<VJSONObject> instance;
	if (const VJSONClass* theClass = ClassOf(classObject))
	{
		if ((theClass->fFlags & kSingleton) != 0)
			instance = theClass->GetSingleton(context->GetLanguageContext(), context);
		else
			theClass->_MakeOneInstance(classObject, context, instance);
	}
	context->SetResult(instance ? VJSONValue(instance.Get()) : VJSONValue(JSON_null), 5);
	return eJSONStatusHandled;
}

VRefPtr<VJSONObject> VJSONClass::GetSingleton(VDBLanguageContext* language, IJSONFunctionContext* context) const
{
	if ((fFlags & kSingleton) == 0)
		return nullptr;
	if ((fFlags & kShared) != 0 && (fFlags & kSessionSingleton) == 0)
		return GetInternalSingleton(language, context);
	// Session and unshared singletons are served by a host, and this process has none.
	return nullptr;
}

VRefPtr<VJSONObject> VJSONClass::_MakeSingleton(VDBLanguageContext* language, IJSONFunctionContext* context) const
{
	VRefPtr<VJSONObject> instance;
	if (context != nullptr)
	{
		_MakeOneInstance(fClassObject, context, instance);
	}
	else
	{
		VJSONFunctionContext root(fClassObject, nullptr, nullptr, nullptr, language);
		_MakeOneInstance(fClassObject, &root, instance);
	}
	return instance;
}

VRefPtr<VJSONObject> VJSONClass::GetInternalSingleton(VDBLanguageContext* language, IJSONFunctionContext* context) const
{
	// Read and retained under the lock: a release running at the same time would free it otherwise.
	StLocker lock(&fSingletonLock);
	if (fInternalSingleton)
		return fInternalSingleton;
	const VTaskID caller = VTaskMgr::GetCurrentLockOwnerID();
	// The constructor of the singleton asks for its own singleton: it does not exist yet.
	if (fSingletonMaker == caller)
		return nullptr;
	fSingletonMaker = caller;
	fInternalSingleton = _MakeSingleton(language, context);
	fSingletonMaker = 0;
	return fInternalSingleton;
}

void VJSONClass::ReleaseSingleton()
{
	VRefPtr<VJSONObject> released;
	{
		StLocker lock(&fSingletonLock);
		released = std::move(fInternalSingleton);
	}
	// Released outside the lock: the instance's destruction may reach back into classes.
}

VRefPtr<VJSONObject> GetSingletonFromMap(std::map<const VJSONClass*, VRefPtr<VJSONObject>>& map,
	const VJSONClass* theClass, VDBLanguageContext* language, IJSONFunctionContext* context)
{
	if (theClass == nullptr)
		return nullptr;
	auto found = map.find(theClass);
	if (found != map.end())
		return found->second;
	VRefPtr<VJSONObject> instance;
	if (context != nullptr)
	{
		instance.Adopt(theClass->CreateInstance(theClass->GetClassObject(), context));
	}
	else
	{
		VJSONFunctionContext root(theClass->GetClassObject(), nullptr, nullptr, nullptr, language);
		instance.Adopt(theClass->CreateInstance(theClass->GetClassObject(), &root));
	}
	map.emplace(theClass, instance);
	return instance;
}

}  // namespace velk
