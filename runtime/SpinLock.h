// One-word lock guarding a few fields at a time (never held across a wait); its acquire strategy is
// chosen once per process, before a second task exists.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

class VELK_API SpinLock
{
public:
	// Bit 31 of the word means held; the other bits belong to the word's owner and are never changed.
	static constexpr uint32 kHeldBit = 0x80000000u;

	using LockRoutine = void (*)(uint32* word);
	using UnlockRoutine = void (*)(uint32* word);

	// The process's acquire and release routines: SpinLock::Lock(&word), SpinLock::Unlock(&word).
	static LockRoutine Lock;
	static UnlockRoutine Unlock;

	// Acquire attempts per burst (at least one is always made) and whether a task that found another
	// waiter's event in a critical section yields before trying again.
	static int32 sMaxSpins;
	static bool sYieldAfterCheckEvent;

	// Chooses the strategy from the settings file "spinlock.prm" beside the executable, only while a
	// single task runs. A missing or malformed file leaves the defaults. No result.
	static void Configure();

	// Applies settings read from "spinlock.prm": a null pointer is a setting the file lacks or gives
	// with another JSON type. A known mode installs its acquire routine and the release routine, an
	// unknown one leaves both; maxSpins and yieldAfterCheckEvent are taken whatever the mode.
	static void _ApplySettings(const VString* mode, const double* maxSpins, const bool* yieldAfterCheckEvent);

	// The acquire routines, named after their mode strings, and the one release routine.
	static void _LockMaxSpinsThenLoopYields(uint32* word);
	static void _LockLoopMaxSpinsAndYields(uint32* word);
	static void _LockAlwaysSleep(uint32* word);
	static void _Unlock(uint32* word);

	// One acquire attempt: true when bit 31 was clear and is now set by this call.
	static bool _TryAcquire(uint32* word);
};

}  // namespace velk
