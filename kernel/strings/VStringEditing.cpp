// Editing a string in place: sub-strings, insertion, swapping, trimming one unit, exchanging units, case
// mapping, concatenation and reading a leading integer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr uint8 kBUFFER_FLAGS = VString::kFLAG_EXTERNAL | VString::kFLAG_UNREFCOUNTED;

// The value of a digit in any radix up to 36; 36 for a unit that is no digit.
int32 DigitValue(UniChar unit)
{
	if (unit >= u'0' && unit <= u'9')
		return unit - u'0';
	if (unit >= u'a' && unit <= u'z')
		return unit - u'a' + 10;
	if (unit >= u'A' && unit <= u'Z')
		return unit - u'A' + 10;
	return 36;
}

}  // namespace

void VString::SubString(int32 pos, int32 len)
{
	if (pos < 1 || pos > fLength || len < 0)
		return;
	const int32 kept = std::min(len, fLength - pos + 1);
	if (!_PrepareWrite(fLength))
		return;
	std::memmove(fString, fString + pos - 1, size_t(kept) * sizeof(UniChar));
	fLength = kept;
	fString[fLength] = 0;
	_SetNotNullDirty();
}

VString VString::GetSubString(int32 pos, int32 len) const
{
	if (pos < 1 || len < 1 || pos > fLength)
		return VString();
	return VString(fString + pos - 1, std::min(len, fLength - pos + 1));
}

void VString::Insert(UniChar unit, int32 pos)
{
	if (unit == 0 || pos < 1)
		return;
	if (pos > fLength)
	{
		AppendUniChar(unit);
		return;
	}
	if (fLength == INT32_MAX)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}
	if (!_PrepareWrite(fLength + 1))
		return;
	std::memmove(fString + pos, fString + pos - 1, size_t(fLength - pos + 1) * sizeof(UniChar));
	fString[pos - 1] = unit;
	fString[++fLength] = 0;
	_SetNotNullDirty();
}

void VString::Insert(const VString& text, int32 pos)
{
	if (pos < 1)
		return;
	if (pos > fLength)
	{
		_AppendUnits(text.fString, text.fLength);
		return;
	}
	if (&text == this)
	{
		const VString copy(text);
		Insert(copy, pos);
		return;
	}
	const int64 newLength = int64(fLength) + text.fLength;
	if (newLength > INT32_MAX)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return;
	}
	if (!_PrepareWrite(int32(newLength)))
		return;
	std::memmove(fString + pos - 1 + text.fLength, fString + pos - 1, size_t(fLength - pos + 1) * sizeof(UniChar));
	std::memcpy(fString + pos - 1, text.fString, size_t(text.fLength) * sizeof(UniChar));
	fLength = int32(newLength);
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::Swap(VString& other)
{
	if (&other == this)
		return;
	constexpr uint8 kSTATE = kFLAG_NULL | kFLAG_DIRTY;

	if (_IsInline() && other._IsInline())
	{
		// Both texts are copied: each buffer must first hold the longer one.
		const int32 longer = std::max(fLength, other.fLength);
		if (!_PrepareWrite(longer) || !other._PrepareWrite(longer))
			return;
		for (int32 i = 0; i < longer; ++i)
			std::swap(fString[i], other.fString[i]);
		std::swap(fLength, other.fLength);
		fString[fLength] = 0;
		other.fString[other.fLength] = 0;
		const uint8 nullFlag = fFlags & kFLAG_NULL;
		fFlags = uint8((fFlags & ~kSTATE) | (other.fFlags & kFLAG_NULL) | kFLAG_DIRTY);
		other.fFlags = uint8((other.fFlags & ~kSTATE) | nullFlag | kFLAG_DIRTY);
		return;
	}

	if (!_IsInline() && !other._IsInline())
	{
		// A string on a buffer of its own is never null.
		std::swap(fString, other.fString);
		std::swap(fLength, other.fLength);
		std::swap(fMaxLength, other.fMaxLength);
		const uint8 bufferFlags = fFlags & kBUFFER_FLAGS;
		fFlags = uint8((fFlags & ~kBUFFER_FLAGS) | (other.fFlags & kBUFFER_FLAGS) | kFLAG_DIRTY);
		other.fFlags = uint8((other.fFlags & ~kBUFFER_FLAGS) | bufferFlags | kFLAG_DIRTY);
		return;
	}

	// The buffer changes hands; the inline text is copied into the string that gave it up, whose own inline
	// buffer may be too small for it.
	VString& holder = _IsInline() ? *this : other;
	VString& owner = _IsInline() ? other : *this;
	UniChar* const buffer = owner.fString;
	const int32 length = owner.fLength;
	const int32 capacity = owner.fMaxLength;
	const uint8 bufferFlags = owner.fFlags & kBUFFER_FLAGS;
	owner.fString = owner.fInlineBuffer;
	owner.fLength = 0;
	owner.fMaxLength = owner.fInlineCapacity;
	owner.fFlags &= uint8(~kBUFFER_FLAGS);
	if (holder.fLength > owner.fMaxLength && !owner._ReallocBuffer(holder.fLength, false))
	{
		owner.fString = buffer;
		owner.fLength = length;
		owner.fMaxLength = capacity;
		owner.fFlags |= bufferFlags;
		return;
	}
	std::memcpy(owner.fString, holder.fString, size_t(holder.fLength) * sizeof(UniChar));
	owner.fLength = holder.fLength;
	owner.fString[owner.fLength] = 0;
	owner.fFlags = uint8((owner.fFlags & ~kSTATE) | (holder.fFlags & kFLAG_NULL) | kFLAG_DIRTY);

	holder.fString = buffer;
	holder.fLength = length;
	holder.fMaxLength = capacity;
	holder.fFlags = uint8((holder.fFlags & ~(kSTATE | kBUFFER_FLAGS)) | bufferFlags | kFLAG_DIRTY);
}

