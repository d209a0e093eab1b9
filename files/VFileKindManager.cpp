#include "files/VFileKindManager.h"

#include <new>

#include "files/VFileKind.h"
#include "files/mac/XMacFile.h"
#include "runtime/VError.h"

namespace velk {

VFileKindManager* VFileKindManager::sManager = nullptr;

VFileKindManager::VFileKindManager() : fLocalizedStrings{VString("All"), VString("All readable documents")}
{
}

VFileKindManager::~VFileKindManager()
{
	for (auto& entry : fKinds)
	{
		if (entry.second != nullptr)
			entry.second->Release();
	}
}

bool VFileKindManager::Init()
{
	if (sManager != nullptr)
		return true;
	try
	{
		sManager = new VFileKindManager;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

void VFileKindManager::DeInit()
{
	VFileKindManager* manager = sManager;
	sManager = nullptr;
	if (manager != nullptr)
		manager->Release();
}

bool VFileKindManager::_Register(const VString& id, VFileKind* kind)
{
	auto found = fKinds.find(id);
	if (found != fKinds.end())
	{
		VFileKind* replaced = found->second;
		kind->Retain();
		found->second = kind;
		if (replaced != nullptr)
			replaced->Release();
		return true;
	}
	try
	{
		fKinds.emplace(id, kind);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	kind->Retain();
	return true;
}

VFileKind* VFileKindManager::RetainFileKind(const VString& id)
{
	{
		StLocker locker(&fLock);
		auto found = fKinds.find(id);
		if (found != fKinds.end())
		{
			if (found->second != nullptr)
				found->second->Retain();
			return found->second;
		}
	}
	// The system is asked without the lock: it may read its database.
	VFileKind* kind = XMacFile::CreatePublicFileKind(id);
	if (kind != nullptr)
	{
		StLocker locker(&fLock);
		_Register(id, kind);
	}
	return kind;
}

bool VFileKindManager::RegisterPrivateFileKind(const VString& id, const VString& description,
	const std::vector<VString>& extensions, const std::vector<VString>& parentIDs)
{
	return RegisterPrivateFileKind(id, std::vector<VString>(), description, extensions, parentIDs);
}

bool VFileKindManager::RegisterPrivateFileKind(const VString& id, const std::vector<VString>& osKinds,
	const VString& description, const std::vector<VString>& extensions, const std::vector<VString>& parentIDs)
{
	VFileKind* kind = VFileKind::Create(id, osKinds, description, extensions, parentIDs, false);
	if (kind == nullptr)
		return false;
	bool registered;
	{
		StLocker locker(&fLock);
		registered = _Register(id, kind);
	}
	kind->Release();
	return registered;
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithExtension(const VString& extension)
{
	{
		StLocker locker(&fLock);
		for (const auto& entry : fKinds)
		{
			if (entry.second != nullptr && entry.second->MatchExtension(extension))
			{
				entry.second->Retain();
				return entry.second;
			}
		}
	}
	VFileKind* kind = XMacFile::CreatePublicFileKindFromExtension(extension);
	if (kind != nullptr)
	{
		StLocker locker(&fLock);
		if (fKinds.find(kind->GetID()) == fKinds.end())
			_Register(kind->GetID(), kind);
	}
	return kind;
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithOsKind(const VString& osKind)
{
	{
		StLocker locker(&fLock);
		for (const auto& entry : fKinds)
		{
			if (entry.second != nullptr && entry.second->MatchOsKind(osKind))
			{
				entry.second->Retain();
				return entry.second;
			}
		}
	}
	return XMacFile::CreatePublicFileKindFromOsKind(osKind);
}

void VFileKindManager::RegisterLocalizedString(long index, const VString& text)
{
	if ((index != 0 && index != 1) || text.IsEmpty())
		return;
	StLocker locker(&fLock);
	fLocalizedStrings[index] = text;
}

void VFileKindManager::GetLocalizedString(long index, VString& text) const
{
	if (index != 0 && index != 1)
		return;
	StLocker locker(&fLock);
	text = fLocalizedStrings[index];
}

}  // namespace velk
