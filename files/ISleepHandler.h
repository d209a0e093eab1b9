// What a client implements to hear from the sleep notifier that the machine is about to sleep or woke up.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"

namespace velk {

class VString;

class VELK_API ISleepHandler : public IRefCountable
{
public:
	// On the thread that started the sleep notifier, before the machine sleeps: the sleep waits for the
	// hooks of every handler to return (within the system's own limit).
	virtual void DoSystemWillSleep() = 0;
	virtual void DoSystemDidWake() = 0;
	// A text naming the handler.
	virtual void GetDescription(VString& description) = 0;
};

}  // namespace velk
