#include "runtime/StThrowError.h"

#include <new>

#include "runtime/VErrorTaskContext.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

void PushCode(VError code)
{
	VErrorBase* generic = new (std::nothrow) VErrorBase(code);
	if (generic == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	else
		VTask::PushRetainedError(generic);
}

}  // namespace

void _PushRetainedError(VErrorBase* error, VError code)
{
	if (error == nullptr)
	{
		if (code != VE_OK)
			PushCode(code);
		return;
	}
	if (code != VE_OK)
	{
		VTask* task = VTask::GetCurrent();
		VErrorTaskContext* contexts = task != nullptr ? task->GetErrorContext(false) : nullptr;
		if (contexts == nullptr || !contexts->IsErrorFiltered(error->GetCode()))
			PushCode(code);
	}
	VTask::PushRetainedError(error);
}

}  // namespace velk
