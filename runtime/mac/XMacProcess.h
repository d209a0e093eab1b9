// The platform half of what the process knows about itself: its main bundle's path and name.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;

class VELK_API XMacProcess
{
public:
	XMacProcess() = delete;

	// The main bundle's folder path (POSIX); false, path unchanged, when the program runs outside a bundle.
	static bool GetMainBundlePath(VString& path);
	// The main bundle's "CFBundleName"; false, name unchanged, when there is none.
	static bool GetMainBundleName(VString& name);
};

}  // namespace velk
