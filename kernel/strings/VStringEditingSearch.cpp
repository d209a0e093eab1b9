// Searching and replacing through the collator of the current task's international manager, where a match
// may be longer or shorter than its pattern.
#include <algorithm>
#include <utility>

#include "kernel/intl/VCollator.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/VTask.h"

namespace velk {

VCollator* VString::_CurrentCollator()
{
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	return (intl != nullptr) ? intl->GetCollator() : nullptr;
}

int32 VString::_FindMatch(const VCollator* collator, const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength, bool diacritical, int32& outLength)
{
	outLength = 0;
	if (collator == nullptr)
	{
		const int32 found = FindRawString(text, textLength, pattern, patternLength);
		if (found != 0)
			outLength = patternLength;
		return found;
	}
	int32 length = 0;
	const int32 found = collator->FindString(text, textLength, pattern, patternLength, diacritical, &length);
	if (found < 1 || found > textLength)
		return 0;
	// Nothing past the text is ever taken for matched, whatever the collator reports.
	outLength = std::clamp(length, 0, textLength - found + 1);
	return found;
}

int32 VString::Find(const VString& pattern, int32 start, bool diacritical) const
{
	if (start < 1 || start > fLength)
		return 0;
	int32 length = 0;
	const int32 found = _FindMatch(_CurrentCollator(), fString + start - 1, fLength - start + 1, pattern.fString, pattern.fLength, diacritical, length);
	return (found != 0) ? start + found - 1 : 0;
}

bool VString::BeginsWith(const VString& prefix, bool diacritical) const
{
	const VCollator* collator = _CurrentCollator();
	if (collator == nullptr)
		return BeginsWithRawString(prefix);
	const int32 searched = int32(std::min<int64>(fLength, int64(prefix.fLength) + 16));
	int32 length = 0;
	return collator->BeginsWithString(fString, searched, prefix.fString, prefix.fLength, diacritical, &length);
}

bool VString::EndsWith(const VString& suffix, bool diacritical) const
{
	const VCollator* collator = _CurrentCollator();
	if (collator == nullptr)
		return EndsWithRawString(suffix);
	int32 length = 0;
	return collator->EndsWithString(fString, fLength, suffix.fString, suffix.fLength, diacritical, &length);
}

VString& VString::Exchange(const VString& pattern, const VString& replacement, int32 start, int32 count, bool diacritical, VCollator* collator)
{
	// An empty pattern matches everywhere and nowhere: it changes nothing.
	if (pattern.fLength == 0 || start < 1 || count < 1 || start > fLength)
		return *this;
	if (collator == nullptr)
		collator = _CurrentCollator();

	int32 at = start - 1;
	int32 matched = 0;
	int32 found = _FindMatch(collator, fString + at, fLength - at, pattern.fString, pattern.fLength, diacritical, matched);
	// A pattern the collation ignores whole (soft hyphens) matches with no length: it is an empty one.
	if (found == 0 || matched == 0)
		return *this;

	// Built aside: this text, the pattern and the replacement (any of which may be this string) stay
	// untouched until the new text is whole.
	VString result;
	int64 expected = 0;
	int32 copied = 0;
	while (found != 0)
	{
		const int32 matchAt = at + found - 1;
		result.AppendUniChars(fString + copied, matchAt - copied);
		result.AppendUniChars(replacement.fString, replacement.fLength);
		expected += int64(matchAt - copied) + replacement.fLength;
		copied = matchAt + matched;
		// A match of length 0 is searched for again one unit further on.
		at = matchAt + std::max(matched, 1);
		if (--count == 0 || at >= fLength || expected > INT32_MAX)
			break;
		found = _FindMatch(collator, fString + at, fLength - at, pattern.fString, pattern.fLength, diacritical, matched);
	}
	result.AppendUniChars(fString + copied, fLength - copied);
	expected += fLength - copied;
	// A piece that could not be appended (short of memory, or past INT32_MAX units) has raised velk 107
	// and left the result short.
	if (result.fLength != expected)
		return *this;
	*this = std::move(result);
	return *this;
}

}  // namespace velk
