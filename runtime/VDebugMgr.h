// The toolbox's hook for failed assertions, debug messages and errors that no scope silenced: it logs them
// through the process logger and, when asked, to standard error and the assert file beside the application
// bundle, then lets a replaceable handler continue, break, abort or ignore. One instance for the process.
#pragma once

#include "kernel/VExport.h"

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "runtime/IDebugMessageHandler.h"
#include "runtime/VError.h"

namespace velk {

class VDebugContext;
class VErrorBase;
class VString;

class VELK_API VDebugMgr
{
public:
	static VDebugMgr* Get();

	// Messages enabled; answers true. DeInit releases the handler, disables messages and the assert file.
	bool Init();
	void DeInit();

	bool SetBreakOnAssert(bool on) { return _Swap(fBreakOnAssert, on); }
	bool SetBreakOnDebugMsg(bool on) { return _Swap(fBreakOnDebugMsg, on); }
	bool SetMessagesEnabled(bool on) { return _Swap(fMessagesEnabled, on); }
	bool SetLogInDebugger(bool on) { return _Swap(fLogInDebugger, on); }
	// No operation of the system turns it on; tests and tools may.
	bool SetWriteToAssertFile(bool on) { return _Swap(fWriteToAssertFile, on); }
	bool GetBreakOnAssert() const { return fBreakOnAssert; }
	bool GetBreakOnDebugMsg() const { return fBreakOnDebugMsg; }
	bool GetMessagesEnabled() const { return fMessagesEnabled; }
	bool GetLogInDebugger() const { return fLogInDebugger; }

	// Retains the new handler (null allowed) and releases the old one.
	void SetDebugMessageHandler(IDebugMessageHandler* handler);
	void StartLowLevelMode();
	void StopLowLevelMode();
	bool _GetDebuggerType(int32& type) const;

	// Whether the caller should break.
	bool AssertFailed(const char* message, const char* fileName, int32 line);
	// Called for every error that its task's scopes did not silence; skipped while the task's free stack is
	// below the reserve a report needs.
	void ErrorThrown(const VErrorBase* error);
	void DebugMsg(const VString& text);
	void DebugMsg(const char* format, va_list arguments);

	static void fprintf_console(const char* format, ...);
	static void vfprintf_console(const char* format, va_list arguments);
	// A trap for an attached debugger; nothing without one or while the task's no-break counter is set.
	void Break();
	// Ends the process with exit status 2: an abort is never a success.
	[[noreturn]] void Abort();

	// Appends text to the assert file, after the date when asked, then the calling stack when asked.
	void WriteToAssertFile(const VString& text, bool withTimeStamp, bool withStackCrawl);
	// The assert file: the main bundle's path without the extension of its last component, followed by
	// "_asserts.txt"; empty without a main bundle.
	static std::string ComputeAssertFilePath(const std::string& bundlePath);

private:
	VDebugMgr() = default;

	static bool _Swap(bool& flag, bool on)
	{
		const bool previous = flag;
		flag = on;
		return previous;
	}
	// The current task's debug context, null on a thread without a task.
	static VDebugContext* _GetContext();
	FILE* _OpenAssertFile(bool withTimeStamp, bool withStackCrawl);
	[[noreturn]] void _Exit();

	bool fDebuggerPresent = true;
	bool fMessagesEnabled = false;
	bool fBreakOnAssert = false;
	bool fBreakOnDebugMsg = false;
	bool fLogInDebugger = false;
	bool fWriteToAssertFile = false;
	IDebugMessageHandler* fHandler = nullptr;
	std::vector<std::string> fIgnoredAsserts;
	bool fIgnoreAllAsserts = false;
	std::set<VError> fIgnoredErrors;
	bool fIgnoreAllErrors = false;
	std::string fAssertFilePath;
	bool fAssertFileOpened = false;
	int32 fAssertFileRotation = 0;
};

}  // namespace velk
