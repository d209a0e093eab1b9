// The options of a value comparison.
#include "kernel/values/VCompareOptions.h"

#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/VTask.h"

namespace velk {

VCompareOptions::VCompareOptions() : fIntlMgr(VTask::GetCurrentIntlManager()) {}

namespace {

const VString& DiacriticalName()
{
	static const VString sName("diacritical");
	return sName;
}

}  // namespace

VError VCompareOptions::ToJSON(VJSONObject* object) const
{
	if (object != nullptr)
		object->SetProperty(DiacriticalName(), fDiacritical ? VJSONValue::sTrue : VJSONValue::sFalse);
	return VE_OK;
}

VError VCompareOptions::FromJSON(VJSONObject* object)
{
	if (object == nullptr)
		return VE_OK;
	const VJSONValue diacritical = object->GetProperty(DiacriticalName());
	if (diacritical.IsBool())
		fDiacritical = diacritical.GetBool();
	return VE_OK;
}

}  // namespace velk
