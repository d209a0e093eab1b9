// The collator of the toolbox: comparison and search by the platform's locale-aware string services, under
// the locale of one dialect.
#pragma once

#include "kernel/VExport.h"

#include "kernel/intl/VCollator.h"
#include "kernel/intl/mac/XMacStringCompare.h"

namespace velk {

class VIntlMgr;

class VELK_API VCollator_system : public VCollator
{
public:
	// A new collator (one reference) for the dialect; it takes the locale of the manager's platform half
	// when a manager is given, else makes one for the dialect. Null when memory is short or no locale can be
	// made for the dialect.
	static VCollator_system* Create(uint32 inDialect, VIntlMgr* inManagerOrNull);

	~VCollator_system() override;

	CompareResult CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const override;
	bool EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const override;
	int32 FindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const override;
	int32 ReversedFindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const override;
	VCollator* Clone() const override;
	// "system:" followed by the operating system's version text.
	void GetStringComparisonAlgorithmSignature(VString& outSignature) const override;

private:
	VCollator_system(uint32 inDialect, XMacStringCompare&& inCompare);
	VCollator_system(const VCollator_system& inOther);

	XMacStringCompare fCompare;
};

}  // namespace velk
