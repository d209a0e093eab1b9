// The character classes, word scanner and word searches of the international manager.
#include "kernel/intl/VIntlMgr.h"

#include <algorithm>
#include <new>

#include "kernel/intl/VCollator.h"
#include "kernel/intl/mac/XMacIntlMgr.h"
#include "kernel/memory/VMemory.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VError.h"

namespace velk {

namespace {

// Bits of the manager's options word read here.
constexpr uint32 kOPTION_SCAN_WORDS = 0x01;      // words come from this file's scanner
constexpr uint32 kOPTION_WORDS_BY_LIKE = 0x04;   // FindWord compares word by word

constexpr OsType kRANGE_TABLE_TAG = FourCharCode("sorU");

constexpr UniChar kCARRIAGE_RETURN = 0x000D;

// Whether x lies strictly inside one of the words: after its first unit and before its end.
bool IsInsideAWord(const VRangeVector& words, int32 x)
{
	return std::any_of(words.begin(), words.end(), [x](const std::pair<int32, int32>& word) {
		return word.first < x && x < word.first + word.second;
	});
}

bool KeepsMatch(EFindStringMode mode, const VRangeVector& words, int32 pos, int32 length)
{
	switch (mode)
	{
		case eFSM_WHOLE_WORDS:
			return !IsInsideAWord(words, pos) && !IsInsideAWord(words, pos + length);
		case eFSM_NOT_STARTING_INSIDE:
			return !IsInsideAWord(words, pos);
		case eFSM_NOT_ENDING_INSIDE:
			return !IsInsideAWord(words, pos + length);
		default:
			return true;
	}
}

}  // namespace

VBidiRun::~VBidiRun() = default;

// The class tables. The lookup walks them from the nearer end as told by the pivot, so each holds its ranges
// in ascending order.
const uint16 VIntlMgr::sLetterRanges[] = {
	202, 3214,
	0x0041, 0x005A, 0x0061, 0x007A, 0x00AA, 0x00AA, 0x00B5, 0x00B5, 0x00BA, 0x00BA, 0x00C0, 0x00D6, 0x00D8, 0x00F6,
	0x00F8, 0x0241, 0x0250, 0x02A8, 0x02B0, 0x02B8, 0x02BB, 0x02C1, 0x02D0, 0x02D1, 0x02E0, 0x02E4, 0x037A, 0x037A,
	0x0386, 0x0386, 0x0388, 0x038A, 0x038C, 0x038C, 0x038E, 0x03A1, 0x03A3, 0x03CE, 0x03D0, 0x03FF, 0x0400, 0x0482,
	0x048A, 0x04CE, 0x04D0, 0x04F9, 0x0500, 0x050F, 0x0531, 0x0556, 0x0559, 0x0559, 0x0561, 0x0587, 0x05D0, 0x05EA,
	0x05F0, 0x05F2, 0x0621, 0x063A, 0x0640, 0x064A, 0x0671, 0x06B7, 0x06BA, 0x06BE, 0x06C0, 0x06CE, 0x06D0, 0x06D3,
	0x06D5, 0x06D5, 0x06E5, 0x06E6, 0x0905, 0x0939, 0x093D, 0x093D, 0x0958, 0x0961, 0x0985, 0x098C, 0x098F, 0x0990,
	0x0993, 0x09A8, 0x09AA, 0x09B0, 0x09B2, 0x09B2, 0x09B6, 0x09B9, 0x09DC, 0x09DD, 0x09DF, 0x09E1, 0x09F0, 0x09F1,
	0x0A05, 0x0A0A, 0x0A0F, 0x0A10, 0x0A13, 0x0A28, 0x0A2A, 0x0A30, 0x0A32, 0x0A33, 0x0A35, 0x0A36, 0x0A38, 0x0A39,
	0x0A59, 0x0A5C, 0x0A5E, 0x0A5E, 0x0A72, 0x0A74, 0x0A85, 0x0A8B, 0x0A8D, 0x0A8D, 0x0A8F, 0x0A91, 0x0A93, 0x0AA8,
	0x0AAA, 0x0AB0, 0x0AB2, 0x0AB3, 0x0AB5, 0x0AB9, 0x0ABD, 0x0ABD, 0x0AE0, 0x0AE0, 0x0B05, 0x0B0C, 0x0B0F, 0x0B10,
	0x0B13, 0x0B28, 0x0B2A, 0x0B30, 0x0B32, 0x0B33, 0x0B36, 0x0B39, 0x0B3D, 0x0B3D, 0x0B5C, 0x0B5D, 0x0B5F, 0x0B61,
	0x0B85, 0x0B8A, 0x0B8E, 0x0B90, 0x0B92, 0x0B95, 0x0B99, 0x0B9A, 0x0B9C, 0x0B9C, 0x0B9E, 0x0B9F, 0x0BA3, 0x0BA4,
	0x0BA8, 0x0BAA, 0x0BAE, 0x0BB5, 0x0BB7, 0x0BB9, 0x0C05, 0x0C0C, 0x0C0E, 0x0C10, 0x0C12, 0x0C28, 0x0C2A, 0x0C33,
	0x0C35, 0x0C39, 0x0C60, 0x0C61, 0x0C85, 0x0C8C, 0x0C8E, 0x0C90, 0x0C92, 0x0CA8, 0x0CAA, 0x0CB3, 0x0CB5, 0x0CB9,
	0x0CDE, 0x0CDE, 0x0CE0, 0x0CE1, 0x0D05, 0x0D0C, 0x0D0E, 0x0D10, 0x0D12, 0x0D28, 0x0D2A, 0x0D39, 0x0D60, 0x0D61,
	0x0E01, 0x0E2E, 0x0E30, 0x0E30, 0x0E32, 0x0E33, 0x0E40, 0x0E46, 0x0E81, 0x0E82, 0x0E84, 0x0E84, 0x0E87, 0x0E88,
	0x0E8A, 0x0E8A, 0x0E8D, 0x0E8D, 0x0E94, 0x0E97, 0x0E99, 0x0E9F, 0x0EA1, 0x0EA3, 0x0EA5, 0x0EA5, 0x0EA7, 0x0EA7,
	0x0EAA, 0x0EAB, 0x0EAD, 0x0EAE, 0x0EB0, 0x0EB0, 0x0EB2, 0x0EB3, 0x0EBD, 0x0EBD, 0x0EC0, 0x0EC4, 0x0EC6, 0x0EC6,
	0x0EDC, 0x0EDD, 0x0F40, 0x0F47, 0x0F49, 0x0F69, 0x10A0, 0x10C5, 0x10D0, 0x10F6, 0x1100, 0x1159, 0x115F, 0x11A2,
	0x11A8, 0x11F9, 0x1E00, 0x1E9B, 0x1EA0, 0x1EF9, 0x1F00, 0x1F15, 0x1F18, 0x1F1D, 0x1F20, 0x1F45, 0x1F48, 0x1F4D,
	0x1F50, 0x1F57, 0x1F59, 0x1F59, 0x1F5B, 0x1F5B, 0x1F5D, 0x1F5D, 0x1F5F, 0x1F7D, 0x1F80, 0x1FB4, 0x1FB6, 0x1FBC,
	0x1FBE, 0x1FBE, 0x1FC2, 0x1FC4, 0x1FC6, 0x1FCC, 0x1FD0, 0x1FD3, 0x1FD6, 0x1FDB, 0x1FE0, 0x1FEC, 0x1FF2, 0x1FF4,
	0x1FF6, 0x1FFC, 0x207F, 0x207F, 0x2102, 0x2102, 0x2107, 0x2107, 0x210A, 0x2113, 0x2115, 0x2115, 0x2118, 0x211D,
	0x2124, 0x2124, 0x2126, 0x2126, 0x2128, 0x2128, 0x212A, 0x2131, 0x2133, 0x2138, 0x3005, 0x3005, 0x3031, 0x3035,
	0x3041, 0x3094, 0x309B, 0x309E, 0x30A1, 0x30FA, 0x30FC, 0x30FE, 0x3105, 0x312C, 0x3131, 0x318E, 0x4E00, 0x4E00,
	0x9FA5, 0x9FA5, 0xAC00, 0xAC00, 0xD7A3, 0xD7A3, 0xF900, 0xFA2D, 0xFB00, 0xFB06, 0xFB13, 0xFB17, 0xFB1F, 0xFB28,
	0xFB2A, 0xFB36, 0xFB38, 0xFB3C, 0xFB3E, 0xFB3E, 0xFB40, 0xFB41, 0xFB43, 0xFB44, 0xFB46, 0xFBB1, 0xFBD3, 0xFD3D,
	0xFD50, 0xFD8F, 0xFD92, 0xFDC7, 0xFDF0, 0xFDFB, 0xFE70, 0xFE72, 0xFE74, 0xFE74, 0xFE76, 0xFEFC, 0xFF21, 0xFF3A,
	0xFF41, 0xFF5A, 0xFF66, 0xFFBE, 0xFFC2, 0xFFC7, 0xFFCA, 0xFFCF, 0xFFD2, 0xFFD7, 0xFFDA, 0xFFDC,
};

const uint16 VIntlMgr::sDigitRanges[] = {
	32, 3430,
	0x0030, 0x0039, 0x00B2, 0x00B3, 0x00B9, 0x00B9, 0x00BC, 0x00BE, 0x0660, 0x0669, 0x06F0, 0x06F9, 0x0966, 0x096F,
	0x09E6, 0x09EF, 0x09F4, 0x09F9, 0x0A66, 0x0A6F, 0x0AE6, 0x0AEF, 0x0B66, 0x0B6F, 0x0BE7, 0x0BF2, 0x0C66, 0x0C6F,
	0x0CE6, 0x0CEF, 0x0D66, 0x0D6F, 0x0E50, 0x0E59, 0x0ED0, 0x0ED9, 0x0F20, 0x0F33, 0x2070, 0x2070, 0x2074, 0x2079,
	0x2080, 0x2089, 0x2153, 0x2182, 0x2460, 0x249B, 0x24EA, 0x24EA, 0x2776, 0x2793, 0x3007, 0x3007, 0x3021, 0x3029,
	0x3192, 0x3195, 0x3220, 0x3229, 0x3280, 0x3289, 0xFF10, 0xFF19,
};

const uint16 VIntlMgr::sPunctuationRanges[] = {
	67, 3674,
	0x0021, 0x0023, 0x0025, 0x002A, 0x002C, 0x002F, 0x003A, 0x003B, 0x003F, 0x0040, 0x005B, 0x005D, 0x005F, 0x005F,
	0x007B, 0x007B, 0x007D, 0x007D, 0x00A1, 0x00A1, 0x00AB, 0x00AB, 0x00AD, 0x00AD, 0x00B7, 0x00B7, 0x00BB, 0x00BB,
	0x00BF, 0x00BF, 0x0374, 0x0375, 0x037E, 0x037E, 0x0387, 0x0387, 0x055A, 0x055F, 0x0589, 0x0589, 0x05BE, 0x05BE,
	0x05C0, 0x05C0, 0x05C3, 0x05C3, 0x05F3, 0x05F4, 0x060C, 0x060C, 0x061B, 0x061B, 0x061F, 0x061F, 0x066A, 0x066D,
	0x06D4, 0x06D4, 0x0964, 0x0965, 0x0970, 0x0970, 0x0E2F, 0x0E2F, 0x0E5A, 0x0E5B, 0x0EAF, 0x0EAF, 0x0F04, 0x0F12,
	0x0F3A, 0x0F3F, 0x0F85, 0x0F85, 0x10FB, 0x10FB, 0x2010, 0x2027, 0x2030, 0x2043, 0x2045, 0x2046, 0x207D, 0x207E,
	0x208D, 0x208E, 0x2329, 0x232A, 0x3001, 0x3003, 0x3006, 0x3006, 0x3008, 0x3011, 0x3014, 0x301F, 0x3030, 0x3030,
	0x30FB, 0x30FB, 0xFD3E, 0xFD3F, 0xFE30, 0xFE44, 0xFE49, 0xFE52, 0xFE54, 0xFE61, 0xFE63, 0xFE63, 0xFE68, 0xFE68,
	0xFE6A, 0xFE6B, 0xFF01, 0xFF03, 0xFF05, 0xFF0A, 0xFF0C, 0xFF0F, 0xFF1A, 0xFF1B, 0xFF1F, 0xFF20, 0xFF3B, 0xFF3D,
	0xFF3F, 0xFF3F, 0xFF5B, 0xFF5B, 0xFF5D, 0xFF5D, 0xFF61, 0xFF65,
};

const uint16 VIntlMgr::sSpaceRanges[] = {
	4, 160,
	0x0020, 0x0020, 0x00A0, 0x00A0, 0x2000, 0x200B, 0x3000, 0x3000,
};

bool VIntlMgr::IsSpace(UniChar inChar, bool /*inFlag*/) const
{
	return inChar == 0x0020 || inChar == 0x00A0 || (inChar >= 0x2000 && inChar <= 0x200B) || inChar == 0x3000;
}

bool VIntlMgr::_IsInRanges(const uint16* inTable, UniChar inChar)
{
	const int32 count = inTable[0];
	const uint16* ranges = inTable + 2;
	if (inChar <= inTable[1])
	{
		for (int32 i = 0; i < count && inChar >= ranges[2 * i]; ++i)
		{
			if (inChar <= ranges[2 * i + 1])
				return true;
		}
	}
	else
	{
		for (int32 i = count - 1; i >= 0 && inChar <= ranges[2 * i + 1]; --i)
		{
			if (inChar >= ranges[2 * i])
				return true;
		}
	}
	return false;
}

uint16* VIntlMgr::_FillOneRangesArray(const uint8* inFlags, uint8 inMask)
{
	constexpr int32 kCODE_POINTS = 0x10000;
	auto inClass = [inFlags, inMask](int32 c) { return (inFlags[c] & inMask) != 0; };

	int32 count = 0;
	uint64 sumOfStarts = 0;
	for (int32 c = 0; c < kCODE_POINTS; ++c)
	{
		if (inClass(c) && (c == 0 || !inClass(c - 1)))
		{
			++count;
			sumOfStarts += uint64(c);
		}
	}

	uint16* table = static_cast<uint16*>(VMemory::NewPtr(sizeof(uint16) * (2 * size_t(count) + 2), kRANGE_TABLE_TAG));
	if (table == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	table[0] = uint16(count);
	table[1] = uint16(count == 0 ? 0 : sumOfStarts / uint64(count));
	uint16* out = table + 2;
	for (int32 c = 0; c < kCODE_POINTS; ++c)
	{
		if (!inClass(c))
			continue;
		const int32 first = c;
		while (c + 1 < kCODE_POINTS && inClass(c + 1))
			++c;
		*out++ = uint16(first);
		*out++ = uint16(c);
	}
	return table;
}

bool VIntlMgr::IsAlpha(UniChar inChar) const
{
	return _IsInRanges(sLetterRanges, inChar);
}

bool VIntlMgr::IsDigit(UniChar inChar) const
{
	return _IsInRanges(sDigitRanges, inChar);
}

bool VIntlMgr::IsPunctuation(UniChar inChar) const
{
	return _IsInRanges(sPunctuationRanges, inChar);
}

int32 VIntlMgr::CharDigitValue(UniChar inChar) const
{
	return (inChar >= u'0' && inChar <= u'9') ? int32(inChar - u'0') : -1;
}

bool VIntlMgr::_IsItaDeadChar(UniChar inChar) const
{
	return inChar < 0x0020 || !(IsAlpha(inChar) || IsDigit(inChar));
}

bool VIntlMgr::_HasApostropheSecondFollowedByVowel(const VString& inText, int32 inPos, int32 inLength) const
{
	if (inLength < 4 || inPos < 1 || inPos - 1 > inText.GetLength() - inLength)
		return false;
	const UniChar* word = inText.GetCPointer() + inPos - 1;
	if (word[1] != u'\'' && word[1] != 0x2019)
		return false;
	// Lower-casing may lengthen a unit ("İ" becomes two), so the third character is read from the mapped
	// text; the first three units decide its first three, since only a final sigma depends on what follows.
	UniChar lowered[8];
	int32 loweredLength = int32(std::size(lowered));
	if (!XMacIntlMgr::ToUpperLowerCase(word, 3, lowered, loweredLength, false) || loweredLength < 3)
		return false;
	switch (lowered[2])
	{
		case u'a':
		case u'e':
		case u'i':
		case u'o':
		case u'u':
		case u'h':
		case u'y':
			return true;
		default:
			return false;
	}
}

bool VIntlMgr::_SplitWordRangeOnDot(const VString& inText, int32 inPos, size_t inLength, VRangeVector& outRanges, bool inKeepDots) const
{
	const int32 textLength = inText.GetLength();
	if (inPos < 1 || inPos > textLength)
		return false;
	const int32 end = inPos + int32(std::min(inLength, size_t(textLength - inPos + 1)));  // 1-based, exclusive
	const UniChar* text = inText.GetCPointer();
	bool foundDot = false;
	try
	{
		int32 pieceStart = inPos;
		for (int32 pos = inPos; pos < end; ++pos)
		{
			if (text[pos - 1] != u'.')
				continue;
			foundDot = true;
			if (pos > pieceStart)
				outRanges.emplace_back(pieceStart, pos - pieceStart);
			if (inKeepDots)
				outRanges.emplace_back(pos, 1);
			pieceStart = pos + 1;
		}
		if (foundDot && end > pieceStart)
			outRanges.emplace_back(pieceStart, end - pieceStart);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	return foundDot;
}

bool VIntlMgr::GetWordBoundariesWithOptions(const VString& inText, VRangeVector& outWords, uint32 inOptions) const
{
	outWords.clear();
	const int32 length = inText.GetLength();
	if (length == 0)
		return true;
	if ((inOptions & kOPTION_SCAN_WORDS) == 0)
		return false;
	const UniChar* text = inText.GetCPointer();
	try
	{
		int32 i = 0;
		while (i < length)
		{
			if (_IsItaDeadChar(text[i]))
			{
				++i;
				continue;
			}
			const int32 start = i++;
			while (i < length && !_IsItaDeadChar(text[i]))
				++i;
			outWords.emplace_back(start + 1, i - start);
			++i;  // the character that ended the word is dead
		}
	}
	catch (const std::bad_alloc&)
	{
		outWords.clear();
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

bool VIntlMgr::FindWord(const VString& inText, const VString& inWord, const VCompareOptions& inOptions) const
{
	const VCollator* collator = GetCollator();
	if (collator == nullptr || inWord.IsEmpty())
		return false;
	const UniChar* text = inText.GetCPointer();
	const int32 textSize = inText.GetLength();
	const UniChar* word = inWord.GetCPointer();
	const int32 wordSize = inWord.GetLength();
	const bool withDiacritics = inOptions.IsDiacritical();

	const bool likeWord = inOptions.IsLike() && std::find(word, word + wordSize, collator->GetWildChar()) != word + wordSize;
	if (likeWord || (GetOptions() & kOPTION_WORDS_BY_LIKE) != 0)
	{
		VRangeVector words;
		GetWordBoundariesWithOptions(inText, words, GetOptions());
		return std::any_of(words.begin(), words.end(), [&](const std::pair<int32, int32>& w) {
			return collator->EqualString_Like(text + w.first - 1, w.second, word, wordSize, withDiacritics);
		});
	}
	if ((GetOptions() & kOPTION_SCAN_WORDS) == 0)
		return false;

	// An occurrence counts when dead characters (or the text's ends) stand on both sides of it; the next
	// search starts one character after it, since occurrences may overlap ("aa" in "aaa a").
	for (int32 start = 0; start < textSize;)
	{
		int32 foundLength = 0;
		const int32 found = collator->FindString(text + start, textSize - start, word, wordSize, withDiacritics, &foundLength);
		if (found <= 0)
			break;
		const int32 at = start + found - 1;
		const int32 after = at + foundLength;
		if ((at == 0 || _IsItaDeadChar(text[at - 1])) && (after >= textSize || _IsItaDeadChar(text[after])))
			return true;
		start = at + 1;
	}
	return false;
}

void VIntlMgr::FindStrings(const VString& inText, const VString& inPattern, EFindStringMode inMode, bool inWithDiacritics, VRangeVector& outFound, bool inAll) const
{
	outFound.clear();
	const VCollator* collator = GetCollator();
	if (collator == nullptr || inPattern.IsEmpty())
		return;
	const UniChar* text = inText.GetCPointer();
	const int32 textSize = inText.GetLength();
	try
	{
		VRangeVector words;
		if (inMode != eFSM_ANYWHERE)
			GetWordBoundariesWithOptions(inText, words, GetOptions());
		for (int32 start = 0; start < textSize;)
		{
			int32 foundLength = 0;
			const int32 found = collator->FindString(text + start, textSize - start, inPattern.GetCPointer(), inPattern.GetLength(), inWithDiacritics, &foundLength);
			// No length: the collator took the pattern as an empty one (only ignorable characters), which
			// finds nothing here.
			if (found <= 0 || foundLength <= 0)
				break;
			const int32 pos = start + found;  // 1-based in the whole text
			if (KeepsMatch(inMode, words, pos, foundLength))
			{
				outFound.emplace_back(pos, foundLength);
				if (!inAll)
					break;
			}
			start = pos - 1 + foundLength;
		}
	}
	catch (const std::bad_alloc&)
	{
		outFound.clear();
		_ThrowError(VE_MEMORY_FULL);
	}
}

bool VIntlMgr::TextLogicalToVisual(VString& ioText, int32 /*inDirection*/) const
{
	return ioText.IsEmpty() || (ioText.GetLength() == 1 && ioText.GetUniChar(1) == kCARRIAGE_RETURN);
}

bool VIntlMgr::GetBidiRuns(const UniChar* inText, int32 inLength, std::vector<VBidiRun>& outRuns, std::vector<int32>& outLevels, int32 inDirection, bool inIgnoreTrailingCR) const
{
	outRuns.clear();
	outLevels.clear();
	const bool rightToLeft = (inDirection & 1) != 0;
	int32 length = (inText == nullptr || inLength < 0) ? 0 : inLength;
	if (inIgnoreTrailingCR && length > 0 && inText[length - 1] == kCARRIAGE_RETURN)
		--length;
	try
	{
		VBidiRun run;
		run.fStart = 0;
		run.fLength = length;
		run.fRightToLeft = rightToLeft;
		outRuns.push_back(run);
		outLevels.push_back(0);
	}
	catch (const std::bad_alloc&)
	{
		outRuns.clear();
		outLevels.clear();
		_ThrowError(VE_MEMORY_FULL);
	}
	return rightToLeft;
}

bool VIntlMgr::IsAMacCharacter(uint8 inByte, uint8 inKind)
{
	const bool high = inByte >= 0x80 && inByte <= 0x9F;
	const bool letter = (inByte >= 'A' && inByte <= 'Z') || (inByte >= 'a' && inByte <= 'z');
	const bool digit = inByte >= '0' && inByte <= '9';
	const bool extra = inByte == 0xAE || inByte == 0xBE || inByte == 0xCF;
	const bool underscore = inByte == '_';
	switch (inKind)
	{
		case 0:
			return inByte == '\t' || inByte == '\r' || (inByte >= 0x20 && inByte != 0x7F);
		case 1:
			return high || digit || letter || extra || underscore;
		case 2:
			return high || letter || extra || underscore;
		case 3:
			return underscore || digit || letter;
		case 4:
			return underscore || letter;
		case 5:
			return digit;
		default:
			return false;
	}
}

}  // namespace velk
