#include "runtime/VDebugMgr.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "kernel/strings/VString.h"
#include "runtime/ILogger.h"
#include "runtime/VDebugContext.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "runtime/mac/XMacDebugger.h"
#include "runtime/mac/XMacProcess.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {

namespace {

constexpr long kAssertFileRotationSize = 0xA00001;
// The stack an error report may need: dumping, a bag and the logger's lock, with room to spare.
constexpr size_t kReportingStackReserve = 32 * 1024;

std::string LocalDate(const char* format)
{
	char text[128] = {};
	const std::time_t now = std::time(nullptr);
	std::tm local {};
	::localtime_r(&now, &local);
	std::strftime(text, sizeof(text), format, &local);
	return text;
}

ILogger* ProcessLogger()
{
	return VProcess::sInstance != nullptr ? VProcess::sInstance->GetLogger() : nullptr;
}

// Marks the task busy for the scope, so that what the manager raises while handling is not handled again.
class StBusy
{
public:
	explicit StBusy(VDebugContext* context) : fContext(context) { fContext->fBusy = true; }
	~StBusy() { fContext->fBusy = false; }
	StBusy(const StBusy&) = delete;
	StBusy& operator=(const StBusy&) = delete;

private:
	VDebugContext* fContext;
};

}  // namespace

VDebugMgr* VDebugMgr::Get()
{
	// Made on first use and never destroyed: asserts may fire while statics are torn down.
	static VDebugMgr* const sInstance = new VDebugMgr();
	return sInstance;
}

bool VDebugMgr::Init()
{
	fMessagesEnabled = true;
	return true;
}

void VDebugMgr::DeInit()
{
	SetDebugMessageHandler(nullptr);
	fMessagesEnabled = false;
	fWriteToAssertFile = false;
	fAssertFilePath.clear();
}

void VDebugMgr::SetDebugMessageHandler(IDebugMessageHandler* handler)
{
	if (handler == fHandler)
		return;
	if (handler != nullptr)
		handler->Retain();
	IDebugMessageHandler* old = fHandler;
	fHandler = handler;
	if (old != nullptr)
		old->Release();
}

VDebugContext* VDebugMgr::_GetContext()
{
	VTask* task = VTask::GetCurrent();
	return task != nullptr ? &task->GetDebugContext() : nullptr;
}

void VDebugMgr::StartLowLevelMode()
{
	if (VDebugContext* context = _GetContext())
		++context->fLowLevelMode;
}

void VDebugMgr::StopLowLevelMode()
{
	if (VDebugContext* context = _GetContext(); context != nullptr && context->fLowLevelMode > 0)
		--context->fLowLevelMode;
}

bool VDebugMgr::_GetDebuggerType(int32& type) const
{
	type = 2;
	return true;
}

bool VDebugMgr::AssertFailed(const char* message, const char* fileName, int32 line)
{
	bool breakNow = fBreakOnAssert;
	if (!fMessagesEnabled)
		return breakNow;
	const char* text = message != nullptr ? message : "";
	const char* file = fileName != nullptr ? fileName : "";
	if (fLogInDebugger && fDebuggerPresent)
		fprintf_console("Assert Failed: %s, %s, %d\n", text, file, int(line));
	VDebugContext* context = _GetContext();
	if (context == nullptr || context->fLowLevelMode != 0 || context->fBusy)
		return breakNow;
	StBusy busy(context);
	if (fIgnoreAllAsserts)
		return false;
	const std::string key = std::string(file) + std::to_string(line);
	for (const std::string& ignored : fIgnoredAsserts)
	{
		if (ignored == key)
			return false;
	}
	if (fWriteToAssertFile)
	{
		VString line_text;
		line_text.Printf("Assert Failed: %s, %s, %d\n", text, file, int(line));
		WriteToAssertFile(line_text, true, true);
	}
	if (ILogger* logger = ProcessLogger())
		logger->LogAssertIfNecessary(text, file, line);
	if (fHandler == nullptr)
		return breakNow;
	switch (fHandler->AssertFailed(*context, text, file, line))
	{
		case eDebugAnswer_Break:
			if (!fDebuggerPresent)
				_Exit();
			return true;
		case eDebugAnswer_Abort:
			_Exit();
		case eDebugAnswer_Ignore:
			fIgnoredAsserts.push_back(key);
			return false;
		case eDebugAnswer_IgnoreAll:
			fIgnoreAllAsserts = true;
			return false;
		default:
			return false;
	}
}

void VDebugMgr::ErrorThrown(const VErrorBase* error)
{
	VDebugContext* context = _GetContext();
	if (error == nullptr || !fMessagesEnabled || context == nullptr || context->fLowLevelMode != 0 || context->fBusy)
		return;
	// Errors raised because the stack is nearly spent (velk 108) come with little stack left: reporting them
	// here would overflow it. They stay on the task's context for the caller, who reports them unwound.
	if (VTaskMgr::Get()->GetCurrentFreeStackSize() < kReportingStackReserve)
		return;
	bool breakNow = false;
	{
		StBusy busy(context);
		if (fIgnoreAllErrors || fIgnoredErrors.count(error->GetCode()) != 0)
			return;
		VString text("Error: ");
		VString dump;
		error->DumpToString(dump);
		text.AppendUniChars(dump.GetCPointer(), dump.GetLength()).AppendUniChar(u'\n');
		if (fWriteToAssertFile)
			WriteToAssertFile(text, true, true);
		if (ILogger* logger = ProcessLogger())
			logger->LogErrorIfNecessary(error);
		if (fLogInDebugger && fDebuggerPresent)
			fprintf_console("%s", to_string(text).c_str());
		if (fHandler != nullptr)
		{
			switch (fHandler->ErrorThrown(*context, error))
			{
				case eDebugAnswer_Break:
					if (!fDebuggerPresent)
						_Exit();
					breakNow = true;
					break;
				case eDebugAnswer_Abort:
					_Exit();
				case eDebugAnswer_Ignore:
					fIgnoredErrors.insert(error->GetCode());
					break;
				case eDebugAnswer_IgnoreAll:
					fIgnoreAllErrors = true;
					break;
				default:
					break;
			}
		}
	}
	if (breakNow)
		Break();
}

