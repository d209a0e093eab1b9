#include "runtime/VSplitableLogFile.h"

#include <cerrno>

#include <algorithm>
#include <cstdarg>
#include <string>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

const int32 VSplitableLogFile::sDefaultMaxLogsToKeep = 50;

VSplitableLogFile::VSplitableLogFile(VFolder* folder, const VString& name, int32 number, bool binary)
: fFolder(folder), fName(name), fNumber(number), fMaxLogsToKeep(sDefaultMaxLogsToKeep), fCharSet(kCharSet_UTF8),
  fBinary(binary), fConverter(kCharSet_UTF8, eCRM_NONE)
{
	if (fFolder != nullptr)
		fFolder->Retain();
}

VSplitableLogFile::~VSplitableLogFile()
{
	Close();
	if (fFolder != nullptr)
		fFolder->Release();
}

bool VSplitableLogFile::Open(bool overwrite, bool)
{
	if (fFile != nullptr)
		return true;
	if (fFolder == nullptr)
		return false;
	std::string path;
	{
		// The log is no place for the errors of its own making.
		StErrorContextInstaller scope(false, true);
		VString fileName;
		GetCurrentFileName(fileName);
		VRefPtr<VFile> file(fFolder->RetainRelativeFile(fileName, FPS_POSIX), true);
		if (file)
			path = to_string(file->_GetPosixPath());
	}
	if (path.empty())
		return false;
	// 'e': close-on-exec, so that child processes never inherit the log.
	const char* mode = overwrite ? (fBinary ? "wbe" : "we") : (fBinary ? "abe" : "ae");
	fFile = std::fopen(path.c_str(), mode);
	if (fFile == nullptr)
		return false;
	// The split is decided on the position: in append mode it starts at the end of what is there.
	fPosition = 0;
	if (!overwrite && std::fseek(fFile, 0, SEEK_END) == 0)
		fPosition = std::max(std::ftell(fFile), 0L);
	if (!fHeader.IsEmpty())
		_Write(fHeader);
	fJustOpened = true;
	return true;
}

bool VSplitableLogFile::Open(int32 number, bool overwrite)
{
	fNumber = number;
	return Open(overwrite);
}

void VSplitableLogFile::SetLogNumber(int32 number, bool overwrite)
{
	fNumber = number;
	if (fFile != nullptr)
	{
		Close();
		Open(overwrite);
	}
}

void VSplitableLogFile::Close()
{
	if (fFile == nullptr)
		return;
	if (!fFooter.IsEmpty())
		_Write(fFooter);
	if (fFile != stdout)
		std::fclose(fFile);
	fFile = nullptr;
}

void VSplitableLogFile::Flush()
{
	if (fFile != nullptr && std::fflush(fFile) != 0 && fWriteError == 0)
		fWriteError = errno != 0 ? errno : EIO;
}

int32 VSplitableLogFile::CheckLogSize()
{
	if (fFile == nullptr || fPosition < kSplitPosition)
		return 0;
	Close();
	const int32 old = fNumber;
	fNumber = old + 1;
	if (fMaxLogsToKeep > 0 && old >= fMaxLogsToKeep)
		_DeleteNumber(fNumber - fMaxLogsToKeep);
	Open(true);
	return fNumber;
}

void VSplitableLogFile::_DeleteNumber(int32 number)
{
	// A file that cannot go stays behind: the log goes on.
	StErrorContextInstaller scope(false, true);
	VString fileName;
	BuildLogFileNameWithExt(fName, number, fExtension, fileName);
	VRefPtr<VFile> file(fFolder->RetainRelativeFile(fileName, FPS_POSIX), true);
	if (file && file->Exists())
		file->Delete();
}

void VSplitableLogFile::AppendString(const char* text, size_t length)
{
	CheckLogSize();
	if (fFile == nullptr)
		return;
	CheckEndOfLine();
	_Put(text, length);
}

void VSplitableLogFile::AppendString(const char* text)
{
	AppendString(text, std::char_traits<char>::length(text));
}

void VSplitableLogFile::AppendString(const VString& text)
{
	CheckLogSize();
	if (fFile == nullptr)
		return;
	CheckEndOfLine();
	_Write(text);
}

void VSplitableLogFile::AppendFormattedString(const char* format, ...)
{
	CheckLogSize();
	if (fFile == nullptr)
		return;
	CheckEndOfLine();
	va_list arguments;
	va_start(arguments, format);
	const int written = std::vfprintf(fFile, format, arguments);
	va_end(arguments);
	if (written > 0)
		fPosition += written;
}

void VSplitableLogFile::CheckEndOfLine()
{
	if (fJustOpened)
		fJustOpened = false;
	else if (!fLineSeparator.IsEmpty() && fFile != nullptr)
		_Write(fLineSeparator);
}

void VSplitableLogFile::_Write(const VString& text)
{
	const char* bytes = fConverter.ConvertString(text);
	_Put(bytes, fConverter.GetSize());
}

void VSplitableLogFile::_Put(const char* bytes, size_t length)
{
	errno = 0;
	const size_t written = std::fwrite(bytes, 1, length, fFile);
	fPosition += long(written);
	if (written != length && fWriteError == 0)
		fWriteError = errno != 0 ? errno : EIO;
}

void VSplitableLogFile::GetCurrentFileName(VString& out) const
{
	BuildLogFileNameWithExt(fName, fNumber, fExtension, out);
}

void VSplitableLogFile::GetFolderPath(VFilePath& out) const
{
	if (fFolder != nullptr)
		out = fFolder->GetPath();
	else
		out.Clear();
}

void VSplitableLogFile::BuildLogFileName(const VString& name, int32 number, VString& out)
{
	BuildLogFileNameWithExt(name, number, VString::sEmpty, out);
}

void VSplitableLogFile::BuildLogFileNameWithExt(const VString& name, int32 number, const VString& extension, VString& out)
{
	out = name;
	out.AppendUniChar(u'_');
	out.AppendLong(number);
	if (extension.IsEmpty())
		out.AppendCString(".txt");
	else
		out.AppendUniChars(extension.GetCPointer(), extension.GetLength());
}

}  // namespace velk
