// An updater engine made beside the test environment's process object, which stays in charge: the
// engine's members can be run on command lines without a second start-up. Its product version is "9.8.7".
#pragma once

#include <string>

#include "platform/MainBundle.h"
#include "runtime/VProcess.h"
#include "runtime/VProcessIPC.h"
#include "updater/VUpdateEngine.h"

namespace velk::test {

class StSideEngine
{
public:
	StSideEngine() : fSaved(VProcess::sInstance), fSavedIPC(VProcessIPC::sInstance)
	{
		plat::SetMainBundleInfoStringForTesting("CFBundleShortVersionString", std::string("9.8.7"));
		fEngine = new VUpdateEngine;
		plat::ClearMainBundleOverridesForTesting();
		VProcess::sInstance = fSaved;
		VProcessIPC::sInstance = fSavedIPC;
	}
	~StSideEngine()
	{
		delete fEngine;
		VProcess::sInstance = fSaved;
		VProcessIPC::sInstance = fSavedIPC;
	}
	StSideEngine(const StSideEngine&) = delete;
	StSideEngine& operator=(const StSideEngine&) = delete;

	VUpdateEngine* operator->() const { return fEngine; }
	VUpdateEngine& operator*() const { return *fEngine; }

private:
	VProcess* fSaved;
	VProcessIPC* fSavedIPC;
	VUpdateEngine* fEngine;
};

}  // namespace velk::test
