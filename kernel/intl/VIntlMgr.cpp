// Making and copying international managers, their collator, and the system's dialect.
#include "kernel/intl/VIntlMgr.h"

#include <new>
#include <string>

#include "kernel/intl/VCollator.h"
#include "kernel/intl/VCollator_system.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"
#include "platform/PreferredLanguages.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr VError VE_INTL_NO_COLLATOR = MakeVError(kVELK_SIGNATURE, 305);

// Read and written from any thread: several tasks may resolve the system dialect at once.
std::atomic<uint32> sSystemDialect{kDIALECT_NONE};

bool IsSystemDialectCode(uint32 inDialect)
{
	return inDialect == 0 || inDialect == uint32(-1) || inDialect == uint32(-2);
}

// Create's fall-backs: a code outside the table becomes its primary language, then 1033. found tells
// whether the table held the code or its primary language.
uint32 FallBackToTable(uint32 inDialect, bool* outFound = nullptr)
{
	bool found = true;
	if (!VIntlMgr::IsDialectCode(inDialect))
	{
		inDialect = (inDialect & 0x3FF) | 0x400;
		if (!VIntlMgr::IsDialectCode(inDialect))
		{
			inDialect = kDIALECT_US_ENGLISH;
			found = false;
		}
	}
	if (outFound != nullptr)
		*outFound = found;
	return inDialect;
}

// A preferred language's tag as a dialect, as the system's canonical identifier is parsed; 1033 when not
// in the table.
uint32 DialectOfLanguageTag(const std::string& inTag)
{
	VString tag;
	tag.FromBlock(inTag.data(), inTag.size(), kCharSet_UTF8);
	uint32 dialect = kDIALECT_NONE;
	if (!VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(tag, dialect, true, true))
		dialect = kDIALECT_US_ENGLISH;
	return dialect;
}

}  // namespace

VIntlMgr::VIntlMgr(uint32 inDialect, uint32 inOptions) : fMacIntlMgr(inDialect), fOptions(inOptions), fDialect(inDialect)
{
}

VIntlMgr::VIntlMgr(const VIntlMgr& inOther)
	: VObject()
	, IRefCountable()
	, fMacIntlMgr(inOther.fMacIntlMgr)
	, fOptions(inOther.fOptions)
	, fDialect(inOther.fDialect)
	, fAMString(inOther.fAMString)
	, fPMString(inOther.fPMString)
	, fUse12HourClock(inOther.fUse12HourClock)
	, fDecimalSeparator(inOther.fDecimalSeparator)
	, fThousandsSeparator(inOther.fThousandsSeparator)
	, fDateSeparator(inOther.fDateSeparator)
	, fTimeSeparator(inOther.fTimeSeparator)
	, fCurrency(inOther.fCurrency)
	, fShortDatePattern(inOther.fShortDatePattern)
	, fMediumDatePattern(inOther.fMediumDatePattern)
	, fLongDatePattern(inOther.fLongDatePattern)
	, fFullDatePattern(inOther.fFullDatePattern)
	, fShortTimePattern(inOther.fShortTimePattern)
	, fMediumTimePattern(inOther.fMediumTimePattern)
	, fLongTimePattern(inOther.fLongTimePattern)
	, fFullTimePattern(inOther.fFullTimePattern)
	, fDateOrder(inOther.fDateOrder)
{
	if (inOther.fCollator != nullptr)
		fCollator = inOther.fCollator->Clone();
}

VIntlMgr::~VIntlMgr()
{
	if (fCollator != nullptr)
		fCollator->Release();
}

