// The Mac Arabic, Hebrew, simplified and traditional Chinese and Japanese character sets, which the
// conversion library's own data lacks, opened from tables of our own in the library's format.
#pragma once

struct UConverter;

namespace plat {

// A new converter of the library for the set with this name ("x-mac-arabic", "x-mac-hebrew",
// "x-mac-chinesesimp", "x-mac-chinesetrad", "x-mac-japanese"); null for any other name, and when the
// tables cannot be loaded on this machine. The caller closes it. Safe from any thread.
//
// Bytes 0x00-0x7F are ASCII both ways, except that Mac Japanese 0x5C is the yen sign (its backslash is
// 0x80). Mac Arabic and Hebrew also decode their right-to-left copies of ASCII punctuation, space and
// (Hebrew) digits to the ASCII characters. A byte that stands for several characters (a character with
// Apple's variant marker, a composed sign) decodes to all of them, and they encode back to that byte.
UConverter* OpenMacCharSetConverter(const char* name);

}  // namespace plat
