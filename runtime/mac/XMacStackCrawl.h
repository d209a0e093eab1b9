// A captured call stack: up to 48 return addresses of the calling thread, for error objects,
// assertion logs and the assert file.
#pragma once

#include "kernel/VExport.h"

#include <cstdio>

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

class VELK_API XMacStackCrawl
{
public:
	static constexpr uint32 kMaxFrames = 48;

	XMacStackCrawl() = default;

	// Records the calling stack (at most 58 frames), then keeps min(captured - skip, max) return
	// addresses after the first skip; none when no more than skip were captured. max is cut to 48.
	void LoadFrames(uint32 skip, uint32 max);

	int32 GetCount() const { return fCount; }
	// The frame at index (0 is the innermost kept), null outside 0..count-1.
	void* GetFrame(int32 index) const;

	// One line per frame, "  :: frame %u: %s\n", numbered downward from count - 1, with the
	// system's symbol text.
	void Dump(FILE* stream) const;

	// Appends one line per frame to text: "   {n} 0x<address> - <symbol>\n", numbered downward from
	// count - 1, the symbol found by the dynamic linker and demangled, "<inline>" when it has none.
	void Dump(VString& text) const;

	// Fewer frames is less; with as many, the first differing frame decides.
	bool operator<(const XMacStackCrawl& other) const;

private:
	void* fFrames[kMaxFrames] = {};
	int32 fCount = 0;
};

}  // namespace velk
