#include "updater/mac/XPosixInputFile.h"

#include <sys/stat.h>

#include <string>

#include "files/VFilePath.h"
#include "files/mac/XMacFilePath.h"

namespace velk {

bool XPosixInputFile::IsOtherThanRegularFile(const VFilePath& path)
{
	const std::string system = XMacFilePath::ToSystemPath(path);
	struct stat status;
	return !system.empty() && ::stat(system.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

}  // namespace velk
