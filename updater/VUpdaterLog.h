// The updater's logging and error helpers: lines to the process logger under the updater's component
// signature, errors pushed with the paths they concern, and the errors of a context written to the log.
#pragma once

#include "kernel/VKernelTypes.h"
#include "runtime/VError.h"

namespace velk {

class VErrorBase;
class VErrorContext;
class VFilePath;
class VString;

// The component signature of the updater's log lines.
constexpr OsType kUPDATER_LOG_SIGNATURE = FourCharCode("RyUP");

// Formats as VString::VPrintf ("%S" a VString pointer, "%s" a byte string, "%d" an int) and hands the
// line to the process logger at level (6 error, 4 information, 3 debug); nothing without a logger.
void Log(int32 level, const char* format, ...);
void LogError(const char* format, ...);
void LogInfo(const char* format, ...);
void LogDebug(const char* format, ...);

// A notification titled "Debug" with the text, OK only.
void DisplayMessage(const VString& text);

// Nothing for 0; otherwise pushes an error of code with the string parameter "path" (the path's full
// POSIX text) on the current error context, and answers code.
VError ThrowErrorWithPath(VError code, const VFilePath& path);
// As ThrowErrorWithPath with "srcPath" and "dstPath".
VError ThrowErrorWithPaths(VError code, const VFilePath& source, const VFilePath& destination);
// As ThrowErrorWithPath with "ServiceName".
VError ThrowServiceError(VError code, const VString& name);

// Logs the error's description (its error string when the description is empty) at level 6.
void _LogError(const VErrorBase* error);
// Logs every error of the context like _LogError, newest first or oldest first; nothing for null.
void DumpErrorStack(const VErrorContext* context, bool newestFirst);

}  // namespace velk
