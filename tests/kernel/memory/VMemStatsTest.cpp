// The statistics record's text forms: the short report through a stream and the full report, cleared and
// filled, and the errors a dump reports.
#include "kernel/memory/VMemStats.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacDebugger.h"

namespace velk {
namespace {

// What DumpToStream wrote, read back from the stream's bytes as UTF-16 in machine order.
std::u16string StreamText(const VMemStats& stats)
{
	VPtrStream stream;
	EXPECT_EQ(stream.OpenWriting(), VE_OK);
	EXPECT_EQ(stream.SetCharSet(kCharSet_UTF16), VE_OK);
	EXPECT_EQ(stats.DumpToStream(&stream), VE_OK);
	const VStreamUnderlyingData data = stream.GetUnderlyingData();
	return std::u16string(static_cast<const char16_t*>(data.fData), size_t(data.fSize) / 2);
}

std::u16string Text(const VString& text)
{
	return std::u16string(reinterpret_cast<const char16_t*>(text.GetCPointer()), size_t(text.GetLength()));
}

// Every counter distinct, so a line carrying the wrong field shows; maps filled out of order.
void Fill(VMemStats& stats)
{
	stats.fUsedMem = 5000000000;
	stats.fFreeMem = 2;
	stats.fNbPages = 3;
	stats.fNbObjects = 4;
	stats.fNbSmallBlocks = 5;
	stats.fNbFreeSmallBlocks = 6;
	stats.fNbUsedSmallBlocks = 7;
	stats.fNbBigBlocks = 8;
	stats.fNbFreeBigBlocks = 9;
	stats.fNbUsedBigBlocks = 10;
	stats.fBiggestBlock = 11;
	stats.fBiggestFreeBlock = 12;
	stats.fObjectsByName["zeta"] = {1, 16};
	stats.fObjectsByName["alpha"] = {2, 32};
	stats.fBlocksByTag[FourCharCode("str ")] = {3, 48};
	stats.fBlocksByTag[FourCharCode("grow")] = {4, 64};
	stats.fBlocksByTag[0] = {1, 16360};  // pages carry no tag
	stats.fBlocksByTag[0xC3A96162] = {5, 80};  // "\xC3\xA9ab": the tag's bytes are UTF-8
	stats.fSmallBlocksBySize[64] = {7, 1};
	stats.fSmallBlocksBySize[16] = {9, 0};
	stats.fPagesBySize[64] = {0, 1};
	stats.fPagesBySize[16] = {2, 3};
}

TEST(VMemStatsTest, ClearedRecordPrintsZerosAndNoEntries)
{
	VMemStats stats;
	Fill(stats);
	stats.Clear();
	EXPECT_EQ(StreamText(stats),
		u"Used Mem = 0\nFree Mem = 0\nBiggest Free Block = 0\n"
		u"\n\nNb Objects = 0\n\n\n"
		u"\n\nBlocks by Tags\n\n");

	VString full("left over");
	stats.Dump(full);
	EXPECT_EQ(Text(full),
		u"Used Mem = 0\nFree Mem = 0\nNb Big Blocks = 0\nNb Used Big Blocks = 0\nNb Free Big Blocks = 0\n"
		u"Nb Pages containing small blocks = 0\nNb Small Blocks = 0\nNb Used Small Blocks = 0\n"
		u"Nb Free Small Blocks = 0\nBiggest Block = 0\nBiggest Free Block = 0\n"
		u"\n\nNb Objects = 0\n\n\n"
		u"\n\nBlocks by Tags\n\n"
		u"\n\nSmall Blocks\n\n"
		u"\n\nAllocation Pages\n\n"
		u"\n\nOther Big Blocks\n\n");
}

TEST(VMemStatsTest, FilledRecordPrintsEntriesInOrder)
{
	VMemStats stats;
	Fill(stats);
	const std::u16string objects =
		u"\n\nNb Objects = 4\n\n\n"
		u"alpha : 2   ,  mem = 32\n"
		u"zeta : 1   ,  mem = 16\n"
		u"\n\nBlocks by Tags\n\n"
		u" : 1   ,  mem = 16360\n"
		u"grow : 4   ,  mem = 64\n"
		u"str  : 3   ,  mem = 48\n"
		u"\u00E9ab : 5   ,  mem = 80\n";
	EXPECT_EQ(StreamText(stats), u"Used Mem = 5000000000\nFree Mem = 2\nBiggest Free Block = 12\n" + objects);

	VString full;
	stats.Dump(full);
	EXPECT_EQ(Text(full),
		u"Used Mem = 5000000000\nFree Mem = 2\nNb Big Blocks = 8\nNb Used Big Blocks = 10\nNb Free Big Blocks = 9\n"
		u"Nb Pages containing small blocks = 3\nNb Small Blocks = 5\nNb Used Small Blocks = 7\n"
		u"Nb Free Small Blocks = 6\nBiggest Block = 11\nBiggest Free Block = 12\n"
		+ objects
		+ u"\n\nSmall Blocks\n\n"
		  u"16 : NbUsed = 9 , NbFree = 0\n"
		  u"64 : NbUsed = 7 , NbFree = 1\n"
		  u"\n\nAllocation Pages\n\n"
		  u"16 : NbFull = 2 , NbPartial = 3\n"
		  u"64 : NbFull = 0 , NbPartial = 1\n"
		  u"\n\nOther Big Blocks\n\n");
}

TEST(VMemStatsTest, DumpsReportFailuresAndWriteNothingUnasked)
{
	VMemStats stats;
	Fill(stats);
	VTask::FlushErrors();

	VPtrStream closed;
	EXPECT_EQ(stats.DumpToStream(&closed), VE_STREAM_NOT_OPENED_FOR_WRITING);
	EXPECT_EQ(closed.GetUnderlyingData().fSize, 0);
	EXPECT_EQ(stats.DumpToStream(nullptr), VE_INVALID_PARAMETER);
	EXPECT_EQ(VTask::GetLastError(), VE_INVALID_PARAMETER);
	VTask::FlushErrors();

	// The dump lock is recursive and process-wide: a dump from a thread already holding it goes through.
	ASSERT_NE(gDumpMemMutex, nullptr);
	StLocker locker(gDumpMemMutex);
	EXPECT_FALSE(StreamText(stats).empty());

	if (!XMacDebugger::IsAttached())
	{
		testing::internal::CaptureStderr();
		stats.Dump();
		EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
	}
}

}  // namespace
}  // namespace velk
