// The super object of class code: each of its properties is a super member, which runs the method of
// that name found on the prototypes above the running function's class, on the current this object.
#pragma once

#include "kernel/VExport.h"

#include "kernel/json/IJSONObject.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VJSONSuper : public VObject, public IJSONObject
{
public:
	// A new unshared object without class whose implementation is a new super object (one reference,
	// owned by the caller), or null when memory is short.
	static VJSONObject* CreateObject();

	// Every name exists: a new super member of that name.
	EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const override;
	// Refused with RyRT -10705.
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
	EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
		uint64* error) const override;
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;
};

class VELK_API VJSONSuperMember : public VObject, public IJSONObject
{
public:
	explicit VJSONSuperMember(const VString& name) : fName(name) {}

	static VJSONObject* CreateObject(const VString& name);

	// super.name(arguments...): RyRT -10736 without a scope class, -10729 when no superclass prototype
	// defines the name, -10707 when what it defines is not callable.
	EJSONStatus IJSON_CallAsFunction(const VJSONObject* object, IJSONFunctionContext* context) override;
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
	EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
		uint64* error) const override;
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;

private:
	VString fName;
};

}  // namespace velk
