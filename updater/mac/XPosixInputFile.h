// What the updater is asked to read is looked at before it is opened: a pipe, a device or a folder named as
// an input file must neither hold the run in an open nor be read as if it were the file.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VFilePath;

class VELK_API XPosixInputFile
{
public:
	XPosixInputFile() = delete;

	// Whether something other than a regular file (links followed) stands at the path. Nothing at the path
	// is not: its reader reports it as missing.
	static bool IsOtherThanRegularFile(const VFilePath& path);
};

}  // namespace velk
