// Random numbers: bytes from the kernel's cryptographically secure source, and the process's pseudo-random
// sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Fills buffer with count secure random bytes (getrandom). Never fails from the caller's view: interrupted or
// short reads are continued, and a kernel without getrandom is read through /dev/urandom; when no secure source
// exists at all the process aborts rather than hand out predictable bytes.
void FillSecureRandom(void* buffer, size_t count);

// A new version-4 (random) UUID from the same source: the 16 bytes in RFC 9562 order, version 4 in the high
// nibble of byte 6 and the variant bits 10 at the top of byte 8.
void FillRandomUUID(uint8_t* bytes);

// The next number, 0 to 2^31 - 1, of the process's pseudo-random sequence (random(), seeded by srandom).
int32_t NextPseudoRandom();

}  // namespace plat
