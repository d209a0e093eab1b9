#include "runtime/VComponentManager.h"

#include <new>

#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "kernel/strings/VString.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VLibrary.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

template <class T>
void Make(T*& array, bool& ok)
{
	array = new (std::nothrow) T(VComponentManager::kArrayStep);
	ok = ok && array != nullptr;
}

template <class T>
void Dispose(T*& object)
{
	delete object;
	object = nullptr;
}

}  // namespace

VArrayOf<OsType>* VComponentManager::sComponentTypes = nullptr;
VArrayOf<VComponentCreator>* VComponentManager::sComponentProcs = nullptr;
VArrayOf<VLibrary*>* VComponentManager::sComponentLibraries = nullptr;
VArrayOf<CComponent*>* VComponentManager::sComponentInstances = nullptr;
VArrayOf<OsType>* VComponentManager::sComponentChecked = nullptr;
VArrayOf<uint8>* VComponentManager::sComponentIsAvailable = nullptr;
VArrayOf<uint8>* VComponentManager::sComponentHasRequirements = nullptr;
VArrayOf<OsType>* VComponentManager::sComponentChecking = nullptr;
VCriticalSection* VComponentManager::sAccessingTypes = nullptr;
VCriticalSection* VComponentManager::sAccessingInstances = nullptr;
VCriticalSection* VComponentManager::sAccessingChecked = nullptr;
VCriticalSection* VComponentManager::sAccessingChecking = nullptr;
bool VComponentManager::sIsInitialized = false;

bool VComponentManager::Init()
{
	if (sIsInitialized)
		return true;
	bool ok = true;
	Make(sComponentTypes, ok);
	Make(sComponentProcs, ok);
	Make(sComponentLibraries, ok);
	Make(sComponentInstances, ok);
	Make(sComponentChecked, ok);
	Make(sComponentIsAvailable, ok);
	Make(sComponentHasRequirements, ok);
	Make(sComponentChecking, ok);
	sAccessingTypes = new (std::nothrow) VCriticalSection();
	sAccessingInstances = new (std::nothrow) VCriticalSection();
	sAccessingChecked = new (std::nothrow) VCriticalSection();
	sAccessingChecking = new (std::nothrow) VCriticalSection();
	ok = ok && sAccessingTypes != nullptr && sAccessingInstances != nullptr && sAccessingChecked != nullptr
		&& sAccessingChecking != nullptr;
	sIsInitialized = ok;
	if (!ok)
		DeInit();
	return sIsInitialized;
}

void VComponentManager::DeInit()
{
	sIsInitialized = false;
	// Instances first: their code may live in the libraries.
	if (sComponentInstances != nullptr)
		for (int32 pos = 1; pos <= sComponentInstances->GetCount(); ++pos)
			if (CComponent* component = sComponentInstances->GetNth(pos))
				component->Release();
	if (sComponentLibraries != nullptr)
		for (int32 pos = 1; pos <= sComponentLibraries->GetCount(); ++pos)
			if (VLibrary* library = sComponentLibraries->GetNth(pos))
				library->Release();
	Dispose(sComponentTypes);
	Dispose(sComponentProcs);
	Dispose(sComponentLibraries);
	Dispose(sComponentInstances);
	Dispose(sComponentChecked);
	Dispose(sComponentIsAvailable);
	Dispose(sComponentHasRequirements);
	Dispose(sComponentChecking);
	Dispose(sAccessingTypes);
	Dispose(sAccessingInstances);
	Dispose(sAccessingChecked);
	Dispose(sAccessingChecking);
}

int32 VComponentManager::_FindType(OsType type)
{
	return sComponentTypes->FindPos(type);
}

void VComponentManager::_RemoveTypeAt(int32 pos)
{
	if (VLibrary* library = sComponentLibraries->GetNth(pos))
		library->Release();
	sComponentTypes->DeleteNth(pos);
	sComponentProcs->DeleteNth(pos);
	sComponentLibraries->DeleteNth(pos);
}

