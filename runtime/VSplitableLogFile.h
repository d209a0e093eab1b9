// A log written as numbered text files in one folder, "<name>_<number>.txt": a file that has grown past
// 10 MiB is closed before the next append and the next number is opened, and only the newest numbers are
// kept. Several logs (in one process or several) may write one file: each text appended is kept whole in
// memory and goes to the file's end with the others waiting in one write, at a flush, a close, a split or
// once 64 KiB wait, so the texts of different writers never mix. A write that comes 10 ms or more after the
// last look at the file looks first (as do a close, a split and every 64 KiB written): the file's size then
// counts the other writers' lines, and a file removed meanwhile (rotated away by another log of the name, or
// deleted) is left for the highest number there is, where what was written since the last look goes again.
// Not locked: its owner serializes the calls.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "kernel/memory/VObject.h"
#include "kernel/strings/StStringConverter.h"
#include "kernel/strings/VString.h"
#include "runtime/mac/XMacLogFile.h"

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

	// When not open, opens the current number's file for appending at its end, created when missing and
	// emptied first with overwrite. The descriptor is close-on-exec, so that children never inherit the log.
	// Errors raised while the path is made are dropped. Writes the header; answers whether a file is open.
	bool Open(bool overwrite, bool unused = false);
	bool Open(int32 number, bool overwrite);
	// Changes the number; an open file is closed and the new number opened with overwrite.
	void SetLogNumber(int32 number, bool overwrite);
	// Writes the footer and what waits, then closes the file, when open (a file removed since the last look
	// first sends what was written since to the highest number).
	void Close();
	// Writes what waits, in one write.
	void Flush();
	bool IsOpen() const { return fDescriptor >= 0; }
	// The errno of the first write that failed since construction (a full disk), else 0. The texts of a
	// failed write are dropped.
	int GetWriteError() const { return fWriteError; }

	// Splits when the open file has grown past 10 MiB (after a look at it: a removed file is left for the
	// highest number first, which may have room): deletes the file that falls out of the kept numbers (a
	// failed deletion does not stop the split), opens the next number and closes the file it leaves. A file
	// of the next number is emptied only when it is a leftover, last changed before the file being left was
	// made; one changed since holds the lines of another log of the name and keeps them, this one's
	// following. The logs leaving one file take its lock (XMacLogFile::Lock) for the choice and the opening,
	// so that none empties what another has just written. Answers the new number after a split, else 0.
	int32 CheckLogSize();
	// CheckLogSize, then, when open, the separator step and the text, which waits for the next write. A
	// text longer than 64 KiB is written at once, after what waits. Write errors are only kept
	// (GetWriteError).
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
	// The highest n of the folder's files named as BuildLogFileNameWithExt names them (decimal digits
	// without a leading zero); 0 when there is none. Errors raised while listing are dropped.
	static int32 FindHighestNumber(VFolder* folder, const VString& name, const VString& extension);

	// The most bytes that wait for a write, with those written since the last look.
	static constexpr size_t kPendingCapacity = 64 * 1024;

private:
	// Open; for a split, only a leftover of the new number is emptied (see CheckLogSize).
	bool _Open(bool overwrite, bool splitting);
	// Opens the current number's file, what waits still waiting. Answers 0, or the errno with nothing open.
	int _OpenDescriptor(bool overwrite, bool splitting);
	// Looks at the open file: its size counts towards the split; a file removed since the last look is closed
	// and the highest number opened (its own again when none is left), where what was written since goes
	// again. What was written is then confirmed.
	void _Look();
	void _Write(const VString& text);
	void _Put(const char* bytes, size_t length);
	// Writes what waits, in one write, after a look when the last is 10 ms old; when the write fails the
	// bytes are dropped and the error kept.
	void _WritePending();
	// Writes what waits, then looks, so that the size and the file looked at are what the disk holds now.
	void _WritePendingAndLook();
	bool _WriteOut(const char* bytes, size_t length);
	void _DeleteNumber(int32 number);

	int fDescriptor = -1;
	// The file's size with what waits: counted here, so that the size test before each append costs no
	// system call, and set from the file's own size at each look, so that the lines of other writers of the
	// file count towards its split too.
	long fPosition = 0;
	// [0, fWritten): written since the last look, kept to be written again should that look find the file
	// removed; [fWritten, size): whole texts waiting.
	std::string fPending;
	size_t fWritten = 0;
	int fWriteError = 0;
	uint64_t fLookedAt = 0;  // XMacLogFile::NowMilliseconds
	// The open file as its opening found it: its birth decides what the next split may empty.
	XMacLogFile::Status fOpened;
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
	// Text and binary logs are the same bytes on this system.
	bool fBinary;
	// Kept from one text to the next, so that converting a line needs no new buffer.
	StStringConverter<char> fConverter;
};

}  // namespace velk
