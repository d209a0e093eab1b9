// Language-aware comparisons of strings, with one another and with the flat form of a string, through the
// current task's international manager or the one of the options.
#include "kernel/strings/VString.h"

#include <algorithm>

#include "kernel/strings/VStringOrder.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

using FlatText = VStringOrder::FlatText;

inline FlatText ReadFlat(const void* data)
{
	return VStringOrder::ReadFlat(data);
}

inline CompareResult Order(const VIntlMgr* intl, const UniChar* a, int32 aLength, const UniChar* b, int32 bLength, bool like, bool diacritics)
{
	return VStringOrder::Order(intl, a, aLength, b, bLength, like, diacritics);
}

inline bool Equal(const VIntlMgr* intl, const UniChar* a, int32 aLength, const UniChar* b, int32 bLength, bool like, bool diacritics)
{
	return VStringOrder::Equal(intl, a, aLength, b, bLength, like, diacritics);
}

inline const VString& AsString(const VValue* value)
{
	return *static_cast<const VString*>(value);
}

}  // namespace

CompareResult VString::CompareToString(const VString& other, bool diacritics) const
{
	return Order(VTask::GetCurrentIntlManager(), fString, fLength, other.fString, other.fLength, false, diacritics);
}

CompareResult VString::CompareToString_Like(const VString& pattern, bool diacritics) const
{
	return Order(VTask::GetCurrentIntlManager(), fString, fLength, pattern.fString, pattern.fLength, true, diacritics);
}

bool VString::EqualToString(const VString& other, bool diacritics) const
{
	return Equal(VTask::GetCurrentIntlManager(), fString, fLength, other.fString, other.fLength, false, diacritics);
}

bool VString::EqualToString_Like(const VString& pattern, bool diacritics) const
{
	return Equal(VTask::GetCurrentIntlManager(), fString, fLength, pattern.fString, pattern.fLength, true, diacritics);
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

CompareResult VString::CompareToSameKind(const VValue* other, bool diacritical) const
{
	return CompareToString(AsString(other), diacritical);
}

CompareResult VString::CompareBeginingToSameKind(const VValue* other, bool diacritical) const
{
	const VString& text = AsString(other);
	return Order(VTask::GetCurrentIntlManager(), fString, std::min(fLength, text.fLength), text.fString, text.fLength, false, diacritical);
}

bool VString::EqualToSameKind(const VValue* other, bool diacritical) const
{
	return EqualToString(AsString(other), diacritical);
}

CompareResult VString::CompareToSameKindPtr(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), fString, fLength, flat.fUnits, flat.fLength, false, diacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), flat.fUnits, flat.fLength, fString, fLength, false, diacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), fString, std::min(fLength, flat.fLength), flat.fUnits, flat.fLength, false, diacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), fString, fLength, flat.fUnits, std::min(fLength, flat.fLength), false, diacritical);
}

bool VString::EqualToSameKindPtr(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Equal(VTask::GetCurrentIntlManager(), fString, fLength, flat.fUnits, flat.fLength, false, diacritical);
}

CompareResult VString::CompareToSameKind_Like(const VValue* other, bool diacritical) const
{
	return CompareToString_Like(AsString(other), diacritical);
}

CompareResult VString::CompareBeginingToSameKind_Like(const VValue* other, bool diacritical) const
{
	const VString& text = AsString(other);
	return Order(VTask::GetCurrentIntlManager(), fString, std::min(fLength, text.fLength), text.fString, text.fLength, true, diacritical);
}

bool VString::EqualToSameKind_Like(const VValue* other, bool diacritical) const
{
	return EqualToString_Like(AsString(other), diacritical);
}

CompareResult VString::CompareToSameKindPtr_Like(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), fString, fLength, flat.fUnits, flat.fLength, true, diacritical);
}

CompareResult VString::Swap_CompareToSameKindPtr_Like(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), flat.fUnits, flat.fLength, fString, fLength, true, diacritical);
}

CompareResult VString::CompareBeginingToSameKindPtr_Like(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), fString, std::min(fLength, flat.fLength), flat.fUnits, flat.fLength, true, diacritical);
}

CompareResult VString::IsTheBeginingToSameKindPtr_Like(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Order(VTask::GetCurrentIntlManager(), fString, fLength, flat.fUnits, std::min(fLength, flat.fLength), true, diacritical);
}

bool VString::EqualToSameKindPtr_Like(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Equal(VTask::GetCurrentIntlManager(), fString, fLength, flat.fUnits, flat.fLength, true, diacritical);
}

bool VString::Swap_EqualToSameKindPtr_Like(const void* other, bool diacritical) const
{
	const FlatText flat = ReadFlat(other);
	return Equal(VTask::GetCurrentIntlManager(), flat.fUnits, flat.fLength, fString, fLength, true, diacritical);
}

CompareResult VString::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
	const VString& text = AsString(other);
	const int32 length = options.IsBeginsWith() ? std::min(fLength, text.fLength) : fLength;
	return Order(options.GetIntlMgr(), fString, length, text.fString, text.fLength, options.IsLike(), options.IsDiacritical());
}

bool VString::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
	const VString& text = AsString(other);
	return Equal(options.GetIntlMgr(), fString, fLength, text.fString, text.fLength, options.IsLike(), options.IsDiacritical());
}

CompareResult VString::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	const FlatText flat = ReadFlat(other);
	const int32 length = options.IsBeginsWith() ? std::min(fLength, flat.fLength) : fLength;
	return Order(options.GetIntlMgr(), fString, length, flat.fUnits, flat.fLength, options.IsLike(), options.IsDiacritical());
}

bool VString::EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	const FlatText flat = ReadFlat(other);
	return Equal(options.GetIntlMgr(), fString, fLength, flat.fUnits, flat.fLength, options.IsLike(), options.IsDiacritical());
}

CompareResult VString::Swap_CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const
{
	const FlatText flat = ReadFlat(other);
	const int32 length = options.IsBeginsWith() ? std::min(fLength, flat.fLength) : flat.fLength;
	return Order(options.GetIntlMgr(), flat.fUnits, length, fString, fLength, options.IsLike(), options.IsDiacritical());
}

}  // namespace velk
