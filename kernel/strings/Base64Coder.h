// Base64 text of bytes and back, in the standard and URL-safe alphabets of RFC 4648, into a growable byte
// buffer; and the checksum texts (Base64 and lower-case hexadecimal) built on it.
#pragma once

#include "kernel/VExport.h"

#include <array>
#include <cstddef>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VMemoryBuffer.h"

namespace velk {

class VString;

class VELK_API Base64Coder
{
public:
	using Buffer = VMemoryBuffer<1024, 2, 1048576>;

	// RFC 4648 tables 1 and 2.
	static constexpr char sBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
	static constexpr char sBase64URLAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
	// The 6-bit value of each byte of the alphabet, 255 for every other byte ('=' included). The URL table
	// is followed by the white space the standard decoder skips: space, TAB, CR, LF.
	static const std::array<uint8, 256> sBase64Inverse;
	static const std::array<uint8, 256 + 4> sBase64URLInverse;

	// Every operation first frees and empties out, then fills it through its own allocator. On failure out
	// is left empty unless said otherwise.

	// The Base64 text of size bytes. The standard alphabet pads with '=' and, with a lineLength of 1 or
	// more, puts CR LF after every lineLength groups of four characters (never after the last); the URL
	// alphabet neither pads nor breaks lines. Size 0 gives true and an empty out; null data with a non-zero
	// size, or memory short, gives false.
	static bool _Encode(const void* data, size_t size, Buffer& out, int lineLength, bool url);

	// Decodes with the standard decoder (white space skipped, padding required) or the URL one (no white
	// space, no padding). False on a byte outside the alphabet, a bad length, left-over bits that are not
	// zero, or memory short (velk 100 raised when the white-space-free copy cannot be made); out is then
	// emptied, or with keepPartial holds the bytes decoded before the fault.
	static bool Decode(const void* data, size_t size, Buffer& out, bool url, bool keepPartial);
	static bool _DecodeBase64(const uint8* data, size_t size, Buffer& out);
	static bool _DecodeBase64URL(const uint8* data, size_t size, Buffer& out);

	// Decodes up to quads groups of four bytes through the inverse table into out (room for 3 bytes a group),
	// advancing both positions by whole groups; stops before the first group holding a byte outside the
	// alphabet. True when all groups were decoded (zero groups included).
	static bool _DecodeQuads(const uint8* inverse, const uint8* data, size_t quads, uint8* out, size_t& readPos, size_t& writePos);

	// out becomes the padded standard Base64 of the bytes, without line breaks; cleared when memory is short.
	static void DO_EncodeChecksumBase64(const uint8* data, size_t size, VString& out);
	// out becomes two lower-case hexadecimal digits per byte, high nibble first. False, out cleared, for
	// 2^31 bytes or more or when memory is short.
	static bool DO_EncodeChecksumHexa(const uint8* data, size_t size, VString& out);
};

}  // namespace velk
