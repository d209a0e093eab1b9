#include "runtime/mac/XMacTaskFiber.h"

#include <atomic>

#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacStackSize.h"
#include "runtime/mac/XMacTaskMgr.h"

namespace velk {

XMacTask_fiber::XMacTask_fiber(VTask* task) : XMacTask(task)
{
}

bool XMacTask_fiber::Run()
{
	VTask* current = XMacTaskMgr::GetCurrentTask();
	XMacTask* from = current != nullptr ? current->GetPlatformTask() : nullptr;
	if (from == nullptr || from->GetFiber() == nullptr || fFiber != nullptr)
		return false;
	VTask* parent = from->GetFiberParent() != nullptr ? from->GetFiberParent() : current;
	if (parent->GetPlatformTask() == nullptr || parent->GetPlatformTask()->GetFiber() == nullptr)
		return false;

	fFiberParent = parent;
	fStackSize = RoundUpStackSize(fTask->GetStackSize());
	XMacFiber* fiber = XMacFiber::Create(fStackSize, [this]() { _RunBody(); });
	if (fiber == nullptr)
		return false;
	fFiber = fiber;
	fThread = fiber->GetThread();
	from->GetFiber()->YieldTo(fiber);
	return true;
}

void XMacTask_fiber::_RunBody()
{
	fStackTop = __builtin_frame_address(0);
	VTask* task = fTask;
	// Taken now: once the task is dead, whoever purges it may free it with this platform task and its
	// fiber at any moment, and the parent is still to be woken.
	XMacFiber::Waker parent = fFiberParent->GetPlatformTask()->GetFiber()->RetainWaker();
	XMacTaskMgr::SetCurrentTask(task);
	task->_Run();
	XMacTaskMgr::SetCurrentTask(nullptr);
	task->_SetStateDead();
	parent.WakeUp();
}

void XMacTask_fiber::WakeUp()
{
	std::atomic_ref<int32>(fWakeCounter).fetch_add(1);
	VTaskMgr::YieldNow();
}

void XMacTask_fiber::Freeze()
{
	VTaskMgr::CurrentFiberWaitFlag(&fWakeCounter, std::atomic_ref<int32>(fWakeCounter).load());
}

void XMacTask_fiber::Sleep(int32 milliseconds)
{
	const int32 counter = std::atomic_ref<int32>(fWakeCounter).load();
	VTaskMgr::CurrentFiberWaitFlagWithTimeout(&fWakeCounter, counter, milliseconds);
}

}  // namespace velk
