// Putting the up-to-date bundle in the outdated one's place without ever leaving none: the new one is
// copied beside it first, then the two change places, and the old one is kept aside under a free temporary
// name. Also the updater's copy and search helpers for files and folders.
#pragma once

#include <vector>

#include "files/VFilePath.h"
#include "kernel/VKernelTypes.h"
#include "runtime/VError.h"

namespace velk {

class VBundleSwapJournal;
class VFolder;
class VString;

// The old bundle, retained, under its temporary name (or, should that last rename be refused, hidden beside
// the place); null on failure, errors pushed. The up-to-date bundle is first copied whole into a hidden
// staging folder beside the destination and flushed to the disk; only then are the two swapped, in one step
// where the file system exchanges folders, else by a rename aside followed at once by a rename into the
// place. The staging folder's making and the swap are each tried five times 3000 ms apart (the call blocks
// meanwhile) before 'UPRy' 11, with nothing moved. A failed copy leaves the place untouched and the staging
// folder deleted ('UPRy' 13). With a journal, each step is recorded in it before it changes the disk, and
// the folder is flushed after the swap's renames before the journal says they were made.
VFolder* _SwapApplications(const VFolder& outdated, const VFolder& upToDate, const VFolder& destination,
	VBundleSwapJournal* journal = nullptr);
// 'UPRy' 14 with "path" = the outdated bundle's path, and true, when the two bundles are one folder or the
// up-to-date one lies inside the outdated one. Folders are compared as they are on disk, through any
// symbolic link in either path; two bundles of which one cannot be reached are neither. _SwapApplications
// refuses such bundles with it before anything is touched.
bool ThrowIfSameOrNested(const VFolder& outdated, const VFolder& upToDate);
// Deletes a staging folder of the swap, by force when a plain deletion leaves some of it; a failure is
// logged. True when nothing is left.
bool DeleteStaging(const VFilePath& staging);
// Deletes the folder at path as DeleteStaging does, pushing nothing: on failure reason receives why, with
// what is left. True when nothing is left.
bool DeleteQuietly(const VFilePath& path, VString& reason);
// Puts the old bundle standing at old back at place, where the up-to-date copy or nothing stands: the two
// exchange places in one step where the file system can, the copy then going on to hidden (a free hidden
// name) unless old's name is hidden itself; without exchange, the copy is renamed to hidden
// and the old bundle renamed in, and should that fail the copy goes back. copy receives where the copy
// stands afterwards (invalid when nothing stood at place, or it went back there). Answers the refused
// step's error.
VError PutOldBack(const VFilePath& place, const VFilePath& old, const VFilePath& hidden, VFilePath& copy);
// Moves the old bundle at the path to the Trash, else deletes it by force, which is logged; what is left
// then is logged with the count of its entries. The errors of both attempts stay pushed, also when the
// deletion removed it all. True when nothing is left at the path.
bool DiscardOldBundle(const VFilePath& old);
// Puts the outdated bundle back at its place after the up-to-date one could not start there (its
// executable could not be executed): the two change places, in one step where the file system exchanges
// folders, and the up-to-date one is kept beside it under a free "failed" name (Name_failed0001.app). old
// is where the outdated bundle stands now. With a journal the step is recorded first, so that a kill during
// it is finished by the next run. Logs where each bundle ends; true when the outdated bundle is at its
// place again, else false with the refused rename's error pushed. Earlier failed copies beside the place
// are then deleted: only the newest is kept.
bool _PutBackOutdated(const VFilePath& place, const VFolder& old, VBundleSwapJournal* journal);
// What _PutBackOutdated does once recorded, from wherever the two bundles (known by their inodes in the
// folder) stand among place, aside and failed; it also finishes one that was cut: the outdated bundle ends
// at place and the up-to-date one at failed, and the earlier failed copies of this updater's naming
// (Name_failed0001.app...) beside it are deleted and logged; the caller flushes the folder. True when the
// outdated bundle is at place.
bool RestoreOutdated(const VFilePath& place, const VFilePath& aside, const VFilePath& failed, uint64 oldInode,
	uint64 newInode);
// The folders beside bundle named as _ComputeTempFolderPath names them with suffix ("Sample_old0001.app"),
// folders themselves (not links), newest first: by their last change (a rename changes it), then by name.
std::vector<VFilePath> FindNumberedBeside(const VFilePath& bundle, const VString& suffix);
// Flushes the folder holding entry to the disk, so that what was renamed, made or removed in it is
// durable; a failure is logged (a file system that cannot flush folders passes). True when flushed.
bool FlushFolderOf(const VFilePath& entry);
// path with its folder name (extension kept) followed by "_" + suffix + a four-digit counter from 0001
// (no "_" for an empty suffix): the first candidate free of any entry; false when all 9999 are taken.
bool _ComputeTempFolderPath(const VFilePath& path, VFilePath& out, const VString& suffix);

// Copies the file (VFile::CopyTo options), its destination's folder made first. A folder not made pushes
// its error again with "path"; a failed copy pushes 'UPRy' 8 with "srcPath" and "dstPath". Answers the
// error pushed last, 0 on success.
VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32 options);
// Copies what source holds into destination (made when missing). A missing source pushes velk 650, other
// failures their error again, with "path"; false then.
bool RobustCopyFolderContent(const VFolder& source, const VFolder& destination, uint32 options);
bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32 options);
// out := the first file of the folder (directory order, not recursive) whose extension equals extension
// regardless of case and diacritics. Answers velk 3 for a path that is no folder path (out untouched),
// velk 600 when no file matches (out cleared); pushes nothing.
VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& out);
VError FindFileByExt(const VFilePath& folder, const VString& extension, VFilePath& out);

}  // namespace velk
