// What a task carries for the code it runs: errors, international settings, task-local data, JSON
// objects to terminate and the host's task record.
#include "runtime/VTask.h"

#include <new>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VProcess.h"

namespace velk {

VErrorTaskContext* VTask::GetErrorContext(bool createIfMissing)
{
	if (fErrorContext == nullptr && createIfMissing)
		fErrorContext = new (std::nothrow) VErrorTaskContext;
	return fErrorContext;
}

bool VTask::PushError(VErrorBase* error)
{
	VTask* task = GetCurrent();
	if (task == nullptr || error == nullptr)
		return false;
	VErrorTaskContext* context = task->GetErrorContext(true);
	if (context == nullptr)
		return false;
	bool silent = false;
	bool stored = context->PushError(error, &silent);
	if (stored && !silent)
		task->_ReportErrorThrown(error);
	return stored;
}

bool VTask::PushRetainedError(VErrorBase* error)
{
	bool stored = PushError(error);
	if (error != nullptr)
		error->Release();
	return stored;
}

bool VTask::PushErrors(const VErrorContext* context)
{
	VTask* task = GetCurrent();
	if (task == nullptr || context == nullptr || context->IsEmpty())
		return false;
	VErrorTaskContext* taskContext = task->GetErrorContext(true);
	if (taskContext == nullptr)
		return false;
	taskContext->PushErrorsFromContext(context);
	return true;
}

void VTask::_ReportErrorThrown(VErrorBase* error)
{
	// The one place where an error that no scope silenced reaches the debug manager, which logs it.
	VDebugMgr::Get()->ErrorThrown(error);
}

void VTask::FlushErrors()
{
	VTask* task = GetCurrent();
	if (task != nullptr && task->fErrorContext != nullptr)
		task->fErrorContext->Flush();
}

VError VTask::GetLastError()
{
	VTask* task = GetCurrent();
	if (task == nullptr || task->fErrorContext == nullptr)
		return VE_OK;
	return task->fErrorContext->GetLastError();
}

bool VTask::FailedForMemory()
{
	VTask* task = GetCurrent();
	return task != nullptr && task->fErrorContext != nullptr && task->fErrorContext->FailedForMemory();
}

VIntlMgr* VTask::GetCurrentIntlManager()
{
	VTask* task = GetCurrent();
	if (task != nullptr && task->fIntlMgr != nullptr)
		return task->fIntlMgr;
	VProcess* process = VProcess::sInstance;
	return process != nullptr ? process->GetIntlManager() : nullptr;
}

void VTask::SetCurrentIntlManager(VIntlMgr* manager)
{
	VTask* task = GetCurrent();
	if (task == nullptr || manager == nullptr)
		return;
	manager->Retain();
	VIntlMgr* old = task->fIntlMgr;
	task->fIntlMgr = manager;
	if (old != nullptr)
		old->Release();
}

bool VTask::SetCurrentDialectCode(uint32 dialect, uint32 options)
{
	if (GetCurrent() == nullptr)
		return false;
	VIntlMgr* manager = VIntlMgr::Create(dialect, dialect, uint8(options));
	if (manager == nullptr)
		return false;
	SetCurrentIntlManager(manager);
	manager->Release();
	return true;
}

uint32 VTask::GetDialectCode()
{
	VIntlMgr* manager = GetCurrentIntlManager();
	return manager != nullptr ? manager->GetDialectCode() : 0;
}

UniChar VTask::GetWildChar()
{
	VIntlMgr* manager = GetCurrentIntlManager();
	return manager != nullptr ? manager->GetWildChar() : UniChar('@');
}

void VTask::SetCurrentData(int32 key, void* value)
{
	VTask* task = GetCurrent();
	if (task == nullptr)
		return;
	uint32 generation = 0;
	{
		VTaskMgr::StMutexLocker locker(task->fManager);
		if (!task->fManager->_GetDataKey(key, generation, nullptr))
			return;
	}
	try
	{
		if (task->fDataSlots.size() < size_t(key))
			task->fDataSlots.resize(size_t(key), DataSlot{nullptr, 0});
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	task->fDataSlots[size_t(key) - 1] = DataSlot{value, generation};
}

void* VTask::GetCurrentData(int32 key)
{
	VTask* task = GetCurrent();
	if (task == nullptr || key <= 0 || size_t(key) > task->fDataSlots.size())
		return nullptr;
	const DataSlot& slot = task->fDataSlots[size_t(key) - 1];
	if (slot.fValue == nullptr)
		return nullptr;
	uint32 generation = 0;
	VTaskMgr::StMutexLocker locker(task->fManager);
	// A value kept for a key deleted since, and perhaps made again, is not this key's.
	if (!task->fManager->_GetDataKey(key, generation, nullptr) || generation != slot.fGeneration)
		return nullptr;
	return slot.fValue;
}

void VTask::DisposeAllData()
{
	if (VTask* task = GetCurrent())
		task->_DisposeData();
}

void VTask::_DisposeData()
{
	for (size_t i = 0; i < fDataSlots.size(); ++i)
	{
		DataSlot slot = fDataSlots[i];
		fDataSlots[i] = DataSlot{nullptr, 0};
		if (slot.fValue == nullptr)
			continue;
		uint32 generation = 0;
		void (*destructor)(void*) = nullptr;
		{
			VTaskMgr::StMutexLocker locker(fManager);
			if (!fManager->_GetDataKey(int32(i + 1), generation, &destructor) || generation != slot.fGeneration)
				destructor = nullptr;
		}
		if (destructor != nullptr)
			destructor(slot.fValue);
	}
}

void VTask::RegisterJSONObject(VJSONObject* object, VJSONObjectTerminator&& terminator)
{
	VTask* task = GetCurrent();
	if (task == nullptr || object == nullptr)
		return;
	try
	{
		task->fJSONObjects.try_emplace(object, std::move(terminator));
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

void VTask::UnregisterJSONObject(VJSONObject* object)
{
	VTask* task = GetCurrent();
	if (task == nullptr || object == nullptr)
		return;
	auto found = task->fJSONObjects.find(object);
	if (found == task->fJSONObjects.end())
		return;
	// The terminator may hold the last reference: the object outlives its erasure.
	VRefPtr<VJSONObject> keep(object);
	task->fJSONObjects.erase(found);
}

void VTask::TerminateJSONObjects(VDBLanguageContext* context)
{
	// On a copy: a terminator may unregister objects.
	std::map<VJSONObject*, VJSONObjectTerminator> objects;
	try
	{
		objects = fJSONObjects;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	for (auto& [object, terminator] : objects)
	{
		if (terminator)
			terminator(object, context);
	}
}

void VTask::SetRyTask(VRyTask* ryTask, IRefCountable* owner)
{
	if (owner != nullptr)
		owner->Retain();
	IRefCountable* old;
	{
		VTaskMgr::StMutexLocker locker(fManager);
		fRyTask = ryTask;
		old = fRyTaskOwner;
		fRyTaskOwner = owner;
	}
	if (old != nullptr)
		old->Release();
}

VRyTask* VTask::GetRyTask() const
{
	VTaskMgr::StMutexLocker locker(fManager);
	return fRyTask;
}

IRefCountable* VTask::RetainRyTask() const
{
	VTaskMgr::StMutexLocker locker(fManager);
	if (fRyTaskOwner != nullptr)
		fRyTaskOwner->Retain();
	return fRyTaskOwner;
}

}  // namespace velk
