// The file logger: a listener of the process logger that writes each log bag as one line,
// "<sequence> <time> [<source>.<signature>] <LEVEL> - [<error>] <message> (<extras>)", into the numbered,
// splitting log files "<name>_<n>.txt" of a folder (VSplitableLogFile). INFO and above by default. Loggers
// that share a file (names are made to the second) never mix their lines: each batch goes to the file's end
// in whole lines.
#pragma once

#include "kernel/VExport.h"

#include <string>
#include <vector>

#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VTime.h"
#include "runtime/ILogger.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class VFilePath;
class VFolder;
class VSplitableLogFile;
class VValueBag;

class VELK_API VLog4jMsgFileLogger : public VObject
{
public:
	// The date and time of the last line's second, as written.
	struct TimeTextCache
	{
		uint64 fSecond = 0;
		std::string fText;
	};

	// The logger's side of the process logger: called on the thread that flushes it (normally the "Logger"
	// task), under the process logger's listeners lock.
	class VELK_API VLog4jLogListener : public VObject, public ILogListener
	{
	public:
		explicit VLog4jLogListener(VLog4jMsgFileLogger* logger) : fLogger(logger) {}

		// Under the file logger's lock, when started: each bag's line, then the batch written to the file in
		// one write (several of 64 KiB at the most for a longer batch, each of whole lines).
		void Put(const std::vector<const VValueBag*>& bags) override;
		// One bag's line, unless the logger has no file, the level's mask bit is clear or it is paused. The
		// caller holds the file logger's lock.
		void Put(const VValueBag* bag);
		// Embedded in its logger, which owns it: the last release deletes nothing.
		void DoOnRefCountZero() override {}

	private:
		VLog4jMsgFileLogger* fLogger;
		// The line in UTF-8, kept from one bag to the next so that a line needs no new buffer.
		std::string fLine;
		TimeTextCache fTimeCache;
	};

	// Retains the folder; stopped, not paused, mask INFO to FATAL.
	VLog4jMsgFileLogger(VFolder* folder, const VString& name);
	// Stops, then releases the folder.
	~VLog4jMsgFileLogger() override;

	VLog4jMsgFileLogger(const VLog4jMsgFileLogger&) = delete;
	VLog4jMsgFileLogger& operator=(const VLog4jMsgFileLogger&) = delete;

	// Resumes in the highest numbered "<name>_<n>.txt" of the folder, 1 when there is none; nothing without
	// a folder or a name.
	virtual void Start();
	// Under the lock, when stopped: opens that number for appending; then attaches to the process logger,
	// when the process has one. A file that cannot be opened leaves the logger stopped, silently.
	void Start(int32 number);
	// Detaches from the process logger first, which flushes what is pending into the file; then, under the
	// lock, closes. The lock is not held while detaching: the flushing thread holds the process logger's
	// listeners lock while it waits for this one.
	virtual void Stop();
	virtual bool IsStarted() const;

	// While paused, bags are read but not written.
	void Pause();
	void Resume();
	bool IsPaused() const;
	// Under the lock, writes the lines the current file holds waiting.
	void Flush();
	// Under the lock: the errno of the first line the current file could not take (a full disk), else 0.
	int GetWriteError() const;
	// Started and the mask bit of the level (level & 31).
	bool ShouldLog(EMessageLevel level) const;

	void GetLogFolderPath(VFilePath& out) const;
	void GetLogName(VString& out) const { out = fName; }
	// Under the lock, when started; 0 or less keeps every file.
	void SetLogMaxNumberToKeep(int32 count);
	// 0 when stopped.
	int32 GetLogMaxNumberToKeep() const;
	// Bit n set: level n written (0xF0 at construction).
	void SetLevelMask(uint32 mask);

	// The process logger's listener (for callers that deliver bags themselves).
	VLog4jLogListener& GetLogListener() { return fListener; }

	// "<name>_<number>.txt".
	static void BuildLogFileName(const VString& name, int32 number, VString& out);
	// The two steps of a line: "source[.SIGN]" and "[error] message (extras)", with the level.
	static void GetLogInfosFromBag(const VValueBag* bag, VString& source, int32& level, VString& message);
	// "DUMP" to "FATAL" for 0 to 7; "INFO" for any other level.
	static const char* GetMessageLevelName(int32 level);

private:
	mutable VCriticalSection fLock;
	VTime fStartTime;
	VFolder* fFolder;
	VString fName;
	VSplitableLogFile* fFile = nullptr;
	bool fPaused = false;
	uint32 fLevelMask = 0xF0;
	VLog4jLogListener fListener;
};

}  // namespace velk
