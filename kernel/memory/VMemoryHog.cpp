#include "kernel/memory/VMemoryHog.h"

#include "runtime/VTaskMgr.h"

namespace velk {

VMemoryHog::VMemoryHog() : fOwnerTaskID(uint32(VTaskMgr::Get()->GetCurrentTaskID()))
{
}

}  // namespace velk
