// Comparing and searching a string unit by unit, without a collator: raw orderings, prefix and suffix
// tests, substring and unit searches, and the similarity of two strings.
#include "kernel/strings/VString.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "kernel/strings/VStringOrder.h"
#include "kernel/strings/VUnitLanes.h"
#include "runtime/VError.h"

namespace velk {

CompareResult VString::CompareToStringRaw(const VString& other) const
{
	return VStringOrder::RawOrder(fString, fLength, other.fString, other.fLength);
}

CompareResult VString::CompareToStringRawCase(const VString& other) const
{
	auto fold = [](UniChar c) { return (c >= u'A' && c <= u'Z') ? UniChar(c + 32) : c; };
	const int32 common = std::min(fLength, other.fLength);
	for (int32 i = 0; i < common; ++i)
	{
		const UniChar a = fold(fString[i]);
		const UniChar b = fold(other.fString[i]);
		if (a != b)
			return a < b ? CR_SMALLER : CR_BIGGER;
	}
	if (fLength == other.fLength)
		return CR_EQUAL;
	return fLength < other.fLength ? CR_SMALLER : CR_BIGGER;
}

bool VString::EqualToUSASCIICString(const char* text) const
{
	if (text == nullptr)
		return fLength == 0;
	int32 i = 0;
	for (; text[i] != 0; ++i)
	{
		const uint8 byte = uint8(text[i]);
		if (i >= fLength || byte >= 0x80 || fString[i] != byte)
			return false;
	}
	return i == fLength;
}

bool VString::BeginsWithRawString(const VString& prefix) const
{
	return prefix.fLength <= fLength && std::memcmp(fString, prefix.fString, size_t(prefix.fLength) * sizeof(UniChar)) == 0;
}

bool VString::EndsWithRawString(const VString& suffix) const
{
	return suffix.fLength <= fLength && std::memcmp(fString + (fLength - suffix.fLength), suffix.fString, size_t(suffix.fLength) * sizeof(UniChar)) == 0;
}

int32 VString::FindRawString(const VString& pattern, int32 start) const
{
	if (start < 1 || int64(start) > int64(fLength) + 1)
		return 0;
	const int32 found = FindRawString(fString + (start - 1), fLength - (start - 1), pattern.fString, pattern.fLength);
	return (found == 0) ? 0 : found + start - 1;
}

namespace {

constexpr uint64 kLANES_LOW = 0x0001000100010001ULL;
constexpr uint64 kLANES_HIGH = 0x8000800080008000ULL;

// The high bit of each 16-bit lane of word that is zero, and no other bit.
inline uint64 ZeroLanes(uint64 word)
{
	return ~(((word & ~kLANES_HIGH) + ~kLANES_HIGH) | word) & kLANES_HIGH;
}

// The next place of unit in [p, end), or end. Four units are tested at a time in one 64-bit word.
inline const UniChar* FindUnit(const UniChar* p, const UniChar* end, UniChar unit)
{
	const uint64 pattern = kLANES_LOW * unit;
	while (end - p >= 4)
	{
		uint64 word;
		std::memcpy(&word, p, sizeof(word));
		if (ZeroLanes(word ^ pattern) != 0)
			break;
		p += 4;
	}
	while (p < end && *p != unit)
		++p;
	return p;
}

// The next place in [p, end) where first is followed by second, or end. Testing pairs rather than single
// units skips most of the places where the first unit of a pattern alone would stop a scan of real text.
inline const UniChar* FindPair(const UniChar* p, const UniChar* end, UniChar first, UniChar second)
{
	const uint64 firsts = kLANES_LOW * first;
	const uint64 seconds = kLANES_LOW * second;
	while (end - p >= 5)
	{
		uint64 here;
		uint64 next;
		std::memcpy(&here, p, sizeof(here));
		std::memcpy(&next, p + 1, sizeof(next));
		const uint64 both = ZeroLanes(here ^ firsts) & ZeroLanes(next ^ seconds);
		if (both != 0)
		{
			// The first lane in memory order is the low one on a little-endian machine.
			const int lane = (std::endian::native == std::endian::little) ? std::countr_zero(both) / 16 : std::countl_zero(both) / 16;
			return p + lane;
		}
		p += 4;
	}
	for (; end - p >= 2; ++p)
	{
		if (p[0] == first && p[1] == second)
			return p;
	}
	return end;
}

// The search without a table, for when none can be had.
int32 PlainSearch(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	const UniChar* const last = text + (textLength - patternLength);
	for (const UniChar* p = text; (p = FindUnit(p, last + 1, pattern[0])) <= last; ++p)
	{
		if (std::memcmp(p + 1, pattern + 1, size_t(patternLength - 1) * sizeof(UniChar)) == 0)
			return int32(p - text) + 1;
	}
	return 0;
}

// Knuth-Morris-Pratt: linear whatever the text. border[q] is the length of the longest proper border of the
// pattern's first q units; the table lives on the stack for short patterns.
int32 KMPSearch(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	constexpr int32 kSTACK_TABLE = 256;
	int32 stackTable[kSTACK_TABLE];
	int32* border = stackTable;
	if (patternLength >= kSTACK_TABLE)
	{
		border = static_cast<int32*>(std::malloc((size_t(patternLength) + 1) * sizeof(int32)));
		if (border == nullptr)
			return PlainSearch(text, textLength, pattern, patternLength);
	}
	border[0] = -1;
	if (patternLength >= 1)
		border[1] = 0;
	for (int32 q = 1, k = 0; q < patternLength; ++q)
	{
		while (k > 0 && pattern[k] != pattern[q])
			k = border[k];
		if (pattern[k] == pattern[q])
			++k;
		border[q + 1] = k;
	}

	int32 result = 0;
	const UniChar* const end = text + textLength;
	const UniChar first = pattern[0];
	int32 q = 0;
	for (const UniChar* p = text; p < end; ++p)
	{
		if (q == 0)
		{
			// Nothing matched yet: run to the next place where the pattern's first units are.
			if (patternLength == 1)
			{
				p = FindUnit(p, end, first);
				if (p == end)
					break;
				q = 1;
			}
			else
			{
				p = FindPair(p, end, first, pattern[1]);
				if (end - p < patternLength)
					break;
				++p;
				q = 2;
			}
		}
		else
		{
			while (q > 0 && pattern[q] != *p)
				q = border[q];
			if (pattern[q] == *p)
				++q;
			else
				continue;
		}
		if (q == patternLength)
		{
			result = int32(p - text) - patternLength + 2;
			break;
		}
	}
	if (border != stackTable)
		std::free(border);
	return result;
}

// The first place where the pattern's first and last units both stand where they would in a match, tested
// eight places at a time, each candidate then compared whole: few places pass both tests in real text, in
// any script, where the first unit alone (or a pair of neighbours, in text made of a few thousand distinct
// units) stops a scan often. When the candidates cost more comparing than the text scanning (a text of
// repeats), the rest is searched by Knuth-Morris-Pratt, so that the search stays linear.
int32 FirstAndLastSearch(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	const int32 lastIndex = patternLength - 1;
	const Units8 firsts = Broadcast8(pattern[0]);
	const Units8 lasts = Broadcast8(pattern[lastIndex]);
	const size_t middleBytes = size_t(patternLength - 2) * sizeof(UniChar);
	// Places from 0 to finalPlace may begin a match.
	const int32 finalPlace = textLength - patternLength;
	int64 compared = 0;
	int32 place = 0;
	for (; place + 7 <= finalPlace; place += 8)
	{
		uint32 mask = LaneMask((LoadUnits8(text + place) == firsts) & (LoadUnits8(text + place + lastIndex) == lasts));
		while (mask != 0)
		{
			const int32 candidate = place + std::countr_zero(mask);
			if (std::memcmp(text + candidate + 1, pattern + 1, middleBytes) == 0)
				return candidate + 1;
			mask &= mask - 1;
			compared += patternLength;
		}
		if (compared > 4 * int64(place) + 4096)
		{
			const int32 found = KMPSearch(text + place + 8, textLength - place - 8, pattern, patternLength);
			return found == 0 ? 0 : found + place + 8;
		}
	}
	for (; place <= finalPlace; ++place)
	{
		if (text[place] == pattern[0] && text[place + lastIndex] == pattern[lastIndex]
			&& std::memcmp(text + place + 1, pattern + 1, middleBytes) == 0)
			return place + 1;
	}
	return 0;
}

}  // namespace

int32 VString::FindRawString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	if (patternLength <= 0)
		return 1;
	if (text == nullptr || pattern == nullptr || patternLength > textLength)
		return 0;
	if (patternLength == 1)
	{
		const UniChar* found = FindUnit(text, text + textLength, pattern[0]);
		return found == text + textLength ? 0 : int32(found - text) + 1;
	}
	return FirstAndLastSearch(text, textLength, pattern, patternLength);
}

