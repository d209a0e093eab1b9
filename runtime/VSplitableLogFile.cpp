#include "runtime/VSplitableLogFile.h"

#include <cerrno>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/mac/XMacLogFile.h"

namespace velk {

namespace {

// How much is written between two looks at the file's own size.
constexpr long kSizeCheckInterval = 256 * 1024;

}  // namespace

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
	return _Open(overwrite, false);
}

bool VSplitableLogFile::_Open(bool overwrite, bool splitting)
{
	if (fDescriptor >= 0)
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
	int descriptor = -1;
	const time_t now = XMacLogFile::Now();
	const int opened = overwrite && splitting ? XMacLogFile::OpenEmptyingLeftover(path, fOpenedAt, &descriptor)
		: XMacLogFile::Open(path, overwrite, &descriptor);
	if (opened != 0)
		return false;
	fDescriptor = descriptor;
	fOpenedAt = now;
	// The split is decided on the position, which starts at the end of what is there.
	uint64_t size = 0;
	fPosition = XMacLogFile::GetSize(descriptor, &size) == 0 ? long(size) : 0;
	fNextSizeCheck = fPosition + kSizeCheckInterval;
	if (fPending.capacity() < kPendingCapacity)
	{
		try
		{
			fPending.reserve(kPendingCapacity);
		}
		catch (const std::bad_alloc&)
		{
			// Texts are then written one by one.
		}
	}
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
	if (fDescriptor >= 0)
	{
		Close();
		Open(overwrite);
	}
}

void VSplitableLogFile::Close()
{
	if (fDescriptor < 0)
		return;
	if (!fFooter.IsEmpty())
		_Write(fFooter);
	_WritePending();
	XMacLogFile::Close(fDescriptor);
	fDescriptor = -1;
}

void VSplitableLogFile::Flush()
{
	if (fDescriptor >= 0)
		_WritePending();
}

int32 VSplitableLogFile::CheckLogSize()
{
	if (fDescriptor < 0 || fPosition < kSplitPosition)
		return 0;
	Close();
	const int32 old = fNumber;
	fNumber = old + 1;
	if (fMaxLogsToKeep > 0 && old >= fMaxLogsToKeep)
		_DeleteNumber(fNumber - fMaxLogsToKeep);
	// A file of the new number that another logger of the same name began since this one opened its file
	// holds that logger's lines: they stay, and only a leftover older than that is emptied.
	_Open(true, true);
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
	if (fDescriptor < 0)
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
	if (fDescriptor < 0)
		return;
	CheckEndOfLine();
	_Write(text);
}

void VSplitableLogFile::AppendFormattedString(const char* format, ...)
{
	CheckLogSize();
	if (fDescriptor < 0)
		return;
	CheckEndOfLine();
	char small[512];
	va_list arguments;
	va_start(arguments, format);
	va_list again;
	va_copy(again, arguments);
	const int length = std::vsnprintf(small, sizeof(small), format, arguments);
	va_end(arguments);
	if (length >= 0 && size_t(length) < sizeof(small))
	{
		_Put(small, size_t(length));
	}
	else if (length > 0)
	{
		std::string text;
		try
		{
			text.resize(size_t(length) + 1);
		}
		catch (const std::bad_alloc&)
		{
			text.clear();
		}
		if (!text.empty() && std::vsnprintf(text.data(), text.size(), format, again) == length)
			_Put(text.data(), size_t(length));
		else if (fWriteError == 0)
			fWriteError = ENOMEM;
	}
	va_end(again);
}

void VSplitableLogFile::CheckEndOfLine()
{
	if (fJustOpened)
		fJustOpened = false;
	else if (!fLineSeparator.IsEmpty() && fDescriptor >= 0)
		_Write(fLineSeparator);
}

void VSplitableLogFile::_Write(const VString& text)
{
	const char* bytes = fConverter.ConvertString(text);
	_Put(bytes, fConverter.GetSize());
}

void VSplitableLogFile::_Put(const char* bytes, size_t length)
{
	if (fPending.capacity() - fPending.size() < length)
	{
		_WritePending();
		if (fPending.capacity() < length)
		{
			_WriteOut(bytes, length);
			return;
		}
	}
	fPending.append(bytes, length);
	fPosition += long(length);
}

void VSplitableLogFile::_WritePending()
{
	if (fPending.empty())
		return;
	// Counted again once written.
	fPosition -= long(fPending.size());
	_WriteOut(fPending.data(), fPending.size());
	fPending.clear();
}

void VSplitableLogFile::_WriteOut(const char* bytes, size_t length)
{
	if (const int error = XMacLogFile::Append(fDescriptor, bytes, length))
	{
		if (fWriteError == 0)
			fWriteError = error;
		return;
	}
	fPosition += long(length);
	if (fPosition < fNextSizeCheck)
		return;
	// Other writers of the file may have made it longer than what this one wrote.
	uint64_t size = 0;
	if (XMacLogFile::GetSize(fDescriptor, &size) == 0 && size > uint64_t(fPosition))
		fPosition = long(size);
	fNextSizeCheck = fPosition + kSizeCheckInterval;
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
