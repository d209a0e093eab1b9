// The call context of every call the toolbox makes itself. A root context holds the parameters (not
// owned) and the result; a child context, made for a call inside a call, has its own this object and
// this array and hands everything else to its parent.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VELK_API VJSONFunctionContext : public VObject, public IJSONFunctionContext
{
public:
	// A root context. Nothing is retained or owned: the caller keeps this object, this array and the
	// parameters (null: none) alive for the call. The result starts undefined, legacy kind 5, expected.
	VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* parameters,
		CDBRyBaseContext* baseContext, VDBLanguageContext* languageContext);
	// A child context of parent, which must outlive it; the base and language contexts are the parent's.
	VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, IJSONFunctionContext* parent);
	~VJSONFunctionContext() override = default;

	VJSONObject* GetThisObject() const override { return fThisObject; }
	VJSONArray* GetThisArray() const override { return fThisArray; }
	// A child stores the value in its parent, with legacy kind 5 whatever kind is given.
	void SetResult(const VJSONValue& value, uint8 legacyValueKind) override;
	void GetResult(VJSONValue& out) const override;
	uint8 GetResultLegacyValueKind() const override { return fResultLegacyValueKind; }
	bool GetResultIsExpected() const override { return fResultIsExpected; }
	void SetResultIsExpected(bool expected) { fResultIsExpected = expected; }
	EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** out) const override;
	EJSONStatus GetParameterList(void** list, int* count, void** extra, bool* flag) override;
	CDBRyBaseContext* GetBaseContext() const override { return fBaseContext; }
	VDBLanguageContext* GetLanguageContext() const override { return fLanguageContext; }
	int32 GetParamCount() const override;
	VJSONValue GetParam(int index) const override;
	// Null in a root context.
	VJSONObject* GetScopeThisObject() const override;
	VJSONObject* GetScopeFunctionObject() const override;

private:
	VJSONObject* fThisObject;
	VJSONArray* fThisArray;
	std::vector<VJSONValue>* fParameters = nullptr;
	VJSONValue fResult{JSON_undefined};
	uint8 fResultLegacyValueKind = 5;
	bool fResultIsExpected = true;
	CDBRyBaseContext* fBaseContext = nullptr;
	VDBLanguageContext* fLanguageContext = nullptr;
	IJSONFunctionContext* fParent = nullptr;
};

}  // namespace velk