VIntlMgr* VIntlMgr::Create(uint32 inDialect, uint32 inCollatorDialect, uint8 inOptions)
{
	const uint32 dialect = FallBackToTable(ResolveDialectCode(inDialect));
	bool collatorFound = false;
	uint32 collatorDialect = FallBackToTable(ResolveDialectCode(inCollatorDialect), &collatorFound);
	// The platform's collation of Thai and Hungarian is not the one their users expect of ordered indexes.
	if (collatorFound && (collatorDialect == 1054 || collatorDialect == 1038))
		collatorDialect = kDIALECT_US_ENGLISH;

	const VIntlMgr* current = VTask::GetCurrentIntlManager();
	if (current != nullptr && current->fDialect == dialect && current->fCollator != nullptr
		&& current->fCollator->GetDialectCode() == collatorDialect && current->fCollator->GetOptions() == inOptions)
	{
		VIntlMgr* copy = current->Clone();
		if (copy == nullptr)
			return nullptr;
		copy->Reset();
		return copy;
	}

	// ICU collation is not offered by this system (kCREATE_NO_ICU changes nothing): every manager collates
	// through the platform.
	VIntlMgr* manager = new (std::nothrow) VIntlMgr(dialect, kOPTION_PLATFORM_COLLATION);
	if (manager == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (!manager->_InitCollator(collatorDialect, inOptions))
	{
		manager->Release();
		_ThrowError(VE_INTL_NO_COLLATOR);
		return nullptr;
	}
	manager->_InitLocaleVariables();
	return manager;
}

bool VIntlMgr::_InitCollator(uint32 inCollatorDialect, uint8 /*inOptions*/)
{
	if (fCollator == nullptr)
	{
		// The same dialect shares the manager's platform locale.
		fCollator = VCollator_system::Create(inCollatorDialect, inCollatorDialect == fDialect ? this : nullptr);
	}
	return fCollator != nullptr;
}

VIntlMgr* VIntlMgr::Clone() const
{
	VIntlMgr* copy = new (std::nothrow) VIntlMgr(*this);
	if (copy != nullptr && copy->fCollator == nullptr && fCollator != nullptr)
	{
		copy->Release();
		copy = nullptr;
	}
	if (copy == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return copy;
}

void VIntlMgr::Reset()
{
	if (fCollator != nullptr)
		fCollator->Reset();
}

// ---------------------------------------------------------------------------------------------------------
// Comparison

CompareResult VIntlMgr::CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const
{
	return fCollator->CompareString(inText1, inSize1, inText2, inSize2, inWithDiacritics);
}

CompareResult VIntlMgr::CompareString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, const VCompareOptions& inOptions) const
{
	if (inOptions.IsLike())
		return fCollator->CompareString_Like(inText1, inSize1, inText2, inSize2, inOptions.IsDiacritical());
	return fCollator->CompareString(inText1, inSize1, inText2, inSize2, inOptions.IsDiacritical());
}

bool VIntlMgr::EqualString(const UniChar* inText1, int32 inSize1, const UniChar* inText2, int32 inSize2, bool inWithDiacritics) const
{
	return fCollator->EqualString(inText1, inSize1, inText2, inSize2, inWithDiacritics);
}

CompareResult VIntlMgr::CompareString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const
{
	return fCollator->CompareString_Like(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics);
}

bool VIntlMgr::EqualString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const
{
	return fCollator->EqualString_Like(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics);
}

UniChar VIntlMgr::GetWildChar() const
{
	return fCollator->GetWildChar();
}

void VIntlMgr::GetStringComparisonAlgorithmSignature(VString& outSignature) const
{
	fCollator->GetStringComparisonAlgorithmSignature(outSignature);
}

void VIntlMgr::GetKewordAlgorithmSignature(VString& ioSignature) const
{
	if ((fOptions & kOPTION_PLATFORM_COLLATION) != 0)
		ioSignature = VString("AlphaNum");
	else if ((fOptions & 0x6) == 0)
		ioSignature.Clear();
}

// ---------------------------------------------------------------------------------------------------------
// The system's dialect

uint32 VIntlMgr::ResolveDialectCode(uint32 inDialect)
{
	if (!IsSystemDialectCode(inDialect))
		return inDialect;
	uint32 dialect = sSystemDialect.load(std::memory_order_acquire);
	if (dialect != kDIALECT_NONE)
		return dialect;
	// Two threads may compute it at once; both find the same answer.
	const std::vector<std::string> languages = plat::CopyPreferredLanguages();
	// An empty list means memory was short: answer the last resort without keeping it.
	if (languages.empty())
		return kDIALECT_US_ENGLISH;
	dialect = DialectOfLanguageTag(languages.front());
	sSystemDialect.store(dialect, std::memory_order_release);
	return dialect;
}

void VIntlMgr::_ForgetSystemDialect()
{
	sSystemDialect.store(kDIALECT_NONE, std::memory_order_release);
}

uint32 VIntlMgr::GetSystemUIDialectCode()
{
	const std::vector<std::string> languages = plat::CopyPreferredLanguages();
	return languages.empty() ? kDIALECT_US_ENGLISH : DialectOfLanguageTag(languages.front());
}

void VIntlMgr::GetSystemUIDialectCodes(std::vector<uint32>& outDialects)
{
	outDialects.clear();
	try
	{
		for (const std::string& language : plat::CopyPreferredLanguages())
			outDialects.push_back(DialectOfLanguageTag(language));
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

bool VIntlMgr::IsSystemUIDialectIdeographic()
{
	switch (GetSystemUIDialectCode())
	{
		case 1028:
		case 1041:
		case 1042:
		case 2052:
		case 2066:
		case 3076:
		case 4100:
			return true;
		default:
			return false;
	}
}

}  // namespace velk
