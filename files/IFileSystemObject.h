// What files and folders have in common: a reference-counted object naming a place on disk, and the styles
// in which its path is written as text.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"

namespace velk {

// How a path is written. On this platform the native style is the POSIX one.
enum FilePathStyle : int32
{
	FPS_SYSTEM = 0,
	FPS_POSIX = 1
};

class VELK_API IFileSystemObject : public IRefCountable
{
};

}  // namespace velk
