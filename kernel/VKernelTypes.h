// Fixed-size integer names, UTF-16 units and four-character codes shared by the whole toolbox.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;

// One UTF-16 code unit.
using UniChar = char16_t;

// Character-set number used at every byte/text boundary (7 is UTF-8, -2 the platform 8-bit default).
using CharSet = int32;

// Four-character code, first character in the most significant byte.
using OsType = uint32;

// Builds a four-character code from a four-letter literal: FourCharCode("velk").
constexpr OsType FourCharCode(const char (&text)[5])
{
	return (OsType(uint8(text[0])) << 24) | (OsType(uint8(text[1])) << 16) | (OsType(uint8(text[2])) << 8) | OsType(uint8(text[3]));
}

}  // namespace velk