int32 VString::FindUniChar(UniChar unit, int32 start, bool backward) const
{
	if (fLength == 0 || start > fLength)
		return 0;
	start = std::max(start, 1);
	if (backward)
	{
		for (int32 i = start - 1; i >= 0; --i)
		{
			if (fString[i] == unit)
				return i + 1;
		}
		return 0;
	}
	const UniChar* found = FindUnit(fString + start - 1, fString + fLength, unit);
	return (found == fString + fLength) ? 0 : int32(found - fString) + 1;
}

double VString::SimilarToString(const VString& other) const
{
	if (fLength == 0 || other.fLength == 0)
		return 0.0;
	// Two rows of the longest-common-subsequence table, one pass per unit of the other text.
	const size_t row = size_t(fLength) + 1;
	int32* previous = static_cast<int32*>(std::calloc(2 * row, sizeof(int32)));
	if (previous == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return 0.0;
	}
	int32* current = previous + row;
	int32* const block = previous;
	for (int32 j = 0; j < other.fLength; ++j)
	{
		const UniChar unit = other.fString[j];
		current[0] = 0;
		for (int32 i = 1; i <= fLength; ++i)
			current[i] = (fString[i - 1] == unit) ? previous[i - 1] + 1 : std::max(previous[i], current[i - 1]);
		std::swap(previous, current);
	}
	const double common = previous[fLength];
	std::free(block);
	return common / fLength;
}

}  // namespace velk
