// The platform half of VFile: the system calls behind a file's existence, times, content and opening.
// Answers native codes ('POSX' with the errno) and pushes nothing; VFile turns them into file errors.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "files/IFile.h"
#include "runtime/VError.h"

namespace velk {

class VFile;
class VString;
class VTime;
class XMacFileDesc;
template <uint64 kGranularity, uint64 kGrowthDivisor, uint64 kMaxGrowth>
class VMemoryBuffer;

class VELK_API XMacFile
{
public:
	explicit XMacFile(const VFile& owner) : fOwner(owner) {}
	XMacFile(const XMacFile&) = delete;
	XMacFile& operator=(const XMacFile&) = delete;

	bool Exists() const;
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;
	// velk 100 when the buffer cannot hold the content; the buffer is then as it was.
	VError GetContent(VMemoryBuffer<1024, 2, 1048576>& content) const;
	VError SetContent(const void* bytes, size_t size) const;

	// Opens the file: *out receives the new open file (null on failure), which the caller deletes to close
	// it. Until the portable open file exists, this is the platform one. FA_READ_WRITE_OR_READ tries
	// FA_READ_WRITE, then FA_READ; the last failure is answered. See _Open for the options.
	VError Open(FileAccess access, uint32 options, XMacFileDesc** out) const;
	// One open attempt; answers 0 and sets *descriptor (close-on-exec), or the errno and sets it to -1.
	// - Without FO_FOLLOW_LINK a final symbolic link is refused (ELOOP); FO_CREATE_IF_NOT_FOUND makes a
	//   missing file with mode 0644 less the umask; FO_RESOURCE_FORK gives ENOTSUP: there are no forks.
	// - FA_READ_WRITE and FA_SHARED take an exclusive or shared advisory lock (flock) without waiting: a
	//   lock held elsewhere gives EACCES and leaves the file untouched. FA_READ takes none.
	// - FO_TRUNCATE empties the file only when it is opened read-write and locked; a read-only open leaves
	//   the content.
	// - FO_READ_AHEAD and FO_NO_CACHE are hints to the system; they cannot fail the open.
	// Any other access (FA_READ_WRITE_OR_READ included) gives EINVAL; no memory for the path text, ENOMEM.
	int _Open(FileAccess access, uint32 options, int* descriptor) const;

	// Shared with the folder's half. isFolder chooses what counts as existing. This platform keeps no
	// creation time: created is made null. On failure every given time is cleared.
	static bool _ExistsAt(const VString& posixPath, bool isFolder);
	static VError _GetTimeAttributesAt(const VString& posixPath, VTime* modified, VTime* created, VTime* accessed);

private:
	const VFile& fOwner;
};

}  // namespace velk
