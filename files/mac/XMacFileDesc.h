// The platform half of an open file: owns a POSIX descriptor and the current position, and reads and writes
// at a position in bounded chunks. Answers native codes ('POSX' with the errno) and pushes nothing.
// Used by one task at a time; nothing is locked.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "runtime/VError.h"

namespace velk {

class VELK_API XMacFileDesc
{
public:
	// Takes ownership of the descriptor; the position starts at 0.
	explicit XMacFileDesc(int descriptor) : fDescriptor(descriptor) {}
	XMacFileDesc(const XMacFileDesc&) = delete;
	XMacFileDesc& operator=(const XMacFileDesc&) = delete;
	// Closes the descriptor.
	virtual ~XMacFileDesc();

	// The size on disk; 0 on failure.
	VError GetSize(int64* size) const;
	// Cuts or extends (with zeros) the file. A descriptor opened read only gives 'POSX' EINVAL or EBADF.
	VError SetSize(int64 size) const;

	// Reads count bytes at offset, or at the position plus offset when not absolute; a relative read
	// advances the position by the bytes read (the offset itself does not move it). count becomes the bytes read, also after a failure.
	// Fewer than asked (end of file) gives velk 200. Long reads go in chunks, letting other tasks run
	// between them; an interrupted read starts over.
	VError GetData(void* buffer, size_t& count, int64 offset, bool absolute) const;
	// The same for writing; fewer bytes written than asked gives 'POSX' EINVAL.
	VError PutData(const void* buffer, size_t& count, int64 offset, bool absolute) const;

	// The stored position; no system call, never fails.
	VError GetPos(int64* position) const;
	// Moves the position to offset, or by offset when not absolute; no system call. A move past the
	// range of positions gives 'POSX' EINVAL and leaves the position.
	VError SetPos(int64 offset, bool absolute) const;

	// Pushes written data to the disk.
	VError Flush() const;

private:
	int fDescriptor;
	// The position belongs to the open file's state, not to its identity: const users move it.
	mutable int64 fPosition = 0;
};

}  // namespace velk
