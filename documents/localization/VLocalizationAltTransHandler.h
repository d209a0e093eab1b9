// Reads an "alt-trans" inside an XLIFF unit into the unit's bag; it never writes to the manager's tables.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "documents/localization/VLocalizationUnitText.h"
#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VValueBag;

class VELK_API VLocalizationAltTransHandler : public VObject, public IXMLHandler
{
public:
	// unitBag (retained, may be null): the alt-trans keeps a bag of its own there.
	VLocalizationAltTransHandler(const std::vector<VString>& groupNames, VValueBag* unitBag);
	~VLocalizationAltTransHandler() override;

	IXMLHandler* StartElement(const VString& name) override;
	void EndElement(const VString& name) override;
	void SetAttribute(const VString& name, const VString& value) override;
	void SetText(const VString& text) override;

private:
	VLocalizationUnitText fUnit;
	VValueBag* fUnitBag = nullptr;  // one reference owned
	VValueBag* fBag = nullptr;  // one reference owned
	std::vector<VString> fGroupNames;
};

}  // namespace velk
