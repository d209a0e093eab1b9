#include "runtime/mac/XMacComponentManager.h"

#include <new>
#include <string>

#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "platform/Bundle.h"
#include "platform/MainBundle.h"
#include "platform/PreferredLanguages.h"

namespace velk {

bool XMacComponentManager::GetPreferredLocalization(VString& name)
{
	try
	{
		const std::string bundlePath = plat::GetMainBundlePath();
		if (bundlePath.empty())
			return false;
		const std::string localization = plat::Bundle(bundlePath).GetPreferredLocalization(plat::CopyPreferredLanguages());
		if (localization.empty())
			return false;
		name.FromBlock(localization.data(), localization.size(), kCharSet_UTF8);
		return true;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

}  // namespace velk
