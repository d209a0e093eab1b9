// One-line edits of a JSON value: each constructor makes value an object when it is not one and stores a
// new value at a path in it (VJSONObject::SetPropertyWithPath, path rules included), or removes a
// property. Nothing is reported: a path that cannot be stored leaves the value as the walk left it.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"
#include "kernel/json/VJSONValue.h"

namespace velk {

class VJSONArray;
class VString;
class VTime;

class VELK_API VJSONAlter
{
public:
	VJSONAlter(VJSONValue& value, const VString& path, bool flag);
	VJSONAlter(VJSONValue& value, const VString& path, int32 number);
	VJSONAlter(VJSONValue& value, const VString& path, double number);
	VJSONAlter(VJSONValue& value, const VString& path, const VString& text);
	// Zero-terminated texts, read as VString reads them.
	VJSONAlter(VJSONValue& value, const VString& path, const char* text);
	VJSONAlter(VJSONValue& value, const VString& path, const UniChar* text);
	VJSONAlter(VJSONValue& value, const VString& path, const VJSONValue& newValue);
	// A new empty value of the kind. For an array, outArray (when given) receives it, not retained: it
	// lives in value's tree; null for other kinds and when the array could not be stored.
	VJSONAlter(VJSONValue& value, const VString& path, JSONType type, VJSONArray** outArray = nullptr);
	// The time's JSON text (RFC 3339 in UTC).
	VJSONAlter(VJSONValue& value, const VString& path, const VTime& time);
	// Removes the property name when value is an object; nothing otherwise.
	VJSONAlter(VJSONValue& value, const VString& name);
	// Makes value an empty object when it is not one.
	explicit VJSONAlter(VJSONValue& value);

private:
	static void _MakeObjIfNecessary(VJSONValue& value);
	static bool _Set(VJSONValue& value, const VString& path, const VJSONValue& newValue);
};

}  // namespace velk
