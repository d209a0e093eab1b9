#include "documents/localization/VDotStringsReader.h"

namespace velk {

void VDotStringsReader::ReadPairs(const VString& text, std::vector<std::pair<VString, VString>>& pairs)
{
	static const VString kEquals("=");

	std::vector<VString> lines;
	text.GetSubStrings(u'\n', lines, false, false);
	std::vector<VString> pieces;
	for (VString& line : lines)
	{
		line.Truncate(line.GetLength() - 1);
		line.GetSubStrings(kEquals, pieces, false, false, true);
		if (pieces.size() != 2 || pieces[0].IsEmpty() || pieces[1].IsEmpty())
			continue;
		if (_CleanPiece(pieces[0]) && _CleanPiece(pieces[1]))
			pairs.emplace_back(std::move(pieces[0]), std::move(pieces[1]));
	}
}

bool VDotStringsReader::_CleanPiece(VString& piece)
{
	piece.RemoveWhiteSpaces(true, true);
	if (!piece.IsEmpty() && piece.GetUniChar(1) == u'"')
	{
		// The first and the last character go, whatever the last one is.
		piece.Remove(piece.GetLength(), 1);
		piece.Remove(1, 1);
	}
	return !piece.IsEmpty();
}

}  // namespace velk
