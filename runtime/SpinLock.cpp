#include "runtime/SpinLock.h"

#include <atomic>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"

namespace velk {

// Constant-initialized: locks are taken by static initializers before main.
constinit SpinLock::LockRoutine SpinLock::Lock = &SpinLock::_LockMaxSpinsThenLoopYields;
constinit SpinLock::UnlockRoutine SpinLock::Unlock = &SpinLock::_Unlock;
constinit int32 SpinLock::sMaxSpins = 1;
constinit bool SpinLock::sYieldAfterCheckEvent = false;

namespace {

// The mode names are compared without regard to case, as a user would type them.
bool EqualsModeName(const VString& text, const char* name)
{
	const UniChar* units = text.GetCPointer();
	int32 length = text.GetLength();
	int32 i = 0;
	for (; i < length && name[i] != 0; ++i)
	{
		UniChar c = units[i];
		UniChar n = UniChar(uint8(name[i]));
		if (c >= u'A' && c <= u'Z')
			c = UniChar(c - u'A' + u'a');
		if (n >= u'A' && n <= u'Z')
			n = UniChar(n - u'A' + u'a');
		if (c != n)
			return false;
	}
	return i == length && name[i] == 0;
}

}  // namespace

bool SpinLock::_TryAcquire(uint32* word)
{
	std::atomic_ref<uint32> ref(*word);
	uint32 old = ref.load(std::memory_order_relaxed);
	for (;;)
	{
		if ((old & kHeldBit) != 0)
			return false;
		if (ref.compare_exchange_weak(old, old | kHeldBit, std::memory_order_acquire, std::memory_order_relaxed))
			return true;
	}
}

void SpinLock::_Unlock(uint32* word)
{
	// Clears bit 31 alone: the other bits of the word are not the lock's.
	std::atomic_ref<uint32>(*word).fetch_and(~kHeldBit, std::memory_order_release);
}

void SpinLock::_LockMaxSpinsThenLoopYields(uint32* word)
{
	int32 spins = sMaxSpins < 1 ? 1 : sMaxSpins;
	for (int32 i = 0; i < spins; ++i)
	{
		if (_TryAcquire(word))
			return;
	}
	for (;;)
	{
		VTaskMgr::YieldNow();
		if (_TryAcquire(word))
			return;
	}
}

void SpinLock::_LockLoopMaxSpinsAndYields(uint32* word)
{
	for (;;)
	{
		int32 spins = sMaxSpins < 1 ? 1 : sMaxSpins;
		for (int32 i = 0; i < spins; ++i)
		{
			if (_TryAcquire(word))
				return;
		}
		VTaskMgr::YieldNow();
		if (_TryAcquire(word))
			return;
	}
}

void SpinLock::_LockAlwaysSleep(uint32* word)
{
	if (_TryAcquire(word))
		return;
	int32 processors = VSystem::GetNumberOfLogicalProcessors();
	int32 limit = processors < 9 ? 8 : processors;
	for (int32 pass = 1;; ++pass)
	{
		VTask::Sleep(pass < limit ? 0 : 1);
		if (_TryAcquire(word))
			return;
	}
}

void SpinLock::_ApplySettings(const VString* mode, const double* maxSpins, const bool* yieldAfterCheckEvent)
{
	if (mode != nullptr)
	{
		LockRoutine routine = nullptr;
		if (EqualsModeName(*mode, "alwaysSleep"))
			routine = &_LockAlwaysSleep;
		else if (EqualsModeName(*mode, "loopMaxSpinsAndYields"))
			routine = &_LockLoopMaxSpinsAndYields;
		else if (EqualsModeName(*mode, "maxSpinsThenLoopYields"))
			routine = &_LockMaxSpinsThenLoopYields;
		if (routine != nullptr)
		{
			Lock = routine;
			Unlock = &_Unlock;
		}
	}
	if (maxSpins != nullptr)
	{
		// Truncated to 32 bits as a JSON number is; values out of range saturate rather than wrap.
		double value = *maxSpins;
		if (!(value == value))
			sMaxSpins = 0;
		else if (value >= 2147483647.0)
			sMaxSpins = 2147483647;
		else if (value <= -2147483648.0)
			sMaxSpins = -2147483647 - 1;
		else
			sMaxSpins = int32(value);
	}
	if (yieldAfterCheckEvent != nullptr)
		sYieldAfterCheckEvent = *yieldAfterCheckEvent;
}

void SpinLock::Configure()
{
	// Changing the strategy is safe only while no second task can be inside a lock.
	if (VTaskMgr::Get()->GetTaskCount(false) != 1)
		return;
	// The settings file is read through the process's 'EXEC' folder and the JSON reader once files and
	// JSON objects are part of the toolbox; until then the defaults stay.
}

}  // namespace velk
