#include "kernel/json/IJSONObject.h"

#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr VError VE_JSON_NO_BINARY_FORM = MakeVError(kVELK_SIGNATURE, 915);

}  // namespace

VError JSONFailureError(uint64 error)
{
	if (error != VE_OK)
		return error;
	const VError last = VTask::GetLastError();
	if (last != VE_OK)
		return last;
	// An error that memory was too short to record leaves only the context's memory flag.
	return VTask::FailedForMemory() ? VE_MEMORY_FULL : VE_UNKNOWN_ERROR;
}

EJSONStatus IJSONObject::IJSON_GetProperty(const VJSONObject*, const VString&, VJSONValue&, VDBLanguageContext*) const
{
	return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_BeginChangeProperties() { return eJSONStatusNotHandled; }

EJSONStatus IJSONObject::IJSON_EndChangeProperties() { return eJSONStatusNotHandled; }

EJSONStatus IJSONObject::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
	return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_RemoveProperty(VJSONObject*, const VString&) { return eJSONStatusNotHandled; }

bool IJSONObject::IJSON_Clear(VJSONObject*) { return true; }

bool IJSONObject::IJSON_IsEmpty(const VJSONObject*) const
{
	std::vector<VString> names;
	try
	{
		IJSON_GetPropertyNames(names);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	return names.empty();
}

EJSONStatus IJSONObject::IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString&, uint64*) const
{
	return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>&, bool*, uint64*) const
{
	return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, uint64*) const
{
	return eJSONStatusNotHandled;
}

uint32 IJSONObject::IJSON_GetBinarySignature() const { return 0; }

void IJSONObject::IJSON_GetValueToWriteToBuffer(VJSONValue&) const {}

EJSONStatus IJSONObject::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>&, uint64* error)
{
	_ThrowError(VE_JSON_NO_BINARY_FORM);
	if (error != nullptr)
		*error = VE_JSON_NO_BINARY_FORM;
	return eJSONStatusFailed;
}

EJSONStatus IJSONObject::IJSON_GetPropertyNames(std::vector<VString>&) const { return eJSONStatusNotHandled; }

VValue* IJSONObject::IJSON_CreateVValue() const { return nullptr; }

EJSONStatus IJSONObject::IJSON_GetPropertyStamp(const VString&, uint32*) const { return eJSONStatusNotHandled; }

EJSONStatus IJSONObject::IJSON_TouchPropertyStamp(const VString&) { return eJSONStatusNotHandled; }

EJSONStatus IJSONObject::IJSON_GetDescription(const VJSONObject*, VString&) const { return eJSONStatusNotHandled; }

EJSONStatus IJSONObject::IJSON_GetPropertyByIndex(const VJSONObject*, size_t, VJSONValue&) const
{
	return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t*) const
{
	return eJSONStatusNotHandled;
}

VJSONIter* IJSONObject::IJSON_MakeIterator(const VJSONObject*, size_t, size_t, bool) const { return nullptr; }

EJSONStatus IJSONObject::IJSON_GetClassName(const VJSONObject*, VString&) const { return eJSONStatusNotHandled; }

EJSONStatus IJSONObject::IJSON_DeepEqualTo(const VJSONObject*, const VJSONObject*, bool*) const
{
	return eJSONStatusNotHandled;
}

bool IJSONObject::IJSON_IsSharable(const VJSONObject*, bool& flag) const
{
	flag = false;
	return false;
}

EJSONStatus IJSONObject::IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext*) { return eJSONStatusNotHandled; }

VJSONClass* IJSONObject::IJSON_GetFunctionClassOwner(const VJSONObject*) const { return nullptr; }

EJSONStatus IJSONObject::IJSON_SetJSONStamp(VJSONStamp*) { return eJSONStatusNotHandled; }

void IJSONObject::IJSON_DoConnectDependencies(VJSONObject*) {}

void IJSONObject::IJSON_DoDisconnectDependencies(VJSONObject*) {}

}  // namespace velk