VError VComponentManager::RegisterComponentLibrary(const VFilePath& path)
{
	if (!sIsInitialized)
	{
		_ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	}
	{
		StLocker locker(sAccessingTypes);
		for (int32 pos = 1; pos <= sComponentLibraries->GetCount(); ++pos)
		{
			VLibrary* library = sComponentLibraries->GetNth(pos);
			if (library != nullptr && library->IsSameFile(path))
			{
				_ThrowError(VE_COMPONENT_ALREADY_REGISTERED);
				return VE_COMPONENT_ALREADY_REGISTERED;
			}
		}
	}

	VLibrary* library = new (std::nothrow) VLibrary(path);
	if (library == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	if (!library->Load())
	{
		if (VFileError* error = new (std::nothrow) VFileError(path, VE_COMPONENT_LIBRARY_CANNOT_LOAD))
			VTask::PushRetainedError(error);
		library->Release();
		return VE_MEMORY_FULL;
	}
	auto libraryMain = reinterpret_cast<VComponentLibraryMain>(library->GetProcAddress(VString("Main")));
	auto getNthType = reinterpret_cast<VComponentLibraryGetNthType>(library->GetProcAddress(VString("GetNthComponentType")));
	auto create = reinterpret_cast<VComponentLibraryCreate>(library->GetProcAddress(VString("CreateComponent")));
	if (libraryMain == nullptr || getNthType == nullptr || create == nullptr)
	{
		library->Release();
		return VE_COMPONENT_LIBRARY_ENTRY_MISSING;
	}

	VError result = VE_OK;
	{
		StLocker typesLocker(sAccessingTypes);
		StLocker checkedLocker(sAccessingChecked);
		libraryMain(kCOMPONENT_LIBRARY_REGISTER, library);
		OsType type = 0;
		for (int32 index = 1; getNthType(index, type); ++index)
		{
			const int32 pos = _FindType(type);
			if (pos > 0)
			{
				if (VLibrary* former = sComponentLibraries->GetNth(pos))
					former->Release();
				sComponentLibraries->SetNth(library, pos);
			}
			else if (!sComponentLibraries->Append(library))
			{
				result = VE_MEMORY_FULL;
				break;
			}
			else if (!sComponentProcs->Append(nullptr) || !sComponentTypes->Append(type))
			{
				// Keep the three arrays parallel when memory runs out halfway.
				const int32 added = sComponentLibraries->GetCount();
				sComponentLibraries->DeleteNth(added);
				if (sComponentProcs->GetCount() == added)
					sComponentProcs->DeleteNth(added);
				result = VE_MEMORY_FULL;
				break;
			}
			library->Retain();
			ResetComponentRequirements(type, false);
		}
	}
	library->Release();
	return result;
}

void VComponentManager::_ForgetInstancesOfTypes(const VArrayOf<OsType>& types)
{
	StLocker locker(sAccessingInstances);
	for (int32 pos = sComponentInstances->GetCount(); pos >= 1; --pos)
	{
		CComponent* instance = sComponentInstances->GetNth(pos);
		if (types.Contains(instance->GetComponentType()))
		{
			sComponentInstances->DeleteNth(pos);
			instance->Release();
		}
	}
}

VError VComponentManager::UnRegisterComponentLibrary(const VFilePath& path)
{
	if (!sIsInitialized)
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	// The shared instances of its types go before the library's code may be unloaded under them. Collected
	// first, as the instances lock is not taken under the types lock.
	VArrayOf<OsType> served(kArrayStep);
	{
		StLocker locker(sAccessingTypes);
		for (int32 pos = 1; pos <= sComponentLibraries->GetCount(); ++pos)
		{
			VLibrary* library = sComponentLibraries->GetNth(pos);
			if (library != nullptr && library->IsSameFile(path))
				served.Append(sComponentTypes->GetNth(pos));
		}
	}
	_ForgetInstancesOfTypes(served);
	StLocker typesLocker(sAccessingTypes);
	StLocker checkedLocker(sAccessingChecked);
	for (int32 pos = sComponentLibraries->GetCount(); pos >= 1; --pos)
	{
		VLibrary* library = sComponentLibraries->GetNth(pos);
		if (library != nullptr && library->IsSameFile(path))
		{
			const OsType type = sComponentTypes->GetNth(pos);
			_RemoveTypeAt(pos);
			ResetComponentRequirements(type, true);
		}
	}
	return VE_OK;
}

VError VComponentManager::RegisterComponentCreator(OsType type, VComponentCreator creator, bool overwrite)
{
	if (!sIsInitialized)
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	StLocker typesLocker(sAccessingTypes);
	StLocker checkedLocker(sAccessingChecked);
	const int32 pos = _FindType(type);
	if (pos > 0)
	{
		if (!overwrite && sComponentProcs->GetNth(pos) == creator)
			return VE_COMPONENT_ALREADY_REGISTERED;
		sComponentProcs->SetNth(creator, pos);
		return VE_OK;
	}
	if (!sComponentTypes->Append(type))
		return VE_MEMORY_FULL;
	if (!sComponentProcs->Append(creator))
	{
		sComponentTypes->DeleteNth(sComponentTypes->GetCount());
		return VE_MEMORY_FULL;
	}
	if (!sComponentLibraries->Append(nullptr))
	{
		sComponentTypes->DeleteNth(sComponentTypes->GetCount());
		sComponentProcs->DeleteNth(sComponentProcs->GetCount());
		return VE_MEMORY_FULL;
	}
	ResetComponentRequirements(type, false);
	return VE_OK;
}

VError VComponentManager::UnRegisterComponentCreator(OsType type, VComponentCreator creator)
{
	if (!sIsInitialized)
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	StLocker typesLocker(sAccessingTypes);
	StLocker checkedLocker(sAccessingChecked);
	const int32 pos = _FindType(type);
	if (pos == 0)
		return VE_OK;
	if (sComponentProcs->GetNth(pos) != creator)
		return VE_COMPONENT_CREATOR_MISMATCH;
	_RemoveTypeAt(pos);
	ResetComponentRequirements(type, true);
	return VE_OK;
}

VError VComponentManager::UnRegisterComponentType(OsType type)
{
	if (!sIsInitialized)
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	VArrayOf<OsType> removed(1);
	removed.Append(type);
	_ForgetInstancesOfTypes(removed);
	StLocker typesLocker(sAccessingTypes);
	StLocker checkedLocker(sAccessingChecked);
	const int32 pos = _FindType(type);
	if (pos > 0)
	{
		_RemoveTypeAt(pos);
		ResetComponentRequirements(type, true);
	}
	return VE_OK;
}

CComponent* VComponentManager::RetainUniqueComponent(OsType type, OsType signature, bool skipCheck)
{
	if (!sIsInitialized)
		return nullptr;
	CComponent* component = nullptr;
	{
		StLocker locker(sAccessingTypes);
		const int32 pos = _FindType(type);
		if (pos == 0)
			return nullptr;
		if (VComponentCreator creator = sComponentProcs->GetNth(pos))
			component = creator(type, signature);
		else if (VLibrary* library = sComponentLibraries->GetNth(pos))
		{
			auto create = reinterpret_cast<VComponentLibraryCreate>(library->GetProcAddress(VString("CreateComponent")));
			if (create != nullptr)
				component = create(type, signature);
		}
	}
	// Checked outside the types lock: the check takes the checking lock, which is taken alone.
	if (component != nullptr && !skipCheck && !CheckComponentRequirements(component))
	{
		component->Release();
		component = nullptr;
	}
	return component;
}

CComponent* VComponentManager::RetainComponent(OsType type, OsType signature)
{
	if (!sIsInitialized)
		return nullptr;
	StLocker locker(sAccessingInstances);
	for (int32 pos = 1; pos <= sComponentInstances->GetCount(); ++pos)
	{
		CComponent* instance = sComponentInstances->GetNth(pos);
		if (instance->GetComponentType() == type
			&& (signature == kCOMPONENT_ANY_SIGNATURE || instance->GetComponentSignature() == signature))
		{
			instance->Retain();
			return instance;
		}
	}
	CComponent* component = RetainUniqueComponent(type, signature, false);
	if (component != nullptr && !sComponentInstances->Contains(component) && sComponentInstances->Append(component))
		component->Retain();
	return component;
}

bool VComponentManager::RetainComponentsOfFamily(OsType family, VArrayRetainedPtrOf<CComponent*>& components)
{
	if (!sIsInitialized)
		return false;
	VArrayOf<OsType> types(kArrayStep);
	{
		StLocker locker(sAccessingTypes);
		for (int32 pos = 1; pos <= sComponentTypes->GetCount(); ++pos)
			types.Append(sComponentTypes->GetNth(pos));
	}
	for (int32 pos = 1; pos <= types.GetCount(); ++pos)
	{
		CComponent* component = RetainComponent(types.GetNth(pos), family);
		if (component != nullptr && !components.Append(component))
			component->Release();
	}
	return true;
}

VError VComponentManager::RegisterComponentInstance(CComponent* component)
{
	if (!sIsInitialized)
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	if (component == nullptr)
		return VE_INVALID_PARAMETER;
	StLocker locker(sAccessingInstances);
	if (sComponentInstances->Contains(component))
		return VE_COMPONENT_ALREADY_REGISTERED;
	if (!sComponentInstances->Append(component))
		return VE_MEMORY_FULL;
	component->Retain();
	return VE_OK;
}

VError VComponentManager::UnRegisterComponentInstance(CComponent* component)
{
	if (!sIsInitialized)
		return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
	if (component == nullptr)
		return VE_INVALID_PARAMETER;
	StLocker locker(sAccessingInstances);
	const int32 pos = sComponentInstances->FindPos(component);
	if (pos > 0)
	{
		sComponentInstances->DeleteNth(pos);
		component->Release();
	}
	return VE_OK;
}

bool VComponentManager::IsComponentAvailable(OsType type)
{
	if (!sIsInitialized)
		return false;
	StLocker locker(sAccessingTypes);
	return _FindType(type) > 0;
}

}  // namespace velk
