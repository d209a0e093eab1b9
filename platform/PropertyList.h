// Property lists in their binary form ("bplist00") turned into their XML form, so that one reader of the XML
// form reads both.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Whether bytes begin with "bplist00", the signature of the binary form.
bool IsBinaryPropertyList(const void* bytes, size_t size);

// The XML text (UTF-8) of the binary property list in bytes. False, xml emptied, when the bytes are not a
// well-formed binary property list, when its values nest deeper than kMaxPropertyListDepth, or when it holds
// more than kMaxPropertyListValues values, a value shared by several containers counting once for each (a
// small file made to expand into a huge document is refused before it is expanded).
bool ConvertBinaryPropertyListToXML(const void* bytes, size_t size, std::string& xml);

constexpr size_t kMaxPropertyListDepth = 100;
constexpr size_t kMaxPropertyListValues = 200000;

}  // namespace plat
