#include "runtime/mac/XMacProcess.h"

#include <string>

#include "kernel/strings/VString.h"
#include "platform/MainBundle.h"

namespace velk {

bool XMacProcess::GetMainBundlePath(VString& path)
{
	const std::string bundle = plat::GetMainBundlePath();
	if (bundle.empty())
		return false;
	path = VString(bundle.c_str());
	return true;
}

bool XMacProcess::GetMainBundleName(VString& name)
{
	std::string value;
	if (!plat::GetMainBundleInfoString("CFBundleName", value) || value.empty())
		return false;
	name = VString(value.c_str());
	return true;
}

}  // namespace velk
