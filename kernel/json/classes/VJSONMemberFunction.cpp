#include "kernel/json/classes/VJSONMemberFunction.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/classes/VJSONClassStore.h"

namespace velk {

namespace {

const VString sKeyDescription("_description");
const VString sKeyFinal("final");
const VString sKeyHidden("__hidden");

VJSONObject* RootFunctionClass()
{
	VJSONClassStore* store = VJSONClassStore::GetProcessStore();
	return store != nullptr ? store->GetRootFunctionClass() : nullptr;
}

// Where this argument goes: an array is the this array, an object the this object.
void SplitThisArgument(const VJSONValue& argument, VJSONObject*& thisObject, VJSONArray*& thisArray)
{
	thisObject = argument.GetObject();
	thisArray = argument.GetArray();
}

}  // namespace

VJSONMemberFunction::VJSONMemberFunction(VJSONClass::NativeFunction function, const VString& name, VJSONClass* owner)
	: fFunction(function), fName(name), fOwner(owner != nullptr ? owner->_GetLink() : nullptr)
{
}

VJSONClass* VJSONMemberFunction::IJSON_GetFunctionClassOwner(const VJSONObject*) const
{
	return fOwner ? fOwner->GetClass() : nullptr;
}

VJSONObject* VJSONMemberFunction::_MakeObject(VJSONMemberFunction* implementation)
{
	if (implementation == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONObject* object = new (std::nothrow) VJSONObject(RootFunctionClass(), implementation, true);
	implementation->Release();
	if (object == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return object;
}

VJSONObject* VJSONMemberFunction::Create(VJSONClass::NativeFunction function, const VString& name, VJSONClass* owner,
	uint32 flags)
{
	VString fullName;
	if (owner != nullptr)
	{
		fullName = owner->GetName();
		fullName.AppendCString(".");
	}
	fullName.AppendUniChars(name.GetCPointer(), name.GetLength());
	VJSONObject* object = _MakeObject(new (std::nothrow) VJSONMemberFunction(function, fullName, owner));
	if (object != nullptr && (flags & (VJSONClass::kFunctionFinal | VJSONClass::kFunctionHidden)) != 0)
	{
		// Own storage: the implementation refuses every write made through SetProperty.
		VJSONUser user(object, false);
		if ((flags & VJSONClass::kFunctionFinal) != 0)
			object->SetOwnProperty(sKeyFinal, VJSONValue::sTrue);
		if ((flags & VJSONClass::kFunctionHidden) != 0)
			object->SetOwnProperty(sKeyHidden, VJSONValue::sTrue);
	}
	return object;
}

VRefPtr<VJSONObject> VJSONMemberFunction::CreateNamed(VJSONClass::NativeFunction function, const VString& name,
	VJSONClass* owner)
{
	return VRefPtr<VJSONObject>(_MakeObject(new (std::nothrow) VJSONMemberFunction(function, name, owner)), true);
}

EJSONStatus VJSONMemberFunction::IJSON_CallAsFunction(const VJSONObject* object, IJSONFunctionContext* context)
{
	return fFunction != nullptr ? fFunction(object, context) : eJSONStatusNotHandled;
}

EJSONStatus VJSONMemberFunction::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
	VDBLanguageContext*) const
{
	if (!hasher_VString::equal_to()(name, sKeyDescription))
		return eJSONStatusNotHandled;
	out = VJSONValue(fName);
	return eJSONStatusHandled;
}

EJSONStatus VJSONMemberFunction::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
	VDBLanguageContext*)
{
	_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONMemberFunction::IJSON_RemoveProperty(VJSONObject*, const VString& name)
{
	_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
	return eJSONStatusFailed;
}

bool VJSONMemberFunction::IJSON_Clear(VJSONObject*)
{
	return false;
}

bool VJSONMemberFunction::IJSON_IsEmpty(const VJSONObject*) const
{
	return false;
}

EJSONStatus VJSONMemberFunction::IJSON_Stringify(const VJSONObject* object, VJSONWriter&, VString& out,
	uint64* error) const
{
	if (error != nullptr)
		*error = VE_OK;
	return IJSON_GetDescription(object, out);
}

EJSONStatus VJSONMemberFunction::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& out,
	bool* outShared, uint64* error) const
{
	VJSONMemberFunction* copy = new (std::nothrow) VJSONMemberFunction(fFunction, fName, nullptr);
	if (copy == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		if (error != nullptr)
			*error = VE_MEMORY_FULL;
		return eJSONStatusFailed;
	}
	out.Adopt(copy);
	if (outShared != nullptr)
		*outShared = true;
	return eJSONStatusHandled;
}

EJSONStatus VJSONMemberFunction::IJSON_GetPropertyNames(std::vector<VString>&) const
{
	return eJSONStatusNotHandled;
}

EJSONStatus VJSONMemberFunction::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out = VString("<<Native Function: ");
	out.AppendUniChars(fName.GetCPointer(), fName.GetLength());
	out.AppendCString(" >>");
	return eJSONStatusHandled;
}

