// A handler that reads a subtree and drops it: every child element is given to itself.
#pragma once

#include "kernel/VExport.h"

#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VELK_API VNullXMLHandler : public VObject, public IXMLHandler
{
public:
	// Itself, retained.
	IXMLHandler* StartElement(const VString& name) override;
	void SetAttribute(const VString& name, const VString& value) override;
	void SetText(const VString& text) override;
};

}  // namespace velk