void VDebugMgr::DebugMsg(const VString& text)
{
	VDebugContext* context = _GetContext();
	if (fMessagesEnabled && context != nullptr && !context->fBusy)
	{
		StBusy busy(context);
		if (context->fLowLevelMode == 0)
		{
			if (fWriteToAssertFile)
				WriteToAssertFile(text, true, true);
			ILogger* logger = ProcessLogger();
			if (logger != nullptr && logger->ShouldLog(EML_Debug))
			{
				VString message(text);
				if (message.GetUniChar(message.GetLength()) == u'\n')
					message.Truncate(message.GetLength() - 1);
				logger->LogMessage(EML_Debug, message, VString());
			}
		}
		if (fLogInDebugger && fDebuggerPresent)
			fprintf_console("%s", to_string(text).c_str());
	}
	if (context != nullptr && fBreakOnDebugMsg)
		Break();
}

void VDebugMgr::DebugMsg(const char* format, va_list arguments)
{
	VDebugContext* context = _GetContext();
	if (!fMessagesEnabled || context == nullptr)
		return;
	if (context->fLowLevelMode == 0)
	{
		VString text;
		text.VPrintf(format, arguments);
		DebugMsg(text);
		return;
	}
	if (fLogInDebugger && fDebuggerPresent)
		vfprintf_console(format, arguments);
	if (fBreakOnDebugMsg)
		Break();
}

void VDebugMgr::fprintf_console(const char* format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	vfprintf_console(format, arguments);
	va_end(arguments);
}

void VDebugMgr::vfprintf_console(const char* format, va_list arguments)
{
	std::vfprintf(stderr, format, arguments);
}

void VDebugMgr::Break()
{
	VDebugContext* context = _GetContext();
	if (context != nullptr && context->fNoBreak != 0)
		return;
	XMacDebugger::Break();
}

void VDebugMgr::Abort()
{
	_Exit();
}

void VDebugMgr::_Exit()
{
	std::fflush(nullptr);
	std::_Exit(2);
}

std::string VDebugMgr::ComputeAssertFilePath(const std::string& bundlePath)
{
	std::string path = bundlePath;
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	if (path.empty() || path == "/")
		return std::string();
	// Only the last component's extension goes: a point in a folder name above it stays.
	const size_t slash = path.rfind('/');
	const size_t start = slash == std::string::npos ? 0 : slash + 1;
	const size_t dot = path.rfind('.');
	if (dot != std::string::npos && dot > start)
		path.erase(dot);
	return path + "_asserts.txt";
}

FILE* VDebugMgr::_OpenAssertFile(bool withTimeStamp, bool withStackCrawl)
{
	if (fAssertFilePath.empty())
	{
		VString bundle;
		if (!XMacProcess::GetMainBundlePath(bundle))
			return nullptr;
		fAssertFilePath = ComputeAssertFilePath(to_string(bundle));
		if (fAssertFilePath.empty())
			return nullptr;
	}
	const char* path = fAssertFilePath.c_str();
	FILE* file = nullptr;
	if (!fAssertFileOpened)
	{
		file = std::fopen(path, "w");
		if (file == nullptr)
			return nullptr;
		fAssertFileOpened = true;
		std::fprintf(file, "Ry log file opened on %s\n\n", LocalDate("%A, %B %d, %Y %I:%M:%S %p").c_str());
	}
	else
	{
		file = std::fopen(path, "a");
		if (file == nullptr)
			return nullptr;
		if (std::ftell(file) >= kAssertFileRotationSize || (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) >= kAssertFileRotationSize))
		{
			std::fclose(file);
			const std::string rotated = fAssertFilePath + std::to_string(fAssertFileRotation);
			std::rename(path, rotated.c_str());
			++fAssertFileRotation;
			file = std::fopen(path, "w");
			if (file == nullptr)
				return nullptr;
			std::fprintf(file, "%d nth log opened on %s\n\n", int(fAssertFileRotation + 1),
				LocalDate("%A, %B %d, %Y %I:%M:%S %p").c_str());
		}
	}
	if (withTimeStamp)
		std::fprintf(file, "\n%s\n", LocalDate("%m/%d/%y, %X").c_str());
	if (withStackCrawl)
	{
		std::fputc('\n', file);
		XMacStackCrawl crawl;
		crawl.LoadFrames(4, 8);
		crawl.Dump(file);
	}
	return file;
}

void VDebugMgr::WriteToAssertFile(const VString& text, bool withTimeStamp, bool withStackCrawl)
{
	FILE* file = _OpenAssertFile(withTimeStamp, withStackCrawl);
	if (file == nullptr)
		return;
	const std::string bytes = to_string(text);
	std::fwrite(bytes.data(), 1, bytes.size(), file);
	std::fclose(file);
}

}  // namespace velk
