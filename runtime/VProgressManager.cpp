#include "runtime/VProgressManager.h"

#include <new>

#include "runtime/IProgressFactory.h"
#include "runtime/VProgressIndicator.h"

namespace velk {

VProgressManager* VProgressManager::sProgressManager = nullptr;

namespace {

const StPackedDictionaryKey kProgressInfoElement("ProgressInfo");

// An indicator whose last reference is gone is on its way out (its destructor waits for the registry
// lock to unregister): it must not be handed out again.
VProgressIndicator* RetainIfAlive(VProgressIndicator* indicator)
{
	if (indicator->GetRefCount() <= 0)
		return nullptr;
	indicator->Retain();
	return indicator;
}

}  // namespace

bool VProgressManager::Init()
{
	if (sProgressManager == nullptr)
		sProgressManager = new (std::nothrow) VProgressManager;
	return true;
}

bool VProgressManager::Deinit()
{
	delete sProgressManager;
	sProgressManager = nullptr;
	return true;
}

void VProgressManager::RegisterProgress(VProgressIndicator* indicator)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr || indicator == nullptr)
		return;
	StLocker locker(&manager->fLock);
	manager->fIndicators.emplace(indicator->GetUUID(), indicator);
}

void VProgressManager::UnregisterProgress(VProgressIndicator* indicator)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr || indicator == nullptr)
		return;
	StLocker locker(&manager->fLock);
	auto found = manager->fIndicators.find(indicator->GetUUID());
	// Only its own entry: an indicator refused for a duplicate UUID must not remove the first one.
	if (found != manager->fIndicators.end() && found->second == indicator)
		manager->fIndicators.erase(found);
}

VProgressIndicator* VProgressManager::RetainProgress(const VUUID& uuid)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr)
		return nullptr;
	StLocker locker(&manager->fLock);
	auto found = manager->fIndicators.find(uuid);
	return found != manager->fIndicators.end() ? RetainIfAlive(found->second) : nullptr;
}

VProgressIndicator* VProgressManager::_RetainProgressIndicator(const VString& identifier)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr)
		return nullptr;
	StLocker locker(&manager->fLock);
	for (const auto& [uuid, indicator] : manager->fIndicators)
	{
		if (indicator->GetIdentifier().EqualToString(identifier))
			return RetainIfAlive(indicator);
	}
	return nullptr;
}

void VProgressManager::_GetProgressInfo(VValueBag& bag, const VString* identifier)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr)
		return;
	StLocker locker(&manager->fLock);
	for (const auto& [uuid, indicator] : manager->fIndicators)
	{
		if (identifier != nullptr && !indicator->GetIdentifier().EqualToString(*identifier))
			continue;
		VRefPtr<VValueBag> info(new (std::nothrow) VValueBag, true);
		if (info.Get() == nullptr)
			return;
		indicator->SaveInfoToBag(*info.Get());
		bag.AddElement(kProgressInfoElement, info.Get());
	}
}

void VProgressManager::GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& infos)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr)
		return;
	StLocker locker(&manager->fLock);
	for (const auto& [uuid, indicator] : manager->fIndicators)
	{
		indicator->UpdateSessionsInfos();
		VRefPtr<VRefCountedSessionInfo> snapshot = indicator->RetainSessionsInfos();
		if (snapshot.Get() != nullptr)
			infos.push_back(snapshot);
	}
}

VProgressIndicator* VProgressManager::CreateStdProgress(int32 kind, uint32 options)
{
	VProgressManager* manager = sProgressManager;
	if (manager == nullptr)
		return nullptr;
	IProgressFactory* factory;
	{
		StLocker locker(&manager->fLock);
		factory = manager->fFactory;
	}
	return factory != nullptr ? factory->CreateProgressIndicator(kind, options) : nullptr;
}

}  // namespace velk
