// The system collator's platform comparison and search.
#include "kernel/intl/mac/XMacStringCompare.h"

#include "kernel/intl/mac/XMacIntlMgr.h"
#include "platform/Collation.h"
#include "platform/Locale.h"

namespace velk {

XMacStringCompare::XMacStringCompare(plat::Locale* inLocale) : fLocale(inLocale)
{
	if (fLocale != nullptr)
	{
		fLocale->Retain();
		fWithDiacritics = plat::Collator::Get(*fLocale, true);
		fWithoutDiacritics = plat::Collator::Get(*fLocale, false);
	}
}

// A platform locale is immutable, so sharing it stands for copying it.
XMacStringCompare::XMacStringCompare(const XMacStringCompare& inOther)
	: fLocale(inOther.fLocale), fWithDiacritics(inOther.fWithDiacritics), fWithoutDiacritics(inOther.fWithoutDiacritics)
{
	if (fLocale != nullptr)
		fLocale->Retain();
}

XMacStringCompare::XMacStringCompare(XMacStringCompare&& inOther) noexcept
	: fLocale(inOther.fLocale), fWithDiacritics(inOther.fWithDiacritics), fWithoutDiacritics(inOther.fWithoutDiacritics)
{
	inOther.fLocale = nullptr;
	inOther.fWithDiacritics = nullptr;
	inOther.fWithoutDiacritics = nullptr;
}

XMacStringCompare::~XMacStringCompare()
{
	if (fLocale != nullptr)
		fLocale->Release();
}

XMacStringCompare XMacStringCompare::ForDialect(uint32 inDialect, XMacIntlMgr* inManagerHalfOrNull)
{
	plat::Locale* locale = (inManagerHalfOrNull != nullptr) ? inManagerHalfOrNull->RetainCFLocaleRef() : XMacIntlMgr::CreateCFLocaleRef(inDialect);
	XMacStringCompare compare(locale);
	if (locale != nullptr)
		locale->Release();
	return compare;
}

int32 XMacStringCompare::CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const
{
	const plat::Collator* collator = _GetCollator(inWithDiacritics);
	return (collator != nullptr) ? collator->Compare(inText1, inSize1, inText2, inSize2) : 0;
}

bool XMacStringCompare::EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const
{
	return CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics) == 0;
}

bool XMacStringCompare::IsIgnorable(const UniChar* inText, int32 inSize, bool inWithDiacritics) const
{
	const plat::Collator* collator = _GetCollator(inWithDiacritics);
	return collator != nullptr && collator->Compare(inText, inSize, u"", 0) == 0;
}

int32 XMacStringCompare::FindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const
{
	const plat::Collator* collator = _GetCollator(inWithDiacritics);
	int32_t start = 0;
	int32_t length = 0;
	const bool found = (collator != nullptr) && collator->Find(inText, inTextSize, inPattern, inPatternSize, &start, &length);
	if (outFoundLength != nullptr)
		*outFoundLength = found ? length : 0;
	return found ? start + 1 : 0;
}

}  // namespace velk
