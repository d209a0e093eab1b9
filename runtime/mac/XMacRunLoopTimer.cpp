#include "runtime/mac/XMacRunLoopTimer.h"

#include <new>

#include "platform/RunLoop.h"

namespace velk {

XMacRunLoopTimer* XMacRunLoopTimer::AddRepeating(int32 intervalMilliseconds, void (*callback)())
{
	if (callback == nullptr)
		return nullptr;
	plat::RunLoop& loop = plat::RunLoop::Current();
	plat::RunLoop::SourceId id = loop.AddTimer(0, intervalMilliseconds, [callback] { callback(); });
	if (id == 0)
		return nullptr;
	XMacRunLoopTimer* timer = new (std::nothrow) XMacRunLoopTimer(&loop, id);
	if (timer == nullptr)
		loop.Remove(id);
	return timer;
}

void XMacRunLoopTimer::Remove()
{
	static_cast<plat::RunLoop*>(fLoop)->Remove(fID);
	delete this;
}

}  // namespace velk
