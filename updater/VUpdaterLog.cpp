#include "updater/VUpdaterLog.h"

#include <cstdarg>
#include <initializer_list>
#include <new>
#include <utility>

#include "containers/VValueBag.h"
#include "files/VFilePath.h"
#include "files/VSystem.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/values/VLong.h"
#include "runtime/ILogger.h"
#include "runtime/StThrowError.h"
#include "runtime/VErrorContext.h"
#include "runtime/VProcess.h"

namespace velk {

namespace {

// A path or an error text may hold a line break or another control character: escaped, one message stays
// one line of the log ("\n", "\r", "\t", else "\xHH" or "\uHHHH").
void EscapeControls(VString& text)
{
	int32 length = text.GetLength();
	bool any = false;
	for (int32 i = 1; i <= length && !any; ++i)
	{
		const UniChar unit = text.GetUniChar(i);
		any = unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0) || unit == 0x2028 || unit == 0x2029;
	}
	if (!any)
		return;
	VString escaped;
	for (int32 i = 1; i <= length; ++i)
	{
		const UniChar unit = text.GetUniChar(i);
		if (unit == u'\n')
			escaped.AppendCString("\\n");
		else if (unit == u'\r')
			escaped.AppendCString("\\r");
		else if (unit == u'\t')
			escaped.AppendCString("\\t");
		else if (unit < 0x20 || unit == 0x7F || (unit >= 0x80 && unit < 0xA0))
			escaped.AppendPrintf("\\x%02X", unsigned(unit));
		else if (unit == 0x2028 || unit == 0x2029)
			escaped.AppendPrintf("\\u%04X", unsigned(unit));
		else
			escaped.AppendUniChar(unit);
	}
	text = escaped;
}

void LogFormatted(int32 level, const char* format, va_list arguments)
{
	ILogger* logger = VProcess::sInstance != nullptr ? VProcess::sInstance->GetLogger() : nullptr;
	if (logger == nullptr)
		return;
	VString text;
	text.VPrintf(format, arguments);
	EscapeControls(text);
	VRefPtr<VValueBag> bag(new (std::nothrow) VValueBag, true);
	if (!bag)
		return;
	ILoggerBagKeys::message.Set(bag.Get(), text);
	// The key's default level is left out of the bag.
	if (level != EML_Information)
		ILoggerBagKeys::level.Set(bag.Get(), level);
	// The updater's lines carry their component as a 32-bit value.
	bag->SetAttribute(ILoggerBagKeys::component_signature, VLong(int32(kUPDATER_LOG_SIGNATURE)));
	logger->LogBag(bag.Get());
}

// An error of code carrying the named POSIX path texts, pushed on the current error context.
VError ThrowWithParameters(VError code, std::initializer_list<std::pair<const char*, const VString*>> parameters)
{
	if (code == VE_OK)
		return code;
	VErrorBase* error = new (std::nothrow) VErrorBase(code);
	if (error != nullptr)
	{
		for (const auto& [name, value] : parameters)
			error->SetString(VString(name), *value);
	}
	// A null error pushes the code alone.
	_PushRetainedError(error, error == nullptr ? code : VE_OK);
	return code;
}

}  // namespace

void Log(int32 level, const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	LogFormatted(level, format, arguments);
	va_end(arguments);
}

void LogError(const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	LogFormatted(EML_Error, format, arguments);
	va_end(arguments);
}

void LogInfo(const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	LogFormatted(EML_Information, format, arguments);
	va_end(arguments);
}

void LogDebug(const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	LogFormatted(EML_Debug, format, arguments);
	va_end(arguments);
}

void DisplayMessage(const VString& text)
{
	VSystem::DisplayNotification(VString("Debug"), text, 0, nullptr);
}

VError ThrowErrorWithPath(VError code, const VFilePath& path)
{
	const VString text(path.GetPath(FPS_POSIX));
	return ThrowWithParameters(code, {{"path", &text}});
}

VError ThrowErrorWithPaths(VError code, const VFilePath& source, const VFilePath& destination)
{
	const VString sourceText(source.GetPath(FPS_POSIX));
	const VString destinationText(destination.GetPath(FPS_POSIX));
	return ThrowWithParameters(code, {{"srcPath", &sourceText}, {"dstPath", &destinationText}});
}

VError ThrowServiceError(VError code, const VString& name)
{
	return ThrowWithParameters(code, {{"ServiceName", &name}});
}

void _LogError(const VErrorBase* error)
{
	if (error == nullptr)
		return;
	VString text;
	error->GetErrorDescription(text);
	if (text.IsEmpty())
		error->GetErrorString(text);
	LogError("%S", &text);
}

void DumpErrorStack(const VErrorContext* context, bool newestFirst)
{
	if (context == nullptr)
		return;
	const std::vector<VRefPtr<VErrorBase>>& errors = context->GetErrors();
	if (newestFirst)
	{
		for (auto error = errors.rbegin(); error != errors.rend(); ++error)
			_LogError(error->Get());
	}
	else
	{
		for (const VRefPtr<VErrorBase>& error : errors)
			_LogError(error.Get());
	}
}

}  // namespace velk
