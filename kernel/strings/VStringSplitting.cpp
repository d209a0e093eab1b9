// Taking a string apart at a separator.
#include <new>

#include "containers/VArrayString.h"
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

}  // namespace velk
