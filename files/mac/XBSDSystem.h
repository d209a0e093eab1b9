// The two POSIX operations of the system facade: symbolic links and the executable search over PATH.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VString;

class VELK_API XBSDSystem
{
public:
	XBSDSystem() = delete;

	// A symbolic link at link (a POSIX path) pointing to target; 0, else 'POSX' | errno, pushed.
	static VError CreateSymbolicLink(const VString& target, const VString& link);

	// The executable named: by its real path when the name holds '/', else in the folders of PATH. outPath
	// gets the POSIX path; it is cleared and false answered when nothing qualifies.
	static bool SearchExecutablePath(const VString& name, VString& outPath);
};

}  // namespace velk
