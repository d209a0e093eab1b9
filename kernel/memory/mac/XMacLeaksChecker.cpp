#include "kernel/memory/mac/XMacLeaksChecker.h"

#include <exception>

#include "platform/MainBundle.h"

namespace velk {

bool XMacLeaksChecker::GetMainBundlePath(std::string& path)
{
	// Leaks are reported late, often while the process winds down: an exception here would end it.
	try
	{
		std::string bundle = plat::GetMainBundlePath();
		if (bundle.empty())
			return false;
		path.swap(bundle);
		return true;
	}
	catch (const std::exception&)
	{
		return false;
	}
}

}  // namespace velk
