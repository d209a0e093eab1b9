// The kernel's process-wide objects whose order matters, pinned in one place: they are built before every
// other static of the library (priority 101 runs ahead of default-priority initializers) and, being built
// first, are destroyed last.

#include <cstddef>

#include "kernel/json/classes/VJSONBlob.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "kernel/strings/VString_info.h"

namespace velk {

// Constant-initialized, so it reads null until the manager below exists.
VCppMemMgr* VObject::sCppMemMgr = nullptr;
VCppMemMgr* VObject::sAlternateCppMemMgr = nullptr;

// Made while no manager exists, so its buffer comes from the string's malloc fallback and is never freed.
__attribute__((init_priority(101))) const VString VJSONBlob::key_size("size");

namespace {

// What a bundle that asks for the arenas gets: nothing else would register memory, and an arena manager without
// any refuses every block. Four equal shares, committed page by page as they are first touched.
constexpr size_t kProcessArenaMemory = size_t(1) << 30;

VCppMemMgr* NewProcessMemMgr()
{
	VCppMemMgr* manager = new VCppMemMgr(eAllocator_FromBundle);
	if (manager != nullptr && !manager->IsSystemMode() && !manager->AddVirtualAllocation(kProcessArenaMemory, nullptr, false))
	{
		delete manager;
		manager = new VCppMemMgr(eAllocator_System);
	}
	return manager;
}

class StProcessMemMgr
{
public:
	StProcessMemMgr() { VObject::sCppMemMgr = NewProcessMemMgr(); }
	~StProcessMemMgr()
	{
		delete VObject::sCppMemMgr;
		VObject::sCppMemMgr = nullptr;
		VObject::sAlternateCppMemMgr = nullptr;
	}
};

__attribute__((init_priority(101))) StProcessMemMgr sProcessMemMgr;

}  // namespace

// The string kind is known before any other static runs, and before the empty string exists.
__attribute__((init_priority(101))) const VString_info VString::sInfo;
__attribute__((init_priority(101))) const VString VString::sEmpty;

}  // namespace velk
