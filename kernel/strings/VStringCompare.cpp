// Language-aware comparisons of strings, with one another and with the flat form of a string, through the
// current task's international manager or the one of the options.
#include "kernel/strings/VString.h"

#include <algorithm>

#include "kernel/strings/VStringOrder.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

using Text = VStringOrder::FlatText;

// Which text a comparison cuts to the other's length first: none, this string (its beginning against the
// other), or the other text (the other as the beginning of this string).
enum class Cut
{
	kNone,
	kThis,
	kOther
};

inline Text TextOf(const VValue* value)
{
	const VString& text = *static_cast<const VString*>(value);
	return Text{text.GetCPointer(), text.GetLength()};
}

// Every ordering of this string with another text goes through here: the cut, then this string first, or
// the other text first when swapped.
CompareResult OrderTexts(const VIntlMgr* intl, Text mine, Text other, Cut cut, bool swapped, bool like, bool diacritics)
{
	if (cut == Cut::kThis)
		mine.fLength = std::min(mine.fLength, other.fLength);
	else if (cut == Cut::kOther)
		other.fLength = std::min(mine.fLength, other.fLength);
	return swapped ? VStringOrder::Order(intl, other.fUnits, other.fLength, mine.fUnits, mine.fLength, like, diacritics)
				   : VStringOrder::Order(intl, mine.fUnits, mine.fLength, other.fUnits, other.fLength, like, diacritics);
}

bool EqualTexts(const VIntlMgr* intl, Text mine, Text other, bool swapped, bool like, bool diacritics)
{
	return swapped ? VStringOrder::Equal(intl, other.fUnits, other.fLength, mine.fUnits, mine.fLength, like, diacritics)
				   : VStringOrder::Equal(intl, mine.fUnits, mine.fLength, other.fUnits, other.fLength, like, diacritics);
}

}  // namespace

CompareResult VString::CompareToString(const VString& other, bool diacritics) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, Text{other.fString, other.fLength}, Cut::kNone, false, false, diacritics);
}

CompareResult VString::CompareToString_Like(const VString& pattern, bool diacritics) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, Text{pattern.fString, pattern.fLength}, Cut::kNone, false, true, diacritics);
}

bool VString::EqualToString(const VString& other, bool diacritics) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, Text{other.fString, other.fLength}, false, false, diacritics);
}

bool VString::EqualToString_Like(const VString& pattern, bool diacritics) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, Text{pattern.fString, pattern.fLength}, false, true, diacritics);
}

CompareResult VString::CompareTo(const VValueSingle& other, bool diacritical) const
{
	VString text;
	other.GetString(text);
	return CompareToString(text, diacritical);
}

bool VString::EqualTo(const VValueSingle& other, bool diacritical) const
{
	VString text;
	other.GetString(text);
	return EqualToString(text, diacritical);
}

void VString::GetValue(VValueSingle& value) const
{
	value.FromString(*this);
}

bool VString::FromValueSameKind(const VValue* other)
{
	const VString* text = dynamic_cast<const VString*>(other);
	if (text == nullptr)
		return false;
	FromString(*text);
	return true;
}

// The value-model forms: another string value, or the flat form of one, in the plain, "_Like" and
// "WithOptions" variants, all through OrderTexts and EqualTexts.

CompareResult VString::CompareToSameKind(const VValue* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, TextOf(other), Cut::kNone, false, false, diacritical);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, TextOf(other), Cut::kThis, false, false, diacritical);
}

bool VString::EqualToSameKind(const VValue* other, bool diacritical) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, TextOf(other), false, false, diacritical);
}

CompareResult VString::CompareToSameKindPtr(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kNone, false, false, diacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kNone, true, false, diacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kThis, false, false, diacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kOther, false, false, diacritical);
}

bool VString::EqualToSameKindPtr(const void* other, bool diacritical) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), false, false, diacritical);
}

CompareResult VString::CompareToSameKind_Like(const VValue* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, TextOf(other), Cut::kNone, false, true, diacritical);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, TextOf(other), Cut::kThis, false, true, diacritical);
}

bool VString::EqualToSameKind_Like(const VValue* other, bool diacritical) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, TextOf(other), false, true, diacritical);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kNone, false, true, diacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kNone, true, true, diacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kThis, false, true, diacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return OrderTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), Cut::kOther, false, true, diacritical);
}

bool VString::EqualToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), false, true, diacritical);
}

bool VString::Swap_EqualToSameKindPtr_Like(const void* other, bool diacritical) const
{
	return EqualTexts(VTask::GetCurrentIntlManager(), Text{fString, fLength}, VStringOrder::ReadFlat(other), true, true, diacritical);
}

CompareResult VString::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
	const Cut cut = options.IsBeginsWith() ? Cut::kThis : Cut::kNone;
	return OrderTexts(options.GetIntlMgr(), Text{fString, fLength}, TextOf(other), cut, false, options.IsLike(), options.IsDiacritical());
}

bool VString::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
	return EqualTexts(options.GetIntlMgr(), Text{fString, fLength}, TextOf(other), false, options.IsLike(), options.IsDiacritical());
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	const Cut cut = options.IsBeginsWith() ? Cut::kThis : Cut::kNone;
	return OrderTexts(options.GetIntlMgr(), Text{fString, fLength}, VStringOrder::ReadFlat(other), cut, false, options.IsLike(), options.IsDiacritical());
}

bool VString::EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	return EqualTexts(options.GetIntlMgr(), Text{fString, fLength}, VStringOrder::ReadFlat(other), false, options.IsLike(), options.IsDiacritical());
}

CompareResult VString::Swap_CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	// The flat text comes first, and is what begins-with cuts.
	const Cut cut = options.IsBeginsWith() ? Cut::kOther : Cut::kNone;
	return OrderTexts(options.GetIntlMgr(), Text{fString, fLength}, VStringOrder::ReadFlat(other), cut, true, options.IsLike(), options.IsDiacritical());
}

}  // namespace velk