void VString::TrimUniChar(UniChar unit)
{
	int32 begin = 0;
	int32 end = fLength;
	while (begin < end && fString[begin] == unit)
		++begin;
	while (end > begin && fString[end - 1] == unit)
		--end;
	if (begin == 0 && end == fLength)
		return;
	if (begin == end)
	{
		Clear();
		return;
	}
	if (!_PrepareWrite(fLength))
		return;
	std::memmove(fString, fString + begin, size_t(end - begin) * sizeof(UniChar));
	fLength = end - begin;
	fString[fLength] = 0;
	_SetNotNullDirty();
}

VString operator+(const VString& a, const VString& b)
{
	VString sum(a);
	sum.AppendUniChars(b.GetCPointer(), b.GetLength());
	return sum;
}

VString& VString::Exchange(UniChar from, UniChar to, int32 start, int32 count)
{
	if (IsNull() || start < 1 || count < 1 || start > fLength)
		return *this;
	int32 at = start - 1;
	while (at < fLength && fString[at] != from)
		++at;
	// The buffer is unshared only when there is something to change.
	if (at == fLength || !_PrepareWrite(fLength))
		return *this;
	for (; at < fLength && count > 0; ++at)
	{
		if (fString[at] == from)
		{
			fString[at] = to;
			--count;
		}
	}
	_SetNotNullDirty();
	return *this;
}

namespace {

// Before start-up and after shut-down there is no manager to map case: only the ASCII letters change.
void MapASCIICase(UniChar* units, int32 length, bool upper)
{
	const UniChar first = upper ? u'a' : u'A';
	for (int32 i = 0; i < length; ++i)
	{
		if (units[i] >= first && units[i] <= first + 25)
			units[i] = UniChar(units[i] ^ 0x20);
	}
}

}  // namespace

void VString::ToUpperCase(bool flag)
{
	if (const VIntlMgr* intl = VTask::GetCurrentIntlManager())
		intl->ToUpperLowerCase(*this, flag, true);
	else if (fLength > 0 && _PrepareWrite(fLength))
		MapASCIICase(fString, fLength, true);
}

void VString::ToLowerCase(bool flag)
{
	if (const VIntlMgr* intl = VTask::GetCurrentIntlManager())
		intl->ToUpperLowerCase(*this, flag, false);
	else if (fLength > 0 && _PrepareWrite(fLength))
		MapASCIICase(fString, fLength, false);
}

double VString::ParseInt(int32 radix) const
{
	constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
	// Trim's white space is the one of JavaScript.
	VString text(*this);
	text.Trim(true, false);
	const UniChar* units = text.GetCPointer();
	const int32 length = text.GetLength();
	int32 at = 0;
	bool negative = false;
	if (length > 0 && (units[0] == u'+' || units[0] == u'-'))
	{
		negative = units[0] == u'-';
		at = 1;
	}
	if (radix != 0 && (radix < 2 || radix > 36))
		return kNaN;
	if ((radix == 0 || radix == 16) && length - at >= 2 && units[at] == u'0' && (units[at + 1] == u'x' || units[at + 1] == u'X'))
	{
		radix = 16;
		at += 2;
	}
	if (radix == 0)
		radix = 10;
	double value = 0;
	const int32 first = at;
	for (; at < length; ++at)
	{
		const int32 digit = DigitValue(units[at]);
		if (digit >= radix)
			break;
		value = value * radix + digit;
	}
	if (at == first)
		return kNaN;
	return negative ? -value : value;
}

}  // namespace velk
