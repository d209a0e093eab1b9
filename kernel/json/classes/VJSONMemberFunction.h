// A native function seen as a JSON function object of the root class "Function", and the "apply" and
// "call" functions of that class.
#pragma once

#include "kernel/VExport.h"

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VJSONMemberFunction : public VObject, public IJSONObject
{
public:
	// Keeps name as given.
	VJSONMemberFunction(VJSONClass::NativeFunction function, const VString& name, VJSONClass* owner);

	// A shared function object of class "Function" named owner's name, a dot and name (one reference,
	// owned by the caller), or null when memory is short. Flags 1 and 2 set its own "final" and "__hidden".
	static VJSONObject* Create(VJSONClass::NativeFunction function, const VString& name, VJSONClass* owner,
		uint32 flags);
	// The same with the name kept as given (the "constructor" of a class).
	static VRefPtr<VJSONObject> CreateNamed(VJSONClass::NativeFunction function, const VString& name,
		VJSONClass* owner);

	// function.apply(thisArgument, argumentsArray) and function.call(thisArgument, arguments...). RyRT
	// -10729 when the this object is not callable.
	static EJSONStatus do_apply(const VJSONObject* function, IJSONFunctionContext* context);
	static EJSONStatus do_call(const VJSONObject* function, IJSONFunctionContext* context);

	EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const override;
	// Refused with RyRT -10702.
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
	bool IJSON_Clear(VJSONObject* object) override;
	bool IJSON_IsEmpty(const VJSONObject* object) const override;
	EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter& writer, VString& out,
		uint64* error) const override;
	// A copy with the same function and name and no owner.
	EJSONStatus IJSON_CloneImpl(const VJSONObject* object, VJSONCloner& cloner, VRefPtr<IJSONObject>& out,
		bool* outShared, uint64* error) const override;
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override;
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;
	EJSONStatus IJSON_CallAsFunction(const VJSONObject* object, IJSONFunctionContext* context) override;
	// The class that made the function while it lives; null once it has gone, or for a function without owner.
	VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject*) const override;

private:
	static VJSONObject* _MakeObject(VJSONMemberFunction* implementation);

	VJSONClass::NativeFunction fFunction;
	VString fName;
	VRefPtr<VJSONClassLink> fOwner;
};

// True for an instance of the process store's root class "Function"; false for null.
VELK_API bool IsObjectAFormula(const VJSONObject* object);
VELK_API bool IsObjectAFormula(const VJSONValue& value);

}  // namespace velk
