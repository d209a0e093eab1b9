// Facts about the running system: the kernel release as the system's version, and the processor count.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// "Linux " followed by the kernel release (uname), for example "Linux 6.1.0-18-amd64"; read once.
// "Linux" alone when the release cannot be read.
const std::string& GetOSVersionText();

// The kernel release's leading numbers as major * 10000 + minor * 100 + patch (read once); 0 when unreadable.
uint32_t GetOSVersionDecimal();

// major * 10000 + minor * 100 + patch from the leading "major[.minor[.patch]]" of a release text, missing
// parts counting 0. Minor and patch above 99 count as 99, so the number keeps the releases' order without
// spilling into the next part; a major above 999 is unreadable. 0 when the text does not start with a digit.
uint32_t ParseVersionDecimal(const char* release);

// The kernel release (uname), for example "6.1.0-18-amd64"; empty when unreadable.
std::string GetKernelRelease();

// A release's leading numbers ("6.1.0") and the build text after them, a separating '-' or '.' dropped
// ("18-amd64"); both empty for a release that does not start with a digit.
void SplitKernelRelease(const std::string& release, std::string& numbers, std::string& build);

// The number of logical processors configured in the machine, at least 1 (read once).
int32_t GetLogicalProcessorCount();

}  // namespace plat
