// One copy of a folder tree made item by item, as VFolder::CopyTo and CopyContentsTo make it: sub-folders one
// by one (each tried whole natively first when the copy replaces), then the files, links and special entries.
// The source is walked relative to the folders the copy opened, never through a link: a folder swapped for a
// link after it was listed is copied as that link. The copy writes into the destination folders it opened
// and checked. Before anything is written, every folder of the source is known by its identity (device and
// inode): a copy that would write into one of them, its destination being one (a bind mount of it too) or
// lying in one, is refused with velk 660, whatever the options; a replacing copy whose target holds a mount
// is refused before anything is touched (velk 660 when the mount leads to the source, else 'POSX' EBUSY on
// the mount's path). Errors are pushed on the task as the VFolder operations push them.
#pragma once

#include <set>
#include <string>
#include <utility>

#include "files/VFilePath.h"
#include "files/mac/XMacFolder.h"
#include "files/mac/XMacOpenFolder.h"
#include "runtime/VError.h"

namespace velk {

class VFileSystem;
class VFolder;

class VFolderTreeCopy
{
public:
	// options: the eFCOPY_ bits of VFolder::CopyTo.
	explicit VFolderTreeCopy(uint32 options);
	VFolderTreeCopy(const VFolderTreeCopy&) = delete;
	VFolderTreeCopy& operator=(const VFolderTreeCopy&) = delete;

	// VFolder::CopyTo of source into destination as target, destination's sub-folder; the paths were
	// checked (velk 660) by the caller.
	VError CopyFolder(const VFolder& source, const VFolder& destination, const VFolder& target);
	// VFolder::CopyContentsTo of source into destination, made when missing.
	VError CopyContents(const VFolder& source, const VFolder& destination);

private:
	// A folder of the walk: its path, its POSIX path (without a final '/') and the folder held open.
	struct Place
	{
		VFilePath fPath;
		std::string fPosix;
		XMacOpenFolder fOpen;
	};

	VError _OpenSource(const VFolder& source, Place& from);
	VError _RefuseWritesIntoSource(const Place& from, const VFilePath& destination, const VFilePath& written);
	VError _RefuseMountsInTarget(const Place& from, const VFilePath& destination, const VFilePath& target);
	void _CollectSourceFolders(const XMacOpenFolder& folder);
	bool _TargetsClash(const XMacOpenFolder& source, const XMacOpenFolder& target);
	bool _IsSourceFolder(const XMacOpenFolder& folder) const;
	VError _RefuseSourceFolder(const Place& from, const Place& into) const;

	VError _CopyFolderInto(Place& from, Place* parent, const std::string& name, const VFilePath& targetPath);
	VError _CopyContentsInto(Place& from, Place* parent, const std::string& name, const VFilePath& targetPath, bool* made = nullptr);
	VError _ReplaceByCopy(Place& from, const VFilePath& destination, const VFilePath& targetPath);
	VError _CopyEntries(Place& from, Place& into);
	VError _CopyEntry(Place& from, const std::string& name, const VString& nativeName, Place& into);

	const uint32 fOptions;
	const bool fGoOn;
	const bool fReplace;
	VFileSystem* fFileSystem = nullptr;  // the destination's, not retained (the caller's folders hold it)
	std::set<std::pair<uint64, uint64>> fSourceFolders;
};

// The error of a walk that removed a tree and stopped: a file error on the entry it stopped at (velk 604
// for a file unless the native code maps, 653 for a folder or a mount), else on folder; pushed, its code
// answered. 0 and toolbox codes come back unchanged.
VError WrapRemovalError(const VFilePath& folder, VError result, const XMacRemovalStop& stop);

}  // namespace velk
