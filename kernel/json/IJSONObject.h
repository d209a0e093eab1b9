// Native implementation of a JSON object: consulted by its VJSONObject before the object's own properties.
// Every operation answers with an EJSONStatus; the defaults answer "not handled" so that the owner falls
// back to its own behaviour.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VError.h"

namespace velk {

class VString;
class VValue;
class VJSONValue;
class VJSONObject;
class VJSONWriter;
class VJSONCloner;
class VJSONClass;
class VJSONStamp;
class VJSONIter;
class IJSONFunctionContext;
class VDBLanguageContext;
class CDBRyBaseContext;
template <uint64 kGranularity, uint64 kGrowthDivisor, uint64 kMaxGrowth>
class VMemoryBuffer;

// 0 handled (the out arguments hold the answer), 1 not handled (the owner uses its own behaviour),
// 2 failed with the error already recorded on the task's error context.
enum EJSONStatus : uint32
{
	eJSONStatusHandled = 0,
	eJSONStatusNotHandled = 1,
	eJSONStatusFailed = 2
};

// The error of a failure: error when it is not 0, else the last one recorded on the task's error context
// (which a failed answer has recorded), else velk 100 when an error could not be recorded for lack of
// memory, else velk 1.
VELK_API VError JSONFailureError(uint64 error);

class VELK_API IJSONObject : public IRefCountable
{
public:
	~IJSONObject() override = default;

	virtual EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const;
	virtual EJSONStatus IJSON_BeginChangeProperties();
	virtual EJSONStatus IJSON_EndChangeProperties();
	virtual EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context);
	virtual EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name);
	// The owner clears its own properties afterwards whatever this answers.
	virtual bool IJSON_Clear(VJSONObject* object);
	// Default: whether IJSON_GetPropertyNames gives no name.
	virtual bool IJSON_IsEmpty(const VJSONObject* object) const;
	virtual EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter& writer, VString& out,
		uint64* error) const;
	virtual EJSONStatus IJSON_CloneImpl(const VJSONObject* object, VJSONCloner& cloner,
		VRefPtr<IJSONObject>& out, bool* outShared, uint64* error) const;
	virtual EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
		uint64* error) const;
	// 0: the object has no binary form.
	virtual uint32 IJSON_GetBinarySignature() const;
	virtual void IJSON_GetValueToWriteToBuffer(VJSONValue& out) const;
	// Default: records velk 915, stores it in error and answers failed.
	virtual EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64* error);
	virtual EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const;
	// A new value owned by the caller, or null (the default).
	virtual VValue* IJSON_CreateVValue() const;
	virtual EJSONStatus IJSON_GetPropertyStamp(const VString& name, uint32* stamp) const;
	virtual EJSONStatus IJSON_TouchPropertyStamp(const VString& name);
	virtual EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const;
	virtual EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* object, size_t index, VJSONValue& out) const;
	virtual EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* object, size_t* count) const;
	// An iterator owned by the caller, or null (the default).
	virtual VJSONIter* IJSON_MakeIterator(const VJSONObject* object, size_t start, size_t end, bool flag) const;
	virtual EJSONStatus IJSON_GetClassName(const VJSONObject* object, VString& out) const;
	virtual EJSONStatus IJSON_DeepEqualTo(const VJSONObject* object, const VJSONObject* other, bool* equal) const;
	// May the object be placed in shared storage. Default: flag false, answer false.
	virtual bool IJSON_IsSharable(const VJSONObject* object, bool& flag) const;
	// Default: not handled, the object is not callable.
	virtual EJSONStatus IJSON_CallAsFunction(const VJSONObject* object, IJSONFunctionContext* context);
	virtual VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* object) const;
	virtual EJSONStatus IJSON_SetJSONStamp(VJSONStamp* stamp);
	// Lets an implementation link the JSON values it holds into its owner's graph; nothing by default.
	virtual void IJSON_DoConnectDependencies(VJSONObject* object);
	virtual void IJSON_DoDisconnectDependencies(VJSONObject* object);
};

}  // namespace velk
