// The platform half of finding files beside the running executable (the process's 'EXEC' folder).
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;

class VELK_API XMacExecutableFolder
{
public:
	// The POSIX path of the file of that name in the folder holding the running executable, when such a
	// file exists; false, path unchanged, when it does not or the system does not say where the executable
	// is. Allocates nothing unless the file exists, so that asking costs start-up nothing in the usual case.
	static bool FindFile(const char* name, VString& path);
};

}  // namespace velk
