// Reads one XLIFF "trans-unit" and, at its end, enters its text in the manager's tables: by STR# code, by
// resource name (or the composite key of a "[...]" outer group) and in the tables of its groups.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "documents/localization/VLocalizationUnitText.h"
#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VLocalizationManager;
class VValueBag;

class VELK_API VLocalizationTransUnitHandler : public VObject, public IXMLHandler
{
public:
	// groupBag (retained, may be null): the bag of a group with a resource type; the unit then keeps a bag
	// of its own there.
	VLocalizationTransUnitHandler(uint32 groupID, const std::vector<VString>& groupNames, VValueBag* groupBag,
		bool override, VLocalizationManager* manager);
	~VLocalizationTransUnitHandler() override;

	IXMLHandler* StartElement(const VString& name) override;
	void EndElement(const VString& name) override;
	void SetAttribute(const VString& name, const VString& value) override;
	void SetText(const VString& text) override;

	// The platform test of "yr:includeIf" (isInclude) and "yr:excludeIf": values naming none of "mac",
	// "win" and "linux" leave excluded alone; otherwise it is set when the condition leaves this platform
	// out. It is never cleared, so two conditions combine by "or".
	static void CheckPlatformTag(const VString& value, bool isInclude, bool& excluded);

private:
	void _EndUnit();

	VLocalizationManager* fManager;  // not owned
	VLocalizationUnitText fUnit;
	uint32 fGroupID;
	VValueBag* fGroupBag = nullptr;  // one reference owned
	VValueBag* fBag = nullptr;  // one reference owned
	bool fOverride;
	std::vector<VString> fGroupNames;  // innermost last
};

}  // namespace velk
