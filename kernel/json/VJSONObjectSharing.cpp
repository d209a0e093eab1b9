// An object's shared storage and stamps: its storage locker, joining a locker with the tree below it, and
// the change stamps of the object and of its properties.
#include "kernel/json/VJSONObject.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/classes/VJSONClass.h"

namespace velk {

VRefPtr<VStorageLocker> VJSONObject::GetStorageLocker() const
{
	return LoadLockerFromField(fLocker);
}

void VJSONObject::SetStorageLocker(VStorageLocker* locker)
{
	StGraphLocker graph(IsSharedGraph());
	_SetStorageLocker(locker);
}

void VJSONObject::_SetStorageLocker(VStorageLocker* locker)
{
	StoreLockerInField(fLocker, locker);
	if (locker != nullptr)
		MakeGraphShared();
}

void VJSONObject::_SetStorageLockerDeep(VStorageLocker* locker)
{
	SetTreeLockerDeep(this, nullptr, locker);
}

bool VJSONObject::_CanMakeShared(VStorageLocker* locker) const
{
	return CanTreeMakeShared(this, nullptr, locker);
}

void VJSONObject::MakeValueSharedIfNecessary(VJSONValue& value)
{
	velk::MakeValueSharedIfNecessary(fLocker.load(std::memory_order_acquire), value);
}

int32 VJSONObject::GetSharedID() const
{
	return GetSharedIDOfField(fLocker);
}

void VJSONObject::SetJSONStamp(VJSONStamp* stamp)
{
	StoreJSONStampInField(fStamp, stamp, IsSharedGraph());
	if (fImplementation != nullptr)
		fImplementation->IJSON_SetJSONStamp(stamp);
}

VRefPtr<VJSONStamp> VJSONObject::GetJSONStamp() const
{
	return LoadJSONStampFromField(fStamp, IsSharedGraph());
}

uint32 VJSONObject::GetPropertyStamp(const VString& name) const
{
	uint32 stamp = 0;
	if (fImplementation != nullptr && fImplementation->IJSON_GetPropertyStamp(name, &stamp) != eJSONStatusNotHandled)
		return stamp;
	if (fClass != nullptr && fClass->GetGetter(name))
	{
		// A computed property changes with the object: its stamp is the object's.
		if (GetJSONStampPointer() == nullptr)
		{
			VJSONStamp* created = new (std::nothrow) VJSONStamp;
			if (created == nullptr)
			{
				_ThrowError(VE_MEMORY_FULL);
				return 0;
			}
			const_cast<VJSONObject*>(this)->SetJSONStamp(created);
			created->Release();
		}
		VJSONStamp* objectStamp = GetJSONStampPointer();
		return objectStamp != nullptr ? objectStamp->GetCounter() : 0;
	}
	VJSONReadLock lock(fLocker);
	const VJSONPropertyTable::Entry* found = fProperties.Find(name);
	return found == nullptr ? 0 : found->fValue.GetStamp();
}

void VJSONObject::TouchPropertyStamp(const VString& name)
{
	VJSONReadLock lock(fLocker);
	if (fImplementation != nullptr && fImplementation->IJSON_TouchPropertyStamp(name) != eJSONStatusNotHandled)
		return;
	if (VJSONStamp* stamp = fStamp.load(std::memory_order_acquire))
		stamp->Increment();
	if (VJSONPropertyTable::Entry* found = fProperties.Find(name))
		found->fValue.TouchStamp();
}

}  // namespace velk
