#include "kernel/memory/VMemStats.h"

#include <cstdio>

#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"
#include "runtime/VCriticalSection.h"
#include "runtime/mac/XMacDebugger.h"

namespace velk {

namespace {

// Constant-initialized, so a dump may run before any dynamic initializer; destroyed after every one of
// them, and once gone the dumps run unlocked rather than on a dead section.
class StDumpMemMutex
{
public:
	constexpr StDumpMemMutex() = default;
	~StDumpMemMutex() { gDumpMemMutex = nullptr; }

	VCriticalSection fSection;
};

constinit StDumpMemMutex sDumpMemMutex;

void AppendCount(VString& text, const char* label, uint64 value)
{
	text.AppendCString(label);
	text.AppendULong8(value);
	text.AppendUniChar(u'\n');
}

void AppendHeading(VString& text, const char* heading)
{
	text.AppendCString("\n\n");
	text.AppendCString(heading);
	text.AppendCString("\n\n");
}

void AppendEntry(VString& text, uint64 count, uint64 bytes)
{
	text.AppendCString(" : ");
	text.AppendULong8(count);
	text.AppendCString("   ,  mem = ");
	text.AppendULong8(bytes);
	text.AppendUniChar(u'\n');
}

// The tag's characters, most significant byte first, up to a zero byte.
void AppendTag(VString& text, uint32 tag)
{
	const char bytes[4] = {char(tag >> 24), char(tag >> 16), char(tag >> 8), char(tag)};
	size_t length = 0;
	while (length < sizeof(bytes) && bytes[length] != 0)
		++length;
	text.AppendBlock(bytes, length, kCharSet_UTF8);
}

// One line per block size: "<size><first label><first count><second label><second count>".
void AppendCountsBySize(VString& text, const std::map<uint32, std::pair<uint32, uint32>>& counts, const char* firstLabel,
						const char* secondLabel)
{
	for (const auto& [size, pair] : counts)
	{
		text.AppendULong8(size);
		text.AppendCString(firstLabel);
		text.AppendULong8(pair.first);
		text.AppendCString(secondLabel);
		text.AppendULong8(pair.second);
		text.AppendUniChar(u'\n');
	}
}

}  // namespace

VCriticalSection* gDumpMemMutex = &sDumpMemMutex.fSection;

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
	// A record filled again must not keep the entries of an arena it no longer describes.
	fObjectsByName.clear();
	fBlocksByTag.clear();
	fSmallBlocksBySize.clear();
	fPagesBySize.clear();
}

void VMemStats::_AppendObjects(VString& text) const
{
	text.AppendCString("\n\n");
	AppendCount(text, "Nb Objects = ", fNbObjects);
	text.AppendCString("\n\n");
	for (const auto& [name, entry] : fObjectsByName)
	{
		text.AppendCString(name.c_str());
		AppendEntry(text, entry.first, entry.second);
	}
	AppendHeading(text, "Blocks by Tags");
	for (const auto& [tag, entry] : fBlocksByTag)
	{
		AppendTag(text, tag);
		AppendEntry(text, entry.first, entry.second);
	}
}

VError VMemStats::DumpToStream(VStream* stream) const
{
	if (stream == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	StLocker locker(gDumpMemMutex);
	VString text;
	AppendCount(text, "Used Mem = ", fUsedMem);
	AppendCount(text, "Free Mem = ", fFreeMem);
	AppendCount(text, "Biggest Free Block = ", fBiggestFreeBlock);
	_AppendObjects(text);
	stream->PutText(text);
	return stream->GetLastError();
}

void VMemStats::Dump(VString& text) const
{
	StLocker locker(gDumpMemMutex);
	text.Clear();
	AppendCount(text, "Used Mem = ", fUsedMem);
	AppendCount(text, "Free Mem = ", fFreeMem);
	AppendCount(text, "Nb Big Blocks = ", fNbBigBlocks);
	AppendCount(text, "Nb Used Big Blocks = ", fNbUsedBigBlocks);
	AppendCount(text, "Nb Free Big Blocks = ", fNbFreeBigBlocks);
	AppendCount(text, "Nb Pages containing small blocks = ", fNbPages);
	AppendCount(text, "Nb Small Blocks = ", fNbSmallBlocks);
	AppendCount(text, "Nb Used Small Blocks = ", fNbUsedSmallBlocks);
	AppendCount(text, "Nb Free Small Blocks = ", fNbFreeSmallBlocks);
	AppendCount(text, "Biggest Block = ", fBiggestBlock);
	AppendCount(text, "Biggest Free Block = ", fBiggestFreeBlock);
	_AppendObjects(text);
	AppendHeading(text, "Small Blocks");
	AppendCountsBySize(text, fSmallBlocksBySize, " : NbUsed = ", " , NbFree = ");
	AppendHeading(text, "Allocation Pages");
	AppendCountsBySize(text, fPagesBySize, " : NbFull = ", " , NbPartial = ");
	AppendHeading(text, "Other Big Blocks");
}

void VMemStats::Dump() const
{
	// Composing costs a walk of the maps: skip it when nobody watches.
	if (!XMacDebugger::IsAttached())
		return;
	VString text;
	Dump(text);
	std::fputs(to_string(text).c_str(), stderr);
}

}  // namespace velk
