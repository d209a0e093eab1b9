#include "runtime/VErrorTaskContext.h"

namespace velk {

VErrorTaskContext::VErrorTaskContext() : fSpare(new VErrorContext(true, false))
{
}

VErrorTaskContext::~VErrorTaskContext()
{
	if (fSpare != nullptr)
		fSpare->Release();
	for (VErrorContext* context : fContexts)
		context->Release();
}

VErrorContext* VErrorTaskContext::PushNewContext(bool keepingErrors, bool silent)
{
	VErrorContext* context = fSpare;
	if (context != nullptr)
	{
		fSpare = nullptr;
		context->SetKeepingErrors(keepingErrors);
		context->SetSilent(silent);
		context->SetFailedForMemory(false);
	}
	else
	{
		context = new VErrorContext(keepingErrors, silent);
	}
	fContexts.push_back(context);
	return context;
}

void VErrorTaskContext::PopContext()
{
	if (fContexts.empty())
		return;
	VErrorContext* top = fContexts.back();
	fContexts.pop_back();
	if (top->IsEmpty() || !top->IsKeepingErrors())
	{
		top->Release();
		return;
	}
	if (!fContexts.empty())
	{
		VErrorContext* below = fContexts.back();
		if (top->IsSilent() && !below->IsSilent())
			top->SendErrorsToLogger();
		below->PushErrors(top);
		top->Release();
		return;
	}
	// The last scope's errors stay at the task's base level until flushed.
	VErrorContext* base = new VErrorContext(*top);
	fContexts.push_back(base);
	if (top->IsSilent())
		base->SendErrorsToLogger();
	top->Release();
}

bool VErrorTaskContext::PushError(VErrorBase* error, bool* silent)
{
	if (silent != nullptr)
		*silent = false;
	if (error == nullptr)
		return false;
	if (fContexts.empty())
		PushNewContext(true, false);
	VErrorContext* top = fContexts.back();
	bool stored = top->PushError(error);
	bool isSilent = false;
	for (auto context = fContexts.rbegin(); context != fContexts.rend(); ++context)
	{
		if ((*context)->IsSilent())
		{
			isSilent = true;
			break;
		}
		if ((*context)->IsErrorFiltered(error->GetCode()))
		{
			top->SetSilent(true);
			top->SetKeepingErrors(false);
			isSilent = true;
			break;
		}
	}
	if (silent != nullptr)
		*silent = isSilent;
	return stored;
}

void VErrorTaskContext::PushErrorsFromContext(const VErrorContext* context)
{
	if (context == nullptr)
		return;
	// A copy of the list: pushing may add to context itself when it is our top.
	std::vector<VRefPtr<VErrorBase>> errors = context->GetErrors();
	for (const VRefPtr<VErrorBase>& error : errors)
		PushError(error.Get());
}

void VErrorTaskContext::InsertFrontErrors(const std::vector<VRefPtr<VErrorBase>>& errors)
{
	if (fContexts.empty())
		PushNewContext(true, false);
	fContexts.front()->_InsertFront(errors);
}

VErrorBase* VErrorTaskContext::GetFirst() const
{
	for (VErrorContext* context : fContexts)
	{
		if (!context->IsEmpty())
			return context->GetFirst();
	}
	return nullptr;
}

VErrorBase* VErrorTaskContext::GetLast() const
{
	for (auto context = fContexts.rbegin(); context != fContexts.rend(); ++context)
	{
		if (!(*context)->IsEmpty())
			return (*context)->GetLast();
	}
	return nullptr;
}

VError VErrorTaskContext::GetLastError() const
{
	return fContexts.empty() ? VE_OK : fContexts.back()->GetLastError();
}

VErrorBase* VErrorTaskContext::Find(VError code) const
{
	for (VErrorContext* context : fContexts)
	{
		if (VErrorBase* error = context->Find(code))
			return error;
	}
	return nullptr;
}

bool VErrorTaskContext::IsErrorFiltered(VError code) const
{
	for (VErrorContext* context : fContexts)
	{
		if (context->IsErrorFiltered(code))
			return true;
	}
	return false;
}

bool VErrorTaskContext::FailedForMemory() const
{
	return !fContexts.empty() && fContexts.back()->FailedForMemory();
}

void VErrorTaskContext::Flush()
{
	if (!fContexts.empty())
		fContexts.back()->Flush();
}

void VErrorTaskContext::GetErrors(VErrorContext& out) const
{
	for (VErrorContext* context : fContexts)
	{
		if (context != &out)
			out.PushErrors(context);
	}
	out.SetFailedForMemory(FailedForMemory());
}

void VErrorTaskContext::MergeAndFlushLastContext(bool log)
{
	if (fContexts.empty())
		return;
	VErrorContext* top = fContexts.back();
	if (top->IsEmpty())
		return;
	if (top->IsKeepingErrors())
	{
		if (log)
			top->SendErrorsToLogger();
		if (fContexts.size() == 1)
		{
			fContexts.insert(fContexts.begin(), new VErrorContext(*top));
		}
		else
		{
			VErrorContext* below = fContexts[fContexts.size() - 2];
			below->PushErrors(top);
		}
	}
	top->Flush();
	top->SetSilent(log);
}

void VErrorTaskContext::RecycleContext(VErrorContext* context)
{
	if (context == nullptr)
		return;
	if (fSpare == nullptr && context->IsEmpty() && !context->HasFilteredCodes() && context->GetRefCount() == 1)
	{
		fSpare = context;
		return;
	}
	context->Release();
}

VErrorContext* VErrorTaskContext::GetTopContext() const
{
	return fContexts.empty() ? nullptr : fContexts.back();
}

}  // namespace velk
