// The international manager: the locale services of one dialect, through which every language-aware
// comparison of strings runs. Reference-counted; the process holds one and every task a copy of it.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/values/VValue.h"

namespace velk {

class VCompareOptions;

class VELK_API VIntlMgr : public VObject, public IRefCountable
{
public:
	// The wild char of a new manager: the commercial at.
	static constexpr UniChar kDEFAULT_WILD_CHAR = u'@';

	// A new manager for the dialect (0, -1 and -2 stand for the system's), carrying one reference for the
	// caller. Until collators exist every manager compares the same way whatever its dialect: unit by
	// unit, ignoring case (simple case folding of each unit) when diacritics are ignored.
	static VIntlMgr* Create(uint32 inDialect, uint32 inCollatorDialect, uint8 inOptions);

	// A new manager equal to this one, carrying one reference for the caller; null when memory is short.
	VIntlMgr* Clone() const;

	// Three-way order of two texts (-1, 0, 1). With diacritics, case and diacritics are significant;
	// without, both are ignored. A null text counts as empty when its size is 0.
	CompareResult CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const;
	// As above, or as CompareString_Like when the options ask for a wildcard comparison, with the options'
	// diacritics flag.
	CompareResult CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, const VCompareOptions& inOptions) const;
	bool EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const;

	// Text against a pattern in which runs of the wild char match any run of characters (also an empty
	// one). Without a wild char in the pattern this is the plain comparison. 0 when the text matches.
	CompareResult CompareString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	// Whether the text matches the pattern as above; characters U+0000-U+0008, U+000E-U+001F and U+007F are
	// skipped in both.
	bool EqualString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;

	UniChar GetWildChar() const { return fWildChar; }
	// The wild char back to the default.
	void Reset() { fWildChar = kDEFAULT_WILD_CHAR; }

	// ---- Characters and words (VIntlMgrCharacters.cpp) ----
	// True for U+0020, U+00A0, U+2000-U+200B and U+3000 only (tab and line ends are not spaces here);
	// the flag is not used.
	bool IsSpace(UniChar inChar, bool inFlag = false) const;
	// ---- End of characters and words ----

private:
	VIntlMgr(uint32 inDialect, uint8 inOptions);
	VIntlMgr(const VIntlMgr& inOther);

	// The primitives the wildcard comparison is made of. _FindString answers the 1-based position of the
	// first match (0 when none) and the matched length; an empty pattern is found at 1 in a non-empty text.
	int32 _FindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const;
	bool _BeginsWith(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	bool _EndsWith(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;

	uint32 fDialect;
	uint8 fOptions;
	UniChar fWildChar = kDEFAULT_WILD_CHAR;
};

}  // namespace velk
