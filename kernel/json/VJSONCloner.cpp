#include "kernel/json/VJSONCloner.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"

namespace velk {

namespace {

template <class Container>
bool IsHeldOnceContainer(const Container* source)
{
	return source->GetRefCount() == 1 && source->_GetLockerField().load(std::memory_order_acquire) == nullptr;
}

}  // namespace

bool VJSONCloner::IsHeldOnce(const VJSONValue& source)
{
	if (const VJSONObject* object = source.GetObject())
		return IsHeldOnceContainer(object);
	if (const VJSONArray* array = source.GetArray())
		return IsHeldOnceContainer(array);
	return false;
}

template <class Container>
VError CloneContainer(const Container* source, VJSONValue& out, VJSONCloner& cloner)
{
	std::map<const void*, VJSONValue>& clones = cloner.fClones;
	if (source == nullptr)
	{
		out.SetUndefined();
		return VE_OK;
	}
	// A container held once, by the container being copied, cannot be met again, neither twice in the tree
	// nor through a cycle (every cycle reached holds one container held twice, which is recorded): its copy
	// needs no entry. Shared containers may gain holders meanwhile and are always recorded.
	if (IsHeldOnceContainer(source))
	{
		if (VError error = JSONCheckNesting(cloner.fDepth); error != VE_OK)
		{
			out.SetUndefined();
			return error;
		}
		// Made aside: out may hold the source's only reference.
		VJSONValue copy;
		++cloner.fDepth;
		const VError error = source->Clone(copy, cloner);
		--cloner.fDepth;
		out = std::move(copy);
		return error;
	}
	VJSONValue* entry = nullptr;
	try
	{
		auto inserted = clones.try_emplace(source, JSON_undefined);
		entry = &inserted.first->second;
		if (!inserted.second)
		{
			out = *entry;
			return VE_OK;
		}
	}
	catch (const std::bad_alloc&)
	{
		out.SetUndefined();
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	if (VError error = JSONCheckNesting(cloner.fDepth); error != VE_OK)
	{
		out.SetUndefined();
		return error;
	}
	// The entry holds the copy before its contents are copied, so that a cycle back to source finds it.
	// Map nodes do not move, so the entry stays valid while further copies are added.
	++cloner.fDepth;
	const VError error = source->Clone(*entry, cloner);
	--cloner.fDepth;
	out = *entry;
	return error;
}

VJSONCloner::VJSONCloner(uint32 mode) : fMode(mode) {}

VJSONCloner::~VJSONCloner()
{
	if (fLocker != nullptr)
		fLocker->Release();
}

VError VJSONCloner::CloneObject(const VJSONObject* source, VJSONValue& out)
{
	return CloneContainer(source, out, *this);
}

VError VJSONCloner::CloneArray(const VJSONArray* source, VJSONValue& out)
{
	return CloneContainer(source, out, *this);
}

VError VJSONCloner::CloneValue(VJSONValue& value)
{
	if (const VJSONObject* object = value.GetObject())
		return CloneObject(object, value);
	if (const VJSONArray* array = value.GetArray())
		return CloneArray(array, value);
	return VE_OK;
}

VStorageLocker* VJSONCloner::GetStorageLockerAndAssignIfNecessary()
{
	if (fLocker == nullptr)
	{
		fLocker = new (std::nothrow) VStorageLocker();
		if (fLocker == nullptr)
			_ThrowError(VE_MEMORY_FULL);
	}
	else if (fLocker->IsProvisional())
	{
		fLocker->SetEstablished();
	}
	return fLocker;
}

void VJSONCloner::SetStorageLocker(VStorageLocker* locker)
{
	if (locker == fLocker)
		return;
	if (locker != nullptr)
		locker->Retain();
	VStorageLocker* former = fLocker;
	fLocker = locker;
	if (former != nullptr)
		former->Release();
}

}  // namespace velk
