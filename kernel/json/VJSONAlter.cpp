#include "kernel/json/VJSONAlter.h"

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/values/VTime.h"

namespace velk {

void VJSONAlter::_MakeObjIfNecessary(VJSONValue& value)
{
	if (value.GetObject() == nullptr)
		value = VJSONValue(JSON_object);
}

bool VJSONAlter::_Set(VJSONValue& value, const VString& path, const VJSONValue& newValue)
{
	_MakeObjIfNecessary(value);
	// No object when memory is short: the value is then null and the edit is dropped.
	VJSONObject* object = value.GetObject();
	return object != nullptr && object->SetPropertyWithPath(path, newValue, nullptr);
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, bool flag)
{
	_Set(value, path, flag ? VJSONValue::sTrue : VJSONValue::sFalse);
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, int32 number)
{
	_Set(value, path, VJSONValue(double(number)));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, double number)
{
	_Set(value, path, VJSONValue(number));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const VString& text)
{
	_Set(value, path, VJSONValue(text));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const char* text)
{
	_Set(value, path, VJSONValue(VString(text)));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const UniChar* text)
{
	_Set(value, path, VJSONValue(VString(text)));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const VJSONValue& newValue)
{
	_Set(value, path, newValue);
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, JSONType type, VJSONArray** outArray)
{
	const VJSONValue newValue(type);
	const bool stored = _Set(value, path, newValue);
	if (outArray != nullptr)
		*outArray = stored ? newValue.GetArray() : nullptr;
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& path, const VTime& time)
{
	VString text;
	time.GetJSONString(text, 0);
	_Set(value, path, VJSONValue(text));
}

VJSONAlter::VJSONAlter(VJSONValue& value, const VString& name)
{
	if (VJSONObject* object = value.GetObject())
		object->RemoveProperty(name);
}

VJSONAlter::VJSONAlter(VJSONValue& value)
{
	_MakeObjIfNecessary(value);
}

}  // namespace velk
