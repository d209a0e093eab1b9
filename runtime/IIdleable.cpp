#include "runtime/IIdleable.h"

#include <new>

#include "runtime/VMessage.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

// About one tick: an idle message runs its object at most once per screen refresh.
constexpr int32 kIdleMessageDelay = 16;

// Drives an idling object through delayed messages on the task that runs it, rather than through the
// task's idle steps. The object must outlive the messages it is driven by.
class XIdleMessage : public VMessage
{
public:
	explicit XIdleMessage(IIdleable* idleable) : fIdleable(idleable) {}

	void DoExecute() override
	{
		if (!fIdleable->IsIdling())
			return;
		fIdleable->DoIdle();
		VTask* task = VTask::GetCurrent();
		XIdleMessage* next = task != nullptr ? new (std::nothrow) XIdleMessage(fIdleable) : nullptr;
		if (next != nullptr)
		{
			next->PostTo(task, false, kIdleMessageDelay);
			next->Release();
		}
	}

private:
	IIdleable* fIdleable;
};

}  // namespace

IIdleable::~IIdleable()
{
	StopIdling();
}

void IIdleable::StartIdling(VTask* task)
{
	if (task == nullptr)
		return;
	fIdling.store(true);
	if (task != fIdlingTask)
	{
		VTask* old = fIdlingTask;
		if (old != nullptr)
			old->UnregisterIdler(this);
		task->Retain();
		fIdlingTask = task;
		if (old != nullptr)
			old->Release();
	}
	task->RegisterIdler(this);
}

void IIdleable::StartIdling()
{
	StartIdling(VTask::GetCurrent());
}

void IIdleable::StopIdling()
{
	fIdling.store(false);
	VTask* task = fIdlingTask;
	fIdlingTask = nullptr;
	if (task != nullptr)
	{
		task->UnregisterIdler(this);
		task->Release();
	}
}

void IIdleable::Idle()
{
	if (fIdling.load())
		DoIdle();
}

}  // namespace velk
