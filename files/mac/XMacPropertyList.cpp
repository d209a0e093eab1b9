#include "files/mac/XMacPropertyList.h"

#include "platform/PropertyList.h"

namespace velk {

bool XMacPropertyList::IsBinary(const void* bytes, size_t size)
{
	return plat::IsBinaryPropertyList(bytes, size);
}

bool XMacPropertyList::ConvertBinaryToXML(const void* bytes, size_t size, std::string& xml)
{
	return plat::ConvertBinaryPropertyListToXML(bytes, size, xml);
}

}  // namespace velk
