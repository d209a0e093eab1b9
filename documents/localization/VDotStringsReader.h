// Reads the key and value pairs of a strings file's text: lines of the form "key" = "value"; each line
// loses its last character (the final ";") whatever it is, and lines of any other shape are skipped.
#pragma once

#include "kernel/VExport.h"

#include <utility>
#include <vector>

#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VDotStringsReader
{
public:
	// Appends the pairs of text (line ends already LF) in line order. A value holding "=" skips its line.
	static void ReadPairs(const VString& text, std::vector<std::pair<VString, VString>>& pairs);

private:
	// Trims blanks and tabs, then drops the quotes of a quoted piece; false when nothing is left.
	static bool _CleanPiece(VString& piece);
};

}  // namespace velk
