// The process-wide registry of progress indicators, keyed by their UUID, so that other parts can find
// an indicator and snapshot it. Made once at start-up; every indicator registers itself while it lives.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <vector>

#include "containers/VValueBag.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VUUID.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class IProgressFactory;
class VProgressIndicator;
class VRefCountedSessionInfo;

class VELK_API VProgressManager : public VObject
{
public:
	static VProgressManager* sProgressManager;

	// Makes the manager once; true.
	static bool Init();
	// Destroys it; true. Indicators alive then are no longer found.
	static bool Deinit();

	// Indicators are not retained by the registry; a UUID already present keeps its first indicator.
	// Nothing before Init.
	static void RegisterProgress(VProgressIndicator* indicator);
	static void UnregisterProgress(VProgressIndicator* indicator);

	// The indicator, retained for the caller; null when none (or before Init).
	static VProgressIndicator* RetainProgress(const VUUID& uuid);
	// The first indicator whose identifier equals identifier, retained for the caller; null when none.
	static VProgressIndicator* _RetainProgressIndicator(const VString& identifier);
	// Appends one element "ProgressInfo" (the indicator's SaveInfoToBag) for the indicator with that
	// identifier, or for every indicator when identifier is null.
	static void _GetProgressInfo(VValueBag& bag, const VString* identifier);
	// The latest session snapshot of every indicator with one (asking each for a fresh one at its next
	// step); never waits on an indicator's own lock.
	static void GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& infos);
	// A new standard indicator from the installed factory (nothing installs one yet); null without one.
	static VProgressIndicator* CreateStdProgress(int32 kind, uint32 options);

private:
	VProgressManager() = default;
	~VProgressManager() override = default;

	VCriticalSection fLock;
	std::map<VUUID, VProgressIndicator*> fIndicators;
	IProgressFactory* fFactory = nullptr;
};

}  // namespace velk
