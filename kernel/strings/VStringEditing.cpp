// Editing a string in place: replacing, removing and truncating ranges, the text before and after a
// place, exchanging occurrences unit by unit, trimming white space, sub-strings, insertion, swapping,
// trimming one unit, exchanging units, case mapping, concatenation and reading a leading integer.
#include <algorithm>
#include <cmath>
#include <cstdlib>
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

void RaiseAllocFailed()
{
	_ThrowError(VE_STRING_ALLOC_FAILED);
}

inline bool IsHighSurrogate(UniChar unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

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

// ---------------------------------------------------------------------------------------------------------
// Editing

void VString::Replace(const VString& text, int32 pos, int32 count)
{
	if (pos < 1 || count < 1 || pos > fLength)
		return;
	if (&text == this)
	{
		const VString copy(text);
		Replace(copy, pos, count);
		return;
	}
	const int32 start = pos - 1;
	// In 64 bits: a count of INT32_MAX means "to the end" and must not wrap.
	const int64 end = int64(start) + count;
	const int32 textLength = text.fLength;
	if (end >= fLength)
	{
		const int64 newLength = int64(start) + textLength;
		if (newLength > INT32_MAX)
		{
			RaiseAllocFailed();
			return;
		}
		if (!_PrepareWrite(int32(newLength)))
			return;
		std::memcpy(fString + start, text.fString, size_t(textLength) * sizeof(UniChar));
		fLength = int32(newLength);
	}
	else
	{
		const int64 newLength = int64(fLength) - count + textLength;
		if (newLength > INT32_MAX)
		{
			RaiseAllocFailed();
			return;
		}
		if (!_PrepareWrite(std::max(fLength, int32(newLength))))
			return;
		const int32 tail = fLength - int32(end);
		std::memmove(fString + start + textLength, fString + end, size_t(tail) * sizeof(UniChar));
		std::memcpy(fString + start, text.fString, size_t(textLength) * sizeof(UniChar));
		fLength = int32(newLength);
	}
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::Remove(int32 pos, int32 count)
{
	if (pos < 1 || count < 0 || pos > fLength || count == 0)
		return;
	if (!_PrepareWrite(fLength))
		return;
	const int32 start = pos - 1;
	const int64 end = int64(start) + count;
	if (end >= fLength)
	{
		fLength = start;
	}
	else
	{
		std::memmove(fString + start, fString + end, size_t(fLength - end) * sizeof(UniChar));
		fLength -= count;
	}
	fString[fLength] = 0;
	_SetNotNullDirty();
}

bool VString::_TruncateTo(int32 length)
{
	length = std::max(length, 0);
	if (length >= fLength)
		return true;
	if (_IsShared())
	{
		// Another string reads this buffer: the kept part moves to a buffer of this string's own.
		if (!_ReallocBuffer(length, true))
			return false;
		fLength = length;
		return true;
	}
	if (!_IsInline() && !IsExternal() && int64(fMaxLength) > int64(length) + length / 8 + 32)
	{
		// A large buffer kept for a short text is given back; the old one stays when no new one comes.
		if (!_ReallocBuffer(length, true))
			return false;
	}
	fLength = length;
	fString[fLength] = 0;
	return true;
}

void VString::Truncate(int32 length, bool keepPairs)
{
	if (keepPairs && length >= 1 && length <= fLength && IsHighSurrogate(fString[length - 1]))
		--length;
	_TruncateTo(length);
}

VString VString::Before(int32 pos) const
{
	if (pos < 1)
		return VString();
	if (pos > fLength)
		return VString(*this);
	return VString(fString, pos - 1);
}

VString VString::After(int32 pos) const
{
	if (pos < 1)
		return VString(*this);
	if (pos >= fLength)
		return VString();
	return VString(fString + pos, fLength - pos);
}

VString& VString::ExchangeRawString(const VString& find, const VString& replace, int32 start, int32 maxCount, int32* outCount)
{
	if (outCount != nullptr)
		*outCount = 0;
	// An empty pattern would be found again and again at the same place.
	if (find.fLength == 0 || maxCount < 1 || start < 1)
		return *this;
	if (&find == this || &replace == this)
	{
		const VString findCopy(find);
		const VString replaceCopy(replace);
		return ExchangeRawString(findCopy, replaceCopy, start, maxCount, outCount);
	}
	const int32 first = FindRawString(find, start);
	if (first == 0)
		return *this;

	const UniChar* const pattern = find.fString;
	const int32 findLength = find.fLength;
	const UniChar* const by = replace.fString;
	const int32 byLength = replace.fLength;
	int32 count = 0;

	if (byLength == findLength)
	{
		if (!_PrepareWrite(fLength))
			return *this;
		int32 at = first - 1;
		for (;;)
		{
			std::memcpy(fString + at, by, size_t(byLength) * sizeof(UniChar));
			++count;
			at += findLength;
			const int32 next = (count < maxCount) ? FindRawString(fString + at, fLength - at, pattern, findLength) : 0;
			if (next == 0)
				break;
			at += next - 1;
		}
	}
	else if (byLength < findLength)
	{
		// Compacted from left to right in one pass: the text written never passes the text read.
		if (!_PrepareWrite(fLength))
			return *this;
		int32 read = first - 1;
		int32 write = read;
		for (;;)
		{
			std::memcpy(fString + write, by, size_t(byLength) * sizeof(UniChar));
			write += byLength;
			read += findLength;
			++count;
			const int32 next = (count < maxCount) ? FindRawString(fString + read, fLength - read, pattern, findLength) : 0;
			const int32 segment = (next != 0) ? next - 1 : fLength - read;
			std::memmove(fString + write, fString + read, size_t(segment) * sizeof(UniChar));
			write += segment;
			read += segment;
			if (next == 0)
				break;
		}
		fLength = write;
		fString[fLength] = 0;
	}
	else
	{
		// Every place is found first, the buffer grown once, then the text is spread from the end.
		int32 capacity = 1024;
		int32* places = static_cast<int32*>(std::malloc(size_t(capacity) * sizeof(int32)));
		if (places == nullptr)
		{
			RaiseAllocFailed();
			return *this;
		}
		int32 at = first - 1;
		for (;;)
		{
			if (count == capacity)
			{
				const int32 grown = (capacity > INT32_MAX / 2) ? INT32_MAX : capacity * 2;
				int32* more = static_cast<int32*>(std::realloc(places, size_t(grown) * sizeof(int32)));
				if (more == nullptr)
				{
					std::free(places);
					RaiseAllocFailed();
					return *this;
				}
				places = more;
				capacity = grown;
			}
			places[count++] = at;
			at += findLength;
			const int32 next = (count < maxCount) ? FindRawString(fString + at, fLength - at, pattern, findLength) : 0;
			if (next == 0)
				break;
			at += next - 1;
		}
		const int64 newLength = int64(fLength) + int64(count) * (byLength - findLength);
		if (newLength > INT32_MAX || !_PrepareWrite(int32(newLength)))
		{
			if (newLength > INT32_MAX)
				RaiseAllocFailed();
			std::free(places);
			return *this;
		}
		int32 readEnd = fLength;
		int32 writeEnd = int32(newLength);
		for (int32 i = count - 1; i >= 0; --i)
		{
			const int32 behind = places[i] + findLength;
			const int32 tail = readEnd - behind;
			writeEnd -= tail;
			std::memmove(fString + writeEnd, fString + behind, size_t(tail) * sizeof(UniChar));
			writeEnd -= byLength;
			std::memcpy(fString + writeEnd, by, size_t(byLength) * sizeof(UniChar));
			readEnd = places[i];
		}
		std::free(places);
		fLength = int32(newLength);
		fString[fLength] = 0;
	}
	_SetNotNullDirty();
	if (outCount != nullptr)
		*outCount = count;
	return *this;
}

namespace {

// The white space Trim removes, ascending.
constexpr UniChar kTRIM_SET[] = {
	0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
	0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0xFEFF};
static_assert(std::size(kTRIM_SET) == 25);

bool IsTrimmed(UniChar c)
{
	return std::binary_search(std::begin(kTRIM_SET), std::end(kTRIM_SET), c);
}

}  // namespace

void VString::Trim(bool leading, bool trailing)
{
	int32 begin = 0;
	int32 end = fLength;
	if (leading)
	{
		while (begin < end && IsTrimmed(fString[begin]))
			++begin;
	}
	if (trailing)
	{
		while (end > begin && IsTrimmed(fString[end - 1]))
			--end;
		// A text cut there must not end in half a pair.
		if (end > begin && IsHighSurrogate(fString[end - 1]))
			--end;
	}
	if (begin == 0 && end == fLength)
		return;
	if (!_PrepareWrite(fLength))
		return;
	if (begin > 0)
		std::memmove(fString, fString + begin, size_t(end - begin) * sizeof(UniChar));
	fLength = end - begin;
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::RemoveWhiteSpaces(bool leading, bool trailing, int32* outLeading, int32* outTrailing, VIntlMgr* intl, bool flag)
{
	auto isSpace = [intl, flag](UniChar c) { return (intl != nullptr) ? intl->IsSpace(c, flag) : (c == 0x0020 || c == 0x0009); };
	if (outLeading != nullptr && leading)
		*outLeading = 0;
	if (outTrailing != nullptr && trailing)
		*outTrailing = 0;

	if (leading)
	{
		int32 begin = 0;
		while (begin < fLength && isSpace(fString[begin]))
			++begin;
		if (begin > 0)
		{
			if (!_PrepareWrite(fLength))
				return;
			std::memmove(fString, fString + begin, size_t(fLength - begin) * sizeof(UniChar));
			fLength -= begin;
			fString[fLength] = 0;
			_SetNotNullDirty();
			if (outLeading != nullptr)
				*outLeading = begin;
		}
	}
	if (trailing)
	{
		int32 end = fLength;
		while (end > 0 && isSpace(fString[end - 1]))
			--end;
		if (end > 0 && IsHighSurrogate(fString[end - 1]))
			--end;
		if (end < fLength)
		{
			const int32 removed = fLength - end;
			if (!_TruncateTo(end))
				return;
			_SetNotNullDirty();
			if (outTrailing != nullptr)
				*outTrailing = removed;
		}
	}
}

}  // namespace velk
