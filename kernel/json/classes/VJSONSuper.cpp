#include "kernel/json/classes/VJSONSuper.h"

#include <new>

#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"

namespace velk {

namespace {

// A classless unshared object over implementation, which it takes over.
VJSONObject* WrapImplementation(IJSONObject* implementation)
{
	if (implementation == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONObject* object = new (std::nothrow) VJSONObject(nullptr, implementation, false);
	implementation->Release();
	if (object == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	else
		object->_SetClass(nullptr);
	return object;
}

EJSONStatus CloneInto(VJSONObject* copy, VJSONValue& out)
{
	if (copy == nullptr)
		return eJSONStatusFailed;
	out.SetObject(copy);
	copy->Release();
	return eJSONStatusHandled;
}

}  // namespace

VJSONObject* VJSONSuper::CreateObject()
{
	return WrapImplementation(new (std::nothrow) VJSONSuper);
}

EJSONStatus VJSONSuper::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
	VDBLanguageContext*) const
{
	VJSONObject* member = VJSONSuperMember::CreateObject(name);
	if (member == nullptr)
		return eJSONStatusFailed;
	out.SetObject(member);
	member->Release();
	return eJSONStatusHandled;
}

EJSONStatus VJSONSuper::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*)
{
	_ThrowError(VE_JSON_STORE_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONSuper::IJSON_RemoveProperty(VJSONObject*, const VString& name)
{
	_ThrowError(VE_JSON_STORE_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONSuper::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, uint64*) const
{
	return CloneInto(CreateObject(), out);
}

EJSONStatus VJSONSuper::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out = VString("<<Super>>");
	return eJSONStatusHandled;
}

VJSONObject* VJSONSuperMember::CreateObject(const VString& name)
{
	return WrapImplementation(new (std::nothrow) VJSONSuperMember(name));
}

EJSONStatus VJSONSuperMember::IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* context)
{
	VJSONObject* thisObject = context != nullptr ? context->GetScopeThisObject() : nullptr;
	const VJSONClass* scope = context != nullptr ? context->GetScopeClass() : nullptr;
	if (scope == nullptr)
	{
		_ThrowError(VE_JSON_NO_SCOPE_CLASS, &fName);
		return eJSONStatusFailed;
	}
	VJSONValue found;
	for (const VJSONClass* walked = scope->GetSuperclass(); found.IsUndefined(); walked = walked->GetSuperclass())
	{
		if (walked == nullptr || walked->GetPrototype() == nullptr)
		{
			_ThrowError(VE_JSON_NOT_A_FUNCTION, &fName);
			return eJSONStatusFailed;
		}
		found = walked->GetPrototype()->GetProperty(fName);
	}
	VJSONObject* function = found.GetObject();
	if (function == nullptr || function->GetImplementation() == nullptr)
	{
		_ThrowError(VE_JSON_SUPER_NOT_CALLABLE, &fName);
		return eJSONStatusFailed;
	}
	VJSONFunctionContext child(thisObject, nullptr, context);
	return function->GetImplementation()->IJSON_CallAsFunction(function, &child);
}

EJSONStatus VJSONSuperMember::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
	VDBLanguageContext*)
{
	_ThrowError(VE_JSON_STORE_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONSuperMember::IJSON_RemoveProperty(VJSONObject*, const VString& name)
{
	_ThrowError(VE_JSON_STORE_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONSuperMember::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, uint64*) const
{
	return CloneInto(CreateObject(fName), out);
}

EJSONStatus VJSONSuperMember::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out = VString("<<Super member: ");
	out.AppendUniChars(fName.GetCPointer(), fName.GetLength());
	out.AppendCString(">>");
	return eJSONStatusHandled;
}

}  // namespace velk
