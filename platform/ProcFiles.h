// Readers of the kernel's text files under /proc and /sys and of the system's small settings files. Each
// takes the root the files hang from ("/" on a running system), so that fixture trees can stand in for it.
// None fails loudly: what cannot be read gives the stated empty answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// text without its leading and trailing blanks (spaces, tabs, CR, LF).
std::string TrimBlanks(const std::string& text);

// The lines of text without their line ends; a last line without one counts.
std::vector<std::string> SplitLines(const std::string& text);

// The rest of the first line of text that starts with prefix ("KEY="), blanks trimmed; false when no line does.
bool FindLineValue(const std::string& text, const char* prefix, std::string& value);

// path ("/proc/...") under root, which may end with a '/'.
std::string JoinRoot(const std::string& root, const char* path);

// The whole of a small text file (at most limit bytes); empty when it cannot be read or is no regular file.
std::string ReadTextFile(const std::string& path, size_t limit = size_t(1) << 20);

// The machine's product name from the firmware tables, blanks trimmed; empty when there is none.
std::string ReadProductName(const std::string& root);

// The first processor's "model name" from cpuinfo, blanks trimmed; false when there is none.
bool ReadProcessorModel(const std::string& root, std::string& model);

// Distinct physical cores (package and core pairs) among the processors the kernel knows, or among those
// online only; 0 when the topology cannot be read.
int32_t CountPhysicalCores(const std::string& root, bool onlineOnly);

// A "Key: n kB" line of meminfo in bytes; 0 when the key is missing.
uint64_t ReadMemInfoBytes(const std::string& root, const char* key);

// This process's virtual and resident size in pages, from its statm; false when unreadable.
bool ReadOwnMemoryPages(const std::string& root, uint64_t& sizePages, uint64_t& residentPages);

// The first mapping of this process that ends above address: when it starts above address, the gap up to
// it (free, base = address); otherwise the mapping itself. False, all zero, when no mapping lies there.
bool QueryOwnMapping(const std::string& root, uintptr_t address, uintptr_t& base, size_t& size, bool& isFree);

// Whether a tracer (a debugger) is attached to this process, from its status's TracerPid.
bool HasTracer(const std::string& root);

// The PRETTY_HOSTNAME of machine-info, its quotes and escapes removed; empty when unset.
std::string ReadPrettyHostName(const std::string& root);

}  // namespace plat
