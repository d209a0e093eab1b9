// Names an object that receives messages and the task it lives on. Messages in flight hold the
// context rather than the object, so an object destroyed meanwhile leaves them without a target.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VTaskMgr.h"

namespace velk {

class IMessageable;

class VELK_API VMessagingContext : public VObject, public IRefCountable
{
public:
	// Active, bound to the calling task (0 on a thread without one before the manager starts).
	explicit VMessagingContext(IMessageable* target);

	// Null once the target was destroyed.
	IMessageable* GetTarget() const { return fTarget.load(); }
	void ClearTarget() { fTarget.store(nullptr); }

	VTaskID GetTaskID() const { return fTaskID.load(); }
	void SetTaskID(VTaskID id) { fTaskID.store(id); }

	bool IsActive() const { return fActive.load(); }
	void SetActive(bool active) { fActive.store(active); }

private:
	std::atomic<IMessageable*> fTarget;
	std::atomic<VTaskID> fTaskID;
	std::atomic<bool> fActive{true};
};

}  // namespace velk
