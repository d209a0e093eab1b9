#include "runtime/mac/XMacStackCrawl.h"

#include <cstdlib>
#include <execinfo.h>

namespace velk {

namespace {

constexpr int kCapturedFrames = 58;

}  // namespace

void XMacStackCrawl::LoadFrames(uint32 skip, uint32 max)
{
	void* captured[kCapturedFrames];
	int total = backtrace(captured, kCapturedFrames);
	if (max > kMaxFrames)
		max = kMaxFrames;
	fCount = 0;
	if (total < 0 || uint32(total) <= skip)
		return;
	uint32 kept = uint32(total) - skip;
	if (kept > max)
		kept = max;
	for (uint32 i = 0; i < kept; ++i)
		fFrames[i] = captured[skip + i];
	fCount = int32(kept);
}

void* XMacStackCrawl::GetFrame(int32 index) const
{
	if (index < 0 || index >= fCount)
		return nullptr;
	return fFrames[index];
}

void XMacStackCrawl::Dump(FILE* stream) const
{
	if (stream == nullptr || fCount <= 0)
		return;
	char** symbols = backtrace_symbols(fFrames, fCount);
	for (int32 i = 0; i < fCount; ++i)
	{
		const char* text = symbols != nullptr ? symbols[i] : "?";
		std::fprintf(stream, "  :: frame %u: %s\n", unsigned(fCount - 1 - i), text);
	}
	std::free(symbols);
}

bool XMacStackCrawl::operator<(const XMacStackCrawl& other) const
{
	if (fCount != other.fCount)
		return fCount < other.fCount;
	for (int32 i = 0; i < fCount; ++i)
	{
		if (fFrames[i] != other.fFrames[i])
			return fFrames[i] < other.fFrames[i];
	}
	return false;
}

}  // namespace velk
