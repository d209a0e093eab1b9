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

	// The POSIX path of the executable that the opener will start once the bundle folder stands at place
	// (the two may be one): Contents/MacOS/<CFBundleExecutable>, else Contents/MacOS/<place's name without
	// extension>, the first that exists in the bundle; "" when neither exists, for an invalid path and when
	// memory is short.
	static VString GetExecutablePosixPath(const VFilePath& bundle, const VFilePath& place);
	// Where that executable belongs in the bundle, whether or not it exists: Contents/MacOS/ and the
	// dictionary's CFBundleExecutable when it is a plain name, else place's name without extension; "" for
	// an invalid path and when memory is short.
	static VString GetExpectedExecutablePosixPath(const VFilePath& bundle, const VFilePath& place);
};

}  // namespace velk
