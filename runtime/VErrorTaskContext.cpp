#include "runtime/VErrorTaskContext.h"

#include <new>

#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "kernel/values/VLong.h"
#include "runtime/VErrorBagKeys.h"
#include "runtime/VTask.h"

namespace velk {

// Without memory for the spare, the first scope makes its own context.
VErrorTaskContext::VErrorTaskContext() : fSpare(new (std::nothrow) VErrorContext(true, false))
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
		context = new (std::nothrow) VErrorContext(keepingErrors, silent);
		if (context == nullptr)
			return nullptr;
	}
	try
	{
		fContexts.push_back(context);
	}
	catch (const std::bad_alloc&)
	{
		RecycleContext(context);
		return nullptr;
	}
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
		// A keeping scope that could not store an error for lack of memory still tells the one below.
		if (top->IsKeepingErrors() && top->FailedForMemory() && !fContexts.empty())
			fContexts.back()->SetFailedForMemory(true);
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
	// The last scope's errors stay at the task's base level until flushed. The slot just freed takes
	// the base back without allocating.
	bool wasSilent = top->IsSilent();
	VErrorContext* base = new (std::nothrow) VErrorContext(*top);
	if (base == nullptr || base->GetErrorCount() != top->GetErrorCount())
	{
		if (base != nullptr)
			base->Release();
		// Short of memory the popped context itself becomes the base: its holders see it change.
		top->SetSilent(false);
		top->SetKeepingErrors(true);
		top->_ClearFilteredCodes();
		base = top;
		top = nullptr;
	}
	fContexts.push_back(base);
	if (wasSilent)
		base->SendErrorsToLogger();
	if (top != nullptr)
		top->Release();
}

bool VErrorTaskContext::PushError(VErrorBase* error, bool* silent)
{
	if (silent != nullptr)
		*silent = false;
	if (error == nullptr)
		return false;
	if (fContexts.empty() && PushNewContext(true, false) == nullptr)
		return false;
	VErrorContext* top = fContexts.back();
	if (!top->PushError(error))
		return false;
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
	return true;
}

void VErrorTaskContext::PushErrorsFromContext(const VErrorContext* context)
{
	if (context == nullptr)
		return;
	// By index up to the present count, without copying the list: pushing may add to context itself
	// when it is our top, which moves its errors.
	const size_t count = context->GetErrorCount();
	for (size_t i = 0; i < count; ++i)
		PushError(context->GetErrors()[i].Get());
}

bool VErrorTaskContext::InsertFrontErrors(const std::vector<VRefPtr<VErrorBase>>& errors)
{
	if (fContexts.empty() && PushNewContext(true, false) == nullptr)
		return false;
	return fContexts.front()->_InsertFront(errors);
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

void VErrorTaskContext::PushErrorsFromBag(const VValueBag& bag)
{
	const VBagArray* list = bag.GetElements(VErrorBagKeys::error);
	for (int32 i = 1; list != nullptr && i <= list->GetCount(); ++i)
	{
		VRefPtr<VErrorBase> error(new (std::nothrow) VErrorBase, true);
		if (!error || error->LoadFromBag(*list->_GetNth(i)) != VE_OK)
			return;
		PushError(error.Get());
	}
}

void VErrorTaskContext::BuildErrorStack(VValueBag& bag)
{
	VTask* task = VTask::GetCurrent();
	VErrorTaskContext* contexts = task != nullptr ? task->GetErrorContext(false) : nullptr;
	if (contexts == nullptr)
		return;
	VErrorContext all;
	contexts->GetErrors(all);
	static const StPackedDictionaryKey sErrorElement("__ERROR");
	static const StPackedDictionaryKey sMessage("message");
	static const StPackedDictionaryKey sSignature("componentSignature");
	static const StPackedDictionaryKey sNumber("errCode");
	for (const VRefPtr<VErrorBase>& error : all.GetErrors())
	{
		VRefPtr<VValueBag> element(new (std::nothrow) VValueBag, true);
		if (!element)
			return;
		VString text;
		error->GetErrorDescription(text);
		element->SetString(sMessage, text);
		VString signature;
		signature.FromOsType(ERRCODE_SIGNATURE(error->GetCode()));
		element->SetString(sSignature, signature);
		element->SetAttribute(sNumber, VLong(ERRCODE_NUMBER(error->GetCode())));
		bag.AddElement(sErrorElement, element.Get());
	}
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
		if (!_PassDown(top))
		{
			top->SetFailedForMemory(true);
			return;
		}
	}
	top->Flush();
	top->SetSilent(log);
}

bool VErrorTaskContext::_PassDown(VErrorContext* top)
{
	if (fContexts.size() > 1)
		return fContexts[fContexts.size() - 2]->PushErrors(top);
	VErrorContext* base = new (std::nothrow) VErrorContext(*top);
	if (base == nullptr)
		return false;
	if (base->GetErrorCount() != top->GetErrorCount())
	{
		base->Release();
		return false;
	}
	try
	{
		fContexts.insert(fContexts.begin(), base);
	}
	catch (const std::bad_alloc&)
	{
		base->Release();
		return false;
	}
	return true;
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
