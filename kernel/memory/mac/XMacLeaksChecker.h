// The platform half of the leak checker: where the main bundle lies, for the leaks report beside it.
#pragma once

#include "kernel/VExport.h"

#include <string>

namespace velk {

class VELK_API XMacLeaksChecker
{
public:
	XMacLeaksChecker() = delete;

	// The main bundle's folder as a POSIX path; false, path unchanged, when the program runs outside a
	// bundle or the bundle cannot be found (memory short). Throws nothing.
	static bool GetMainBundlePath(std::string& path);
};

}  // namespace velk
