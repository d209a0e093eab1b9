#include "runtime/VSplitableLogFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

// The longest a write goes without a look at the file before it: a log that writes seldom looks before each
// write, one that writes often once in many.
constexpr uint64_t kLookIntervalMs = 10;

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
	fPending.clear();
	fWritten = 0;
	if (_OpenDescriptor(overwrite, splitting) != 0)
		return false;
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

int VSplitableLogFile::_OpenDescriptor(bool overwrite, bool splitting)
{
	if (fFolder == nullptr)
		return EINVAL;
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
		return EINVAL;
	int descriptor = -1;
	const int opened = overwrite && splitting ? XMacLogFile::OpenEmptyingLeftover(path, fOpened, &descriptor)
		: XMacLogFile::Open(path, overwrite, &descriptor);
	if (opened != 0)
		return opened;
	fDescriptor = descriptor;
	fLookedAt = XMacLogFile::NowMilliseconds();
	// A file whose birth cannot be known lets no later split empty anything.
	XMacLogFile::Status status;
	fOpened = XMacLogFile::GetStatus(descriptor, &status) == 0 ? status : XMacLogFile::Status();
	// The split is decided on the position, which starts at the end of what is there.
	fPosition = long(fOpened.size) + long(fPending.size() - fWritten);
	return 0;
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
	_WritePendingAndLook();
	if (fDescriptor >= 0)
		XMacLogFile::Close(fDescriptor);
	fDescriptor = -1;
	fPending.clear();
	fWritten = 0;
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
	_WritePendingAndLook();
	if (fDescriptor < 0 || fPosition < kSplitPosition)
		return 0;
	if (!fFooter.IsEmpty())
	{
		_Write(fFooter);
		_WritePending();
	}
	// Held until the file is closed, after the next one is open. A file system without locks lets the split
	// go on unlocked.
	XMacLogFile::Lock(fDescriptor);
	const int leaving = fDescriptor;
	fDescriptor = -1;
	const int32 old = fNumber;
	fNumber = old + 1;
	if (fMaxLogsToKeep > 0 && old >= fMaxLogsToKeep)
		_DeleteNumber(fNumber - fMaxLogsToKeep);
	_Open(true, true);
	XMacLogFile::Close(leaving);
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
		// Room is made once what was written is confirmed.
		_WritePendingAndLook();
		if (fDescriptor < 0)
			return;
		if (fPending.capacity() - fPending.size() < length)
		{
			// Longer than may wait: written at once, just after the look.
			_WriteOut(bytes, length);
			return;
		}
	}
	fPending.append(bytes, length);
	fPosition += long(length);
}

void VSplitableLogFile::_WritePendingAndLook()
{
	_WritePending();
	if (fDescriptor >= 0)
		_Look();
}

void VSplitableLogFile::_WritePending()
{
	if (fWritten == fPending.size())
		return;
	if (XMacLogFile::NowMilliseconds() - fLookedAt >= kLookIntervalMs)
		_Look();
	if (fDescriptor < 0)
		return;
	const size_t waiting = fPending.size() - fWritten;
	// Counted again once written.
	fPosition -= long(waiting);
	if (_WriteOut(fPending.data() + fWritten, waiting))
		fWritten = fPending.size();
	else
		fPending.resize(fWritten);
}

bool VSplitableLogFile::_WriteOut(const char* bytes, size_t length)
{
	if (const int error = XMacLogFile::Append(fDescriptor, bytes, length))
	{
		if (fWriteError == 0)
			fWriteError = error;
		return false;
	}
	fPosition += long(length);
	return true;
}

void VSplitableLogFile::_Look()
{
	fLookedAt = XMacLogFile::NowMilliseconds();
	XMacLogFile::Status status;
	const bool looked = XMacLogFile::GetStatus(fDescriptor, &status) == 0;
	if (looked && status.removed)
	{
		// Rotated away by another log of the name, or deleted: the log goes on in the highest number there is
		// (with no header: this is no new log).
		const int32 highest = FindHighestNumber(fFolder, fName, fExtension);
		XMacLogFile::Close(fDescriptor);
		fDescriptor = -1;
		if (highest > 0)
			fNumber = highest;
		if (const int error = _OpenDescriptor(false, false))
		{
			if (fWriteError == 0)
				fWriteError = error;
			fPending.clear();
			fWritten = 0;
			return;
		}
		if (fWritten > 0)
			_WriteOut(fPending.data(), fWritten);
	}
	else if (looked)
	{
		// Other writers of the file may have made it longer than what this one wrote.
		const long known = long(status.size) + long(fPending.size() - fWritten);
		fPosition = std::max(fPosition, known);
	}
	fPending.erase(0, fWritten);
	fWritten = 0;
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

int32 VSplitableLogFile::FindHighestNumber(VFolder* folder, const VString& name, const VString& extension)
{
	if (folder == nullptr || name.IsEmpty())
		return 0;
	// The highest number, not the first gap: once rotation has deleted the oldest files, numbering starts
	// above a gap, and resuming below it would write into a file the next split truncates.
	StErrorContextInstaller scope(false, true);
	std::vector<VRefPtr<IFile>> files;
	folder->GetElements(&files, nullptr, true);
	const VString suffix = extension.IsEmpty() ? VString(".txt") : extension;
	const int32 prefixLength = name.GetLength() + 1;
	const int32 suffixLength = suffix.GetLength();
	int32 highest = 0;
	VString fileName;
	for (const VRefPtr<IFile>& file : files)
	{
		file->GetName(fileName);
		const int32 length = fileName.GetLength();
		const UniChar* units = fileName.GetCPointer();
		if (length <= prefixLength + suffixLength
			|| std::memcmp(units, name.GetCPointer(), size_t(name.GetLength()) * sizeof(UniChar)) != 0
			|| units[prefixLength - 1] != u'_'
			|| std::memcmp(units + length - suffixLength, suffix.GetCPointer(), size_t(suffixLength) * sizeof(UniChar)) != 0)
			continue;
		// Only the names BuildLogFileNameWithExt makes: decimal digits without a leading zero.
		int64 number = 0;
		bool digits = units[prefixLength] != u'0';
		for (int32 i = prefixLength; digits && i < length - suffixLength; ++i)
		{
			digits = units[i] >= u'0' && units[i] <= u'9';
			number = number * 10 + (units[i] - u'0');
			if (number >= INT32_MAX)
				digits = false;  // a number the split could not go beyond
		}
		if (digits && number > highest)
			highest = int32(number);
	}
	return highest;
}

}  // namespace velk
