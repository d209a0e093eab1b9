#include "kernel/json/StJSONDeferredRelease.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"

namespace velk {

namespace {

// The list of the scope draining on this thread, null while none does. A plain pointer rather than a list
// of the thread's own: it needs no destruction, so trees may still be freed while the thread or the process
// ends.
thread_local std::vector<StJSONDeferredRelease::Held>* tDraining = nullptr;

}  // namespace

StJSONDeferredRelease::StJSONDeferredRelease()
{
	fDrains = tDraining == nullptr;
	fList = fDrains ? &fOwn : tDraining;
	if (fDrains)
		tDraining = &fOwn;
}

StJSONDeferredRelease::~StJSONDeferredRelease()
{
	if (!fDrains)
		return;
	// Releasing one may free it, and its own values then add theirs here: the list stands in for the
	// stack a recursive release would use. The last taken goes first.
	while (!fOwn.empty())
	{
		const Held held = fOwn.back();
		fOwn.pop_back();
		if (held.fIsArray)
			static_cast<VJSONArray*>(held.fContainer)->Release();
		else
			static_cast<VJSONObject*>(held.fContainer)->Release();
	}
	tDraining = nullptr;
}

void StJSONDeferredRelease::Take(VJSONValue& value)
{
	void* container = value.GetObject() != nullptr ? static_cast<void*>(value.GetObject()) : static_cast<void*>(value.GetArray());
	if (container == nullptr)
		return;
	try
	{
		fList->push_back(Held{container, value.GetArray() != nullptr});
	}
	catch (const std::bad_alloc&)
	{
		return;
	}
	value._ForgetContainer();
}

bool StJSONDeferredRelease::AnyContainer(const VJSONValue* values, size_t count)
{
	for (size_t i = 0; i < count; ++i)
	{
		if (values[i].GetObject() != nullptr || values[i].GetArray() != nullptr)
			return true;
	}
	return false;
}

}  // namespace velk
