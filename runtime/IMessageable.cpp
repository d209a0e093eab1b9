#include "runtime/IMessageable.h"

#include <new>

#include "runtime/VMessagingContext.h"
#include "runtime/VTask.h"

namespace velk {

VMessagingContext::VMessagingContext(IMessageable* target)
: fTarget(target), fTaskID(VTaskMgr::Get()->GetCurrentTaskID())
{
}

IMessageable::IMessageable() : fMessagingContext(new (std::nothrow) VMessagingContext(this))
{
}

IMessageable::~IMessageable()
{
	if (fMessagingContext != nullptr)
	{
		fMessagingContext->ClearTarget();
		fMessagingContext->Release();
	}
}

void IMessageable::DoMessage(VMessage&)
{
}

VTaskID IMessageable::GetMessagingTask() const
{
	if (fMessagingContext == nullptr || fMessagingContext->GetTarget() == nullptr)
		return 0;
	return fMessagingContext->GetTaskID();
}

void IMessageable::SetMessagingTask(VTaskID id)
{
	if (fMessagingContext != nullptr)
		fMessagingContext->SetTaskID(id);
}

void IMessageable::StartMessaging()
{
	if (fMessagingContext != nullptr)
		fMessagingContext->SetActive(true);
}

void IMessageable::StopMessaging()
{
	if (fMessagingContext != nullptr)
		fMessagingContext->SetActive(false);
}

VMessagingContext* IMessageable::RetainMessagingContext() const
{
	if (fMessagingContext != nullptr)
		fMessagingContext->Retain();
	return fMessagingContext;
}

}  // namespace velk
