#include "runtime/VErrorContext.h"

#include <algorithm>
#include <new>

#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/ILogger.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBagKeys.h"
#include "runtime/VProcess.h"

namespace velk {

namespace {

// Room made in a new context: most scopes that fail record one error or two.
constexpr size_t kInitialRoom = 4;

}  // namespace

VErrorContext::VErrorContext(bool keepingErrors, bool silent) : fSilent(silent), fKeepingErrors(keepingErrors)
{
	_KeepRoomForOneMore();
}

VErrorContext::VErrorContext(const VErrorContext& other)
: VObject(other), IRefCountable(other), fFailedForMemory(other.fFailedForMemory)
{
	PushErrors(&other);
}

void VErrorContext::_KeepRoomForOneMore()
{
	if (fErrors.size() < fErrors.capacity())
		return;
	try
	{
		fErrors.reserve(fErrors.capacity() < kInitialRoom ? kInitialRoom : fErrors.capacity() * 2);
	}
	catch (const std::bad_alloc&)
	{
		// The next push tries again, and reports the shortage when it cannot store its error.
	}
}

VErrorContext::~VErrorContext() = default;

bool VErrorContext::PushError(VErrorBase* error)
{
	if (error == nullptr)
		return false;
	if (error->GetCode() == VE_MEMORY_FULL)
		fFailedForMemory = true;
	try
	{
		fErrors.emplace_back(error);
	}
	catch (const std::bad_alloc&)
	{
		// Not raised: the caller is pushing an error and tells its own caller through the result.
		fFailedForMemory = true;
		return false;
	}
	_KeepRoomForOneMore();
	return true;
}

bool VErrorContext::PushErrors(const VErrorContext* other)
{
	if (other == nullptr || other == this)
		return true;
	try
	{
		// All or none: growing the list is the only step that can fail.
		fErrors.insert(fErrors.end(), other->fErrors.begin(), other->fErrors.end());
	}
	catch (const std::bad_alloc&)
	{
		fFailedForMemory = true;
		return false;
	}
	fFailedForMemory = other->fFailedForMemory;
	_KeepRoomForOneMore();
	return true;
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

bool VErrorContext::AddFilteredCode(VError code)
{
	try
	{
		fFilteredCodes.push_back(code);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

bool VErrorContext::IsErrorFiltered(VError code) const
{
	return std::find(fFilteredCodes.begin(), fFilteredCodes.end(), code) != fFilteredCodes.end();
}

void VErrorContext::SendErrorsToLogger() const
{
	VProcess* process = VProcess::sInstance;
	ILogger* logger = process != nullptr ? process->GetLogger() : nullptr;
	if (logger == nullptr)
		return;
	// What logging raises is dropped: it must not come back here.
	StErrorContextInstaller quiet(false, true);
	for (const VRefPtr<VErrorBase>& error : fErrors)
		logger->LogErrorIfNecessary(error.Get());
}

bool VErrorContext::_InsertFront(const std::vector<VRefPtr<VErrorBase>>& errors)
{
	try
	{
		fErrors.insert(fErrors.begin(), errors.begin(), errors.end());
	}
	catch (const std::bad_alloc&)
	{
		fFailedForMemory = true;
		return false;
	}
	_KeepRoomForOneMore();
	return true;
}

VError VErrorContext::SaveToBag(VValueBag& bag) const
{
	for (const VRefPtr<VErrorBase>& error : fErrors)
	{
		VRefPtr<VValueBag> element(new (std::nothrow) VValueBag, true);
		if (!element || !bag.AddElement(VErrorBagKeys::error, element.Get()))
		{
			_ThrowError(VE_MEMORY_FULL);
			return VE_MEMORY_FULL;
		}
		error->SaveToBag(*element);
	}
	return VE_OK;
}

VError VErrorContext::LoadFromBag(const VValueBag& bag)
{
	const VBagArray* list = bag.GetElements(VErrorBagKeys::error);
	for (int32 i = 1; list != nullptr && i <= list->GetCount(); ++i)
	{
		VRefPtr<VErrorBase> error(new (std::nothrow) VErrorBase, true);
		if (!error)
		{
			_ThrowError(VE_MEMORY_FULL);
			return VE_MEMORY_FULL;
		}
		const VError loaded = error->LoadFromBag(*list->_GetNth(i));
		if (loaded != VE_OK)
			return loaded;
		const bool failed = fFailedForMemory;
		const bool stored = PushError(error.Get());
		// Loading takes errors as data: a loaded memory error does not mean this context ran short.
		fFailedForMemory = failed;
		if (!stored)
			return VE_MEMORY_FULL;
	}
	return VE_OK;
}

bool VErrorContext::SaveToJSONArray(VJSONValue& out) const
{
	out.SetUndefined();
	if (fErrors.empty())
		return true;
	VJSONArray* array = new (std::nothrow) VJSONArray();
	if (array == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	bool ok = true;
	for (const VRefPtr<VErrorBase>& error : fErrors)
	{
		VJSONObject* object = error->CreateJSONObject();
		ok = object != nullptr && array->Push(VJSONValue(object));
		if (object != nullptr)
			object->Release();
		if (!ok)
			break;
	}
	if (ok)
		out.SetArray(array);
	array->Release();
	return ok;
}

}  // namespace velk
