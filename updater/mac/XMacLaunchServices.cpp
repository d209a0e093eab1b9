#include "updater/mac/XMacLaunchServices.h"

#include "kernel/strings/VString.h"
#include "platform/DocumentOpener.h"

namespace velk {

bool XMacLaunchServices::OpenDocument(const VString& posixPath)
{
	return plat::OpenDocument(to_string(posixPath));
}

}  // namespace velk
