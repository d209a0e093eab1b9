// The tables of the Mac character sets the conversion library lacks, as a package in the library's own
// data format, made by tools/make-mac-charsets.
#pragma once

namespace plat {

extern const char kMacCharSetPackageName[];
extern const unsigned char kMacCharSetPackage[];

}  // namespace plat
