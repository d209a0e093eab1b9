#include "kernel/json/VStorageLocker.h"

#include <chrono>
#include <new>
#include <thread>
#include <unordered_set>
#include <vector>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/VTask.h"

namespace velk {

std::atomic<uint32> VStorageLocker::sNextID{1};

VStorageLocker::VStorageLocker() : fID(sNextID.fetch_add(1, std::memory_order_relaxed)) {}

VStorageLocker::~VStorageLocker() = default;

bool VStorageLocker::_TakeIfFree(int32 taskID)
{
	if (fUser != taskID && fUser != 0)
		return false;
	++fUseCount;
	fUser = taskID;
	return true;
}

bool VStorageLocker::Use()
{
	VTask* task = VTask::GetCurrent();
	const int32 taskID = VTask::GetCurrentID();
	for (;;)
	{
		fSection.Lock();
		if (_TakeIfFree(taskID))
		{
			fSection.Unlock();
			return true;
		}
		bool listed = false;
		if (task != nullptr)
		{
			try
			{
				fWaiting.insert(task);
				listed = true;
			}
			catch (const std::bad_alloc&)
			{
				// Unlisted, nobody will wake this task: it polls instead.
			}
		}
		fSection.Unlock();

		// Never wait holding the section: the user needs it to give the locker up.
		if (listed)
			VTask::WaitAndExecuteMessages();
		else
			std::this_thread::sleep_for(std::chrono::milliseconds(1));

		fSection.Lock();
		if (task != nullptr)
			fWaiting.erase(task);
		fSection.Unlock();
		if (task != nullptr && task->GetState() >= eTaskStateDying)
			return false;
	}
}

bool VStorageLocker::TryToUse()
{
	if (!fSection.TryToLock())
		return false;
	const bool taken = _TakeIfFree(VTask::GetCurrentID());
	fSection.Unlock();
	return taken;
}

void VStorageLocker::EndUse()
{
	StLocker section(&fSection);
	if (fUser != VTask::GetCurrentID() || fUseCount <= 0)
		return;
	if (--fUseCount == 0)
	{
		fUser = 0;
		for (VTask* waiting : fWaiting)
			waiting->SetMessageQueueEvent();
	}
}

bool VStorageLocker::IsUsedByCurrentTask()
{
	StLocker section(&fSection);
	return fUseCount > 0 && fUser == VTask::GetCurrentID();
}

int32 VStorageLocker::GetUser()
{
	StLocker section(&fSection);
	return fUser;
}

int32 VStorageLocker::GetUseCount()
{
	StLocker section(&fSection);
	return fUseCount;
}

int32 VStorageLocker::GetSharedID() const
{
	const int32 id = int32(fID);
	return (IsProvisional() || IsContainersOnly()) ? -id : id;
}

namespace {

VStorageLocker* LockerOf(const VJSONContainer& container)
{
	if (const auto* object = std::get_if<VJSONObject*>(&container))
		return *object != nullptr ? (*object)->_GetLockerField().load(std::memory_order_acquire) : nullptr;
	VJSONArray* array = std::get<VJSONArray*>(container);
	return array != nullptr ? array->_GetLockerField().load(std::memory_order_acquire) : nullptr;
}

void SetLockerOf(const VJSONContainer& container, VStorageLocker* locker)
{
	if (const auto* object = std::get_if<VJSONObject*>(&container))
	{
		if (*object != nullptr)
			(*object)->_SetStorageLocker(locker);
	}
	else if (VJSONArray* array = std::get<VJSONArray*>(container))
	{
		array->_SetStorageLocker(locker);
	}
}

}  // namespace

bool VStorageLocker::Assign(const VJSONContainer& container, VStorageLocker* containerLocker,
	const VJSONContainer& value, VStorageLocker* valueLocker)
{
	if (containerLocker == nullptr)
		return true;
	const bool valueIsArray = std::holds_alternative<VJSONArray*>(value);
	if (valueLocker == nullptr)
	{
		if (!valueIsArray)
		{
			VJSONObject* object = std::get<VJSONObject*>(value);
			if (object != nullptr && object->GetImplementation() != nullptr)
			{
				bool flag = false;
				if (object->GetImplementation()->IJSON_IsSharable(object, flag) && !flag)
					return true;
			}
		}
		_ThrowError(VE_JSON_NOT_SHARABLE);
		return false;
	}
	if (containerLocker->IsContainersOnly())
		return true;
	if (!valueLocker->IsProvisional())
	{
		if (!containerLocker->IsProvisional())
		{
			if (containerLocker == valueLocker)
				return true;
			_ThrowError(valueIsArray ? VE_JSON_ARRAY_UNDER_OTHER_LOCKER : VE_JSON_OBJECT_UNDER_OTHER_LOCKER);
			return false;
		}
		SetLockerOf(container, valueLocker);
		return true;
	}
	{
		StLocker section(&valueLocker->fSection);
		if (valueLocker->fUser != 0 && valueLocker->fUser != VTask::GetCurrentID())
		{
			_ThrowError(VE_JSON_LOCKER_USED_ELSEWHERE);
			return false;
		}
	}
	containerLocker->SetEstablished();
	SetLockerOf(value, containerLocker);
	return true;
}

bool VStorageLocker::Assign(const VJSONContainer& container, VStorageLocker* containerLocker, const VJSONValue& value)
{
	if (VJSONObject* object = value.GetObject())
		return Assign(container, containerLocker, VJSONContainer(object), LockerOf(VJSONContainer(object)));
	if (VJSONArray* array = value.GetArray())
		return Assign(container, containerLocker, VJSONContainer(array), LockerOf(VJSONContainer(array)));
	return true;
}

VRefPtr<VStorageLocker> LoadLockerFromField(const std::atomic<VStorageLocker*>& field)
{
	StGraphLocker graph(field.load(std::memory_order_acquire) != nullptr);
	return VRefPtr<VStorageLocker>(field.load(std::memory_order_acquire));
}

void StoreLockerInField(std::atomic<VStorageLocker*>& field, VStorageLocker* locker)
{
	if (locker != nullptr)
		locker->Retain();
	if (VStorageLocker* old = field.exchange(locker, std::memory_order_acq_rel))
		old->Release();
}

int32 GetSharedIDOfField(const std::atomic<VStorageLocker*>& field)
{
	StGraphLocker graph(field.load(std::memory_order_acquire) != nullptr);
	VStorageLocker* locker = field.load(std::memory_order_acquire);
	if (locker == nullptr)
		return 0;
	StLocker section(&locker->GetCriticalSection());
	return locker->GetSharedID();
}

void StoreJSONStampInField(std::atomic<VJSONStamp*>& field, VJSONStamp* stamp, bool sharedGraph)
{
	StGraphLocker graph(sharedGraph);
	if (stamp != nullptr)
		stamp->Retain();
	if (VJSONStamp* old = field.exchange(stamp, std::memory_order_acq_rel))
		old->Release();
}

VRefPtr<VJSONStamp> LoadJSONStampFromField(const std::atomic<VJSONStamp*>& field, bool sharedGraph)
{
	StGraphLocker graph(sharedGraph);
	return VRefPtr<VJSONStamp>(field.load(std::memory_order_acquire));
}

namespace {

// One container of a walk: an object or an array, the other null.
struct WalkedContainer
{
	VJSONObject* fObject;
	VJSONArray* fArray;
};

// Appends the containers the container's values hold, in their order, taken without locking.
void PushChildren(const WalkedContainer& container, std::vector<WalkedContainer>& pending)
{
	std::vector<VJSONValue> values;
	if (container.fObject != nullptr)
		container.fObject->_GetValuesInOrder(values);
	else
		values.assign(container.fArray->_GetElements().begin(), container.fArray->_GetElements().end());
	for (auto value = values.rbegin(); value != values.rend(); ++value)
	{
		if (value->GetObject() != nullptr || value->GetArray() != nullptr)
			pending.push_back(WalkedContainer{value->GetObject(), value->GetArray()});
	}
}

VStorageLocker* LockerOf(const WalkedContainer& container)
{
	return container.fObject != nullptr ? container.fObject->_GetLockerField().load(std::memory_order_acquire)
										: container.fArray->_GetLockerField().load(std::memory_order_acquire);
}

}  // namespace

bool CanTreeMakeShared(const VJSONObject* object, const VJSONArray* array, VStorageLocker* locker)
{
	try
	{
		std::unordered_set<const void*> visited;
		std::vector<WalkedContainer> pending{WalkedContainer{const_cast<VJSONObject*>(object), const_cast<VJSONArray*>(array)}};
		while (!pending.empty())
		{
			const WalkedContainer next = pending.back();
			pending.pop_back();
			if (VStorageLocker* own = LockerOf(next))
			{
				if (own != locker && !own->IsProvisional())
					return false;
				continue;
			}
			if (next.fObject != nullptr && next.fObject->GetImplementation() != nullptr)
			{
				bool flag = false;
				if (!next.fObject->GetImplementation()->IJSON_IsSharable(next.fObject, flag))
					return false;
				continue;
			}
			// A container met again is already being asked.
			if (!visited.insert(next.fObject != nullptr ? static_cast<const void*>(next.fObject) : next.fArray).second)
				continue;
			PushChildren(next, pending);
		}
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

void SetTreeLockerDeep(VJSONObject* object, VJSONArray* array, VStorageLocker* locker)
{
	// The containers to change are listed first, so that a list that cannot grow changes nothing.
	std::vector<WalkedContainer> changing;
	try
	{
		std::unordered_set<const void*> listed;
		std::vector<WalkedContainer> pending{WalkedContainer{object, array}};
		while (!pending.empty())
		{
			const WalkedContainer next = pending.back();
			pending.pop_back();
			if (LockerOf(next) == locker
				|| !listed.insert(next.fObject != nullptr ? static_cast<const void*>(next.fObject) : next.fArray).second)
				continue;
			changing.push_back(next);
			PushChildren(next, pending);
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	for (const WalkedContainer& container : changing)
	{
		if (container.fObject != nullptr)
			container.fObject->_SetStorageLocker(locker);
		else
			container.fArray->_SetStorageLocker(locker);
	}
}

void MakeValueSharedIfNecessary(VStorageLocker* containerLocker, VJSONValue& value)
{
	if (containerLocker == nullptr)
		return;
	VJSONObject* object = value.GetObject();
	VJSONArray* array = value.GetArray();
	if (object == nullptr && array == nullptr)
		return;
	{
		StGraphLocker graph;
		if (CanTreeMakeShared(object, array, containerLocker))
			SetTreeLockerDeep(object, array, containerLocker);
	}
	containerLocker->SetEstablished();
}

VCriticalSection& StGraphLocker::GetMutex()
{
	static VCriticalSection sMutex;
	return sMutex;
}

StGraphLocker::StGraphLocker(bool take) : fTaken(take)
{
	if (fTaken)
		GetMutex().Lock();
}

StGraphLocker::~StGraphLocker()
{
	if (fTaken)
		GetMutex().Unlock();
}

VJSONReadLock::VJSONReadLock(const std::atomic<VStorageLocker*>& lockerField)
{
	if (lockerField.load(std::memory_order_acquire) == nullptr)
		return;
	StGraphLocker::GetMutex().Lock();
	// Read again under the mutex, which guards every change of a shared container's locker.
	fLocker = lockerField.load(std::memory_order_acquire);
	if (fLocker != nullptr)
		fLocker->GetCriticalSection().Lock();
	else
		StGraphLocker::GetMutex().Unlock();
}

VJSONReadLock::~VJSONReadLock()
{
	if (fLocker != nullptr)
	{
		fLocker->GetCriticalSection().Unlock();
		StGraphLocker::GetMutex().Unlock();
	}
}

VJSONReadWriteLock::VJSONReadWriteLock(const std::atomic<VStorageLocker*>& lockerField, bool alsoGlobal)
{
	fGlobal = alsoGlobal || lockerField.load(std::memory_order_acquire) != nullptr;
	if (!fGlobal)
		return;
	StGraphLocker::GetMutex().Lock();
	fLocker = lockerField.load(std::memory_order_acquire);
	if (fLocker != nullptr)
	{
		fLocker->Retain();
		fLocker->GetCriticalSection().Lock();
	}
}

VJSONReadWriteLock::~VJSONReadWriteLock()
{
	if (fLocker != nullptr)
	{
		fLocker->GetCriticalSection().Unlock();
		fLocker->Release();
	}
	if (fGlobal)
		StGraphLocker::GetMutex().Unlock();
}

VJSONUser::VJSONUser(VRefPtr<VStorageLocker>&& locker, bool tryOnly) : fLocker(std::move(locker))
{
	_Start(tryOnly);
}

VJSONUser::VJSONUser(const VJSONObject* object, bool tryOnly)
{
	if (object != nullptr)
	{
		StGraphLocker graph;
		fLocker.Set(object->_GetLockerField().load(std::memory_order_acquire));
	}
	_Start(tryOnly);
}

VJSONUser::VJSONUser(const VJSONArray* array, bool tryOnly)
{
	if (array != nullptr)
	{
		StGraphLocker graph;
		fLocker.Set(array->_GetLockerField().load(std::memory_order_acquire));
	}
	_Start(tryOnly);
}

VJSONUser::VJSONUser(const VJSONValue& value, bool tryOnly)
{
	{
		StGraphLocker graph;
		if (const VJSONObject* object = value.GetObject())
			fLocker.Set(object->_GetLockerField().load(std::memory_order_acquire));
		else if (const VJSONArray* array = value.GetArray())
			fLocker.Set(array->_GetLockerField().load(std::memory_order_acquire));
	}
	_Start(tryOnly);
}

void VJSONUser::_Start(bool tryOnly)
{
	if (!fLocker)
	{
		fInUse = true;
		return;
	}
	fInUse = tryOnly ? fLocker->TryToUse() : fLocker->Use();
}

VJSONUser::~VJSONUser()
{
	if (fInUse && fLocker)
		fLocker->EndUse();
}

}  // namespace velk
