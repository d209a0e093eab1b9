#include "runtime/mac/XMacTaskMgr.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacFiber.h"
#include "runtime/mac/XMacTask.h"
#include "runtime/mac/XMacTaskFiber.h"

namespace velk {

namespace {

constexpr size_t kUnlimitedStackSize = size_t(8) * 1024 * 1024;

// Constant-initialized thread-specific slots: usable from static initializers and any thread.
constinit thread_local VTask* tCurrentTask = nullptr;
constinit thread_local int32 tThreadID = 0;
constinit thread_local uintptr_t tStackLow = 0;
constinit thread_local uintptr_t tStackHigh = 0;

// Hands out the threads' ids: 1, 2, 3... (fiber tasks take negative ids, so they never meet).
constinit std::atomic<int32> sLastThreadID{0};

bool ProcessAllowsFibers()
{
	return VProcess::sInstance != nullptr && VProcess::sInstance->WithFibers();
}

bool IsMainThread()
{
	return gettid() == getpid();
}

bool StackIsUnlimited()
{
	rlimit limit;
	return getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
}

void LoadStackBounds()
{
	uintptr_t here = uintptr_t(__builtin_frame_address(0));
	pthread_attr_t attributes;
	if (pthread_getattr_np(pthread_self(), &attributes) == 0)
	{
		void* address = nullptr;
		size_t size = 0;
		int result = pthread_attr_getstack(&attributes, &address, &size);
		pthread_attr_destroy(&attributes);
		if (result == 0 && size > 0)
		{
			uintptr_t high = uintptr_t(address) + size;
			if (IsMainThread() && StackIsUnlimited() && size > kUnlimitedStackSize)
				size = kUnlimitedStackSize;
			tStackHigh = high;
			tStackLow = high - size;
			return;
		}
	}
	// Bounds unknown: count from here with the process's stack limit.
	size_t size = XMacTaskMgr::ComputeMainTaskStackSize();
	if (size == 0)
		size = 1048576;
	tStackHigh = here;
	tStackLow = here > size ? here - size : 0;
}

}  // namespace

XMacTask* XMacTaskMgr::CreateMain(VTask* task)
{
	XMacTask* platform = new (std::nothrow) XMacTask_preemptive(task, GetCurrentForeignTaskID(), ComputeMainTaskStackSize());
	if (platform == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (ProcessAllowsFibers())
	{
		XMacFiber* fiber = XMacFiber::CreateFiberForThread();
		if (fiber == nullptr)
		{
			delete platform;
			return nullptr;
		}
		platform->_SetFiber(fiber, task);
	}
	SetCurrentTask(task);
	return platform;
}

XMacTask* XMacTaskMgr::Create(VTask* task, ETaskStyle style)
{
	if (style == eTaskStylePreemptive)
		return XMacTask_preemptive::Create(task);
	if (style != eTaskStyleFiber || !ProcessAllowsFibers())
		return nullptr;
	XMacTask* platform = new (std::nothrow) XMacTask_fiber(task);
	if (platform == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return platform;
}

void XMacTaskMgr::YieldToFiber(VTask* task)
{
	VTask* current = GetCurrentTask();
	if (current == nullptr || task == nullptr || task == current)
		return;
	XMacTask* from = current->GetPlatformTask();
	XMacTask* to = task->GetPlatformTask();
	if (from == nullptr || to == nullptr || from->GetFiber() == nullptr || to->GetFiber() == nullptr)
		return;
	// One fiber of a group runs at a time, so a task of the group that is not dead waits for control; a
	// dead one never would take it, and the caller would wait for ever.
	if (from->GetFiberParent() != to->GetFiberParent() || task->GetState() == eTaskStateDead)
		return;
	from->GetFiber()->YieldTo(to->GetFiber());
}

VTask* XMacTaskMgr::GetCurrentTask()
{
	return tCurrentTask;
}

void XMacTaskMgr::SetCurrentTask(VTask* task)
{
	tCurrentTask = task;
}

int32 XMacTaskMgr::GetCurrentForeignTaskID()
{
	if (tThreadID == 0)
		tThreadID = _NewThreadID();
	return tThreadID;
}

int32 XMacTaskMgr::_NewThreadID()
{
	return sLastThreadID.fetch_add(1) + 1;
}

void XMacTaskMgr::_AdoptThreadID(int32 id)
{
	tThreadID = id;
}

size_t XMacTaskMgr::GetCurrentFreeStackSize()
{
	if (tStackHigh == 0)
		LoadStackBounds();
	uintptr_t here = uintptr_t(__builtin_frame_address(0));
	if (here <= tStackLow)
		return 0;
	if (here > tStackHigh)
		return size_t(tStackHigh - tStackLow);
	return size_t(here - tStackLow);
}

size_t XMacTaskMgr::GetCurrentFreeStackSizeStatic()
{
	constexpr size_t kUnknownStackSize = 1048576;
	const size_t limit = ComputeMainTaskStackSize();
	return limit != 0 ? limit : kUnknownStackSize;
}

size_t XMacTaskMgr::ComputeMainTaskStackSize()
{
	rlimit limit;
	if (getrlimit(RLIMIT_STACK, &limit) != 0)
		return 0;
	if (limit.rlim_cur == RLIM_INFINITY)
		return kUnlimitedStackSize;
	return size_t(limit.rlim_cur);
}

void XMacTaskMgr::SetCurrentThreadName(const VString& name, int32 id)
{
	if (IsMainThread())
		return;
	std::string text;
	try
	{
		text = ToUTF8String(name.GetCPointer(), name.GetLength());
		char suffix[32];
		std::snprintf(suffix, sizeof(suffix), " (id = %d)", int(id));
		text += suffix;
	}
	catch (const std::bad_alloc&)
	{
		// The name only shows in debuggers and process lists: short of memory the thread keeps its own.
		return;
	}
	// The system keeps 15 bytes; never cut inside a UTF-8 sequence.
	if (text.size() > 15)
	{
		size_t cut = 15;
		while (cut > 0 && (uint8(text[cut]) & 0xC0) == 0x80)
			--cut;
		text.resize(cut);
	}
	pthread_setname_np(pthread_self(), text.c_str());
}

}  // namespace velk
