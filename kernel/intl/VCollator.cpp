// The collator's wildcard comparison and the searches it builds from FindString and EqualString.
#include "kernel/intl/VCollator.h"

#include <iterator>
#include <new>

namespace velk {

const UniChar VCollator::sDefaultWildChar = u'@';

namespace {

// Control characters the like fast path skips in both texts; tab and the line ends are not among them.
bool IsSkippedControl(UniChar inChar)
{
	return inChar <= 0x0008 || (inChar >= 0x000E && inChar <= 0x001F) || inChar == 0x007F;
}

bool IsKana(UniChar inChar)
{
	return (inChar >= 0x3040 && inChar <= 0x3094) || (inChar >= 0x309D && inChar <= 0x309E) || (inChar >= 0x30A1 && inChar <= 0x30FE)
		|| (inChar >= 0xFF65 && inChar <= 0xFF9F);
}

// A text without the skipped controls: the text itself when it has none, else a copy (the text itself again
// when memory is short for the copy).
struct StWithoutSkippedControls
{
	StWithoutSkippedControls(const UniChar* inText, int32 inSize) : fText(inText), fSize(inSize)
	{
		int32 kept = 0;
		for (int32 i = 0; i < inSize; ++i)
			kept += IsSkippedControl(inText[i]) ? 0 : 1;
		if (kept == inSize)
			return;
		UniChar* copy = (kept <= int32(std::size(fLocal))) ? fLocal : (fHeap = new (std::nothrow) UniChar[size_t(kept)]);
		if (copy == nullptr)
			return;
		int32 n = 0;
		for (int32 i = 0; i < inSize; ++i)
		{
			if (!IsSkippedControl(inText[i]))
				copy[n++] = inText[i];
		}
		fText = copy;
		fSize = kept;
	}
	~StWithoutSkippedControls() { delete[] fHeap; }
	StWithoutSkippedControls(const StWithoutSkippedControls&) = delete;
	StWithoutSkippedControls& operator=(const StWithoutSkippedControls&) = delete;

