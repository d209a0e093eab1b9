// Reads an accepted XLIFF "group" and the groups nested in it: the group names and ids its units are
// filed under, and a bag of its attributes and units for named groups of a resource type.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VLocalizationManager;
class VValueBag;

class VELK_API VLocalizationGroupHandler : public VObject, public IXMLHandler
{
public:
	VLocalizationGroupHandler(bool override, VLocalizationManager* manager);
	~VLocalizationGroupHandler() override;

	// A unit handler for "trans-unit"; itself (retained) for a nested "group"; null otherwise.
	IXMLHandler* StartElement(const VString& name) override;
	// Files a named group's bag with the manager, then leaves the innermost group.
	void EndElement(const VString& name) override;
	void SetAttribute(const VString& name, const VString& value) override;
	void SetText(const VString& text) override;

private:
	VLocalizationManager* fManager;  // not owned
	bool fOverride;
	uint32 fGroupID = 0;
	std::vector<VString> fGroupNames;  // innermost last
	VValueBag* fGroupBag = nullptr;  // one reference owned
	VString fResType;
};

}  // namespace velk
