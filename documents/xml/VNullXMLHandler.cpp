// A handler that reads a subtree and drops it.
#include "documents/xml/VNullXMLHandler.h"

namespace velk {

IXMLHandler* VNullXMLHandler::StartElement(const VString& /*name*/)
{
	Retain();
	return this;
}

void VNullXMLHandler::SetAttribute(const VString& /*name*/, const VString& /*value*/)
{
}

void VNullXMLHandler::SetText(const VString& /*text*/)
{
}

}  // namespace velk
