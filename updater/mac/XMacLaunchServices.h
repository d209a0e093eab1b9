// The platform half of opening a document with the system's default application.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;

class VELK_API XMacLaunchServices
{
public:
	XMacLaunchServices() = delete;

	// Opens the file at a POSIX path without waiting; false when nothing could be opened (no display here).
	static bool OpenDocument(const VString& posixPath);
};

}  // namespace velk
