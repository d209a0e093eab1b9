#include "files/mac/XMacFolder.h"

#include "files/VFolder.h"
#include "files/mac/XMacFile.h"

namespace velk {

bool XMacFolder::Exists() const
{
	return XMacFile::_ExistsAt(fOwner._GetPosixPath(), true);
}

VError XMacFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const
{
	return XMacFile::_GetTimeAttributesAt(fOwner._GetPosixPath(), modified, created, accessed);
}

}  // namespace velk
