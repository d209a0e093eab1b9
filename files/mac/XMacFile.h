// The platform half of VFile: the system calls behind a file's existence, times and content, through the
// platform layer's file operations. Answers native codes ('POSX' with the errno) and pushes nothing;
// VFile turns them into file errors.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "runtime/VError.h"

namespace velk {

class VFile;
class VString;
class VTime;
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

	// Shared with the folder's half. isFolder chooses what counts as existing. This platform keeps no
	// creation time: created is made null. On failure every given time is cleared.
	static bool _ExistsAt(const VString& posixPath, bool isFolder);
	static VError _GetTimeAttributesAt(const VString& posixPath, VTime* modified, VTime* created, VTime* accessed);

private:
	const VFile& fOwner;
};

}  // namespace velk
