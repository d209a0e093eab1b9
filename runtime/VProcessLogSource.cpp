// The identity the process gives its log bags.
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/mac/XMacProcess.h"

namespace velk {

void VProcess::GetLogSourceIdentifier(VString& identifier)
{
	if (!XMacProcess::GetMainBundleName(identifier))
		identifier.Clear();
}

}  // namespace velk
