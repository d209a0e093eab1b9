// Base of objects that receive messages: owns the messaging context that names the object and the
// task whose message passes run them.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VTaskMgr.h"

namespace velk {

class VMessage;
class VMessagingContext;

class VELK_API IMessageable
{
public:
	// Bound to the calling task and active. Short of memory the object has no context: every message
	// to it is refused.
	IMessageable();
	// Messages still queued for the object find no target: they run nothing.
	virtual ~IMessageable();

	IMessageable(const IMessageable&) = delete;
	IMessageable& operator=(const IMessageable&) = delete;

	// Runs a message sent or posted to the object, on its task; nothing by default.
	virtual void DoMessage(VMessage& message);

	// The task whose passes run the object's messages; 0 when the object has no context.
	VTaskID GetMessagingTask() const;
	void SetMessagingTask(VTaskID id);
	// While stopped, messages sent or posted to the object are refused.
	void StartMessaging();
	void StopMessaging();
	// The context, retained; null when it could not be made.
	VMessagingContext* RetainMessagingContext() const;

private:
	VMessagingContext* fMessagingContext;  // one reference
};

}  // namespace velk
