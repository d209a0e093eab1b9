// Statistics record of one or more allocator arenas, filled by VCppMemMgr::GetStatistics.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API VMemStats
{
public:
	VMemStats() { Clear(); }

	// Zeroes every counter.
	void Clear();

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
};

}  // namespace velk
