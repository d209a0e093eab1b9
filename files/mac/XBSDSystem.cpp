#include "files/mac/XBSDSystem.h"

#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "kernel/strings/VString.h"
#include "platform/ExecutableSearch.h"

namespace velk {

VError XBSDSystem::CreateSymbolicLink(const VString& target, const VString& link)
{
	if (::symlink(to_string(target).c_str(), to_string(link).c_str()) == 0)
		return VE_OK;
	const VError error = MakeVError(kPOSIX_SIGNATURE, errno);
	_ThrowError(error);
	return error;
}

bool XBSDSystem::SearchExecutablePath(const VString& name, VString& outPath)
{
	const char* pathList = std::getenv("PATH");
	std::string found;
	if (!plat::SearchExecutable(to_string(name), pathList != nullptr ? pathList : "", found))
	{
		outPath.Clear();
		return false;
	}
	outPath = VString(found.c_str());
	return true;
}

}  // namespace velk
