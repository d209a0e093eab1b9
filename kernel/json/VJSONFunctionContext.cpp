#include "kernel/json/VJSONFunctionContext.h"

namespace velk {

namespace {

// The kind a child always gives its parent's result.
constexpr uint8 kForwardedLegacyValueKind = 5;

}  // namespace

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray,
	std::vector<VJSONValue>* parameters, CDBRyBaseContext* baseContext, VDBLanguageContext* languageContext)
	: fThisObject(thisObject), fThisArray(thisArray), fParameters(parameters), fBaseContext(baseContext),
	  fLanguageContext(languageContext)
{
}

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, IJSONFunctionContext* parent)
	: fThisObject(thisObject), fThisArray(thisArray), fBaseContext(parent->GetBaseContext()),
	  fLanguageContext(parent->GetLanguageContext()), fParent(parent)
{
}

void VJSONFunctionContext::SetResult(const VJSONValue& value, uint8 legacyValueKind)
{
	if (fParent != nullptr)
	{
		fParent->SetResult(value, kForwardedLegacyValueKind);
		return;
	}
	fResult = value;
	fResultLegacyValueKind = legacyValueKind;
}

void VJSONFunctionContext::GetResult(VJSONValue& out) const
{
	if (fParent != nullptr)
		fParent->GetResult(out);
	else
		out = fResult;
}

EJSONStatus VJSONFunctionContext::GetParametersAsJSONValues(std::vector<VJSONValue>** out) const
{
	if (fParent != nullptr)
		return fParent->GetParametersAsJSONValues(out);
	*out = fParameters;
	return eJSONStatusHandled;
}

EJSONStatus VJSONFunctionContext::GetParameterList(void** list, int* count, void** extra, bool* flag)
{
	if (fParent != nullptr)
		return fParent->GetParameterList(list, count, extra, flag);
	return eJSONStatusNotHandled;
}

int32 VJSONFunctionContext::GetParamCount() const
{
	if (fParent != nullptr)
		return fParent->GetParamCount();
	return fParameters != nullptr ? int32(fParameters->size()) : 0;
}

VJSONValue VJSONFunctionContext::GetParam(int index) const
{
	if (fParent != nullptr)
		return fParent->GetParam(index);
	if (index <= 0 || index > GetParamCount())
		return VJSONValue(JSON_undefined);
	return (*fParameters)[size_t(index - 1)];
}

VJSONObject* VJSONFunctionContext::GetScopeThisObject() const
{
	return fParent != nullptr ? fParent->GetScopeThisObject() : nullptr;
}

VJSONObject* VJSONFunctionContext::GetScopeFunctionObject() const
{
	return fParent != nullptr ? fParent->GetScopeFunctionObject() : nullptr;
}

}  // namespace velk
