// The platform half of what the process knows about itself: its executable, its main bundle's path and
// the values of the bundle's information dictionary.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;

class VELK_API XMacProcess
{
public:
	XMacProcess() = delete;

	// The running executable's POSIX path; false, path unchanged, when the system does not say.
	static bool GetExecutablePath(VString& path);
	// The main bundle's folder path (POSIX); false, path unchanged, when the program runs outside a bundle.
	static bool GetMainBundlePath(VString& path);
	// The main bundle's "CFBundleName"; false, name unchanged, when there is none.
	static bool GetMainBundleName(VString& name);
	// A string of the main bundle's information dictionary; false, value unchanged, when absent.
	static bool GetMainBundleInfoString(const char* key, VString& value);
	// Whether the application must live on a volume that folds case. Never here: Linux volumes are
	// case-sensitive and nothing of ours relies on folding.
	static bool InstallVolumeMustFoldCase() { return false; }
};

}  // namespace velk