	const UniChar* fText;
	int32 fSize;
	UniChar fLocal[64];
	UniChar* fHeap = nullptr;
};

UniChar ToLowerAscii(UniChar inChar)
{
	return (inChar >= u'A' && inChar <= u'Z') ? UniChar(inChar + 32) : inChar;
}

// The length of the run of units before the first wild char, or the whole size.
int32 SegmentLength(const UniChar* inText, int32 inSize, UniChar inWildChar)
{
	int32 length = 0;
	while (length < inSize && inText[length] != inWildChar)
		++length;
	return length;
}

}  // namespace

VCollator::VCollator(uint32 inDialectCode) : fDialectCode(inDialectCode), fWildChar(sDefaultWildChar), fOptions(1) {}

VCollator::VCollator(const VCollator& inOther)
	: VObject(inOther), IRefCountable(inOther), fDialectCode(inOther.fDialectCode), fWildChar(inOther.fWildChar), fOptions(inOther.fOptions)
{
}

VCollator::~VCollator() = default;

void VCollator::SetWildChar(UniChar inWildChar)
{
	fWildChar = inWildChar;
}

void VCollator::Reset()
{
	SetWildChar(sDefaultWildChar);
}

int32 VCollator::_FindLastByRepeatedFind(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const
{
	int32 length = 0;
	int32 last = FindString(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics, &length);
	int32 lastLength = length;
	// Each search starts one unit after the latest match's start, so overlapping matches count.
	while (last != 0 && last < inTextSize)
	{
		const int32 found = FindString(inText + last, inTextSize - last, inPattern, inPatternSize, inWithDiacritics, &length);
		if (found == 0)
			break;
		last += found;
		lastLength = length;
	}
	if (outFoundLength != nullptr)
		*outFoundLength = (last != 0) ? lastLength : 0;
	return last;
}

bool VCollator::BeginsWithString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const
{
	int32 length = 0;
	const bool begins = (inPatternSize <= 0) || FindString(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics, &length) == 1;
	if (outFoundLength != nullptr)
		*outFoundLength = begins ? length : 0;
	return begins;
}

bool VCollator::EndsWithString(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics, int32* outFoundLength) const
{
	bool ends = (inPatternSize <= 0);
	int32 tailLength = 0;
	if (!ends)
	{
		const int32 last = _FindLastByRepeatedFind(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics, nullptr);
		if (last != 0)
		{
			tailLength = inTextSize - (last - 1);
			ends = EqualString(inText + last - 1, tailLength, inPattern, inPatternSize, inWithDiacritics);
		}
	}
	if (outFoundLength != nullptr)
		*outFoundLength = ends ? tailLength : 0;
	return ends;
}

CompareResult VCollator::CompareString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const
{
	if ((fOptions & kOPTION_IGNORE_WILDCHAR_IN_MIDDLE) != 0)
		return _CompareString_Like_IgnoreWildCharInMiddle(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics);
	return _CompareString_Like_SupportWildCharInMiddle(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics);
}

CompareResult VCollator::_CompareString_Like_SupportWildCharInMiddle(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const
{
	const UniChar wild = fWildChar;
	if (inPatternSize <= 0)
		return CompareString(inText, inTextSize, nullptr, 0, inWithDiacritics);

	const UniChar* text = inText;
	int32 textSize = inTextSize;
	const UniChar* pattern = inPattern;
	int32 patternSize = inPatternSize;

	// A leading segment must begin the text.
	if (pattern[0] != wild)
	{
		const int32 segment = SegmentLength(pattern, patternSize, wild);
		if (segment == patternSize)
			return CompareString(text, textSize, pattern, patternSize, inWithDiacritics);
		int32 matched = 0;
		if (!BeginsWithString(text, textSize, pattern, segment, inWithDiacritics, &matched))
			return CompareString(text, textSize, pattern, segment, inWithDiacritics);
		text += matched;
		textSize -= matched;
		pattern += segment;
		patternSize -= segment;
	}

	for (;;)
	{
		while (patternSize > 0 && pattern[0] == wild)
		{
			++pattern;
			--patternSize;
		}
		if (patternSize == 0)
			return CR_EQUAL;  // a trailing run matches any rest, also an empty one
		const int32 segment = SegmentLength(pattern, patternSize, wild);
		if (segment == patternSize)
		{
			// The last segment must end the text: its last match is the only candidate.
			const int32 last = _FindLastByRepeatedFind(text, textSize, pattern, segment, inWithDiacritics, nullptr);
			if (last == 0)
				return CR_SMALLER;
			return EqualString(text + last - 1, textSize - (last - 1), pattern, segment, inWithDiacritics) ? CR_EQUAL : CR_SMALLER;
		}
		int32 matched = 0;
		const int32 found = FindString(text, textSize, pattern, segment, inWithDiacritics, &matched);
		if (found == 0)
			return CR_SMALLER;
		const int32 consumed = found - 1 + matched;
		text += consumed;
		textSize -= consumed;
		pattern += segment;
		patternSize -= segment;
	}
}

CompareResult VCollator::_CompareString_Like_IgnoreWildCharInMiddle(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const
{
	const UniChar wild = fWildChar;
	const bool wildAtStart = inPatternSize > 0 && inPattern[0] == wild;
	const bool wildAtEnd = inPatternSize > 0 && inPattern[inPatternSize - 1] == wild;
	const CompareResult longerOrShorter = (inTextSize > inPatternSize) ? CR_BIGGER : CR_SMALLER;

	if (wildAtStart && wildAtEnd)
	{
		if (inPatternSize <= 2)
			return CR_EQUAL;
		return (FindString(inText, inTextSize, inPattern + 1, inPatternSize - 2, inWithDiacritics, nullptr) != 0) ? CR_EQUAL : longerOrShorter;
	}
	if (wildAtEnd)
	{
		if (BeginsWithString(inText, inTextSize, inPattern, inPatternSize - 1, inWithDiacritics, nullptr))
			return CR_EQUAL;
		return CompareString(inText, inTextSize, inPattern, inPatternSize - 1, inWithDiacritics);
	}
	if (wildAtStart)
		return EndsWithString(inText, inTextSize, inPattern + 1, inPatternSize - 1, inWithDiacritics, nullptr) ? CR_EQUAL : longerOrShorter;
	return CompareString(inText, inTextSize, inPattern, inPatternSize, inWithDiacritics);
}

bool VCollator::EqualString_Like(const UniChar* inText, int32 inTextSize, const UniChar* inPattern, int32 inPatternSize, bool inWithDiacritics) const
{
	const UniChar wild = fWildChar;
	const bool wildInMiddleIsOrdinary = (fOptions & kOPTION_IGNORE_WILDCHAR_IN_MIDDLE) != 0;
	int32 t = 0;
	int32 p = 0;
	for (;;)
	{
		while (t < inTextSize && IsSkippedControl(inText[t]))
			++t;
		while (p < inPatternSize && IsSkippedControl(inPattern[p]))
			++p;
		if (t == inTextSize)
		{
			// Wild chars that are ordinary here (inside the pattern, under the option) are not skipped.
			while (p < inPatternSize
				&& (IsSkippedControl(inPattern[p]) || (inPattern[p] == wild && (!wildInMiddleIsOrdinary || p == 0 || p == inPatternSize - 1))))
				++p;
			if (p == inPatternSize)
				return true;
			if (inPattern[p] < 0x7F)
				return false;
			break;
		}
		if (p == inPatternSize)
		{
			if (inText[t] < 0x7F)
				return false;
			break;
		}

		const UniChar c = inText[t];
		const UniChar pc = inPattern[p];
		if (pc == wild)
		{
			if (p == inPatternSize - 1)
				return true;
			if (!wildInMiddleIsOrdinary || p == 0)
				break;
		}
		// The grave accent and the circumflex may combine with what follows in some collations.
		if (c >= 0x80 || pc >= 0x80 || c == u'`' || c == u'^' || pc == u'`' || pc == u'^')
			break;
		if (inWithDiacritics ? (c != pc) : (ToLowerAscii(c) != ToLowerAscii(pc)))
			return false;
		++t;
		++p;
	}
	// The full comparison skips the controls too, so that the answer does not depend on the path taken.
	const StWithoutSkippedControls text(inText, inTextSize);
	const StWithoutSkippedControls pattern(inPattern, inPatternSize);
	return CompareString_Like(text.fText, text.fSize, pattern.fText, pattern.fSize, inWithDiacritics) == CR_EQUAL;
}

bool VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* inPattern, int32 inPatternSize) const
{
	const int32 firstWild = SegmentLength(inPattern, inPatternSize, fWildChar);
	if (firstWild == inPatternSize)
		return true;
	if (firstWild != inPatternSize - 1)
		return false;
	for (int32 i = 0; i < firstWild; ++i)
	{
		if (IsKana(inPattern[i]))
			return false;
	}
	return true;
}

}  // namespace velk
