// The system collator: the guards for empty texts around the platform comparison and search.
#include "kernel/intl/VCollator_system.h"

#include <new>

#include "files/VSystem.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"

namespace velk {

VCollator_system* VCollator_system::Create(uint32 inDialect, VIntlMgr* inManagerOrNull)
{
	XMacStringCompare compare = XMacStringCompare::ForDialect(inDialect, (inManagerOrNull != nullptr) ? &inManagerOrNull->GetMacIntlMgr() : nullptr);
	if (!compare.HasLocale())
		return nullptr;
	return new (std::nothrow) VCollator_system(inDialect, std::move(compare));
}

VCollator_system::VCollator_system(uint32 inDialect, XMacStringCompare&& inCompare) : VCollator(inDialect), fCompare(std::move(inCompare)) {}

VCollator_system::VCollator_system(const VCollator_system& inOther) : VCollator(inOther), fCompare(inOther.fCompare) {}

VCollator_system::~VCollator_system() = default;

VCollator* VCollator_system::Clone() const
{
	return new (std::nothrow) VCollator_system(*this);
}

CompareResult VCollator_system::CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const
{
	if (inSize1 <= 0)
		return (inSize2 > 0) ? CR_SMALLER : CR_EQUAL;
	if (inSize2 <= 0)
		return CR_BIGGER;
	return CompareResult(fCompare.CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics));
}

bool VCollator_system::EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const
{
	return CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics) == CR_EQUAL;
}

namespace {

// What a search for an empty pattern answers: found at 1 with no length in a text that is not empty.
int32 FoundEmptyPattern(int32 inTextSize, int32* outFoundLength)
{
	if (outFoundLength != nullptr)
		*outFoundLength = 0;
	return (inTextSize > 0) ? 1 : 0;
}

}  // namespace

// A pattern made only of characters the collation ignores (a soft hyphen) stands for nothing, so it is
// searched as an empty one rather than found with no length at every place of the text.
int32 VCollator_system::FindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const
{
	if (inTextSize <= 0 || inPatternSize <= 0)
		return FoundEmptyPattern(inTextSize, outFoundLength);
	int32 length = 0;
	const int32 found = fCompare.FindString(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics, &length);
	// Only an ignorable pattern matches no text; one that matches nowhere is asked.
	if (found > 0 ? length == 0 : fCompare.IsIgnorable(inPattern, inPatternSize, inWithDiacritics))
		return FoundEmptyPattern(inTextSize, outFoundLength);
	if (outFoundLength != nullptr)
		*outFoundLength = length;
	return found;
}

int32 VCollator_system::ReversedFindString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const
{
	if (inTextSize <= 0 || inPatternSize <= 0 || fCompare.IsIgnorable(inPattern, inPatternSize, inWithDiacritics))
		return FoundEmptyPattern(inTextSize, outFoundLength);
	return _FindLastByRepeatedFind(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics, outFoundLength);
}

void VCollator_system::GetStringComparisonAlgorithmSignature(VString& outSignature) const
{
	VString version;
	VSystem::GetOSVersionString(version);
	outSignature = VString("system:");
	outSignature.AppendUniChars(version.GetCPointer(), version.GetLength());
}

}  // namespace velk