EJSONStatus VJSONMemberFunction::do_apply(const VJSONObject*, IJSONFunctionContext* context)
{
	VJSONObject* function = context != nullptr ? context->GetThisObject() : nullptr;
	if (function == nullptr || function->GetImplementation() == nullptr)
	{
		_ThrowError(VE_JSON_NOT_A_FUNCTION);
		if (context != nullptr)
			context->SetResult(VJSONValue::sUndefined, 5);
		return eJSONStatusFailed;
	}
	const VJSONValue thisArgument = context->GetParam(1);
	const VJSONValue arguments = context->GetParam(2);
	std::vector<VJSONValue> parameters;
	if (const VJSONArray* array = arguments.GetArray())
	{
		for (size_t i = 0, count = array->GetCount(); i < count; ++i)
			parameters.push_back(array->GetAt(i));
	}
	VJSONObject* thisObject = nullptr;
	VJSONArray* thisArray = nullptr;
	SplitThisArgument(thisArgument, thisObject, thisArray);
	VJSONFunctionContext inner(thisObject, thisArray, &parameters, context->GetBaseContext(),
		context->GetLanguageContext());
	const EJSONStatus status = function->GetImplementation()->IJSON_CallAsFunction(function, &inner);
	VJSONValue result;
	inner.GetResult(result);
	context->SetResult(result, inner.GetResultLegacyValueKind());
	if (status == eJSONStatusNotHandled)
		_ThrowError(VE_JSON_NOT_A_FUNCTION);
	return status;
}

EJSONStatus VJSONMemberFunction::do_call(const VJSONObject*, IJSONFunctionContext* context)
{
	VJSONObject* function = context != nullptr ? context->GetThisObject() : nullptr;
	if (function == nullptr || function->GetImplementation() == nullptr)
	{
		_ThrowError(VE_JSON_NOT_A_FUNCTION);
		return eJSONStatusFailed;
	}
	std::vector<VJSONValue>* given = nullptr;
	EJSONStatus status = context->GetParametersAsJSONValues(&given);
	if (status != eJSONStatusHandled)
	{
		if (status == eJSONStatusNotHandled)
			_ThrowError(VE_JSON_NOT_A_FUNCTION);
		return status;
	}
	if (given == nullptr || given->empty())
	{
		// The function sees the caller's parameters and result.
		VJSONFunctionContext child(nullptr, nullptr, context);
		status = function->GetImplementation()->IJSON_CallAsFunction(function, &child);
	}
	else
	{
		VJSONObject* thisObject = nullptr;
		VJSONArray* thisArray = nullptr;
		SplitThisArgument((*given)[0], thisObject, thisArray);
		// Held for the call: the this argument may be the only reference the parameters had.
		const VJSONValue thisArgument = (*given)[0];
		std::vector<VJSONValue> parameters(given->begin() + 1, given->end());
		VJSONFunctionContext inner(thisObject, thisArray, &parameters, context->GetBaseContext(),
			context->GetLanguageContext());
		status = function->GetImplementation()->IJSON_CallAsFunction(function, &inner);
		VJSONValue result;
		inner.GetResult(result);
		context->SetResult(result, inner.GetResultLegacyValueKind());
	}
	if (status == eJSONStatusNotHandled)
		_ThrowError(VE_JSON_NOT_A_FUNCTION);
	return status;
}

bool IsObjectAFormula(const VJSONObject* object)
{
	if (object == nullptr)
		return false;
	VJSONObject* functionClass = RootFunctionClass();
	if (functionClass == nullptr)
		return false;
	VJSONClass* theClass = dynamic_cast<VJSONClass*>(functionClass->GetImplementation());
	return theClass != nullptr && object->IsInstanceOf(theClass);
}

bool IsObjectAFormula(const VJSONValue& value)
{
	return IsObjectAFormula(value.GetObject());
}

}  // namespace velk
