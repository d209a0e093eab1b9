#include "runtime/VNotificationDebugMessageHandler.h"

#include "files/VSystem.h"
#include "kernel/strings/VString.h"
#include "runtime/VDebugContext.h"
#include "runtime/VErrorBase.h"

namespace velk {

namespace {

constexpr uint32 kRetryIgnoreAbort = 5;

int32 Ask(const char* title, const VString& message)
{
	ENotificationResponse answer = eNR_None;
	VSystem::DisplayNotification(VString(title), message, kRetryIgnoreAbort, &answer);
	// The manager's own flag: the dialog's Abort breaks only for a present debugger.
	return VNotificationDebugMessageHandler::_TranslateNotificationResponse(answer, true);
}

}  // namespace

int32 VNotificationDebugMessageHandler::AssertFailed(VDebugContext& context, const char* message, const char* fileName, int32 line)
{
	if (context.fNoNotification != 0)
		return eDebugAnswer_Continue;
	VString text;
	text.Printf("Condition: %s\nFile: %s, %d", message != nullptr ? message : "", fileName != nullptr ? fileName : "", int(line));
	return Ask("Assert Failed", text);
}

int32 VNotificationDebugMessageHandler::ErrorThrown(VDebugContext& context, const VErrorBase* error)
{
	if (context.fNoNotification != 0 || error == nullptr)
		return eDebugAnswer_Continue;
	VString dump;
	error->DumpToString(dump);
	VString text("Error: ");
	text.AppendUniChars(dump.GetCPointer(), dump.GetLength()).AppendUniChar(u'\n');
	return Ask("Error Thrown", text);
}

int32 VNotificationDebugMessageHandler::_TranslateNotificationResponse(int32 answer, bool debuggerPresent)
{
	switch (answer)
	{
		case eNR_Abort:
			return debuggerPresent ? eDebugAnswer_Break : eDebugAnswer_Abort;
		case eNR_Retry:
			return eDebugAnswer_Continue;
		default:
			return eDebugAnswer_Ignore;
	}
}

}  // namespace velk
