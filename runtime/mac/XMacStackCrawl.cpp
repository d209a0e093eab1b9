#include "runtime/mac/XMacStackCrawl.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cstdlib>

#include "files/VSystem.h"
#include "kernel/strings/VString.h"

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

void XMacStackCrawl::Dump(VString& text) const
{
	for (int32 i = 0; i < fCount; ++i)
	{
		VString address;
		address.FromHexLong(int64(reinterpret_cast<uintptr_t>(fFrames[i])), true);
		VString symbol("<inline>");
		Dl_info info {};
		if (::dladdr(fFrames[i], &info) != 0 && info.dli_sname != nullptr)
			VSystem::DemangleSymbol(info.dli_sname, symbol);
		text.AppendCString("   {").AppendLong(fCount - 1 - i).AppendCString("} ");
		text.AppendUniChars(address.GetCPointer(), address.GetLength()).AppendCString(" - ");
		text.AppendUniChars(symbol.GetCPointer(), symbol.GetLength()).AppendUniChar(u'\n');
	}
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
