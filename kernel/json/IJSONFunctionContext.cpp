#include "kernel/json/IJSONFunctionContext.h"

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONBlob.h"
#include "kernel/values/VReal.h"

namespace velk {

void IJSONFunctionContext::_InvalidParam(VError error) const
{
	fParamsValid = false;
	if (error != VE_OK)
		_ThrowError(error);
}

EJSONStatus IJSONFunctionContext::GetParameterList(void**, int*, void**, bool*)
{
	return eJSONStatusNotHandled;
}

VJSONBlobView IJSONFunctionContext::GetBlobParam(int index, bool optional) const
{
	const VJSONValue value = GetParam(index);
	if (const VJSONBlob* blob = VJSONBlob::CastJSONObject(value.GetObject()))
		return VJSONBlobView{true, blob->GetData(), size_t(blob->GetSize())};
	if (!optional)
		_InvalidParam(VE_JSON_CONTAINER_EXPECTED);
	return VJSONBlobView();
}

double IJSONFunctionContext::GetNumberParam(int index) const
{
	const VJSONValue value = GetParam(index);
	if (!value.IsNumber())
		_InvalidParam(VE_JSON_NUMBER_EXPECTED);
	return value.GetNumber();
}

bool IJSONFunctionContext::GetNumberOptParam(int index, double* out) const
{
	const VJSONValue value = GetParam(index);
	if (!value.IsNumber())
	{
		_InvalidParam(value.IsUndefined() ? VE_OK : VE_JSON_NUMBER_EXPECTED);
		return false;
	}
	if (out != nullptr)
		*out = value.GetNumber();
	return true;
}

int32 IJSONFunctionContext::GetLongParam(int index) const
{
	// NaN and numbers beyond 32 bits convert as every real-to-integer conversion of the value kinds does.
	return VReal::RealToLong(GetNumberParam(index));
}

bool IJSONFunctionContext::GetBoolParam(int index) const
{
	const VJSONValue value = GetParam(index);
	switch (value.GetType())
	{
		case JSON_true:
			return true;
		case JSON_false:
			return false;
		default:
			break;
	}
	_InvalidParam(VE_JSON_BOOLEAN_EXPECTED);
	switch (value.GetType())
	{
		case JSON_string:
		{
			int32 length = 0;
			value._GetStringUnits(length);
			return length > 0;
		}
		case JSON_number:
			return value.GetNumber() != 0.0;
		case JSON_object:
		case JSON_array:
			return true;
		case JSON_date:
			return value.GetBool();
		default:
			return false;
	}
}

VString IJSONFunctionContext::GetStringParam(int index) const
{
	const VJSONValue value = GetParam(index);
	if (!value.IsString())
	{
		_InvalidParam(VE_JSON_STRING_EXPECTED);
		return VString();
	}
	return value.GetString();
}

VJSONObject* IJSONFunctionContext::GetObjectParam(int index) const
{
	VJSONObject* object = GetParam(index).RetainObject();
	if (object == nullptr)
		_InvalidParam(VE_JSON_CONTAINER_EXPECTED);
	return object;
}

VJSONArray* IJSONFunctionContext::GetArrayParam(int index) const
{
	VJSONArray* array = GetParam(index).RetainArray();
	if (array == nullptr)
		_InvalidParam(VE_JSON_CONTAINER_EXPECTED);
	return array;
}

VJSONClass* IJSONFunctionContext::GetScopeClass() const
{
	VJSONObject* function = GetScopeFunctionObject();
	if (function == nullptr || function->GetImplementation() == nullptr)
		return nullptr;
	return function->GetImplementation()->IJSON_GetFunctionClassOwner(function);
}

}  // namespace velk
