// Root class of the toolbox's classes: a debug dump hook and the process memory manager.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace velk {

class VCppMemMgr;
class VString;

class VELK_API VObject
{
public:
	VObject() = default;
	virtual ~VObject() = default;

	// Writes a description of the object into buffer (at most length bytes on entry), sets length to
	// the bytes written and returns their character set. Default: nothing written, UTF-8.
	virtual CharSet DebugDump(char* buffer, int& length) const;

	// The dump above as text.
	void DebugDump(VString& text) const;

	// The class name for diagnostics; cleared by default.
	void DebugGetClassName(VString& name) const;

	// The process memory manager: created by a static initializer before main and deleted last.
	static VCppMemMgr* sCppMemMgr;
	// A second manager a host may install; null unless one does, and cleared at exit with the first.
	static VCppMemMgr* sAlternateCppMemMgr;
};

}  // namespace velk
