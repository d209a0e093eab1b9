// What decides about a failed assertion or a thrown error once the debug manager has reported it.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"

namespace velk {

class VDebugContext;
class VErrorBase;

// Answers: 0 continue, 1 break, 2 abort, 3 ignore this assertion (or error code) from now on, 4 ignore all
// of them from now on; other values continue.
enum EDebugAnswer : int32
{
	eDebugAnswer_Continue = 0,
	eDebugAnswer_Break = 1,
	eDebugAnswer_Abort = 2,
	eDebugAnswer_Ignore = 3,
	eDebugAnswer_IgnoreAll = 4
};

class VELK_API IDebugMessageHandler : public IRefCountable
{
public:
	virtual int32 AssertFailed(VDebugContext& context, const char* message, const char* fileName, int32 line) = 0;
	virtual int32 ErrorThrown(VDebugContext& context, const VErrorBase* error) = 0;
};

}  // namespace velk
