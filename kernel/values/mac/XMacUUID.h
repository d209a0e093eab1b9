// The platform half of the UUID value: the system's identifier generator, secure random bytes and the
// real-time clock that the portable generators build on.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"

namespace velk {

struct VUUIDBuffer;

class VELK_API XMacUUID
{
public:
	// A new identifier from the system's generator (version 4 here). False, buffer unchanged, when the
	// system cannot make one.
	static bool Generate(VUUIDBuffer* buffer);

	// count bytes from the system's secure random source.
	static void FillRandom(void* bytes, size_t count);

	// Nanoseconds since 1970-01-01 UTC from the real-time clock.
	static int64 GetRealTimeNanoseconds();
};

}  // namespace velk
