// A log written as numbered text files in one folder, "<name>_<number>.txt": a file that has grown past
// 10 MiB is closed before the next append and the next number is opened, and only the newest numbers are
// kept. Not locked: its owner serializes the calls.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <cstdio>

#include "kernel/memory/VObject.h"
#include "kernel/strings/StStringConverter.h"
#include "kernel/strings/VString.h"

namespace velk {

class VFilePath;
class VFolder;

class VELK_API VSplitableLogFile : public VObject
{
public:
	// A file is split before an append once its position reaches this: it then holds more than 10 MiB.
	static constexpr long kSplitPosition = 0xA00001;
	// The count of numbered files kept when none is set; 0 or less keeps them all.
	static const int32 sDefaultMaxLogsToKeep;

	// Retains the folder; nothing is opened.
	VSplitableLogFile(VFolder* folder, const VString& name, int32 number, bool binary);
	// Closes the stream (footer written) and releases the folder.
	~VSplitableLogFile() override;

	VSplitableLogFile(const VSplitableLogFile&) = delete;
	VSplitableLogFile& operator=(const VSplitableLogFile&) = delete;

	// When not open, opens the current number's file: for appending unless overwrite, else created or
	// truncated. The stream is close-on-exec, so that children never inherit the log. Errors raised while
	// the path is made are dropped. Writes the header; answers whether a stream is open.
	bool Open(bool overwrite, bool unused = false);
	bool Open(int32 number, bool overwrite);
	// Changes the number; an open file is closed and the new number opened with overwrite.
	void SetLogNumber(int32 number, bool overwrite);
	// Writes the footer and closes the stream, when open.
	void Close();
	void Flush();
	bool IsOpen() const { return fFile != nullptr; }
	// The errno of the first write or flush that failed since construction (a full disk), else 0.
	int GetWriteError() const { return fWriteError; }

	// Splits when the open file has grown past 10 MiB: closes it, deletes the file that falls out of the
	// kept numbers (a failed deletion does not stop the split) and opens the next number, truncating a
	// leftover of that number. Answers the new number after a split, else 0.
	int32 CheckLogSize();
	// CheckLogSize, then, when open, the separator step and the text. Write errors of the stream are
	// ignored.
	void AppendString(const char* text, size_t length);
	void AppendString(const char* text);
	// The text converted with the file's character set (UTF-8).
	void AppendString(const VString& text);
	void AppendFormattedString(const char* format, ...) __attribute__((format(printf, 2, 3)));
	// The separator step: the first text after an open gets none.
	void CheckEndOfLine();

	int32 GetLogNumber() const { return fNumber; }
	int32 GetMaxLogsToKeep() const { return fMaxLogsToKeep; }
	void SetMaxLogsToKeep(int32 count) { fMaxLogsToKeep = count; }
	// Header written after each open, footer before each close, extension in place of ".txt", separator
	// before each text but the first after an open; all empty unless set.
	void SetHeader(const VString& header) { fHeader = header; }
	void SetFooter(const VString& footer) { fFooter = footer; }
	void SetExtension(const VString& extension) { fExtension = extension; }
	void SetLineSeparator(const VString& separator) { fLineSeparator = separator; }

	// The name, "_", the current number and the extension (".txt" when none is set).
	void GetCurrentFileName(VString& out) const;
	void GetFolderPath(VFilePath& out) const;
	static void BuildLogFileName(const VString& name, int32 number, VString& out);
	// An empty extension is ".txt".
	static void BuildLogFileNameWithExt(const VString& name, int32 number, const VString& extension, VString& out);

private:
	void _Write(const VString& text);
	void _Put(const char* bytes, size_t length);
	void _DeleteNumber(int32 number);

	FILE* fFile = nullptr;
	// Where the stream stands: what ftell would answer, counted here so that the size test before each
	// append costs no system call (ftell on a stream opened for appending asks the system every time).
	long fPosition = 0;
	int fWriteError = 0;
	VFolder* fFolder;
	VString fName;
	int32 fNumber;
	int32 fMaxLogsToKeep;
	CharSet fCharSet;
	VString fHeader;
	VString fFooter;
	VString fExtension;
	VString fLineSeparator;
	bool fJustOpened = false;
	bool fBinary;
	// Kept from one text to the next, so that converting a line needs no new buffer.
	StStringConverter<char> fConverter;
};

}  // namespace velk
