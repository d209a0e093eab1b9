// A collator compares, tests and searches UTF-16 text under the rules of one dialect. This abstract class
// also implements the wildcard ("like") comparison on top of the primitive operations of a concrete collator.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/values/VValue.h"

namespace velk {

class VString;

class VELK_API VCollator : public VObject, public IRefCountable
{
public:
	// The wild char of a new collator: the commercial at.
	static const UniChar sDefaultWildChar;

	// Bit of the options byte: wild chars inside a like pattern are ordinary characters; only one at the very
	// start or the very end is wild.
	static constexpr uint8 kOPTION_IGNORE_WILDCHAR_IN_MIDDLE = 0x02;

	~VCollator() override;

	// Every operation below compares with or without diacritics: with, case and diacritics are significant;
	// without, both are ignored. Width is ignored either way. Sizes count UTF-16 units; a null text counts as
	// empty when its size is 0.

	// Three-way order of two texts: -1, 0 or 1. An empty text is smaller than any other.
	virtual CompareResult CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const = 0;
	virtual bool EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const = 0;

	// The 1-based position of the first match of the pattern in the text, 0 when none; *outFoundLength (may be
	// null) gets the length of the matched text, which may differ from the pattern's ("é" found by "e" and a
	// combining acute). An empty pattern is found at 1 in a non-empty text, with length 0.
	virtual int32 FindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const = 0;
	// As FindString, for the last match; matches may overlap ("aa" is last found at 2 in "aaa").
	virtual int32 ReversedFindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const = 0;
	// Whether the text begins with the pattern; *outFoundLength gets the matched length (0 for an empty pattern).
	virtual bool BeginsWithString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const;
	// Whether the text ends with the pattern; *outFoundLength gets the length of the matching tail, 0 when false.
	virtual bool EndsWithString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const;

	// A new collator (one reference) of the same dialect, wild char and options; null when memory is short.
	virtual VCollator* Clone() const = 0;

	// A plain store: likes running on other threads may see the change at any moment.
	virtual void SetWildChar(UniChar inWildChar);

	// Names the comparison rules, so that an index ordered by them can tell when they changed.
	virtual void GetStringComparisonAlgorithmSignature(VString& outSignature) const = 0;

	// The wild char back to sDefaultWildChar.
	virtual void Reset();

	// The two like algorithms, text first and pattern second (see CompareString_Like).
	virtual CompareResult _CompareString_Like_IgnoreWildCharInMiddle(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	virtual CompareResult _CompareString_Like_SupportWildCharInMiddle(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;

	// Text against a pattern in which runs of the wild char match any run of characters (also an empty one);
	// 0 when the text matches. Without a wild char in the pattern this is CompareString. With the option
	// kOPTION_IGNORE_WILDCHAR_IN_MIDDLE only a wild char at either end of the pattern is wild.
	CompareResult CompareString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	// Whether CompareString_Like gives 0, settled without the platform for plain ASCII texts. Characters
	// U+0000-U+0008, U+000E-U+001F and U+007F are skipped in both texts.
	bool EqualString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const;
	// Whether an index ordered by this collator may serve a like search with the pattern: true without a wild
	// char or with a single one at the end, unless the prefix holds kana (whose order does not group them).
	bool IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* inPattern, int32 inPatternSize) const;

	uint32 GetDialectCode() const { return fDialectCode; }
	UniChar GetWildChar() const { return fWildChar; }
	uint8 GetOptions() const { return fOptions; }

protected:
	explicit VCollator(uint32 inDialectCode);
	VCollator(const VCollator& inOther);
	VCollator& operator=(const VCollator&) = delete;

	// The tail search of EndsWithString and the like algorithms: the 1-based position of the last match
	// found by repeated FindString (each one character after the previous match's start), 0 when none.
	int32 _FindLastByRepeatedFind(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const;

	uint32 fDialectCode;
	UniChar fWildChar;
	uint8 fOptions;
};

}  // namespace velk
