// A debug message handler that asks the user through a notification dialog with Retry, Ignore and Abort.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VObject.h"
#include "runtime/IDebugMessageHandler.h"

namespace velk {

class VELK_API VNotificationDebugMessageHandler : public VObject, public IDebugMessageHandler
{
public:
	// "Assert Failed" with the condition, file and line; 0 without a dialog while notifications are off.
	int32 AssertFailed(VDebugContext& context, const char* message, const char* fileName, int32 line) override;
	// "Error Thrown" with the error's dump.
	int32 ErrorThrown(VDebugContext& context, const VErrorBase* error) override;

	// Abort breaks when a debugger is present, else aborts; Retry continues; anything else ignores.
	static int32 _TranslateNotificationResponse(int32 answer, bool debuggerPresent);
};

}  // namespace velk
