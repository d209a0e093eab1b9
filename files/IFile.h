// A file as the toolbox sees it, whatever stores it: its path, its times, and its whole content read or
// written in one call, as bytes or as text. Reference-counted; what a call retains the caller releases.
#pragma once

#include "kernel/VExport.h"

#include "files/IFileSystemObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class IFolder;
class VFile;
class VFileSystem;
class VFolder;
class VJSONValue;
class VTime;
template <uint64 kGranularity, uint64 kGrowthDivisor, uint64 kMaxGrowth>
class VMemoryBuffer;

// How a file is opened. The locks are advisory: they stop other lockers, not plain readers.
enum FileAccess : int32
{
	FA_READ = 0,
	FA_READ_WRITE = 1,  // with an exclusive lock
	FA_SHARED = 2,  // read-write with a shared lock
	FA_READ_WRITE_OR_READ = 3  // as FA_READ_WRITE, else FA_READ
};

// Option bits of an open.
enum FileOpenOptions : uint32
{
	FO_RESOURCE_FORK = 1,
	FO_CREATE_IF_NOT_FOUND = 2,
	FO_TRUNCATE = 4,
	FO_READ_AHEAD = 8,
	FO_NO_CACHE = 32 | 64,  // either bit
	FO_FOLLOW_LINK = 128  // without it a final symbolic link is not opened
};

class VELK_API IFile : public IFileSystemObject
{
public:
	// The file system confining the file, not retained; null for none.
	virtual VFileSystem* GetFileSystem() const = 0;
	// The path as text in the style; any other style gives an empty text.
	virtual void GetPlatformPath(VString& path, FilePathStyle style) const = 0;
	// The path text that names the file in messages and for reopening it.
	virtual VString GetPathWithFileSystem() const = 0;
	// The folder holding the file, retained; null for a file without one. sandboxed is for file systems
	// that restrict their folders: none does yet.
	virtual IFolder* RetainParentFolder(bool sandboxed) const = 0;
	// Whether a file (not a folder) is at the path, following symbolic links.
	virtual bool Exists() const = 0;
	// The file's name without its extension; empty for a path that names no file.
	virtual void GetNameWithoutExtension(VString& name) const;
	// Each non-null time receives the last modification, creation or access time, in UTC; on failure
	// every given time is cleared and the file error pushed is returned.
	virtual VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const = 0;
	// Replaces the buffer's content with the file's bytes. On failure the file error pushed is returned
	// and the buffer is left as it was.
	virtual VError GetContent(VMemoryBuffer<1024, 2, 1048576>& content) const = 0;
	// Replaces the file's content with the bytes, creating the file and its folders when missing. The file
	// is written whole or not at all: on failure it keeps its former content and the file error pushed is
	// returned.
	virtual VError SetContent(const void* bytes, size_t size) const = 0;
	// Reads at most size bytes from the start; *read (when given) receives the count read.
	virtual VError GetData(void* buffer, size_t size, size_t* read) const = 0;
	// Writes the bytes at the end, creating the file and its folders when missing.
	virtual VError AppendContent(const void* bytes, size_t size) const = 0;
	// Removes the file; a file that does not exist is success.
	virtual VError Delete() const = 0;
	// Whether the file opens for writing; leaves no error behind.
	virtual bool IsWritable() const = 0;
	virtual VError GetSize(int64* size) const = 0;
	// Copies the file to dest's path, or into the folder (*out, when given, receives the copy).
	virtual VError CopyTo(const VFile& dest, uint32 options) const = 0;
	virtual VError CopyTo(const VFolder& dest, VFile** out, uint32 options) const = 0;

	// Reads the whole file as text: a leading byte-order mark decides the character set (and is not part
	// of the text), else charSet is used; line ends are then converted by mode (eCRM_NONE keeps them).
	// On failure the text is cleared and the last error raised meanwhile is returned.
	VError GetContentAsString(VString& text, CharSet charSet, ECarriageReturnMode mode) const;
	// Writes the text as the file's whole content in charSet, line ends converted by mode, behind the
	// set's byte-order mark when withBOM is set and the text is not empty. A set without a converter
	// raises velk 208, and a conversion that fails (velk 300) writes nothing: the file is then left as it
	// was and the last error raised is returned. Units the set cannot hold are the converter's to replace.
	VError SetContentAsString(const VString& text, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const;

	// Reads the whole file as text (GetContentAsString, line ends kept) and parses it as JSON, texts of
	// non-ambiguous dates becoming dates. Answers the first error; after a reading error value is untouched.
	VError GetContentAsJSON(VJSONValue& value, CharSet charSet) const;
	// Writes the value's indented JSON text with SetContentAsString. When the text cannot be made nothing is
	// written. Answers the first error.
	VError SetContentAsJSON(const VJSONValue& value, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const;
	// Copies this file's bytes over dest's content (dest's SetContent). With dest null the file is only
	// read, so that reading errors still come back. Answers the first error.
	VError CopyContentTo(IFile* dest) const;
};

}  // namespace velk
