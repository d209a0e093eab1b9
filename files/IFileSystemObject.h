// What files and folders have in common: a reference-counted object naming a place on disk, and the styles
// in which its path is written as text.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"

namespace velk {

class VFilePath;
class VString;

// How a path is written. On this platform the native style is the POSIX one.
enum FilePathStyle : int32
{
	FPS_SYSTEM = 0,
	FPS_POSIX = 1
};

class VELK_API IFileSystemObject : public IRefCountable
{
public:
	// The native path of the file or folder.
	virtual VFilePath GetPath() const = 0;

	// The last name of the path, a file's with its extension (VFilePath::GetName).
	void GetName(VString& name) const;
	// The text behind the last '.' of that name; empty when there is none.
	void GetExtension(VString& extension) const;
	// Whether the name ends with "." + extension, case and diacritics ignored; an empty extension matches a
	// name without any '.'.
	bool MatchExtension(const VString& extension) const;
};

}  // namespace velk
