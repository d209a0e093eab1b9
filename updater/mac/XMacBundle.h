// The platform half of what the updater asks of an application bundle on disk: where its executable is, and
// where it belongs when it is missing. Reads the bundle's information dictionary on each call; pushes nothing.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VFilePath;
class VString;

class VELK_API XMacBundle
{
public:
	XMacBundle() = delete;

	// The POSIX path of the executable of the bundle folder: Contents/MacOS/<CFBundleExecutable>, else
	// Contents/MacOS/<bundle name without extension>, the first that exists; "" when neither exists, for an
	// invalid path and when memory is short.
	static VString GetExecutablePosixPath(const VFilePath& bundle);
	// Where the executable belongs, whether or not it exists: Contents/MacOS/ and the dictionary's
	// CFBundleExecutable when it is a plain name, else the bundle name without extension; "" for an invalid
	// path and when memory is short.
	static VString GetExpectedExecutablePosixPath(const VFilePath& bundle);
};

}  // namespace velk
