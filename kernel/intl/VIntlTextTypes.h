// The small types of the international manager's word searches and bidirectional layout: the modes of
// VIntlMgr::FindStrings and the runs of VIntlMgr::GetBidiRuns.
#pragma once

#include "kernel/VExport.h"

#include <utility>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

// (1-based position, length) ranges of words and matches.
using VRangeVector = std::vector<std::pair<int32, int32>>;

// Which matches of VIntlMgr::FindStrings are kept, against the words of the text; any other value keeps
// every match.
enum EFindStringMode : int32
{
	eFSM_WHOLE_WORDS = 3,         // neither end of the match falls strictly inside a word
	eFSM_ANYWHERE = 4,            // no word test at all
	eFSM_NOT_STARTING_INSIDE = 5, // the match does not start strictly inside a word
	eFSM_NOT_ENDING_INSIDE = 6    // the match does not end strictly inside a word
};

// One run of text laid out in a single direction.
struct VELK_API VBidiRun
{
	~VBidiRun();

	int32 fStart = 0;   // 0-based
	int32 fLength = 0;
	int32 fLevel = 0;   // always 0: no embedding levels are computed
	bool fRightToLeft = false;
};

}  // namespace velk
