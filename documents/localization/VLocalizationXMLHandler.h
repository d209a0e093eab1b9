// The root handler of an XLIFF file: decides from the file's target language whether its groups and units
// reach the manager, and whether they replace texts already there. One per manager, reused for every file.
#pragma once

#include "kernel/VExport.h"

#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VLocalizationManager;

class VELK_API VLocalizationXMLHandler : public VObject, public IXMLHandler
{
public:
	explicit VLocalizationXMLHandler(VLocalizationManager* manager);

	// A group or unit handler when the file is accepted or forced; itself (retained) for anything else,
	// so that a refused subtree is read without effect.
	IXMLHandler* StartElement(const VString& name) override;
	// Only "target-language" of "file" counts. The flags carry over to the next file when it has none.
	void SetAttribute(const VString& name, const VString& value) override;
	void SetText(const VString& text) override;

	void SetForced(bool forced) { fForced = forced; }

private:
	VLocalizationManager* fManager;  // not owned
	bool fAccept = false;
	bool fOverride = true;
	VString fElementName;  // "file" while in that element's start, else empty
	bool fForced = false;
};

}  // namespace velk
