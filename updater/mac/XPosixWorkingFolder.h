// Paths given on the command line are read as a shell reads them: relative to the working folder.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VString;

class VELK_API XPosixWorkingFolder
{
public:
	XPosixWorkingFolder() = delete;

	// The text itself when it is empty or begins with '/'; otherwise the working folder, '/' and the text.
	// The text is left as it is when the working folder cannot be read.
	static VString MakeAbsolute(const VString& posixPath);
};

}  // namespace velk
