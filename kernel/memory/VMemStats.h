// Statistics record of one or more allocator arenas, filled by VCppMemMgr::GetStatistics, and its text forms.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <string>
#include <utility>

#include "kernel/VKernelTypes.h"
#include "runtime/VError.h"

namespace velk {

class VStream;
class VString;
class VCriticalSection;

// Serialises statistics dumps across the process; constant-initialized, so usable before any static
// initializer runs; null once destroyed at exit, when dumps run unlocked.
VELK_API extern VCriticalSection* gDumpMemMutex;

class VELK_API VMemStats
{
public:
	VMemStats() { Clear(); }

	// Zeroes every counter and empties the four maps, so a record can be filled again.
	void Clear();

	// The short report (used, free, biggest free block, objects, objects by name, blocks by tag) as text
	// lines through VStream::PutText, so in the stream's character set and line-end mode; the stream's error.
	// A null stream pushes velk 3. Takes gDumpMemMutex.
	VError DumpToStream(VStream* stream) const;
	// The full report, written to the debugger console while a debugger is attached; otherwise nothing.
	void Dump() const;
	// Replaces text with the full report: every counter, then the objects by name, the blocks by tag, the
	// small blocks by size and the pages by size. Takes gDumpMemMutex.
	void Dump(VString& text) const;

	uint64 fFreeMem;
	uint64 fUsedMem;
	uint32 fNbPages;
	uint32 fNbObjects;
	uint32 fNbSmallBlocks;
	uint32 fNbFreeSmallBlocks;
	uint32 fNbUsedSmallBlocks;
	uint32 fNbBigBlocks;
	uint32 fNbFreeBigBlocks;
	uint32 fNbUsedBigBlocks;
	uint64 fBiggestBlock;
	uint64 fBiggestFreeBlock;

	// (count, bytes) by object name; nothing in the toolbox fills it.
	std::map<std::string, std::pair<uint64, uint64>> fObjectsByName;
	// (count, bytes) of used large blocks by four-character tag.
	std::map<uint32, std::pair<uint64, uint64>> fBlocksByTag;
	// (used, free) small blocks by block size.
	std::map<uint32, std::pair<uint32, uint32>> fSmallBlocksBySize;
	// (full, partly used) pages by the block size they hold.
	std::map<uint32, std::pair<uint32, uint32>> fPagesBySize;

private:
	// "Nb Objects" with the named entries, then the tagged entries: the part both reports share.
	void _AppendObjects(VString& text) const;
};

}  // namespace velk
