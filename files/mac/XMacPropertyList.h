// The platform half of reading information property lists: a list in the binary form is turned into the XML
// form that the toolbox's XML parser reads. Pushes nothing.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <string>

namespace velk {

class VELK_API XMacPropertyList
{
public:
	// Whether bytes begin with the binary form's signature.
	static bool IsBinary(const void* bytes, size_t size);
	// The XML text (UTF-8) of a binary list; false, xml emptied, when the list is malformed or would expand
	// beyond the platform's bounds (plat::ConvertBinaryPropertyListToXML).
	static bool ConvertBinaryToXML(const void* bytes, size_t size, std::string& xml);
};

}  // namespace velk
