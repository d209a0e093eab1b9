// The platform half of VFolder: the system calls behind a folder's existence and times. Answers native
// codes and pushes nothing; VFolder turns them into file errors.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VFolder;
class VTime;

class VELK_API XMacFolder
{
public:
	explicit XMacFolder(const VFolder& owner) : fOwner(owner) {}
	XMacFolder(const XMacFolder&) = delete;
	XMacFolder& operator=(const XMacFolder&) = delete;

	bool Exists() const;
	VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;

private:
	const VFolder& fOwner;
};

}  // namespace velk
