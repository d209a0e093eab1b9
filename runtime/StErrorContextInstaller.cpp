#include "runtime/StErrorContextInstaller.h"

#include <new>

#include "runtime/VErrorContext.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VTask.h"

namespace velk {

StErrorContextInstaller::StErrorContextInstaller(bool keepingErrors, bool silent) : fSilent(silent)
{
	VTask* task = VTask::GetCurrent();
	if (task != nullptr)
		fTaskContext = task->GetErrorContext(true);
	if (fTaskContext != nullptr)
	{
		fContext = fTaskContext->PushNewContext(keepingErrors, silent);
		if (fContext != nullptr)
			fContext->Retain();
	}
	else
	{
		fContext = new (std::nothrow) VErrorContext(keepingErrors, silent);
	}
	if (fContext == nullptr)
		_ThrowError(VE_MEMORY_FULL);
}

StErrorContextInstaller::~StErrorContextInstaller()
{
	if (fContext == nullptr)
		return;
	if (fTaskContext != nullptr)
	{
		fTaskContext->PopContext();
		fTaskContext->RecycleContext(fContext);
	}
	else
	{
		fContext->Release();
	}
}

void StErrorContextInstaller::_AddFilteredCodes(std::initializer_list<VError> codes)
{
	if (fContext == nullptr)
		return;
	for (VError code : codes)
	{
		if (code == VE_OK)
			break;
		fContext->AddFilteredCode(code);
	}
}

VError StErrorContextInstaller::GetLastError() const
{
	return fContext != nullptr ? fContext->GetLastError() : VE_OK;
}

VErrorBase* StErrorContextInstaller::GetLast() const
{
	return fContext != nullptr ? fContext->GetLast() : nullptr;
}

VErrorBase* StErrorContextInstaller::Find(VError code) const
{
	return fContext != nullptr ? fContext->Find(code) : nullptr;
}

}  // namespace velk
