// The platform half of VComponentManager: what the main bundle says about the user's language.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;

class VELK_API XMacComponentManager
{
public:
	// The main bundle's localization for the user's preferred languages ("fr", "en-GB", "French"): false,
	// name unchanged, without a main bundle or when it has no localization.
	static bool GetPreferredLocalization(VString& name);
};

}  // namespace velk
