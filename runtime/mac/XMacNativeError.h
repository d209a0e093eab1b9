// The operating system's own texts for native error codes ('POSX' errno values and the like).
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VString;

class VELK_API XMacNativeError
{
public:
	// Sets text to the system's description of a native code and returns true; false (text untouched)
	// for other signatures and when the system has no text. 'CARB', 'COCO' and 'MACH' texts come
	// from frameworks this platform does not have.
	static bool GetDescription(VError code, VString& text);
};

}  // namespace velk
