#include "kernel/json/StJSONDeferredRelease.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"

namespace velk {

namespace {

// The containers waiting for their release on this thread, and whether a scope is draining them.
struct ThreadList
{
	std::vector<StJSONDeferredRelease::Held> fHeld;
	bool fDraining = false;
};

ThreadList& GetThreadList()
{
	static thread_local ThreadList sList;
	return sList;
}

}  // namespace

StJSONDeferredRelease::StJSONDeferredRelease()
{
	ThreadList& list = GetThreadList();
	fList = &list.fHeld;
	fDrains = !list.fDraining;
	list.fDraining = true;
}

StJSONDeferredRelease::~StJSONDeferredRelease()
{
	if (!fDrains)
		return;
	// Releasing one may free it, and its own values then add theirs here: the list stands in for the
	// stack a recursive release would use. The last taken goes first.
	while (!fList->empty())
	{
		const Held held = fList->back();
		fList->pop_back();
		if (held.fIsArray)
			static_cast<VJSONArray*>(held.fContainer)->Release();
		else
			static_cast<VJSONObject*>(held.fContainer)->Release();
	}
	GetThreadList().fDraining = false;
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
