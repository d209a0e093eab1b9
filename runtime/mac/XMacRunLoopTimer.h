// A repeating timer on the calling thread's run loop: it fires only while that thread runs its loop.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API XMacRunLoopTimer
{
public:
	// First firing now, then every intervalMilliseconds. Null when the timer cannot be made.
	static XMacRunLoopTimer* AddRepeating(int32 intervalMilliseconds, void (*callback)());

	// Stops the timer (waiting for a firing under way on another thread) and deletes it.
	void Remove();

	XMacRunLoopTimer(const XMacRunLoopTimer&) = delete;
	XMacRunLoopTimer& operator=(const XMacRunLoopTimer&) = delete;

private:
	XMacRunLoopTimer(void* loop, uint64 id) : fLoop(loop), fID(id) {}

	void* fLoop;  // the run loop of the thread that added the timer
	uint64 fID;
};

}  // namespace velk
