#include "kernel/memory/VMemStats.h"

namespace velk {

void VMemStats::Clear()
{
	fFreeMem = 0;
	fUsedMem = 0;
	fNbPages = 0;
	fNbObjects = 0;
	fNbSmallBlocks = 0;
	fNbFreeSmallBlocks = 0;
	fNbUsedSmallBlocks = 0;
	fNbBigBlocks = 0;
	fNbFreeBigBlocks = 0;
	fNbUsedBigBlocks = 0;
	fBiggestBlock = 0;
	fBiggestFreeBlock = 0;
}

}  // namespace velk
