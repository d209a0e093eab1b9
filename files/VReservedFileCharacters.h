// The characters that may not stand in a file name, written as '%' and two upper-case hexadecimal digits so
// that any text can become a name and come back: U+0000 to U+001F, '"', '%', '*', '/', ':', '<', '>', '?',
// '\' and '|'. No other unit is touched. When the new text cannot be made (velk 107 raised) both
// functions answer an empty text, never part of one.
#pragma once

#include "kernel/VExport.h"

#include "kernel/strings/VString.h"

namespace velk {

// The text with every reserved unit as "%XX". A text without one comes back as a copy sharing its buffer.
VELK_API VString EncodeReservedFileCharacters(const VString& text);

// The text with every '%' followed by two hexadecimal digits (either case) replaced by the unit they
// give. Any other '%' is kept as it is, so that no text can slip a character such as U+0000 into a name
// through a malformed escape. A text without '%' comes back as a copy sharing its buffer.
VELK_API VString DecodeReservedFileCharacters(const VString& text);

}  // namespace velk
