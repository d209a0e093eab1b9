// What a native JSON function receives when it is called: the this object or array, the parameters
// (numbered from 1), the place for the result, and typed parameter getters that record the toolbox's
// errors for a parameter of the wrong kind and still give a usable fallback value.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VStorageLocker.h"
#include "runtime/VError.h"

namespace velk {

class VJSONObject;
class VJSONArray;
class VJSONClass;
class VDBLanguageContext;
class CDBRyBaseContext;

constexpr VError VE_JSON_NUMBER_EXPECTED = MakeVError(kRYRT_SIGNATURE, 7);
constexpr VError VE_JSON_STRING_EXPECTED = MakeVError(kRYRT_SIGNATURE, 8);
constexpr VError VE_JSON_CONTAINER_EXPECTED = MakeVError(kRYRT_SIGNATURE, 54);
constexpr VError VE_JSON_BOOLEAN_EXPECTED = MakeVError(kRYRT_SIGNATURE, 55);

// The bytes of a Blob parameter, read in place while the parameter lives.
struct VJSONBlobView
{
	bool fFound = false;
	const void* fData = nullptr;
	size_t fSize = 0;
};

class VELK_API IJSONFunctionContext
{
public:
	IJSONFunctionContext() = default;
	IJSONFunctionContext(const IJSONFunctionContext&) = delete;
	IJSONFunctionContext& operator=(const IJSONFunctionContext&) = delete;

	virtual VJSONObject* GetThisObject() const = 0;
	virtual VJSONArray* GetThisArray() const = 0;
	virtual void SetResult(const VJSONValue& value, uint8 legacyValueKind) = 0;
	virtual void GetResult(VJSONValue& out) const = 0;
	virtual uint8 GetResultLegacyValueKind() const = 0;
	virtual bool GetResultIsExpected() const = 0;
	// The parameters, not owned, possibly null when there are none.
	virtual EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** out) const = 0;
	// A host's native parameter list; not handled here (1).
	virtual EJSONStatus GetParameterList(void** list, int* count, void** extra, bool* flag);
	virtual CDBRyBaseContext* GetBaseContext() const = 0;
	virtual VDBLanguageContext* GetLanguageContext() const = 0;
	virtual int32 GetParamCount() const = 0;
	// Parameter number index (from 1); undefined out of range.
	virtual VJSONValue GetParam(int index) const = 0;
	// A Blob object parameter's bytes. Anything else gives (false, null, 0): silently when optional,
	// otherwise with RyRT 54 and the validity flag cleared.
	virtual VJSONBlobView GetBlobParam(int index, bool optional) const;
	virtual VJSONObject* GetScopeThisObject() const = 0;
	// The function object being executed, or null.
	virtual VJSONObject* GetScopeFunctionObject() const = 0;
	virtual ~IJSONFunctionContext() = default;

	// Typed getters. On a parameter of another kind each clears the validity flag, records its error
	// and gives the fallback named; the call goes on, and the function decides whether to fail.

	// A number; otherwise RyRT 7 and the parameter's number conversion.
	double GetNumberParam(int index) const;
	// True and the number through out; false for an absent (undefined) parameter without error, and
	// for another kind with RyRT 7. out is untouched when false.
	bool GetNumberOptParam(int index, double* out) const;
	// A number truncated toward zero (NaN 0, saturating at the 32-bit limits); otherwise RyRT 7 and the
	// parameter's number conversion truncated the same way.
	int32 GetLongParam(int index) const;
	// A boolean; otherwise RyRT 55 and a truth value by kind: null and undefined false, a string when
	// not empty, a number when not 0, an object or array true, a date when not 0.
	bool GetBoolParam(int index) const;
	// A string's text; otherwise RyRT 8 and an empty string.
	VString GetStringParam(int index) const;
	// The object or array, retained for the caller; otherwise RyRT 54 and null.
	VJSONObject* GetObjectParam(int index) const;
	VJSONArray* GetArrayParam(int index) const;

	// The class owning the function object being executed, or null.
	VJSONClass* GetScopeClass() const;

	// False once a typed getter met a parameter of the wrong kind.
	bool GetParamsValid() const { return fParamsValid; }

protected:
	void _InvalidParam(VError error) const;

private:
	mutable bool fParamsValid = true;
};

}  // namespace velk
