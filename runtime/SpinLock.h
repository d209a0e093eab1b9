// One-word lock guarding a few fields at a time (never held across a wait); its acquire strategy is
// chosen once per process, before a second task exists.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "kernel/VKernelTypes.h"

namespace velk {

class VFile;
class VString;

class VELK_API SpinLock
{
public:
	// Bit 31 of the word means held; the other bits belong to the word's owner and are never changed by
	// the lock. The owner changes them only while it holds the lock.
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

	// Chooses the strategy from the settings file "spinlock.prm" of the process's executable folder, only
	// while a single task runs. A missing or malformed file leaves the defaults. No result.
	static void Configure();

	// Configure's work on a settings file: nothing unless exactly one task runs or
	// dies, nor when the file is missing or its root is not a JSON object. Reports no error: what reading
	// or parsing raises is dropped.
	static void _ConfigureFromFile(const VFile& file);

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
	static bool _TryAcquire(uint32* word)
	{
		// Reads before exchanging, so that waiters spinning on a held word do not write to it.
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

	// The release: a plain store, no locked instruction, which is what makes an uncontended lock cheap.
	// Nothing else changes the word while it is held (a failed attempt writes nothing), so storing it
	// whole with bit 31 cleared leaves bits 0-30 as they are; a whole word rather than its high byte also
	// spares the next acquire a stall on a partly written word. Unlock points to the routine doing this,
	// the only release routine, which the locks of the toolbox call inline.
	static void _Release(uint32* word)
	{
		std::atomic_ref<uint32> ref(*word);
		ref.store(ref.load(std::memory_order_relaxed) & ~kHeldBit, std::memory_order_release);
	}

	// Takes the word: one exchange that expects the usual free word (0) here, the process's acquire
	// routine otherwise. Every routine begins with an attempt, so this is Lock(word) without the call and
	// the separate read when the word is free.
	static void _Take(uint32* word)
	{
		uint32 expected = 0;
		if (!std::atomic_ref<uint32>(*word).compare_exchange_strong(expected, kHeldBit, std::memory_order_acquire, std::memory_order_relaxed))
			Lock(word);
	}
};

}  // namespace velk
