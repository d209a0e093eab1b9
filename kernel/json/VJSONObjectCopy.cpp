// Copying and comparing objects: merging another object's properties, the deep copy through a cloner and
// the deep comparison.
#include "kernel/json/VJSONObject.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/values/VCompareOptions.h"

namespace velk {

VError VJSONObject::MergeWith(const VJSONObject* other, bool onlyMissing)
{
	if (other == nullptr || other == this)
		return VE_OK;
	std::vector<std::pair<VString, VJSONValue>> properties;
	try
	{
		VJSONReadLock lock(other->fLocker);
		properties.reserve(other->fProperties.Count());
		other->fProperties.ForEach([&properties](const VJSONPropertyTable::Entry& entry) {
			properties.emplace_back(entry.GetName(), entry.fValue);
		});
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	for (const auto& property : properties)
	{
		if (!onlyMissing || !HasOwnProperty(property.first))
			SetProperty(property.first, property.second, nullptr);
	}
	return VE_OK;
}

VError VJSONObject::Clone(VJSONValue& out, VJSONCloner& cloner) const
{
	if (cloner.GetMode() == VJSONCloner::kKeepShared && IsShared())
	{
		out.SetObject(const_cast<VJSONObject*>(this));
		return VE_OK;
	}
	VRefPtr<IJSONObject> implementation;
	bool shared = false;
	if (fImplementation != nullptr)
	{
		uint64 error = VE_OK;
		const EJSONStatus status = fImplementation->IJSON_CloneImpl(this, cloner, implementation, &shared, &error);
		if (status == eJSONStatusNotHandled)
		{
			const EJSONStatus whole = fImplementation->IJSON_Clone(this, cloner, out, &error);
			if (whole != eJSONStatusNotHandled)
				return whole == eJSONStatusHandled ? VError(error) : JSONFailureError(error);
		}
		else if (status != eJSONStatusHandled)
		{
			return JSONFailureError(error);
		}
	}
	// Without implementation the copy is made with room for the properties in its own block.
	VJSONObject* copy = implementation || shared
		? new (std::nothrow) VJSONObject(GetClassObject(), implementation.Get(), shared)
		: _NewWithRoom(GetClassObject(), nullptr, fProperties.Count());
	if (copy == nullptr)
	{
		// The room's maker has raised its error already.
		if (implementation || shared)
			_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	if (fClass == nullptr)
		copy->_SetClass(nullptr);
	copy->fClassKind = fClassKind;
	if (!cloner.PlaceCopy(copy))
		return VE_MEMORY_FULL;
	// The copy is in place before its properties are copied, so that a cycle back here finds it.
	out._AdoptObject(copy);
	VJSONUser user(copy->GetStorageLocker(), false);
	return CloneProperties(cloner, copy);
}

VError VJSONObject::CloneProperties(VJSONCloner& cloner, VJSONObject* target) const
{
	if (target == nullptr)
		return VE_OK;
	// A new copy has nothing to clear (and no stamp to raise).
	if (!target->fProperties.IsEmpty() || target->fStamp.load(std::memory_order_acquire) != nullptr
		|| target->fLocker.load(std::memory_order_acquire) != nullptr)
		target->ClearInternalProperties();
	// An unshared object is walked in place; a shared one is read once under its lock and walked from a
	// snapshot, so that no lock is held while the copies of its values are made.
	const bool shared = fLocker.load(std::memory_order_acquire) != nullptr;
	VJSONPropertyTable snapshot;
	try
	{
		if (shared)
		{
			VJSONReadLock lock(fLocker);
			snapshot.Reserve(fProperties.Count());
			fProperties.ForEach([&snapshot](const VJSONPropertyTable::Entry& entry) {
				snapshot.AppendSharingName(entry, VJSONValue(entry.fValue));
			});
		}
		VJSONReadWriteLock lock(target->fLocker, target->IsSharedGraph());
		target->fProperties.Reserve(fProperties.Count());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	VError error = VE_OK;
	(shared ? snapshot : fProperties).ForEach([&](const VJSONPropertyTable::Entry& entry) {
		if (error != VE_OK)
			return;
		const VJSONValue& value = entry.fValue;
		VJSONValue copy;
		// A copy of a container held more than once may be met again, even be an owner above: it is linked.
		bool fresh = true;
		if (value.GetObject() != nullptr || value.GetArray() != nullptr)
		{
			fresh = VJSONCloner::IsHeldOnce(value);
			error = value.GetObject() != nullptr ? cloner.CloneObject(value.GetObject(), copy)
												 : cloner.CloneArray(value.GetArray(), copy);
			if (error != VE_OK)
				return;
		}
		else
		{
			copy = value;
		}
		const bool stored = fresh ? target->_SetNewOwnProperty(entry, std::move(copy)) : target->SetOwnProperty(entry.GetName(), copy);
		// A shared copy refuses the pseudo property "__LockerID" without an error: it is left out.
		if (!stored && !target->_IsLockerID(entry.GetName()))
			error = JSONFailureError(VE_OK);
	});
	return error;
}

StJSONComparedPair::StJSONComparedPair(VJSONComparedPairs& pairs, const void* a, const void* b) : fPairs(pairs)
{
	fMetAgain = !fPairs.fPairs.emplace(a, b).second;
	if (fMetAgain)
		return;
	fTooDeep = JSONCheckNesting(fPairs.fDepth) != VE_OK;
	fEntered = !fTooDeep;
	if (fEntered)
		++fPairs.fDepth;
}

StJSONComparedPair::~StJSONComparedPair()
{
	if (fEntered)
		--fPairs.fDepth;
}

bool VJSONObject::DeepEqualTo(const VJSONObject* other, const VCompareOptions& options) const
{
	return DeepEqualContainers(*this, other, options);
}

bool VJSONObject::_DeepEqualTo(const VJSONObject* other, const VCompareOptions& options, VJSONComparedPairs& pairs) const
{
	if (other == this)
		return true;
	if (other == nullptr)
		return false;
	VJSONReadLock lockThis(fLocker);
	VJSONReadLock lockOther(other->fLocker);
	if (fImplementation != nullptr)
	{
		bool equal = false;
		if (fImplementation->IJSON_DeepEqualTo(this, other, &equal) != eJSONStatusNotHandled)
			return equal;
	}
	const StJSONComparedPair level(pairs, this, other);
	if (level.IsMetAgain())
		return true;
	if (level.IsTooDeep())
		return false;
	if (fProperties.Count() != other->fProperties.Count())
		return false;
	bool equal = true;
	fProperties.ForEach([&](const VJSONPropertyTable::Entry& entry) {
		if (!equal)
			return;
		const VJSONPropertyTable::Entry* found = other->fProperties.Find(entry.GetNameUnits(), entry.GetNameLength());
		if (found == nullptr)
		{
			equal = false;
			return;
		}
		const VJSONValue& a = entry.fValue;
		const VJSONValue& b = found->fValue;
		if (a.GetType() != b.GetType())
			equal = false;
		else if (a.GetObject() != nullptr && b.GetObject() != nullptr)
			equal = a.GetObject()->_DeepEqualTo(b.GetObject(), options, pairs);
		else if (a.GetArray() != nullptr && b.GetArray() != nullptr)
			equal = a.GetArray()->_DeepEqualTo(b.GetArray(), options, pairs);
		else
			equal = a.CompareTo(b, options) == CR_EQUAL;
	});
	return equal;
}

}  // namespace velk
