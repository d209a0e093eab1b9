// Iterators over a folder's entries, one new VFile or VFolder per entry kept, in directory order (no
// sorting). Option bits: 2 folders, 4 files, 8 names beginning with '.' kept, 16 symbolic links replaced by
// their targets, 64 (kIterateSpecialEntries) FIFOs, sockets and devices given as files. An iterator cannot be
// restarted; a caller that keeps the current object retains it.
#pragma once

#include "kernel/VExport.h"

#include "files/IFileAttributeAccessor.h"
#include "files/mac/XMacFileIterator.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VFile;
class VFolder;
class VTime;

template <class Object, class PlatformIterator>
class VELK_API VFSObjectIterator : public VObject, public IFileAttributeAccessor
{
public:
	// Retains the folder and stands on its first entry kept (count 1), or at the end.
	VFSObjectIterator(const VFolder* folder, uint32 options);
	VFSObjectIterator(const VFSObjectIterator&) = delete;
	VFSObjectIterator& operator=(const VFSObjectIterator&) = delete;
	~VFSObjectIterator() override;

	// The current object, not retained; null at the end.
	Object* Current() const { return fCurrent; }
	Object* operator->() const { return fCurrent; }
	bool IsValid() const { return fCurrent != nullptr; }
	// Moves to the next entry kept; the previous object is released.
	VFSObjectIterator& Next();
	VFSObjectIterator& operator++() { return Next(); }
	// The objects given so far.
	uint32 GetCount() const { return fCount; }
	uint32 GetOptions() const { return fOptions; }

	// Times of the current entry; velk 3 at the end.
	VError GetTime(VTime* modified, VTime* created, VTime* accessed) const override;
	// The first failure met by the iteration (the folder could not be opened or read, a name is not UTF-8,
	// memory is short), 0 when none; an iteration that failed may have given fewer entries than there are.
	// Nothing is pushed: callers decide.
	VError GetError() const;
	// The folder read (links followed); false when it could not be opened.
	bool GetFolderIdentity(VFolderIdentity& identity) const;

private:
	void _Fetch();

	VFolder* fFolder = nullptr;
	Object* fCurrent = nullptr;
	uint32 fCount = 0;
	uint32 fOptions = 0;
	PlatformIterator* fPlatformIterator = nullptr;
	// Kept when the platform iterator is deleted at the end.
	VError fError = VE_OK;
	VFolderIdentity fIdentity;
	bool fOpened = false;
};

// Files only (bit 2 is cleared); links not resolved count as files.
using VFileIterator = VFSObjectIterator<VFile, IMacFileIterator>;
// Sub-folders only (bit 4 is cleared).
using VFolderIterator = VFSObjectIterator<VFolder, XMacFolderIterator_posix>;

extern template class VFSObjectIterator<VFile, IMacFileIterator>;
extern template class VFSObjectIterator<VFolder, XMacFolderIterator_posix>;

}  // namespace velk
