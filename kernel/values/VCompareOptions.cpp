// The options of a value comparison.
#include "kernel/values/VCompareOptions.h"

#include "runtime/VTask.h"

namespace velk {

VCompareOptions::VCompareOptions() : fIntlMgr(VTask::GetCurrentIntlManager()) {}

VError VCompareOptions::ToJSON(VJSONObject*) const
{
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

VError VCompareOptions::FromJSON(VJSONObject*)
{
	_ThrowError(VE_UNIMPLEMENTED);
	return VE_UNIMPLEMENTED;
}

}  // namespace velk
