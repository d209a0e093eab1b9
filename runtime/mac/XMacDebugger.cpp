#include "runtime/mac/XMacDebugger.h"

#include <signal.h>

#include "platform/ProcFiles.h"

namespace velk {

bool XMacDebugger::IsAttached()
{
	return plat::HasTracer("/");
}

void XMacDebugger::Break()
{
	if (IsAttached())
		::raise(SIGTRAP);
}

}  // namespace velk
