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
		properties.reserve(other->fProperties.size());
		for (const auto* entry : other->_OrderedEntries())
			properties.emplace_back(entry->first, entry->second.first);
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
	VJSONObject* copy = new (std::nothrow) VJSONObject(GetClassObject(), implementation.Get(), shared);
	if (copy == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	if (fClass == nullptr)
		copy->_SetClass(nullptr);
	copy->fClassKind = fClassKind;
	if (!cloner.PlaceCopy(copy))
		return VE_MEMORY_FULL;
	// The copy is in place before its properties are copied, so that a cycle back here finds it.
	out.SetObject(copy);
	copy->Release();
	VJSONUser user(copy->GetStorageLocker(), false);
	return CloneProperties(cloner, copy);
}

VError VJSONObject::CloneProperties(VJSONCloner& cloner, VJSONObject* target) const
{
	if (target == nullptr)
		return VE_OK;
	target->ClearInternalProperties();
	// An unshared object is walked in place; a shared one is read once under its lock and walked from a
	// snapshot, so that no lock is held while the copies of its values are made.
	const bool shared = fLocker.load(std::memory_order_acquire) != nullptr;
	std::vector<const PropertyMap::value_type*> entries;
	std::vector<std::pair<VString, VJSONValue>> snapshot;
	try
	{
		{
			VJSONReadLock lock(fLocker);
			entries = _OrderedEntries();
			if (shared)
			{
				snapshot.reserve(entries.size());
				for (const auto* entry : entries)
					snapshot.emplace_back(entry->first, entry->second.first);
				entries.clear();
			}
		}
		VJSONReadWriteLock lock(target->fLocker, target->IsSharedGraph());
		target->fProperties.reserve(shared ? snapshot.size() : entries.size());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	const size_t count = shared ? snapshot.size() : entries.size();
	for (size_t i = 0; i < count; ++i)
	{
		const VString& name = shared ? snapshot[i].first : entries[i]->first;
		const VJSONValue& value = shared ? snapshot[i].second : entries[i]->second.first;
		VJSONValue copy;
		const VJSONValue* stored = &value;
		if (value.GetObject() != nullptr || value.GetArray() != nullptr)
		{
			const VError error = value.GetObject() != nullptr ? cloner.CloneObject(value.GetObject(), copy)
															  : cloner.CloneArray(value.GetArray(), copy);
			if (error != VE_OK)
				return error;
			stored = &copy;
		}
		// A shared copy refuses the pseudo property "__LockerID" without an error: it is left out.
		if (!target->SetOwnProperty(name, *stored) && !target->_IsLockerID(name))
			return JSONFailureError(VE_OK);
	}
	return VE_OK;
}

bool VJSONObject::DeepEqualTo(const VJSONObject* other, const VCompareOptions& options) const
{
	try
	{
		VJSONComparedPairs pairs;
		return _DeepEqualTo(other, options, pairs);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
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
	// A pair already under comparison further up is taken as equal; the rest of the walk decides.
	if (!pairs.fPairs.emplace(this, other).second)
		return true;
	if (JSONCheckNesting(pairs.fDepth) != VE_OK)
		return false;
	++pairs.fDepth;
	struct StLeave
	{
		uint32& fDepth;
		~StLeave() { --fDepth; }
	} leave{pairs.fDepth};
	if (fProperties.size() != other->fProperties.size())
		return false;
	for (const auto& entry : fProperties)
	{
		auto found = other->fProperties.find(entry.first);
		if (found == other->fProperties.end())
			return false;
		const VJSONValue& a = entry.second.first;
		const VJSONValue& b = found->second.first;
		if (a.GetType() != b.GetType())
			return false;
		bool equal;
		if (a.GetObject() != nullptr && b.GetObject() != nullptr)
			equal = a.GetObject()->_DeepEqualTo(b.GetObject(), options, pairs);
		else if (a.GetArray() != nullptr && b.GetArray() != nullptr)
			equal = a.GetArray()->_DeepEqualTo(b.GetArray(), options, pairs);
		else
			equal = a.CompareTo(b, options) == CR_EQUAL;
		if (!equal)
			return false;
	}
	return true;
}

}  // namespace velk
