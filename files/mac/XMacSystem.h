// The system facade's platform half: virtual memory, clocks, calendar conversions, system facts and random
// numbers, done by the platform layer.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

class VELK_API XMacSystem
{
public:
	XMacSystem() = delete;

	static size_t GetVMPageSize();
	// size rounded up to whole pages; 0 when that does not fit in size_t.
	static size_t RoundUpVMPageSize(size_t size);
	// See VSystem for placement and failure rules.
	static void* VirtualAlloc(size_t size, const void* address);
	static void* VirtualAllocPhysicalMemory(size_t size, const void* address, bool* locked);
	static void VirtualFree(void* address, size_t size, bool physical);

	static uint64 GetCurrentTime();
	static uint32 GetCurrentTicks();
	static void Delay(int32 ms);

	static void GetSystemUTCTime(int16* fields);
	static void GetSystemLocalTime(int16* fields);
	// Six fields converted in place; unchanged when the date cannot be represented. No null-time rule here.
	static void UTCToLocalTime(int16* fields);
	static void LocalToUTCTime(int16* fields);

	// The local zone's offsets from GMT now, with and without the daylight-saving shift (an hour is taken off
	// while daylight saving is in force), and the instant (seconds since 1970, UTC) at which they next change.
	static void ComputeGMTOffsets(int32& withDaylight, int32& withoutDaylight, int64& validUntil);
	// Seconds since 1970-01-01 UTC, from the real-time clock.
	static int64 GetCalendarSeconds();
	// Makes the system read its time-zone settings again.
	static void ResetTimeZoneData();

	// The system's version text, "Linux " + the kernel release here.
	static void GetOSVersionString(VString& out);
	// The system version as major * 10000 + minor * 100 + patch (minor and patch capped at 99); 0 when unreadable.
	static int32 GetMacOSXVersionDecimal();
	// Whether the running system is at least the macOS release major.minor.patch: always true here, as no
	// macOS release is required on this platform.
	static bool IsOSVersionAtLeast(int32 major, int32 minor, int32 patch);
	static int32 GetNumberOfLogicalProcessors();

	// Fills buffer with count bytes from the system's cryptographically secure source; cannot fail.
	static void Random(void* buffer, size_t count);
	// A number from 0 to 2^31 - 1: the process's pseudo-random sequence (random()) when usePseudoRandom is
	// true, the secure source otherwise.
	static int32 Random(bool usePseudoRandom);
};

}  // namespace velk
