// What a "trans-unit" and its "alt-trans" read alike: the texts of their "source" and "target" children, and
// their id, resource name and platform conditions.
#pragma once

#include "kernel/VExport.h"

#include "kernel/strings/VString.h"

namespace velk {

class VValueBag;

struct VELK_API VLocalizationUnitText
{
	// "source" or "target": the children whose text is the unit's.
	static bool IsTextElement(const VString& name);
	// Reads the attributes the unit's entries depend on; bag (may be null) keeps every attribute as text.
	void SetAttribute(VValueBag* bag, const VString& name, const VString& value);
	// Appended to the text of the child being read, if it is one of the two.
	void SetText(const VString& text);
	// The target, else the source, else empty.
	const VString& GetValue() const;

	VString fChildName;
	int32 fUnitID = 0;
	VString fResName;
	VString fSource;
	VString fTarget;
	bool fHasSource = false;
	bool fHasTarget = false;
	bool fExcluded = false;
};

}  // namespace velk
