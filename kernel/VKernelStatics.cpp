// The kernel's process-wide objects whose order matters, pinned in one place: they are built before every
// other static of the library (priority 101 runs ahead of default-priority initializers) and, being built
// first, are destroyed last.

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

class StProcessMemMgr
{
public:
	StProcessMemMgr() { VObject::sCppMemMgr = new VCppMemMgr(eAllocator_FromBundle); }
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
