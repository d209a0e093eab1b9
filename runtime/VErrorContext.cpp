#include "runtime/VErrorContext.h"

#include <algorithm>

#include "runtime/VProcess.h"

namespace velk {

VErrorContext::VErrorContext(bool keepingErrors, bool silent) : fSilent(silent), fKeepingErrors(keepingErrors)
{
}

VErrorContext::VErrorContext(const VErrorContext& other)
: VObject(other), IRefCountable(other), fErrors(other.fErrors), fFailedForMemory(other.fFailedForMemory)
{
}

VErrorContext::~VErrorContext() = default;

bool VErrorContext::PushError(VErrorBase* error)
{
	if (error == nullptr)
		return false;
	if (error->GetCode() == VE_MEMORY_FULL)
		fFailedForMemory = true;
	fErrors.emplace_back(error);
	return true;
}

void VErrorContext::PushErrors(const VErrorContext* other)
{
	if (other == nullptr || other == this)
		return;
	fErrors.insert(fErrors.end(), other->fErrors.begin(), other->fErrors.end());
	fFailedForMemory = other->fFailedForMemory;
}

void VErrorContext::Flush()
{
	fErrors.clear();
	fFailedForMemory = false;
}

VErrorBase* VErrorContext::GetFirst() const
{
	return fErrors.empty() ? nullptr : fErrors.front().Get();
}

VErrorBase* VErrorContext::GetLast() const
{
	return fErrors.empty() ? nullptr : fErrors.back().Get();
}

VError VErrorContext::GetLastError() const
{
	return fErrors.empty() ? VE_OK : fErrors.back()->GetCode();
}

VErrorBase* VErrorContext::Find(VError code) const
{
	for (const VRefPtr<VErrorBase>& error : fErrors)
	{
		if (error->GetCode() == code)
			return error.Get();
	}
	return nullptr;
}

bool VErrorContext::FindAny(const VError* codes) const
{
	if (codes == nullptr)
		return false;
	for (const VRefPtr<VErrorBase>& error : fErrors)
	{
		for (const VError* code = codes; *code != VE_OK; ++code)
		{
			if (error->GetCode() == *code)
				return true;
		}
	}
	return false;
}

void VErrorContext::AddFilteredCode(VError code)
{
	fFilteredCodes.push_back(code);
}

bool VErrorContext::IsErrorFiltered(VError code) const
{
	return std::find(fFilteredCodes.begin(), fFilteredCodes.end(), code) != fFilteredCodes.end();
}

void VErrorContext::SendErrorsToLogger() const
{
	VProcess* process = VProcess::sInstance;
	if (process == nullptr || process->GetLogger() == nullptr)
		return;
	// A process never holds a logger before the process logger exists; handing the errors over
	// (inside a silent scope, oldest first) arrives with it.
}

void VErrorContext::_InsertFront(const std::vector<VRefPtr<VErrorBase>>& errors)
{
	fErrors.insert(fErrors.begin(), errors.begin(), errors.end());
}

}  // namespace velk
