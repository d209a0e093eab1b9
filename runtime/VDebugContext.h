// A task's state as the debug manager sees it: counters that keep the manager's logging, dialogs or breaks
// away while they are not 0, and the mark that keeps the manager from handling two things at once for the
// task. Touched only by the task's own thread.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VObject.h"

namespace velk {

class VELK_API VDebugContext : public VObject
{
public:
	uint32 fLowLevelMode = 0;
	uint32 fNoNotification = 0;
	uint32 fNoBreak = 0;
	bool fBusy = false;
};

}  // namespace velk
