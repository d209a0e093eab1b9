// The platform half of the debug manager: whether a debugger watches the process, and its trap.
#pragma once

#include "kernel/VExport.h"

namespace velk {

class VELK_API XMacDebugger
{
public:
	XMacDebugger() = delete;

	static bool IsAttached();
	// The trap, raised only when a debugger is attached: without one it would end the process.
	static void Break();
};

}  // namespace velk
