// The platform half of the system collator: comparison and search of UTF-16 text under one platform locale.
// Internal to the library (not exported): its interface speaks of platform types.
#pragma once

#include "kernel/VKernelTypes.h"

namespace plat {
class Collator;
class Locale;
}

namespace velk {

class XMacIntlMgr;

class XMacStringCompare
{
public:
	// Takes one reference on the locale, which may be null (then every comparison answers equal and every
	// search not found).
	explicit XMacStringCompare(plat::Locale* inLocale);
	XMacStringCompare(const XMacStringCompare& inOther);
	XMacStringCompare(XMacStringCompare&& inOther) noexcept;
	XMacStringCompare& operator=(const XMacStringCompare&) = delete;
	~XMacStringCompare();

	// The comparer of a manager's locale, or of a new locale for the dialect when no manager's half is given.
	static XMacStringCompare ForDialect(uint32 inDialect, XMacIntlMgr* inManagerHalfOrNull);

	bool HasLocale() const { return fLocale != nullptr; }

	// -1, 0, 1; both texts must be non-empty (the collator's guards handle empty ones).
	int32 CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const;
	bool EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const;
	// Whether the collation ignores every character of the text (a soft hyphen): it then sorts as an empty
	// text. False without a locale.
	bool IsIgnorable(const UniChar* inText, int32 inSize, bool inWithDiacritics) const;
	// The 1-based position of the first match and its length; 0 and 0 when none.
	int32 FindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const;

private:
	const plat::Collator* _GetCollator(bool inWithDiacritics) const { return inWithDiacritics ? fWithDiacritics : fWithoutDiacritics; }

	plat::Locale* fLocale;
	// The locale's shared platform collators, looked up once here rather than at each comparison.
	const plat::Collator* fWithDiacritics = nullptr;
	const plat::Collator* fWithoutDiacritics = nullptr;
};

}  // namespace velk
