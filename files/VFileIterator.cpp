#include "files/VFileIterator.h"

#include <cerrno>

#include "files/VFile.h"
#include "files/VFolder.h"

namespace velk {

template <class Object, class PlatformIterator>
VFSObjectIterator<Object, PlatformIterator>::VFSObjectIterator(const VFolder* folder, uint32 options)
: fFolder(const_cast<VFolder*>(folder)), fOptions(options)
{
	if (fFolder == nullptr)
	{
		fError = VE_INVALID_PARAMETER;
		return;
	}
	fFolder->Retain();
	fPlatformIterator = PlatformIterator::Create(*fFolder, options);
	if (fPlatformIterator == nullptr)
	{
		fError = MakePosixError(ENOMEM);
		return;
	}
	fOpened = fPlatformIterator->GetFolderIdentity(fIdentity);
	_Fetch();
}

template <class Object, class PlatformIterator>
VFSObjectIterator<Object, PlatformIterator>::~VFSObjectIterator()
{
	if (fCurrent != nullptr)
		fCurrent->Release();
	delete fPlatformIterator;
	if (fFolder != nullptr)
		fFolder->Release();
}

template <class Object, class PlatformIterator>
void VFSObjectIterator<Object, PlatformIterator>::_Fetch()
{
	if (fCurrent != nullptr)
	{
		fCurrent->Release();
		fCurrent = nullptr;
	}
	if (fPlatformIterator == nullptr)
		return;
	fCurrent = fPlatformIterator->Next();
	if (fCurrent != nullptr)
	{
		++fCount;
		return;
	}
	fError = fPlatformIterator->GetError();
	delete fPlatformIterator;
	fPlatformIterator = nullptr;
}

template <class Object, class PlatformIterator>
VFSObjectIterator<Object, PlatformIterator>& VFSObjectIterator<Object, PlatformIterator>::Next()
{
	_Fetch();
	return *this;
}

template <class Object, class PlatformIterator>
VError VFSObjectIterator<Object, PlatformIterator>::GetTime(VTime* modified, VTime* created, VTime* accessed) const
{
	if (fCurrent == nullptr || fPlatformIterator == nullptr)
		return VE_INVALID_PARAMETER;
	return fPlatformIterator->GetTimeAttributes(modified, created, accessed);
}

template <class Object, class PlatformIterator>
VError VFSObjectIterator<Object, PlatformIterator>::GetError() const
{
	if (fError != VE_OK || fPlatformIterator == nullptr)
		return fError;
	return fPlatformIterator->GetError();
}

template <class Object, class PlatformIterator>
bool VFSObjectIterator<Object, PlatformIterator>::GetFolderIdentity(VFolderIdentity& identity) const
{
	identity = fIdentity;
	return fOpened;
}

template class VFSObjectIterator<VFile, IMacFileIterator>;
template class VFSObjectIterator<VFolder, XMacFolderIterator_posix>;

}  // namespace velk
