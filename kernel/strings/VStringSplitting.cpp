// Taking a string apart at a separator, and putting pieces back together.
#include <algorithm>
#include <cstring>
#include <new>

#include "containers/VArrayString.h"
#include "kernel/intl/VCollator.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

namespace {

// Calls sink(units, count) for each piece to keep, until it answers false (memory ran out); answers
// whether a separator was found, and false when the sink stopped the split.
template <class Sink>
bool SplitAtUnit(const UniChar* units, int32 length, UniChar separator, bool keepEmpty, bool trimBlanks, Sink&& sink)
{
	bool found = false;
	int32 start = 0;
	for (;;)
	{
		int32 end = start;
		while (end < length && units[end] != separator)
			++end;
		int32 first = start;
		int32 last = end;
		if (trimBlanks)
		{
			while (first < last && units[first] == u' ')
				++first;
			while (last > first && units[last - 1] == u' ')
				--last;
		}
		if ((last > first || keepEmpty) && !sink(units + first, last - first))
			return false;
		if (end >= length)
			break;
		// A separator that ends the text leaves one empty piece behind it, met on the next turn.
		found = true;
		start = end + 1;
	}
	return found;
}

// The piece as a string of its own; false when its buffer could not be made (velk 107 already raised).
bool MakePiece(const UniChar* units, int32 count, VString& piece)
{
	piece = VString(units, count);
	return piece.GetLength() == count;
}

// Appends the piece to the array; false, the array as it was, when memory is short (velk 107 raised). The
// array neither raises nor says when the element's string could not be made: that is found by reading the
// element back, which shares the piece's buffer and allocates nothing.
bool AppendPiece(VArrayString& out, const VString& piece)
{
	const int32 pos = out.GetCount() + 1;
	if (out.AppendString(piece) != pos)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return false;
	}
	VString stored(true);
	out.GetString(stored, pos);
	if (stored.IsNull() != piece.IsNull())
	{
		// The element's string was refused, and raised as such.
		out.SetCount(pos - 1);
		return false;
	}
	return true;
}

}  // namespace

bool VString::GetSubStrings(UniChar separator, std::vector<VString>& out, bool keepEmpty, bool trimBlanks) const
{
	out.clear();
	// The vector's own growth throws; it must not leave the toolbox.
	try
	{
		if (IsNull() || IsEmpty())
		{
			if (keepEmpty)
				out.push_back(*this);
			return false;
		}
		return SplitAtUnit(fString, fLength, separator, keepEmpty, trimBlanks, [&out](const UniChar* units, int32 count) {
			VString piece;
			if (!MakePiece(units, count, piece))
				return false;
			out.push_back(std::move(piece));
			return true;
		});
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return false;
	}
}

bool VString::GetSubStrings(UniChar separator, VArrayString& out, bool keepEmpty, bool trimBlanks) const
{
	out.Destroy();
	if (IsNull() || IsEmpty())
	{
		if (keepEmpty)
			AppendPiece(out, *this);
		return false;
	}
	return SplitAtUnit(fString, fLength, separator, keepEmpty, trimBlanks, [&out](const UniChar* units, int32 count) {
		VString piece;
		return MakePiece(units, count, piece) && AppendPiece(out, piece);
	});
}

bool VString::GetSubStrings(const VString& separator, std::vector<VString>& out, bool keepEmpty, bool trimBlanks, bool diacritical) const
{
	out.clear();
	// The vector's own growth throws; it must not leave the toolbox.
	try
	{
		if (IsNull() || IsEmpty())
			return false;
		if (separator.IsNull() || separator.IsEmpty())
		{
			out.push_back(*this);
			return false;
		}
		const VCollator* collator = _CurrentCollator();
		auto push = [&out, keepEmpty, trimBlanks](const UniChar* units, int32 count) {
			if (trimBlanks)
			{
				while (count > 0 && units[0] == u' ')
				{
					++units;
					--count;
				}
				while (count > 0 && units[count - 1] == u' ')
					--count;
			}
			if (count == 0 && !keepEmpty)
				return true;
			VString piece;
			if (!MakePiece(units, count, piece))
				return false;
			out.push_back(std::move(piece));
			return true;
		};

		bool found = false;
		int32 pieceStart = 0;
		int32 searchFrom = 0;
		while (searchFrom < fLength)
		{
			int32 matched = 0;
			const int32 at = _FindMatch(collator, fString + searchFrom, fLength - searchFrom, separator.fString, separator.fLength, diacritical, matched);
			if (at == 0)
				break;
			const int32 matchAt = searchFrom + at - 1;
			if (matched == 0 && matchAt == pieceStart)
			{
				// A match of length 0 cuts nothing off where a piece begins; it is sought one unit further on.
				searchFrom = matchAt + 1;
				continue;
			}
			found = true;
			if (!push(fString + pieceStart, matchAt - pieceStart))
				return false;
			pieceStart = matchAt + matched;
			searchFrom = matchAt + std::max(matched, 1);
		}
		// The text behind the last match: empty, and kept only with keepEmpty, when a match ends the text.
		if (!push(fString + pieceStart, fLength - pieceStart))
			return false;
		return found;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return false;
	}
}

bool VString::Join(const std::vector<VString>& pieces, UniChar separator)
{
	VStr<4> text;
	text.AppendUniChars(&separator, 1);
	return Join(pieces, text);
}

bool VString::Join(const std::vector<VString>& pieces, const VString& separator)
{
	if (pieces.empty())
	{
		Clear();
		return true;
	}
	int64 total = int64(separator.GetLength()) * int64(pieces.size() - 1);
	for (const VString& piece : pieces)
		total += piece.GetLength();
	if (total >= 0x7FFFFFFF)
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		return false;
	}

	// Built aside, so that a failure leaves this string whole and a piece may be this string itself.
	VString joined;
	UniChar* units = joined.GetCPointerForWrite(int32(total));
	if (units == nullptr)
		return false;
	UniChar* out = units;
	for (size_t i = 0; i < pieces.size(); ++i)
	{
		if (i > 0 && !separator.IsEmpty())
		{
			std::memcpy(out, separator.GetCPointer(), size_t(separator.GetLength()) * sizeof(UniChar));
			out += separator.GetLength();
		}
		if (!pieces[i].IsEmpty())
		{
			std::memcpy(out, pieces[i].GetCPointer(), size_t(pieces[i].GetLength()) * sizeof(UniChar));
			out += pieces[i].GetLength();
		}
	}
	joined.Validate(int32(total));
	*this = std::move(joined);
	return GetLength() == int32(total);
}

}  // namespace velk
